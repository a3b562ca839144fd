// A harmless program for the launcher to really start: after a moment it leaves the file
// "<its own path>.started" and ends. The moment lets the test see that the launcher did not
// wait for it.

#include <windows.h>

int main()
{
    Sleep(1500);
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 9)
        return 1;
    lstrcatA(self, ".started");
    const HANDLE marker = CreateFileA(self, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(marker);
    return 0;
}

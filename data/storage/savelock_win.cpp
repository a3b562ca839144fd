#include "savelock.h"
#include "systemfile_win.h"

#include <restartmanager.h>

namespace orbelant::savelock {

namespace {

// Windows' locks keep every other handle, ours too, from the bytes they cover: the save
// lock covers one byte far past the end of any workbook, so the file stays readable.
constexpr DWORD LockOffsetHigh = 0x40000000;
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openShared(const QString &path, DWORD access)
{
    return CreateFileW(wide(path), access, ShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

// A file that another program holds open and will not let go (as Excel holds an open
// workbook) can not be replaced: an open for deleting finds that out first.
SystemFile openForLock(const QString &path)
{
    const HANDLE probe = openShared(path, DELETE);
    if (probe == INVALID_HANDLE_VALUE)
        return {};
    CloseHandle(probe);
    return fileOf(openShared(path, GENERIC_READ));
}

Refusal openRefusal(int error)
{
    switch (static_cast<DWORD>(error)) {
    case ERROR_FILE_NOT_FOUND:
        return Refusal::Missing;
    case ERROR_SHARING_VIOLATION:
        return Refusal::InUse;
    default:
        return Refusal::Other;
    }
}

int lockWhole(qintptr file)
{
    OVERLAPPED region = {};
    region.OffsetHigh = LockOffsetHigh;
    const bool locked = LockFileEx(reinterpret_cast<HANDLE>(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region);
    return locked ? 0 : lastSystemError();
}

// Network redirectors and file systems without locks answer that they cannot.
Refusal lockRefusal(int error)
{
    switch (static_cast<DWORD>(error)) {
    case ERROR_LOCK_VIOLATION:
        return Refusal::Held;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return Refusal::NoLocks;
    default:
        return Refusal::Other;
    }
}

// Only our saves lock that far byte.
std::optional<Holder> lockHolder(const SystemFile &)
{
    return std::nullopt;
}

// The Restart Manager names the processes that have a file open: the first of a few.
Holder programUsing(const QString &path)
{
    DWORD session = 0;
    wchar_t key[CCH_RM_SESSION_KEY + 1] = {};
    if (RmStartSession(&session, 0, key) != ERROR_SUCCESS)
        return {};
    Holder holder;
    LPCWSTR files[] = {wide(path)};
    RM_PROCESS_INFO processes[4] = {};
    UINT needed = 0, count = 4;
    DWORD reasons = 0;
    if (RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS
        && RmGetList(session, &needed, &count, processes, &reasons) == ERROR_SUCCESS && count > 0)
        holder = Holder{processes[0].Process.dwProcessId, QString::fromWCharArray(processes[0].strAppName)};
    RmEndSession(session);
    return holder;
}

} // namespace orbelant::savelock

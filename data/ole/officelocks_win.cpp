#include "officelocks.h"

#include <QSysInfo>

#include <windows.h>
#include <tlhelp32.h>
#define SECURITY_WIN32
#include <security.h>

namespace orbelant::officelock {

struct HeldFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

void HeldFileCloser::operator()(HeldFile *file) const
{
    if (file->handle != INVALID_HANDLE_VALUE)
        CloseHandle(file->handle);
    delete file;
}

QString hostName()
{
    return QSysInfo::machineHostName();
}

QString loginName()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetUserNameW(name, &size) ? QString::fromWCharArray(name) : qEnvironmentVariable("USERNAME");
}

QString userName()
{
    wchar_t name[256] = {};
    ULONG size = 256;
    if (GetUserNameExW(NameDisplay, name, &size) && size > 0)
        return QString::fromWCharArray(name);
    return loginName();
}

qint64 processId()
{
    return GetCurrentProcessId();
}

bool libreOfficeRunsHere()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W process = {};
    process.dwSize = sizeof process;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &process); more && !found; more = Process32NextW(snapshot, &process))
        found = QString::fromWCharArray(process.szExeFile).compare(QLatin1String("soffice.bin"), Qt::CaseInsensitive) == 0;
    CloseHandle(snapshot);
    return found;
}

// The holder keeps its lock file open and shares it for reading only, so an open that
// shares nothing fails while it does.
bool isHeld(const QString &path)
{
    const HANDLE probe = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(probe);
    return false;
}

HeldFilePointer createAndHold(const QString &path, const QByteArray &content)
{
    HeldFilePointer held(new HeldFile);
    held->handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (held->handle == INVALID_HANDLE_VALUE)
        return nullptr;
    DWORD written = 0;
    if (!WriteFile(held->handle, content.constData(), static_cast<DWORD>(content.size()), &written, nullptr)
        || written != static_cast<DWORD>(content.size())) {
        held.reset();
        DeleteFileW(reinterpret_cast<const wchar_t *>(path.utf16()));
        return nullptr;
    }
    return held;
}

// Nobody could replace or remove the file while we held it without sharing deletion.
void removeIfOurs(const QString &path, HeldFilePointer held)
{
    if (!held)
        return;
    held.reset();
    DeleteFileW(reinterpret_cast<const wchar_t *>(path.utf16()));
}

} // namespace orbelant::officelock

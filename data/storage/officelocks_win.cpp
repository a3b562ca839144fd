#include "officelocks.h"
#include "systemfile_win.h"

#include <QSysInfo>

#include <tlhelp32.h>
#define SECURITY_WIN32
#include <security.h>

namespace orbelant::officelock {

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
    const SystemFile probe(fileOf(CreateFileW(wide(path), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    return !probe.isOpen() && GetLastError() == ERROR_SHARING_VIOLATION;
}

// Held from its making: no other open may write or remove it while we have it.
SystemFile createAndHold(const QString &path, const QByteArray &content)
{
    SystemFile held(fileOf(CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_HIDDEN, nullptr)));
    DWORD written = 0;
    if (!held.isOpen())
        return {};
    if (!WriteFile(handleOf(held), content.constData(), static_cast<DWORD>(content.size()), &written, nullptr)
        || written != static_cast<DWORD>(content.size())) {
        held.close();
        DeleteFileW(wide(path));
        return {};
    }
    return held;
}

// Nobody could replace or remove the file while we held it without sharing deletion.
void removeIfOurs(const QString &path, SystemFile held)
{
    if (held.isOpen() && held.close() == 0)
        DeleteFileW(wide(path));
}

// Opened sharing nothing, so that only while nobody else has it open; the handle removes
// the very file it opened.
bool removeIfStale(const QString &path, const std::function<bool(QByteArrayView)> &isStale)
{
    const SystemFile file(fileOf(CreateFileW(wide(path), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    QByteArray content(MaxLockFileBytes, Qt::Uninitialized);
    DWORD read = 0;
    if (!file.isOpen() || !ReadFile(handleOf(file), content.data(), static_cast<DWORD>(MaxLockFileBytes), &read, nullptr)
        || !isStale(QByteArrayView(content).first(read)))
        return false;
    FILE_DISPOSITION_INFO dispose = {};
    dispose.DeleteFile = TRUE;
    return SetFileInformationByHandle(handleOf(file), FileDispositionInfo, &dispose, sizeof dispose);
}

} // namespace orbelant::officelock

#pragma once
// The lock files office programs keep beside a document they have open: LibreOffice's
// ".~lock.NAME#" (one line: user name, login, host, time, profile, comma-separated with
// backslash escapes, ended by a semicolon) and Excel's owner file "~$NAME" (the user's
// name, 8-bit after a length byte and UTF-16 after a length word at 54 or 55). While the
// program has a workbook open it keeps a lock of LibreOffice's format itself, so that an
// office program opening the workbook warns its user.

#include "systemfile.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace orbelant {

// One entry of a LibreOffice lock file.
struct LibreOfficeLockEntry {
    QString userName;  // the name the user gave LibreOffice; may be empty
    QString login;
    QString host;
    QString editTime;  // "07.12.2026 10:15"
    QString profile;   // LibreOffice's user profile URL; ours: "orbelant:PID"

    std::optional<qint64> orbelantProcess() const; // the process id when Орбелант wrote it
    QString holder() const;                        // the user name, else the login
};

std::optional<LibreOfficeLockEntry> parseLibreOfficeLock(QByteArrayView bytes);
QByteArray formatLibreOfficeLock(const LibreOfficeLockEntry &entry);
// The user named in an Excel owner file; nullopt when the file is not one.
std::optional<QString> parseExcelOwner(QByteArrayView bytes);

QString libreOfficeLockPath(const QString &workbookPath);
QString excelOwnerPath(const QString &workbookPath);

// Who has the workbook open in another program, in words for a message: "«зендра.xls»
// сейчас открыта в LibreOffice у пользователя «Иван Петров» (файл блокировки
// «.~lock.зендра.xls#»)"; nullopt when no live lock stands beside it. A LibreOffice lock
// of this machine is stale (ignored) when no LibreOffice runs here; Excel's owner files
// are taken as they stand. A lock of Орбелант's own format counts while its process
// holds it, unless that is this process.
std::optional<QString> otherProgramHolding(const QString &workbookPath);

// The lock file the program keeps while a window has a workbook open. Created unless a
// live lock stands there (a stale one of ours is replaced); removed when this object
// goes, if the file is still the one we wrote.
class WorkbookLockFile {
public:
    static std::unique_ptr<WorkbookLockFile> create(const QString &workbookPath);
    ~WorkbookLockFile();
    WorkbookLockFile(const WorkbookLockFile &) = delete;
    WorkbookLockFile &operator=(const WorkbookLockFile &) = delete;

    QString path() const { return m_path; }

private:
    WorkbookLockFile(QString path, SystemFile file) : m_path(std::move(path)), m_file(std::move(file)) {}
    QString m_path;
    SystemFile m_file; // held open, and locked, while the window has the workbook
};

// ---- What differs between platforms (officelocks_linux.cpp, officelocks_win.cpp) ----
namespace officelock {
constexpr qint64 MaxLockFileBytes = 64 * 1024; // what is read of a lock file at the most
QString hostName();
QString loginName();
QString userName();           // the full name, else the login
qint64 processId();
bool libreOfficeRunsHere();
// Whether a process still holds the lock file at `path` that Орбелант wrote.
bool isHeld(const QString &path);
// A new lock file at `path` (none when one exists), held before `content` is written.
SystemFile createAndHold(const QString &path, const QByteArray &content);
// Removes the file if it is still the one `held` created.
void removeIfOurs(const QString &path, SystemFile held);
// Removes the lock file at `path` when nobody holds it and `isStale` says so of its
// content; true when it is gone. Only that very file is removed, while it is locked.
bool removeIfStale(const QString &path, const std::function<bool(QByteArrayView)> &isStale);
} // namespace officelock

} // namespace orbelant

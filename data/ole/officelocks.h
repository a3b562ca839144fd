#pragma once
// The lock files office programs keep beside a document they have open: LibreOffice's
// ".~lock.NAME#" (one line: user name, login, host, time, profile, comma-separated with
// backslash escapes, ended by a semicolon) and Excel's owner file "~$NAME" (the user's
// name, 8-bit after a length byte and UTF-16 after a length word at 54 or 55). While the
// program has a workbook open it keeps a lock of LibreOffice's format itself, so that an
// office program opening the workbook warns its user.

#include <QByteArray>
#include <QString>
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
// сейчас открыл Иван Петров в LibreOffice (файл «.~lock.зендра.xls#»)"; nullopt when no
// live lock stands beside it. A LibreOffice lock of this machine is stale (ignored) when
// no LibreOffice runs here; Excel's owner files are taken as they stand. A lock of
// Орбелант's own format counts only when `programLocksCount`, and never this process's own.
std::optional<QString> otherProgramHolding(const QString &workbookPath, bool programLocksCount);

// The lock file the program keeps while a window has a workbook open. Created unless a
// live lock of another program stands there (a stale one of ours is replaced); removed
// when this object goes, if the file is still the one we wrote.
class WorkbookLockFile {
public:
    static std::unique_ptr<WorkbookLockFile> create(const QString &workbookPath);
    ~WorkbookLockFile();
    WorkbookLockFile(const WorkbookLockFile &) = delete;
    WorkbookLockFile &operator=(const WorkbookLockFile &) = delete;

    QString path() const;

private:
    struct Held;
    explicit WorkbookLockFile(std::unique_ptr<Held> held);
    std::unique_ptr<Held> m_held;
};

// ---- What differs between platforms (officelocks_posix.cpp, officelocks_win.cpp) ----
namespace officelock {
QString hostName();
QString loginName();
QString userName();           // the full name, else the login
qint64 processId();
bool libreOfficeRunsHere();
// Whether a process still holds the lock file at `path` that Орбелант wrote.
bool isHeld(const QString &path);
// A lock file this process created and holds open.
struct HeldFile;
struct HeldFileCloser {
    void operator()(HeldFile *file) const;
};
using HeldFilePointer = std::unique_ptr<HeldFile, HeldFileCloser>;
// Writes a new lock file at `path` (failing when one exists) and holds it open.
HeldFilePointer createAndHold(const QString &path, const QByteArray &content);
// Removes the file if it is still the one `held` created.
void removeIfOurs(const QString &path, HeldFilePointer held);
} // namespace officelock

} // namespace orbelant

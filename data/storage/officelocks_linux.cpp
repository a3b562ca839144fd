#include "officelocks.h"
#include "systemfile_posix.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace orbelant::officelock {

namespace {

const passwd *account()
{
    return ::getpwuid(::geteuid());
}

} // namespace

QString hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return QString::fromLocal8Bit(name);
}

QString loginName()
{
    if (const passwd *user = account())
        return QString::fromLocal8Bit(user->pw_name);
    return qEnvironmentVariable("USER");
}

QString userName()
{
    if (const passwd *user = account(); user && user->pw_gecos) {
        const QString full = QString::fromLocal8Bit(user->pw_gecos).section(u',', 0, 0).trimmed();
        if (!full.isEmpty())
            return full;
    }
    return loginName();
}

qint64 processId()
{
    return ::getpid();
}

// LibreOffice's own process is soffice.bin (the soffice script starts it).
bool libreOfficeRunsHere()
{
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &process : processes) {
        QFile name(QStringLiteral("/proc/%1/comm").arg(process));
        if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed() == "soffice.bin")
            return true;
    }
    return false;
}

bool isHeld(const QString &path)
{
    const SystemFile file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    struct flock probe = {}; // the whole file: from its start, to its end however long
    probe.l_type = F_WRLCK;
    return file.isOpen() && ::fcntl(descriptorOf(file), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

// Locked before anything is written: a lock file with content is held, or stale.
SystemFile createAndHold(const QString &path, const QByteArray &content)
{
    const QByteArray name = QFile::encodeName(path);
    SystemFile held(::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!held.isOpen())
        return {};
    struct flock lock = {}; // the whole file: from its start, to its end however long
    lock.l_type = F_RDLCK;
    if (::fcntl(descriptorOf(held), F_OFD_SETLK, &lock) != 0
        || ::write(descriptorOf(held), content.constData(), static_cast<size_t>(content.size())) != content.size()) {
        ::unlink(name.constData());
        return {};
    }
    return held;
}

void removeIfOurs(const QString &path, SystemFile held)
{
    if (held.isOpen() && isFileAt(held, path))
        ::unlink(QFile::encodeName(path).constData());
}

// The content is read before the lock is taken: a lock file just made, and not yet held
// by its maker, is empty, and is never taken for stale.
bool removeIfStale(const QString &path, const std::function<bool(QByteArrayView)> &isStale)
{
    const QByteArray name = QFile::encodeName(path);
    const SystemFile file(::open(name.constData(), O_RDWR | O_CLOEXEC));
    QFile content;
    if (!file.isOpen() || !content.open(descriptorOf(file), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)
        || !isStale(content.read(MaxLockFileBytes)))
        return false;
    struct flock lock = {}; // the whole file: from its start, to its end however long
    lock.l_type = F_WRLCK;
    return ::fcntl(descriptorOf(file), F_OFD_SETLK, &lock) == 0 && isFileAt(file, path) && ::unlink(name.constData()) == 0;
}

} // namespace orbelant::officelock

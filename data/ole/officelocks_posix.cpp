#include "officelocks.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orbelant::officelock {

namespace {

// An open-file-description lock over the whole file.
struct flock wholeFile(short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

const passwd *account()
{
    return ::getpwuid(::geteuid());
}

} // namespace

struct HeldFile {
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
};

void HeldFileCloser::operator()(HeldFile *file) const
{
    if (file->fd >= 0)
        ::close(file->fd);
    delete file;
}

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
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock probe = wholeFile(F_WRLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

HeldFilePointer createAndHold(const QString &path, const QByteArray &content)
{
    const QByteArray name = QFile::encodeName(path);
    HeldFilePointer held(new HeldFile);
    held->fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (held->fd < 0)
        return nullptr;
    struct flock lock = wholeFile(F_RDLCK);
    struct stat info = {};
    const bool written = ::write(held->fd, content.constData(), static_cast<size_t>(content.size())) == content.size();
    if (!written || ::fcntl(held->fd, F_OFD_SETLK, &lock) != 0 || ::fstat(held->fd, &info) != 0) {
        ::unlink(name.constData());
        return nullptr;
    }
    held->device = info.st_dev;
    held->inode = info.st_ino;
    return held;
}

void removeIfOurs(const QString &path, HeldFilePointer held)
{
    if (!held)
        return;
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) == 0 && info.st_dev == held->device && info.st_ino == held->inode)
        ::unlink(name.constData());
}

} // namespace orbelant::officelock

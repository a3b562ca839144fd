#include "savelock.h"
#include "systemfile_posix.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace orbelant::savelock {

// Opened for writing, as a write lock needs.
SystemFile openForLock(const QString &path)
{
    return SystemFile(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC));
}

Refusal openRefusal(int error)
{
    if (error == ENOENT)
        return Refusal::Missing;
    return error == EACCES || error == EPERM || error == EROFS ? Refusal::WriteProtected : Refusal::Other;
}

// An open-file-description lock: of this open file, not of the process, so that two
// saves in one process exclude each other too.
int lockWhole(qintptr file)
{
    struct flock lock = {}; // the whole file: from its start, to its end however long
    lock.l_type = F_WRLCK;
    return ::fcntl(static_cast<int>(file), F_OFD_SETLK, &lock) == 0 ? 0 : errno;
}

// NFS without its lock daemon, some FUSE and network file systems have no locks.
Refusal lockRefusal(int error)
{
    switch (error) {
    case EAGAIN:
    case EACCES:
    case EINTR:
        return Refusal::Held;
    case ENOLCK:
    case EOPNOTSUPP:
    case ENOSYS:
    case EINVAL:
        return Refusal::NoLocks;
    default:
        return Refusal::Other;
    }
}

// Our saves take open-file-description locks, which the system shows without a process
// (-1); a classic POSIX lock shows the process that took it (0 when it lives in another
// process namespace), and /proc its name.
std::optional<Holder> lockHolder(const SystemFile &file)
{
    struct flock lock = {}; // the whole file: from its start, to its end however long
    lock.l_type = F_WRLCK;
    if (::fcntl(descriptorOf(file), F_OFD_GETLK, &lock) != 0 || lock.l_type == F_UNLCK || lock.l_pid < 0)
        return std::nullopt;
    QFile name(QStringLiteral("/proc/%1/comm").arg(lock.l_pid)); // none for 0
    const bool named = name.open(QIODevice::ReadOnly);
    return Holder{lock.l_pid, named ? QString::fromLocal8Bit(name.readAll().trimmed()) : QString()};
}

// A file held open keeps no other process from opening it here.
Holder programUsing(const QString &)
{
    return {};
}

} // namespace orbelant::savelock

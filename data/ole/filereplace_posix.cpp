#include "filereplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <utility>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orbelant {

namespace {

// New files of our own naming: ".зендра.xls.orbelant-XXXXXX" beside the workbook.
QString temporaryPrefix(const QFileInfo &target)
{
    return QStringLiteral(".%1.orbelant-").arg(target.fileName());
}
constexpr int TemporarySuffixLength = 6;

QString displayNameOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

// A symbolic link is written through: the file it points at is the one replaced.
QString resolvedPath(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd;
};

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool writeAll(int fd, QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        done += written;
    }
    return true;
}

// Temporary files of our own naming that an interrupted save left beside `target`. Only
// names exactly of our pattern are taken, never another program's files.
void removeLeftovers(const QFileInfo &target)
{
    const QString prefix = temporaryPrefix(target);
    const QDir folder = target.absoluteDir();
    const QStringList names = folder.entryList({prefix + QStringLiteral("*")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names)
        if (name.size() == prefix.size() + TemporarySuffixLength)
            QFile::remove(folder.filePath(name));
}

} // namespace

QString systemErrorReason(int code)
{
    switch (code) {
    case EISDIR:
        return QStringLiteral("на месте файла находится папка");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав на запись");
    case EROFS:
        return QStringLiteral("диск доступен только для чтения");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("на диске нет места");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("папка не найдена");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("файл занят другой программой");
    case EFBIG:
        return QStringLiteral("файл слишком велик");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода на диске");
    case ENAMETOOLONG:
        return QStringLiteral("слишком длинное имя файла");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("открыто слишком много файлов");
    default:
        return {};
    }
}

namespace {

// The reason for the failure that just happened, with the words of the system when it
// has none of its own here.
QString lastReason()
{
    const int code = errno;
    const QString reason = systemErrorReason(code);
    return reason.isEmpty() ? QString::fromLocal8Bit(std::strerror(code)) : reason;
}

} // namespace

// ---- The save lock --------------------------------------------------------------------

struct SaveLock::Held {
    FileDescriptor fd;
};

SaveLock::SaveLock(std::unique_ptr<Held> held) : m_held(std::move(held)) {}
SaveLock::SaveLock(SaveLock &&) noexcept = default;
SaveLock &SaveLock::operator=(SaveLock &&) noexcept = default;
SaveLock::~SaveLock() = default; // closing the descriptor releases its lock

// An open-file-description lock on the workbook itself, taken on a descriptor opened for
// writing. A save that replaced the file meanwhile leaves us holding the old one: then
// the new file is opened and locked in its turn.
Result<SaveLock> SaveLock::acquire(const QString &path, std::chrono::milliseconds wait)
{
    const QString displayName = displayNameOf(path);
    const QByteArray target = QFile::encodeName(resolvedPath(path));
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (true) {
        FileDescriptor fd(::open(target.constData(), O_RDWR | O_CLOEXEC));
        if (!fd) {
            if (errno == ENOENT)
                return fail(ErrorCode::FileMissing, displayName);
            if (errno == EACCES || errno == EPERM || errno == EROFS)
                return fail(ErrorCode::ReadOnly, displayName);
            return writeFailed(displayName, lastReason());
        }
        struct flock whole = {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        while (::fcntl(fd.get(), F_OFD_SETLK, &whole) != 0) {
            if (errno != EAGAIN && errno != EACCES && errno != EINTR)
                return writeFailed(displayName, lastReason());
            if (std::chrono::steady_clock::now() >= deadline)
                return fail(ErrorCode::Busy, displayName);
            QThread::msleep(20);
        }
        struct stat locked = {}, current = {};
        if (::fstat(fd.get(), &locked) != 0)
            return writeFailed(displayName, lastReason());
        if (::stat(target.constData(), &current) == 0 && sameFile(locked, current)) {
            auto held = std::make_unique<Held>();
            held->fd = std::move(fd);
            return SaveLock(std::move(held));
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return fail(ErrorCode::Busy, displayName);
    }
}

// ---- Permission -----------------------------------------------------------------------

Result<void> checkWritable(const QString &path)
{
    const QString displayName = displayNameOf(path);
    const QByteArray target = QFile::encodeName(resolvedPath(path));
    struct stat info = {};
    if (::stat(target.constData(), &info) != 0)
        return errno == ENOENT ? fail(ErrorCode::FileMissing, displayName) : writeFailed(displayName, lastReason());
    if (!S_ISREG(info.st_mode))
        return writeFailed(displayName, QStringLiteral("это не обычный файл"));
    // No write bit for anyone means "keep as it is", also for root, whom access() lets write.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return fail(ErrorCode::ReadOnly, displayName);
    if (::access(target.constData(), W_OK) != 0)
        return errno == EACCES || errno == EPERM ? fail(ErrorCode::ReadOnly, displayName) : writeFailed(displayName, lastReason());
    return {};
}

// ---- Replacing the file ---------------------------------------------------------------

Result<void> replaceFileAtomically(const QString &path, QByteArrayView bytes)
{
    const QString displayName = displayNameOf(path);
    const QFileInfo target(resolvedPath(path));
    const QByteArray targetName = QFile::encodeName(target.absoluteFilePath());
    struct stat old = {};
    const bool existed = ::stat(targetName.constData(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode))
        return writeFailed(displayName, S_ISDIR(old.st_mode) ? systemErrorReason(EISDIR) : QStringLiteral("это не обычный файл"));

    removeLeftovers(target);
    QByteArray temporaryName = QFile::encodeName(target.absoluteDir().filePath(temporaryPrefix(target)))
                               + QByteArray(TemporarySuffixLength, 'X');
    FileDescriptor fd(::mkostemp(temporaryName.data(), O_CLOEXEC));
    if (!fd)
        return writeFailed(displayName, errno == EACCES ? QStringLiteral("нет прав на запись в папку") : lastReason());
    const auto failWith = [&](const QString &reason) {
        ::unlink(temporaryName.constData());
        return writeFailed(displayName, reason);
    };

    if (!writeAll(fd.get(), bytes))
        return failWith(lastReason());
    if (existed) {
        if (::fchmod(fd.get(), old.st_mode & 07777) != 0)
            return failWith(lastReason());
        // The owner can be kept only by root; the group by a member of it. Neither is a
        // reason to refuse the save.
        if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0)
            (void)::fchown(fd.get(), static_cast<uid_t>(-1), old.st_gid);
    }
    if (::fsync(fd.get()) != 0)
        return failWith(lastReason());
    if (::rename(temporaryName.constData(), targetName.constData()) != 0)
        return failWith(lastReason());
    fd = FileDescriptor();

    // The rename itself reaches the disk with the folder's entry.
    const FileDescriptor folder(::open(QFile::encodeName(target.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        (void)::fsync(folder.get());
    return {};
}

} // namespace orbelant

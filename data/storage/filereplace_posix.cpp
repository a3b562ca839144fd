#include "filereplace.h"
#include "systemfile_posix.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orbelant::filereplace {

Target inspect(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    Target target;
    if (::stat(name.constData(), &info) != 0) {
        target.error = errno == ENOENT ? 0 : errno;
        return target;
    }
    target.kind = S_ISREG(info.st_mode) ? Target::Kind::Regular : S_ISDIR(info.st_mode) ? Target::Kind::Folder : Target::Kind::Other;
    target.attributes = info.st_mode & 07777;
    target.owner = info.st_uid;
    target.group = info.st_gid;
    // No write bit for anyone means "keep as it is", also for root, whom access() lets write.
    target.writeProtected = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    if (target.kind == Target::Kind::Regular && !target.writeProtected && ::access(name.constData(), W_OK) != 0) {
        target.writeProtected = errno == EACCES || errno == EPERM;
        target.error = target.writeProtected ? 0 : errno;
    }
    return target;
}

SystemFile createNew(const QString &path)
{
    return SystemFile(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
}

int writeAll(const SystemFile &file, QByteArrayView bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(descriptorOf(file), bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (written < 0 && errno != EINTR)
            return errno;
        if (written == 0)
            return EIO;
        done += std::max<ssize_t>(written, 0);
    }
    return 0;
}

// The owner can be kept only by root; the group by a member of it. Neither is a reason to
// refuse the save.
int takeOver(const SystemFile &file, const Target &old)
{
    if (old.kind != Target::Kind::Regular)
        return 0;
    if (::fchmod(descriptorOf(file), old.attributes) != 0)
        return errno;
    if (::fchown(descriptorOf(file), old.owner, old.group) != 0)
        (void)::fchown(descriptorOf(file), static_cast<uid_t>(-1), old.group);
    return 0;
}

int flushAndClose(SystemFile &file)
{
    if (::fsync(descriptorOf(file)) != 0)
        return errno;
    return file.close();
}

// The rename itself reaches the disk with the folder's entry.
int putInPlace(const QString &newPath, const QString &path, bool)
{
    if (::rename(QFile::encodeName(newPath).constData(), QFile::encodeName(path).constData()) != 0)
        return errno;
    const SystemFile folder(::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.isOpen())
        (void)::fsync(descriptorOf(folder));
    return 0;
}

} // namespace orbelant::filereplace

#include "systemfile.h"
#include "systemfile_posix.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace orbelant {

int SystemFile::close()
{
    const int result = isOpen() ? ::close(static_cast<int>(std::exchange(m_handle, None))) : 0;
    return result == 0 ? 0 : errno;
}

int lastSystemError()
{
    return errno;
}

bool isFileAt(const SystemFile &file, const QString &path)
{
    struct stat opened = {}, current = {};
    return ::fstat(descriptorOf(file), &opened) == 0 && ::stat(QFile::encodeName(path).constData(), &current) == 0
        && opened.st_dev == current.st_dev && opened.st_ino == current.st_ino;
}

std::span<const KnownCause> knownCauses()
{
    using enum SystemCause;
    static const KnownCause causes[] = {
        {EEXIST, Exists}, {EISDIR, Folder}, {EACCES, NoRights}, {EPERM, NoRights}, {EROFS, ReadOnlyDisk},
        {ENOSPC, DiskFull}, {EDQUOT, DiskFull}, {ENOENT, NoFolder}, {ENOTDIR, NoFolder}, {EBUSY, InUse},
        {ETXTBSY, InUse}, {EFBIG, TooBig}, {EIO, DiskFault}, {ENAMETOOLONG, LongName}, {EMFILE, TooManyOpen},
        {ENFILE, TooManyOpen}};
    return causes;
}

} // namespace orbelant

#include "filebytes.h"
#include "systemfile_posix.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orbelant::filebytes {

SystemFile openForReading(const QString &path)
{
    return SystemFile(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
}

qint64 sizeOf(const SystemFile &file)
{
    struct stat info = {};
    return ::fstat(descriptorOf(file), &info) == 0 ? info.st_size : -1;
}

bool readAt(const SystemFile &file, qint64 offset, char *out, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        const ssize_t read = ::pread(descriptorOf(file), out + done, static_cast<size_t>(length - done), offset + done);
        if (read == 0 || (read < 0 && errno != EINTR))
            return false;
        done += std::max<ssize_t>(read, 0);
    }
    return true;
}

} // namespace orbelant::filebytes

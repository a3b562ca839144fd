#include "filebytes.h"
#include "systemfile_win.h"

#include <algorithm>

namespace orbelant::filebytes {

namespace {

constexpr qint64 ReadChunkBytes = qint64(1) << 30;

} // namespace

SystemFile openForReading(const QString &path)
{
    return fileOf(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

qint64 sizeOf(const SystemFile &file)
{
    LARGE_INTEGER size = {};
    return GetFileSizeEx(handleOf(file), &size) ? size.QuadPart : -1;
}

bool readAt(const SystemFile &file, qint64 offset, char *out, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>((offset + done) & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD read = 0;
        if (!ReadFile(handleOf(file), out + done, static_cast<DWORD>(std::min(ReadChunkBytes, length - done)), &read, &at) || read == 0)
            return false;
        done += read;
    }
    return true;
}

} // namespace orbelant::filebytes

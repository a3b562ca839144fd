#include "filereplace.h"
#include "systemfile_win.h"

#include <algorithm>

namespace orbelant::filereplace {

namespace {

constexpr qsizetype WriteChunkBytes = qsizetype(1) << 20;
// What the new file takes over from the old one (read-only files are refused before); it
// is marked as changed since the last backup, as Windows marks every written file.
constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

} // namespace

Target inspect(const QString &path)
{
    Target target;
    const DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        target.error = error == ERROR_FILE_NOT_FOUND ? 0 : static_cast<int>(error);
        return target;
    }
    target.kind = attributes & FILE_ATTRIBUTE_DIRECTORY ? Target::Kind::Folder
                : attributes & FILE_ATTRIBUTE_DEVICE    ? Target::Kind::Other
                                                        : Target::Kind::Regular;
    target.writeProtected = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    target.attributes = attributes;
    return target;
}

// Hidden while it is ours.
SystemFile createNew(const QString &path)
{
    return fileOf(CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
}

int writeAll(const SystemFile &file, QByteArrayView bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const auto chunk = static_cast<DWORD>(std::min(WriteChunkBytes, bytes.size() - done));
        DWORD written = 0;
        if (!WriteFile(handleOf(file), bytes.data() + done, chunk, &written, nullptr))
            return lastSystemError();
        if (written == 0)
            return ERROR_DISK_FULL;
        done += written;
    }
    return 0;
}

int takeOver(const SystemFile &file, const Target &old)
{
    FILE_BASIC_INFO info = {}; // times left as they are
    info.FileAttributes = (old.kind == Target::Kind::Regular ? old.attributes & KeptAttributes : 0) | FILE_ATTRIBUTE_ARCHIVE;
    return SetFileInformationByHandle(handleOf(file), FileBasicInfo, &info, sizeof info) ? 0 : lastSystemError();
}

int flushAndClose(SystemFile &file)
{
    if (!FlushFileBuffers(handleOf(file)))
        return lastSystemError();
    return file.close();
}

// ReplaceFileW keeps the old file's identity (creation time, security, short name); when
// there is no old file, a plain move that reaches the disk before it returns. When
// ReplaceFileW has moved the old file away but could not rename the new one, the move
// finishes the job.
int putInPlace(const QString &newPath, const QString &path, bool replacing)
{
    const auto move = [&] { return MoveFileExW(wide(newPath), wide(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH); };
    if (!replacing)
        return move() ? 0 : lastSystemError();
    if (ReplaceFileW(wide(path), wide(newPath), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                     nullptr, nullptr))
        return 0;
    const int error = lastSystemError();
    return error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && move() ? 0 : error;
}

} // namespace orbelant::filereplace

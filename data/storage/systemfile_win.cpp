#include "systemfile_win.h"

namespace orbelant {

int SystemFile::close()
{
    if (!isOpen())
        return 0;
    return CloseHandle(reinterpret_cast<HANDLE>(std::exchange(m_handle, None))) ? 0 : lastSystemError();
}

int lastSystemError()
{
    return static_cast<int>(GetLastError());
}

bool isFileAt(const SystemFile &file, const QString &path)
{
    const SystemFile current = fileOf(CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION opened = {}, now = {};
    return current.isOpen() && GetFileInformationByHandle(handleOf(file), &opened) && GetFileInformationByHandle(handleOf(current), &now)
        && opened.dwVolumeSerialNumber == now.dwVolumeSerialNumber && opened.nFileIndexHigh == now.nFileIndexHigh
        && opened.nFileIndexLow == now.nFileIndexLow;
}

std::span<const KnownCause> knownCauses()
{
    using enum SystemCause;
    static const KnownCause causes[] = {
        {ERROR_FILE_EXISTS, Exists}, {ERROR_ALREADY_EXISTS, Exists}, {ERROR_DISK_FULL, DiskFull},
        {ERROR_HANDLE_DISK_FULL, DiskFull}, {ERROR_ACCESS_DENIED, NoRights}, {ERROR_WRITE_PROTECT, ReadOnlyDisk},
        {ERROR_SHARING_VIOLATION, InUse}, {ERROR_LOCK_VIOLATION, InUse}, {ERROR_USER_MAPPED_FILE, InUse},
        {ERROR_UNABLE_TO_REMOVE_REPLACED, InUse}, {ERROR_UNABLE_TO_MOVE_REPLACEMENT, InUse},
        {ERROR_PATH_NOT_FOUND, NoFolder}, {ERROR_FILENAME_EXCED_RANGE, LongName},
        {ERROR_TOO_MANY_OPEN_FILES, TooManyOpen}};
    return causes;
}

} // namespace orbelant

#pragma once
// What the storage code shares: an open file of ours that closes when it goes, the error
// of the system call that just failed and what it means, and the file a path names.
// systemfile_posix.cpp and systemfile_win.cpp hold the few lines that differ.

#include "systemerror.h"

#include <QString>
#include <QtGlobal>
#include <span>
#include <utility>

namespace orbelant {

// A file descriptor (POSIX) or HANDLE (Windows), closed when this goes.
class SystemFile {
public:
    static constexpr qintptr None = -1; // also Windows' INVALID_HANDLE_VALUE

    SystemFile() = default;
    explicit SystemFile(qintptr handle) : m_handle(handle) {}
    SystemFile(SystemFile &&other) noexcept : m_handle(std::exchange(other.m_handle, None)) {}
    SystemFile &operator=(SystemFile &&other) noexcept
    {
        std::swap(m_handle, other.m_handle);
        return *this;
    }
    SystemFile(const SystemFile &) = delete;
    SystemFile &operator=(const SystemFile &) = delete;
    ~SystemFile() { close(); }

    bool isOpen() const { return m_handle != None; }
    qintptr handle() const { return m_handle; }
    // 0, or the error of a file that could not be closed (what was written may be lost).
    int close();

private:
    qintptr m_handle = None;
};

// Whether `path` names the very file open as `file` (no other has been put in its place).
bool isFileAt(const SystemFile &file, const QString &path);

// What a system error code means, for the words of a message and for what to do next.
enum class SystemCause {
    Unknown, Exists, Folder, NoRights, ReadOnlyDisk, DiskFull, NoFolder, InUse, TooBig, DiskFault, LongName,
    TooManyOpen,
};
SystemCause systemCauseOf(int code);
// "на диске нет места"; empty for a cause without words.
QString wordsFor(SystemCause cause);
// The codes this system gives a cause, one platform's table.
using KnownCause = std::pair<int, SystemCause>;
std::span<const KnownCause> knownCauses();

// The file's name for messages: "зендра.xls".
QString displayNameOf(const QString &path);
// The absolute path in the system's spelling; a symbolic link is followed to its file
// (empty when that file is missing).
QString resolvedPath(const QString &path);

} // namespace orbelant

#pragma once
// Saving a workbook file beside other programs: one save at a time across processes, the
// file replaced in one step by a new one of our own naming, and every refusal with its
// reason. The implementations are per platform (filereplace_posix.cpp, filereplace_win.cpp).

#include "../error.h"

#include <QByteArrayView>
#include <QString>
#include <chrono>
#include <memory>

namespace orbelant {

// Held by a save from its re-read of the workbook until the new file has replaced it, so
// that two saves (of this program, of the workbook tool, in any processes) never overlap.
class SaveLock {
public:
    // Waits up to `wait` for the lock on the workbook at `path`; Busy when another save
    // held it all that time.
    static Result<SaveLock> acquire(const QString &path, std::chrono::milliseconds wait);

    SaveLock(SaveLock &&) noexcept;
    SaveLock &operator=(SaveLock &&) noexcept;
    ~SaveLock(); // released here

private:
    struct Held;
    explicit SaveLock(std::unique_ptr<Held> held);
    std::unique_ptr<Held> m_held;
};

// ReadOnly when the file has no write permission (whoever runs the program, root too) or
// this process may not write it; FileMissing when it is not there.
Result<void> checkWritable(const QString &path);

// Writes `bytes` to a new file of our own naming in the same folder, flushes it to disk,
// gives it the old file's permissions (and its owner and group where allowed) and
// replaces `path` with it in one step; a symbolic link stays a link to the new file.
// Leftovers of our own earlier, interrupted saves of this file are removed first. On any
// failure the old file is left untouched and the error says why.
Result<void> replaceFileAtomically(const QString &path, QByteArrayView bytes);

// The system's error code (errno on POSIX, GetLastError() on Windows) in Russian words,
// such as "на диске нет места"; empty for a code without words of its own.
QString systemErrorReason(int code);

} // namespace orbelant

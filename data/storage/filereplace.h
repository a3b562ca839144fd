#pragma once
// Replacing a workbook file in one step by a new one of our own naming, with a reason for
// every refusal. The steps are shared; filereplace_posix.cpp and filereplace_win.cpp make
// the system calls.

#include "../error.h"
#include "systemfile.h"

#include <QByteArrayView>
#include <QString>

namespace orbelant {

// ReadOnly when the file has no write permission (whoever runs the program, root too) or
// this process may not write it; FileMissing when it is not there.
Result<void> checkWritable(const QString &path);

// Writes `bytes` to a new file of our own naming in the same folder, flushes it to disk,
// gives it the old file's permissions (and its owner and group where allowed) and
// replaces `path` with it in one step; a symbolic link stays a link to the new file.
// Leftovers of our own earlier, interrupted saves of this file are removed first, and no
// other file. On any failure the old file is left untouched and the error says why.
Result<void> replaceFileAtomically(const QString &path, QByteArrayView bytes);

// Our temporary files beside `target`: ".зендра.xls.orbelant-" and six letters or digits.
QString temporaryName(const QString &target);
bool isTemporaryOf(const QString &name, const QString &target);

// ---- What differs between platforms (filereplace_posix.cpp, filereplace_win.cpp) ----
namespace filereplace {
// The file to be replaced, as the system shows it.
struct Target {
    enum class Kind { Missing, Regular, Folder, Other } kind = Kind::Missing;
    int error = 0;               // why it could not be looked at, or may not be written
    bool writeProtected = false; // no write permission, or a read-only attribute
    quint32 attributes = 0;      // what a new file takes over: its mode, or Windows' attributes
    quint32 owner = 0;
    quint32 group = 0;
};
Target inspect(const QString &path);
// A new file that no other has the name of; an error when it exists (or any other).
SystemFile createNew(const QString &path);
// Each call answers 0 or the system's error code.
int writeAll(const SystemFile &file, QByteArrayView bytes);
int takeOver(const SystemFile &file, const Target &old); // permissions or attributes, owner
int flushAndClose(SystemFile &file);
int putInPlace(const QString &newPath, const QString &path, bool replacing);
} // namespace filereplace

} // namespace orbelant

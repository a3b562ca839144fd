#pragma once
// One error type for the whole workbook engine: a code for callers that branch on it,
// a Russian sentence for the user, and where in the file the fault was found.

#include <QString>
#include <QtGlobal>
#include <expected>

namespace orbelant {

enum class ErrorCode {
    FileMissing,       // no file at that path
    FileUnreadable,    // present, but cannot be opened or read (rights, lock, I/O)
    NotCompoundFile,   // not an OLE2 compound file
    NoWorkbookStream,  // compound file without a Workbook stream
    OldFormat,         // Excel 95 or older (BIFF2–7)
    Encrypted,         // FILEPASS: password-protected workbook
    SheetMissing,      // no sheet of that name
    NotWorksheet,      // the name belongs to a chart or macro sheet
    Damaged,           // a record, length or offset that cannot be right
    DamagedReadOnly,   // readable, but its container is damaged: it is never written
    TooLarge,          // beyond the limits the engine accepts
    BadCriterion,      // a search criterion that does not parse
    UnknownColumn,     // a column name the sheet does not have
    NotANumber,        // text stored into a number column that is not a number
    TextTooLong,       // a cell text over 32,767 characters
    NoSuchRecord,      // a record number outside the sheet
    ChangedOnDisk,     // the row was changed by another program since it was read
    CannotEdit,        // a cell the engine cannot rewrite safely (shared formula, array)
    ReadOnly,          // the workbook file is protected against writing
    LockedByOther,     // an office program (or another of ours) has the workbook open
    Busy,              // another save held the workbook longer than a save waits
    WriteFailed,       // the new file could not be written or put in place
    WriteCheckFailed,  // the rewritten workbook did not read back as written: it is never saved
};

struct Error {
    ErrorCode code;
    QString message;   // complete Russian sentence(s), ready for a message box
    qint64 offset = -1; // byte offset in the Workbook stream, when it is known

    // Builds the message for `code`; `detail` names the file, sheet or fault and is
    // woven into the sentence.
    static Error make(ErrorCode code, const QString &detail = {}, qint64 offset = -1);
};

template <typename T>
using Result = std::expected<T, Error>;

inline std::unexpected<Error> fail(ErrorCode code, const QString &detail = {}, qint64 offset = -1)
{
    return std::unexpected(Error::make(code, detail, offset));
}

// A save that failed, with the reason: "на диске нет места".
inline std::unexpected<Error> writeFailed(const QString &displayName, const QString &reason)
{
    return fail(ErrorCode::WriteFailed, QStringLiteral("«%1»: %2").arg(displayName, reason));
}

} // namespace orbelant

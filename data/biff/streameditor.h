#pragma once
// Rewrites cells of one worksheet inside a BIFF8 Workbook stream and keeps every other
// record as it was, recomputing what the change moves: shared-string counts and EXTSST,
// BOUNDSHEET positions, INDEX and DBCELL offsets, DIMENSIONS and ROW ranges.

#include "workbookglobals.h"

#include <vector>

namespace orbelant::biff {

struct CellWrite {
    enum class Kind { Clear, Number, Text };
    int row = 0;
    int column = 0;
    Kind kind = Kind::Clear;
    double number = 0;
    QString text;
};

// The stream with `writes` applied to the worksheet `sheetIndex` of `globals` (which was
// read from `stream`, and is consumed); `displayName` names the file in refusals.
// Refuses cells that cannot be rewritten safely (part of a shared formula or an array)
// with ErrorCode::CannotEdit, bookkeeping that would not fit its record or field with
// TooLarge, and a new stream that does not read back as written (checkRewrite) with
// WriteCheckFailed.
Result<QByteArray> rewriteCells(QByteArrayView stream, WorkbookGlobals globals, size_t sheetIndex,
                                const std::vector<CellWrite> &writes, const QString &displayName);

} // namespace orbelant::biff

#pragma once
// Storing edited texts back into one record of a sheet.

#include "error.h"
#include "sheettable.h"

#include <vector>

namespace orbelant {

struct CellEdit {
    qsizetype column; // index into SheetTable::columns
    QString text;     // the new text as typed; empty clears the cell
};

// Stores `edits` into record `record` of the sheet `loaded` was read from. The file is
// read again first; if that record's cells differ from `loaded`, nothing is written
// (ErrorCode::ChangedOnDisk). A cell that holds a number, or an empty cell in a column
// whose other values are numbers, takes a number (NotANumber when the text is not one);
// other cells take the text. The file is replaced atomically; on any failure it is left
// byte-identical. Returns the record's cells as now stored.
Result<std::vector<Cell>> storeRecord(const QString &path, const SheetTable &loaded, qsizetype record,
                                      const std::vector<CellEdit> &edits);

} // namespace orbelant

#pragma once
// Storing edited texts back into one record of a sheet.

#include "error.h"
#include "sheettable.h"
#include "storage/savelock.h"

#include <chrono>
#include <vector>

namespace orbelant {

struct CellEdit {
    qsizetype column; // index into SheetTable::columns
    QString text;     // the new text as typed; empty clears the cell
};

// How long a save waits for another save of the same workbook to finish.
constexpr std::chrono::milliseconds SaveLockWait{5000};

// Stores `edits` into record `record` of the sheet `loaded` was read from. A save at a time:
// it holds the workbook's save lock (waiting up to SaveLockWait for another save, passing
// the time with `pause`, else Busy) while it reads the file again and replaces it. If that
// record's cells differ from `loaded` meanwhile, nothing is written (ChangedOnDisk); edits
// of other records of that file are kept. Refused before anything is read: a workbook not
// to be saved (DamagedReadOnly), a file protected against writing (ReadOnly), a workbook
// another program (an office program, another Орбелант) has open or locked
// (LockedByOther). A cell that holds a number, or an empty cell in a column whose other
// values are numbers, takes a number (NotANumber when the text is not one); other cells
// take the text as typed. The file is replaced atomically; on any failure it is left
// byte-identical. Returns the record's cells as now stored.
Result<std::vector<Cell>> storeRecord(const QString &path, const SheetTable &loaded, qsizetype record,
                                      const std::vector<CellEdit> &edits, const SavePause &pause = {});

} // namespace orbelant

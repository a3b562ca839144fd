#pragma once
// The check a rewritten Workbook stream must pass before it may replace the one it was made
// from. The engine's reader reads the new stream back from memory and compares it with the
// old one: the globals record by record (only sheet positions and the shared strings may
// differ, and those are checked against what the reader finds), every other sheet record by
// record (its INDEX positions moved with it), and the edited sheet cell by cell: the edited
// cells hold the new values and their old formats, every other cell is as it was.

#include "streameditor.h"

namespace orbelant::biff {

// `before` was rewritten to `after` by `writes` to the worksheet whose BOF stood at `editedBof`.
// Refuses (WriteCheckFailed) any difference beyond those the writes make.
Result<void> checkRewrite(QByteArrayView before, QByteArrayView after, qint64 editedBof, const std::vector<CellWrite> &writes);

} // namespace orbelant::biff

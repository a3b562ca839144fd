#pragma once
// The records that say where things are: BOUNDSHEET (where each sheet begins), INDEX
// (where each block of rows has its DBCELL) and DBCELL (where each row's cells start).
// An edited sheet gets its INDEX and the DBCELLs of its changed blocks computed anew;
// other sheets' INDEX entries move with their sheet.

#include "recordlist.h"

#include <vector>

namespace orbelant::biff {

// Before layout: gives the INDEX and the changed DBCELL records of the edited sheets
// their new sizes. A sheet whose blocks would outgrow their DBCELL or INDEX record (more
// than 32 rows in a block, more blocks than an INDEX holds) is laid out in Excel's blocks
// of 32 rows; one whose blocks cannot be taken apart is refused (CannotEdit).
Result<void> sizeRowIndexes(RecordList &records, const std::vector<size_t> &editedSheets);

// After layout: fills BOUNDSHEET positions, INDEX entries and DBCELL offsets. Refuses
// (TooLarge) a row whose cells' offset does not fit the 16 bits a DBCELL gives it.
Result<void> fillSheetPositions(RecordList &records, const std::vector<size_t> &editedSheets);

} // namespace orbelant::biff

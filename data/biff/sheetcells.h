#pragma once
// The cells of one worksheet substream, decoded to values.

#include "workbookglobals.h"

#include <functional>

namespace orbelant::biff {

// Position of the BOF of the worksheet `sheetIndex` (an index into globals.sheets):
// lbPlyPos when a worksheet BOF stands there, else the sheet found in substream order.
Result<qint64> locateWorksheet(QByteArrayView stream, const WorkbookGlobals &globals, size_t sheetIndex);

// Calls `visit` for every cell that holds a value (blank cells and empty texts are
// skipped), in stream order, with the position of the record that holds the value: the
// cell record, or for a formula's text result its STRING record. Every record visited is
// checked, so decodeCell() can read it later. Embedded chart substreams are passed over.
using CellVisitor = std::function<void(int row, int column, qint64 position)>;
Result<void> forEachCell(QByteArrayView stream, qint64 bofPosition, const WorkbookGlobals &globals,
                         const CellVisitor &visit);

// The value of the cell in `column` that the record at `position` holds, as found by
// forEachCell() in the same stream with the same globals.
Cell decodeCell(QByteArrayView stream, const WorkbookGlobals &globals, qint64 position, int column);

// The number an RK value stands for.
double decodeRk(quint32 rk);

} // namespace orbelant::biff

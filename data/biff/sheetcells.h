#pragma once
// The cells of one worksheet substream, decoded to values.

#include "workbookglobals.h"

#include <functional>

namespace orbelant::biff {

// Position of the BOF of the worksheet `sheetIndex` (an index into globals.sheets):
// lbPlyPos when a worksheet BOF stands there, else the sheet found in substream order.
Result<qint64> locateWorksheet(QByteArrayView stream, const WorkbookGlobals &globals, size_t sheetIndex);

// Calls `visit` for every cell that holds a value (blank cells are skipped), in stream
// order. Embedded chart substreams are passed over.
using CellVisitor = std::function<void(int row, int column, Cell &&cell)>;
Result<void> forEachCell(QByteArrayView stream, qint64 bofPosition, const WorkbookGlobals &globals,
                         const CellVisitor &visit);

// The number an RK value stands for.
double decodeRk(quint32 rk);

} // namespace orbelant::biff

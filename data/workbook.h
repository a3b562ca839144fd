#pragma once
// Reading one sheet of an Excel 97–2003 workbook as a table.

#include "error.h"
#include "sheettable.h"

#include <QByteArray>
#include <QString>

namespace orbelant {

// The sheet `sheetName` ("Лист1" or "Лист1$", the $ meaning the whole sheet) of the
// workbook at `path`. A workbook whose container is damaged around a whole Workbook
// stream is read, and its table says that it must not be saved (SheetTable::notSaveable).
Result<SheetTable> readSheet(const QString &path, const QString &sheetName);

// The same from a Workbook stream already in memory, which the table keeps;
// `displayName` names it in messages.
Result<SheetTable> readSheetFromStream(QByteArray stream, const QString &sheetName, const QString &displayName);

// The names of the workbook's worksheets, in workbook order.
Result<QStringList> worksheetNames(const QString &path);

} // namespace orbelant

#pragma once
// Reading one sheet of an Excel 97–2003 workbook as a table.

#include "error.h"
#include "sheettable.h"

#include <QByteArrayView>
#include <QString>

namespace orbelant {

// The sheet `sheetName` ("Лист1" or "Лист1$", the $ meaning the whole sheet) of the
// workbook at `path`.
Result<SheetTable> readSheet(const QString &path, const QString &sheetName);

// The same from a Workbook stream already in memory; `displayName` names it in messages.
Result<SheetTable> readSheetFromStream(QByteArrayView stream, const QString &sheetName,
                                       const QString &displayName);

// The names of the workbook's worksheets, in workbook order.
Result<QStringList> worksheetNames(const QString &path);

} // namespace orbelant

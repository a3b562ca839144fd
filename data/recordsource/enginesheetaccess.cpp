#include "sheetaccess.h"

#include "filter/criterion.h"
#include "workbook.h"

namespace orbelant {

Result<SheetTable> EngineSheetAccess::read(const QString &path, const QString &sheetName)
{
    return readSheet(path, sheetName);
}

Result<std::vector<Cell>> EngineSheetAccess::store(const QString &path, const SheetTable &loaded,
                                                   qsizetype record, const std::vector<CellEdit> &edits)
{
    return storeRecord(path, loaded, record, edits);
}

Result<std::optional<qsizetype>> EngineSheetAccess::findFirst(const SheetTable &table, const QString &criterion,
                                                              qsizetype from)
{
    return orbelant::findFirst(table, criterion, from);
}

std::unique_ptr<WorkbookLockFile> EngineSheetAccess::markOpen(const QString &path)
{
    return WorkbookLockFile::create(path);
}

} // namespace orbelant

#pragma once
// The table-access engine as the record source uses it: read a sheet, store one
// record, find a record by criterion. Behind an interface so that the record source can
// be tested without files.

#include "error.h"
#include "storage/officelocks.h"
#include "sheettable.h"
#include "writeback.h"

#include <memory>
#include <optional>
#include <vector>

namespace orbelant {

class SheetAccess {
public:
    virtual ~SheetAccess() = default;
    virtual Result<SheetTable> read(const QString &path, const QString &sheetName) = 0;
    // Returns the record's cells as now stored.
    virtual Result<std::vector<Cell>> store(const QString &path, const SheetTable &loaded, qsizetype record,
                                            const std::vector<CellEdit> &edits) = 0;
    // The first record at or after `from` that meets `criterion`; nullopt when none does.
    virtual Result<std::optional<qsizetype>> findFirst(const SheetTable &table, const QString &criterion,
                                                       qsizetype from) = 0;
    // Tells office programs that the workbook is open here, for as long as the result
    // lives; nothing when that cannot be done.
    virtual std::unique_ptr<WorkbookLockFile> markOpen(const QString &) { return nullptr; }
};

// The workbook engine of data/: readSheet, storeRecord and findFirst.
class EngineSheetAccess final : public SheetAccess {
public:
    Result<SheetTable> read(const QString &path, const QString &sheetName) override;
    Result<std::vector<Cell>> store(const QString &path, const SheetTable &loaded, qsizetype record,
                                    const std::vector<CellEdit> &edits) override;
    Result<std::optional<qsizetype>> findFirst(const SheetTable &table, const QString &criterion,
                                               qsizetype from) override;
    std::unique_ptr<WorkbookLockFile> markOpen(const QString &path) override;
};

} // namespace orbelant

#include "sheetaccess.h"

#include "filter/criterion.h"
#include "workbook.h"

#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

namespace orbelant {

Result<SheetTable> EngineSheetAccess::read(const QString &path, const QString &sheetName)
{
    return readSheet(path, sheetName);
}

Result<std::vector<Cell>> EngineSheetAccess::store(const QString &path, const SheetTable &loaded,
                                                   qsizetype record, const std::vector<CellEdit> &edits)
{
    // While the save waits for another one, the window is painted under a busy cursor; what
    // the user types or clicks meanwhile waits in the queue for the save to end.
    bool busy = false;
    const auto pause = [&busy](std::chrono::milliseconds step) {
        if (!std::exchange(busy, true))
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        QEventLoop loop;
        QTimer::singleShot(step, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    };
    auto stored = storeRecord(path, loaded, record, edits, pause);
    if (busy)
        QGuiApplication::restoreOverrideCursor();
    return stored;
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

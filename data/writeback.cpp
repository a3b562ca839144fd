#include "writeback.h"
#include "biff/sheetcells.h"
#include "biff/streameditor.h"
#include "biff/workbookglobals.h"
#include "numbertext.h"
#include "ole/compounddocument.h"
#include "storage/filereplace.h"
#include "storage/officelocks.h"
#include "storage/savelock.h"

namespace orbelant {

namespace {

// True when the column holds numbers and nothing else (at least one).
bool isNumberColumn(const SheetTable &table, qsizetype column)
{
    bool anyNumber = false;
    for (qsizetype record = 0; record < table.recordCount(); ++record) {
        const Cell &cell = table.cell(record, column);
        if (cell.kind == Cell::Kind::Number)
            anyNumber = true;
        else if (!cell.isEmpty())
            return false;
    }
    return anyNumber;
}

struct PlannedWrite {
    qsizetype column;
    biff::CellWrite write;
    Cell stored;
};

Result<std::vector<PlannedWrite>> planWrites(const SheetTable &table, qsizetype record, const std::vector<CellEdit> &edits)
{
    std::vector<PlannedWrite> plan;
    for (const CellEdit &edit : edits) {
        if (edit.column < 0 || edit.column >= table.columnCount())
            return fail(ErrorCode::UnknownColumn, QString::number(edit.column + 1));
        const QString &columnName = table.columns[edit.column];
        const Cell &current = table.cell(record, edit.column);
        if (cellText(current, table.dates) == edit.text)
            continue; // unchanged: leave the cell exactly as it is
        if (edit.text.size() > biff::MaxCellText)
            return fail(ErrorCode::TextTooLong, columnName);

        PlannedWrite planned{edit.column, {}, {}};
        planned.write.row = table.sheetRow(record);
        planned.write.column = table.firstColumn + static_cast<int>(edit.column);
        const bool wantsNumber = current.kind == Cell::Kind::Number || (current.isEmpty() && isNumberColumn(table, edit.column));
        if (edit.text.trimmed().isEmpty() && (wantsNumber || edit.text.isEmpty())) {
            planned.write.kind = biff::CellWrite::Kind::Clear;
        } else if (wantsNumber) {
            const auto number = parseNumberText(edit.text);
            if (!number)
                return fail(ErrorCode::NotANumber, QStringLiteral("В поле «%1» должно быть число, а введено «%2».").arg(columnName, edit.text));
            planned.write.kind = biff::CellWrite::Kind::Number;
            planned.write.number = *number;
            planned.stored = Cell::makeNumber(*number, current.kind == Cell::Kind::Number && current.isDate);
        } else {
            planned.write.kind = biff::CellWrite::Kind::Text;
            planned.write.text = edit.text;
            planned.stored = Cell::makeText(edit.text);
        }
        plan.push_back(std::move(planned));
    }
    return plan;
}

// Whether the record and the column names on disk are still what `loaded` holds.
Result<bool> unchangedOnDisk(QByteArrayView stream, const biff::WorkbookGlobals &globals, qint64 bof,
                             const SheetTable &loaded, qsizetype record)
{
    const int width = static_cast<int>(loaded.columnCount());
    std::vector<Cell> header(static_cast<size_t>(width)), row(static_cast<size_t>(width));
    const int headerRow = loaded.firstRow;
    const int recordRow = loaded.sheetRow(record);
    bool outsideRange = false;
    auto scanned = biff::forEachCell(stream, bof, globals, [&](int r, int c, qint64 position) {
        const int x = c - loaded.firstColumn;
        if (r != headerRow && r != recordRow)
            return;
        if (x < 0 || x >= width) {
            outsideRange = outsideRange || r == headerRow;
            return;
        }
        (r == headerRow ? header : row)[static_cast<size_t>(x)] = biff::decodeCell(stream, globals, position, c);
    });
    if (!scanned)
        return std::unexpected(scanned.error());
    if (outsideRange)
        return false;
    for (int x = 0; x < width; ++x) {
        const QString name = cellText(header[static_cast<size_t>(x)], globals.dates).trimmed();
        const QString expected = loaded.columns[x];
        if (name != expected && !(name.isEmpty() && expected == QStringLiteral("F%1").arg(x + 1)))
            return false;
        if (row[static_cast<size_t>(x)] != loaded.cell(record, x))
            return false;
    }
    return true;
}

} // namespace

Result<std::vector<Cell>> storeRecord(const QString &path, const SheetTable &loaded, qsizetype record,
                                      const std::vector<CellEdit> &edits, const SavePause &pause)
{
    if (record < 0 || record >= loaded.recordCount())
        return fail(ErrorCode::NoSuchRecord, QString::number(record + 1));
    auto plan = planWrites(loaded, record, edits);
    if (!plan)
        return std::unexpected(plan.error());

    std::vector<Cell> cells;
    for (qsizetype column = 0; column < loaded.columnCount(); ++column)
        cells.push_back(loaded.cell(record, column));
    if (plan->empty())
        return cells;
    if (loaded.notSaveable)
        return std::unexpected(*loaded.notSaveable);
    if (auto writable = checkWritable(path); !writable)
        return std::unexpected(writable.error());
    if (const auto holder = otherProgramHolding(path))
        return fail(ErrorCode::LockedByOther, *holder);
    auto lock = SaveLock::acquire(path, SaveLockWait, pause);
    if (!lock)
        return std::unexpected(lock.error());

    auto document = CompoundDocument::open(path);
    if (!document)
        return std::unexpected(document.error());
    QByteArray stream = document->takeWorkbookStream();
    auto globals = biff::readWorkbookGlobals(stream, document->displayName());
    if (!globals)
        return std::unexpected(globals.error());
    size_t sheetIndex = globals->sheets.size();
    for (size_t i = 0; i < globals->sheets.size(); ++i)
        if (globals->sheets[i].name.compare(loaded.sheetName, Qt::CaseInsensitive) == 0) {
            sheetIndex = i;
            break;
        }
    if (sheetIndex == globals->sheets.size())
        return fail(ErrorCode::ChangedOnDisk, document->displayName());
    const auto bof = biff::locateWorksheet(stream, *globals, sheetIndex);
    if (!bof)
        return std::unexpected(bof.error());
    const auto unchanged = unchangedOnDisk(stream, *globals, *bof, loaded, record);
    if (!unchanged)
        return std::unexpected(unchanged.error());
    if (!*unchanged)
        return fail(ErrorCode::ChangedOnDisk, document->displayName());

    std::vector<biff::CellWrite> writes;
    for (const PlannedWrite &planned : *plan)
        writes.push_back(planned.write);
    const auto rewritten = biff::rewriteCells(stream, std::move(*globals), sheetIndex, writes, document->displayName());
    if (!rewritten)
        return std::unexpected(rewritten.error());
    // The old stream is done with: free it before the new container is built.
    stream = QByteArray();
    if (auto saved = document->saveWithWorkbookStream(path, *rewritten); !saved)
        return std::unexpected(saved.error());

    for (const PlannedWrite &planned : *plan)
        cells[static_cast<size_t>(planned.column)] = planned.stored;
    return cells;
}

} // namespace orbelant

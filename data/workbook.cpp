#include "workbook.h"
#include "biff/sheetcells.h"
#include "biff/workbookglobals.h"
#include "ole/compounddocument.h"

#include <QFile>
#include <QFileInfo>

namespace orbelant {

namespace {

// A sparse sheet could ask for an enormous grid; this is far above any time scale.
constexpr qint64 MaxTableCells = 8'000'000;

QString bareSheetName(const QString &sheetName)
{
    return sheetName.endsWith(u'$') ? sheetName.chopped(1) : sheetName;
}

struct UsedRange {
    int firstRow = biff::MaxRows, lastRow = -1;
    int firstColumn = biff::MaxColumns, lastColumn = -1;

    void include(int row, int column)
    {
        firstRow = std::min(firstRow, row);
        lastRow = std::max(lastRow, row);
        firstColumn = std::min(firstColumn, column);
        lastColumn = std::max(lastColumn, column);
    }
    bool empty() const { return lastRow < 0; }
};

} // namespace

Result<SheetTable> readSheetFromStream(QByteArrayView stream, const QString &sheetName, const QString &displayName)
{
    auto globals = biff::readWorkbookGlobals(stream, displayName);
    if (!globals)
        return std::unexpected(globals.error());

    const QString wanted = bareSheetName(sheetName);
    size_t sheetIndex = globals->sheets.size();
    for (size_t i = 0; i < globals->sheets.size(); ++i) {
        if (globals->sheets[i].name.compare(wanted, Qt::CaseInsensitive) == 0) {
            sheetIndex = i;
            break;
        }
    }
    if (sheetIndex == globals->sheets.size())
        return fail(ErrorCode::SheetMissing, wanted);
    const auto bof = biff::locateWorksheet(stream, *globals, sheetIndex);
    if (!bof)
        return std::unexpected(bof.error());

    // First pass: the used range.
    UsedRange range;
    auto scanned = biff::forEachCell(stream, *bof, *globals, [&](int row, int column, Cell &&) { range.include(row, column); });
    if (!scanned)
        return std::unexpected(scanned.error());

    SheetTable table;
    table.sheetName = globals->sheets[sheetIndex].name;
    table.dates = globals->dates;
    if (range.empty())
        return table;

    const int width = range.lastColumn - range.firstColumn + 1;
    const int height = range.lastRow - range.firstRow + 1;
    if (static_cast<qint64>(width) * height > MaxTableCells)
        return fail(ErrorCode::TooLarge, QStringLiteral("на листе «%1» больше %2 ячеек").arg(table.sheetName).arg(MaxTableCells));

    // Second pass: the values, header row first.
    table.firstRow = range.firstRow;
    table.firstColumn = range.firstColumn;
    std::vector<Cell> header(static_cast<size_t>(width));
    table.cells.resize(static_cast<size_t>(width) * static_cast<size_t>(height - 1));
    auto filled = biff::forEachCell(stream, *bof, *globals, [&](int row, int column, Cell &&cell) {
        const auto x = static_cast<size_t>(column - range.firstColumn);
        if (row == range.firstRow)
            header[x] = std::move(cell);
        else
            table.cells[static_cast<size_t>(row - range.firstRow - 1) * static_cast<size_t>(width) + x] = std::move(cell);
    });
    if (!filled)
        return std::unexpected(filled.error());

    for (int x = 0; x < width; ++x) {
        const QString name = cellText(header[static_cast<size_t>(x)], table.dates).trimmed();
        table.columns.append(name.isEmpty() ? QStringLiteral("F%1").arg(x + 1) : name);
    }
    return table;
}

namespace {

// A bare BIFF2–4 stream is not a compound file but still an old workbook.
bool looksLikeBareOldWorkbook(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(2);
    return head.size() == 2 && (head[0] == 0x09) && (head[1] == 0x00 || head[1] == 0x02 || head[1] == 0x04);
}

Result<CompoundDocument> openDocument(const QString &path)
{
    auto document = CompoundDocument::open(path);
    if (!document && document.error().code == ErrorCode::NotCompoundFile && looksLikeBareOldWorkbook(path))
        return fail(ErrorCode::OldFormat, QFileInfo(path).fileName());
    return document;
}

} // namespace

Result<SheetTable> readSheet(const QString &path, const QString &sheetName)
{
    auto document = openDocument(path);
    if (!document)
        return std::unexpected(document.error());
    return readSheetFromStream(document->workbookStream(), sheetName, document->displayName());
}

Result<QStringList> worksheetNames(const QString &path)
{
    auto document = openDocument(path);
    if (!document)
        return std::unexpected(document.error());
    auto globals = biff::readWorkbookGlobals(document->workbookStream(), document->displayName());
    if (!globals)
        return std::unexpected(globals.error());
    QStringList names;
    for (const auto &sheet : globals->sheets)
        if (sheet.type == 0)
            names.append(sheet.name);
    return names;
}

} // namespace orbelant

#include "workbook.h"
#include "biff/sheetcells.h"
#include "biff/workbookglobals.h"
#include "numbertext.h"
#include "ole/containercheck.h"
#include "ole/workbookstream.h"

#include <QFile>
#include <QFileInfo>

namespace orbelant {

namespace {

// A sparse sheet could ask for an enormous grid; this is far above any time scale.
constexpr qint64 MaxTableCells = 8'000'000;
// Marks a cell without a value in the table of record positions (position 0 is the
// globals' BOF, never a cell).
constexpr quint32 NoValue = 0;

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

// The cells of one sheet, decoded from the Workbook stream when they are asked for: the
// table holds the stream once and, for each cell, where its value stands.
class StreamCells final : public CellSource {
public:
    StreamCells(QByteArray stream, biff::WorkbookGlobals globals, std::vector<quint32> positions, int firstColumn, int width)
        : m_stream(std::move(stream)), m_globals(std::move(globals)), m_positions(std::move(positions))
        , m_firstColumn(firstColumn), m_width(width)
    {
    }

    Cell cell(qsizetype index) const override
    {
        const quint32 position = m_positions[static_cast<size_t>(index)];
        if (position == NoValue)
            return {};
        const int column = m_firstColumn + static_cast<int>(index % m_width);
        return biff::decodeCell(m_stream, m_globals, position, column);
    }

private:
    QByteArray m_stream;            // the globals' strings are views into it
    biff::WorkbookGlobals m_globals;
    std::vector<quint32> m_positions;
    int m_firstColumn;
    int m_width;
};

} // namespace

Result<SheetTable> readSheetFromStream(QByteArray stream, const QString &sheetName, const QString &displayName)
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
    auto scanned = biff::forEachCell(stream, *bof, *globals, [&](int row, int column, qint64) { range.include(row, column); });
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
        return fail(ErrorCode::TooLarge, QStringLiteral("на листе «%1» больше %2 ячеек").arg(table.sheetName, formatCount(MaxTableCells)));

    // Second pass: where each value stands, header row first.
    table.firstRow = range.firstRow;
    table.firstColumn = range.firstColumn;
    std::vector<quint32> header(static_cast<size_t>(width), NoValue);
    std::vector<quint32> positions(static_cast<size_t>(width) * static_cast<size_t>(height - 1), NoValue);
    auto filled = biff::forEachCell(stream, *bof, *globals, [&](int row, int column, qint64 position) {
        const auto x = static_cast<size_t>(column - range.firstColumn);
        const auto at = static_cast<quint32>(position);
        if (row == range.firstRow)
            header[x] = at;
        else
            positions[static_cast<size_t>(row - range.firstRow - 1) * static_cast<size_t>(width) + x] = at;
    });
    if (!filled)
        return std::unexpected(filled.error());

    for (int x = 0; x < width; ++x) {
        const quint32 position = header[static_cast<size_t>(x)];
        const Cell name = position == NoValue ? Cell() : biff::decodeCell(stream, *globals, position, range.firstColumn + x);
        const QString text = cellText(name, table.dates).trimmed();
        table.columns.append(text.isEmpty() ? QStringLiteral("F%1").arg(x + 1) : text);
    }
    table.setCellSource(std::make_shared<StreamCells>(std::move(stream), std::move(*globals), std::move(positions),
                                                      range.firstColumn, width),
                        height - 1);
    return table;
}

namespace {

// A bare BIFF2–4 stream is not a compound file but still an old workbook.
bool looksLikeBareOldWorkbook(const FileBytes &file)
{
    const QByteArray head = file.read(0, 2);
    return head.size() == 2 && (head[0] == 0x09) && (head[1] == 0x00 || head[1] == 0x02 || head[1] == 0x04);
}

struct OpenedStream {
    WorkbookStream stream;
    QString displayName;
};

Result<OpenedStream> openStream(const QString &path)
{
    const QFileInfo info(path);
    const QString displayName = info.fileName().isEmpty() ? path : info.fileName();
    auto file = FileBytes::open(path, displayName, MaxContainerBytes);
    if (!file)
        return std::unexpected(file.error());
    auto stream = readWorkbookStream(*file, displayName);
    if (!stream && stream.error().code == ErrorCode::NotCompoundFile && looksLikeBareOldWorkbook(*file))
        return fail(ErrorCode::OldFormat, displayName);
    if (!stream)
        return std::unexpected(stream.error());
    return OpenedStream{std::move(*stream), displayName};
}

} // namespace

Result<SheetTable> readSheet(const QString &path, const QString &sheetName)
{
    auto opened = openStream(path);
    if (!opened)
        return std::unexpected(opened.error());
    const bool sound = !opened->stream.notRewritable;
    auto table = readSheetFromStream(std::move(opened->stream.bytes), sheetName, opened->displayName);
    if (table && !sound)
        table->notSaveable = Error::make(ErrorCode::DamagedReadOnly, opened->displayName);
    return table;
}

Result<QStringList> worksheetNames(const QString &path)
{
    auto opened = openStream(path);
    if (!opened)
        return std::unexpected(opened.error());
    auto globals = biff::readWorkbookGlobals(opened->stream.bytes, opened->displayName);
    if (!globals)
        return std::unexpected(globals.error());
    QStringList names;
    for (const auto &sheet : globals->sheets)
        if (sheet.type == 0)
            names.append(sheet.name);
    return names;
}

} // namespace orbelant

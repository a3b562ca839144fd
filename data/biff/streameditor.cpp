#include "streameditor.h"
#include "recordstream.h"
#include "recordlist.h"
#include "rewritecheck.h"
#include "sharedstringwriter.h"
#include "sheetpositions.h"
#include "sheetcells.h"
#include "../bytereader.h"

#include <algorithm>
#include <limits>
#include <memory>

namespace orbelant::biff {

namespace {

constexpr quint16 DefaultCellXf = 15; // the default cell format in every BIFF8 writer's XF table
constexpr int RowsPerBlock = 32;
constexpr quint16 Window2 = 0x023E;
constexpr quint8 TokenExp = 0x01;      // a cell of a shared or array formula
constexpr quint8 TokenTable = 0x02;    // a cell of a data table
constexpr quint16 SharedFormulaFlag = 0x0008;

quint16 cellXf(const Piece &piece, int column)
{
    ByteReader data(piece.data());
    data.skip(2);
    const int first = data.u16();
    if (piece.id == Id::MulRk)
        data.skip(6 * (column - first));
    else if (piece.id == Id::MulBlank)
        data.skip(2 * (column - first));
    return data.u16();
}

QByteArray cellHeader(int row, int column, quint16 xf)
{
    QByteArray out;
    putU16(out, static_cast<quint16>(row));
    putU16(out, static_cast<quint16>(column));
    putU16(out, xf);
    return out;
}

// The cells a MULRK or MULBLANK holds from column `from` to `to`, as one record
// (RK or BLANK when a single cell remains).
Piece multipleCellPart(const Piece &piece, int row, int first, int from, int to)
{
    const bool rk = piece.id == Id::MulRk;
    const qsizetype width = rk ? 6 : 2;
    const QByteArrayView items = piece.data().sliced(4 + width * (from - first), width * (to - from + 1));
    QByteArray out;
    putU16(out, static_cast<quint16>(row));
    putU16(out, static_cast<quint16>(from));
    out.append(items.data(), items.size());
    if (from == to)
        return newPiece(rk ? Id::Rk : Id::Blank, out);
    putU16(out, static_cast<quint16>(to));
    return newPiece(piece.id, out);
}

class StreamEditor {
public:
    explicit StreamEditor(WorkbookGlobals globals)
        : m_globals(std::move(globals)), m_strings(std::move(m_globals.strings))
    {
    }

    Result<void> load(QByteArrayView stream, const QString &displayName) { return m_records.load(stream, displayName); }
    std::optional<size_t> substreamAt(qint64 bofPosition) const { return m_records.substreamAt(bofPosition); }
    Result<void> write(size_t sheetSubstream, const CellWrite &write);
    Result<void> finishStrings() { return m_strings.write(m_records); }
    Result<QByteArray> serialise();

private:
    struct RowLayout {
        std::optional<size_t> rowRecord;
        std::vector<size_t> cells;
    };

    template <typename Visit>
    void forTopLevel(const Range &range, Visit visit)
    {
        m_records.forTopLevel(range, visit);
    }
    RowLayout rowLayout(const Range &sheet, int row);
    void insert(size_t at, Piece piece) { m_records.insert(at, std::move(piece)); }
    void erase(size_t at) { m_records.erase(at); }
    Result<size_t> ensureRowRecord(size_t substream, int row);
    size_t cellInsertionPoint(const Range &sheet, size_t rowRecord, int row, int column, const RowLayout &layout);
    quint16 defaultXf(const Range &sheet, int column);
    void widenRanges(const Range &sheet, int row, int column);

    WorkbookGlobals m_globals;
    SharedStringWriter m_strings;
    RecordList m_records;
    std::vector<size_t> m_editedSheets;
};

StreamEditor::RowLayout StreamEditor::rowLayout(const Range &sheet, int row)
{
    RowLayout layout;
    forTopLevel(sheet, [&](size_t i) {
        const Piece &piece = m_records[i];
        if (piece.id == Id::Row) {
            ByteReader data(piece.data());
            if (data.u16() == row && data.ok())
                layout.rowRecord = i;
        } else if (cellSpan(piece).row == row) {
            layout.cells.push_back(i);
        }
        return true;
    });
    return layout;
}

quint16 StreamEditor::defaultXf(const Range &sheet, int column)
{
    quint16 xf = DefaultCellXf;
    forTopLevel(sheet, [&](size_t i) {
        if (m_records[i].id != Id::ColInfo)
            return true;
        ByteReader data(m_records[i].data());
        const int first = data.u16();
        const int last = data.u16();
        data.skip(2);
        const quint16 columnXf = data.u16();
        if (data.ok() && column >= first && column <= last) {
            xf = columnXf;
            return false;
        }
        return true;
    });
    return xf < m_globals.dateFormatXf.size() ? xf : 0;
}

Result<size_t> StreamEditor::ensureRowRecord(size_t substream, int row)
{
    const Range sheet = m_records.substream(substream);
    std::optional<size_t> below, above, dimensions, window;
    bool blocks = false;
    forTopLevel(sheet, [&](size_t i) {
        const Piece &piece = m_records[i];
        if (piece.id == Id::Row) {
            ByteReader data(piece.data());
            const int rw = data.u16();
            if (rw < row)
                below = i;
            else if (rw > row && !above)
                above = i;
        } else if (piece.id == Id::DbCell) {
            blocks = true;
        } else if (piece.id == Id::Dimensions) {
            dimensions = i;
        } else if (piece.id == Window2 && !window) {
            window = i;
        }
        return true;
    });

    QByteArray data;
    putU16(data, static_cast<quint16>(row));
    putU32(data, 0); // no columns yet: the cell written into the row sets them
    putU16(data, 0x00FF); // default height
    putU32(data, 0);
    putU32(data, 0x000F0100);

    auto runLength = [&](size_t at) {
        size_t first = at, last = at;
        while (first > sheet.begin && m_records[first - 1].id == Id::Row)
            --first;
        while (last + 1 < sheet.end && m_records[last + 1].id == Id::Row)
            ++last;
        return std::pair{first, last - first + 1};
    };

    if (below && (!blocks || runLength(*below).second < RowsPerBlock)) {
        insert(*below + 1, newPiece(Id::Row, data));
        return *below + 1;
    }
    if (above && (!blocks || runLength(*above).second < RowsPerBlock)) {
        insert(*above, newPiece(Id::Row, data));
        return *above;
    }
    // A block of its own: after the block below, before the block above, or where the
    // cell table begins.
    size_t at;
    if (below) {
        at = *below;
        while (at + 1 < m_records.substream(substream).end && m_records[at].id != Id::DbCell)
            ++at;
        ++at;
    } else if (above) {
        at = runLength(*above).first;
    } else if (dimensions) {
        at = *dimensions + 1;
    } else if (window) {
        at = *window;
    } else {
        at = sheet.end - 1;
    }
    insert(at, newPiece(Id::Row, data));
    if (blocks) {
        QByteArray cell;
        putU32(cell, 0);
        putU16(cell, 0);
        insert(at + 1, newPiece(Id::DbCell, cell));
    }
    return at;
}

size_t StreamEditor::cellInsertionPoint(const Range &sheet, size_t rowRecord, int row, int column, const RowLayout &layout)
{
    auto pastAttachments = [&](size_t at) {
        while (at + 1 < sheet.end && (m_records[at].id == Id::String || m_records[at].id == Id::ShrFmla
                                      || m_records[at].id == Id::Array || m_records[at].id == Id::Table))
            ++at;
        return at;
    };
    if (!layout.cells.empty()) {
        for (size_t i : layout.cells)
            if (cellSpan(m_records[i]).firstColumn > column)
                return i;
        return pastAttachments(layout.cells.back() + 1);
    }
    size_t at = rowRecord + 1;
    while (at + 1 < sheet.end && m_records[at].id == Id::Row)
        ++at;
    while (at + 1 < sheet.end) {
        const Piece &piece = m_records[at];
        if (isCellRecord(piece.id)) {
            if (cellSpan(piece).row > row)
                return at;
            at = pastAttachments(at + 1);
            continue;
        }
        return at;
    }
    return at;
}

void StreamEditor::widenRanges(const Range &sheet, int row, int column)
{
    forTopLevel(sheet, [&](size_t i) {
        Piece &piece = m_records[i];
        if (piece.id == Id::Dimensions && piece.data().size() >= 12) {
            ByteReader data(piece.data());
            const quint32 firstRow = data.u32(), endRow = data.u32();
            const quint16 firstColumn = data.u16(), endColumn = data.u16();
            QByteArray &bytes = piece.edit();
            setU32(bytes, 0, std::min<quint32>(firstRow, row));
            setU32(bytes, 4, std::max<quint32>(endRow, row + 1));
            setU16(bytes, 8, static_cast<quint16>(std::min<int>(firstColumn, column)));
            setU16(bytes, 10, static_cast<quint16>(std::max<int>(endColumn, column + 1)));
        } else if (piece.id == Id::Index && piece.data().size() >= 16) {
            ByteReader data(piece.data());
            data.skip(4);
            const quint32 firstRow = data.u32(), endRow = data.u32();
            QByteArray &bytes = piece.edit();
            setU32(bytes, 4, std::min<quint32>(firstRow, row));
            setU32(bytes, 8, std::max<quint32>(endRow, row + 1));
        }
        return true;
    });
}

Result<void> StreamEditor::write(size_t substream, const CellWrite &write)
{
    if (write.row < 0 || write.row >= MaxRows || write.column < 0 || write.column >= MaxColumns)
        return fail(ErrorCode::CannotEdit, QStringLiteral("Ячейка вне листа."));
    if (std::find(m_editedSheets.begin(), m_editedSheets.end(), substream) == m_editedSheets.end())
        m_editedSheets.push_back(substream);

    const Range sheet = m_records.substream(substream);
    RowLayout layout = rowLayout(sheet, write.row);
    std::optional<size_t> covering;
    for (size_t i : layout.cells) {
        const CellSpan span = cellSpan(m_records[i]);
        if (write.column >= span.firstColumn && write.column <= span.lastColumn)
            covering = i;
    }
    if (!covering && write.kind == CellWrite::Kind::Clear)
        return {}; // nothing there to clear

    const quint16 xf = covering ? cellXf(m_records[*covering], write.column) : defaultXf(sheet, write.column);
    Piece cell;
    QByteArray bytes = cellHeader(write.row, write.column, xf);
    switch (write.kind) {
    case CellWrite::Kind::Clear:
        cell = newPiece(Id::Blank, bytes);
        break;
    case CellWrite::Kind::Number:
        putF64(bytes, write.number);
        cell = newPiece(Id::Number, bytes);
        break;
    case CellWrite::Kind::Text:
        putU32(bytes, m_strings.reference(write.text));
        cell = newPiece(Id::LabelSst, bytes);
        break;
    }

    if (covering) {
        const size_t at = *covering;
        const Piece &old = m_records[at];
        if (old.id == Id::Formula) {
            ByteReader formula(old.data());
            formula.skip(14);
            const quint16 flags = formula.u16();
            formula.skip(4);
            const quint16 tokensSize = formula.u16();
            const quint8 firstToken = formula.u8();
            if ((flags & SharedFormulaFlag) || (tokensSize > 0 && formula.ok() && (firstToken == TokenExp || firstToken == TokenTable)))
                return fail(ErrorCode::CannotEdit, QStringLiteral("Ячейка входит в общую формулу или формулу массива; измените её в Excel."));
            const quint16 next = at + 1 < sheet.end ? m_records[at + 1].id : 0;
            if (next == Id::ShrFmla || next == Id::Array || next == Id::Table)
                return fail(ErrorCode::CannotEdit, QStringLiteral("Ячейка входит в общую формулу или формулу массива; измените её в Excel."));
            if (next == Id::String)
                erase(at + 1);
        }
        if (old.id == Id::LabelSst)
            m_strings.dropReference();
        if (old.id == Id::MulRk || old.id == Id::MulBlank) {
            if (old.id == Id::MulBlank && write.kind == CellWrite::Kind::Clear)
                return {};
            const CellSpan span = cellSpan(old);
            std::vector<Piece> parts;
            if (write.column > span.firstColumn)
                parts.push_back(multipleCellPart(old, write.row, span.firstColumn, span.firstColumn, write.column - 1));
            parts.push_back(std::move(cell));
            if (write.column < span.lastColumn)
                parts.push_back(multipleCellPart(old, write.row, span.firstColumn, write.column + 1, span.lastColumn));
            m_records[at] = std::move(parts[0]);
            for (size_t p = 1; p < parts.size(); ++p)
                insert(at + p, std::move(parts[p]));
        } else {
            m_records[at] = std::move(cell);
        }
    } else {
        size_t rowRecord;
        if (layout.rowRecord) {
            rowRecord = *layout.rowRecord;
        } else {
            auto created = ensureRowRecord(substream, write.row);
            if (!created)
                return std::unexpected(created.error());
            rowRecord = *created;
            layout = rowLayout(m_records.substream(substream), write.row);
        }
        insert(cellInsertionPoint(m_records.substream(substream), rowRecord, write.row, write.column, layout), std::move(cell));
    }

    if (write.kind != CellWrite::Kind::Clear) {
        layout = rowLayout(m_records.substream(substream), write.row);
        if (layout.rowRecord) {
            Piece &row = m_records[*layout.rowRecord];
            ByteReader data(row.data());
            data.skip(2);
            const quint16 first = data.u16(), end = data.u16();
            if (data.ok() && (write.column < first || write.column + 1 > end || first == end)) {
                QByteArray &rowBytes = row.edit();
                setU16(rowBytes, 2, static_cast<quint16>(first == end ? write.column : std::min<int>(first, write.column)));
                setU16(rowBytes, 4, static_cast<quint16>(first == end ? write.column + 1 : std::max<int>(end, write.column + 1)));
            }
        }
        widenRanges(m_records.substream(substream), write.row, write.column);
    }
    return {};
}

Result<QByteArray> StreamEditor::serialise()
{
    if (auto sized = m_strings.sizeExtSst(m_records); !sized)
        return std::unexpected(sized.error());
    if (auto sized = sizeRowIndexes(m_records, m_editedSheets); !sized)
        return std::unexpected(sized.error());
    m_records.layout();
    m_strings.fillExtSst(m_records);
    if (auto filled = fillSheetPositions(m_records, m_editedSheets); !filled)
        return std::unexpected(filled.error());
    return m_records.bytes();
}

} // namespace

Result<QByteArray> rewriteCells(QByteArrayView stream, WorkbookGlobals globals, size_t sheetIndex,
                                const std::vector<CellWrite> &writes, const QString &displayName)
{
    if (stream.size() > std::numeric_limits<qint32>::max() / 2)
        return fail(ErrorCode::TooLarge, QStringLiteral("для правки поток книги должен быть меньше 1 ГБ"));
    const auto bof = locateWorksheet(stream, globals, sheetIndex);
    if (!bof)
        return std::unexpected(bof.error());
    const QString sheetName = globals.sheets[sheetIndex].name;
    StreamEditor editor(std::move(globals));
    if (auto loaded = editor.load(stream, displayName); !loaded)
        return std::unexpected(loaded.error());
    const auto substream = editor.substreamAt(*bof);
    if (!substream)
        return fail(ErrorCode::Damaged, QStringLiteral("не найдено начало листа «%1»").arg(sheetName));
    for (const CellWrite &write : writes) {
        if (write.kind == CellWrite::Kind::Text && write.text.size() > MaxCellText)
            return fail(ErrorCode::CannotEdit, QStringLiteral("Текст длиннее 32 767 знаков."));
        if (auto written = editor.write(*substream, write); !written)
            return std::unexpected(written.error());
    }
    if (auto strings = editor.finishStrings(); !strings)
        return std::unexpected(strings.error());
    auto rewritten = editor.serialise();
    if (!rewritten)
        return rewritten;
    if (auto checked = checkRewrite(stream, *rewritten, *bof, writes); !checked)
        return std::unexpected(checked.error());
    return rewritten;
}

} // namespace orbelant::biff

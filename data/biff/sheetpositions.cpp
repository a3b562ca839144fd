#include "sheetpositions.h"
#include "../bytereader.h"

#include <algorithm>
#include <optional>

namespace orbelant::biff {

namespace {

// Excel's layout: a block holds at most 32 ROW records, so a DBCELL lists at most 32 rows and
// an INDEX, one position a block, at most 2,048 blocks (65,536 rows): both fit their record.
constexpr size_t RowsPerBlock = 32;
constexpr qsizetype MaxIndexEntries = (MaxRecordData - 16) / 4;

// Records that follow a cell record and belong to it.
bool belongsToCell(quint16 id)
{
    return id == Id::String || id == Id::Continue || id == Id::ShrFmla || id == Id::Array || id == Id::Table;
}

std::unexpected<Error> cannotReblock()
{
    return fail(ErrorCode::CannotEdit, QStringLiteral("Указатели блоков строк (записи DBCELL и INDEX) вышли бы длиннее, чем "
                                                      "позволяет формат, а разложить строки по новым блокам нельзя: в блоках есть "
                                                      "записи не на своих местах."));
}

// Lays the cell table of a sheet (from its first ROW to its last DBCELL) out anew as Excel
// does: blocks of 32 ROW records, each followed by the cells of its rows and a DBCELL.
// Every record keeps its place relative to the others of its kind; a table whose cells do
// not come in the order of their rows, or that holds records of no row, is refused.
Result<void> reblock(RecordList &records, const Range &sheet)
{
    std::optional<size_t> first, last;
    records.forTopLevel(sheet, [&](size_t i) {
        if (records[i].id == Id::Row && !first)
            first = i;
        else if (records[i].id == Id::DbCell && first)
            last = i;
        return true;
    });
    if (!last)
        return cannotReblock();

    std::vector<int> ordinalOfRow(MaxRows, -1);
    std::vector<size_t> rows, cells;
    std::vector<int> cellOrdinals; // the ordinal of each cell's ROW record, for each of `cells`
    for (size_t i = *first; i <= *last; ++i) {
        const Piece &piece = records[i];
        if (piece.id == Id::Row) {
            ByteReader data(piece.data());
            const int row = data.u16();
            if (!data.ok() || ordinalOfRow[static_cast<size_t>(row)] >= 0)
                return cannotReblock();
            ordinalOfRow[static_cast<size_t>(row)] = static_cast<int>(rows.size());
            rows.push_back(i);
        } else if (isCellRecord(piece.id)) {
            const int row = cellSpan(piece).row;
            const int ordinal = row >= 0 ? ordinalOfRow[static_cast<size_t>(row)] : -1;
            if (ordinal < 0 || (!cellOrdinals.empty() && ordinal < cellOrdinals.back()))
                return cannotReblock(); // a cell of no row, or not in its row's order
            cells.push_back(i);
            cellOrdinals.push_back(ordinal);
        } else if (belongsToCell(piece.id) && !cells.empty() && cells.back() + 1 == i) {
            cells.push_back(i);
            cellOrdinals.push_back(cellOrdinals.back());
        } else if (piece.id != Id::DbCell) {
            return cannotReblock();
        }
    }

    std::vector<Piece> table;
    size_t cell = 0;
    for (size_t from = 0; from < rows.size(); from += RowsPerBlock) {
        const size_t to = std::min(rows.size(), from + RowsPerBlock);
        for (size_t r = from; r < to; ++r)
            table.push_back(std::move(records[rows[r]]));
        for (; cell < cells.size() && static_cast<size_t>(cellOrdinals[cell]) < to; ++cell)
            table.push_back(std::move(records[cells[cell]]));
        table.push_back(newPiece(Id::DbCell, {})); // sized with the other changed blocks' DBCELLs
    }
    records.replaceRange(*first, *last + 1, std::move(table));
    return {};
}

// The ROW records of a block, and whether anything in it changed.
struct Block {
    size_t dbCell = 0;
    qsizetype rows = 0;
    bool touched = false;
};

std::vector<Block> blocksOf(const RecordList &records, const Range &sheet, std::optional<size_t> &index)
{
    std::vector<Block> blocks;
    Block block;
    records.forTopLevel(sheet, [&](size_t i) {
        block.touched = block.touched || records[i].touched;
        if (records[i].id == Id::Index) {
            index = i;
        } else if (records[i].id == Id::Row) {
            ++block.rows;
        } else if (records[i].id == Id::DbCell) {
            block.dbCell = i;
            blocks.push_back(block);
            block = Block();
        }
        return true;
    });
    return blocks;
}

} // namespace

Result<void> sizeRowIndexes(RecordList &records, const std::vector<size_t> &editedSheets)
{
    for (size_t s : editedSheets) {
        std::optional<size_t> index;
        std::vector<Block> blocks = blocksOf(records, records.substream(s), index);
        const bool outgrown = std::any_of(blocks.begin(), blocks.end(), [](const Block &b) { return b.rows > qsizetype(RowsPerBlock); })
                           || static_cast<qsizetype>(blocks.size()) > MaxIndexEntries;
        if (outgrown) {
            if (auto laid = reblock(records, records.substream(s)); !laid)
                return laid;
            blocks = blocksOf(records, records.substream(s), index);
        }
        for (const Block &b : blocks)
            if (b.touched && b.rows > 0)
                records[b.dbCell].replace(QByteArray(4 + 2 * b.rows, '\0'));
        if (index && records[*index].data().size() >= 16) {
            QByteArray data = records[*index].data().first(16).toByteArray();
            data.resize(16 + 4 * static_cast<qsizetype>(blocks.size()), '\0');
            records[*index].replace(data);
        }
    }
    return {};
}

namespace {

// A DBCELL holds the distance from its block's first ROW back to itself, then for each row
// of the block where that row's cells start: the first from the end of the first ROW, each
// further one from where the previous row's cells start, in 16 bits. A row without cells
// starts where the previous row's cells end.
Result<void> fillDbCells(RecordList &records, const Range &sheet)
{
    std::vector<size_t> rows;
    std::optional<Error> fault;
    records.forTopLevel(sheet, [&](size_t i) {
        const Piece &piece = records[i];
        if (piece.id == Id::Row) {
            rows.push_back(i);
            return true;
        }
        if (piece.id != Id::DbCell)
            return true;
        if (piece.replaced() && !rows.empty() && piece.replacement->size() == 4 + 2 * static_cast<qsizetype>(rows.size())) {
            QByteArray &data = *records[i].replacement;
            const Piece &firstRow = records[rows.front()];
            setU32(data, 0, static_cast<quint32>(records[i].newPosition - firstRow.newPosition));

            // Where each row's cells start and end, walking the cell records in order.
            const size_t cellArea = rows.back() + 1;
            qint64 previousStart = firstRow.newPosition + 4 + firstRow.data().size();
            qint64 previousEnd = records[cellArea].newPosition;
            size_t next = cellArea;
            for (size_t r = 0; r < rows.size(); ++r) {
                const int rowNumber = ByteReader(records[rows[r]].data()).u16();
                qint64 start = previousEnd;
                qint64 end = previousEnd;
                while (next < i && cellSpan(records[next]).row == rowNumber) {
                    if (end == previousEnd && start == previousEnd)
                        start = records[next].newPosition;
                    ++next;
                    while (next < i && !isCellRecord(records[next].id))
                        ++next; // STRING and other records that belong to the cell before
                    end = records[next].newPosition;
                }
                if (start - previousStart > 0xFFFF) {
                    fault = Error::make(ErrorCode::TooLarge, QStringLiteral("записи ячеек перед строкой %1 занимают больше 65 535 байт, "
                                                                            "а блок строк (DBCELL) может описать не больше. Книга не изменена")
                                                                 .arg(rowNumber + 1));
                    return false;
                }
                setU16(data, 4 + 2 * static_cast<qsizetype>(r), static_cast<quint16>(start - previousStart));
                previousStart = start;
                previousEnd = end;
            }
        }
        rows.clear();
        return true;
    });
    if (fault)
        return std::unexpected(*fault);
    return {};
}

// The INDEX of a sheet: for the edited sheet, where its DBCELLs now stand and where
// DEFCOLWIDTH moved; for any other sheet, every position it holds moves with the sheet.
void fillIndex(RecordList &records, const Range &sheet, bool edited)
{
    const Piece &bof = records[sheet.begin];
    const qint64 shift = static_cast<qint64>(bof.newPosition) - bof.originalPosition;
    std::vector<quint32> blocks;
    std::optional<size_t> index;
    records.forTopLevel(sheet, [&](size_t i) {
        if (records[i].id == Id::Index)
            index = i;
        else if (records[i].id == Id::DbCell)
            blocks.push_back(records[i].newPosition);
        return true;
    });
    if (!index || records[*index].data().size() < 16)
        return;
    auto moved = [&](quint32 stored) -> quint32 {
        if (stored == 0)
            return 0;
        const qint64 exact = edited ? records.mapPosition(stored) : -1;
        return static_cast<quint32>(exact >= 0 ? exact : stored + shift);
    };
    Piece &piece = records[*index];
    const QByteArrayView data = piece.data();
    QByteArray updated = data.toByteArray();
    setU32(updated, 12, moved(ByteReader(data.sliced(12)).u32()));
    for (qsizetype e = 0; e < (data.size() - 16) / 4; ++e) // the edited sheet's: one for each block (sizeRowIndexes)
        setU32(updated, 16 + 4 * e, edited ? blocks[static_cast<size_t>(e)] : moved(ByteReader(data.sliced(16 + 4 * e)).u32()));
    if (updated != data)
        piece.replace(updated);
}

} // namespace

Result<void> fillSheetPositions(RecordList &records, const std::vector<size_t> &editedSheets)
{
    // Each sheet's position: where the substream it names now begins; one that names none is
    // put right as the reader takes it, by the sheets' order.
    const Range &globals = records.substream(0);
    size_t ordinal = 0; // the BOUNDSHEET's place among them, which is its substream's by order
    for (size_t i = globals.begin; i < globals.end; ++i) {
        Piece &piece = records[i];
        if (piece.id != Id::BoundSheet)
            continue;
        ++ordinal;
        ByteReader data(piece.data());
        const quint32 stored = data.u32();
        const size_t named = records.substreamAt(stored).value_or(ordinal);
        if (data.ok() && named < records.substreamCount()) {
            const quint32 position = records[records.substream(named).begin].newPosition;
            if (position != stored)
                setU32(piece.edit(), 0, position);
        }
    }

    for (size_t s = 1; s < records.substreamCount(); ++s) {
        const Range sheet = records.substream(s);
        const bool edited = std::find(editedSheets.begin(), editedSheets.end(), s) != editedSheets.end();
        if (edited)
            if (auto filled = fillDbCells(records, sheet); !filled)
                return filled;
        fillIndex(records, sheet, edited);
    }
    return {};
}

} // namespace orbelant::biff

#include "sheetpositions.h"
#include "../bytereader.h"

#include <algorithm>
#include <optional>

namespace orbelant::biff {

void sizeRowIndexes(RecordList &records, const std::vector<size_t> &editedSheets)
{
    for (size_t s : editedSheets) {
        const Range sheet = records.substream(s);
        qsizetype blocks = 0;
        std::optional<size_t> index;
        size_t blockStart = sheet.begin + 1;
        records.forTopLevel(sheet, [&](size_t i) {
            if (records[i].id == Id::Index) {
                index = i;
            } else if (records[i].id == Id::DbCell) {
                ++blocks;
                bool touched = false;
                qsizetype rows = 0;
                for (size_t j = blockStart; j < i; ++j) {
                    touched = touched || records[j].touched;
                    rows += records[j].id == Id::Row;
                }
                if ((touched || records[i].touched) && rows > 0) {
                    QByteArray data(4 + 2 * rows, '\0');
                    records[i].replace(data);
                }
                blockStart = i + 1;
            }
            return true;
        });
        if (index && records[*index].data().size() >= 16) {
            QByteArray data = records[*index].data().first(16).toByteArray();
            data.resize(16 + 4 * blocks, '\0');
            records[*index].replace(data);
        }
    }
}

namespace {

// A DBCELL holds the distance from its block's first ROW back to itself, then for each
// row of the block where that row's cells start: the first from the end of the first ROW,
// each further one from where the previous row's cells start. A row without cells starts
// where the previous row's cells end.
void fillDbCells(RecordList &records, const Range &sheet)
{
    std::vector<size_t> rows;
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
                setU16(data, 4 + 2 * static_cast<qsizetype>(r), static_cast<quint16>(start - previousStart));
                previousStart = start;
                previousEnd = end;
            }
        }
        rows.clear();
        return true;
    });
}

} // namespace

void fillSheetPositions(RecordList &records, const std::vector<size_t> &editedSheets)
{
    const Range &globals = records.substream(0);
    for (size_t i = globals.begin; i < globals.end; ++i) {
        Piece &piece = records[i];
        if (piece.id == Id::BoundSheet && piece.data().size() >= 4) {
            const qint64 moved = records.mapPosition(ByteReader(piece.data()).u32());
            if (moved >= 0 && moved != ByteReader(piece.data()).u32())
                setU32(piece.edit(), 0, static_cast<quint32>(moved));
        }
    }

    for (size_t s = 1; s < records.substreamCount(); ++s) {
        const Range sheet = records.substream(s);
        const bool edited = std::find(editedSheets.begin(), editedSheets.end(), s) != editedSheets.end();
        if (edited)
            fillDbCells(records, sheet);
        const Piece &bof = records[sheet.begin];
        const qint64 shift = static_cast<qint64>(bof.newPosition) - bof.originalPosition;
        std::vector<qint64> blocks;
        std::optional<size_t> index;
        records.forTopLevel(sheet, [&](size_t i) {
            if (records[i].id == Id::Index)
                index = i;
            else if (records[i].id == Id::DbCell)
                blocks.push_back(records[i].newPosition);
            return true;
        });
        if (!index || records[*index].data().size() < 16)
            continue;
        Piece &piece = records[*index];
        auto moved = [&](quint32 stored) -> quint32 {
            if (stored == 0)
                return 0;
            const qint64 exact = records.mapPosition(stored);
            return static_cast<quint32>(exact >= 0 ? exact : stored + shift);
        };
        const QByteArrayView data = piece.data();
        const qsizetype entries = (data.size() - 16) / 4;
        QByteArray updated = data.toByteArray();
        setU32(updated, 12, moved(ByteReader(data.sliced(12)).u32()));
        for (qsizetype e = 0; e < entries; ++e) {
            const quint32 value = edited && static_cast<size_t>(e) < blocks.size()
                                      ? static_cast<quint32>(blocks[static_cast<size_t>(e)])
                                      : moved(ByteReader(data.sliced(16 + 4 * e)).u32());
            setU32(updated, 16 + 4 * e, value);
        }
        if (updated != data)
            piece.replace(updated);
    }
}

} // namespace orbelant::biff

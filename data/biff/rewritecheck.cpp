#include "rewritecheck.h"
#include "recordstream.h"
#include "sheetcells.h"
#include "../bytereader.h"
#include "../numbertext.h"

#include <bit>

namespace orbelant::biff {

namespace {

std::unexpected<Error> mismatch(const QString &what)
{
    return fail(ErrorCode::WriteCheckFailed, what);
}

QString recordAt(const Record &record) { return describeRecord(record.id, record.position); }

// The records of a stream with the substream each belongs to, split as the editor splits
// them: the globals are substream 0, each sheet the next; an embedded chart belongs to its
// sheet. The walk ends at the end of the last substream.
class SubstreamWalk {
public:
    explicit SubstreamWalk(QByteArrayView stream) : m_records(stream) { advance(); }

    const std::optional<Record> &current() const { return m_current; }
    int substream() const { return m_substream; }
    bool startsSubstream() const { return m_starts; }
    bool topLevel() const { return m_depth == 1; } // of the current record, unless it is a BOF or EOF
    const std::optional<Error> &error() const { return m_records.error(); }

    // Goes on after the substream that ended at `end`.
    void skipTo(qint64 end)
    {
        m_records.seek(end);
        m_depth = 0;
        advance();
    }

    void advance()
    {
        m_current = m_records.next();
        if (!m_current || (m_depth == 0 && m_current->id != Id::Bof)) {
            m_current.reset();
            return;
        }
        if (m_current->id == Id::Bof && m_depth == 1 && m_substream == 0)
            m_depth = 0; // the globals ended without their EOF
        m_starts = m_depth == 0; // only a BOF comes here
        m_substream += m_starts ? 1 : 0;
        m_depth += m_current->id == Id::Bof ? 1 : m_current->id == Id::Eof ? -1 : 0;
    }

private:
    RecordStream m_records;
    std::optional<Record> m_current;
    int m_substream = -1;
    int m_depth = 0;
    bool m_starts{};
};

bool sameRecord(const Record &a, const Record &b) { return a.id == b.id && a.data == b.data; }

// How many bytes two views hold alike from their starts: a page at a time, then a byte.
qsizetype commonPrefix(QByteArrayView a, QByteArrayView b)
{
    constexpr qsizetype Page = 4096;
    const qsizetype size = std::min(a.size(), b.size());
    qsizetype same = 0;
    while (same + Page <= size && a.sliced(same, Page) == b.sliced(same, Page))
        same += Page;
    return std::mismatch(a.begin() + same, a.begin() + size, b.begin() + same).first - a.begin();
}

// One cell as its record holds it: a MULRK or MULBLANK gives each of its cells as an RK or
// BLANK; a STRING right after a formula counts as part of that cell (the writer removes it
// with the formula).
struct StoredCell {
    int row = 0;
    int column = 0;
    quint16 kind = 0;
    quint16 xf = 0;
    QByteArrayView value; // all the record holds after the format
    qint64 position = 0;  // of the record

    bool operator==(const StoredCell &other) const
    {
        return row == other.row && column == other.column && kind == other.kind && xf == other.xf && value == other.value;
    }
};

// The cells of a worksheet one at a time, and the records that hold no cell and keep no
// position or range (those the writer never changes).
class CellWalk {
public:
    CellWalk(QByteArrayView stream, qint64 bof) : m_stream(stream), m_records(stream, bof)
    {
        m_records.next(); // the sheet's BOF
    }

    // Whether a cell is left: reads on to the next record that holds cells when the
    // current one is used up.
    bool ready()
    {
        while (m_item >= m_items && !m_end) {
            const auto record = m_records.next();
            if (!record || (record->id == Id::Eof && m_nested == 0))
                m_end = record ? record->end() : m_records.position();
            else if (!load(*record))
                m_others.push_back(*record);
        }
        return !m_end;
    }
    // After ready(): the next cell.
    StoredCell next() { return item(m_item++); }

    // Between records, the walk may pass over a stretch the other sheet holds byte for byte.
    bool betweenRecords() const { return m_item >= m_items && !m_end; }
    qint64 position() const { return m_records.position(); }
    QByteArrayView rest() const { return m_stream.sliced(m_records.position()); }
    // Passes the whole records within the next `bytes` bytes, up to the first BOF or EOF (the
    // walk must see those) or cell of a row `edited` names; returns the bytes passed.
    template <typename EditedRow>
    qint64 passSame(qint64 bytes, EditedRow edited)
    {
        qint64 passed = 0;
        while (passed + 4 <= bytes) {
            ByteReader record(rest().sliced(passed));
            const quint16 id = record.u16();
            const qint64 end = passed + 4 + record.u16();
            const int row = record.u16();
            if (end > bytes || id == Id::Bof || id == Id::Eof || (isCellRecord(id) && edited(row)))
                break;
            follow(id, row, record.u16());
            passed = end;
        }
        m_records.seek(m_records.position() + passed);
        return passed;
    }
    // Passes the same stretch `leader` passed, ending as it ends.
    void passAlong(const CellWalk &leader, qint64 bytes)
    {
        m_records.seek(m_records.position() + bytes);
        m_row = leader.m_row;
        m_first = leader.m_first;
        m_afterCell = leader.m_afterCell;
    }

    const std::vector<Record> &others() const { return m_others; }
    const std::optional<Error> &error() const { return m_records.error(); }
    qint64 end() const { return m_end.value_or(0); } // after the sheet's EOF, once ready() has reached it

private:
    // Takes a record that holds cells; false for any other record.
    bool load(const Record &record)
    {
        const quint16 id = record.id;
        if (id == Id::Bof || (id == Id::Eof && m_nested > 0)) {
            m_nested += id == Id::Bof ? 1 : -1;
            m_afterCell = false;
            return false;
        }
        const bool attached = m_afterCell && id == Id::String;
        if (m_nested > 0 || !(isCellRecord(id) || attached)) {
            m_afterCell = false;
            return m_nested == 0 && (id == Id::Row || id == Id::DbCell || id == Id::Index || id == Id::Dimensions);
        }
        m_record = record;
        m_item = 0;
        m_items = 1;
        m_multiple = false;
        m_afterCell = !attached;
        if (attached)
            return true; // row and column of the cell before
        ByteReader data(record.data);
        m_row = data.u16();
        m_first = data.u16();
        const qsizetype width = id == Id::MulRk ? 6 : id == Id::MulBlank ? 2 : 0;
        m_multiple = width > 0 && record.data.size() >= 6 + width;
        if (m_multiple)
            m_items = (record.data.size() - 6) / width;
        return true;
    }

    // The state after a record passed over, as load() would leave it.
    void follow(quint16 id, int row, int first)
    {
        m_afterCell = m_nested == 0 && isCellRecord(id);
        if (m_afterCell) {
            m_row = row;
            m_first = first;
        }
    }

    StoredCell item(qsizetype i) const
    {
        const QByteArrayView data = m_record.data;
        const qint64 position = m_record.position;
        if (m_record.id == Id::String)
            return StoredCell{m_row, m_first, m_record.id, 0, data, position};
        if (m_multiple) {
            const bool rk = m_record.id == Id::MulRk;
            const qsizetype at = 4 + (rk ? 6 : 2) * i;
            const quint16 xf = ByteReader(data.sliced(at)).u16();
            return StoredCell{m_row, m_first + static_cast<int>(i), rk ? Id::Rk : Id::Blank, xf, rk ? data.sliced(at + 2, 4) : QByteArrayView(), position};
        }
        ByteReader reader(data);
        reader.skip(4);
        const quint16 xf = reader.u16();
        return StoredCell{m_row, m_first, m_record.id, xf, reader.ok() ? data.sliced(6) : data, position};
    }

    QByteArrayView m_stream;
    RecordStream m_records;
    std::vector<Record> m_others;
    int m_nested = 0;
    std::optional<qint64> m_end; // after the sheet's EOF, once reached
    bool m_afterCell{};
    Record m_record;
    bool m_multiple{}; // a MULRK or MULBLANK of at least one cell
    int m_row = 0;
    int m_first = 0;
    qsizetype m_item = 0;
    qsizetype m_items = 0;
};

// The cells the writes leave behind: the last write to each cell counts.
class EditedCells {
public:
    explicit EditedCells(const std::vector<CellWrite> &writes)
    {
        for (const CellWrite &write : writes) {
            const int at = indexOf(write.row, write.column);
            if (at >= 0)
                m_writes[static_cast<size_t>(at)] = write;
            else
                m_writes.push_back(write);
        }
        m_oldXf.resize(m_writes.size());
        m_newXf.resize(m_writes.size());
        m_newPositions.resize(m_writes.size(), -1);
    }

    bool onRow(int row) const
    {
        return std::any_of(m_writes.begin(), m_writes.end(), [&](const CellWrite &write) { return write.row == row; });
    }
    int indexOf(int row, int column) const
    {
        for (size_t i = 0; i < m_writes.size(); ++i)
            if (m_writes[i].row == row && m_writes[i].column == column)
                return static_cast<int>(i);
        return -1;
    }
    const std::vector<CellWrite> &writes() const { return m_writes; }

    // The next cell that no write changed; notes the formats of those the writes changed,
    // and where the new ones stand.
    std::optional<StoredCell> nextKept(CellWalk &walk, bool before)
    {
        while (walk.ready()) {
            const StoredCell cell = walk.next();
            const int at = indexOf(cell.row, cell.column);
            if (at < 0)
                return cell;
            if (cell.kind == Id::String)
                continue;
            (before ? m_oldXf : m_newXf)[static_cast<size_t>(at)] = cell.xf;
            if (!before)
                m_newPositions[static_cast<size_t>(at)] = cell.position;
        }
        return std::nullopt;
    }
    // Where the record of each written cell stands in the new stream; -1 for none.
    qint64 newPosition(size_t write) const { return m_newPositions[write]; }
    // Whether each changed cell that had a format keeps it.
    bool formatsKept() const { return std::equal(m_oldXf.begin(), m_oldXf.end(), m_newXf.begin(), [](auto old, auto now) { return !old || old == now; }); }

private:
    std::vector<CellWrite> m_writes;
    std::vector<std::optional<quint16>> m_oldXf, m_newXf;
    std::vector<qint64> m_newPositions;
};

bool holdsWrite(const Cell &cell, const CellWrite &write)
{
    switch (write.kind) {
    case CellWrite::Kind::Clear:
        return cell.isEmpty();
    case CellWrite::Kind::Number:
        return cell.kind == Cell::Kind::Number && std::bit_cast<quint64>(cell.number) == std::bit_cast<quint64>(write.number);
    case CellWrite::Kind::Text:
        return cell.kind == Cell::Kind::Text && cell.text == write.text;
    }
    return false;
}

QString cellName(int row, int column) { return QStringLiteral("ячейка в строке %1, столбце %2").arg(row + 1).arg(column + 1); }

// Where the edited sheet ends in the old and in the new stream.
struct SheetEnds {
    qint64 before = 0;
    qint64 after = 0;
};

// The edited sheet: every cell but the written ones as it was, the written ones holding what
// was written in their old formats, every record that holds no cell and no position unchanged.
Result<SheetEnds> checkEditedSheet(QByteArrayView before, qint64 oldBof, QByteArrayView after, qint64 newBof,
                                   const WorkbookGlobals &globals, const std::vector<CellWrite> &writes)
{
    EditedCells edited(writes);
    CellWalk old(before, oldBof), now(after, newBof);
    // Most of a sheet comes through byte for byte: up to `agreedEnd` (a position in the old
    // stream) the two agree at the distance `agreedShift`, found once for each distance.
    qint64 agreedEnd = 0, agreedShift = 0; // nothing agreed yet: found on the first pass
    while (true) {
        if (old.betweenRecords() && now.betweenRecords()) {
            if (now.position() - old.position() != agreedShift || old.position() >= agreedEnd) {
                agreedShift = now.position() - old.position();
                agreedEnd = old.position() + commonPrefix(old.rest(), now.rest());
            }
            now.passAlong(old, old.passSame(agreedEnd - old.position(), [&](int row) { return edited.onRow(row); }));
        }
        const auto a = edited.nextKept(old, true), b = edited.nextKept(now, false);
        if (!a && !b)
            break;
        if (!a || !b || !(*a == *b)) {
            const StoredCell &differing = a ? *a : *b;
            return mismatch(cellName(differing.row, differing.column) + QStringLiteral(" записана не так, как была"));
        }
    }
    if (now.error())
        return mismatch(now.error()->message);
    if (!edited.formatsKept())
        return mismatch(QStringLiteral("изменённая ячейка потеряла свой формат"));
    if (old.others().size() != now.others().size()
        || !std::equal(old.others().begin(), old.others().end(), now.others().begin(), sameRecord))
        return mismatch(QStringLiteral("на изменённом листе изменились записи, которые не хранят ячеек"));
    for (size_t i = 0; i < edited.writes().size(); ++i) {
        const CellWrite &write = edited.writes()[i];
        const qint64 position = edited.newPosition(i);
        if (!holdsWrite(position < 0 ? Cell() : decodeCell(after, globals, position, write.column), write))
            return mismatch(cellName(write.row, write.column) + QStringLiteral(" не хранит введённого значения"));
    }
    return SheetEnds{old.end(), now.end()};
}

// An INDEX of a sheet that moved as a whole by `shift`: the same but for the positions, which
// moved with it (0 means none).
bool movedWithSheet(const Record &old, const Record &now, qint64 shift)
{
    if (old.data.size() < 16 || old.data.size() != now.data.size())
        return sameRecord(old, now);
    if (old.data.first(12) != now.data.first(12))
        return false;
    ByteReader a(old.data.sliced(12)), b(now.data.sliced(12));
    while (a.remaining() >= 4) {
        const quint32 position = a.u32();
        if (b.u32() != (position == 0 ? 0 : static_cast<quint32>(position + shift)))
            return false;
    }
    return a.remaining() == 0 || old.data.last(a.remaining()) == now.data.last(a.remaining());
}

// The shared strings: every old string where it was, byte for byte (the SST and each of its
// CONTINUE records starts as before), the unique count as many as the reader finds, and the
// EXTSST as Excel lays it out over them when strings were added, else as it was.
Result<void> checkStrings(const std::vector<Record> &oldChain, const std::vector<Record> &newChain,
                          const std::optional<Record> &oldExtSst, const std::optional<Record> &newExtSst,
                          const SharedStrings &strings)
{
    if (oldChain.size() > newChain.size())
        return mismatch(QStringLiteral("таблица строк стала короче"));
    // Each record's strings: after the SST's two counts, all of a CONTINUE record.
    const auto stringBytes = [](const std::vector<Record> &chain, size_t i) { return chain[i].data.sliced(std::min<qsizetype>(i == 0 ? 8 : 0, chain[i].data.size())); };
    bool added = newChain.size() > oldChain.size(), changed = added;
    for (size_t i = 0; i < oldChain.size(); ++i) {
        const QByteArrayView old = stringBytes(oldChain, i), now = stringBytes(newChain, i);
        if (!now.startsWith(old) || (i + 1 < oldChain.size() && now.size() != old.size()))
            return mismatch(QStringLiteral("прежние строки таблицы строк изменились"));
        added = added || now.size() > old.size();
        changed = changed || newChain[i].data != oldChain[i].data;
    }
    if (changed && strings.declaredUnique() != static_cast<quint32>(strings.size()))
        return mismatch(QStringLiteral("число строк в таблице строк: объявлено %1, а на деле %2")
                            .arg(formatCount(strings.declaredUnique()), formatCount(strings.size())));
    if (!added || !newExtSst)
        return oldExtSst && newExtSst && !sameRecord(*oldExtSst, *newExtSst)
                   ? Result<void>(mismatch(QStringLiteral("указатель таблицы строк (EXTSST) изменился")))
                   : Result<void>();

    const qsizetype count = strings.size();
    const qsizetype perBucket = std::max<qsizetype>(count / 128 + 1, 8);
    QByteArray expected;
    putU16(expected, static_cast<quint16>(perBucket));
    for (qsizetype first = 0; first < count; first += perBucket) {
        const SharedStrings::Location where = strings.location(first);
        putU32(expected, static_cast<quint32>(newChain[static_cast<size_t>(where.segment)].position + 4 + where.offset));
        putU16(expected, static_cast<quint16>(4 + where.offset));
        putU16(expected, 0);
    }
    if (newExtSst->data != expected)
        return mismatch(QStringLiteral("указатель таблицы строк (EXTSST) не указывает на её строки"));
    return {};
}

// Collects an SST and the CONTINUE records after it.
std::vector<Record> chainAt(SubstreamWalk &walk)
{
    std::vector<Record> chain{*walk.current()};
    for (walk.advance(); walk.current() && walk.current()->id == Id::Continue; walk.advance())
        chain.push_back(*walk.current());
    return chain;
}

} // namespace

Result<void> checkRewrite(QByteArrayView before, QByteArrayView after, qint64 editedBof, const std::vector<CellWrite> &writes)
{
    auto globals = readWorkbookGlobals(after, QString());
    if (!globals)
        return mismatch(globals.error().message);

    SubstreamWalk old(before), now(after);
    std::vector<qint64> oldBofs, newBofs;
    std::vector<std::pair<quint32, quint32>> sheetPositions; // each BOUNDSHEET's, before and after
    std::vector<Record> oldChain, newChain;
    std::optional<Record> oldExtSst, newExtSst;
    bool editedSeen = false;
    while (old.current()) {
        if (!now.current())
            return mismatch(QStringLiteral("новый поток книги короче прежнего"));
        const Record a = *old.current(), b = *now.current();
        if (old.startsSubstream() != now.startsSubstream() || old.substream() != now.substream())
            return mismatch(QStringLiteral("листы книги разделены не так, как были: ") + recordAt(b));
        if (old.startsSubstream()) {
            oldBofs.push_back(a.position);
            newBofs.push_back(b.position);
        }
        if (old.startsSubstream() && a.position == editedBof) {
            const auto ends = checkEditedSheet(before, a.position, after, b.position, *globals, writes);
            if (!ends)
                return std::unexpected(ends.error());
            old.skipTo(ends->before);
            now.skipTo(ends->after);
            editedSeen = true;
            continue;
        }
        if (old.substream() == 0 && (a.id == Id::Sst || (b.id == Id::Sst && oldChain.empty() && newChain.empty()))) {
            if (a.id == Id::Sst)
                oldChain = chainAt(old);
            if (b.id != Id::Sst)
                return mismatch(QStringLiteral("таблица строк пропала: ") + recordAt(b));
            newChain = chainAt(now);
            continue;
        }
        bool same = a.id == b.id;
        if (same && old.substream() == 0 && a.id == Id::ExtSst) {
            oldExtSst = a;
            newExtSst = b;
        } else if (same && old.substream() == 0 && a.id == Id::BoundSheet) {
            same = a.data.size() >= 4 && b.data.size() == a.data.size() && a.data.sliced(4) == b.data.sliced(4);
            if (same)
                sheetPositions.emplace_back(ByteReader(a.data).u32(), ByteReader(b.data).u32());
        } else if (same && old.substream() > 0 && a.id == Id::Index && old.topLevel()) {
            same = movedWithSheet(a, b, newBofs.back() - oldBofs.back());
        } else {
            same = sameRecord(a, b);
        }
        if (!same)
            return mismatch(QStringLiteral("запись изменилась: ") + recordAt(b));
        old.advance();
        now.advance();
    }
    if (now.error())
        return mismatch(now.error()->message);
    if (now.current())
        return mismatch(QStringLiteral("после последнего листа лишние записи"));
    if (!editedSeen)
        return mismatch(QStringLiteral("изменённый лист не найден"));

    // Every sheet's position: where its substream now begins, when it named a substream before.
    for (const auto &[oldPosition, newPosition] : sheetPositions) {
        const auto k = std::find(oldBofs.begin(), oldBofs.end(), qint64(oldPosition)) - oldBofs.begin();
        if (k < qsizetype(oldBofs.size()) && newPosition != newBofs[static_cast<size_t>(k)])
            return mismatch(QStringLiteral("положение листа %1 в общей части книги не указывает на его начало").arg(k));
    }
    return checkStrings(oldChain, newChain, oldExtSst, newExtSst, globals->strings);
}

} // namespace orbelant::biff

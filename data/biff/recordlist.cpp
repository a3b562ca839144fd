#include "recordlist.h"
#include "recordstream.h"
#include "../bytereader.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace orbelant::biff {

namespace {
constexpr size_t SpareForInsertedPieces = 64; // room for the records an edit adds
}

Piece newPiece(quint16 id, QByteArray data)
{
    Piece piece;
    piece.id = id;
    piece.replace(std::move(data));
    return piece;
}

Result<void> RecordList::load(QByteArrayView stream, const QString &displayName)
{
    // Counted first so that the pieces are allocated once, not grown and copied.
    qsizetype recordCount = 0;
    for (RecordStream counter(stream); counter.next();)
        ++recordCount;
    m_pieces.reserve(static_cast<size_t>(recordCount) + SpareForInsertedPieces);

    RecordStream records(stream);
    int depth = 0;
    while (const auto record = records.next()) {
        if (depth == 0 && record->id != Id::Bof)
            break; // padding or junk after the last substream
        Piece piece;
        piece.id = record->id;
        piece.originalPosition = static_cast<qint32>(record->position);
        piece.originalData = record->data.data();
        piece.originalSize = static_cast<quint16>(record->data.size()); // at most 8224
        if (record->id == Id::Bof) {
            if (depth == 1 && m_substreams.size() == 1) {
                // The globals ended without their EOF: a sheet starts here.
                m_substreams.back().end = m_pieces.size();
                depth = 0;
            }
            if (depth == 0)
                m_substreams.push_back(Range{m_pieces.size(), 0});
            ++depth;
        } else if (record->id == Id::Eof) {
            --depth;
        }
        m_pieces.push_back(std::move(piece));
        if (depth == 0)
            m_substreams.back().end = m_pieces.size();
        if (record->id == Id::FilePass)
            return fail(ErrorCode::Encrypted, displayName, record->position);
    }
    if (records.error())
        return std::unexpected(*records.error());
    if (depth != 0 || m_substreams.empty())
        return fail(ErrorCode::Damaged, QStringLiteral("поток книги обрывается до конца листа"));
    return {};
}

std::optional<size_t> RecordList::substreamAt(qint64 bofPosition) const
{
    for (size_t s = 1; s < m_substreams.size(); ++s)
        if (m_pieces[m_substreams[s].begin].originalPosition == bofPosition)
            return s;
    return std::nullopt;
}

void RecordList::insert(size_t at, Piece piece)
{
    m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(at), std::move(piece));
    for (Range &range : m_substreams) {
        if (range.begin >= at) {
            ++range.begin;
            ++range.end;
        } else if (range.end > at) {
            ++range.end;
        }
    }
}

void RecordList::erase(size_t at)
{
    m_pieces.erase(m_pieces.begin() + static_cast<std::ptrdiff_t>(at));
    for (Range &range : m_substreams) {
        if (range.begin > at) {
            --range.begin;
            --range.end;
        } else if (range.end > at) {
            --range.end;
        }
    }
    if (at < m_pieces.size())
        m_pieces[at].touched = true; // its block lost a record
}

void RecordList::layout()
{
    qint64 position = 0;
    m_positionMap.clear();
    m_positionMap.reserve(m_pieces.size());
    for (Piece &piece : m_pieces) {
        piece.newPosition = static_cast<quint32>(position);
        if (piece.originalPosition >= 0)
            m_positionMap.emplace_back(piece.originalPosition, piece.newPosition);
        position += 4 + piece.data().size();
    }
}

// The new position of the record that stood at `original`; -1 when no record did.
qint64 RecordList::mapPosition(qint64 original) const
{
    if (original < 0 || original > std::numeric_limits<qint32>::max())
        return -1;
    const auto key = static_cast<qint32>(original);
    const auto found = std::lower_bound(m_positionMap.begin(), m_positionMap.end(), key,
                                        [](const auto &entry, qint32 wanted) { return entry.first < wanted; });
    return found != m_positionMap.end() && found->first == key ? qint64(found->second) : -1;
}

void RecordList::replaceRange(size_t begin, size_t end, std::vector<Piece> pieces)
{
    const auto removed = static_cast<std::ptrdiff_t>(end - begin), added = static_cast<std::ptrdiff_t>(pieces.size());
    const auto at = m_pieces.begin() + static_cast<std::ptrdiff_t>(begin);
    m_pieces.erase(at, at + removed);
    m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(begin), std::make_move_iterator(pieces.begin()),
                    std::make_move_iterator(pieces.end()));
    for (Range &range : m_substreams) {
        if (range.begin >= end) {
            range.begin = static_cast<size_t>(static_cast<std::ptrdiff_t>(range.begin) + added - removed);
            range.end = static_cast<size_t>(static_cast<std::ptrdiff_t>(range.end) + added - removed);
        } else if (range.end >= end) {
            range.end = static_cast<size_t>(static_cast<std::ptrdiff_t>(range.end) + added - removed);
        }
    }
}

Result<QByteArray> RecordList::bytes() const
{
    QByteArray out;
    const Piece &last = m_pieces.back();
    out.reserve(static_cast<qsizetype>(last.newPosition) + 4 + last.data().size());
    for (const Piece &piece : m_pieces) {
        if (piece.data().size() > MaxRecordData)
            return fail(ErrorCode::WriteCheckFailed, describeRecord(piece.id, piece.newPosition)
                                                         + QStringLiteral(" вышла бы длиннее %1 байт").arg(MaxRecordData));
        putU16(out, piece.id);
        putU16(out, static_cast<quint16>(piece.data().size()));
        out.append(piece.data().data(), piece.data().size());
    }
    return out;
}

CellSpan cellSpan(const Piece &piece)
{
    if (!isCellRecord(piece.id))
        return {};
    ByteReader data(piece.data());
    CellSpan span;
    span.row = data.u16();
    span.firstColumn = data.u16();
    span.lastColumn = span.firstColumn;
    if (piece.id == Id::MulRk || piece.id == Id::MulBlank) {
        const qsizetype width = piece.id == Id::MulRk ? 6 : 2;
        span.lastColumn = span.firstColumn + static_cast<int>((piece.data().size() - 6) / width) - 1;
    }
    return data.ok() && span.lastColumn >= span.firstColumn ? span : CellSpan{};
}

} // namespace orbelant::biff

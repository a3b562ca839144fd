#pragma once
// The records of a Workbook stream as an editable list: each record keeps its original
// bytes until it is replaced, records can be inserted and removed, and after a new layout
// every record's new position is known and the stream is written out again.

#include "records.h"
#include "../error.h"

#include <QByteArray>
#include <memory>
#include <optional>
#include <vector>

namespace orbelant::biff {

// One record of the stream: the original bytes, or a replacement. A large sheet has one
// of these per record, so it is kept small: positions fit in 32 bits (streams are capped
// far below 4 GiB) and a replacement lives on the heap only when there is one.
struct Piece {
    const char *originalData = nullptr; // the record's data in the original stream
    std::unique_ptr<QByteArray> replacement;
    qint32 originalPosition = -1; // -1 for records this edit adds
    quint32 newPosition = 0;
    quint16 id = 0;
    quint16 originalSize = 0;
    bool touched = false;          // added, replaced or next to a removed record

    QByteArrayView original() const { return QByteArrayView(originalData, originalSize); }
    bool replaced() const { return replacement != nullptr; }
    QByteArrayView data() const { return replacement ? QByteArrayView(*replacement) : original(); }
    QByteArray &edit()
    {
        if (!replacement)
            replacement = std::make_unique<QByteArray>(original().toByteArray());
        touched = true;
        return *replacement;
    }
    void replace(QByteArray bytes)
    {
        replacement = std::make_unique<QByteArray>(std::move(bytes));
        touched = true;
    }
};

Piece newPiece(quint16 id, QByteArray data);

struct Range {
    size_t begin = 0; // the BOF
    size_t end = 0;   // one past the EOF
};

// A cell record's place on its row (row -1 for other records).
struct CellSpan {
    int row = -1;
    int firstColumn = -1;
    int lastColumn = -1;
};
CellSpan cellSpan(const Piece &piece);

// The records of a stream and its substreams (the globals, then each sheet).
class RecordList {
public:
    // Splits the stream into records; stops at padding after the last substream.
    // Refuses encrypted streams, naming the file `displayName`, and streams that end
    // inside a substream.
    Result<void> load(QByteArrayView stream, const QString &displayName);

    size_t size() const { return m_pieces.size(); }
    Piece &operator[](size_t i) { return m_pieces[i]; }
    const Piece &operator[](size_t i) const { return m_pieces[i]; }

    size_t substreamCount() const { return m_substreams.size(); }
    const Range &substream(size_t s) const { return m_substreams[s]; }
    // The substream whose BOF stood at `bofPosition` in the original stream.
    std::optional<size_t> substreamAt(qint64 bofPosition) const;

    void insert(size_t at, Piece piece);
    void erase(size_t at); // marks the record that takes its place as touched
    // Puts `pieces` in the place of the records from `begin` to `end` (one past the last).
    void replaceRange(size_t begin, size_t end, std::vector<Piece> pieces);

    // Visits the top-level records between a substream's BOF and EOF (embedded chart
    // substreams are passed over) until `visit` returns false.
    template <typename Visit>
    void forTopLevel(const Range &range, Visit visit) const
    {
        int nested = 0;
        for (size_t i = range.begin + 1; i + 1 < range.end; ++i) {
            if (m_pieces[i].id == Id::Bof)
                ++nested;
            else if (m_pieces[i].id == Id::Eof && nested > 0)
                --nested;
            else if (nested == 0 && !visit(i))
                return;
        }
    }

    // Gives every record its new position; sizes must not change afterwards.
    void layout();
    // The new position of the record that stood at `original`; -1 when none did.
    qint64 mapPosition(qint64 original) const;
    // The stream written out, after layout(); refuses a record longer than BIFF8 allows,
    // whose length would not fit its header.
    Result<QByteArray> bytes() const;

private:
    std::vector<Piece> m_pieces;
    std::vector<Range> m_substreams; // [0] is the globals
    std::vector<std::pair<qint32, quint32>> m_positionMap; // original → new, ascending
};

} // namespace orbelant::biff

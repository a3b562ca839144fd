#pragma once
// The shared-string table (SST and its CONTINUE records) and the Unicode strings of BIFF8.
// The table is indexed once and each string decoded when it is asked for, so a large
// workbook costs four bytes a string until its texts are needed.

#include "records.h"
#include "../error.h"

#include <QString>
#include <optional>
#include <vector>

namespace orbelant::biff {

class SharedStrings {
public:
    // Where a string's header begins: which record of the chain (0 = the SST itself) and
    // the offset in that record's data.
    struct Location {
        int segment = 0;
        int offset = 0;
    };

    SharedStrings() = default;

    qsizetype size() const { return static_cast<qsizetype>(m_locations.size()); }
    Location location(qsizetype index) const;
    // The text of string `index` (0 ≤ index < size()).
    QString text(qsizetype index) const;
    bool isEmptyText(qsizetype index) const { return m_empty[static_cast<size_t>(index)]; }
    // Whether the string carries rich-text or phonetic runs.
    bool isFormatted(qsizetype index) const;
    // Whether string `index` is a plain string holding exactly `text`.
    bool isPlainText(qsizetype index, QStringView text) const;

    quint32 declaredTotal() const { return m_declaredTotal; }   // cstTotal as stored
    quint32 declaredUnique() const { return m_declaredUnique; } // cstUnique as stored
    qsizetype consumedBytes() const { return m_consumedBytes; } // bytes of the chain the strings took, counts included

    // Indexes the table of the SST record's data followed by its CONTINUE records' data
    // (views into the Workbook stream, which must outlive the table). A string split across
    // records restarts with a flags byte; runs and phonetic blocks are stepped over. The
    // stored counts are not trusted: reading stops when the data runs out.
    static Result<SharedStrings> index(std::vector<QByteArrayView> segments, qint64 position);

private:
    std::vector<QByteArrayView> m_segments;
    std::vector<quint32> m_locations; // segment × LocationSpan + offset
    std::vector<bool> m_empty;
    quint32 m_declaredTotal = 0;
    quint32 m_declaredUnique = 0;
    qsizetype m_consumedBytes = 0;
};

// Reads an XLUnicodeString (cch: 2 bytes, flags, characters) from one record's data,
// starting at `offset`; `end` receives the offset after the string and its runs.
std::optional<QString> readUnicodeString(QByteArrayView data, qsizetype offset, qsizetype *end = nullptr);

// The number of characters of the XLUnicodeString at `offset`; nullopt when it is cut short.
std::optional<quint16> unicodeStringLength(QByteArrayView data, qsizetype offset);

// A ShortXLUnicodeString (cch: 1 byte, flags, characters), as in sheet names.
std::optional<QString> readShortUnicodeString(QByteArrayView data, qsizetype offset);

} // namespace orbelant::biff

#pragma once
// The shared-string table (SST and its CONTINUE records) and the Unicode strings of BIFF8.

#include "records.h"
#include "../error.h"

#include <QStringList>
#include <vector>

namespace orbelant::biff {

struct SharedStrings {
    // Where a string's header begins: which record of the chain (0 = the SST itself)
    // and the offset in that record's data.
    struct Location {
        int segment = 0;
        int offset = 0;
    };

    QStringList strings;
    std::vector<Location> locations; // one per string
    std::vector<bool> formatted;     // true when the string carries rich-text or phonetic runs
    quint32 declaredTotal = 0;       // cstTotal as stored
    quint32 declaredUnique = 0;      // cstUnique as stored
    qsizetype consumedBytes = 0;     // bytes of the chain the strings took, counts included
};

// Reads the table from the SST record's data followed by its CONTINUE records' data.
// A string split across records restarts with a flags byte; runs and phonetic blocks are
// skipped. The stored counts are not trusted: reading stops when the data runs out.
Result<SharedStrings> readSharedStrings(const std::vector<QByteArrayView> &segments, qint64 position);

// Reads an XLUnicodeString (cch: 2 bytes, flags, characters) from one record's data,
// starting at `offset`; `end` receives the offset after the string and its runs.
std::optional<QString> readUnicodeString(QByteArrayView data, qsizetype offset, qsizetype *end = nullptr);

// A ShortXLUnicodeString (cch: 1 byte, flags, characters), as in sheet names.
std::optional<QString> readShortUnicodeString(QByteArrayView data, qsizetype offset);

} // namespace orbelant::biff

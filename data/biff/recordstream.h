#pragma once
// Walks the records of a Workbook stream. A header that claims more data than the stream
// holds, or more than a record may carry, makes the walk fail with an error value.

#include "records.h"
#include "../error.h"

#include <optional>

namespace orbelant::biff {

class RecordStream {
public:
    explicit RecordStream(QByteArrayView stream, qint64 start = 0);

    // The next record; nullopt at the end of the stream or on a fault (see error()).
    std::optional<Record> next();
    // The next record without moving past it.
    std::optional<Record> peek();

    qint64 position() const { return m_pos; }
    void seek(qint64 position);
    const std::optional<Error> &error() const { return m_error; }

private:
    QByteArrayView m_stream;
    qint64 m_pos;
    std::optional<Error> m_error;
};

// Describes a record at `position` for damage messages: "запись 0x00FC по смещению 1234".
QString describeRecord(quint16 id, qint64 position);

} // namespace orbelant::biff

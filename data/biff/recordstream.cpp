#include "recordstream.h"
#include "../bytereader.h"
#include "../numbertext.h"

namespace orbelant::biff {

bool isCellRecord(quint16 id)
{
    switch (id) {
    case Id::LabelSst: case Id::Label: case Id::RString: case Id::Number: case Id::Rk:
    case Id::MulRk: case Id::BoolErr: case Id::Blank: case Id::MulBlank: case Id::Formula:
        return true;
    }
    return false;
}

QString describeRecord(quint16 id, qint64 position)
{
    const QString hexId = QString::number(id, 16).toUpper().rightJustified(4, QLatin1Char('0'));
    return QStringLiteral("запись 0x%1 по смещению %2").arg(hexId, formatCount(position));
}

RecordStream::RecordStream(QByteArrayView stream, qint64 start) : m_stream(stream), m_pos(start) {}

void RecordStream::seek(qint64 position)
{
    m_pos = position;
    m_error.reset();
}

std::optional<Record> RecordStream::peek()
{
    const qint64 saved = m_pos;
    auto record = next();
    m_pos = saved;
    return record;
}

std::optional<Record> RecordStream::next()
{
    if (m_error || m_pos < 0 || m_pos >= m_stream.size())
        return std::nullopt;
    ByteReader header(m_stream.sliced(m_pos));
    const quint16 id = header.u16();
    const quint16 length = header.u16();
    if (!header.ok()) {
        m_error = Error::make(ErrorCode::Damaged, QStringLiteral("поток книги обрывается на заголовке записи по смещению %1").arg(formatCount(m_pos)), m_pos);
        return std::nullopt;
    }
    if (length > MaxRecordData) {
        m_error = Error::make(ErrorCode::Damaged, describeRecord(id, m_pos) + QStringLiteral(" длиннее допустимого"), m_pos);
        return std::nullopt;
    }
    const QByteArrayView data = header.bytes(length);
    if (!header.ok()) {
        m_error = Error::make(ErrorCode::Damaged, describeRecord(id, m_pos) + QStringLiteral(" выходит за конец потока"), m_pos);
        return std::nullopt;
    }
    Record record{id, m_pos, data};
    m_pos += 4 + length;
    return record;
}

} // namespace orbelant::biff

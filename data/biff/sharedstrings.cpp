#include "sharedstrings.h"
#include "recordstream.h"
#include "../bytereader.h"

namespace orbelant::biff {

namespace {

constexpr quint8 HighByte = 0x01;
constexpr quint8 PhoneticRuns = 0x04;
constexpr quint8 RichRuns = 0x08;

// Reads across the records of a chain. Raw fields continue straight into the next record;
// characters continue after a new flags byte (handled by readCharacters).
class ChainCursor {
public:
    explicit ChainCursor(const std::vector<QByteArrayView> &segments) : m_segments(segments) {}

    bool ok() const { return m_ok; }
    bool atEnd()
    {
        skipExhausted();
        return m_segment >= m_segments.size();
    }
    int segment() const { return static_cast<int>(m_segment); }
    qsizetype consumed() const
    {
        qsizetype bytes = 0;
        for (size_t i = 0; i < m_segment && i < m_segments.size(); ++i)
            bytes += m_segments[i].size();
        return bytes + (m_segment < m_segments.size() ? m_offset : 0);
    }
    int offset() const { return static_cast<int>(m_offset); }
    bool atSegmentEnd() const
    {
        return m_segment >= m_segments.size() || m_offset >= m_segments[m_segment].size();
    }

    quint64 raw(int bytes)
    {
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<quint64>(byte()) << (8 * i);
        return value;
    }
    void skipRaw(quint64 bytes)
    {
        while (bytes > 0 && m_ok) {
            skipExhausted();
            if (m_segment >= m_segments.size()) {
                m_ok = false;
                return;
            }
            const quint64 here = static_cast<quint64>(m_segments[m_segment].size() - m_offset);
            const quint64 step = std::min(here, bytes);
            m_offset += static_cast<qsizetype>(step);
            bytes -= step;
        }
    }
    // Characters of one string; at each record boundary inside them a flags byte says
    // whether the rest is 8-bit or 16-bit.
    QString characters(quint16 count, bool highByte)
    {
        QString text;
        text.reserve(count);
        while (text.size() < count && m_ok) {
            if (atSegmentEnd()) {
                ++m_segment;
                m_offset = 0;
                if (m_segment >= m_segments.size()) {
                    m_ok = false;
                    break;
                }
                highByte = (byte() & HighByte) != 0;
                continue;
            }
            const QByteArrayView data = m_segments[m_segment];
            const qsizetype width = highByte ? 2 : 1;
            const qsizetype available = (data.size() - m_offset) / width;
            if (available == 0) { // half a 16-bit character before the boundary
                m_ok = false;
                break;
            }
            const qsizetype take = std::min<qsizetype>(available, count - text.size());
            const char *p = data.data() + m_offset;
            if (highByte) {
                // Filled in place: appending character by character is the slowest part
                // of reading a large table.
                const qsizetype start = text.size();
                text.resize(start + take);
                QChar *out = text.data() + start;
                for (qsizetype i = 0; i < take; ++i)
                    out[i] = QChar(static_cast<char16_t>(static_cast<quint8>(p[2 * i]) | (static_cast<quint8>(p[2 * i + 1]) << 8)));
            } else {
                text.append(QLatin1StringView(p, take));
            }
            m_offset += take * width;
        }
        return text;
    }

private:
    void skipExhausted()
    {
        while (m_segment < m_segments.size() && m_offset >= m_segments[m_segment].size()) {
            ++m_segment;
            m_offset = 0;
        }
    }
    quint8 byte()
    {
        skipExhausted();
        if (m_segment >= m_segments.size()) {
            m_ok = false;
            return 0;
        }
        return static_cast<quint8>(m_segments[m_segment][m_offset++]);
    }

    const std::vector<QByteArrayView> &m_segments;
    size_t m_segment = 0;
    qsizetype m_offset = 0;
    bool m_ok = true;
};

} // namespace

Result<SharedStrings> readSharedStrings(const std::vector<QByteArrayView> &segments, qint64 position)
{
    SharedStrings table;
    if (segments.empty() || segments.front().size() < 8)
        return fail(ErrorCode::Damaged, describeRecord(Id::Sst, position) + QStringLiteral(" слишком короткая"), position);

    ByteReader counts(segments.front());
    table.declaredTotal = counts.u32();
    table.declaredUnique = counts.u32();

    std::vector<QByteArrayView> body = segments;
    body.front() = body.front().sliced(8);
    ChainCursor cursor(body);

    // Every string takes at least 3 bytes, which bounds what the counts may make us reserve.
    qsizetype totalBytes = 0;
    for (const auto &segment : body)
        totalBytes += segment.size();
    table.strings.reserve(std::min<qsizetype>(table.declaredUnique, totalBytes / 3));

    while (table.strings.size() < static_cast<qsizetype>(table.declaredUnique) && !cursor.atEnd()) {
        SharedStrings::Location where{cursor.segment(), cursor.offset() + (cursor.segment() == 0 ? 8 : 0)};
        const quint16 count = static_cast<quint16>(cursor.raw(2));
        const quint8 flags = static_cast<quint8>(cursor.raw(1));
        const quint16 runs = (flags & RichRuns) ? static_cast<quint16>(cursor.raw(2)) : 0;
        const quint32 phonetic = (flags & PhoneticRuns) ? static_cast<quint32>(cursor.raw(4)) : 0;
        QString text = cursor.characters(count, flags & HighByte);
        cursor.skipRaw(4ull * runs);
        cursor.skipRaw(phonetic);
        if (!cursor.ok())
            return fail(ErrorCode::Damaged, QStringLiteral("таблица строк обрывается на строке %1").arg(table.strings.size() + 1), position);
        table.strings.append(std::move(text));
        table.locations.push_back(where);
        table.formatted.push_back(runs > 0 || (flags & PhoneticRuns));
    }
    table.consumedBytes = 8 + cursor.consumed();
    return table;
}

// The characters of an unsplit string: 8-bit ones stand for Latin-1, 16-bit ones are
// UTF-16 code units stored least significant byte first.
static QString decodeCharacters(QByteArrayView chars, bool highByte)
{
    if (!highByte)
        return QString::fromLatin1(chars.data(), chars.size());
    QString text(chars.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(static_cast<char16_t>(static_cast<quint8>(chars[2 * i]) | (static_cast<quint8>(chars[2 * i + 1]) << 8)));
    return text;
}

std::optional<QString> readUnicodeString(QByteArrayView data, qsizetype offset, qsizetype *end)
{
    if (offset < 0 || offset > data.size())
        return std::nullopt;
    ByteReader reader(data.sliced(offset));
    const quint16 count = reader.u16();
    const quint8 flags = reader.u8();
    const quint16 runs = (flags & RichRuns) ? reader.u16() : 0;
    const quint32 phonetic = (flags & PhoneticRuns) ? reader.u32() : 0;
    const bool high = flags & HighByte;
    const QByteArrayView chars = reader.bytes(static_cast<qsizetype>(count) * (high ? 2 : 1));
    reader.skip(4 * static_cast<qsizetype>(runs));
    reader.skip(static_cast<qsizetype>(phonetic));
    if (!reader.ok())
        return std::nullopt;
    if (end)
        *end = offset + reader.position();
    return decodeCharacters(chars, high);
}

std::optional<QString> readShortUnicodeString(QByteArrayView data, qsizetype offset)
{
    if (offset < 0 || offset > data.size())
        return std::nullopt;
    ByteReader reader(data.sliced(offset));
    const quint8 count = reader.u8();
    const quint8 flags = reader.u8();
    const bool high = flags & HighByte;
    const QByteArrayView chars = reader.bytes(static_cast<qsizetype>(count) * (high ? 2 : 1));
    if (!reader.ok())
        return std::nullopt;
    return decodeCharacters(chars, high);
}

} // namespace orbelant::biff

#include "sharedstrings.h"
#include "recordstream.h"
#include "../bytereader.h"
#include "../numbertext.h"

namespace orbelant::biff {

namespace {

constexpr quint8 HighByte = 0x01;
constexpr quint8 PhoneticRuns = 0x04;
constexpr quint8 RichRuns = 0x08;
// A location packs its record and offset into one number; offsets stay below a record's size.
constexpr quint32 LocationSpan = 16384;
static_assert(LocationSpan > MaxRecordData);

// Reads across the records of a chain. Raw fields continue straight into the next record;
// characters continue after a new flags byte.
class ChainCursor {
public:
    ChainCursor(const std::vector<QByteArrayView> &segments, size_t segment, qsizetype offset)
        : m_segments(segments), m_segment(segment), m_offset(offset)
    {
    }

    bool ok() const { return m_ok; }
    bool atEnd()
    {
        skipExhausted();
        return m_segment >= m_segments.size();
    }
    size_t segment() const { return m_segment; }
    qsizetype offset() const { return m_offset; }
    qsizetype consumed() const
    {
        qsizetype bytes = 0;
        for (size_t i = 0; i < m_segment && i < m_segments.size(); ++i)
            bytes += m_segments[i].size();
        return bytes + (m_segment < m_segments.size() ? m_offset : 0);
    }

    quint32 raw(int bytes)
    {
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<quint32>(byte()) << (8 * i);
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
    // whether the rest is 8-bit or 16-bit. `out` null: step over them.
    void characters(quint16 count, bool highByte, QString *out)
    {
        if (out)
            out->reserve(count);
        qsizetype done = 0;
        while (done < count && m_ok) {
            if (m_segment >= m_segments.size() || m_offset >= m_segments[m_segment].size()) {
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
            const qsizetype take = std::min<qsizetype>(available, count - done);
            if (out)
                append(*out, data.data() + m_offset, take, highByte);
            m_offset += take * width;
            done += take;
        }
    }

private:
    static void append(QString &text, const char *p, qsizetype count, bool highByte)
    {
        if (!highByte) {
            text.append(QLatin1StringView(p, count));
            return;
        }
        // Filled in place: appending character by character is the slowest part of reading.
        const qsizetype start = text.size();
        text.resize(start + count);
        QChar *out = text.data() + start;
        for (qsizetype i = 0; i < count; ++i)
            out[i] = QChar(static_cast<char16_t>(static_cast<quint8>(p[2 * i]) | (static_cast<quint8>(p[2 * i + 1]) << 8)));
    }
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
    size_t m_segment;
    qsizetype m_offset;
    bool m_ok = true;
};

// One string's header; the cursor stands on its characters afterwards.
struct StringHeader {
    quint16 count = 0;
    bool highByte = false;
    bool hasPhonetic = false;
    quint16 runs = 0;
    quint32 phonetic = 0;
    bool formatted() const { return runs > 0 || hasPhonetic; }
};

StringHeader readHeader(ChainCursor &cursor)
{
    StringHeader header;
    header.count = static_cast<quint16>(cursor.raw(2));
    const quint8 flags = static_cast<quint8>(cursor.raw(1));
    header.highByte = flags & HighByte;
    header.hasPhonetic = flags & PhoneticRuns;
    header.runs = (flags & RichRuns) ? static_cast<quint16>(cursor.raw(2)) : 0;
    header.phonetic = header.hasPhonetic ? cursor.raw(4) : 0;
    return header;
}

} // namespace

Result<SharedStrings> SharedStrings::index(std::vector<QByteArrayView> segments, qint64 position)
{
    SharedStrings table;
    ByteReader counts(segments.empty() ? QByteArrayView() : segments.front());
    table.m_declaredTotal = counts.u32();
    table.m_declaredUnique = counts.u32();
    if (!counts.ok())
        return fail(ErrorCode::Damaged, describeRecord(Id::Sst, position) + QStringLiteral(" слишком короткая"), position);
    if (segments.size() > LocationSpan * 16)
        return fail(ErrorCode::TooLarge, QStringLiteral("таблица строк занимает больше %1 записей").arg(formatCount(LocationSpan * 16)));
    table.m_segments = std::move(segments);

    // Every string takes at least 3 bytes, which bounds what the counts may make us reserve.
    qsizetype totalBytes = 0;
    for (const auto &segment : table.m_segments)
        totalBytes += segment.size();
    const auto reserve = static_cast<size_t>(std::min<qsizetype>(table.m_declaredUnique, totalBytes / 3));
    table.m_locations.reserve(reserve);
    table.m_empty.reserve(reserve);

    ChainCursor cursor(table.m_segments, 0, 8);
    while (table.m_locations.size() < table.m_declaredUnique && !cursor.atEnd()) {
        const quint32 where = static_cast<quint32>(cursor.segment()) * LocationSpan + static_cast<quint32>(cursor.offset());
        const StringHeader header = readHeader(cursor);
        cursor.characters(header.count, header.highByte, nullptr);
        cursor.skipRaw(4ull * header.runs);
        cursor.skipRaw(header.phonetic);
        if (!cursor.ok())
            return fail(ErrorCode::Damaged, QStringLiteral("таблица строк обрывается на строке %1").arg(table.m_locations.size() + 1), position);
        table.m_locations.push_back(where);
        table.m_empty.push_back(header.count == 0);
    }
    table.m_consumedBytes = cursor.consumed();
    return table;
}

SharedStrings::Location SharedStrings::location(qsizetype index) const
{
    const quint32 packed = m_locations[static_cast<size_t>(index)];
    return Location{static_cast<int>(packed / LocationSpan), static_cast<int>(packed % LocationSpan)};
}

QString SharedStrings::text(qsizetype index) const
{
    const Location where = location(index);
    ChainCursor cursor(m_segments, static_cast<size_t>(where.segment), where.offset);
    const StringHeader header = readHeader(cursor);
    QString text;
    cursor.characters(header.count, header.highByte, &text);
    return text; // the table was walked whole when it was indexed, so this cannot fall short
}

bool SharedStrings::isFormatted(qsizetype index) const
{
    const Location where = location(index);
    ChainCursor cursor(m_segments, static_cast<size_t>(where.segment), where.offset);
    return readHeader(cursor).formatted();
}

bool SharedStrings::isPlainText(qsizetype index, QStringView text) const
{
    const Location where = location(index);
    ChainCursor cursor(m_segments, static_cast<size_t>(where.segment), where.offset);
    const StringHeader header = readHeader(cursor);
    if (header.formatted() || header.count != text.size())
        return false;
    QString stored;
    cursor.characters(header.count, header.highByte, &stored);
    return stored == text;
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

namespace {

// An unsplit XLUnicodeString: where its characters are, and where it ends.
struct UnsplitString {
    QByteArrayView characters;
    bool highByte = false;
    quint16 count = 0;
    qsizetype end = 0;
};

std::optional<UnsplitString> locateUnicodeString(QByteArrayView data, qsizetype offset)
{
    if (offset < 0 || offset > data.size())
        return std::nullopt;
    ByteReader reader(data.sliced(offset));
    UnsplitString string;
    string.count = reader.u16();
    const quint8 flags = reader.u8();
    const quint16 runs = (flags & RichRuns) ? reader.u16() : 0;
    const quint32 phonetic = (flags & PhoneticRuns) ? reader.u32() : 0;
    string.highByte = flags & HighByte;
    string.characters = reader.bytes(static_cast<qsizetype>(string.count) * (string.highByte ? 2 : 1));
    reader.skip(4 * static_cast<qsizetype>(runs));
    reader.skip(static_cast<qsizetype>(phonetic));
    if (!reader.ok())
        return std::nullopt;
    string.end = offset + reader.position();
    return string;
}

} // namespace

std::optional<QString> readUnicodeString(QByteArrayView data, qsizetype offset, qsizetype *end)
{
    const auto string = locateUnicodeString(data, offset);
    if (!string)
        return std::nullopt;
    if (end)
        *end = string->end;
    return decodeCharacters(string->characters, string->highByte);
}

std::optional<quint16> unicodeStringLength(QByteArrayView data, qsizetype offset)
{
    const auto string = locateUnicodeString(data, offset);
    return string ? std::optional<quint16>(string->count) : std::nullopt;
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

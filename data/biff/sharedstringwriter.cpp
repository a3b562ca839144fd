#include "sharedstringwriter.h"
#include "../bytereader.h"

#include <algorithm>
#include <limits>

namespace orbelant::biff {

SharedStringWriter::SharedStringWriter(SharedStrings table)
    : m_table(std::move(table)), m_existing(m_table.size())
{
}

// The first plain (unformatted) string of the table equal to `text`, else a new string.
// An edit stores a few texts, so a scan is cheaper than hashing the whole table.
quint32 SharedStringWriter::reference(const QString &text)
{
    ++m_referencesAdded;
    for (qsizetype i = 0; i < m_table.size(); ++i)
        if (m_table.isPlainText(i, text))
            return static_cast<quint32>(i);
    const qsizetype added = m_new.indexOf(text);
    if (added >= 0)
        return static_cast<quint32>(m_existing + added);
    m_new.append(text);
    return static_cast<quint32>(m_existing + m_new.size() - 1);
}

Result<void> SharedStringWriter::write(RecordList &records)
{
    if (m_new.isEmpty() && m_referencesAdded == 0)
        return {};
    const Range &globals = records.substream(0);
    std::optional<size_t> sst;
    for (size_t i = globals.begin; i < globals.end; ++i)
        if (records[i].id == Id::Sst)
            sst = i;

    // Both counts are 32 bits wide. The unique count fits: a stream being edited is under
    // 1 GiB, and a string takes at least 3 bytes. The total only informs and may already
    // stand at its largest value in a file: it stays there rather than wrap to 0, which
    // makes some readers drop the table.
    const qint64 uniqueCount = m_existing + m_new.size();
    const qint64 total = std::clamp<qint64>(static_cast<qint64>(m_table.declaredTotal()) + m_referencesAdded,
                                            uniqueCount > 0 ? 1 : 0, std::numeric_limits<quint32>::max());

    size_t last; // the record new strings are appended to
    if (!sst) {
        QByteArray counts;
        putU32(counts, 0);
        putU32(counts, 0);
        size_t at = globals.end - 1; // before the globals' EOF
        if (records[at].id != Id::Eof)
            at = globals.end;
        records.insert(at, newPiece(Id::Sst, counts));
        sst = at;
        last = at;
    } else {
        last = *sst;
        while (last + 1 < globals.end && records[last + 1].id == Id::Continue)
            ++last;
        // Strings are appended after the last one read; refuse when the table has bytes
        // beyond it, since a reader would take those for our strings.
        const auto &table = m_table;
        const qsizetype chainBytes = [&] {
            qsizetype n = 0;
            for (size_t i = *sst; i <= last; ++i)
                n += records[i].data().size();
            return n;
        }();
        if (!m_new.isEmpty() && table.consumedBytes() != chainBytes)
            return fail(ErrorCode::CannotEdit, QStringLiteral("Таблица строк книги содержит лишние данные."));
    }

    QByteArray &counts = records[*sst].edit();
    setU32(counts, 0, static_cast<quint32>(total));
    setU32(counts, 4, static_cast<quint32>(uniqueCount));

    // Append each new string; a string that does not fit goes on in a CONTINUE record,
    // whose character part starts with a flags byte.
    QByteArray current = records[last].data().toByteArray();
    size_t currentIndex = last;
    int segment = static_cast<int>(last - *sst);
    auto flush = [&] {
        records[currentIndex].replace(current);
        records.insert(currentIndex + 1, newPiece(Id::Continue, {}));
        ++currentIndex;
        ++segment;
        current.clear();
    };
    for (const QString &text : std::as_const(m_new)) {
        const bool high = std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; });
        const qsizetype width = high ? 2 : 1;
        if (current.size() + 3 + (text.isEmpty() ? 0 : width) > MaxRecordData)
            flush();
        m_newLocations.push_back(SharedStrings::Location{segment, static_cast<int>(current.size())});
        putU16(current, static_cast<quint16>(text.size()));
        current.append(static_cast<char>(high ? 0x01 : 0x00));
        qsizetype written = 0;
        while (written < text.size()) {
            qsizetype room = (MaxRecordData - current.size()) / width;
            if (room == 0) {
                flush();
                current.append(static_cast<char>(high ? 0x01 : 0x00));
                room = (MaxRecordData - current.size()) / width;
            }
            const qsizetype take = std::min(room, text.size() - written);
            for (qsizetype i = 0; i < take; ++i) {
                const char16_t c = text[written + i].unicode();
                current.append(static_cast<char>(c & 0xFF));
                if (high)
                    current.append(static_cast<char>(c >> 8));
            }
            written += take;
        }
    }
    records[currentIndex].replace(current);
    m_sstIndex = *sst;
    return {};
}

// Excel's choice: a bucket for every max(n / 128 + 1, 8) strings, a number the record holds
// in 16 bits; past 8,388,479 strings it cannot be written.
Result<void> SharedStringWriter::sizeExtSst(RecordList &records)
{
    if (m_new.isEmpty())
        return {};
    const Range &globals = records.substream(0);
    for (size_t i = globals.begin; i < globals.end; ++i) {
        if (records[i].id != Id::ExtSst)
            continue;
        const qsizetype unique = m_existing + m_new.size();
        const qsizetype perBucket = std::max<qsizetype>(unique / 128 + 1, 8);
        if (perBucket > std::numeric_limits<quint16>::max())
            return fail(ErrorCode::TooLarge, QStringLiteral("в таблице строк больше 8 388 479 разных текстов, и её указатель "
                                                            "(запись EXTSST) не вмещает новых; введите текст, который в книге уже "
                                                            "есть. Книга не изменена"));
        const qsizetype buckets = (unique + perBucket - 1) / perBucket;
        QByteArray data(2 + 8 * buckets, '\0');
        setU16(data, 0, static_cast<quint16>(perBucket));
        records[i].replace(data);
        m_perBucket = perBucket;
    }
    return {};
}

// Each bucket names where its first string's header stands: in the stream, and within
// its record counting the record's own header.
void SharedStringWriter::fillExtSst(RecordList &records) const
{
    if (!m_sstIndex || m_new.isEmpty())
        return;
    const Range &globals = records.substream(0);
    for (size_t i = globals.begin; i < globals.end; ++i) {
        Piece &piece = records[i];
        if (piece.id != Id::ExtSst || !piece.replaced())
            continue;
        // As many buckets as sizeExtSst made room for, each of m_perBucket strings.
        const qsizetype buckets = (piece.replacement->size() - 2) / 8;
        for (qsizetype bucket = 0; bucket < buckets; ++bucket) {
            const qsizetype first = bucket * m_perBucket;
            const auto where = first < m_existing ? m_table.location(first)
                                                  : m_newLocations[static_cast<size_t>(first - m_existing)];
            const Piece &segment = records[*m_sstIndex + static_cast<size_t>(where.segment)];
            setU32(*piece.replacement, 2 + 8 * bucket, static_cast<quint32>(segment.newPosition + 4 + where.offset));
            setU16(*piece.replacement, 2 + 8 * bucket + 4, static_cast<quint16>(4 + where.offset));
        }
    }
}

} // namespace orbelant::biff

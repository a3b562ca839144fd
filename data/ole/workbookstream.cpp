#include "workbookstream.h"
#include "containercheck.h"
#include "../bytereader.h"

#include <vector>

namespace orbelant {

namespace {

// The parts of a compound file this reader uses (the header is 512 bytes in every version).
constexpr qint64 HeaderBytes = 512;
constexpr qsizetype SectorShiftOffset = 30;
constexpr qsizetype MiniSectorShiftOffset = 32;
constexpr qsizetype AllocationSectorCountOffset = 44;
constexpr qsizetype DirectoryStartOffset = 48;
constexpr qsizetype MiniStreamCutoffOffset = 56;
constexpr qsizetype MiniTableStartOffset = 60;
constexpr qsizetype ExtensionStartOffset = 68;
constexpr qsizetype ExtensionCountOffset = 72;
constexpr qsizetype HeaderAllocationListOffset = 76;
constexpr int HeaderAllocationListLength = 109;
constexpr char Signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

constexpr qsizetype EntryBytes = 128;
constexpr qsizetype EntryTypeOffset = 66;
constexpr qsizetype EntryLeftOffset = 68;
constexpr qsizetype EntryStartOffset = 116;
constexpr quint8 StreamEntry = 2;
constexpr quint8 RootEntry = 5;
constexpr quint32 NoEntry = 0xFFFFFFFF;
constexpr quint32 LastRegularSector = 0xFFFFFFF9;
constexpr qint64 MiniSectorBytes = 64;
// Real workbooks have a few dozen entries; the directory read is capped far above that.
constexpr qint64 MaxDirectoryEntries = 65536;

struct Entry {
    QString name;
    quint8 type = 0;
    quint32 left = NoEntry, right = NoEntry, child = NoEntry;
    quint32 start = 0;
    qint64 size = 0;
};

class Reader {
public:
    Reader(const FileBytes &file, const QString &displayName) : m_file(file), m_displayName(displayName) {}

    // The name of the stream found, as the directory spells it.
    const QString &streamName() const { return m_streamName; }

    Result<QByteArray> workbookStream()
    {
        if (auto header = readHeader(); !header)
            return std::unexpected(header.error());
        readAllocationTable();
        readDirectory();
        if (m_entries.empty() || m_entries.front().type != RootEntry)
            return damaged(QStringLiteral("нет корневого элемента каталога"));

        const auto found = findWorkbookEntry();
        if (!found)
            return std::unexpected(found.error());
        if (!*found)
            return fail(ErrorCode::NoWorkbookStream, m_displayName);
        const Entry &entry = m_entries[**found];
        m_streamName = entry.name;
        if (entry.size > m_file.size())
            return damaged(QStringLiteral("поток «%1» длиннее самого файла").arg(entry.name));
        if (entry.size > MaxWorkbookStreamBytes)
            return fail(ErrorCode::TooLarge, QStringLiteral("поток «%1» в файле «%2» длиннее %3 МБ")
                                                 .arg(entry.name, m_displayName).arg(MaxWorkbookStreamBytes >> 20));
        if (entry.size < m_miniStreamCutoff)
            return miniStream(entry);
        return regularStream(entry.start, entry.size, entry.name);
    }

private:
    std::unexpected<Error> damaged(const QString &what) const
    {
        return fail(ErrorCode::Damaged, damagedDetail(m_displayName, what));
    }

    Result<void> readHeader()
    {
        m_header = m_file.read(0, HeaderBytes);
        if (!m_header.startsWith(QByteArrayView(Signature, 8)))
            return fail(ErrorCode::NotCompoundFile, m_displayName);
        if (m_header.size() < HeaderBytes)
            return damaged(QStringLiteral("заголовок контейнера обрезан"));
        const quint16 shift = u16At(m_header, SectorShiftOffset);
        if (shift != 9 && shift != 12)
            return damaged(QStringLiteral("недопустимый размер сектора"));
        if (u16At(m_header, MiniSectorShiftOffset) != 6)
            return damaged(QStringLiteral("недопустимый размер малого сектора"));
        m_sectorBytes = qint64(1) << shift;
        m_sectorsInFile = (m_file.size() + m_sectorBytes - 1) / m_sectorBytes - 1;
        m_miniStreamCutoff = u32At(m_header, MiniStreamCutoffOffset);
        return {};
    }

    static quint16 u16At(QByteArrayView bytes, qsizetype at)
    {
        ByteReader reader(bytes);
        reader.skip(at);
        return reader.u16();
    }
    static quint32 u32At(QByteArrayView bytes, qsizetype at)
    {
        ByteReader reader(bytes);
        reader.skip(at);
        return reader.u32();
    }

    bool isSector(quint32 number) const { return number <= LastRegularSector && qint64(number) < m_sectorsInFile; }
    qint64 sectorPosition(quint32 number) const { return (qint64(number) + 1) * m_sectorBytes; }
    quint32 nextSector(quint32 number) const { return number < m_table.size() ? m_table[number] : NoEntry; }

    // The sectors that hold the allocation table: the header lists the first 109, a chain
    // of extension sectors the rest. The stored count is not trusted: the list ends at
    // the first entry that names no sector of this file.
    void readAllocationTable()
    {
        const quint32 declared = u32At(m_header, AllocationSectorCountOffset);
        const qint64 enough = m_sectorsInFile / (m_sectorBytes / 4) + 1; // to describe every sector of the file
        const qint64 wanted = std::min<qint64>(declared, enough);
        std::vector<quint32> tableSectors;
        for (int i = 0; i < HeaderAllocationListLength && qint64(tableSectors.size()) < wanted; ++i) {
            const quint32 sector = u32At(m_header, HeaderAllocationListOffset + 4 * i);
            if (!isSector(sector))
                break;
            tableSectors.push_back(sector);
        }
        quint32 extension = u32At(m_header, ExtensionStartOffset);
        const quint32 extensionCount = u32At(m_header, ExtensionCountOffset);
        std::vector<bool> seen(static_cast<size_t>(m_sectorsInFile));
        for (quint32 e = 0; e < extensionCount && qint64(tableSectors.size()) < wanted && isSector(extension); ++e) {
            if (seen[extension])
                break;
            seen[extension] = true;
            const QByteArray bytes = m_file.read(sectorPosition(extension), m_sectorBytes);
            const qsizetype perSector = bytes.size() / 4 - 1;
            bool ended = false;
            for (qsizetype i = 0; i < perSector && qint64(tableSectors.size()) < wanted; ++i) {
                const quint32 sector = u32At(bytes, 4 * i);
                if (!isSector(sector)) {
                    ended = true;
                    break;
                }
                tableSectors.push_back(sector);
            }
            if (ended || bytes.size() < m_sectorBytes)
                break;
            extension = u32At(bytes, m_sectorBytes - 4);
        }

        m_table.reserve(tableSectors.size() * static_cast<size_t>(m_sectorBytes / 4));
        for (const quint32 sector : tableSectors) {
            const QByteArray bytes = m_file.read(sectorPosition(sector), m_sectorBytes);
            for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4)
                m_table.push_back(u32At(bytes, at));
        }
    }

    // The sectors of the chain that begins at `start`, up to `limit` of them; the walk
    // stops at the chain's end, at a number that names no sector, or where it loops.
    std::vector<quint32> chain(quint32 start, qint64 limit) const
    {
        std::vector<quint32> sectors;
        std::vector<bool> seen(static_cast<size_t>(m_sectorsInFile));
        for (quint32 sector = start; qint64(sectors.size()) < limit && isSector(sector) && !seen[sector];
             sector = nextSector(sector)) {
            seen[sector] = true;
            sectors.push_back(sector);
        }
        return sectors;
    }

    void readDirectory()
    {
        const quint32 start = u32At(m_header, DirectoryStartOffset);
        for (const quint32 sector : chain(start, MaxDirectoryEntries * EntryBytes / m_sectorBytes)) {
            const QByteArray bytes = m_file.read(sectorPosition(sector), m_sectorBytes);
            for (qsizetype at = 0; at + EntryBytes <= bytes.size(); at += EntryBytes)
                m_entries.push_back(parseEntry(QByteArrayView(bytes).sliced(at, EntryBytes)));
        }
    }

    Entry parseEntry(QByteArrayView bytes) const
    {
        Entry entry;
        ByteReader reader(bytes);
        const QByteArrayView name = reader.bytes(64);
        const quint16 nameBytes = reader.u16();
        entry.type = reader.u8();
        reader.skip(EntryLeftOffset - EntryTypeOffset - 1);
        entry.left = reader.u32();
        entry.right = reader.u32();
        entry.child = reader.u32();
        reader.skip(EntryStartOffset - EntryLeftOffset - 12);
        entry.start = reader.u32();
        entry.size = reader.u32(); // the high half, in version 4 files, is never needed here
        const qsizetype characters = std::clamp<qsizetype>(nameBytes / 2 - 1, 0, 31);
        for (qsizetype i = 0; i < characters; ++i)
            entry.name.append(QChar(static_cast<char16_t>(static_cast<quint8>(name[2 * i]) | (static_cast<quint8>(name[2 * i + 1]) << 8))));
        return entry;
    }

    // Among the root's own streams: "Workbook" first, else "Book", in any case. The walk
    // over the root's tree of children visits every entry at most once.
    Result<std::optional<size_t>> findWorkbookEntry() const
    {
        std::optional<size_t> workbook, book;
        std::vector<bool> seen(m_entries.size());
        std::vector<quint32> pending{m_entries.front().child};
        while (!pending.empty()) {
            const quint32 index = pending.back();
            pending.pop_back();
            if (index >= m_entries.size() || seen[index])
                continue;
            seen[index] = true;
            const Entry &entry = m_entries[index];
            pending.push_back(entry.left);
            pending.push_back(entry.right);
            if (entry.type != StreamEntry)
                continue;
            const bool isWorkbook = entry.name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0;
            const bool isBook = entry.name.compare(QLatin1String("Book"), Qt::CaseInsensitive) == 0;
            if (!isWorkbook && !isBook)
                continue;
            std::optional<size_t> &slot = isWorkbook ? workbook : book;
            if (slot) // which of the two would the workbook be?
                return damaged(QStringLiteral("контейнер содержит два потока «%1»").arg(entry.name));
            slot = index;
        }
        return workbook ? workbook : book;
    }

    // A stream in regular sectors, read a run of neighbouring sectors at a time.
    Result<QByteArray> regularStream(quint32 start, qint64 size, const QString &name) const
    {
        const qint64 needed = (size + m_sectorBytes - 1) / m_sectorBytes;
        const std::vector<quint32> sectors = chain(start, needed);
        if (qint64(sectors.size()) < needed)
            return damaged(QStringLiteral("цепочка секторов потока «%1» оборвана").arg(name));
        QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
        for (size_t i = 0; i < sectors.size();) {
            size_t run = 1;
            while (i + run < sectors.size() && sectors[i + run] == sectors[i] + run)
                ++run;
            const qint64 at = qint64(i) * m_sectorBytes;
            const qint64 length = std::min<qint64>(qint64(run) * m_sectorBytes, size - at);
            if (!m_file.readInto(sectorPosition(sectors[i]), bytes.data() + at, length))
                return damaged(QStringLiteral("поток «%1» выходит за конец файла").arg(name));
            i += run;
        }
        return bytes;
    }

    // A small stream lives in 64-byte sectors inside the root entry's own stream.
    Result<QByteArray> miniStream(const Entry &entry) const
    {
        const Entry &root = m_entries.front();
        const qint64 containerSize = std::min(root.size, m_file.size());
        auto container = regularStream(root.start, containerSize, QStringLiteral("Root Entry"));
        if (!container)
            return container;
        std::vector<quint32> miniTable;
        const qint64 miniTableSectors = (container->size() / MiniSectorBytes * 4) / m_sectorBytes + 1;
        for (const quint32 sector : chain(u32At(m_header, MiniTableStartOffset), miniTableSectors)) {
            const QByteArray bytes = m_file.read(sectorPosition(sector), m_sectorBytes);
            for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4)
                miniTable.push_back(u32At(bytes, at));
        }

        QByteArray bytes;
        bytes.reserve(static_cast<qsizetype>(entry.size));
        std::vector<bool> seen(miniTable.size());
        for (quint32 sector = entry.start; bytes.size() < entry.size; sector = miniTable[sector]) {
            const qint64 at = qint64(sector) * MiniSectorBytes;
            if (sector >= miniTable.size() || seen[sector] || at + MiniSectorBytes > container->size())
                return damaged(QStringLiteral("цепочка малых секторов потока «%1» оборвана").arg(entry.name));
            seen[sector] = true;
            bytes.append(container->constData() + at, std::min(MiniSectorBytes, entry.size - bytes.size()));
        }
        return bytes;
    }

    const FileBytes &m_file;
    QString m_displayName;
    QByteArray m_header;
    qint64 m_sectorBytes = 512;
    qint64 m_sectorsInFile = 0;
    qint64 m_miniStreamCutoff = 4096;
    std::vector<quint32> m_table;
    std::vector<Entry> m_entries;
    QString m_streamName;
};

} // namespace

Result<WorkbookStream> readWorkbookStream(const FileBytes &file, const QString &displayName)
{
    Reader reader(file, displayName);
    auto bytes = reader.workbookStream();
    if (!bytes)
        return std::unexpected(bytes.error());
    const auto checked = checkContainer(file, displayName);
    return WorkbookStream{std::move(*bytes), reader.streamName(), checked.has_value() && *checked};
}

} // namespace orbelant

#include "containercheck.h"
#include "../bytereader.h"
#include "../numbertext.h"

#include <QList>

namespace orbelant {

namespace {

// The parts of a compound file that we check before libgsf sees it.
constexpr qsizetype HeaderBytes = 512;
constexpr qsizetype SectorShiftOffset = 30;
constexpr qsizetype AllocationSectorCountOffset = 44;
constexpr qsizetype DirectoryStartOffset = 48;
constexpr qsizetype ExtensionStartOffset = 68;
constexpr qsizetype HeaderAllocationListOffset = 76;
constexpr qsizetype HeaderAllocationListLength = 109;
constexpr char Signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
// An allocation table may describe at most twice the sectors of the largest file we read.
constexpr qint64 MaxDescribedSectors = 2 * MaxContainerBytes / 512;

constexpr qsizetype EntryBytes = 128;
constexpr qsizetype EntryTypeOffset = 66;
constexpr qsizetype EntryLeftOffset = 68;
constexpr qsizetype EntryChildOffset = 76;
constexpr qsizetype EntrySizeOffset = 120;
constexpr quint8 StorageEntry = 1;
constexpr quint8 StreamEntry = 2;
constexpr quint8 RootEntry = 5;
constexpr quint32 NoEntry = 0xFFFFFFFF;
constexpr quint32 LastRegularSector = 0xFFFFFFF9;
// libgsf recurses once per directory link (about 250 bytes of stack each) and inserts
// every entry into a sorted list; real workbooks have a few dozen entries.
constexpr int MaxDirectoryDepth = 2048;
constexpr qsizetype MaxDirectoryEntries = 10000;

// libgsf trusts the header's sector size and allocation-table size for its first
// allocations (one of them on the stack), so those two are checked here first.
Result<void> checkHeader(const QByteArray &headerBytes, const QString &displayName)
{
    ByteReader signature(headerBytes);
    if (signature.bytes(8) != QByteArrayView(Signature, 8))
        return fail(ErrorCode::NotCompoundFile, displayName);
    if (headerBytes.size() < HeaderBytes)
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("заголовок контейнера обрезан")));

    ByteReader header(headerBytes);
    header.skip(SectorShiftOffset);
    const quint16 sectorShift = header.u16();
    header.skip(AllocationSectorCountOffset - SectorShiftOffset - 2);
    const quint32 allocationSectors = header.u32();
    if (!header.ok() || (sectorShift != 9 && sectorShift != 12))
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("недопустимый размер сектора")));

    const qint64 entriesPerSector = (qint64(1) << sectorShift) / 4;
    if (qint64(allocationSectors) * entriesPerSector > MaxDescribedSectors)
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("таблица размещения несоразмерно велика")));
    return {};
}

// Reads the directory the way libgsf will, before it does: libgsf recurses once per link
// between entries, so a long chain of entries in a hostile file overflows its stack, and
// it silently leaves out any entry it cannot use together with everything linked from
// it. We refuse the first and note the second, so that such a file is never rewritten
// without those entries.
class DirectoryCheck {
public:
    DirectoryCheck(const FileBytes &file, const QByteArray &header, const QString &displayName)
        : m_file(file), m_header(header), m_displayName(displayName)
    {
    }

    // Whether every linked entry is usable; an error when libgsf must not see the file.
    Result<bool> run()
    {
        ByteReader header(m_header);
        header.skip(SectorShiftOffset);
        m_sectorBytes = qsizetype(1) << header.u16();
        header.skip(AllocationSectorCountOffset - SectorShiftOffset - 2);
        const quint32 allocationSectors = header.u32();
        const quint32 directoryStart = header.u32();
        header.skip(ExtensionStartOffset - DirectoryStartOffset - 4);
        const quint32 extensionStart = header.u32();
        const quint32 extensionCount = header.u32();
        if (!header.ok())
            return false;
        readAllocationSectors(allocationSectors, extensionStart, extensionCount);
        readDirectorySectors(directoryStart);
        return walkEntries();
    }

private:
    // Where the allocation table lives: 109 sector numbers in the header, the rest in a
    // chain of extension sectors.
    void readAllocationSectors(quint32 count, quint32 extensionSector, quint32 extensionCount)
    {
        ByteReader header(m_header);
        header.skip(HeaderAllocationListOffset);
        for (quint32 i = 0; i < count && i < HeaderAllocationListLength; ++i)
            m_allocationSectors.push_back(header.u32());
        const qsizetype perExtension = m_sectorBytes / 4 - 1;
        for (quint32 e = 0; e < extensionCount && m_allocationSectors.size() < qsizetype(count); ++e) {
            const QByteArray extensionBytes = sector(extensionSector);
            ByteReader extension(extensionBytes);
            for (qsizetype i = 0; i < perExtension && m_allocationSectors.size() < qsizetype(count); ++i)
                m_allocationSectors.push_back(extension.u32());
            extensionSector = extension.u32();
            if (!extension.ok())
                return;
        }
    }

    QByteArray sector(quint32 number) const
    {
        const qint64 start = (qint64(number) + 1) * m_sectorBytes;
        if (start + m_sectorBytes > m_file.size())
            return {};
        return m_file.read(start, m_sectorBytes);
    }

    quint32 nextSector(quint32 number) const
    {
        const qsizetype perSector = m_sectorBytes / 4;
        const qsizetype tableSector = number / perSector;
        if (tableSector >= m_allocationSectors.size())
            return NoEntry;
        const QByteArray tableBytes = sector(m_allocationSectors[tableSector]);
        ByteReader table(tableBytes);
        table.skip((number % perSector) * 4);
        const quint32 next = table.u32();
        return table.ok() ? next : NoEntry;
    }

    // The directory's sector chain, stopping where it loops back (as libgsf does).
    void readDirectorySectors(quint32 number)
    {
        std::vector<bool> seen;
        while (number <= LastRegularSector && qint64(number) < MaxDescribedSectors) {
            if (seen.size() <= number)
                seen.resize(number + 1);
            if (seen[number])
                return;
            seen[number] = true;
            m_directorySectors.push_back(number);
            number = nextSector(number);
        }
    }

    QByteArray entry(quint32 index) const
    {
        const qsizetype perSector = m_sectorBytes / EntryBytes;
        if (index / perSector >= m_directorySectors.size())
            return {};
        const QByteArray bytes = sector(m_directorySectors[index / perSector]);
        if (bytes.isEmpty())
            return {};
        return bytes.sliced((index % perSector) * EntryBytes, EntryBytes);
    }

    Result<bool> walkEntries()
    {
        struct Link {
            quint32 index;
            int depth;
        };
        std::vector<Link> pending{{0, 1}};
        std::vector<bool> seen(static_cast<size_t>(m_directorySectors.size() * (m_sectorBytes / EntryBytes)));
        bool complete = true;
        qsizetype visited = 0;
        while (!pending.empty()) {
            const Link link = pending.back();
            pending.pop_back();
            if (link.index == NoEntry)
                continue;
            if (link.depth > MaxDirectoryDepth)
                return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("каталог контейнера слишком глубок")));
            if (++visited > MaxDirectoryEntries)
                return fail(ErrorCode::TooLarge, QStringLiteral("в файле «%1» больше %2 элементов контейнера")
                                                     .arg(m_displayName, formatCount(MaxDirectoryEntries)));
            const QByteArray entryBytes = entry(link.index);
            ByteReader reader(entryBytes);
            reader.skip(EntryTypeOffset);
            const quint8 type = reader.u8();
            reader.skip(EntryLeftOffset - EntryTypeOffset - 1);
            const quint32 left = reader.u32();
            const quint32 right = reader.u32();
            const quint32 child = reader.u32();
            reader.skip(EntrySizeOffset - EntryChildOffset - 4);
            const quint32 size = reader.u32();
            const bool usable = reader.ok() && link.index < seen.size() && !seen[link.index]
                && (link.index == 0 ? type == RootEntry : type == StorageEntry || type == StreamEntry)
                && (type != StreamEntry || size <= quint64(m_file.size()));
            if (!usable) {
                complete = false;
                continue;
            }
            seen[link.index] = true;
            // The root has no siblings; libgsf would read them and then drop them.
            if (link.index == 0 && (left != NoEntry || right != NoEntry))
                complete = false;
            pending.push_back({left, link.depth + 1});
            pending.push_back({right, link.depth + 1});
            if (type != StreamEntry)
                pending.push_back({child, link.depth + 1});
        }
        return complete;
    }

    const FileBytes &m_file;
    QByteArray m_header;
    QString m_displayName;
    qsizetype m_sectorBytes = 512;
    QList<quint32> m_allocationSectors;
    QList<quint32> m_directorySectors;
};

} // namespace

QString damagedDetail(const QString &displayName, const QString &what)
{
    return QStringLiteral("в файле «%1» %2").arg(displayName, what);
}

Result<bool> checkContainer(const FileBytes &file, const QString &displayName)
{
    const QByteArray header = file.read(0, HeaderBytes);
    if (auto checked = checkHeader(header, displayName); !checked)
        return std::unexpected(checked.error());
    return DirectoryCheck(file, header, displayName).run();
}

} // namespace orbelant

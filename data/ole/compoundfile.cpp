#include "compoundfile.h"
#include "containercheck.h"
#include "../bytereader.h"

#include <algorithm>

namespace orbelant::compound {

namespace {

constexpr char Signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
constexpr quint32 LastRegularSector = 0xFFFFFFF9;
constexpr qint64 MiniSectorBytes = 64;
// Real workbooks have a few dozen entries; the directory read is capped far above that.
constexpr qint64 MaxDirectoryEntries = 65536;

quint16 u16At(QByteArrayView bytes, qsizetype at)
{
    ByteReader reader(bytes);
    reader.skip(at);
    return reader.u16();
}

quint32 u32At(QByteArrayView bytes, qsizetype at)
{
    ByteReader reader(bytes);
    reader.skip(at);
    return reader.u32();
}

Entry parseEntry(QByteArrayView bytes)
{
    Entry entry;
    ByteReader reader(bytes);
    const QByteArrayView name = reader.bytes(NameLengthAt);
    const quint16 nameBytes = reader.u16();
    entry.type = reader.u8();
    reader.skip(LeftSiblingAt - TypeAt - 1);
    entry.left = reader.u32();
    entry.right = reader.u32();
    entry.child = reader.u32();
    reader.skip(StartSectorAt - ChildAt - 4);
    entry.start = reader.u32();
    entry.size = reader.u32();
    const qsizetype characters = std::clamp<qsizetype>(nameBytes / 2 - 1, 0, 31);
    for (qsizetype i = 0; i < characters; ++i)
        entry.name.append(QChar(static_cast<char16_t>(static_cast<quint8>(name[2 * i]) | (static_cast<quint8>(name[2 * i + 1]) << 8))));
    return entry;
}

} // namespace

Result<CompoundFile> CompoundFile::parse(const FileBytes &file, const QString &displayName)
{
    CompoundFile container(file, displayName);
    if (auto header = container.readHeader(); !header)
        return std::unexpected(header.error());
    container.readAllocationTable();
    container.readDirectory();
    return container;
}

Result<void> CompoundFile::readHeader()
{
    m_header = m_file.read(0, HeaderBytes);
    if (!m_header.startsWith(QByteArrayView(Signature, 8)))
        return fail(ErrorCode::NotCompoundFile, m_displayName);
    if (m_header.size() < HeaderBytes)
        return damagedContainer(m_displayName, QStringLiteral("заголовок контейнера обрезан"));
    const quint16 shift = u16At(m_header, SectorShiftAt);
    if (shift != 9 && shift != 12)
        return damagedContainer(m_displayName, QStringLiteral("недопустимый размер сектора"));
    if (u16At(m_header, MiniSectorShiftAt) != 6)
        return damagedContainer(m_displayName, QStringLiteral("недопустимый размер малого сектора"));
    m_sectorBytes = qint64(1) << shift;
    m_sectorsInFile = (m_file.size() + m_sectorBytes - 1) / m_sectorBytes - 1;
    m_miniStreamCutoff = u32At(m_header, MiniStreamCutoffAt);
    m_declaredTableSectors = u32At(m_header, TableSectorCountAt);
    return {};
}

bool CompoundFile::isSector(quint32 number) const
{
    return number <= LastRegularSector && qint64(number) < m_sectorsInFile;
}

// A sector of the allocation table or of the directory; one that the end of the file
// cuts short is read as far as it goes, and noted.
QByteArray CompoundFile::structureSector(quint32 number)
{
    QByteArray bytes = m_file.read(sectorPosition(number), m_sectorBytes);
    m_structureCutShort = m_structureCutShort || bytes.size() < m_sectorBytes;
    return bytes;
}

// The sectors that hold the allocation table: the header lists the first 109, a chain of
// extension sectors the rest. The list ends at the first entry that names no sector of
// this file, at the end of the extension chain, or where that chain loops.
std::vector<quint32> CompoundFile::tableSectorList(qint64 wanted) const
{
    std::vector<quint32> sectors;
    for (int i = 0; i < HeaderTableListLength && qint64(sectors.size()) < wanted; ++i) {
        const quint32 sector = u32At(m_header, HeaderTableListAt + 4 * i);
        if (!isSector(sector))
            return sectors;
        sectors.push_back(sector);
    }
    quint32 extension = u32At(m_header, ExtensionStartAt);
    const quint32 extensionCount = u32At(m_header, ExtensionCountAt);
    const qsizetype perExtension = m_sectorBytes / 4 - 1; // the last entry links the next one
    std::vector<bool> seen(static_cast<size_t>(m_sectorsInFile));
    for (quint32 e = 0; e < extensionCount && qint64(sectors.size()) < wanted; ++e) {
        if (!isSector(extension) || seen[extension])
            return sectors;
        seen[extension] = true;
        const QByteArray bytes = m_file.read(sectorPosition(extension), m_sectorBytes);
        if (bytes.size() < m_sectorBytes)
            return sectors;
        for (qsizetype i = 0; i < perExtension && qint64(sectors.size()) < wanted; ++i) {
            const quint32 sector = u32At(bytes, 4 * i);
            if (!isSector(sector))
                return sectors;
            sectors.push_back(sector);
        }
        extension = u32At(bytes, 4 * perExtension);
    }
    return sectors;
}

// The stored count is not trusted for more than the table it takes to describe every
// sector of the file.
void CompoundFile::readAllocationTable()
{
    const qint64 enough = m_sectorsInFile / (m_sectorBytes / 4) + 1;
    const qint64 wanted = std::min<qint64>(m_declaredTableSectors, enough);
    const std::vector<quint32> sectors = tableSectorList(wanted);
    m_tableListComplete = qint64(sectors.size()) == wanted;
    m_table.reserve(sectors.size() * static_cast<size_t>(m_sectorBytes / 4));
    for (const quint32 sector : sectors) {
        const QByteArray bytes = structureSector(sector);
        for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4)
            m_table.push_back(u32At(bytes, at));
    }
}

// The sectors of the chain that begins at `start`, up to `limit` of them; the walk stops
// at the chain's end, at a number that names no sector, or where it loops.
std::vector<quint32> CompoundFile::chain(quint32 start, qint64 limit) const
{
    std::vector<quint32> sectors;
    std::vector<bool> seen(static_cast<size_t>(m_sectorsInFile));
    for (quint32 sector = start; qint64(sectors.size()) < limit && isSector(sector) && !seen[sector];
         sector = sector < m_table.size() ? m_table[sector] : NoEntry) {
        seen[sector] = true;
        sectors.push_back(sector);
    }
    return sectors;
}

void CompoundFile::readDirectory()
{
    m_directorySectors = chain(u32At(m_header, DirectoryStartAt), MaxDirectoryEntries * EntryBytes / m_sectorBytes);
    for (const quint32 sector : m_directorySectors) {
        const QByteArray bytes = structureSector(sector);
        for (qsizetype at = 0; at + EntryBytes <= bytes.size(); at += EntryBytes)
            m_entries.push_back(parseEntry(QByteArrayView(bytes).sliced(at, EntryBytes)));
    }
}

qint64 CompoundFile::entryPosition(quint32 index) const
{
    if (index >= m_entries.size())
        return -1;
    const qint64 perSector = m_sectorBytes / EntryBytes;
    return sectorPosition(m_directorySectors[index / perSector]) + (index % perSector) * EntryBytes;
}

Result<QByteArray> CompoundFile::streamBytes(const Entry &entry) const
{
    if (entry.size > m_file.size())
        return damagedContainer(m_displayName, QStringLiteral("поток «%1» длиннее самого файла").arg(entry.name));
    if (entry.size < m_miniStreamCutoff)
        return miniStream(entry);
    return regularStream(entry.start, entry.size, entry.name);
}

// A stream in regular sectors, read a run of neighbouring sectors at a time.
Result<QByteArray> CompoundFile::regularStream(quint32 start, qint64 size, const QString &name) const
{
    const qint64 needed = (size + m_sectorBytes - 1) / m_sectorBytes;
    const std::vector<quint32> sectors = chain(start, needed);
    if (qint64(sectors.size()) < needed)
        return damagedContainer(m_displayName, QStringLiteral("цепочка секторов потока «%1» оборвана").arg(name));
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    for (size_t i = 0; i < sectors.size();) {
        size_t run = 1;
        while (i + run < sectors.size() && sectors[i + run] == sectors[i] + run)
            ++run;
        const qint64 at = qint64(i) * m_sectorBytes;
        const qint64 length = std::min<qint64>(qint64(run) * m_sectorBytes, size - at);
        if (!m_file.readInto(sectorPosition(sectors[i]), bytes.data() + at, length))
            return damagedContainer(m_displayName, QStringLiteral("поток «%1» выходит за конец файла").arg(name));
        i += run;
    }
    return bytes;
}

// A small stream lives in 64-byte sectors inside the root entry's own stream, chained by
// the mini allocation table.
Result<QByteArray> CompoundFile::miniStream(const Entry &entry) const
{
    if (m_entries.empty())
        return damagedContainer(m_displayName, QStringLiteral("нет корневого элемента каталога"));
    const Entry &root = m_entries.front();
    auto container = regularStream(root.start, std::min(root.size, m_file.size()), QStringLiteral("Root Entry"));
    if (!container)
        return container;
    std::vector<quint32> miniTable;
    const qint64 miniTableSectors = (container->size() / MiniSectorBytes * 4) / m_sectorBytes + 1;
    for (const quint32 sector : chain(u32At(m_header, MiniTableStartAt), miniTableSectors)) {
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
            return damagedContainer(m_displayName, QStringLiteral("цепочка малых секторов потока «%1» оборвана").arg(entry.name));
        seen[sector] = true;
        bytes.append(container->constData() + at, std::min(MiniSectorBytes, entry.size - bytes.size()));
    }
    return bytes;
}

} // namespace orbelant::compound

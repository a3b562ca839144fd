#pragma once
// The layout of a compound file (the OLE2 container of an .xls file) and the one parser of
// its header, allocation tables and directory. The reader of the workbook stream and the
// check before a rewrite both work from what it finds, and the tests damage files at the
// offsets named here. Nothing read from the file is trusted: a sector number counts only
// when it names a sector of this file, and every walk along a chain stops where it loops.

#include "../error.h"
#include "../storage/filebytes.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace orbelant::compound {

// Where the header's fields stand (the header is 512 bytes in every version).
constexpr qsizetype HeaderBytes = 512;
constexpr qsizetype SectorShiftAt = 30;
constexpr qsizetype MiniSectorShiftAt = 32;
constexpr qsizetype TableSectorCountAt = 44;  // sectors of the allocation table
constexpr qsizetype DirectoryStartAt = 48;
constexpr qsizetype MiniStreamCutoffAt = 56;  // smaller streams live in the mini-stream
constexpr qsizetype MiniTableStartAt = 60;
constexpr qsizetype ExtensionStartAt = 68;    // the chain that lists the table's sectors past the 109th
constexpr qsizetype ExtensionCountAt = 72;
constexpr qsizetype HeaderTableListAt = 76;   // the table's first 109 sectors
constexpr int HeaderTableListLength = 109;

// Where a directory entry's fields stand.
constexpr qsizetype EntryBytes = 128;
constexpr qsizetype NameLengthAt = 64; // in bytes, with the terminating zero
constexpr qsizetype TypeAt = 66;
constexpr qsizetype LeftSiblingAt = 68;
constexpr qsizetype RightSiblingAt = 72;
constexpr qsizetype ChildAt = 76;
constexpr qsizetype ClassIdAt = 80;
constexpr qsizetype StartSectorAt = 116;
constexpr qsizetype SizeAt = 120;

constexpr quint8 StorageEntry = 1;
constexpr quint8 StreamEntry = 2;
constexpr quint8 RootEntry = 5;
constexpr quint32 NoEntry = 0xFFFFFFFF;
constexpr quint32 EndOfChain = 0xFFFFFFFE;

struct Entry {
    QString name;
    quint8 type = 0;
    quint32 left = NoEntry, right = NoEntry, child = NoEntry;
    quint32 start = EndOfChain;
    qint64 size = 0; // the high half, in version 4 files, is never needed here
};

class CompoundFile {
public:
    // Refuses NotCompoundFile, and Damaged: a header cut short or sector sizes no version
    // has. Everything past the header is read as far as it goes.
    static Result<CompoundFile> parse(const FileBytes &file, const QString &displayName);

    // The directory in the order its sectors chain; entry 0 is the root.
    const std::vector<Entry> &entries() const { return m_entries; }
    // Where entry `index` starts in the file; -1 when the directory has no such entry.
    qint64 entryPosition(quint32 index) const;
    // A stream's bytes, from regular sectors or from the mini-stream. Damaged (naming the
    // stream) when it is longer than the file, its chain ends early or runs past the end.
    Result<QByteArray> streamBytes(const Entry &entry) const;

    // For the check before a rewrite: the allocation table's size as the header declares
    // it; whether the header's list and its extension name every table sector that the
    // file's size calls for; whether the file ends inside a sector of the table or of the
    // directory.
    qint64 fileSize() const { return m_file.size(); }
    qint64 sectorBytes() const { return m_sectorBytes; }
    quint32 declaredTableSectors() const { return m_declaredTableSectors; }
    bool tableListComplete() const { return m_tableListComplete; }
    bool structureCutShort() const { return m_structureCutShort; }

private:
    CompoundFile(const FileBytes &file, const QString &displayName) : m_file(file), m_displayName(displayName) {}
    Result<void> readHeader();
    void readAllocationTable();
    std::vector<quint32> tableSectorList(qint64 wanted) const;
    void readDirectory();
    QByteArray structureSector(quint32 number);
    bool isSector(quint32 number) const;
    qint64 sectorPosition(quint32 number) const { return (qint64(number) + 1) * m_sectorBytes; }
    std::vector<quint32> chain(quint32 start, qint64 limit) const;
    Result<QByteArray> regularStream(quint32 start, qint64 size, const QString &name) const;
    Result<QByteArray> miniStream(const Entry &entry) const;

    FileBytes m_file;
    QString m_displayName;
    QByteArray m_header;
    qint64 m_sectorBytes = 512;
    qint64 m_sectorsInFile = 0; // a last sector cut short counts
    qint64 m_miniStreamCutoff = 4096;
    quint32 m_declaredTableSectors = 0;
    bool m_tableListComplete = false;
    bool m_structureCutShort = false;
    std::vector<quint32> m_table;
    std::vector<quint32> m_directorySectors;
    std::vector<Entry> m_entries;
};

} // namespace orbelant::compound

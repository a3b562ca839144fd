#pragma once
// Helpers shared by the engine tests: where the shared corpus is, files as bytes, compound-file
// directory entries patched in place, and the independent Python tools (xlwt makes workbooks,
// xlrd and a checker of our own read what we wrote: tests/support/xls_oracle.py).

#include "bytereader.h"
#include "ole/compoundfile.h"
#include "sheettable.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace testsupport {

// The folder with real workbooks from other writers; empty when this checkout has none.
inline QString corpusDir()
{
    const QDir dir(QStringLiteral(ORBELANT_SHARED_DIR "/xls-corpus"));
    return dir.exists() ? dir.absolutePath() : QString();
}

struct ProcessResult { int exitCode = -1; QByteArray out, err; };

inline ProcessResult run(const QString &program, const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// xls_oracle.py with Debian's Python, which has xlrd and xlwt.
inline ProcessResult oracle(const QString &mode, const QStringList &paths, const QByteArray &input = {})
{
    return run(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral(ORBELANT_SOURCE_DIR "/tests/support/xls_oracle.py"), mode} + paths, input);
}

// Workbooks written by xlwt: {"OUT.xls": {"sheets": [...], "blocks": bool}, ...}.
inline bool makeWorkbooks(const QJsonObject &byPath) { return oracle(QStringLiteral("make"), {}, QJsonDocument(byPath).toJson()).exitCode == 0; }

// What the independent reader and checker see in each file, by path.
inline QJsonObject oracleReport(const QStringList &paths)
{
    const auto report = oracle(QStringLiteral("report"), paths);
    return report.exitCode == 0 ? QJsonDocument::fromJson(report.out).object() : QJsonObject{{"xls_oracle.py", QString::fromUtf8(report.err)}};
}

// A table in the line format of `orbelant-xls dump` and of xls_oracle.py's tables.
inline QString tableText(const orbelant::SheetTable &table)
{
    QStringList lines;
    for (qsizetype record = -1; record < table.recordCount(); ++record) {
        QStringList fields;
        for (qsizetype column = 0; column < table.columnCount(); ++column)
            fields.append(QString(record < 0 ? table.columns[column] : table.text(record, column)).replace(u'\\', QLatin1String("\\\\"))
                              .replace(u'\t', QLatin1String("\\t")).replace(u'\n', QLatin1String("\\n")).replace(u'\r', QLatin1String("\\r")));
        lines.append(fields.join(u'\t'));
    }
    return lines.join(u'\n') + u'\n';
}

// Compound files damaged in place, at the offsets the engine's own parser names
// (compound::TypeAt, compound::DirectoryStartAt, …).
using namespace orbelant::compound;

// A directory entry's name: UTF-16 (this test runs little-endian) with its terminating zero.
inline QByteArray utf16Name(const QString &name) { return QByteArray(reinterpret_cast<const char *>(name.utf16()), 2 * name.size() + 2); }

// The directory index of the first entry named `name` (an empty name: the first free
// entry) and where it starts in the file; -1 and -1 when there is none.
struct EntryPlace { qint64 index = -1, at = -1; };
inline EntryPlace findEntry(const QByteArray &file, const QString &name)
{
    const auto container = CompoundFile::parse(orbelant::FileBytes::fromMemory(file), QStringLiteral("test"));
    for (quint32 i = 0; container && i < container->entries().size(); ++i)
        if (container->entries()[i].name == name && (!name.isEmpty() || container->entries()[i].type == 0))
            return {i, container->entryPosition(i)};
    return {};
}

inline qint64 entryOffset(const QByteArray &file, const QString &name) { return findEntry(file, name).at; }

inline void setName(QByteArray &file, qsizetype at, const QString &name)
{
    const QByteArray bytes = utf16Name(name);
    file.replace(at, NameLengthAt, bytes + QByteArray(NameLengthAt - bytes.size(), '\0'));
    orbelant::setU16(file, at + NameLengthAt, static_cast<quint16>(bytes.size()));
}

inline void renameEntry(QByteArray &file, const QString &from, const QString &to) { setName(file, entryOffset(file, from), to); }

// Copies the Workbook entry into the first free entry under another name, linked in as the
// Workbook's right sibling; `storageClassId` makes it an empty storage with that class id.
inline void addEntry(QByteArray &file, const QString &name, const QByteArray &storageClassId = {})
{
    const qint64 workbook = entryOffset(file, QStringLiteral("Workbook"));
    const EntryPlace free = findEntry(file, QString());
    const qint64 at = free.at;
    file.replace(at, EntryBytes, file.mid(workbook, EntryBytes));
    setName(file, at, name);
    orbelant::setU32(file, workbook + RightSiblingAt, static_cast<quint32>(free.index));
    if (!storageClassId.isEmpty()) {
        file[at + TypeAt] = StorageEntry;
        file.replace(at + ClassIdAt, 16, storageClassId);
        file.replace(at + StartSectorAt, 8, QByteArray(8, '\0')); // start sector and size
    }
}

} // namespace testsupport

// The compound-file container: which files are workbooks at all, the Workbook stream under
// any name, a container damaged around a whole stream (shown, never written), and a new
// container with only the Workbook stream replaced.

#include "ole/compounddocument.h"
#include "ole/containercheck.h"
#include "ole/workbookstream.h"
#include "bytereader.h"
#include "testsupport.h"
#include "workbook.h"
#include "writeback.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace orbelant;

namespace {

// Directory entries of a compound file, patched in place to build damaged or unusual
// containers from a good one. Offsets are those of a 128-byte directory entry.
constexpr qsizetype EntrySize = 128, NameLengthAt = 64, TypeAt = 66, RightSiblingAt = 72, ClassIdAt = 80, SizeAt = 120;

QByteArray utf16Name(const QString &name)
{
    QByteArray bytes;
    for (QChar c : name)
        putU16(bytes, c.unicode());
    return bytes + QByteArray(2, '\0');
}

// Where the entry named `name` starts, or -1. xlwt writes its directory in one sector.
qsizetype entryOffset(const QByteArray &file, const QString &name)
{
    const QByteArray wanted = utf16Name(name);
    for (qsizetype at = 512; at + EntrySize <= file.size(); at += EntrySize)
        if (file.mid(at, wanted.size()) == wanted && ByteReader(file.mid(at + NameLengthAt, 2)).u16() == wanted.size())
            return at;
    return -1;
}

void renameEntry(QByteArray &file, const QString &from, const QString &to)
{
    const qsizetype at = entryOffset(file, from);
    const QByteArray name = utf16Name(to);
    file.replace(at, 64, name + QByteArray(64 - name.size(), '\0'));
    setU16(file, at + NameLengthAt, static_cast<quint16>(name.size()));
}

// Turns a stream entry into an empty storage with the given class id.
void makeEmptyStorage(QByteArray &file, const QString &name, const QByteArray &classId)
{
    const qsizetype at = entryOffset(file, name);
    file[at + TypeAt] = 1;
    file.replace(at + ClassIdAt, 16, classId);
    file.replace(at + 116, 8, QByteArray(8, '\0')); // start sector and size
}

// Copies the Workbook entry into the first free entry under another name and links it
// in as the Workbook's right sibling.
void addSecondWorkbookEntry(QByteArray &file, const QString &name)
{
    const qsizetype workbook = entryOffset(file, QStringLiteral("Workbook"));
    const qsizetype directory = 512 + qsizetype(ByteReader(file.mid(48, 4)).u32()) * 512;
    qsizetype freeEntry = directory;
    while (file[freeEntry + TypeAt] != 0)
        freeEntry += EntrySize;
    file.replace(freeEntry, EntrySize, file.mid(workbook, EntrySize));
    renameEntry(file, QStringLiteral("Workbook"), QStringLiteral("Temporary"));
    renameEntry(file, QStringLiteral("Workbook"), name);
    renameEntry(file, QStringLiteral("Temporary"), QStringLiteral("Workbook"));
    setU32(file, workbook + RightSiblingAt, static_cast<quint32>((freeEntry - directory) / EntrySize));
}

// A container whose root holds a Workbook and `siblings` empty streams, each linked as the
// right sibling of the one before: a chain as deep as it is long.
QByteArray chainedContainer(int siblings)
{
    const quint32 none = 0xFFFFFFFF, endOfChain = 0xFFFFFFFE;
    QByteArray directory;
    for (int i = -1; i <= siblings; ++i) {
        QByteArray entry = utf16Name(i < 0 ? QStringLiteral("Root Entry") : i == 0 ? QStringLiteral("Workbook") : QStringLiteral("S%1").arg(i));
        const auto nameBytes = static_cast<quint16>(entry.size());
        entry.append(64 - entry.size(), '\0');
        putU16(entry, nameBytes);
        entry.append(i < 0 ? char(5) : char(2)).append(char(1));
        for (quint32 link : {none, i >= 0 && i < siblings ? quint32(i + 2) : none, i < 0 ? 1u : none})
            putU32(entry, link);
        entry.append(36, '\0');
        putU32(entry, endOfChain);
        directory += entry + QByteArray(8, '\0');
    }
    directory.append((512 - directory.size() % 512) % 512, '\0');
    const auto directorySectors = quint32(directory.size() / 512), tableSectors = (directorySectors + 127) / 128 + 1;
    QByteArray table;
    for (quint32 s = 0; s < directorySectors + tableSectors; ++s)
        putU32(table, s + 1 < directorySectors ? s + 1 : s < directorySectors ? endOfChain : 0xFFFFFFFD);
    table.append(qsizetype(tableSectors) * 512 - table.size(), '\xFF');
    QByteArray header = QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(16, '\0');
    for (int v : {0x3E, 3, 0xFFFE, 9, 6, 0, 0, 0})
        putU16(header, static_cast<quint16>(v));
    for (quint32 v : {0u, tableSectors, 0u, 0u, 0x1000u, endOfChain, 0u, endOfChain, 0u})
        putU32(header, v);
    for (quint32 s = 0; s < 109; ++s)
        putU32(header, s < tableSectors ? directorySectors + s : none);
    return header + directory + table;
}

const QByteArray CustomClassId = QByteArray::fromHex("00112233445566778899aabbccddeeff");

enum class PathKind { File, Missing, Directory, Unreadable, Corpus };
using Patch = std::function<void(QByteArray &)>;

} // namespace

Q_DECLARE_METATYPE(PathKind)
Q_DECLARE_METATYPE(ErrorCode)
Q_DECLARE_METATYPE(Patch)

class CompoundDocumentTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_small = m_dir.filePath(QStringLiteral("small.xls"));
        m_large = m_dir.filePath(QStringLiteral("large.xls"));
        QJsonArray rows;
        for (int i = 0; i < 2000; ++i)
            rows.append(QJsonArray{QStringLiteral("Ярус %1").arg(i), i * 0.5});
        QVERIFY(testsupport::makeWorkbooks(
            {{m_small, QJsonDocument::fromJson(R"({"sheets": [{"name": "Эры", "rows": [["Эра", "Начало"], ["Кайнозой", 66.0]]}]})").object()},
             {m_large, QJsonObject{{"sheets", QJsonArray{QJsonObject{{"name", "Эры"}, {"rows", rows}}}}}}}));
    }

    void refusesWhatIsNotAWorkbook_data()
    {
        QTest::addColumn<PathKind>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ErrorCode>("expected");
        const QByteArray good = testsupport::readAll(m_small);
        const auto row = [&](const char *name, PathKind kind, ErrorCode code, const Patch &patch) {
            QByteArray bytes = good;
            if (patch)
                patch(bytes);
            QTest::newRow(name) << kind << bytes << code;
        };
        const auto corpus = [](const char *file) { return [=](QByteArray &b) { b = file; }; };
        row("missing file", PathKind::Missing, ErrorCode::FileMissing, {});
        row("a directory", PathKind::Directory, ErrorCode::FileUnreadable, {});
        row("no read permission", PathKind::Unreadable, ErrorCode::FileUnreadable, [](QByteArray &) {});
        row("text file", PathKind::File, ErrorCode::NotCompoundFile, [](QByteArray &b) { b = "Эра;Начало\r\n"; });
        row("Excel 95 file from Excel", PathKind::Corpus, ErrorCode::OldFormat, corpus("pe__Test95.xls"));
        row("bare BIFF4 stream", PathKind::Corpus, ErrorCode::OldFormat, corpus("xlrd__biff4_no_format_no_window2.xls"));
        row("other stream only", PathKind::File, ErrorCode::NoWorkbookStream, [](QByteArray &b) { renameEntry(b, "Workbook", "Sheet"); });
        row("Workbook is a storage", PathKind::File, ErrorCode::NoWorkbookStream,
            [](QByteArray &b) { makeEmptyStorage(b, "Workbook", QByteArray(16, '\0')); });
        row("two Workbook streams differing in case", PathKind::File, ErrorCode::Damaged,
            [](QByteArray &b) { addSecondWorkbookEntry(b, "WORKBOOK"); });
        row("header cut short", PathKind::File, ErrorCode::Damaged, [](QByteArray &b) { b.truncate(100); });
        row("sector size 1 MiB", PathKind::File, ErrorCode::Damaged, [](QByteArray &b) { setU16(b, 30, 20); });
        row("directory start past the end", PathKind::File, ErrorCode::Damaged, [](QByteArray &b) { setU32(b, 48, 0x00FFFFF0u); });
        row("Workbook longer than the file", PathKind::File, ErrorCode::Damaged,
            [](QByteArray &b) { setU32(b, entryOffset(b, "Workbook") + SizeAt, 0x7FFFFFFFu); });
        row("Workbook longer than its sector chain", PathKind::File, ErrorCode::Damaged,
            [](QByteArray &b) { setU32(b, entryOffset(b, "Workbook") + SizeAt, quint32(b.size())); });
        row("directory chain 3000 entries deep", PathKind::File, ErrorCode::Damaged, [](QByteArray &b) { b = chainedContainer(3000); });
    }
    // The program's read refuses and says why; a save's open of a bad container refuses too.
    void refusesWhatIsNotAWorkbook()
    {
        QFETCH(PathKind, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(ErrorCode, expected);
        QString path = m_dir.filePath(kind == PathKind::Directory ? QStringLiteral("папка.xls") : QStringLiteral("книга.xls"));
        QFile::remove(path);
        if (kind == PathKind::Directory)
            QVERIFY(QDir().mkpath(path));
        if (kind == PathKind::Corpus) {
            if (testsupport::corpusDir().isEmpty())
                QSKIP("no workbook corpus in this checkout");
            path = testsupport::corpusDir() + u'/' + QString::fromLatin1(bytes);
        }
        if (kind == PathKind::Unreadable && geteuid() == 0)
            QSKIP("root reads a file without read permission");
        if (kind == PathKind::File || kind == PathKind::Unreadable)
            QVERIFY(testsupport::writeBytes(path, bytes));
        if (kind == PathKind::Unreadable)
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        const auto table = readSheet(path, QStringLiteral("Эры"));
        QVERIFY(!table);
        QCOMPARE(table.error().code, expected);
        QVERIFY2(table.error().message.contains(QFileInfo(path).fileName()), qPrintable(table.error().message));
        QVERIFY(expected == ErrorCode::OldFormat || !CompoundDocument::open(path));
    }

    // Compound-file names ignore case; which format the stream holds its first record says.
    // An edit keeps the stream's name.
    void findsTheWorkbookUnderAnyName()
    {
        for (const QString &name : {QStringLiteral("workbook"), QStringLiteral("BOOK")}) {
            QByteArray bytes = testsupport::readAll(m_small);
            renameEntry(bytes, QStringLiteral("Workbook"), name);
            const QString path = m_dir.filePath(name + QStringLiteral(".xls"));
            QVERIFY(testsupport::writeBytes(path, bytes));
            const auto table = readSheet(path, QStringLiteral("Эры"));
            QVERIFY(table && storeRecord(path, *table, 0, {{0, QStringLiteral("Неоген")}}));
            QCOMPARE(readSheet(path, QStringLiteral("Эры"))->text(0, 0), QStringLiteral("Неоген"));
            const QJsonArray entries = testsupport::oracleReport({path})[path][QStringLiteral("entries")].toArray();
            QVERIFY(std::any_of(entries.begin(), entries.end(), [&](const QJsonValue &e) { return e[QStringLiteral("path")] == name; }));
        }
    }

    // A container damaged around a whole Workbook stream, which libgsf would not rewrite
    // whole: the rows are shown, the table says why it must not be saved, a save is refused
    // and the file stays as it was. So for such a file from another reader's crash reports.
    void damagedContainerIsShownButNeverWritten_data()
    {
        QTest::addColumn<Patch>("patch");
        QTest::newRow("allocation table claims 2^31 sectors more") << Patch([](QByteArray &b) { b[47] = char(0x80); });
        QTest::newRow("another stream longer than the file") << Patch([](QByteArray &b) {
            addSecondWorkbookEntry(b, QStringLiteral("Summary"));
            setU32(b, entryOffset(b, QStringLiteral("Summary")) + SizeAt, 0x7FFFFFFFu);
        });
        QTest::newRow("cut inside its last sector") << Patch([](QByteArray &b) { b.chop(1); });
        QTest::newRow("an entry of unknown type") << Patch([](QByteArray &b) {
            addSecondWorkbookEntry(b, QStringLiteral("Summary"));
            b[entryOffset(b, QStringLiteral("Summary")) + TypeAt] = 7;
        });
        if (!testsupport::corpusDir().isEmpty())
            QTest::newRow("another reader's crash report") << Patch([](QByteArray &b) {
                b = testsupport::readAll(testsupport::corpusDir() + QStringLiteral("/bad/libxls__xls2csv_ole_read_MSAT_body_637.xls"));
            });
    }
    void damagedContainerIsShownButNeverWritten()
    {
        QFETCH(Patch, patch);
        QByteArray bytes = testsupport::readAll(m_small);
        patch(bytes);
        const QString path = m_dir.filePath(QStringLiteral("повреждённая.xls"));
        QVERIFY(testsupport::writeBytes(path, bytes));
        const auto names = worksheetNames(path);
        QVERIFY(names && !names->isEmpty());
        const auto table = readSheet(path, names->first());
        QVERIFY2(table, table ? "" : qPrintable(table.error().message));
        QVERIFY(names->first() != QStringLiteral("Эры") || table->text(0, 0) == QStringLiteral("Кайнозой"));
        QVERIFY(table->notSaveable && table->notSaveable->message.contains(QStringLiteral("повреждённая.xls")));
        const auto stored = storeRecord(path, *table, 0, {{0, QStringLiteral("Неоген")}});
        QVERIFY(!stored && (table->recordCount() == 0 || stored.error().code == ErrorCode::DamagedReadOnly));
        QCOMPARE(testsupport::readAll(path), bytes);
    }

    // A new container holds the new stream, padded to a full block, and every other entry
    // as it was: streams, storages and class ids.
    void replacesOnlyTheWorkbookStream_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("shorter");
        QTest::newRow("a stream below the mini-stream cutoff is padded") << "small" << true;
        QTest::newRow("class ids and an empty storage") << "patched" << false;
        QTest::newRow("Excel 97 with a VBA storage") << "pe__Test97.xls" << false;
    }
    void replacesOnlyTheWorkbookStream()
    {
        QFETCH(QString, file);
        QFETCH(bool, shorter);
        QString original = file == QLatin1String("small") ? m_small : m_dir.filePath(QStringLiteral("original.xls"));
        if (file == QLatin1String("patched")) {
            QByteArray bytes = testsupport::readAll(m_small);
            bytes.replace(entryOffset(bytes, QStringLiteral("Root Entry")) + ClassIdAt, 16, QByteArray::fromHex("2008020000000000c000000000000046"));
            addSecondWorkbookEntry(bytes, QStringLiteral("Empty storage"));
            makeEmptyStorage(bytes, QStringLiteral("Empty storage"), CustomClassId);
            QVERIFY(testsupport::writeBytes(original, bytes));
        } else if (file != QLatin1String("small")) {
            if (testsupport::corpusDir().isEmpty())
                QSKIP("no workbook corpus in this checkout");
            original = testsupport::corpusDir() + u'/' + file;
        }
        const auto document = CompoundDocument::open(original);
        QVERIFY2(document, document ? "" : qPrintable(document.error().message));
        const QByteArray stream = shorter ? document->workbookStream().left(1000) : CompoundDocument::open(m_large)->workbookStream();
        const QString copy = m_dir.filePath(QStringLiteral("rewritten.xls"));
        QVERIFY(testsupport::writeBytes(copy, *document->withWorkbookStream(stream)));

        const auto readBack = readWorkbookStream(*FileBytes::open(copy, copy, MaxContainerBytes), copy);
        QCOMPARE(readBack.value_or(WorkbookStream{}).bytes, stream + QByteArray(std::max<qsizetype>(0, 4096 - stream.size()), '\0'));
        const QJsonObject report = testsupport::oracleReport({original, copy});
        QJsonArray before = report[original][QStringLiteral("entries")].toArray(), after = report[copy][QStringLiteral("entries")].toArray();
        for (QJsonArray *entries : {&before, &after})
            for (QJsonValueRef entry : *entries)
                if (entry.toObject()[QStringLiteral("path")] == QStringLiteral("Workbook"))
                    entry = QJsonValue();
        QCOMPARE(after, before);
        QVERIFY(file != QLatin1String("patched") || QJsonDocument(after).toJson().contains(CustomClassId.toHex()));
    }

    // A save reads the file again to build the new one, and refuses when another program
    // replaced it meanwhile; the file is left as that program wrote it.
    void refusesToSaveOverAFileChangedSinceItWasRead()
    {
        const QString path = m_dir.filePath(QStringLiteral("changing.xls"));
        QVERIFY(testsupport::writeBytes(path, testsupport::readAll(m_small)));
        const auto document = CompoundDocument::open(path);
        QVERIFY(document && document->saveWithWorkbookStream(path, document->workbookStream()));
        const QByteArray other = testsupport::readAll(m_large);
        QVERIFY(testsupport::writeBytes(path, other));
        const auto refused = document->saveWithWorkbookStream(path, document->workbookStream());
        QVERIFY(!refused && refused.error().code == ErrorCode::ChangedOnDisk);
        QCOMPARE(testsupport::readAll(path), other);
    }

private:
    QTemporaryDir m_dir;
    QString m_small; // two rows from xlwt: a Workbook stream of one 4 KiB block
    QString m_large; // two thousand rows from xlwt
};

QTEST_GUILESS_MAIN(CompoundDocumentTest)
#include "tst_compounddocument.moc"

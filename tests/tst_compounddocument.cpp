#include "ole/compounddocument.h"
#include "workbook.h"
#include "bytereader.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace orbelant;

namespace {

// Directory entries of a compound file, patched in place to build damaged or unusual
// containers from a good one. Offsets are those of a 128-byte directory entry.
constexpr qsizetype EntrySize = 128;
constexpr qsizetype NameLengthAt = 64;
constexpr qsizetype TypeAt = 66;
constexpr qsizetype RightSiblingAt = 72;
constexpr qsizetype ClassIdAt = 80;
constexpr qsizetype StartSectorAt = 116;
constexpr qsizetype SizeAt = 120;
constexpr char StorageType = 1;

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
    for (qsizetype at = 512; at + EntrySize <= file.size(); at += EntrySize) {
        if (file.mid(at, wanted.size()) == wanted && ByteReader(file.mid(at + NameLengthAt, 2)).u16() == wanted.size())
            return at;
    }
    return -1;
}

void renameEntry(QByteArray &file, const QString &from, const QString &to)
{
    const qsizetype at = entryOffset(file, from);
    QVERIFY(at >= 0);
    const QByteArray name = utf16Name(to);
    file.replace(at, 64, name + QByteArray(64 - name.size(), '\0'));
    setU16(file, at + NameLengthAt, static_cast<quint16>(name.size()));
}

// Turns a stream entry into an empty storage with the given class id.
void makeEmptyStorage(QByteArray &file, const QString &name, const QByteArray &classId)
{
    const qsizetype at = entryOffset(file, name);
    QVERIFY(at >= 0);
    file[at + TypeAt] = StorageType;
    file.replace(at + ClassIdAt, 16, classId);
    setU32(file, at + StartSectorAt, 0);
    setU32(file, at + SizeAt, 0);
}

void setRootClassId(QByteArray &file, const QByteArray &classId)
{
    const qsizetype at = entryOffset(file, QStringLiteral("Root Entry"));
    QVERIFY(at >= 0);
    file.replace(at + ClassIdAt, 16, classId);
}

// Copies the Workbook entry into the first free entry under another name and links it
// in as the Workbook's right sibling.
void addSecondWorkbookEntry(QByteArray &file, const QString &name)
{
    const qsizetype workbook = entryOffset(file, QStringLiteral("Workbook"));
    const qsizetype directory = 512 + qsizetype(ByteReader(file.mid(48, 4)).u32()) * 512;
    qsizetype freeEntry = directory;
    while (freeEntry < directory + 512 && file[freeEntry + TypeAt] != 0)
        freeEntry += EntrySize;
    QVERIFY(workbook >= 0 && freeEntry < directory + 512);
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
    auto addEntry = [&](const QString &name, char type, quint32 right, quint32 child) {
        QByteArray entry = utf16Name(name);
        const quint16 nameBytes = static_cast<quint16>(entry.size());
        entry.append(64 - entry.size(), '\0');
        putU16(entry, nameBytes);
        entry.append(type).append(char(1));
        putU32(entry, none);
        putU32(entry, right);
        putU32(entry, child);
        entry.append(36, '\0');
        putU32(entry, endOfChain);
        entry.append(8, '\0');
        directory += entry;
    };
    addEntry(QStringLiteral("Root Entry"), 5, none, 1);
    for (int i = 0; i <= siblings; ++i)
        addEntry(i == 0 ? QStringLiteral("Workbook") : QStringLiteral("S%1").arg(i), 2, i < siblings ? quint32(i + 2) : none, none);
    directory.append((512 - directory.size() % 512) % 512, '\0');

    const quint32 directorySectors = quint32(directory.size() / 512);
    const quint32 tableSectors = (directorySectors + 127) / 128 + 1;
    QByteArray table;
    for (quint32 s = 0; s < directorySectors; ++s)
        putU32(table, s + 1 < directorySectors ? s + 1 : endOfChain);
    for (quint32 s = 0; s < tableSectors; ++s)
        putU32(table, 0xFFFFFFFD);
    while (table.size() < qsizetype(tableSectors) * 512)
        putU32(table, none);

    QByteArray header = QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(16, '\0');
    for (int v : {0x3E, 3, 0xFFFE, 9, 6, 0, 0, 0})
        putU16(header, static_cast<quint16>(v));
    for (quint32 v : {0u, tableSectors, 0u, 0u, 0x1000u, endOfChain, 0u, endOfChain, 0u})
        putU32(header, v);
    for (quint32 s = 0; s < 109; ++s)
        putU32(header, s < tableSectors ? directorySectors + s : none);
    return header + directory + table;
}

const QByteArray ExcelClassId = QByteArray::fromHex("2008020000000000c000000000000046");
const QByteArray CustomClassId = QByteArray::fromHex("00112233445566778899aabbccddeeff");

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Entries of a compound file as xlrd's container reader sees them, by path.
QMap<QString, QJsonObject> entriesOf(const QString &path)
{
    const auto described = testsupport::runScript(QStringLiteral("make_xls.py"), {QStringLiteral("describe"), path});
    QMap<QString, QJsonObject> entries;
    for (const auto &entry : QJsonDocument::fromJson(described.out).object().value(QStringLiteral("entries")).toArray())
        entries.insert(entry.toObject().value(QStringLiteral("path")).toString(), entry.toObject());
    return entries;
}

QJsonValue sheetsOf(const QString &path)
{
    const auto described = testsupport::runScript(QStringLiteral("make_xls.py"), {QStringLiteral("describe"), path});
    return QJsonDocument::fromJson(described.out).object().value(QStringLiteral("sheets"));
}

enum class PathKind { File, Missing, Directory, Unreadable, Corpus };

} // namespace

Q_DECLARE_METATYPE(PathKind)
Q_DECLARE_METATYPE(ErrorCode)

class CompoundDocumentTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_small = m_dir.filePath(QStringLiteral("small.xls"));
        m_large = m_dir.filePath(QStringLiteral("large.xls"));
        const auto small = testsupport::runScript(
            QStringLiteral("make_xls.py"), {QStringLiteral("make"), m_small},
            R"({"sheets": [{"name": "Эры", "rows": [["Эра", "Начало"], ["Кайнозой", 66.0], ["Мезозой", 251.902]]}]})");
        QVERIFY2(small.exitCode == 0, small.err.constData());
        QJsonArray rows;
        for (int i = 0; i < 2000; ++i)
            rows.append(QJsonArray{QStringLiteral("Ярус %1").arg(i), i * 0.5, QJsonObject{{"date", "2004-02-29"}}});
        const QJsonObject large{{"sheets", QJsonArray{QJsonObject{{"name", "Ярусы"}, {"rows", rows}}}}};
        const auto made = testsupport::runScript(QStringLiteral("make_xls.py"), {QStringLiteral("make"), m_large},
                                                 QJsonDocument(large).toJson());
        QVERIFY2(made.exitCode == 0, made.err.constData());
    }

    void refusesWhatIsNotAWorkbook_data()
    {
        QTest::addColumn<PathKind>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ErrorCode>("expected");

        const QByteArray good = testsupport::readAll(m_small);
        auto patched = [&](auto patch) {
            QByteArray bytes = good;
            patch(bytes);
            return bytes;
        };
        QTest::newRow("missing file") << PathKind::Missing << QByteArray() << ErrorCode::FileMissing;
        QTest::newRow("a directory") << PathKind::Directory << QByteArray() << ErrorCode::FileUnreadable;
        QTest::newRow("no read permission") << PathKind::Unreadable << good << ErrorCode::FileUnreadable;
        QTest::newRow("empty file") << PathKind::File << QByteArray() << ErrorCode::NotCompoundFile;
        QTest::newRow("text file") << PathKind::File << QByteArray("Эра;Начало\r\nКайнозой;66\r\n") << ErrorCode::NotCompoundFile;
        QTest::newRow("Excel 95 file from Excel") << PathKind::Corpus << QByteArray("pe__Test95.xls") << ErrorCode::OldFormat;
        QTest::newRow("other stream only")
            << PathKind::File << patched([](QByteArray &b) { renameEntry(b, "Workbook", "Sheet"); }) << ErrorCode::NoWorkbookStream;
        QTest::newRow("Workbook is a storage")
            << PathKind::File << patched([](QByteArray &b) { makeEmptyStorage(b, "Workbook", QByteArray(16, '\0')); })
            << ErrorCode::NoWorkbookStream;
        QTest::newRow("two Workbook streams differing in case")
            << PathKind::File << patched([](QByteArray &b) { addSecondWorkbookEntry(b, "WORKBOOK"); }) << ErrorCode::Damaged;
        QTest::newRow("header cut short") << PathKind::File << good.left(100) << ErrorCode::Damaged;
        QTest::newRow("sector size 1 MiB") << PathKind::File << patched([](QByteArray &b) { setU16(b, 30, 20); }) << ErrorCode::Damaged;
        QTest::newRow("directory start past the end")
            << PathKind::File << patched([](QByteArray &b) { setU32(b, 48, 0x00FFFFF0u); }) << ErrorCode::Damaged;
        QTest::newRow("Workbook longer than the file")
            << PathKind::File << patched([](QByteArray &b) { setU32(b, entryOffset(b, "Workbook") + SizeAt, 0x7FFFFFFFu); })
            << ErrorCode::Damaged;
        QTest::newRow("directory chain 3000 entries deep") << PathKind::File << chainedContainer(3000) << ErrorCode::Damaged;
        QTest::newRow("Workbook longer than its sector chain")
            << PathKind::File << patched([](QByteArray &b) { setU32(b, entryOffset(b, "Workbook") + SizeAt, quint32(b.size())); })
            << ErrorCode::Damaged;
    }
    void refusesWhatIsNotAWorkbook()
    {
        QFETCH(PathKind, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(ErrorCode, expected);

        QString path = m_dir.filePath(QStringLiteral("книга.xls"));
        QFile::remove(path);
        switch (kind) {
        case PathKind::File:
            QVERIFY(writeFile(path, bytes));
            break;
        case PathKind::Missing:
            break;
        case PathKind::Directory:
            path = m_dir.filePath(QStringLiteral("папка.xls"));
            QVERIFY(QDir().mkpath(path));
            break;
        case PathKind::Unreadable:
            if (geteuid() == 0)
                QSKIP("root reads a file without read permission");
            QVERIFY(writeFile(path, bytes));
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
            break;
        case PathKind::Corpus:
            if (testsupport::corpusDir().isEmpty())
                QSKIP("no workbook corpus in this checkout");
            path = testsupport::corpusDir() + QLatin1Char('/') + QString::fromLatin1(bytes);
            break;
        }

        // The program's read refuses and says why; a save's open of a bad container refuses too.
        const auto table = readSheet(path, QStringLiteral("Эры"));
        QVERIFY(!table);
        QCOMPARE(table.error().code, expected);
        QVERIFY2(table.error().message.contains(QFileInfo(path).fileName()), qPrintable(table.error().message));
        if (expected != ErrorCode::OldFormat)
            QVERIFY(!CompoundDocument::open(path));
    }

    void findsWorkbookUnderAnyCaseAndKeepsItsName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Workbook") << "Workbook";
        QTest::newRow("WORKBOOK") << "WORKBOOK";
        QTest::newRow("workbook") << "workbook";
        QTest::newRow("WorkBook") << "WorkBook";
    }
    void findsWorkbookUnderAnyCaseAndKeepsItsName()
    {
        QFETCH(QString, name);
        QByteArray bytes = testsupport::readAll(m_small);
        const QByteArray stream = CompoundDocument::fromBytes(bytes, "small.xls")->workbookStream();
        renameEntry(bytes, QStringLiteral("Workbook"), name);

        const auto document = CompoundDocument::fromBytes(bytes, QStringLiteral("small.xls"));
        QVERIFY2(document, document ? "" : qPrintable(document.error().message));
        QCOMPARE(document->workbookStream(), stream);

        const auto rewritten = document->withWorkbookStream(stream);
        QVERIFY(rewritten);
        const QString path = m_dir.filePath(QStringLiteral("renamed.xls"));
        QVERIFY(writeFile(path, *rewritten));
        QVERIFY(entriesOf(path).contains(name));
    }

    // A document opened from a file reads the file again to build the new one, and refuses
    // when another program replaced it meanwhile; the file is left as that program wrote it.
    void refusesToSaveOverAFileChangedSinceItWasRead()
    {
        const QString path = m_dir.filePath(QStringLiteral("changing.xls"));
        QVERIFY(writeFile(path, testsupport::readAll(m_small)));
        const auto document = CompoundDocument::open(path);
        QVERIFY(document);
        const QByteArray stream = document->workbookStream();
        QVERIFY(document->saveWithWorkbookStream(path, stream)); // unchanged: saved

        const QByteArray other = testsupport::readAll(m_large);
        QVERIFY(writeFile(path, other));
        const auto refused = document->saveWithWorkbookStream(path, stream);
        QVERIFY(!refused);
        QCOMPARE(refused.error().code, ErrorCode::ChangedOnDisk);
        QCOMPARE(testsupport::readAll(path), other);
    }

    // Replacing the Workbook stream must leave every other entry of the container as it
    // was, read back by xlrd's container reader, and the new stream must read back whole.
    void replacesOnlyTheWorkbookStream_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("replacement"); // "same", "larger" or "short"
        QTest::newRow("xlwt, same stream") << "small" << "same";
        QTest::newRow("xlwt, larger stream from another workbook") << "small" << "larger";
        QTest::newRow("xlwt, stream below the mini-stream cutoff is padded") << "small" << "short";
        QTest::newRow("class ids and an empty storage") << "patched" << "same";
        QTest::newRow("Excel 97 with VBA storage") << "pe__Test97.xls" << "same";
        QTest::newRow("Excel 97 with VBA storage, larger stream") << "pe__Test97.xls" << "larger";
        QTest::newRow("Mac Excel with summary information") << "libxls__dates-1904.xls" << "same";
        QTest::newRow("LibreOffice Calc") << "xlrd__Formate.xls" << "same";
        QTest::newRow("Japanese Excel 97") << "pe__AuthorK.xls" << "short";
    }
    void replacesOnlyTheWorkbookStream()
    {
        QFETCH(QString, file);
        QFETCH(QString, replacement);

        QString original = file == QLatin1String("small") ? m_small : m_dir.filePath(QStringLiteral("original.xls"));
        if (file == QLatin1String("patched")) {
            QByteArray bytes = testsupport::readAll(m_small);
            setRootClassId(bytes, ExcelClassId);
            addSecondWorkbookEntry(bytes, QStringLiteral("Empty storage"));
            makeEmptyStorage(bytes, QStringLiteral("Empty storage"), CustomClassId);
            QVERIFY(writeFile(original, bytes));
        } else if (file != QLatin1String("small")) {
            if (testsupport::corpusDir().isEmpty())
                QSKIP("no workbook corpus in this checkout");
            original = testsupport::corpusDir() + QLatin1Char('/') + file;
        }

        const auto document = CompoundDocument::open(original);
        QVERIFY2(document, document ? "" : qPrintable(document.error().message));
        QByteArray stream = document->workbookStream();
        if (replacement == QLatin1String("larger"))
            stream = CompoundDocument::open(m_large)->workbookStream();
        else if (replacement == QLatin1String("short"))
            stream = stream.left(1000);

        const auto rewritten = document->withWorkbookStream(stream);
        QVERIFY2(rewritten, rewritten ? "" : qPrintable(rewritten.error().message));
        const QString copy = m_dir.filePath(QStringLiteral("rewritten.xls"));
        QVERIFY(writeFile(copy, *rewritten));

        const auto reopened = CompoundDocument::open(copy);
        QVERIFY2(reopened, reopened ? "" : qPrintable(reopened.error().message));
        const QByteArray readBack = reopened->workbookStream();
        QCOMPARE(readBack.left(stream.size()), stream);
        QCOMPARE(readBack.size(), std::max<qsizetype>(stream.size(), 4096));
        QCOMPARE(readBack.mid(stream.size()), QByteArray(readBack.size() - stream.size(), '\0'));

        auto before = entriesOf(original);
        auto after = entriesOf(copy);
        QVERIFY(before.size() >= 2);
        QCOMPARE(after.keys(), before.keys());
        for (const QString &path : before.keys()) {
            if (path.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0)
                continue;
            QCOMPARE(after[path], before[path]);
        }
        if (file == QLatin1String("patched")) {
            QCOMPARE(after[QString()].value("clsid").toString(), QString::fromLatin1(ExcelClassId.toHex()));
            QCOMPARE(after["Empty storage"].value("type").toString(), QStringLiteral("storage"));
        }
        if (replacement == QLatin1String("same"))
            QCOMPARE(sheetsOf(copy), sheetsOf(original));
        if (replacement == QLatin1String("larger"))
            QCOMPARE(sheetsOf(copy), sheetsOf(m_large));
    }

    void refusesToRewriteWhatLibgsfLeavesOut_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("rewritable");
        QTest::newRow("directory chain 1000 entries deep") << chainedContainer(1000) << true;
        QByteArray oversized = testsupport::readAll(m_small);
        addSecondWorkbookEntry(oversized, QStringLiteral("Summary"));
        setU32(oversized, entryOffset(oversized, QStringLiteral("Summary")) + SizeAt, 0x7FFFFFFFu);
        QTest::newRow("a stream longer than the file") << oversized << false;
        QByteArray unknownType = testsupport::readAll(m_small);
        addSecondWorkbookEntry(unknownType, QStringLiteral("Summary"));
        unknownType[entryOffset(unknownType, QStringLiteral("Summary")) + TypeAt] = 7;
        QTest::newRow("an entry of unknown type") << unknownType << false;
    }
    void refusesToRewriteWhatLibgsfLeavesOut()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, rewritable);
        const auto document = CompoundDocument::fromBytes(bytes, QStringLiteral("книга.xls"));
        QVERIFY2(document, document ? "" : qPrintable(document.error().message));
        const auto rewritten = document->withWorkbookStream(document->workbookStream());
        QCOMPARE(bool(rewritten), rewritable);
        if (!rewritable)
            QCOMPARE(rewritten.error().code, ErrorCode::Damaged);
    }

    // Damaged containers from readers' crash reports, cuts of good files and noise behind
    // a valid signature: each must end in an error value (or a readable document).
    void survivesHostileContainers()
    {
        QList<QPair<QString, QByteArray>> inputs;
        const QStringList goodFiles{m_small, m_large, testsupport::corpusDir() + QStringLiteral("/pe__Test97.xls")};
        for (const QString &path : goodFiles) {
            const QByteArray good = testsupport::readAll(path);
            for (qsizetype cut : {qsizetype(7), qsizetype(511), qsizetype(512), qsizetype(1024), good.size() / 3,
                                  good.size() / 2, good.size() - 512, good.size() - 1})
                if (cut > 0 && cut < good.size())
                    inputs.append({QStringLiteral("%1 cut at %2").arg(QFileInfo(path).fileName()).arg(cut), good.left(cut)});
        }
        QRandomGenerator random(20240229);
        for (int i = 0; i < 20; ++i) {
            QByteArray noise(4096 * (1 + i % 4), Qt::Uninitialized);
            for (char &byte : noise)
                byte = static_cast<char>(random.bounded(256));
            noise.replace(0, 8, QByteArray::fromHex("d0cf11e0a1b11ae1"));
            setU16(noise, 30, 9);
            inputs.append({QStringLiteral("noise %1").arg(i), noise});
        }
        if (!testsupport::corpusDir().isEmpty()) {
            const QDir bad(testsupport::corpusDir() + QStringLiteral("/bad"));
            for (const QString &name : bad.entryList({QStringLiteral("*.xls")}, QDir::Files))
                inputs.append({name, testsupport::readAll(bad.filePath(name))});
        }

        for (const auto &[name, bytes] : inputs) {
            const auto document = CompoundDocument::fromBytes(bytes, name);
            if (!document) {
                QVERIFY2(!document.error().message.isEmpty(), qPrintable(name));
                continue;
            }
            // What does open must also copy, or refuse cleanly.
            const auto rewritten = document->withWorkbookStream(document->workbookStream());
            if (rewritten)
                QVERIFY2(CompoundDocument::fromBytes(*rewritten, name), qPrintable(name));
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_small; // three rows from xlwt: a Workbook stream of one 4 KiB block
    QString m_large; // two thousand rows from xlwt
};

QTEST_GUILESS_MAIN(CompoundDocumentTest)
#include "tst_compounddocument.moc"

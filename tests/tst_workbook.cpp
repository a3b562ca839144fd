// Workbooks read and written. Which files are workbooks at all; containers damaged around a
// whole Workbook stream (shown, never written); Workbook streams damaged on purpose. Then
// scenarios of edits, each on a copy (or none: the file is only read), after which an
// independent reader and checker (xls_oracle.py: xlrd, and a check of every record that holds
// a position or a count) must find the new values, every other cell, sheet and stream as it
// was, and no bookkeeping fault that was not there before; our reader must show every
// worksheet as xlrd does, or refuse what xlrd takes for old, encrypted or unreadable.

#include "biff/recordlist.h"
#include "biff/rewritecheck.h"
#include "biff/sheetcells.h"
#include "ole/compounddocument.h"
#include "ole/workbookstream.h"
#include "testsupport.h"
#include "workbook.h"
#include "writeback.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

using namespace orbelant;
using namespace orbelant::biff;
using namespace testsupport;

namespace {

const QString Sheet = QStringLiteral("Эры");
const char *const EraWorkbook = R"({"sheets": [{"name": "Эры", "rows": [["Эра", "Начало, млн лет", "Утверждено"],
    ["Кайнозой", 66.0, {"date": "1990-01-02"}], ["Мезозой", 251.902, null]]}]})";
const QString EraText = QStringLiteral("Эра\tНачало, млн лет\tУтверждено\nКайнозой\t66\t02.01.1990\nМезозой\t251,902\t\n");

// A container whose root holds an empty Workbook stream and `count` more entries: empty
// streams, each the right sibling of the one before (a tree as deep as it is long), or
// storages, each inside the one before.
QByteArray chainedContainer(int count, bool nested = false)
{
    const quint32 none = 0xFFFFFFFF, endOfChain = 0xFFFFFFFE;
    QByteArray directory;
    for (int i = -1; i <= count; ++i) {
        QByteArray entry(EntryBytes, '\0');
        setName(entry, 0, i < 0 ? QStringLiteral("Root Entry") : i == 0 ? QStringLiteral("Workbook") : QStringLiteral("S%1").arg(i));
        entry[TypeAt] = i < 0 ? char(5) : i > 0 && nested ? char(1) : char(2);
        entry[TypeAt + 1] = 1; // black
        const quint32 next = i >= 0 && i < count ? quint32(i + 2) : none;
        for (auto [at, link] : {std::pair{LeftSiblingAt, none}, {RightSiblingAt, i == 0 || !nested ? next : none}, {ChildAt, i < 0 ? 1u : i > 0 && nested ? next : none}, {StartSectorAt, endOfChain}})
            setU32(entry, at, link);
        directory += entry;
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

// What a row damages: the Workbook stream of era.xls or of long.xls (read from memory), or
// the file era.xls, or the file system (no file, a folder in its place).
enum class Target { Stream, LongStream, File, Missing, Directory };

// Little-endian 16-bit values.
QByteArray u16s(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        putU16(bytes, static_cast<quint16>(v));
    return bytes;
}

QByteArray record(quint16 id, const QByteArray &data) { return u16s({id, int(data.size())}) + data; }

// Where the `nth` record with `id` (0 = the first) starts, -1 when there is none; its data
// starts 4 bytes on.
qsizetype findRecord(const QByteArray &s, quint16 id, int nth = 0)
{
    for (qsizetype at = 0; at + 4 <= s.size(); at += 4 + ByteReader(s.mid(at + 2, 2)).u16())
        if (ByteReader(s.mid(at, 2)).u16() == id && nth-- == 0)
            return at;
    return -1;
}

qsizetype recordEnd(const QByteArray &s, quint16 id) { return findRecord(s, id) + 4 + ByteReader(s.mid(findRecord(s, id) + 2, 2)).u16(); }

QByteArray numberCell(int row, int column, double value)
{
    QByteArray data = u16s({row, column, 15});
    putF64(data, value);
    return record(Id::Number, data);
}

// A FORMULA in C3 whose cached result is not a number: type 0 string, 1 boolean, 2 error.
QByteArray formulaCell(int resultType, int payload) { return record(Id::Formula, u16s({2, 2, 15, resultType, payload, 0, 0xFFFF, 0, 0, 0, 0})); }

QByteArray stringRecord(int declaredLength, const QByteArray &latin1) { return record(Id::String, u16s({declaredLength}) + '\0' + latin1); }

void setLength(QByteArray &s, quint16 id, quint16 length) { setU16(s, findRecord(s, id) + 2, length); }

// New records go before the sheet's EOF.
void insertInSheet(QByteArray &s, const QByteArray &records) { s.insert(findRecord(s, Id::Eof, 1), records); }

// Cuts a record's data to its first `keep` bytes.
void shorten(QByteArray &s, quint16 id, qsizetype keep)
{
    const qsizetype at = findRecord(s, id);
    s.replace(at, recordEnd(s, id) - at, record(id, s.mid(at + 4, keep)));
}

using Damage = std::function<void(QByteArray &)>;

// What reading must give: a table (as text) or an error code.
// What reading must give: a table (as text) or an error code; DamagedReadOnly: a table that
// must not be saved, whose save is refused and leaves the file as it was.
struct Outcome {
    std::optional<QString> text;
    ErrorCode code = ErrorCode::Damaged;
    QString words = {}; // in the message
};
Outcome table(const QString &text) { return {text}; }
Outcome error(ErrorCode code, const QString &words = {}) { return {std::nullopt, code, words}; }

QString withLastCell(const QString &value) { return QString(EraText).replace(QStringLiteral("\t\n"), u'\t' + value + u'\n'); }

struct Edit {
    qsizetype record;
    QString column, typed;
    QString shown;                       // the cell's text afterwards, as the readers show it
    std::optional<ErrorCode> refused = {};
    std::optional<Cell::Kind> kind = {}; // what the cell must hold, where the text cannot tell
};

struct Scenario {
    QString name, file, sheet;
    std::vector<Edit> edits;
    std::optional<int> newStrings = {}; // shared strings added
    bool unchanged = false;             // the file stays byte for byte
    std::vector<QString> outcomes = {}; // filled in by the run, per edit: empty when stored, else what went wrong
    QByteArray before = {};
};

const char *const ScaleWorkbook = R"({"sheets": [{"name": "Лист1", "rows": [
    ["Возраст", "Система", "Ярус", "Органический мир", "Примечание"], [0.0117, "Четвертичная", "Гренландский", "Мамонты вымирают."],
    [2.58, "Четвертичная", "Гелазский", null], [null], [140, "Меловая", "Берриасский", "Первые цветковые?"],
    [140, "Меловая", "Повтор", "Тот же возраст."], [7.0001, 8, {"number": 9, "format": "0.0"}, {"number": 10, "format": "0.00"}, {"formula": "A7*2"}],
    [8, {"blank": "0.0"}, {"blank": "0.00"}, {"blank": "0.000"}]]}, {"name": "Другой", "rows": [["Лист"], [1]]}]})";

// Sheets whose used range, header, numbers and dates are awkward.
const char *const ShapesWorkbook = R"({"sheets": [
    {"name": "Смещённый", "rows": [[], [], [null, null, "Эра", "Начало"], [null, null, "Кайнозой", 66], [null, null, "Мезозой", 252]]},
    {"name": "Неровный", "rows": [[null, "Эра", "  "], ["Код", null, null, 4.5], [null, "Кайнозой"]]},
    {"name": "Пустые тексты", "rows": [["", ""], ["  Эра ", "Начало\n"], [1, 2], [null, ""], ["Мезозой", 252]]},
    {"name": "Заголовок", "rows": [[], ["Эра", null, "Начало"]]}, {"name": "Пустой", "rows": []},
    {"name": "Даты", "rows": [["Дата", "Время", "Високос", "После"], [{"date": "1990-01-02"}, {"number": 0.75, "format": "hh:mm"},
        {"number": 60, "format": "DD.MM.YYYY"}, {"number": 61.5, "format": "DD.MM.YYYY hh:mm"}]]},
    {"name": "Числа", "rows": [["Числа", "Логика", "Текст"], [0.1, true, "а\tб\\в"], [-251.902, false, "строка\nвторая\r\n"],
        [4600000000], [1.5e-7], [1e21], [{"number": 2.5, "format": "0.00"}], [0]]}]})";
const char *const Dates1904Workbook = R"({"date1904": true, "sheets": [{"name": "Даты", "rows": [["Дата", "Время", "Ноль"],
    [{"date": "1990-01-02"}, {"number": 0.75, "format": "hh:mm"}, {"number": 0, "format": "DD.MM.YYYY"}]]}]})";

// Rows in Excel's blocks of 32: "Блоки" has a full first block, a gap and two partial
// blocks and a formatted row without cells; "Полные" two full blocks with 32 empty rows
// between them; "Пустой" an INDEX without blocks.
QJsonObject blocksWorkbook()
{
    QJsonArray partial{QJsonArray{"Возраст", "Ярус"}}, full = partial;
    for (int row = 1; row <= 95; ++row) {
        const QJsonArray stage{row, row == 1 ? QString(9000, u'ж') : QStringLiteral("ярус %1").arg(row)}; // shared strings across CONTINUE
        if (row <= 70)
            partial.append(row <= 31 || (row >= 33 && row <= 40) || row == 70 ? stage : QJsonArray());
        full.append(row <= 31 || row >= 64 ? stage : QJsonArray());
    }
    return {{"blocks", true},
            {"sheets", QJsonArray{QJsonObject{{"name", "Блоки"}, {"rows", partial}, {"styled", QJsonArray{50}}},
                                  QJsonObject{{"name", "Полные"}, {"rows", full}}, QJsonObject{{"name", "Пустой"}, {"rows", QJsonArray()}}}}};
}

int countOf(const QJsonValue &report, const char *key) { return report[QStringLiteral("counts")][QLatin1String(key)].toInt(); }

// Rows 1 to `count`, each with its number and a text of its own, under a header.
QJsonArray numberedRows(int count)
{
    QJsonArray rows{QJsonArray{"Возраст", "Ярус"}};
    for (int row = 1; row <= count; ++row)
        rows.append(QJsonArray{row, QStringLiteral("ярус %1").arg(row)});
    return rows;
}

// Where the cell record of row `row` starting at `column` stands in substream `sheet`.
qsizetype cellOf(const QByteArray &s, int sheet, int row, int column)
{
    for (qsizetype at = findRecord(s, Id::Bof, sheet); at + 8 <= s.size(); at += 4 + ByteReader(s.mid(at + 2, 2)).u16())
        if (isCellRecord(ByteReader(s.mid(at, 2)).u16()) && ByteReader(s.mid(at + 4, 4)).u32() == quint32(row | column << 16))
            return at;
    return -1;
}

// A stream with `count` more four-letter strings in its shared-string table (it holds one
// SST), then an EXTSST of a bucket for every 65,535 strings.
QByteArray withManyStrings(QByteArray s, quint32 count)
{
    const qsizetype sst = findRecord(s, Id::Sst), end = recordEnd(s, Id::Sst);
    QByteArray data = s.mid(sst + 4, end - sst - 4), chain;
    setU32(data, 4, ByteReader(data.mid(4, 4)).u32() + count);
    for (quint32 i = 0; i < count; ++i) {
        if (data.size() + 7 > MaxRecordData)
            chain += record(chain.isEmpty() ? Id::Sst : Id::Continue, std::exchange(data, {}));
        data += QByteArray("\x04\x00\x00", 3);
        putU32(data, i);
    }
    chain += record(Id::Continue, data) + record(Id::ExtSst, u16s({0xFFFF}) + QByteArray(8 * qsizetype(count / 0xFFFF + 1), '\0'));
    s.replace(sst, end - sst, chain);
    setU32(s, findRecord(s, Id::BoundSheet) + 4, quint32(findRecord(s, Id::Bof, 1)));
    return s;
}

} // namespace

Q_DECLARE_METATYPE(Damage)
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(Target)
Q_DECLARE_METATYPE(ErrorCode)

class WorkbookTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString blocks = m_dir.filePath(QStringLiteral("blocks.xls")), shapes = m_dir.filePath(QStringLiteral("shapes.xls"));
        const auto sheet = [](const QJsonArray &rows) { return QJsonObject{{"sheets", QJsonArray{QJsonObject{{"name", Sheet}, {"rows", rows}}}}}; };
        QJsonArray large{QJsonArray{"Текст"}};
        for (int i = 0; i < 120; ++i)
            large.append(QJsonArray{QString(32000, u'ж') + QString::number(i)});
        QVERIFY(makeWorkbooks({{m_scale, QJsonDocument::fromJson(ScaleWorkbook).object()}, {blocks, blocksWorkbook()},
                               {m_dir.filePath(QStringLiteral("era.xls")), QJsonDocument::fromJson(EraWorkbook).object()},
                               {m_dir.filePath(QStringLiteral("numbers.xls")), sheet({QJsonArray{1, 2}, QJsonArray{3, 4}})},
                               {m_dir.filePath(QStringLiteral("long.xls")), sheet({QJsonArray{"Текст"}, QJsonArray{QString(6000, u'A')}, QJsonArray{QString(6000, u'B')}, QJsonArray{"Ц"}})},
                               {m_dir.filePath(QStringLiteral("large.xls")), sheet(large)},
                               {shapes, QJsonDocument::fromJson(ShapesWorkbook).object()},
                               {m_dir.filePath(QStringLiteral("1904.xls")), QJsonDocument::fromJson(Dates1904Workbook).object()},
                               {m_dir.filePath(QStringLiteral("one block.xls")), QJsonObject{{"blocks", 65536}, {"sheets", sheet(numberedRows(5000))["sheets"]}}},
                               {m_dir.filePath(QStringLiteral("many blocks.xls")), QJsonObject{{"blocks", 1}, {"sheets", sheet(numberedRows(2997))["sheets"]}}},
                               {m_dir.filePath(QStringLiteral("full blocks.xls")), QJsonObject{{"blocks", true}, {"sheets", QJsonArray{blocksWorkbook()["sheets"][1]}}}}}));
        const auto streamOf = [&](const char *name) { return readWorkbookStream(FileBytes::fromMemory(readAll(m_dir.filePath(name))), name).value_or(WorkbookStream{}).bytes; };
        m_era = streamOf("era.xls");
        m_long = streamOf("long.xls");
        m_blocks = streamOf("blocks.xls");
        QVERIFY(!m_era.isEmpty() && !m_long.isEmpty());
        addFixtureScenarios(m_scale, blocks, shapes);
        addCorpusScenarios();
        QStringList files;
        for (Scenario &scenario : m_scenarios)
            files.append(scenario.file);
        m_before = oracleReport(files);
        for (Scenario &scenario : m_scenarios)
            run(scenario);
        m_after = oracleReport(files);
    }

    // Storages nested 32 deep are copied into a new container; one deeper, the copy is refused.
    // So is a chain of 2,000 streams, each the right sibling of the one before.
    void storageNesting()
    {
        for (const auto &[count, nested] : {std::pair{32, true}, {33, true}, {2000, false}}) {
            const auto document = CompoundDocument::fromBytes(chainedContainer(count, nested), QStringLiteral("вложенная.xls"));
            QVERIFY2(document, document ? "" : qPrintable(document.error().message));
            const auto copy = document->withWorkbookStream(m_era);
            QCOMPARE(bool(copy), count != 33);
            QVERIFY(copy || copy.error().code == ErrorCode::Damaged);
        }
    }

    // Over 7 MiB: the container's allocation table is listed past the header's 109 sectors.
    // Over 256 MiB, a Workbook stream is too large.
    // A sheet is named as the workbook names it, in any case, with or without the $ that
    // means the whole sheet.
    void largeWorkbookAndSheetNames()
    {
        const QString path = m_dir.filePath(QStringLiteral("large.xls"));
        // A second directory sector, with one more stream, where only the extension finds its link.
        QByteArray bytes = readAll(path);
        const auto u32At = [&](qsizetype at) { return ByteReader(bytes.mid(at, 4)).u32(); };
        const quint32 directory = u32At(DirectoryStartAt), added = quint32(bytes.size() / 512 - 1), extension = 512 + 512 * u32At(ExtensionStartAt);
        const qsizetype links = 512 + 512 * qsizetype(u32At(extension + 4 * (directory / 128 - 109))), entry = bytes.size();
        setU32(bytes, links + 4 * (directory % 128), added);
        setU32(bytes, links + 4 * (added % 128), 0xFFFFFFFEu);
        bytes += bytes.mid(entryOffset(bytes, QStringLiteral("Workbook")), EntryBytes) + QByteArray(512 - EntryBytes, '\0');
        setName(bytes, entry, QStringLiteral("Приложение1"));
        setU32(bytes, entry + StartSectorAt, 0xFFFFFFFEu); // empty: no start sector
        setU32(bytes, entry + SizeAt, 0);
        setU32(bytes, entryOffset(bytes, QStringLiteral("Workbook")) + RightSiblingAt, 4);
        QVERIFY(writeBytes(path, bytes));
        const auto table = readSheet(path, QStringLiteral("эРЫ$"));
        QVERIFY2(table, table ? "" : qPrintable(table.error().message));
        QCOMPARE(table->recordCount(), 120);
        QCOMPARE(table->text(119, 0), QString(32000, u'ж') + QStringLiteral("119"));
        QVERIFY2(!table->notSaveable, table->notSaveable ? qPrintable(table->notSaveable->message) : "");
        QVERIFY(storeRecord(path, *table, 0, {{0, QStringLiteral("правка")}}));
        for (const QString &asked : {QStringLiteral("Эр"), QStringLiteral("Эры$$"), QStringLiteral("Ярусы")})
            QCOMPARE(readSheet(path, asked).error().code, ErrorCode::SheetMissing);
        bytes = readAll(path); // the header lists no extension of the allocation table
        setU32(bytes, ExtensionCountAt, 0);
        QVERIFY(writeBytes(path, bytes));
        QCOMPARE(readSheet(path, Sheet).error().code, ErrorCode::Damaged);
        // A Workbook stream over 256 MB is refused as too large, naming the limit.
        QByteArray era = readAll(m_dir.filePath(QStringLiteral("era.xls")));
        setU32(era, entryOffset(era, QStringLiteral("Workbook")) + SizeAt, 300u << 20);
        QVERIFY(writeBytes(path, era) && QFile::resize(path, 301 << 20));
        const auto tooLarge = readSheet(path, Sheet);
        QVERIFY(!tooLarge && tooLarge.error().code == ErrorCode::TooLarge && tooLarge.error().message.contains(QStringLiteral("256 МБ")));
        QVERIFY(QFile::resize(path, (512 << 20) + 1)); // a file over 512 MB is not read at all
        QVERIFY(readSheet(path, Sheet).error().message.contains(QStringLiteral("больше 512 МБ")));
    }

    // Bookkeeping that would outgrow its record or field. Rows in blocks that no DBCELL or INDEX
    // holds are laid out in Excel's blocks of 32. A row of cells past a DBCELL's 16-bit offset,
    // and a new text in a table of more strings than an EXTSST can index, are refused and leave
    // the file as it was. A count of string references at its 32-bit limit stays there.
    void outgrownBookkeeping_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("refused"); // an ErrorCode, or -1: stored
        const auto inContainerOf = [&](const char *container, const char *name, const QByteArray &stream) {
            const auto file = CompoundDocument::fromBytes(readAll(m_dir.filePath(container)), container)->withWorkbookStream(stream);
            QVERIFY(file && writeBytes(m_dir.filePath(name), *file));
        };
        QByteArray blocks = m_blocks, total = m_era, oneBlock = readWorkbookStream(FileBytes::fromMemory(readAll(m_dir.filePath("one block.xls"))), {})->bytes;
        QByteArray foreign = oneBlock;
        foreign.insert(findRecord(foreign, Id::Row) + 20, record(0x0867, {})); // a record of no row between the ROW records
        QByteArray fullBlocks = readWorkbookStream(FileBytes::fromMemory(readAll(m_dir.filePath("full blocks.xls"))), {})->bytes;
        fullBlocks.insert(recordEnd(fullBlocks, Id::DbCell), record(0x0867, {})); // after the first block
        oneBlock.insert(cellOf(oneBlock, 1, 3, 1) + 14, record(Id::String, u16s({1}) + QByteArray("\0a", 2))); // goes along with its cell
        for (int i = 0; i < 9; ++i) // STRING records after the first cell of row 33
            blocks.insert(cellOf(blocks, 1, 33, 0) + 14, record(Id::String, QByteArray(8000, 'x')));
        QByteArray misplaced = m_era;
        setU32(misplaced, findRecord(misplaced, Id::BoundSheet) + 4, 0xFFFFFFF0u);
        setU32(total, findRecord(total, Id::Sst) + 4, 0xFFFFFFFFu);
        total.remove(cellOf(total, 1, 2, 0), 14); // "Мезозой": the text typed there is one reference more
        inContainerOf("blocks.xls", "row of 72 KB.xls", blocks);
        inContainerOf("era.xls", "references.xls", total);
        inContainerOf("one block.xls", "foreign block.xls", foreign);
        inContainerOf("one block.xls", "one block.xls", oneBlock);
        inContainerOf("full blocks.xls", "full blocks.xls", fullBlocks);
        inContainerOf("era.xls", "misplaced sheet.xls", misplaced);
        inContainerOf("era.xls", "strings.xls", withManyStrings(m_era, 8'400'000));
        // One new text more makes 8,388,479 strings, the most that EXTSST's 16-bit bucket size describes.
        const quint32 eraStrings = ByteReader(m_era.mid(findRecord(m_era, Id::Sst) + 8, 4)).u32();
        inContainerOf("era.xls", "strings at the limit.xls", withManyStrings(m_era, 8'388'478 - eraStrings));
        const auto row = [&](const char *name, const char *file, int column, const QString &typed, int refused = -1) {
            QTest::newRow(name) << m_dir.filePath(file) << column << typed << refused;
        };
        row("a block of 5000 rows", "one block.xls", 1, "правка");
        row("2997 blocks of one row; 3000 strings, 125 full buckets", "many blocks.xls", 1, "правка");
        row("a block of 5000 rows and a record of none", "foreign block.xls", 1, "правка", int(ErrorCode::CannotEdit));
        row("a row between full blocks and a record of none: a block of its own", "full blocks.xls", 1, "правка");
        row("a row of cells over 64 KB in its block", "row of 72 KB.xls", 1, "правка", int(ErrorCode::TooLarge));
        row("a sheet position past the end, put right", "misplaced sheet.xls", 0, "Палеозой");
        row("string references counted to the 32-bit limit", "references.xls", 0, "Палеозой");
        row("8.4 million strings: a new text", "strings.xls", 0, "Палеозой", int(ErrorCode::TooLarge));
        row("8.4 million strings: a text the table holds", "strings.xls", 0, "Эра");
        row("8,388,478 strings: a new text", "strings at the limit.xls", 0, "Палеозой");
    }

    void outgrownBookkeeping()
    {
        QFETCH(QString, file);
        QFETCH(int, column);
        QFETCH(QString, typed);
        QFETCH(int, refused);
        const QByteArray before = readAll(file);
        const QString sheet = worksheetNames(file).value_or(QStringList()).value(0);
        const auto table = readSheet(file, sheet);
        QVERIFY2(table, table ? "" : qPrintable(table.error().message));
        const qsizetype record = table->recordCount() / 2;
        const auto stored = storeRecord(file, *table, record, {{column, typed}});
        QCOMPARE(stored ? -1 : int(stored.error().code), refused);
        if (!stored) {
            QVERIFY(readAll(file) == before);
            return;
        }
        QCOMPARE(readSheet(file, sheet)->text(record, column), typed);
        const auto stream = readWorkbookStream(FileBytes::fromMemory(readAll(file)), file);
        const auto strings = readWorkbookGlobals(stream->bytes, file)->strings;
        QVERIFY(strings.declaredTotal() == 0xFFFFFFFFu || !file.endsWith(QLatin1String("references.xls")));
        if (before.size() < (8 << 20)) { // xlrd and the checker find nothing wrong
            const QJsonValue report = oracleReport({file})[file];
            QCOMPARE(report[QStringLiteral("problems")].toArray(), QJsonArray());
            QVERIFY(report[QStringLiteral("tables")][sheet].toString().contains(typed));
        }
    }

    // The check of a rewritten stream: what the writer made passes; any other difference is refused.
    void writeCheck_data()
    {
        QTest::addColumn<Damage>("damage");
        const auto inRecord = [](quint16 id, int nth, qsizetype at) { return [=](QByteArray &s) { s[findRecord(s, id, nth) + 4 + at] = char(s[findRecord(s, id, nth) + 4 + at] ^ 1); }; };
        const auto inCell = [](int sheet, int row, int column, qsizetype at) { return [=](QByteArray &s) { s[cellOf(s, sheet, row, column) + 4 + at] = char(s[cellOf(s, sheet, row, column) + 4 + at] ^ 1); }; };
        QTest::newRow("as written") << Damage([](QByteArray &) {});
        QTest::newRow("a cell of another row") << Damage(inCell(2, 64, 0, 6));
        QTest::newRow("the text written") << Damage(inCell(2, 40, 1, 6));
        QTest::newRow("the number written") << Damage(inCell(2, 70, 0, 6));
        QTest::newRow("the written cell's format") << Damage(inCell(2, 70, 0, 4));
        QTest::newRow("a cell of another sheet") << Damage(inCell(1, 35, 0, 6));
        QTest::newRow("a record of the globals") << Damage(inRecord(Id::Xf, 0, 2));
        QTest::newRow("a sheet's position") << Damage(inRecord(Id::BoundSheet, 2, 0));
        QTest::newRow("a later sheet's INDEX") << Damage(inRecord(Id::Index, 2, 12));
        QTest::newRow("an old shared string") << Damage(inRecord(Id::Sst, 0, 11));
        QTest::newRow("the count of shared strings") << Damage(inRecord(Id::Sst, 0, 4));
        QTest::newRow("an EXTSST bucket") << Damage(inRecord(Id::ExtSst, 0, 2));
        QTest::newRow("a record of the edited sheet without cells") << Damage(inRecord(0x023E, 1, 2));
        QTest::newRow("the last sheet cut off") << Damage([](QByteArray &s) { s.truncate(findRecord(s, Id::Bof, 3)); });
    }

    void writeCheck()
    {
        QFETCH(Damage, damage);
        auto globals = readWorkbookGlobals(m_blocks, QStringLiteral("blocks.xls"));
        const qint64 bof = *locateWorksheet(m_blocks, *globals, 1);
        const std::vector<CellWrite> writes{{40, 1, CellWrite::Kind::Text, 0, QStringLiteral("проверка")}, {70, 0, CellWrite::Kind::Number, 70.5, {}}};
        auto after = rewriteCells(m_blocks, std::move(*globals), 1, writes, QStringLiteral("blocks.xls"));
        QVERIFY2(after, after ? "" : qPrintable(after.error().message));
        damage(*after);
        const auto checked = checkRewrite(m_blocks, *after, bof, writes);
        QCOMPARE(checked ? -1 : int(checked.error().code), QTest::currentDataTag() == QLatin1String("as written") ? -1 : int(ErrorCode::WriteCheckFailed));
        QVERIFY(QTest::currentDataTag() != QLatin1String("a cell of another row") || checked.error().message.contains(QStringLiteral("строке 65, столбце 1 ")));
        // A sheet listed last whose substream is missing moves every sheet's position: those are put
        // right by the sheets' order, the missing one keeps its own.
        QByteArray listed = m_era, missing = m_era.mid(findRecord(m_era, Id::BoundSheet), recordEnd(m_era, Id::BoundSheet) - findRecord(m_era, Id::BoundSheet));
        setU32(missing, 4, 0xFFFFFFF0u);
        listed.insert(findRecord(listed, Id::Eof), missing);
        auto listedGlobals = readWorkbookGlobals(listed, QStringLiteral("era.xls"));
        const int sheets = int(listedGlobals->sheets.size());
        const auto relisted = rewriteCells(listed, std::move(*listedGlobals), 0, {{1, 0, CellWrite::Kind::Text, 0, QStringLiteral("проверка")}}, QStringLiteral("listed.xls"));
        QVERIFY2(relisted, relisted ? "" : qPrintable(relisted.error().message));
        for (int n = 0; n < sheets; ++n)
            QCOMPARE(ByteReader(relisted->mid(findRecord(*relisted, Id::BoundSheet, n) + 4, 4)).u32(), n + 1 < sheets ? quint32(findRecord(*relisted, Id::Bof, n + 1)) : 0xFFFFFFF0u);
        // A cell outside the sheet is refused, never written with its row or column cut short.
        for (const auto &[row, column] : {std::pair{MaxRows, 0}, std::pair{0, MaxColumns}, std::pair{-1, 0}, std::pair{0, -1}}) {
            const auto outside = rewriteCells(m_era, *readWorkbookGlobals(m_era, QStringLiteral("era.xls")), 0, {{row, column, CellWrite::Kind::Number, 1, {}}}, QStringLiteral("era.xls"));
            QVERIFY(!outside && outside.error().code == ErrorCode::CannotEdit);
        }
        // A new cell takes its column's format, at either end of the columns a COLINFO gives it.
        QByteArray styled = m_era;
        styled.insert(findRecord(styled, Id::Bof, 1) + 20, record(Id::ColInfo, u16s({1, 2, 2000, 16, 0, 0})));
        const auto inStyled = rewriteCells(styled, *readWorkbookGlobals(styled, QStringLiteral("era.xls")), 0,
                                           {{5, 1, CellWrite::Kind::Number, 1, {}}, {5, 2, CellWrite::Kind::Number, 2, {}}}, QStringLiteral("era.xls"));
        QVERIFY2(inStyled, inStyled ? "" : qPrintable(inStyled.error().message));
        for (int column : {1, 2})
            QCOMPARE(ByteReader(inStyled->mid(cellOf(*inStyled, 1, 5, column) + 8, 2)).u16(), 16);
        // A formula overwritten takes its text (the STRING after it) along, and nothing before it; an
        // embedded chart's substream in the sheet is passed over whole.
        QByteArray withFormula = m_era;
        insertInSheet(withFormula, formulaCell(0, 0) + stringRecord(3, "Mel"));
        insertInSheet(withFormula, record(Id::Bof, u16s({0x0600, 0x0020})) + numberCell(9, 9, 9) + record(Id::Eof, {}));
        const auto overFormula = rewriteCells(withFormula, *readWorkbookGlobals(withFormula, QStringLiteral("era.xls")), 0,
                                              {{2, 2, CellWrite::Kind::Number, 1, {}}}, QStringLiteral("era.xls"));
        QVERIFY2(overFormula, overFormula ? "" : qPrintable(overFormula.error().message));
        QCOMPARE(findRecord(*overFormula, Id::String), -1);
        QByteArray expected = m_era;
        insertInSheet(expected, numberCell(2, 2, 1));
        insertInSheet(expected, record(Id::Bof, u16s({0x0600, 0x0020})) + numberCell(9, 9, 9) + record(Id::Eof, {}));
        setU16(expected, findRecord(expected, Id::Row, 2) + 8, 3); // its row now reaches the cell
        QCOMPARE(*overFormula, expected.left(overFormula->size()));
        QCOMPARE(expected.mid(overFormula->size()).count('\0'), expected.size() - overFormula->size()); // only the stream's padding after
        // A workbook without shared strings gets their table, in its globals, with its first text.
        QByteArray noStrings = readWorkbookStream(FileBytes::fromMemory(readAll(m_dir.filePath("numbers.xls"))), {})->bytes;
        noStrings.remove(findRecord(noStrings, Id::Sst), recordEnd(noStrings, Id::Sst) - findRecord(noStrings, Id::Sst));
        setU32(noStrings, findRecord(noStrings, Id::BoundSheet) + 4, quint32(findRecord(noStrings, Id::Bof, 1)));
        const auto firstText = rewriteCells(noStrings, *readWorkbookGlobals(noStrings, QStringLiteral("numbers.xls")), 0,
                                            {{0, 0, CellWrite::Kind::Text, 0, QStringLiteral("Эра")}}, QStringLiteral("numbers.xls"));
        QVERIFY2(firstText, firstText ? "" : qPrintable(firstText.error().message));
        QVERIFY(findRecord(noStrings, Id::Sst) < 0 && findRecord(*firstText, Id::Sst) < findRecord(*firstText, Id::Eof));
        // A record too long for BIFF8 is never written, its length cut to 16 bits.
        RecordList records;
        QVERIFY(records.load(m_era, QStringLiteral("era.xls")));
        records[1].replace(QByteArray(MaxRecordData + 1, 'x'));
        records.layout();
        QCOMPARE(records.bytes().error().code, ErrorCode::WriteCheckFailed);
    }

    void damaged_data()
    {
        QTest::addColumn<Target>("target");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<Outcome>("outcome");
        const auto row = [](const char *name, Damage damage, Outcome outcome, Target target = Target::Stream) {
            QTest::newRow(name) << target << damage << outcome;
        };
        const Outcome damaged = error(ErrorCode::Damaged), era = table(EraText), readOnly = error(ErrorCode::DamagedReadOnly);
        // Containers: files that are no workbook are refused with the reason and the file's name;
        // one damaged around a whole Workbook stream (libgsf would not rewrite it whole) is shown
        // but never written.
        const Damage none = [](QByteArray &) {};
        const Target file = Target::File;
        row("missing file", none, error(ErrorCode::FileMissing), Target::Missing);
        row("a directory", none, error(ErrorCode::FileUnreadable), Target::Directory);
        row("text file", [](QByteArray &b) { b = "Эра;Начало\r\n"; }, error(ErrorCode::NotCompoundFile), file);
        row("other stream only", [](QByteArray &b) { renameEntry(b, "Workbook", "Sheet"); }, error(ErrorCode::NoWorkbookStream), file);
        row("Workbook is a storage", [](QByteArray &b) { b[entryOffset(b, "Workbook") + TypeAt] = 1; }, error(ErrorCode::NoWorkbookStream), file);
        row("two Workbook streams differing in case", [](QByteArray &b) { addEntry(b, "WORKBOOK"); }, damaged, file);
        row("header cut short", [](QByteArray &b) { b.truncate(100); }, damaged, file);
        row("sector size 1 MiB", [](QByteArray &b) { setU16(b, SectorShiftAt, 20); }, damaged, file);
        row("directory start past the end", [](QByteArray &b) { setU32(b, DirectoryStartAt, 0x00FFFFF0u); }, damaged, file);
        row("Workbook longer than the file", [](QByteArray &b) { setU32(b, entryOffset(b, "Workbook") + SizeAt, 0x7FFFFFFFu); }, damaged, file);
        row("Workbook longer than its sector chain", [](QByteArray &b) { setU32(b, entryOffset(b, "Workbook") + SizeAt, quint32(b.size())); }, damaged, file);
        row("Workbook's last sector cut short at the end of the file", [](QByteArray &b) {
            const qsizetype table = 512 + 512 * qsizetype(ByteReader(b.mid(HeaderTableListAt, 4)).u32()), moved = b.size() / 512 - 1;
            const qsizetype last = (ByteReader(b.mid(entryOffset(b, "Workbook") + SizeAt, 4)).u32() - 1) / 512;
            setU32(b, table + 4 * (last - 1), quint32(moved));
            setU32(b, table + 4 * moved, 0xFFFFFFFEu);
            b.append(100, '\0');
        }, error(ErrorCode::Damaged, "выходит за конец файла"), file);
        row("Workbook's chain runs on past the end of the file", [](QByteArray &b) {
            const qsizetype table = 512 + 512 * qsizetype(ByteReader(b.mid(HeaderTableListAt, 4)).u32());
            const qsizetype last = (ByteReader(b.mid(entryOffset(b, "Workbook") + SizeAt, 4)).u32() - 1) / 512;
            setU32(b, table + 4 * (last - 1), quint32(b.size() / 512));
        }, error(ErrorCode::Damaged, "оборвана"), file);
        row("directory chain 3000 entries deep", [](QByteArray &b) { b = chainedContainer(3000); }, damaged, file);
        row("allocation table of no sectors", [](QByteArray &b) { b[TableSectorCountAt] = 0; }, damaged, file);
        row("allocation table claims 2^31 sectors more", [](QByteArray &b) { b[TableSectorCountAt + 3] = char(0x80); }, readOnly, file);
        row("allocation table listed past the end of the file", [](QByteArray &b) {
            // Room for a table of 237 sectors: 109 listed in the header, 127 in an extension sector, one more.
            const quint32 first = quint32(b.size() / 512 - 1), extension = first + 108;
            b.append(236 * 128 * 512, '\0');
            for (quint32 i = 1; i < 109; ++i)
                setU32(b, HeaderTableListAt + 4 * i, first + i - 1);
            for (quint32 i = 0; i < 128; ++i) // the last entry names the next extension sector
                setU32(b, 512 + 512 * qsizetype(extension) + 4 * i, i < 127 ? extension + 1 + i : 0x00FFFFF0u);
            setU32(b, TableSectorCountAt, 237);
            setU32(b, ExtensionStartAt, extension);
            setU32(b, ExtensionCountAt, 2);
        }, readOnly, file);
        row("another stream longer than the file", [](QByteArray &b) {
            addEntry(b, "Summary");
            setU32(b, entryOffset(b, "Summary") + SizeAt, 0x7FFFFFFFu);
        }, readOnly, file);
        row("cut inside its last sector", [](QByteArray &b) { b.chop(1); }, readOnly, file);
        row("an entry of unknown type", [](QByteArray &b) {
            addEntry(b, "Summary");
            b[entryOffset(b, "Summary") + TypeAt] = 7;
        }, readOnly, file);
        if (!corpusDir().isEmpty()) // from another reader's crash reports
            row("allocation table list cut short", [](QByteArray &b) { b = readAll(corpusDir() + "/bad/libxls__xls2csv_ole_read_MSAT_body_637.xls"); }, readOnly, file);
        // Workbook streams: framing and the first BOF
        row("empty stream", [](QByteArray &s) { s.clear(); }, damaged);
        row("cut inside the first record header", [](QByteArray &s) { s.truncate(3); }, error(ErrorCode::Damaged, "обрывается"));
        row("ends before the sheet's EOF", [](QByteArray &s) { s.truncate(findRecord(s, Id::Eof, 1)); }, era);
        row("record length past the end", [](QByteArray &s) { setLength(s, Id::Number, quint16(s.size())); }, damaged);
        row("record length over 8224", [](QByteArray &s) { setLength(s, Id::Xf, 8225); }, damaged);
        row("only the globals BOF", [](QByteArray &s) { s.truncate(recordEnd(s, Id::Bof)); }, error(ErrorCode::SheetMissing));
        row("no BOF first", [](QByteArray &s) { s.remove(0, recordEnd(s, Id::Bof)); }, damaged);
        row("BIFF5 in the first BOF", [](QByteArray &s) { setU16(s, 4, Biff5Version); }, error(ErrorCode::OldFormat));
        row("BIFF5 in the sheet's BOF only", [](QByteArray &s) { setU16(s, findRecord(s, Id::Bof, 1) + 4, Biff5Version); }, era);
        row("BIFF4 BOF id", [](QByteArray &s) { setU16(s, 0, Id::Bof4); }, error(ErrorCode::OldFormat));
        row("first BOF of a worksheet", [](QByteArray &s) { setU16(s, 6, BofWorksheet); }, damaged);
        row("first BOF of two bytes", [](QByteArray &s) { shorten(s, Id::Bof, 2); }, damaged);
        row("FILEPASS before damaged records", [](QByteArray &s) { setLength(s, Id::Xf, 9000);
            s.insert(recordEnd(s, Id::Bof), record(Id::FilePass, QByteArray::fromHex("010001000000")));
        }, error(ErrorCode::Encrypted));
        // BOUNDSHEET: a wrong position is repaired by the sheets' order
        row("sheet position past the end", [](QByteArray &s) { setU32(s, findRecord(s, Id::BoundSheet) + 4, 0xFFFFFFF0u); }, era);
        row("sheet position inside a record",
            [](QByteArray &s) { setU32(s, findRecord(s, Id::BoundSheet) + 4, quint32(findRecord(s, Id::Bof, 1) + 2)); }, era);
        row("globals without EOF", [](QByteArray &s) { s.remove(findRecord(s, Id::Eof), 4); }, era);
        row("globals without EOF to the end", [](QByteArray &s) { s.truncate(findRecord(s, Id::Eof)); }, damaged);
        row("sheet of a chart", [](QByteArray &s) { s[findRecord(s, Id::BoundSheet) + 9] = 2; }, error(ErrorCode::NotWorksheet));
        row("sheet name longer than its record", [](QByteArray &s) { s[findRecord(s, Id::BoundSheet) + 10] = char(200); }, damaged);
        // Shared strings
        row("SST claims 4 billion strings", [](QByteArray &s) { setU32(s, findRecord(s, Id::Sst) + 8, 0xFFFFFFFFu); }, era);
        row("SST holds fewer strings than the cells use", [](QByteArray &s) { setU32(s, findRecord(s, Id::Sst) + 8, 2); }, damaged);
        row("SST shorter than its counts", [](QByteArray &s) { shorten(s, Id::Sst, 5); }, damaged);
        row("long strings across CONTINUE", [](QByteArray &) {},
            table(QStringLiteral("Текст\n%1\n%2\nЦ\n").arg(QString(6000, u'A'), QString(6000, u'B'))), Target::LongStream);
        // The record holding the length of the 6000 Bs cut after the length's first byte: the
        // next CONTINUE then starts inside a string's header, with no flags byte of its own.
        row("string header split by CONTINUE", [](QByteArray &s) {
            const qsizetype split = s.indexOf(QByteArray("\x70\x17\x00" "B", 4)) + 1; // 6000 and 8-bit
            const auto length = [&](qsizetype at) { return ByteReader(s.mid(at + 2, 2)).u16(); };
            qsizetype holder = 0;
            while (holder + 4 + length(holder) < split)
                holder += 4 + length(holder);
            const qsizetype next = holder + 4 + length(holder), end = next + 4 + length(next);
            s.replace(split, end - split, record(Id::Continue, s.mid(split, next - split) + s.mid(next + 5, end - next - 5)));
            setU16(s, holder + 2, quint16(split - holder - 4));
        }, table(QStringLiteral("Текст\n%1\n%2\nЦ\n").arg(QString(6000, u'A'), QString(6000, u'B'))), Target::LongStream);
        row("string past the last CONTINUE", [](QByteArray &s) { setU16(s, recordEnd(s, Id::Continue) - 5, 0xFFFF); }, damaged, Target::LongStream);
        row("string past a record that is no CONTINUE", [](QByteArray &s) { setU16(s, findRecord(s, Id::Continue), Id::ExtSst); },
            damaged, Target::LongStream);
        row("16-bit string split inside a character", [](QByteArray &s) { setU16(s, findRecord(s, Id::Sst) + 12, 4107); }, damaged, Target::LongStream);
        row("LABELSST one past the last string", [](QByteArray &s) { setU32(s, findRecord(s, Id::LabelSst) + 10, 5); }, damaged);
        row("LABELSST without its index", [](QByteArray &s) { shorten(s, Id::LabelSst, 6); }, damaged);
        // Cells
        row("MULRK of one cell cut short", [](QByteArray &s) { shorten(s, Id::MulRk, 10); }, damaged);
        row("MULRK of one cell", [](QByteArray &s) { shorten(s, Id::MulRk, 10);
            s.insert(recordEnd(s, Id::MulRk), u16s({1}));
            setLength(s, Id::MulRk, 12);
        }, table(QString(EraText).replace(QStringLiteral("\t02.01.1990"), QStringLiteral("\t"))));
        row("MULRK past column 255", [](QByteArray &s) { setU16(s, findRecord(s, Id::MulRk) + 6, 255); }, damaged);
        row("MULRK's last column disagrees", [](QByteArray &s) { setU16(s, recordEnd(s, Id::MulRk) - 2, 200); }, era);
        row("date cell holding NaN", [](QByteArray &s) { setU32(s, findRecord(s, Id::MulRk) + 16, 0x7FF80000u); },
            table(QString(EraText).replace(QStringLiteral("02.01.1990"), QStringLiteral("#ЧИСЛО!"))));
        row("cell in column 256", [](QByteArray &s) { insertInSheet(s, numberCell(1, 256, 7)); }, damaged);
        row("cells over 8 million", [](QByteArray &s) { insertInSheet(s, numberCell(65535, 255, 7)); }, error(ErrorCode::TooLarge));
        row("NUMBER without its value", [](QByteArray &s) { shorten(s, Id::Number, 10); }, damaged);
        row("RK without its value", [](QByteArray &s) { insertInSheet(s, record(Id::Rk, u16s({2, 2, 15}).left(8))); }, damaged);
        row("BOOLERR of row and column only", [](QByteArray &s) { insertInSheet(s, record(Id::BoolErr, u16s({2, 2}))); }, damaged);
        row("LABEL longer than its record",
            [](QByteArray &s) { insertInSheet(s, record(Id::Label, u16s({2, 2, 15}) + QByteArray::fromHex("400000") + "abc")); },
            damaged);
        row("LABEL of no characters", [](QByteArray &s) { insertInSheet(s, record(Id::Label, u16s({5, 5, 15}) + QByteArray::fromHex("000000"))); }, era);
        row("LABEL", [](QByteArray &s) { insertInSheet(s, record(Id::Label, u16s({2, 2, 15}) + QByteArray::fromHex("030000") + "abc")); },
            table(withLastCell(QStringLiteral("abc"))));
        row("formula text in its STRING", [](QByteArray &s) { insertInSheet(s, formulaCell(0, 0) + stringRecord(3, "Mel")); },
            table(withLastCell(QStringLiteral("Mel"))));
        row("formula text without its STRING", [](QByteArray &s) { insertInSheet(s, formulaCell(0, 0)); }, era);
        row("STRING after another cell", [](QByteArray &s) { insertInSheet(s, formulaCell(0, 0) + numberCell(2, 1, 5) + stringRecord(3, "Mel")); },
            table(QStringLiteral("Эра\tНачало, млн лет\tУтверждено\nКайнозой\t66\t02.01.1990\nМезозой\t5\t\n")));
        row("STRING shorter than its length", [](QByteArray &s) { insertInSheet(s, formulaCell(0, 0) + stringRecord(30, "Mel")); }, damaged);
        row("formula error", [](QByteArray &s) { insertInSheet(s, formulaCell(2, 0x2A)); }, table(withLastCell(QStringLiteral("#Н/Д"))));
        row("formula boolean", [](QByteArray &s) { insertInSheet(s, formulaCell(1, 1)); }, table(withLastCell(QStringLiteral("ИСТИНА"))));
        row("formula number with a byte 0xFF", [](QByteArray &s) { QByteArray cell = u16s({2, 2, 15});
            putF64(cell, 126976); // 0x40FF000000000000: byte 6 alone is 0xFF
            insertInSheet(s, record(Id::Formula, cell + u16s({0, 0, 0, 0})));
        }, table(withLastCell(QStringLiteral("126976"))));
        row("formula empty text", [](QByteArray &s) { insertInSheet(s, formulaCell(3, 0)); }, era);
        row("formula cut inside its result", [](QByteArray &s) { insertInSheet(s, record(Id::Formula, formulaCell(1, 1).mid(4, 12))); }, damaged);
        row("formula cut after its result", [](QByteArray &s) { insertInSheet(s, record(Id::Formula, formulaCell(1, 1).mid(4, 14))); },
            table(withLastCell(QStringLiteral("ИСТИНА"))));
        row("cells of an embedded chart are passed over", [](QByteArray &s) { QByteArray chartBof = s.mid(findRecord(s, Id::Bof, 1) + 4, 16);
            setU16(chartBof, 2, 0x0020);
            insertInSheet(s, record(Id::Bof, chartBof) + numberCell(5, 5, 1) + record(Id::Eof, {}));
        }, era);
    }

    void damaged()
    {
        QFETCH(Target, target);
        QFETCH(Damage, damage);
        QFETCH(Outcome, outcome);
        const bool inMemory = target == Target::Stream || target == Target::LongStream;
        QByteArray bytes = target == Target::Stream ? m_era : target == Target::LongStream ? m_long : readAll(m_dir.filePath(QStringLiteral("era.xls")));
        damage(bytes);
        const QString path = m_dir.filePath(QStringLiteral("%1.xls").arg(QTest::currentDataTag())), name = QFileInfo(path).fileName();
        QVERIFY(target != Target::Directory || QDir().mkpath(path));
        QVERIFY(target != Target::File || writeBytes(path, bytes));
        const auto names = inMemory ? Result<QStringList>() : worksheetNames(path);
        const auto read = inMemory ? readSheetFromStream(bytes, Sheet, name) : readSheet(path, names && !names->isEmpty() ? names->first() : Sheet);
        if (outcome.code == ErrorCode::DamagedReadOnly) {
            QVERIFY2(read, read ? "" : qPrintable(read.error().message));
            QVERIFY(read->sheetName != Sheet || tableText(*read) == EraText);
            QVERIFY(read->notSaveable && read->notSaveable->message.contains(name));
            const auto stored = storeRecord(path, *read, 0, {{0, QStringLiteral("Неоген")}});
            QVERIFY(!stored && (read->recordCount() == 0 || stored.error().code == ErrorCode::DamagedReadOnly));
            QCOMPARE(readAll(path), bytes);
        } else if (outcome.text) {
            QVERIFY2(read, read ? "" : qPrintable(read.error().message));
            QCOMPARE(tableText(*read), *outcome.text);
        } else {
            QVERIFY2(!read, "the damaged workbook was read");
            QCOMPARE(read.error().code, outcome.code);
            QVERIFY2(read.error().message.contains(outcome.words) && (inMemory || read.error().message.contains(name)), qPrintable(read.error().message));
        }
    }

    void scenario_data()
    {
        QTest::addColumn<int>("index");
        for (size_t i = 0; i < m_scenarios.size(); ++i)
            QTest::newRow(qPrintable(m_scenarios[i].name)) << int(i);
    }

    void scenario()
    {
        QFETCH(int, index);
        const Scenario &scenario = m_scenarios[size_t(index)];
        const QJsonValue before = m_before[scenario.file], after = m_after[scenario.file];
        const QString xlrd = before[QStringLiteral("xlrd")].toString();
        const auto names = worksheetNames(scenario.file);
        // What xlrd takes for Excel 95 or older, or encrypted, is refused as such; damaged files
        // (bad/) are refused or, where a forgiving xlrd reads them, read as it reads them.
        const ErrorCode refusal = xlrd == QLatin1String("encrypted") ? ErrorCode::Encrypted
            : before[QStringLiteral("biff")].toInt(80) < 80         ? ErrorCode::OldFormat : ErrorCode::Damaged;
        if (refusal != ErrorCode::Damaged || xlrd == QLatin1String("refused") || (!names && scenario.name.startsWith(QLatin1String("bad/")))) {
            QVERIFY(!names);
            QVERIFY(names.error().code == refusal || (refusal == ErrorCode::Damaged && names.error().code == ErrorCode::NotCompoundFile));
            return;
        }
        QVERIFY2(names, names ? "" : qPrintable(names.error().message));
        QCOMPARE(*names, before[QStringLiteral("sheets")].toVariant().toStringList());
        const auto stream = readWorkbookStream(FileBytes::fromMemory(scenario.before), scenario.name); // as long as xlrd takes it
        QVERIFY(!before[QStringLiteral("counts")].isObject() || (stream && stream->bytes.size() == countOf(before, "workbook_bytes")));
        QVERIFY2(after[QStringLiteral("tables")].isObject(), "xlrd does not read the written file");

        // Each edit stored or refused as it should be.
        QStringList expected = before[QStringLiteral("tables")][scenario.sheet].toString().split(u'\n');
        for (size_t i = 0; i < scenario.edits.size(); ++i) {
            const Edit &edit = scenario.edits[i];
            const QString outcome = edit.refused ? QStringLiteral("refused %1").arg(int(*edit.refused)) : QString();
            QVERIFY2(scenario.outcomes[i] == outcome, qPrintable(QStringLiteral("edit %1: %2").arg(i).arg(scenario.outcomes[i])));
            if (edit.refused)
                continue;
            QStringList fields = expected[edit.record + 1].split(u'\t');
            fields[expected[0].split(u'\t').indexOf(edit.column)] = edit.shown;
            expected[edit.record + 1] = fields.join(u'\t');
        }
        QVERIFY(!scenario.unchanged || readAll(scenario.file) == scenario.before);

        // xlrd finds the new values and everything else as it was; so does our reader.
        const QJsonObject tablesBefore = before[QStringLiteral("tables")].toObject(), tablesAfter = after[QStringLiteral("tables")].toObject();
        QCOMPARE(tablesAfter.keys(), tablesBefore.keys());
        for (const QString &sheet : tablesBefore.keys()) {
            const QString wanted = sheet == scenario.sheet ? expected.join(u'\n') : tablesBefore[sheet].toString();
            QCOMPARE(tablesAfter[sheet].toString(), wanted);
            const auto ours = readSheet(scenario.file, sheet);
            QVERIFY2(ours, ours ? "" : qPrintable(ours.error().message));
            QCOMPARE(tableText(*ours), wanted);
            for (const Edit &edit : scenario.edits)
                QVERIFY(sheet != scenario.sheet || !edit.kind || ours->cell(edit.record, ours->columnIndex(edit.column)).kind == *edit.kind);
            // Every cell keeps its format, blank ones and edited ones included; a new cell takes its column's.
            QJsonObject formatsBefore = before[QStringLiteral("formats")][sheet].toObject(), formatsAfter = after[QStringLiteral("formats")][sheet].toObject();
            for (const Edit &edit : sheet == scenario.sheet ? scenario.edits : std::vector<Edit>())
                if (const QString cell = QStringLiteral("%1,%2").arg(edit.record).arg(expected[0].split(u'\t').indexOf(edit.column)); !formatsBefore.contains(cell))
                    formatsAfter.remove(cell);
            QCOMPARE(formatsAfter, formatsBefore);
        }

        // Every other stream and storage is byte for byte what it was, class ids included; the
        // Workbook stream keeps its name and, as Excel's, is never in the mini-stream.
        QJsonArray entriesBefore = before[QStringLiteral("entries")].toArray(), entriesAfter = after[QStringLiteral("entries")].toArray();
        for (QJsonArray *entries : {&entriesBefore, &entriesAfter})
            for (QJsonValueRef entry : *entries)
                if (QStringList{"workbook", "book"}.contains(entry.toObject()[QStringLiteral("path")].toString().toLower()))
                    entry = entry.toObject()[QStringLiteral("path")];
        QCOMPARE(entriesAfter, entriesBefore);
        QVERIFY(readAll(scenario.file) == scenario.before || countOf(after, "workbook_bytes") >= 4096);

        // The bookkeeping holds no fault it did not hold before (unless it was faulty to begin
        // with, beyond the wider ranges Excel writes), and the string counts moved as they should.
        const QJsonArray problemsBefore = before[QStringLiteral("problems")].toArray();
        const bool soundBefore = std::all_of(problemsBefore.begin(), problemsBefore.end(),
                                             [](const QJsonValue &p) { return p.toString().contains(QLatin1String("wider")); });
        QVERIFY(soundBefore || scenario.name.endsWith(QLatin1String(".xls"))); // those we made are sound
        for (const QJsonValue &problem : after[QStringLiteral("problems")].toArray())
            QVERIFY2(!soundBefore || problemsBefore.contains(problem), qPrintable(problem.toString()));
        if (scenario.newStrings)
            QCOMPARE(countOf(after, "sst_unique") - countOf(before, "sst_unique"), *scenario.newStrings);
        if (countOf(before, "sst_total") == countOf(before, "labelsst"))
            QCOMPARE(countOf(after, "sst_total"), countOf(after, "labelsst"));
    }

private:
    void addFixtureScenarios(const QString &scale, const QString &blocks, const QString &shapes)
    {
        const auto copyOf = [&](const QString &source, const char *name) {
            const QString path = m_dir.filePath(QString::fromLatin1(name) + QStringLiteral(".xls"));
            QFile::copy(source, path);
            return path;
        };
        const QString longLatin(9000, u'q'), longCyrillic(5777, u'ю'), longest(32767, u'ж');
        QByteArray container = readAll(scale); // a Workbook stream named BOOK beside an empty storage with a class id
        addEntry(container, QStringLiteral("Пустое хранилище"), QByteArray::fromHex("00112233445566778899aabbccddeeff"));
        renameEntry(container, QStringLiteral("Workbook"), QStringLiteral("BOOK"));
        const QString unusual = m_dir.filePath(QStringLiteral("unusual.xls"));
        QVERIFY(writeBytes(unusual, container));
        m_scenarios = {
            {"numbers, texts and a clearing", copyOf(scale, "a"), "Лист1",
             {{0, "Возраст", " 0,0042 ", "0,0042", {}, Cell::Kind::Number}, {0, "Ярус", "Мегхалайский", "Мегхалайский"},
              {0, "Органический мир", "", ""}, {5, "Ярус", "10,5", "10,5", {}, Cell::Kind::Number},
              {5, "Примечание", "вместо формулы", "вместо формулы"}, {6, "Ярус", "между пустыми", "между пустыми"}}},
            {"number column rules", copyOf(scale, "b"), "Лист1",
             {{1, "Возраст", "3.5", "3,5", {}, Cell::Kind::Number}, {1, "Возраст", "много", "", ErrorCode::NotANumber},
              {1, "Возраст", "3 5", "", ErrorCode::NotANumber}, {2, "Возраст", "сейчас", "", ErrorCode::NotANumber},
              {2, "Система", "66", "66", {}, Cell::Kind::Text}, {4, "Возраст", "   ", ""},
              {4, "Примечание", "12", "12", {}, Cell::Kind::Text}, {3, "Органический мир", longest, longest},
              {1, "Органический мир", longest + u'ж', "", ErrorCode::TextTooLong}, {7, "Возраст", "1", "", ErrorCode::NoSuchRecord},
              {1, "Эпоха", "1", "", ErrorCode::UnknownColumn}}},
            {"unchanged texts leave the file alone", copyOf(scale, "c"), "Лист1",
             {{0, "Возраст", "0,0117", "0,0117"}, {0, "Система", "Четвертичная", "Четвертичная"}}, {}, true},
            {"a stored text is referenced again", copyOf(scale, "d"), "Лист1", {{1, "Ярус", "Берриасский", "Берриасский"}}, 0},
            {"a new text, a cleared one", copyOf(scale, "e"), "Лист1",
             {{3, "Ярус", "Валанжинский", "Валанжинский"}, {3, "Органический мир", "", ""}}, 1},
            {"a row without cells gets them", copyOf(scale, "f"), "Лист1",
             {{2, "Система", "Неогеновая", "Неогеновая"}, {2, "Возраст", "23,03", "23,03", {}, Cell::Kind::Number}}, 1},
            {"long texts across CONTINUE records", copyOf(scale, "g"), "Лист1",
             {{0, "Органический мир", longLatin + "0", longLatin + "0"}, {1, "Органический мир", longCyrillic + "1", longCyrillic + "1"},
              {2, "Органический мир", longLatin + "2", longLatin + "2"}, {3, "Органический мир", longCyrillic + "3", longCyrillic + "3"}}, 4},
            {"into the block above when the one below is full", copyOf(blocks, "h"), "Блоки", {{31, "Ярус", "новый", "новый"}}},
            {"after the rows of a block with room", copyOf(blocks, "i"), "Блоки", {{40, "Ярус", "после", "после"}}},
            {"a row that had a ROW record but no cells", copyOf(blocks, "k"), "Блоки", {{49, "Ярус", "оформленная", "оформленная"}}},
            {"a block of its own between full ones", copyOf(blocks, "j"), "Полные",
             {{39, "Ярус", "отдельный", "отдельный"}, {39, "Возраст", "40", "40"}}},
            {"a range that starts at C3; awkward sheets beside it", copyOf(shapes, "l"), "Смещённый", {{1, "Начало", "250", "250", {}, Cell::Kind::Number}}},
            {"dates in the 1904 system", m_dir.filePath(QStringLiteral("1904.xls")), "Даты", {}},
            {"an unusual container", unusual, "Лист1", {{0, "Ярус", "Мегхалайский", "Мегхалайский"}}},
        };
    }

    // Workbooks from Excel, Mac Excel and LibreOffice: every cell of the first, a middle and
    // the last record of the first sheet, one store at a time: texts into text and empty
    // cells, numbers into number cells. Damaged files (bad/) and those not to be saved are
    // only read.
    void addCorpusScenarios()
    {
        const QString corpus = corpusDir();
        QFileInfoList sources;
        for (const QString &folder : corpus.isEmpty() ? QStringList() : QStringList{corpus, corpus + QStringLiteral("/bad")})
            sources += QDir(folder).entryInfoList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name);
        for (const QFileInfo &source : sources) {
            const QString name = (source.path() == corpus ? QString() : QStringLiteral("bad/")) + source.fileName();
            Scenario scenario{name, m_dir.filePath(QString(name).replace(u'/', u' ')), {}, {}};
            QFile::copy(source.filePath(), scenario.file);
            QFile::setPermissions(scenario.file, QFile::ReadOwner | QFile::WriteOwner);
            const auto names = worksheetNames(scenario.file);
            const auto table = names && !names->isEmpty() ? readSheet(scenario.file, names->first()) : Result<SheetTable>();
            for (qsizetype record : table && !table->notSaveable && table->recordCount() > 0 && source.path() == corpus
                     ? std::vector<qsizetype>{0, table->recordCount() / 2, table->recordCount() - 1} : std::vector<qsizetype>()) {
                for (qsizetype column = 0; column < table->columnCount(); ++column) {
                    const Cell cell = table->cell(record, column);
                    const auto edits = scenario.edits.size();
                    const QString text = cell.kind == Cell::Kind::Number && !cell.isDate ? QStringLiteral("%1,25").arg(1000 + edits)
                        : cell.kind == Cell::Kind::Text || cell.isEmpty()              ? QStringLiteral("Правка %1 — ü ж").arg(edits)
                                                                                        : QString();
                    if (!text.isEmpty())
                        scenario.edits.push_back({record, table->columns[column], text, text});
                }
            }
            scenario.sheet = table ? table->sheetName : QString();
            m_scenarios.push_back(std::move(scenario));
        }
    }

    // Each edit is one store, from the file as it then is. A cell the engine refuses to
    // rewrite (part of a shared formula) or an empty cell of a number column is left out of
    // the expectation when the corpus brings one.
    void run(Scenario &scenario)
    {
        scenario.before = readAll(scenario.file);
        for (Edit &edit : scenario.edits) {
            const auto table = readSheet(scenario.file, scenario.sheet);
            QVERIFY2(table, table ? "" : qPrintable(table.error().message));
            const QByteArray bytes = readAll(scenario.file);
            const qsizetype column = table->columnIndex(edit.column); // a column the sheet has not: the one past the last
            const auto stored = storeRecord(scenario.file, *table, edit.record, {{column < 0 ? table->columnCount() : column, edit.typed}});
            if (stored) {
                QCOMPARE(qsizetype(stored->size()), table->columnCount()); // the record as stored
                scenario.outcomes.push_back({});
                continue;
            }
            const ErrorCode code = stored.error().code;
            if (scenario.name.endsWith(QLatin1String(".xls")) && (code == ErrorCode::CannotEdit || code == ErrorCode::NotANumber))
                edit.refused = code;
            scenario.outcomes.push_back(QStringLiteral("refused %1").arg(int(code))
                                        + (readAll(scenario.file) == bytes ? QString() : QStringLiteral(", file changed"))
                                        + (edit.refused ? QString() : QStringLiteral(": ") + stored.error().message));
        }
    }

    QTemporaryDir m_dir;
    const QString m_scale = m_dir.filePath(QStringLiteral("scale.xls"));
    std::vector<Scenario> m_scenarios;
    QJsonObject m_before, m_after;
    QByteArray m_era, m_long, m_blocks;
};

QTEST_GUILESS_MAIN(WorkbookTest)
#include "tst_workbook.moc"

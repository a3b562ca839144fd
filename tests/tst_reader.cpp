// Reading sheets: agreement with xlrd over the shared corpus, the used-range rules on
// workbooks written by xlwt, and Workbook streams damaged on purpose.

#include "workbook.h"
#include "biff/records.h"
#include "bytereader.h"
#include "ole/compounddocument.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

using namespace orbelant;

namespace {

// ---- Tables as text, in the line format of `orbelant-xls dump` and xlrd_table.py ----

QString escaped(const QString &value)
{
    QString out = value;
    out.replace(u'\\', QLatin1String("\\\\"));
    out.replace(u'\t', QLatin1String("\\t"));
    out.replace(u'\n', QLatin1String("\\n"));
    out.replace(u'\r', QLatin1String("\\r"));
    return out;
}

QString tableText(const SheetTable &table)
{
    QStringList lines;
    QStringList fields;
    for (const QString &name : table.columns)
        fields.append(escaped(name));
    lines.append(fields.join(u'\t'));
    for (qsizetype record = 0; record < table.recordCount(); ++record) {
        fields.clear();
        for (qsizetype column = 0; column < table.columnCount(); ++column)
            fields.append(escaped(table.text(record, column)));
        lines.append(fields.join(u'\t'));
    }
    return lines.join(u'\n') + u'\n';
}

// The first line where two texts part, for a failure message; empty when they agree.
QString firstDifference(const QString &actual, const QString &expected)
{
    if (actual == expected)
        return {};
    const QStringList ours = actual.split(u'\n');
    const QStringList theirs = expected.split(u'\n');
    for (qsizetype i = 0; i < std::max(ours.size(), theirs.size()); ++i) {
        if (ours.value(i) != theirs.value(i))
            return QStringLiteral("line %1\n  ours:     %2\n  expected: %3")
                .arg(i + 1)
                .arg(i < ours.size() ? ours[i] : QStringLiteral("(none)"), i < theirs.size() ? theirs[i] : QStringLiteral("(none)"));
    }
    return QStringLiteral("texts differ");
}

// ---- The independent reader ----

// xlrd without its check for sectors claimed by two streams (the root's small-block chain
// of some writers runs on into the Workbook stream) and without evaluating defined names
// (xlrd 1.2 stumbles over some NAME formulas). Used only where plain xlrd refuses.
const char *const LenientXlrd = R"(
import xlrd.book, xlrd.compdoc
_locate = xlrd.compdoc.CompDoc._locate_stream
def _locate_fresh(self, *args, **kwargs):
    self.seen = [0] * len(self.seen)
    return _locate(self, *args, **kwargs)
xlrd.compdoc.CompDoc._locate_stream = _locate_fresh
xlrd.book.Book.names_epilogue = lambda self: None
)";

// For every workbook given, as JSON by path: "strict", xlrd's BIFF version (80 for BIFF8),
// "encrypted" or "refused"; for those refused, "lenient", the same from the lenient xlrd;
// "sheets", the worksheet names.
const char *const ListWorkbooksStrict = R"(
import json, os, sys, xlrd
quiet = open(os.devnull, 'w')
def look(path):
    try:
        book = xlrd.open_workbook(path, logfile=quiet, on_demand=True)
        return str(book.biff_version), book.sheet_names()
    except Exception as error:
        return ('encrypted' if 'encrypted' in str(error) else 'refused'), []
found = {path: dict(zip(('strict', 'sheets'), look(path))) for path in sys.argv[1:]}
)";
const char *const ListWorkbooksLenient = R"(
for path, entry in found.items():
    if entry['strict'] == 'refused':
        entry['lenient'], entry['sheets'] = look(path)
print(json.dumps(found))
)";

testsupport::ProcessResult xlrdTable(const QString &path, const QString &sheet, bool lenient)
{
    const QString script = testsupport::sourceDir() + QStringLiteral("/tests/support/xlrd_table.py");
    if (!lenient)
        return testsupport::runScript(QStringLiteral("xlrd_table.py"), {path, sheet});
    const QString program = QString::fromLatin1(LenientXlrd)
        + QStringLiteral("import runpy, sys\nsys.argv = sys.argv[1:]\nrunpy.run_path(sys.argv[0], run_name='__main__')\n");
    return testsupport::run(testsupport::python(), {QStringLiteral("-c"), program, script, path, sheet});
}

// ---- Workbook streams and the records in them ----

struct RecordRef {
    quint16 id = 0;
    qsizetype position = -1; // of the 4-byte header
    qsizetype length = 0;

    qsizetype data() const { return position + 4; }
    qsizetype end() const { return position + 4 + length; }
};

// The records up to the zero padding after the last EOF.
QList<RecordRef> recordsOf(const QByteArray &stream)
{
    QList<RecordRef> records;
    ByteReader reader(stream);
    while (reader.remaining() >= 4) {
        const qsizetype position = reader.position();
        const quint16 id = reader.u16();
        const quint16 length = reader.u16();
        if ((id == 0 && length == 0) || length > reader.remaining())
            break;
        reader.skip(length);
        records.append({id, position, length});
    }
    return records;
}

// The `nth` record with `id` (0 = the first); position -1 when there is none.
RecordRef findRecord(const QByteArray &stream, quint16 id, int nth = 0)
{
    for (const RecordRef &record : recordsOf(stream))
        if (record.id == id && nth-- == 0)
            return record;
    return {};
}

QByteArray record(quint16 id, const QByteArray &data)
{
    QByteArray bytes;
    putU16(bytes, id);
    putU16(bytes, static_cast<quint16>(data.size()));
    return bytes + data;
}

QByteArray cellStart(quint16 row, quint16 column, quint16 xf = 0x0F)
{
    QByteArray data;
    putU16(data, row);
    putU16(data, column);
    putU16(data, xf);
    return data;
}

QByteArray numberCell(quint16 row, quint16 column, double value)
{
    QByteArray data = cellStart(row, column);
    putF64(data, value);
    return record(biff::Id::Number, data);
}

// A FORMULA whose cached result is not a number: type 0 string, 1 boolean, 2 error.
QByteArray formulaCell(quint16 row, quint16 column, quint8 resultType, quint8 payload)
{
    QByteArray data = cellStart(row, column);
    data.append(static_cast<char>(resultType)).append('\0').append(static_cast<char>(payload)).append(3, '\0');
    data.append(2, '\xFF');
    data.append(8, '\0'); // flags, chn, cce = 0: no tokens
    return record(biff::Id::Formula, data);
}

QByteArray stringRecord(quint16 declaredLength, const QByteArray &latin1)
{
    QByteArray data;
    putU16(data, declaredLength);
    data.append('\0');
    return record(biff::Id::String, data + latin1);
}

// The sheet substream's EOF, before which new cells go.
qsizetype sheetEnd(const QByteArray &stream)
{
    return findRecord(stream, biff::Id::Eof, 1).position;
}

// One way of damaging a Workbook stream; it QVERIFYs that what it patches is there.
struct Damage {
    std::function<void(QByteArray &)> apply;
};

void setLength(QByteArray &s, quint16 id, int nth, quint16 length)
{
    const RecordRef r = findRecord(s, id, nth);
    QVERIFY(r.position >= 0);
    setU16(s, r.position + 2, length);
}

void insertInSheet(QByteArray &s, const QByteArray &records)
{
    QVERIFY(sheetEnd(s) > 0);
    s.insert(sheetEnd(s), records);
}

void setSheetPosition(QByteArray &s, quint32 position)
{
    const RecordRef sheet = findRecord(s, biff::Id::BoundSheet);
    QVERIFY(sheet.position >= 0);
    setU32(s, sheet.data(), position);
}

// The MULRK with only the first `keep` bytes of its data.
void shortenMulRk(QByteArray &s, qsizetype keep)
{
    const RecordRef mulRk = findRecord(s, biff::Id::MulRk);
    QVERIFY(mulRk.position >= 0 && keep <= mulRk.length);
    s.replace(mulRk.position, mulRk.end() - mulRk.position, record(biff::Id::MulRk, s.mid(mulRk.data(), keep)));
}

// What reading the damaged stream must give: a table (as text) or an error code.
struct Outcome {
    std::optional<QString> text;
    ErrorCode code = ErrorCode::Damaged;

    static Outcome table(const QString &text) { return {text, {}}; }
    static Outcome error(ErrorCode code) { return {std::nullopt, code}; }
};

// Keeps address space below `extra` bytes more than in use now, so that an allocation
// sized from a damaged count fails loudly instead of passing unnoticed. The sanitizers
// reserve terabytes of shadow memory, so there the limit is left alone.
class AllocationCeiling {
public:
    explicit AllocationCeiling(qint64 extra)
    {
#if !defined(__SANITIZE_ADDRESS__)
        const QList<QByteArray> statm = testsupport::readAll(QStringLiteral("/proc/self/statm")).split(' ');
        const qint64 inUse = statm.value(0).toLongLong() * sysconf(_SC_PAGESIZE);
        if (inUse > 0 && getrlimit(RLIMIT_AS, &m_previous) == 0) {
            rlimit limited = m_previous;
            limited.rlim_cur = static_cast<rlim_t>(inUse + extra);
            m_active = setrlimit(RLIMIT_AS, &limited) == 0;
        }
#else
        Q_UNUSED(extra);
#endif
    }
    ~AllocationCeiling()
    {
        if (m_active)
            setrlimit(RLIMIT_AS, &m_previous);
    }
    AllocationCeiling(const AllocationCeiling &) = delete;
    AllocationCeiling &operator=(const AllocationCeiling &) = delete;

private:
    rlimit m_previous{};
    bool m_active = false;
};

// The largest table the engine builds (8 million cells) fits well under this.
constexpr qint64 AllocationAllowance = qint64(1) << 30;

const QString EraSheet = QStringLiteral("Эры");
const QString LongSheet = QStringLiteral("Длинные");
const char *const EraWorkbook = R"({"sheets": [{"name": "Эры", "rows": [
    ["Эра", "Начало, млн лет", "Утверждено"],
    ["Кайнозой", 66.0, {"date": "1990-01-02"}],
    ["Мезозой", 251.902, null]]}]})";
const QString EraText = QStringLiteral("Эра\tНачало, млн лет\tУтверждено\n"
                                       "Кайнозой\t66\t02.01.1990\n"
                                       "Мезозой\t251,902\t\n");

QString line(QStringList fields, qsizetype width)
{
    while (fields.size() < width)
        fields.append(QString());
    return fields.join(u'\t') + u'\n';
}

enum class CorpusCheck { AgreesWithXlrd, AgreesWithLenientXlrd, Refused, RefusedOrAgreesWithLenientXlrd };

} // namespace

Q_DECLARE_METATYPE(ErrorCode)
Q_DECLARE_METATYPE(Damage)
Q_DECLARE_METATYPE(Outcome)
Q_DECLARE_METATYPE(CorpusCheck)

class ReaderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_eraStream = streamOf(EraWorkbook);
        const QString longA(6000, u'A'), longB(6000, u'B');
        const QJsonObject longStrings{{"sheets", QJsonArray{QJsonObject{
            {"name", LongSheet},
            {"rows", QJsonArray{QJsonArray{"Текст"}, QJsonArray{longA}, QJsonArray{longB}, QJsonArray{"Ц"}}}}}}};
        m_longStream = streamOf(QJsonDocument(longStrings).toJson());
        QVERIFY(!m_eraStream.isEmpty() && !m_longStream.isEmpty());
        m_threeSheets = makeWorkbook(R"({"sheets": [
            {"name": "Эры", "rows": [["Эра"], ["Кайнозой"]]},
            {"name": "Периоды", "rows": [["Период"], ["Мел"], ["Юра"]]},
            {"name": "Sheet 3", "rows": [["Ярус"]]}]})");
        QVERIFY(!m_threeSheets.isEmpty());
    }

    // ---- 1. The corpus: every BIFF8 worksheet reads as xlrd reads it ----

    void corpus_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<CorpusCheck>("check");
        QTest::addColumn<QStringList>("sheets");
        QTest::addColumn<QList<ErrorCode>>("refusals");

        const QString corpus = testsupport::corpusDir();
        if (corpus.isEmpty())
            QSKIP("the shared workbook corpus is not in this checkout");
        QStringList paths;
        for (const QString &folder : {corpus, corpus + QStringLiteral("/bad")})
            for (const QFileInfo &file : QDir(folder).entryInfoList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name))
                paths.append(file.absoluteFilePath());
        QVERIFY(!paths.isEmpty());

        const QString program = QString::fromLatin1(ListWorkbooksStrict) + QString::fromLatin1(LenientXlrd)
            + QString::fromLatin1(ListWorkbooksLenient);
        const auto listed = testsupport::run(testsupport::python(), QStringList{QStringLiteral("-c"), program} + paths);
        QVERIFY2(listed.exitCode == 0, listed.err.constData());
        const QJsonObject workbooks = QJsonDocument::fromJson(listed.out).object();

        for (const QString &path : paths) {
            const QJsonObject entry = workbooks.value(path).toObject();
            const QString strict = entry.value(QStringLiteral("strict")).toString();
            const QString lenient = entry.value(QStringLiteral("lenient")).toString();
            QStringList sheets;
            for (const auto &name : entry.value(QStringLiteral("sheets")).toArray())
                sheets.append(name.toString());
            const QByteArray rowName = QDir(corpus).relativeFilePath(path).toUtf8();
            auto addRow = [&](CorpusCheck check, QList<ErrorCode> refusals) {
                QTest::newRow(rowName.constData()) << path << check << sheets << refusals;
            };

            if (QFileInfo(path).dir().dirName() == QLatin1String("bad"))
                addRow(CorpusCheck::RefusedOrAgreesWithLenientXlrd, {ErrorCode::Damaged, ErrorCode::NotCompoundFile});
            else if (strict == QLatin1String("80"))
                addRow(CorpusCheck::AgreesWithXlrd, {});
            else if (strict == QLatin1String("encrypted"))
                addRow(CorpusCheck::Refused, {ErrorCode::Encrypted});
            else if (strict != QLatin1String("refused"))
                addRow(CorpusCheck::Refused, {ErrorCode::OldFormat}); // BIFF2–7: Excel 95 and older
            else if (lenient == QLatin1String("80"))
                addRow(CorpusCheck::AgreesWithLenientXlrd, {});
            else
                addRow(CorpusCheck::Refused, {ErrorCode::Damaged, ErrorCode::NotCompoundFile});
        }
    }

    void corpus()
    {
        QFETCH(QString, path);
        QFETCH(CorpusCheck, check);
        QFETCH(QStringList, sheets);
        QFETCH(QList<ErrorCode>, refusals);

        const auto names = worksheetNames(path);
        if (check == CorpusCheck::Refused || (check == CorpusCheck::RefusedOrAgreesWithLenientXlrd && !names)) {
            QVERIFY2(!names, "a workbook the engine must refuse was read");
            QVERIFY2(refusals.contains(names.error().code), qPrintable(names.error().message));
            QVERIFY(!names.error().message.isEmpty());
            const auto table = readSheet(path, sheets.value(0, QStringLiteral("Sheet1")));
            QVERIFY(!table);
            QCOMPARE(table.error().code, names.error().code);
            return;
        }

        QVERIFY2(names, qPrintable(names ? QString() : names.error().message));
        QCOMPARE(*names, sheets);
        for (const QString &sheet : sheets) {
            const auto oracle = xlrdTable(path, sheet, check != CorpusCheck::AgreesWithXlrd);
            QVERIFY2(oracle.exitCode == 0, qPrintable(sheet + QStringLiteral(": ") + QString::fromUtf8(oracle.err)));
            const auto table = readSheet(path, sheet);
            QVERIFY2(table, qPrintable(sheet + QStringLiteral(": ") + (table ? QString() : table.error().message)));
            const QString difference = firstDifference(tableText(*table), QString::fromUtf8(oracle.out));
            QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("sheet «%1», %2").arg(sheet, difference)));
        }
    }

    // ---- 2. Workbooks written by xlwt ----

    void fixture_data()
    {
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("firstRow");
        QTest::addColumn<int>("firstColumn");

        QTest::newRow("values from A1") << QByteArray(EraWorkbook) << EraText << 0 << 0;
        QTest::newRow("range starts at the first row and column with a value")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": [[], [],
                   [null, null, "Эра", "Начало"], [null, null, "Кайнозой", 66], [null, null, "Мезозой", 252]]}]})")
            << QStringLiteral("Эра\tНачало\nКайнозой\t66\nМезозой\t252\n") << 2 << 2;
        QTest::newRow("range is as wide as the widest row")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": [[null, "Эра"], ["Код", null, null, 4.5], [null, "Кайнозой"]]}]})")
            << QStringLiteral("F1\tЭра\tF3\tF4\nКод\t\t\t4,5\n\tКайнозой\t\t\n") << 0 << 0;
        QTest::newRow("blank header names are F and the position in the range")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": [[null, null], [null, "Эра", "  ", "Конец"], [null, "Кайнозой", 1, 2]]}]})")
            << QStringLiteral("Эра\tF2\tКонец\nКайнозой\t1\t2\n") << 1 << 1;
        QTest::newRow("header names are trimmed")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": [["  Эра ", "Начало\n"], [1, 2]]}]})")
            << QStringLiteral("Эра\tНачало\n1\t2\n") << 0 << 0;
        QTest::newRow("rows without values inside the range are records")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": [["Эра", "Начало"], ["Кайнозой", 66], [], [null, null], ["Мезозой", 252]]}]})")
            << QStringLiteral("Эра\tНачало\nКайнозой\t66\n\t\n\t\nМезозой\t252\n") << 0 << 0;
        QTest::newRow("header-only sheet has columns and no records")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": [[], ["Эра", null, "Начало"]]}]})")
            << QStringLiteral("Эра\tF2\tНачало\n") << 1 << 0;
        QTest::newRow("empty sheet has no columns")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": []}]})") << QStringLiteral("\n") << 0 << 0;
        QTest::newRow("dates in the 1900 system")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": [["Дата", "Время", "Високос", "После"],
                   [{"date": "1990-01-02"}, {"number": 0.75, "format": "hh:mm"}, {"number": 60, "format": "DD.MM.YYYY"},
                    {"number": 61.5, "format": "DD.MM.YYYY hh:mm"}]]}]})")
            << QStringLiteral("Дата\tВремя\tВисокос\tПосле\n02.01.1990\t18:00:00\t29.02.1900\t01.03.1900 12:00:00\n") << 0 << 0;
        QTest::newRow("dates in the 1904 system")
            << QByteArray(R"({"date1904": true, "sheets": [{"name": "Эры", "rows": [["Дата", "Время", "Ноль"],
                   [{"date": "1990-01-02"}, {"number": 0.75, "format": "hh:mm"}, {"number": 0, "format": "DD.MM.YYYY"}]]}]})")
            << QStringLiteral("Дата\tВремя\tНоль\n02.01.1990\t01.01.1904 18:00:00\t01.01.1904\n") << 0 << 0;
        QTest::newRow("numbers with a decimal comma in the fewest digits")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": [["Числа"], [0.1], [-251.902], [4600000000],
                   [1.5e-7], [1e21], [{"number": 2.5, "format": "0.00"}], [0]]}]})")
            << QStringLiteral("Числа\n0,1\n-251,902\n4600000000\n1,5E-07\n1E+21\n2,5\n0\n") << 0 << 0;
        QTest::newRow("text with line breaks, tabs and backslashes")
            << QByteArray(R"({"sheets": [{"name": "Эры", "rows": [["Описание", "Логика"],
                   ["Первая строка\nвторая\r\nтретья", true], ["а\tб\\в", false]]}]})")
            << QStringLiteral("Описание\tЛогика\nПервая строка\\nвторая\\r\\nтретья\tИСТИНА\nа\\tб\\\\в\tЛОЖЬ\n") << 0 << 0;
    }

    void fixture()
    {
        QFETCH(QByteArray, description);
        QFETCH(QString, expected);
        QFETCH(int, firstRow);
        QFETCH(int, firstColumn);

        const QString path = makeWorkbook(description);
        QVERIFY(!path.isEmpty());
        const auto oracle = xlrdTable(path, EraSheet, false);
        QVERIFY2(oracle.exitCode == 0, oracle.err.constData());
        QCOMPARE(QString::fromUtf8(oracle.out), expected); // xlrd sees what the row expects

        const auto table = readSheet(path, EraSheet);
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(tableText(*table), expected);
        if (table->columnCount() > 0) {
            QCOMPARE(table->firstRow, firstRow);
            QCOMPARE(table->firstColumn, firstColumn);
        }
    }

    void textKeepsControlCharacters()
    {
        const QString path = makeWorkbook(R"({"sheets": [{"name": "Эры", "rows": [["Описание"], ["а\tб\nв\r\nг"]]}]})");
        const auto table = readSheet(path, EraSheet);
        QVERIFY(table);
        QCOMPARE(table->text(0, 0), QStringLiteral("а\tб\nв\r\nг"));
    }

    void sheetByName_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("found");       // the stored name; empty when none matches
        QTest::addColumn<QString>("firstColumn"); // of the sheet found
        QTest::addColumn<QString>("missingName"); // named in the message when none matches

        const QString periods = QStringLiteral("Периоды"), period = QStringLiteral("Период");
        QTest::newRow("exact name") << periods << periods << period << QString();
        QTest::newRow("name with $") << QStringLiteral("Периоды$") << periods << period << QString();
        QTest::newRow("other case") << QStringLiteral("пЕРИОДЫ") << periods << period << QString();
        QTest::newRow("other case with $") << QStringLiteral("ЭРЫ$") << EraSheet << QStringLiteral("Эра") << QString();
        QTest::newRow("Latin name") << QStringLiteral("sheet 3") << QStringLiteral("Sheet 3") << QStringLiteral("Ярус") << QString();
        QTest::newRow("missing") << QStringLiteral("Ярусы") << QString() << QString() << QStringLiteral("Ярусы");
        QTest::newRow("missing with $") << QStringLiteral("Ярусы$") << QString() << QString() << QStringLiteral("Ярусы");
        QTest::newRow("two dollars") << QStringLiteral("Эры$$") << QString() << QString() << QStringLiteral("Эры$");
        QTest::newRow("a prefix is not the name") << QStringLiteral("Пери") << QString() << QString() << QStringLiteral("Пери");
    }

    void sheetByName()
    {
        QFETCH(QString, asked);
        QFETCH(QString, found);
        QFETCH(QString, firstColumn);
        QFETCH(QString, missingName);

        const auto table = readSheet(m_threeSheets, asked);
        if (found.isEmpty()) {
            QVERIFY(!table);
            QCOMPARE(table.error().code, ErrorCode::SheetMissing);
            QVERIFY2(table.error().message.contains(u'«' + missingName + u'»'), qPrintable(table.error().message));
            return;
        }
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->sheetName, found);
        QCOMPARE(table->columns.value(0), firstColumn);
    }

    // ---- 3. Damaged Workbook streams ----

    void damagedStream_data()
    {
        using namespace biff;
        QTest::addColumn<QByteArray>("base");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<Outcome>("outcome");

        const QByteArray era = m_eraStream;
        auto row = [&](const char *name, const QByteArray &base, std::function<void(QByteArray &)> damage, Outcome outcome) {
            const QString sheet = base == m_longStream ? LongSheet : EraSheet;
            QTest::newRow(name) << base << sheet << Damage{std::move(damage)} << outcome;
        };
        // Framing
        row("empty stream", era, [](QByteArray &s) { s.clear(); }, Outcome::error(ErrorCode::Damaged));
        row("stream of zeros", era, [](QByteArray &s) { s.fill('\0'); }, Outcome::error(ErrorCode::Damaged));
        row("stream cut inside the first record header", era, [](QByteArray &s) { s.truncate(3); }, Outcome::error(ErrorCode::Damaged));
        row("stream cut inside a sheet record header", era, [](QByteArray &s) { s.truncate(sheetEnd(s) + 2); },
            Outcome::error(ErrorCode::Damaged));
        row("stream cut inside a cell record", era, [](QByteArray &s) { s.truncate(findRecord(s, Id::Number).data() + 5); },
            Outcome::error(ErrorCode::Damaged));
        row("stream cut inside the SST", era, [](QByteArray &s) { s.truncate(findRecord(s, Id::Sst).data() + 20); },
            Outcome::error(ErrorCode::Damaged));
        row("stream ends before the sheet's EOF", era, [](QByteArray &s) { s.truncate(sheetEnd(s)); }, Outcome::table(EraText));
        row("SST length past the stream's end", era, [](QByteArray &s) { setLength(s, Id::Sst, 0, 8000); },
            Outcome::error(ErrorCode::Damaged));
        row("NUMBER length past the stream's end", era, [](QByteArray &s) {
            setLength(s, Id::Number, 0, static_cast<quint16>(std::min<qsizetype>(8224, s.size())));
        }, Outcome::error(ErrorCode::Damaged));
        row("XF length over 8224", era, [](QByteArray &s) { setLength(s, Id::Xf, 0, 8225); }, Outcome::error(ErrorCode::Damaged));
        row("cell record length 0xFFFF", era, [](QByteArray &s) { setLength(s, Id::LabelSst, 0, 0xFFFF); },
            Outcome::error(ErrorCode::Damaged));

        // The first BOF and the version
        row("stream that is only the globals BOF", era, [](QByteArray &s) { s.truncate(findRecord(s, Id::Bof).end()); },
            Outcome::error(ErrorCode::SheetMissing));
        row("stream not starting with a BOF", era, [](QByteArray &s) { s.remove(0, findRecord(s, Id::Bof).end()); },
            Outcome::error(ErrorCode::Damaged));
        row("BIFF5 version in the first BOF, BIFF8 in the sheet's", era, [](QByteArray &s) { setU16(s, 4, Biff5Version); },
            Outcome::error(ErrorCode::OldFormat));
        row("BIFF8 in the first BOF, BIFF5 in the sheet's", era,
            [](QByteArray &s) { setU16(s, findRecord(s, Id::Bof, 1).data(), Biff5Version); }, Outcome::table(EraText));
        row("BIFF4 BOF id", era, [](QByteArray &s) { setU16(s, 0, Id::Bof4); }, Outcome::error(ErrorCode::OldFormat));
        row("first BOF of a worksheet", era, [](QByteArray &s) { setU16(s, 6, BofWorksheet); }, Outcome::error(ErrorCode::Damaged));
        row("first BOF of two bytes", era, [](QByteArray &s) {
            setLength(s, Id::Bof, 0, 2);
            s.remove(6, 14);
        }, Outcome::error(ErrorCode::Damaged));
        row("FILEPASS right after the BOF", era, [](QByteArray &s) {
            s.insert(findRecord(s, Id::Bof).end(), record(Id::FilePass, QByteArray::fromHex("0000")));
        }, Outcome::error(ErrorCode::Encrypted));
        row("FILEPASS before damaged records", era, [](QByteArray &s) {
            setLength(s, Id::Xf, 0, 9000);
            s.insert(findRecord(s, Id::Bof).end(), record(Id::FilePass, QByteArray::fromHex("010001000000")));
        }, Outcome::error(ErrorCode::Encrypted));

        // BOUNDSHEET
        row("BOUNDSHEET position past the stream's end", era, [](QByteArray &s) { setSheetPosition(s, 0xFFFFFFF0u); },
            Outcome::table(EraText));
        row("BOUNDSHEET position inside a record", era,
            [](QByteArray &s) { setSheetPosition(s, static_cast<quint32>(findRecord(s, Id::Bof, 1).position + 2)); },
            Outcome::table(EraText));
        row("BOUNDSHEET position at the globals BOF", era, [](QByteArray &s) { setSheetPosition(s, 0); }, Outcome::table(EraText));
        row("globals without EOF and a stale BOUNDSHEET position", era,
            [](QByteArray &s) { s.remove(findRecord(s, Id::Eof).position, 4); }, Outcome::table(EraText));
        row("globals without EOF at the stream's end", era, [](QByteArray &s) { s.truncate(findRecord(s, Id::Eof).position); },
            Outcome::error(ErrorCode::Damaged));
        row("BOUNDSHEET of a chart", era, [](QByteArray &s) { s[findRecord(s, Id::BoundSheet).data() + 5] = 2; },
            Outcome::error(ErrorCode::NotWorksheet));
        row("BOUNDSHEET name longer than the record", era, [](QByteArray &s) { s[findRecord(s, Id::BoundSheet).data() + 6] = char(200); },
            Outcome::error(ErrorCode::Damaged));
        row("BOUNDSHEET cut before the name", era, [](QByteArray &s) {
            const RecordRef sheet = findRecord(s, Id::BoundSheet);
            setU16(s, sheet.position + 2, 6);
            s.remove(sheet.data() + 6, sheet.length - 6);
        }, Outcome::error(ErrorCode::Damaged));

        // Shared strings
        row("SST claims 4 billion strings", era, [](QByteArray &s) {
            const RecordRef sst = findRecord(s, Id::Sst);
            setU32(s, sst.data(), 0xFFFFFFFFu);
            setU32(s, sst.data() + 4, 0xFFFFFFFFu);
        }, Outcome::table(EraText));
        row("SST claims fewer strings than the cells use", era, [](QByteArray &s) { setU32(s, findRecord(s, Id::Sst).data() + 4, 2); },
            Outcome::error(ErrorCode::Damaged));
        row("SST shorter than its counts", era, [](QByteArray &s) {
            const RecordRef sst = findRecord(s, Id::Sst);
            setU16(s, sst.position + 2, 5);
            s.remove(sst.data() + 5, sst.length - 5);
        }, Outcome::error(ErrorCode::Damaged));
        row("string length runs past the last CONTINUE", m_longStream, [](QByteArray &s) {
            const RecordRef last = findRecord(s, Id::Continue);
            QVERIFY(last.position >= 0 && findRecord(s, Id::Continue, 1).position < 0);
            QCOMPARE(s.mid(last.end() - 5, 5), QByteArray::fromHex("0100012604")); // "Ц", the last string
            setU16(s, last.end() - 5, 0xFFFF);
        }, Outcome::error(ErrorCode::Damaged));
        row("string runs past a record that is not a CONTINUE", m_longStream, [](QByteArray &s) {
            const RecordRef continued = findRecord(s, Id::Continue);
            setU16(s, continued.position, 0x00FF); // now an EXTSST: the SST chain ends before it
        }, Outcome::error(ErrorCode::Damaged));
        row("16-bit string split inside a character", m_longStream, [](QByteArray &s) {
            // "Текст", the first string, is 16-bit: 4107 characters need one byte more than the SST holds.
            setU16(s, findRecord(s, Id::Sst).data() + 8, 4107);
        }, Outcome::error(ErrorCode::Damaged));
        row("long strings across CONTINUE read whole", m_longStream, [](QByteArray &) {},
            Outcome::table(QStringLiteral("Текст\n%1\n%2\nЦ\n").arg(QString(6000, u'A'), QString(6000, u'B'))));
        row("LABELSST index one past the last string", era, [](QByteArray &s) { setU32(s, findRecord(s, Id::LabelSst).data() + 6, 5); },
            Outcome::error(ErrorCode::Damaged));
        row("LABELSST index 2^32-1", era, [](QByteArray &s) { setU32(s, findRecord(s, Id::LabelSst).data() + 6, 0xFFFFFFFFu); },
            Outcome::error(ErrorCode::Damaged));
        row("LABELSST without its index", era, [](QByteArray &s) {
            const RecordRef label = findRecord(s, Id::LabelSst);
            setU16(s, label.position + 2, 6);
            s.remove(label.data() + 6, 4);
        }, Outcome::error(ErrorCode::Damaged));

        // Cells
        row("MULRK shorter than one cell", era, [](QByteArray &s) { shortenMulRk(s, 10); }, Outcome::error(ErrorCode::Damaged));
        row("MULRK with no cells", era, [](QByteArray &s) { shortenMulRk(s, 6); }, Outcome::error(ErrorCode::Damaged));
        row("MULRK of row and column only", era, [](QByteArray &s) { shortenMulRk(s, 4); }, Outcome::error(ErrorCode::Damaged));
        row("MULRK running past column 255", era, [](QByteArray &s) { setU16(s, findRecord(s, Id::MulRk).data() + 2, 255); },
            Outcome::error(ErrorCode::Damaged));
        row("date cell holding NaN", era, [](QByteArray &s) { setU32(s, findRecord(s, Id::MulRk).data() + 12, 0x7FF80000u); },
            Outcome::table(QString(EraText).replace(QStringLiteral("02.01.1990"), QStringLiteral("#ЧИСЛО!"))));
        row("MULRK whose last column disagrees with its length", era,
            [](QByteArray &s) { const RecordRef m = findRecord(s, Id::MulRk); setU16(s, m.end() - 2, 200); }, Outcome::table(EraText));

        QString lastRow = EraText;
        for (int r = 3; r < 65535; ++r)
            lastRow += QStringLiteral("\t\t\n");
        lastRow += QStringLiteral("7\t\t\n");
        row("cell in row 65535", era, [](QByteArray &s) { insertInSheet(s, numberCell(65535, 0, 7)); }, Outcome::table(lastRow));

        QStringList header{QStringLiteral("Эра"), QStringLiteral("Начало, млн лет"), QStringLiteral("Утверждено")};
        for (int c = 4; c <= 256; ++c)
            header.append(QStringLiteral("F%1").arg(c));
        QStringList cainozoic{QStringLiteral("Кайнозой"), QStringLiteral("66"), QStringLiteral("02.01.1990")};
        cainozoic.resize(255);
        cainozoic.append(QStringLiteral("7"));
        const QString lastColumn = line(header, 256) + line(cainozoic, 256) + line({QStringLiteral("Мезозой"), QStringLiteral("251,902")}, 256);
        row("cell in column 255", era, [](QByteArray &s) { insertInSheet(s, numberCell(1, 255, 7)); }, Outcome::table(lastColumn));
        row("cell in column 256", era, [](QByteArray &s) { insertInSheet(s, numberCell(1, 256, 7)); }, Outcome::error(ErrorCode::Damaged));
        row("cell in column 65535", era, [](QByteArray &s) { insertInSheet(s, numberCell(2, 65535, 7)); }, Outcome::error(ErrorCode::Damaged));
        row("cell in row 65535 and column 255", era, [](QByteArray &s) { insertInSheet(s, numberCell(65535, 255, 7)); },
            Outcome::error(ErrorCode::TooLarge));
        row("NUMBER without its value", era, [](QByteArray &s) {
            const RecordRef number = findRecord(s, Id::Number);
            setU16(s, number.position + 2, 10);
            s.remove(number.data() + 10, 4);
        }, Outcome::error(ErrorCode::Damaged));
        row("BOOLERR of row and column only", era, [](QByteArray &s) { insertInSheet(s, record(Id::BoolErr, cellStart(2, 2).left(4))); },
            Outcome::error(ErrorCode::Damaged));
        row("LABEL whose length runs past the record", era, [](QByteArray &s) {
            insertInSheet(s, record(Id::Label, cellStart(2, 2) + QByteArray::fromHex("400000") + "abc"));
        }, Outcome::error(ErrorCode::Damaged));

        const QString withLastCell = QStringLiteral("Эра\tНачало, млн лет\tУтверждено\nКайнозой\t66\t02.01.1990\nМезозой\t251,902\t%1\n");
        row("FORMULA with a string result and its STRING", era,
            [](QByteArray &s) { insertInSheet(s, formulaCell(2, 2, 0, 0) + stringRecord(3, "Mel")); }, Outcome::table(withLastCell.arg("Mel")));
        row("FORMULA with a string result but no STRING", era, [](QByteArray &s) { insertInSheet(s, formulaCell(2, 2, 0, 0)); },
            Outcome::table(EraText));
        row("FORMULA string result followed by a cell, then a stray STRING", era,
            [](QByteArray &s) { insertInSheet(s, formulaCell(2, 2, 0, 0) + numberCell(2, 1, 5) + stringRecord(3, "Mel")); },
            Outcome::table(QStringLiteral("Эра\tНачало, млн лет\tУтверждено\nКайнозой\t66\t02.01.1990\nМезозой\t5\t\n")));
        row("STRING shorter than its length", era,
            [](QByteArray &s) { insertInSheet(s, formulaCell(2, 2, 0, 0) + stringRecord(30, "Mel")); }, Outcome::error(ErrorCode::Damaged));
        row("FORMULA with an error result", era, [](QByteArray &s) { insertInSheet(s, formulaCell(2, 2, 2, 0x2A)); },
            Outcome::table(withLastCell.arg(QStringLiteral("#Н/Д"))));
        row("FORMULA with a boolean result", era, [](QByteArray &s) { insertInSheet(s, formulaCell(2, 2, 1, 1)); },
            Outcome::table(withLastCell.arg(QStringLiteral("ИСТИНА"))));
        row("FORMULA cut inside its result", era, [](QByteArray &s) { insertInSheet(s, record(Id::Formula, formulaCell(2, 2, 1, 1).mid(4, 12))); },
            Outcome::error(ErrorCode::Damaged));
        row("cells of an embedded chart are passed over", era, [](QByteArray &s) {
            QByteArray chartBof = s.mid(findRecord(s, Id::Bof, 1).data(), 16);
            setU16(chartBof, 2, 0x0020);
            insertInSheet(s, record(Id::Bof, chartBof) + numberCell(5, 5, 1) + record(Id::Eof, {}));
        }, Outcome::table(EraText));
    }

    void damagedStream()
    {
        QFETCH(QByteArray, base);
        QFETCH(QString, sheet);
        QFETCH(Damage, damage);
        QFETCH(Outcome, outcome);

        QByteArray stream = base;
        damage.apply(stream);
        if (QTest::currentTestFailed())
            return;

        const AllocationCeiling ceiling(AllocationAllowance);
        const auto table = readSheetFromStream(stream, sheet, QStringLiteral("повреждённая.xls"));
        if (outcome.text) {
            QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
            const QString difference = firstDifference(tableText(*table), *outcome.text);
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
        } else {
            QVERIFY2(!table, "the damaged stream was read");
            QVERIFY2(table.error().code == outcome.code, qPrintable(table.error().message));
            QVERIFY(!table.error().message.isEmpty());
        }
    }

    // Random bytes changed all over the stream: every read ends in a table or an error value.
    void randomByteFlips_data()
    {
        QTest::addColumn<QByteArray>("base");
        QTest::addColumn<QString>("sheet");
        QTest::newRow("era workbook") << m_eraStream << EraSheet;
        QTest::newRow("strings across CONTINUE") << m_longStream << LongSheet;
    }

    void randomByteFlips()
    {
        QFETCH(QByteArray, base);
        QFETCH(QString, sheet);

        const RecordRef last = recordsOf(base).constLast();
        const QByteArray used = base.left(last.end());
        QRandomGenerator random(19900102);
        const AllocationCeiling ceiling(AllocationAllowance);
        int read = 0;
        for (int i = 0; i < 3000; ++i) {
            QByteArray stream = used;
            const int flips = 1 + static_cast<int>(random.bounded(8));
            for (int f = 0; f < flips; ++f) {
                const qsizetype at = random.bounded(static_cast<int>(stream.size()));
                stream[at] = static_cast<char>(i % 3 == 0 ? random.bounded(256) : stream[at] ^ (1 << random.bounded(8)));
            }
            if (i % 10 == 0)
                stream.truncate(random.bounded(static_cast<int>(stream.size())));
            const auto table = readSheetFromStream(stream, sheet, QStringLiteral("случайная.xls"));
            if (table) {
                ++read;
                (void)tableText(*table); // every cell decodes from what the scan accepted
            } else {
                QVERIFY2(!table.error().message.isEmpty(), qPrintable(QStringLiteral("flip round %1").arg(i)));
            }
        }
        QVERIFY(read > 0); // most single flips land in values, which still read
    }

private:
    QString makeWorkbook(const QByteArray &description)
    {
        const QString path = m_dir.filePath(QStringLiteral("fixture%1.xls").arg(++m_made));
        const auto made = testsupport::runScript(QStringLiteral("make_xls.py"), {QStringLiteral("make"), path}, description);
        if (made.exitCode != 0) {
            qWarning("make_xls.py: %s", made.err.constData());
            return {};
        }
        return path;
    }

    QByteArray streamOf(const QByteArray &description)
    {
        const QString path = makeWorkbook(description);
        auto document = CompoundDocument::fromBytes(testsupport::readAll(path), QFileInfo(path).fileName());
        return document ? document->workbookStream() : QByteArray();
    }

    QTemporaryDir m_dir;
    int m_made = 0;
    QByteArray m_eraStream;
    QByteArray m_longStream;
    QString m_threeSheets;
};

QTEST_GUILESS_MAIN(ReaderTest)
#include "tst_reader.moc"

// Reading sheets: every worksheet of the shared corpus as xlrd reads it, the used-range and
// number rules on workbooks xlwt writes, and Workbook streams damaged on purpose.

#include "biff/records.h"
#include "bytereader.h"
#include "ole/workbookstream.h"
#include "testsupport.h"
#include "workbook.h"
#include "writeback.h"

#include <QJsonArray>
#include <QPoint>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <optional>

using namespace orbelant;
using namespace orbelant::biff;

namespace {

const QString Sheet = QStringLiteral("Эры");
const QString EraText = QStringLiteral("Эра\tНачало, млн лет\tУтверждено\nКайнозой\t66\t02.01.1990\nМезозой\t251,902\t\n");

// A record of the stream: id, where its header stands, its data's length.
struct RecordRef {
    quint16 id = 0;
    qsizetype position = -1, length = 0;
    qsizetype data() const { return position + 4; }
    qsizetype end() const { return position + 4 + length; }
};

// The `nth` record with `id` (0 = the first); position -1 when there is none.
RecordRef findRecord(const QByteArray &stream, quint16 id, int nth = 0)
{
    ByteReader reader(stream);
    while (reader.remaining() >= 4) {
        const qsizetype position = reader.position();
        const RecordRef found{reader.u16(), position, reader.u16()};
        if ((found.id == 0 && found.length == 0) || found.length > reader.remaining())
            break;
        reader.skip(found.length);
        if (found.id == id && nth-- == 0)
            return found;
    }
    return {};
}

QByteArray record(quint16 id, const QByteArray &data)
{
    QByteArray bytes;
    putU16(bytes, id);
    putU16(bytes, static_cast<quint16>(data.size()));
    return bytes + data;
}

QByteArray cellStart(quint16 row, quint16 column)
{
    QByteArray data;
    for (quint16 v : {row, column, quint16(0x0F)})
        putU16(data, v);
    return data;
}

QByteArray numberCell(quint16 row, quint16 column, double value)
{
    QByteArray data = cellStart(row, column);
    putF64(data, value);
    return record(Id::Number, data);
}

// A FORMULA whose cached result is not a number: type 0 string, 1 boolean, 2 error.
QByteArray formulaCell(quint8 resultType, quint8 payload)
{
    QByteArray data = cellStart(2, 2);
    data.append(char(resultType)).append('\0').append(char(payload)).append(3, '\0').append(2, '\xFF').append(8, '\0');
    return record(Id::Formula, data);
}

QByteArray stringRecord(quint16 declaredLength, const QByteArray &latin1)
{
    QByteArray data;
    putU16(data, declaredLength);
    return record(Id::String, data + '\0' + latin1);
}

void setLength(QByteArray &s, quint16 id, quint16 length) { setU16(s, findRecord(s, id).position + 2, length); }

// New records go before the sheet's EOF.
void insertInSheet(QByteArray &s, const QByteArray &records) { s.insert(findRecord(s, Id::Eof, 1).position, records); }

// Cuts a record's data to its first `keep` bytes.
void shorten(QByteArray &s, quint16 id, qsizetype keep)
{
    const RecordRef found = findRecord(s, id);
    s.replace(found.position, found.end() - found.position, record(id, s.mid(found.data(), keep)));
}

using Damage = std::function<void(QByteArray &)>;

// What reading must give: a table (as text) or an error code.
struct Outcome {
    std::optional<QString> text;
    ErrorCode code = ErrorCode::Damaged;
    QString words = {}; // in the message
};
Outcome table(const QString &text) { return {text}; }
Outcome error(ErrorCode code, const QString &words = {}) { return {std::nullopt, code, words}; }

QString withLastCell(const QString &value)
{
    return QStringLiteral("Эра\tНачало, млн лет\tУтверждено\nКайнозой\t66\t02.01.1990\nМезозой\t251,902\t%1\n").arg(value);
}

} // namespace

Q_DECLARE_METATYPE(Damage)
Q_DECLARE_METATYPE(Outcome)

class ReaderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QJsonObject books{{m_dir.filePath(QStringLiteral("era.xls")), QJsonDocument::fromJson(R"({"sheets": [{"name": "Эры", "rows": [
            ["Эра", "Начало, млн лет", "Утверждено"], ["Кайнозой", 66.0, {"date": "1990-01-02"}], ["Мезозой", 251.902, null]]}]})").object()}};
        const QJsonArray longRows{QJsonArray{"Текст"}, QJsonArray{QString(6000, u'A')}, QJsonArray{QString(6000, u'B')}, QJsonArray{"Ц"}};
        books.insert(m_dir.filePath(QStringLiteral("long.xls")), QJsonObject{{"sheets", QJsonArray{QJsonObject{{"name", Sheet}, {"rows", longRows}}}}});
        for (int i = 0; i < FixtureCount; ++i)
            books.insert(m_dir.filePath(QStringLiteral("fixture%1.xls").arg(i)), QJsonDocument::fromJson(Fixtures[i].description).object());
        QJsonArray large{QJsonArray{"Текст"}};
        for (int i = 0; i < 120; ++i)
            large.append(QJsonArray{QString(32000, u'ж') + QString::number(i)});
        books.insert(m_dir.filePath(QStringLiteral("large.xls")), QJsonObject{{"sheets", QJsonArray{QJsonObject{{"name", Sheet}, {"rows", large}}}}});
        QVERIFY(testsupport::makeWorkbooks(books));
        const auto streamOf = [&](const char *name) {
            const auto stream = readWorkbookStream(FileBytes::fromMemory(testsupport::readAll(m_dir.filePath(name))), name);
            return stream ? stream->bytes : QByteArray();
        };
        m_era = streamOf("era.xls");
        m_long = streamOf("long.xls");
        QVERIFY(!m_era.isEmpty() && !m_long.isEmpty());
    }

    // Every worksheet of every BIFF8 workbook reads as xlrd reads it; what xlrd takes for
    // Excel 95 or older, or encrypted, is refused as such; damaged files (bad/) are refused
    // or, where a forgiving xlrd reads them, read as it reads them.
    void corpus()
    {
        const QString corpus = testsupport::corpusDir();
        if (corpus.isEmpty())
            QSKIP("the shared workbook corpus is not in this checkout");
        QStringList paths;
        for (const QString &folder : {corpus, corpus + QStringLiteral("/bad")})
            for (const QFileInfo &file : QDir(folder).entryInfoList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name))
                paths.append(file.absoluteFilePath());
        const QJsonObject oracle = testsupport::oracleReport(paths);
        for (const QString &path : paths) {
            const QJsonObject seen = oracle[path].toObject();
            const QString xlrd = seen[QStringLiteral("xlrd")].toString();
            const QStringList sheets = seen[QStringLiteral("sheets")].toVariant().toStringList();
            const auto names = worksheetNames(path);
            const QString name = QFileInfo(path).fileName();
            if (xlrd == QLatin1String("encrypted") || seen[QStringLiteral("biff")].toInt(80) < 80) {
                QVERIFY2(!names, qPrintable(name));
                QCOMPARE(names.error().code, xlrd == QLatin1String("encrypted") ? ErrorCode::Encrypted : ErrorCode::OldFormat);
                continue;
            }
            if (xlrd == QLatin1String("refused") || (!names && path.contains(QLatin1String("/bad/")))) {
                QVERIFY2(!names && (names.error().code == ErrorCode::Damaged || names.error().code == ErrorCode::NotCompoundFile),
                         qPrintable(name));
                continue;
            }
            QVERIFY2(names, qPrintable(name + u' ' + (names ? QString() : names.error().message)));
            QCOMPARE(*names, sheets);
            for (const QString &sheet : sheets) {
                const auto table = readSheet(path, sheet);
                QVERIFY2(table, qPrintable(name));
                QCOMPARE(testsupport::tableText(*table), seen[QStringLiteral("tables")].toObject()[sheet].toString());
            }
        }
    }

    // The used range, its header, numbers, dates and texts on workbooks written by xlwt.
    void fixture_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < FixtureCount; ++i)
            QTest::newRow(Fixtures[i].name) << i;
    }
    void fixture()
    {
        QFETCH(int, index);
        const auto table = readSheet(m_dir.filePath(QStringLiteral("fixture%1.xls").arg(index)), Sheet);
        QVERIFY2(table, table ? "" : qPrintable(table.error().message));
        QCOMPARE(testsupport::tableText(*table), QString::fromUtf8(Fixtures[index].expected));
        if (table->columnCount() > 0)
            QCOMPARE(QPoint(table->firstColumn, table->firstRow), Fixtures[index].origin);
    }

    // Over 7 MiB: the container's allocation table is listed past the header's 109 sectors.
    // A sheet is named as the workbook names it, in any case, with or without the $ that
    // means the whole sheet.
    void largeWorkbookAndSheetNames()
    {
        const QString path = m_dir.filePath(QStringLiteral("large.xls"));
        const auto table = readSheet(path, QStringLiteral("эРЫ$"));
        QVERIFY2(table, table ? "" : qPrintable(table.error().message));
        QCOMPARE(table->recordCount(), 120);
        QCOMPARE(table->text(119, 0), QString(32000, u'ж') + QStringLiteral("119"));
        QVERIFY(!table->notSaveable && storeRecord(path, *table, 0, {{0, QStringLiteral("правка")}}));
        for (const QString &asked : {QStringLiteral("Эр"), QStringLiteral("Эры$$"), QStringLiteral("Ярусы")})
            QCOMPARE(readSheet(path, asked).error().code, ErrorCode::SheetMissing);
        QByteArray bytes = testsupport::readAll(path); // the header lists no extension of the allocation table
        setU32(bytes, 72, 0);
        QVERIFY(testsupport::writeBytes(path, bytes));
        QCOMPARE(readSheet(path, Sheet).error().code, ErrorCode::Damaged);
    }

    void damagedStream_data()
    {
        QTest::addColumn<bool>("longStrings");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<Outcome>("outcome");
        const auto row = [](const char *name, Damage damage, Outcome outcome, bool longStrings = false) {
            QTest::newRow(name) << longStrings << damage << outcome;
        };
        const Outcome damaged = error(ErrorCode::Damaged), era = table(EraText);
        // Framing and the first BOF
        row("empty stream", [](QByteArray &s) { s.clear(); }, damaged);
        row("cut inside the first record header", [](QByteArray &s) { s.truncate(3); }, error(ErrorCode::Damaged, "обрывается"));
        row("ends before the sheet's EOF", [](QByteArray &s) { s.truncate(findRecord(s, Id::Eof, 1).position); }, era);
        row("record length past the end", [](QByteArray &s) { setLength(s, Id::Number, quint16(s.size())); }, damaged);
        row("record length over 8224", [](QByteArray &s) { setLength(s, Id::Xf, 8225); }, damaged);
        row("only the globals BOF", [](QByteArray &s) { s.truncate(findRecord(s, Id::Bof).end()); }, error(ErrorCode::SheetMissing));
        row("no BOF first", [](QByteArray &s) { s.remove(0, findRecord(s, Id::Bof).end()); }, damaged);
        row("BIFF5 in the first BOF", [](QByteArray &s) { setU16(s, 4, Biff5Version); }, error(ErrorCode::OldFormat));
        row("BIFF5 in the sheet's BOF only", [](QByteArray &s) { setU16(s, findRecord(s, Id::Bof, 1).data(), Biff5Version); }, era);
        row("BIFF4 BOF id", [](QByteArray &s) { setU16(s, 0, Id::Bof4); }, error(ErrorCode::OldFormat));
        row("first BOF of a worksheet", [](QByteArray &s) { setU16(s, 6, BofWorksheet); }, damaged);
        row("first BOF of two bytes", [](QByteArray &s) { shorten(s, Id::Bof, 2); }, damaged);
        row("FILEPASS before damaged records", [](QByteArray &s) { setLength(s, Id::Xf, 9000);
            s.insert(findRecord(s, Id::Bof).end(), record(Id::FilePass, QByteArray::fromHex("010001000000")));
        }, error(ErrorCode::Encrypted));
        // BOUNDSHEET: a wrong position is repaired by the sheets' order
        row("sheet position past the end", [](QByteArray &s) { setU32(s, findRecord(s, Id::BoundSheet).data(), 0xFFFFFFF0u); }, era);
        row("sheet position inside a record",
            [](QByteArray &s) { setU32(s, findRecord(s, Id::BoundSheet).data(), quint32(findRecord(s, Id::Bof, 1).position + 2)); }, era);
        row("globals without EOF", [](QByteArray &s) { s.remove(findRecord(s, Id::Eof).position, 4); }, era);
        row("globals without EOF to the end", [](QByteArray &s) { s.truncate(findRecord(s, Id::Eof).position); }, damaged);
        row("sheet of a chart", [](QByteArray &s) { s[findRecord(s, Id::BoundSheet).data() + 5] = 2; }, error(ErrorCode::NotWorksheet));
        row("sheet name longer than its record", [](QByteArray &s) { s[findRecord(s, Id::BoundSheet).data() + 6] = char(200); }, damaged);
        // Shared strings
        row("SST claims 4 billion strings", [](QByteArray &s) { setU32(s, findRecord(s, Id::Sst).data() + 4, 0xFFFFFFFFu); }, era);
        row("SST holds fewer strings than the cells use", [](QByteArray &s) { setU32(s, findRecord(s, Id::Sst).data() + 4, 2); }, damaged);
        row("SST shorter than its counts", [](QByteArray &s) { shorten(s, Id::Sst, 5); }, damaged);
        row("long strings across CONTINUE", [](QByteArray &) {},
            table(QStringLiteral("Текст\n%1\n%2\nЦ\n").arg(QString(6000, u'A'), QString(6000, u'B'))), true);
        row("string past the last CONTINUE", [](QByteArray &s) { setU16(s, findRecord(s, Id::Continue).end() - 5, 0xFFFF); }, damaged, true);
        row("string past a record that is no CONTINUE", [](QByteArray &s) { setU16(s, findRecord(s, Id::Continue).position, Id::ExtSst); },
            damaged, true);
        row("16-bit string split inside a character", [](QByteArray &s) { setU16(s, findRecord(s, Id::Sst).data() + 8, 4107); }, damaged, true);
        row("LABELSST one past the last string", [](QByteArray &s) { setU32(s, findRecord(s, Id::LabelSst).data() + 6, 5); }, damaged);
        row("LABELSST without its index", [](QByteArray &s) { shorten(s, Id::LabelSst, 6); }, damaged);
        // Cells
        row("MULRK of one cell cut short", [](QByteArray &s) { shorten(s, Id::MulRk, 10); }, damaged);
        row("MULRK past column 255", [](QByteArray &s) { setU16(s, findRecord(s, Id::MulRk).data() + 2, 255); }, damaged);
        row("MULRK's last column disagrees", [](QByteArray &s) { setU16(s, findRecord(s, Id::MulRk).end() - 2, 200); }, era);
        row("date cell holding NaN", [](QByteArray &s) { setU32(s, findRecord(s, Id::MulRk).data() + 12, 0x7FF80000u); },
            table(QString(EraText).replace(QStringLiteral("02.01.1990"), QStringLiteral("#ЧИСЛО!"))));
        row("cell in column 256", [](QByteArray &s) { insertInSheet(s, numberCell(1, 256, 7)); }, damaged);
        row("cells over 8 million", [](QByteArray &s) { insertInSheet(s, numberCell(65535, 255, 7)); }, error(ErrorCode::TooLarge));
        row("NUMBER without its value", [](QByteArray &s) { shorten(s, Id::Number, 10); }, damaged);
        row("RK without its value", [](QByteArray &s) { insertInSheet(s, record(Id::Rk, cellStart(2, 2).left(8))); }, damaged);
        row("BOOLERR of row and column only", [](QByteArray &s) { insertInSheet(s, record(Id::BoolErr, cellStart(2, 2).left(4))); }, damaged);
        row("LABEL longer than its record",
            [](QByteArray &s) { insertInSheet(s, record(Id::Label, cellStart(2, 2) + QByteArray::fromHex("400000") + "abc")); },
            damaged);
        row("LABEL", [](QByteArray &s) { insertInSheet(s, record(Id::Label, cellStart(2, 2) + QByteArray::fromHex("030000") + "abc")); },
            table(withLastCell(QStringLiteral("abc"))));
        row("formula text in its STRING", [](QByteArray &s) { insertInSheet(s, formulaCell(0, 0) + stringRecord(3, "Mel")); },
            table(withLastCell(QStringLiteral("Mel"))));
        row("formula text without its STRING", [](QByteArray &s) { insertInSheet(s, formulaCell(0, 0)); }, era);
        row("STRING after another cell", [](QByteArray &s) { insertInSheet(s, formulaCell(0, 0) + numberCell(2, 1, 5) + stringRecord(3, "Mel")); },
            table(QStringLiteral("Эра\tНачало, млн лет\tУтверждено\nКайнозой\t66\t02.01.1990\nМезозой\t5\t\n")));
        row("STRING shorter than its length", [](QByteArray &s) { insertInSheet(s, formulaCell(0, 0) + stringRecord(30, "Mel")); }, damaged);
        row("formula error", [](QByteArray &s) { insertInSheet(s, formulaCell(2, 0x2A)); }, table(withLastCell(QStringLiteral("#Н/Д"))));
        row("formula boolean", [](QByteArray &s) { insertInSheet(s, formulaCell(1, 1)); }, table(withLastCell(QStringLiteral("ИСТИНА"))));
        row("formula empty text", [](QByteArray &s) { insertInSheet(s, formulaCell(3, 0)); }, era);
        row("formula cut inside its result", [](QByteArray &s) { insertInSheet(s, record(Id::Formula, formulaCell(1, 1).mid(4, 12))); }, damaged);
        row("cells of an embedded chart are passed over", [](QByteArray &s) { QByteArray chartBof = s.mid(findRecord(s, Id::Bof, 1).data(), 16);
            setU16(chartBof, 2, 0x0020);
            insertInSheet(s, record(Id::Bof, chartBof) + numberCell(5, 5, 1) + record(Id::Eof, {}));
        }, era);
    }

    void damagedStream()
    {
        QFETCH(bool, longStrings);
        QFETCH(Damage, damage);
        QFETCH(Outcome, outcome);
        QByteArray stream = longStrings ? m_long : m_era;
        damage(stream);
        const auto read = readSheetFromStream(stream, Sheet, QStringLiteral("повреждённая.xls"));
        if (outcome.text) {
            QVERIFY2(read, read ? "" : qPrintable(read.error().message));
            QCOMPARE(testsupport::tableText(*read), *outcome.text);
        } else {
            QVERIFY2(!read, "the damaged stream was read");
            QCOMPARE(read.error().code, outcome.code);
            QVERIFY2(read.error().message.contains(outcome.words), qPrintable(read.error().message));
        }
    }

private:
    struct Fixture {
        const char *name;
        const char *description;
        const char *expected;
        QPoint origin; // first column and row of the range
    };
    static constexpr int FixtureCount = 8;
    static constexpr Fixture Fixtures[FixtureCount] = {
        {"range from the first row and column with a value", R"({"sheets": [{"name": "Эры", "rows": [[], [],
            [null, null, "Эра", "Начало"], [null, null, "Кайнозой", 66], [null, null, "Мезозой", 252]]}]})",
         "Эра\tНачало\nКайнозой\t66\nМезозой\t252\n", {2, 2}},
        {"as wide as the widest row; blank names are F and the position",
         R"({"sheets": [{"name": "Эры", "rows": [[null, "Эра", "  "], ["Код", null, null, 4.5], [null, "Кайнозой"]]}]})",
         "F1\tЭра\tF3\tF4\nКод\t\t\t4,5\n\tКайнозой\t\t\n", {0, 0}},
        {"names trimmed, empty texts are no value, empty rows inside are records",
         R"({"sheets": [{"name": "Эры", "rows": [["", ""], ["  Эра ", "Начало\n"], [1, 2], [null, ""], ["Мезозой", 252]]}]})",
         "Эра\tНачало\n1\t2\n\t\nМезозой\t252\n", {0, 1}},
        {"header only", R"({"sheets": [{"name": "Эры", "rows": [[], ["Эра", null, "Начало"]]}]})", "Эра\tF2\tНачало\n", {0, 1}},
        {"empty sheet", R"({"sheets": [{"name": "Эры", "rows": []}]})", "\n", {0, 0}},
        {"dates in the 1900 system", R"({"sheets": [{"name": "Эры", "rows": [["Дата", "Время", "Високос", "После"],
            [{"date": "1990-01-02"}, {"number": 0.75, "format": "hh:mm"}, {"number": 60, "format": "DD.MM.YYYY"},
             {"number": 61.5, "format": "DD.MM.YYYY hh:mm"}]]}]})",
         "Дата\tВремя\tВисокос\tПосле\n02.01.1990\t18:00:00\t29.02.1900\t01.03.1900 12:00:00\n", {0, 0}},
        {"dates in the 1904 system", R"({"date1904": true, "sheets": [{"name": "Эры", "rows": [["Дата", "Время", "Ноль"],
            [{"date": "1990-01-02"}, {"number": 0.75, "format": "hh:mm"}, {"number": 0, "format": "DD.MM.YYYY"}]]}]})",
         "Дата\tВремя\tНоль\n02.01.1990\t01.01.1904 18:00:00\t01.01.1904\n", {0, 0}},
        {"numbers, booleans and texts with breaks", R"({"sheets": [{"name": "Эры", "rows": [["Числа", "Логика", "Текст"],
            [0.1, true, "а\tб\\в"], [-251.902, false, "строка\nвторая\r\n"], [4600000000], [1.5e-7], [1e21],
            [{"number": 2.5, "format": "0.00"}], [0]]}]})",
         "Числа\tЛогика\tТекст\n0,1\tИСТИНА\tа\\tб\\\\в\n-251,902\tЛОЖЬ\tстрока\\nвторая\\r\\n\n4600000000\t\t\n1,5E-07\t\t\n1E+21\t\t\n2,5\t\t\n0\t\t\n",
         {0, 0}},
    };

    QTemporaryDir m_dir;
    QByteArray m_era, m_long;
};

QTEST_GUILESS_MAIN(ReaderTest)
#include "tst_reader.moc"

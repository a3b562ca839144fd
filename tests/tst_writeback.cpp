// Workbooks read and edited. Each scenario edits a copy (or none: then it is only read); then
// an independent reader and checker (xls_oracle.py: xlrd, and a check of every record that
// holds a position or a count) must find the new values, every other cell, sheet and stream
// as it was, and no bookkeeping fault that was not there before; our reader must show every
// worksheet as xlrd does, or refuse what xlrd takes for old, encrypted or unreadable.

#include "testsupport.h"
#include "workbook.h"
#include "writeback.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace orbelant;
using namespace testsupport;

namespace {

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
    [140, "Меловая", "Повтор", "Тот же возраст."], [7, 8, 9]]}, {"name": "Другой", "rows": [["Лист"], [1]]}]})";

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
// between them.
QJsonObject blocksWorkbook()
{
    QJsonArray partial{QJsonArray{"Возраст", "Ярус"}}, full = partial;
    for (int row = 1; row <= 95; ++row) {
        const QJsonArray stage{row, QStringLiteral("ярус %1").arg(row)};
        if (row <= 70)
            partial.append(row <= 31 || (row >= 33 && row <= 40) || row == 70 ? stage : QJsonArray());
        full.append(row <= 31 || row >= 64 ? stage : QJsonArray());
    }
    return {{"blocks", true},
            {"sheets", QJsonArray{QJsonObject{{"name", "Блоки"}, {"rows", partial}, {"styled", QJsonArray{50}}},
                                  QJsonObject{{"name", "Полные"}, {"rows", full}}}}};
}

int countOf(const QJsonValue &report, const char *key)
{
    return report[QStringLiteral("counts")][QLatin1String(key)].toInt();
}

} // namespace

class WritebackTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString blocks = m_dir.filePath(QStringLiteral("blocks.xls")), shapes = m_dir.filePath(QStringLiteral("shapes.xls"));
        QVERIFY(makeWorkbooks({{m_scale, QJsonDocument::fromJson(ScaleWorkbook).object()}, {blocks, blocksWorkbook()},
                               {shapes, QJsonDocument::fromJson(ShapesWorkbook).object()},
                               {m_dir.filePath(QStringLiteral("1904.xls")), QJsonDocument::fromJson(Dates1904Workbook).object()}}));
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
        if (scenario.unchanged)
            QCOMPARE(readAll(scenario.file), scenario.before);

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

    // An edit of a column or a record the sheet has not is refused, naming it by its number;
    // the file stays as it was.
    void refusesWhatTheSheetHasNot()
    {
        const QByteArray before = readAll(m_scale);
        const auto table = readSheet(m_scale, QStringLiteral("Лист1"));
        const auto column = storeRecord(m_scale, *table, 0, {{5, QStringLiteral("x")}});
        const auto record = storeRecord(m_scale, *table, 6, {{0, QStringLiteral("1")}});
        QVERIFY(!column && column.error().code == ErrorCode::UnknownColumn && column.error().message.contains(QStringLiteral("«6»")));
        QVERIFY(!record && record.error().code == ErrorCode::NoSuchRecord && record.error().message.contains(QStringLiteral("записи 7")));
        QCOMPARE(readAll(m_scale), before);
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
              {0, "Органический мир", "", ""}, {5, "Ярус", "10,5", "10,5", {}, Cell::Kind::Number}}},
            {"number column rules", copyOf(scale, "b"), "Лист1",
             {{1, "Возраст", "3.5", "3,5", {}, Cell::Kind::Number}, {1, "Возраст", "много", "", ErrorCode::NotANumber},
              {1, "Возраст", "3 5", "", ErrorCode::NotANumber}, {2, "Возраст", "сейчас", "", ErrorCode::NotANumber},
              {2, "Система", "66", "66", {}, Cell::Kind::Text}, {4, "Возраст", "   ", ""},
              {4, "Примечание", "12", "12", {}, Cell::Kind::Text}, {3, "Органический мир", longest, longest},
              {1, "Органический мир", longest + u'ж', "", ErrorCode::TextTooLong}}},
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
            const auto stored = storeRecord(scenario.file, *table, edit.record, {{table->columnIndex(edit.column), edit.typed}});
            if (stored) {
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
};

QTEST_GUILESS_MAIN(WritebackTest)
#include "tst_writeback.moc"

// Storing edits back into workbooks. Each scenario edits a copy; then an independent reader
// and checker (xls_oracle.py: xlrd, and a check of every record that holds a position or a
// count) must find the new values, every other cell, sheet and stream as it was, and no
// bookkeeping fault that was not there before.

#include "testsupport.h"
#include "workbook.h"
#include "writeback.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace orbelant;

namespace {

struct Edit {
    qsizetype record;
    QString column;
    QString typed;
    QString shown;                  // the cell's text afterwards, as the readers show it
    std::optional<ErrorCode> refused = {};
    std::optional<Cell::Kind> kind = {}; // what the cell must hold, where the text cannot tell
};

struct Scenario {
    QString name;
    QString file;
    QString sheet;
    std::vector<Edit> edits;
    std::optional<int> newStrings = {}; // shared strings added
    std::optional<int> newReferences = {}; // references to shared strings added
    std::optional<int> newBlocks = {};  // row blocks (DBCELL records) added
    bool unchanged = false;             // the file stays byte for byte

    // Filled in by the run.
    std::vector<QString> outcomes = {}; // per edit: empty when stored, else what went wrong
    QByteArray before = {};
};

QJsonArray rowOf(std::initializer_list<QJsonValue> cells)
{
    return QJsonArray(cells);
}

QJsonObject scaleWorkbook()
{
    const QJsonArray rows{rowOf({"Возраст", "Система", "Ярус", "Органический мир", "Примечание"}),
                          rowOf({0.0117, "Четвертичная", "Гренландский", "Мамонты вымирают."}),
                          rowOf({2.58, "Четвертичная", "Гелазский", QJsonValue::Null}),
                          rowOf({QJsonValue::Null}),
                          rowOf({140, "Меловая", "Берриасский", "Первые цветковые?"}),
                          rowOf({140, "Меловая", "Повтор", "Тот же возраст."})};
    return {{"sheets", QJsonArray{QJsonObject{{"name", "Лист1"}, {"rows", rows}},
                                  QJsonObject{{"name", "Другой"}, {"rows", QJsonArray{rowOf({"Лист"}), rowOf({1})}}}}}};
}

// Rows in Excel's blocks of 32: "Блоки" has a full first block, a gap and two partial
// blocks; "Полные" two full blocks with 32 empty rows between them.
QJsonObject blocksWorkbook()
{
    QJsonArray partial{rowOf({"Возраст", "Ярус"})}, full{rowOf({"Возраст", "Ярус"})};
    for (int row = 1; row <= 95; ++row) {
        const bool inPartial = row <= 31 || (row >= 33 && row <= 40) || row == 70;
        partial.append(inPartial && row <= 70 ? rowOf({row, QStringLiteral("ярус %1").arg(row)}) : rowOf({QJsonValue::Null}));
        full.append(row <= 31 || row >= 64 ? rowOf({row, QStringLiteral("ярус %1").arg(row)}) : rowOf({QJsonValue::Null}));
    }
    while (partial.last().toArray().first().isNull())
        partial.removeLast();
    return {{"blocks", true},
            {"sheets", QJsonArray{QJsonObject{{"name", "Блоки"}, {"rows", partial}, {"styled", QJsonArray{50}}},
                                  QJsonObject{{"name", "Полные"}, {"rows", full}}}}};
}

// The cells of a table text as rows of fields; the header is row 0.
QList<QStringList> grid(const QString &text)
{
    QList<QStringList> rows;
    for (const QString &line : text.chopped(1).split(u'\n'))
        rows.append(line.split(u'\t'));
    return rows;
}

QString joined(const QList<QStringList> &rows)
{
    QStringList lines;
    for (const QStringList &row : rows)
        lines.append(row.join(u'\t'));
    return lines.join(u'\n') + u'\n';
}

QString escapedField(QString value)
{
    return value.replace(u'\\', QLatin1String("\\\\")).replace(u'\t', QLatin1String("\\t")).replace(u'\n', QLatin1String("\\n"));
}

int countOf(const QJsonObject &report, const char *key)
{
    return report[QStringLiteral("counts")].toObject()[QLatin1String(key)].toInt();
}

} // namespace

class WritebackTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString scale = m_dir.filePath(QStringLiteral("scale.xls"));
        const QString blocks = m_dir.filePath(QStringLiteral("blocks.xls"));
        QVERIFY(testsupport::makeWorkbooks({{scale, scaleWorkbook()}, {blocks, blocksWorkbook()}}));
        addFixtureScenarios(scale, blocks);
        addCorpusScenarios();

        QStringList files;
        for (Scenario &scenario : m_scenarios)
            files.append(scenario.file);
        m_before = testsupport::oracleReport(files);
        for (Scenario &scenario : m_scenarios)
            run(scenario);
        m_after = testsupport::oracleReport(files);
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
        const QJsonObject before = m_before[scenario.file].toObject();
        const QJsonObject after = m_after[scenario.file].toObject();
        QVERIFY2(after.contains(QStringLiteral("tables")), "xlrd does not read the written file");

        // Each edit stored or refused as it should be.
        auto expected = grid(before[QStringLiteral("tables")].toObject()[scenario.sheet].toString());
        for (size_t i = 0; i < scenario.edits.size(); ++i) {
            const Edit &edit = scenario.edits[i];
            QVERIFY2(scenario.outcomes[i] == (edit.refused ? QStringLiteral("refused ") + QString::number(int(*edit.refused))
                                                            : QString()),
                     qPrintable(QStringLiteral("edit %1: %2").arg(i).arg(scenario.outcomes[i])));
            if (edit.refused)
                continue;
            const qsizetype column = expected.value(0).indexOf(edit.column);
            QVERIFY(column >= 0);
            expected[edit.record + 1][column] = escapedField(edit.shown);
        }
        if (scenario.unchanged)
            QCOMPARE(testsupport::readAll(scenario.file), scenario.before);

        // xlrd finds the new values and everything else as it was; so does our reader.
        const QJsonObject tablesBefore = before[QStringLiteral("tables")].toObject();
        const QJsonObject tablesAfter = after[QStringLiteral("tables")].toObject();
        QCOMPARE(tablesAfter.keys(), tablesBefore.keys());
        for (const QString &sheet : tablesBefore.keys()) {
            const QString wanted = sheet == scenario.sheet ? joined(expected) : tablesBefore[sheet].toString();
            QCOMPARE(tablesAfter[sheet].toString(), wanted);
            const auto ours = readSheet(scenario.file, sheet);
            QVERIFY2(ours, ours ? "" : qPrintable(ours.error().message));
            QCOMPARE(testsupport::tableText(*ours), wanted);
        }
        const auto reread = readSheet(scenario.file, scenario.sheet);
        for (const Edit &edit : scenario.edits)
            if (edit.kind && !edit.refused)
                QCOMPARE(reread->cell(edit.record, reread->columnIndex(edit.column)).kind, *edit.kind);

        // Every other stream and storage is byte for byte what it was, class ids included.
        QJsonArray entriesBefore = before[QStringLiteral("entries")].toArray();
        QJsonArray entriesAfter = after[QStringLiteral("entries")].toArray();
        for (QJsonArray *entries : {&entriesBefore, &entriesAfter})
            for (QJsonValueRef entry : *entries)
                if (entry.toObject()[QStringLiteral("path")].toString().compare(QStringLiteral("Workbook"), Qt::CaseInsensitive) == 0)
                    entry = QJsonObject{{"path", "Workbook"}};
        QCOMPARE(entriesAfter, entriesBefore);

        // The bookkeeping holds no fault it did not hold before (unless it was faulty to begin
        // with, beyond the wider ranges Excel writes), and the counts moved as they should.
        QStringList added;
        const QJsonArray problemsBefore = before[QStringLiteral("problems")].toArray();
        const bool soundBefore = std::all_of(problemsBefore.begin(), problemsBefore.end(),
                                             [](const QJsonValue &p) { return p.toString().contains(QLatin1String("wider")); });
        for (const QJsonValue &problem : after[QStringLiteral("problems")].toArray())
            if (!problemsBefore.contains(problem) && soundBefore)
                added.append(problem.toString());
        QVERIFY2(added.isEmpty(), qPrintable(added.join(u'\n')));
        if (scenario.newStrings)
            QCOMPARE(countOf(after, "sst_unique") - countOf(before, "sst_unique"), *scenario.newStrings);
        if (scenario.newReferences)
            QCOMPARE(countOf(after, "sst_total") - countOf(before, "sst_total"), *scenario.newReferences);
        if (scenario.newBlocks)
            QCOMPARE(countOf(after, "dbcells") - countOf(before, "dbcells"), *scenario.newBlocks);
        if (countOf(before, "sst_total") == countOf(before, "labelsst"))
            QCOMPARE(countOf(after, "sst_total"), countOf(after, "labelsst"));
    }

private:
    void addFixtureScenarios(const QString &scale, const QString &blocks)
    {
        const auto copyOf = [&](const QString &source, const QString &name) {
            const QString path = m_dir.filePath(name + QStringLiteral(".xls"));
            QFile::copy(source, path);
            return path;
        };
        const QString longLatin(9000, u'q'), longCyrillic(5777, u'ю');
        m_scenarios = {
            {"numbers, texts and a clearing", copyOf(scale, "a"), "Лист1",
             {{0, "Возраст", " 0,0042 ", "0,0042", {}, Cell::Kind::Number},
              {0, "Ярус", "Мегхалайский", "Мегхалайский"},
              {0, "Органический мир", "", ""}}},
            {"number column rules", copyOf(scale, "b"), "Лист1",
             {{1, "Возраст", "3.5", "3,5", {}, Cell::Kind::Number},
              {1, "Возраст", "много", "", ErrorCode::NotANumber},
              {1, "Возраст", "3 5", "", ErrorCode::NotANumber},
              {2, "Возраст", "сейчас", "", ErrorCode::NotANumber},
              {2, "Система", "66", "66", {}, Cell::Kind::Text},
              {0, "Система", "12", "12", {}, Cell::Kind::Text},
              {4, "Возраст", "   ", ""},
              {4, "Примечание", "12", "12", {}, Cell::Kind::Text},
              {3, "Органический мир", QString(32767, u'ж'), QString(32767, u'ж')},
              {1, "Органический мир", QString(32768, u'ж'), "", ErrorCode::TextTooLong}}},
            {"unchanged texts leave the file alone", copyOf(scale, "c"), "Лист1",
             {{0, "Возраст", "0,0117", "0,0117"}, {0, "Система", "Четвертичная", "Четвертичная"}}, {}, {}, {}, true},
            {"a stored text is referenced again", copyOf(scale, "d"), "Лист1",
             {{1, "Ярус", "Берриасский", "Берриасский"}}, 0, 0},
            {"a new text, a cleared one", copyOf(scale, "e"), "Лист1",
             {{3, "Ярус", "Валанжинский", "Валанжинский"}, {3, "Органический мир", "", ""}}, 1, -1},
            {"a row without cells gets them", copyOf(scale, "f"), "Лист1",
             {{2, "Система", "Неогеновая", "Неогеновая"}, {2, "Возраст", "23,03", "23,03", {}, Cell::Kind::Number}}, 1, 1},
            {"long texts across CONTINUE records", copyOf(scale, "g"), "Лист1",
             {{0, "Органический мир", longLatin + "0", longLatin + "0"}, {1, "Органический мир", longCyrillic + "1", longCyrillic + "1"},
              {2, "Органический мир", longLatin + "2", longLatin + "2"}, {3, "Органический мир", longCyrillic + "3", longCyrillic + "3"}},
             4, 2},
            {"into the block above when the one below is full", copyOf(blocks, "h"), "Блоки",
             {{31, "Ярус", "новый", "новый"}}, {}, {}, 0},
            {"after the rows of a block with room", copyOf(blocks, "i"), "Блоки",
             {{40, "Ярус", "после", "после"}}, {}, {}, 0},
            {"a row that had a ROW record but no cells", copyOf(blocks, "k"), "Блоки",
             {{49, "Ярус", "оформленная", "оформленная"}}, {}, {}, 0},
            {"a block of its own between full ones", copyOf(blocks, "j"), "Полные",
             {{39, "Ярус", "отдельный", "отдельный"}, {39, "Возраст", "40", "40"}}, {}, {}, 1},
        };
        for (Scenario &scenario : m_scenarios)
            QVERIFY(QFileInfo::exists(scenario.file));
    }

    // Workbooks from Excel, Mac Excel and LibreOffice: every cell of the first, a middle and
    // the last record of the first sheet, one store at a time: texts into text and empty
    // cells, numbers into number cells.
    void addCorpusScenarios()
    {
        const QString corpus = testsupport::corpusDir();
        if (corpus.isEmpty())
            return;
        for (const QFileInfo &source : QDir(corpus).entryInfoList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name)) {
            const auto names = worksheetNames(source.filePath());
            if (!names || names->isEmpty())
                continue;
            const auto table = readSheet(source.filePath(), names->first());
            if (!table || table->recordCount() < 1 || table->notSaveable)
                continue;
            Scenario scenario{source.fileName(), m_dir.filePath(source.fileName()), table->sheetName, {}};
            QFile::copy(source.filePath(), scenario.file);
            QFile::setPermissions(scenario.file, QFile::ReadOwner | QFile::WriteOwner);
            int edits = 0;
            for (qsizetype record : {qsizetype(0), table->recordCount() / 2, table->recordCount() - 1}) {
                for (qsizetype column = 0; column < table->columnCount(); ++column) {
                    const Cell cell = table->cell(record, column);
                    const QString name = table->columns[column];
                    if (cell.kind == Cell::Kind::Number && !cell.isDate) {
                        const QString number = QStringLiteral("%1,25").arg(1000 + edits++);
                        scenario.edits.push_back({record, name, number, number});
                    } else if (cell.kind == Cell::Kind::Text || cell.isEmpty()) {
                        const QString text = QStringLiteral("Правка %1 — ü ж").arg(edits++);
                        scenario.edits.push_back({record, name, text, text});
                    }
                }
            }
            m_scenarios.push_back(std::move(scenario));
        }
    }

    // Each edit is one store, from the file as it then is. A cell the engine refuses to
    // rewrite (part of a shared formula) or an empty cell of a number column is left out of
    // the expectation when the corpus brings one.
    void run(Scenario &scenario)
    {
        scenario.before = testsupport::readAll(scenario.file);
        for (Edit &edit : scenario.edits) {
            const auto table = readSheet(scenario.file, scenario.sheet);
            QVERIFY2(table, table ? "" : qPrintable(table.error().message));
            const QByteArray bytes = testsupport::readAll(scenario.file);
            const auto stored = storeRecord(scenario.file, *table, edit.record, {{table->columnIndex(edit.column), edit.typed}});
            if (stored) {
                scenario.outcomes.push_back({});
                continue;
            }
            const bool corpusRefusal = scenario.name.endsWith(QLatin1String(".xls"))
                && (stored.error().code == ErrorCode::CannotEdit || stored.error().code == ErrorCode::NotANumber);
            if (corpusRefusal)
                edit.refused = stored.error().code;
            scenario.outcomes.push_back(QStringLiteral("refused %1").arg(int(stored.error().code))
                                        + (testsupport::readAll(scenario.file) == bytes ? QString() : QStringLiteral(", file changed"))
                                        + (edit.refused ? QString() : QStringLiteral(": ") + stored.error().message));
        }
    }

    QTemporaryDir m_dir;
    std::vector<Scenario> m_scenarios;
    QJsonObject m_before;
    QJsonObject m_after;
};

QTEST_GUILESS_MAIN(WritebackTest)
#include "tst_writeback.moc"

#include "filter/criterion.h"

#include <QTest>

using namespace orbelant;

namespace {

// A few stages of the scale, with the awkward cells a real sheet has: empty ages, a text
// in the age column, booleans and errors, numbers and number-like texts side by side.
SheetTable stages()
{
    const QStringList columns = {QStringLiteral("Возраст"), QStringLiteral("Ярус"), QStringLiteral("Органический мир"),
                                 QStringLiteral("Примечание"), QStringLiteral("Дата")};
    const auto number = [](double v) { return Cell::makeNumber(v); };
    const auto text = [](const char *t) { return Cell::makeText(QString::fromUtf8(t)); };
    const Cell empty;
    const std::vector<std::vector<Cell>> rows = {
        /* 0 */ {number(201.3), text("Геттангский"), text("Аммониты"), empty, empty},
        /* 1 */ {number(0.01), text("Голоцен"), text("Человек"), empty, empty},
        /* 2 */ {number(174.1), text("Тоарский"), text("Белемниты"), text("5"), empty},
        /* 3 */ {number(174.1), text("Ааленский"), text("Аммониты"), number(5), empty},
        /* 4 */ {empty, text("Неизвестный"), empty, Cell::makeBoolean(true), empty},
        /* 5 */ {text("н/д"), text("Спорный"), text("Аммониты"), Cell::makeError(0x2A), empty},
        /* 6 */ {number(66), text("Маастрихтский"), text("Динозавры"), number(66), empty},
        /* 7 */ {number(2.58), text("Гелазский"), text("Мамонты"), text("д'Орбиньи"), Cell::makeNumber(45000, true)},
        /* 8 */ {number(3.6), text("Пьяченцский"), text("Мамонты"), text("он сказал \"да\""), empty},
    };
    std::vector<Cell> cells;
    for (const auto &row : rows)
        cells.insert(cells.end(), row.begin(), row.end());
    SheetTable table = SheetTable::fromCells(columns, std::move(cells));
    table.sheetName = QStringLiteral("Лист1");
    return table;
}

// The message a refusal carries, or a note that there was none.
QString messageOf(const QString &criterion)
{
    const auto found = findFirst(stages(), criterion);
    return found ? QStringLiteral("(принято)") : found.error().message;
}

} // namespace

class CriterionTest : public QObject {
    Q_OBJECT
private slots:
    void findsFirstMatchingRecord_data()
    {
        QTest::addColumn<QString>("criterion");
        QTest::addColumn<int>("record"); // -1: none
        auto row = [](const char *name, const char *criterion, int record) {
            QTest::newRow(name) << QString::fromUtf8(criterion) << record;
        };
        // numbers
        row("number equality", "[Возраст] = 201,3", 0);
        row("decimal point", "[Возраст] = 0.01", 1);
        row("decimal comma", "[Возраст] = 0,01", 1);
        row("leading separator", "[Возраст] = ,01", 1);
        row("exponent", "[Возраст] = 1,0E-2", 1);
        row("explicit plus", "[Возраст] = +66", 6);
        row("negative literal", "[Возраст] > -1", 0);
        row("same age twice gives the earlier", "[Возраст] = 174.1", 2);
        row("less than", "[Возраст] < 1", 1);
        row("not equal", "[Возраст] <> 201,3", 1);
        row("greater or equal includes equal", "[Возраст] >= 201,3", 0);
        row("less or equal", "[Возраст] <= 2,58", 1);
        row("no such value", "[Возраст] = 999", -1);
        row("date cell compares as its serial number", "[Дата] = 45000", 7);
        row("two columns compared", "[Возраст] = [Примечание]", 6);
        // texts
        row("text ignores case", "[Ярус] = 'тоарский'", 2);
        row("double quotes", "[Ярус] = \"МААСТРИХТСКИЙ\"", 6);
        row("text order ignores case", "[Ярус] < 'б'", 3);
        row("doubled single quote", "[Примечание] = 'д''Орбиньи'", 7);
        row("single quote inside double quotes", "[Примечание] = \"д'Орбиньи\"", 7);
        row("doubled double quote", "[Примечание] = \"он сказал \"\"да\"\"\"", 8);
        row("text in a number column", "[Возраст] = 'н/д'", 5);
        row("empty text literal matches nothing", "[Примечание] = ''", -1);
        // number against text
        row("number never equals a text", "[Примечание] = 5", 3);
        row("text never equals a number", "[Примечание] = '5'", 2);
        row("number and text are unequal", "[Примечание] <> 5", 2);
        row("ordering skips texts", "[Примечание] < 100", 3);
        row("literal number against literal text", "1 = '1'", -1);
        // names
        row("bare column name", "Возраст = 66", 6);
        row("bare name ignores case", "дата = 45000", 7);
        row("bracketed name with a space", "[Органический мир] = 'Динозавры'", 6);
        row("bracketed name ignores case", "[органический МИР] = 'динозавры'", 6);
        row("blanks inside brackets", "[ Возраст ] = 66", 6);
        // blanks
        row("no blanks", "([Возраст]=66)AND([Ярус]='Маастрихтский')", 6);
        row("no-break spaces", "[Возраст]\u00A0=\u00A066", 6);
        row("tabs, line breaks, ideographic space", "\t[Возраст]\n=\u300066 ", 6);
        // logic
        row("lower-case keywords", "[Возраст] > 100 and [Органический мир] = 'аммониты' and not [Ярус] = 'геттангский'", 3);
        row("mixed-case OR", "[Возраст] = 66 oR [Возраст] = 2,58", 6);
        row("AND binds tighter than OR", "[Ярус] = 'Голоцен' OR [Возраст] = 66 AND [Ярус] = 'Тоарский'", 1);
        row("parentheses group OR first", "([Ярус] = 'Голоцен' OR [Возраст] = 174,1) AND [Органический мир] = 'Аммониты'", 3);
        row("NOT binds tighter than AND", "NOT [Возраст] > 100 AND [Ярус] = 'Голоцен'", 1);
        row("double negation", "NOT NOT [Возраст] = 66", 6);
        row("constant true", "1 = 1", 0);
        row("constant text ignores case", "'а' = 'А'", 0);
        // empty, boolean and error cells: unknown, never a match, also under NOT
        row("empty cell skipped by <>", "[Примечание] <> 'xyz'", 2);
        row("empty cell skipped under NOT", "NOT [Примечание] = 'xyz'", 2);
        row("empty age under NOT", "[Ярус] = 'Неизвестный' AND NOT [Возраст] = 1", -1);
        row("boolean cell never matches", "[Ярус] = 'Неизвестный' AND [Примечание] <> 'x'", -1);
        row("boolean cell under NOT", "[Ярус] = 'Неизвестный' AND NOT [Примечание] = 0", -1);
        row("error cell under NOT", "[Ярус] = 'Спорный' AND NOT [Примечание] = 'x'", -1);
        row("unknown OR true is true", "[Примечание] = 'x' OR [Возраст] = 0,01", 1);
        row("NOT (unknown AND false) is true", "NOT ([Примечание] = 'x' AND [Возраст] = 0,01)", 0);
        row("NOT (unknown OR false) stays unknown", "NOT ([Примечание] = 'x' OR [Возраст] = 201,3)", 2);
    }
    void findsFirstMatchingRecord()
    {
        QFETCH(QString, criterion);
        QFETCH(int, record);
        const auto found = findFirst(stages(), criterion);
        QVERIFY2(found.has_value(), found ? "" : qPrintable(found.error().message));
        QCOMPARE(found->value_or(-1), qsizetype(record));
    }

    void notEqualAgreesWithNotEquals_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("number") << "5";
        QTest::newRow("text") << "'5'";
        QTest::newRow("other text") << "'Аммониты'";
        QTest::newRow("column") << "[Возраст]";
    }
    void notEqualAgreesWithNotEquals()
    {
        QFETCH(QString, value);
        const SheetTable table = stages();
        for (const QString &column : {QStringLiteral("Примечание"), QStringLiteral("Возраст"), QStringLiteral("Органический мир")}) {
            const auto notEqual = Criterion::parse(QStringLiteral("[%1] <> %2").arg(column, value), table);
            const auto negated = Criterion::parse(QStringLiteral("NOT [%1] = %2").arg(column, value), table);
            QVERIFY(notEqual && negated);
            for (qsizetype record = 0; record < table.recordCount(); ++record)
                QVERIFY2(notEqual->matches(table, record) == negated->matches(table, record),
                         qPrintable(QStringLiteral("%1, запись %2").arg(column).arg(record)));
        }
    }

    void searchStartsAtFrom()
    {
        const SheetTable table = stages();
        const QString age174 = QStringLiteral("[Возраст] = 174,1");
        QCOMPARE(findFirst(table, age174, 2).value(), std::optional<qsizetype>(2));
        QCOMPARE(findFirst(table, age174, 3).value(), std::optional<qsizetype>(3));
        QCOMPARE(findFirst(table, age174, 4).value(), std::optional<qsizetype>());
        QCOMPARE(findFirst(table, age174, 1000).value(), std::optional<qsizetype>());
        QCOMPARE(findFirst(table, age174, -5).value(), std::optional<qsizetype>(2));
    }

    void refusesWithMessage_data()
    {
        QTest::addColumn<QString>("criterion");
        QTest::addColumn<QString>("message");
        auto row = [](const char *name, const char *criterion, const char *message) {
            QTest::newRow(name) << QString::fromUtf8(criterion) << QString::fromUtf8(message);
        };
        row("Cyrillic letter in a number", "[Возраст] = 14о",
            "Неверное условие поиска «[Возраст] = 14о»: неожиданный знак «о» в позиции 15.");
        row("nothing to compare with", "[Возраст] = ",
            "Неверное условие поиска «[Возраст] =»: после «=» не указано, с чем сравнивать.");
        row("unknown column", "[Возрас] = 1",
            "Неверное условие поиска «[Возрас] = 1»: в листе нет столбца «Возрас».");
        row("text without quotes", "[Возраст] = Тоарский",
            "Неверное условие поиска «[Возраст] = Тоарский»: в листе нет столбца «Тоарский» "
            "(текст для сравнения берите в кавычки: 'Тоарский').");
        row("unclosed quote", "[Ярус] = 'Тоарский",
            "Неверное условие поиска «[Ярус] = 'Тоарский»: не закрыта кавычка, открытая в позиции 10.");
        row("!= is not ours", "[Возраст] != 5",
            "Неверное условие поиска «[Возраст] != 5»: знак «!=» в позиции 11 не поддерживается, "
            "«не равно» записывается как «<>».");
        row("positions count characters, not UTF-16 units", "[Ярус] = '😀' #",
            "Неверное условие поиска «[Ярус] = '😀' #»: неожиданный знак «#» в позиции 14.");
        row("a character beyond 16 bits at the end", "[Ярус] = 1 😀",
            "Неверное условие поиска «[Ярус] = 1 😀»: неожиданный знак «😀» в позиции 12.");
        row("invisible character named by code", "[Возраст]\u200B= 5",
            "Неверное условие поиска «[Возраст]\u200B= 5»: неожиданный невидимый знак U+200B в позиции 10.");
        row("dangling AND", "[Возраст] = 5 AND",
            "Неверное условие поиска «[Возраст] = 5 AND»: после «AND» не хватает условия.");
        row("empty", "", "Неверное условие поиска «»: условие пустое.");
    }
    void refusesWithMessage()
    {
        QFETCH(QString, criterion);
        QFETCH(QString, message);
        QCOMPARE(messageOf(criterion), message);
    }

    void refusesMalformed_data()
    {
        QTest::addColumn<QString>("criterion");
        auto row = [](const char *name, const char *criterion) {
            QTest::newRow(name) << QString::fromUtf8(criterion);
        };
        row("blanks only", " \u00A0\t");
        row("unclosed bracket", "[Возраст = 5");
        row("NOT alone", "NOT");
        row("two separators", "[Возраст] = 1,2,3");
        row("doubled equals", "[Возраст] == 5");
        row("detached sign", "[Возраст] = - 5");
        row("hexadecimal", "[Возраст] = 0x10");
        row("exclamation alone", "![Возраст] = 5");
        QTest::newRow("lone surrogate") << QStringLiteral("[Ярус] = ") + QChar(0xD800);
        QTest::newRow("NUL character") << QStringLiteral("[Возраст] = 5") + QChar(0);
    }
    void refusesMalformed()
    {
        QFETCH(QString, criterion);
        const auto found = findFirst(stages(), criterion);
        QVERIFY(!found.has_value());
        QCOMPARE(found.error().code, ErrorCode::BadCriterion);
        QVERIFY(found.error().message.startsWith(QStringLiteral("Неверное условие поиска")));
    }

    void nestingIsCappedAtHundredLevels_data()
    {
        QTest::addColumn<QString>("open");
        QTest::addColumn<QString>("close");
        QTest::newRow("parentheses") << "(" << ")";
        QTest::newRow("NOT") << "NOT NOT " << "";
        QTest::newRow("NOT in parentheses") << "(NOT NOT " << ")";
    }
    void nestingIsCappedAtHundredLevels()
    {
        QFETCH(QString, open);
        QFETCH(QString, close);
        const QString inner = QStringLiteral("[Возраст] = 66");
        const qsizetype levelsPerRepeat = open.count(QLatin1Char('(')) + open.count(QStringLiteral("NOT"));
        const qsizetype deepest = 100 / levelsPerRepeat;

        const auto atLimit = findFirst(stages(), open.repeated(deepest) + inner + close.repeated(deepest));
        QVERIFY2(atLimit.has_value(), atLimit ? "" : qPrintable(atLimit.error().message));
        QCOMPARE(atLimit->value_or(-1), qsizetype(6));

        const auto beyond = findFirst(stages(), open.repeated(deepest + 1) + inner + close.repeated(deepest + 1));
        QVERIFY(!beyond.has_value());
        QCOMPARE(beyond.error().code, ErrorCode::BadCriterion);
        QVERIFY2(beyond.error().message.contains(QStringLiteral("глубже 100")), qPrintable(beyond.error().message));
    }

    void thousandsOfOpenParenthesesAreRefusedNotRecursed()
    {
        const auto found = findFirst(stages(), QString(9999, QLatin1Char('(')));
        QVERIFY(!found.has_value());
        QCOMPARE(found.error().code, ErrorCode::BadCriterion);
    }

    void lengthIsCappedAtTenThousand()
    {
        // A long flat OR chain is fine up to the cap, and evaluated without recursion per term.
        QString criterion = QStringLiteral("[Возраст] = 3,6");
        while (criterion.size() < 9990)
            criterion.prepend(QStringLiteral("[Возраст] = 1 OR "));
        criterion += QString(10000 - criterion.size(), QLatin1Char(' '));
        QCOMPARE(criterion.size(), 10000);
        const auto atLimit = findFirst(stages(), criterion);
        QVERIFY2(atLimit.has_value(), atLimit ? "" : qPrintable(atLimit.error().message));
        QCOMPARE(atLimit->value_or(-1), qsizetype(8));

        const auto beyond = findFirst(stages(), criterion + QLatin1Char(' '));
        QVERIFY(!beyond.has_value());
        QCOMPARE(beyond.error().code, ErrorCode::BadCriterion);
        QVERIFY(beyond.error().message.contains(QStringLiteral("длиннее 10 000 знаков")));
        QVERIFY2(beyond.error().message.size() < 200, "the message quotes only the start of the criterion");
    }

    void matchesRefusesRecordsAndTablesItWasNotParsedFor()
    {
        const SheetTable table = stages();
        const auto criterion = Criterion::parse(QStringLiteral("[Дата] = 45000"), table);
        QVERIFY(criterion.has_value());
        QVERIFY(criterion->matches(table, 7));
        QVERIFY(!criterion->matches(table, -1));
        QVERIFY(!criterion->matches(table, table.recordCount()));

        const SheetTable narrower = SheetTable::fromCells({QStringLiteral("Возраст"), QStringLiteral("Ярус")},
                                                          std::vector<Cell>(16 * 2, Cell::makeNumber(45000)));
        QVERIFY(!criterion->matches(narrower, 7));
    }
};

QTEST_GUILESS_MAIN(CriterionTest)
#include "tst_criterion.moc"

// Texts read as values: search criteria, numbers typed, numbers and dates shown. Numbers typed
// with a decimal point or comma, blanks around, signs and exponents are in the criterion rows
// and the workbook tests, the workbooks' own numbers, dates, booleans and errors are read
// against xlrd there; they are not repeated here.

#include "filter/criterion.h"
#include "numbertext.h"

#include <QTest>

using namespace orbelant;

Q_DECLARE_METATYPE(orbelant::Cell)

namespace {

// A few stages of the scale, with the awkward cells a real sheet has: empty ages, a text
// in the age column, booleans and errors, numbers and number-like texts side by side.
SheetTable stages()
{
    const auto n = [](double v) { return Cell::makeNumber(v); };
    const auto t = [](const char *text) { return Cell::makeText(QString::fromUtf8(text)); };
    const Cell e;
    return SheetTable::fromCells(
        {QStringLiteral("Возраст"), QStringLiteral("Ярус"), QStringLiteral("Органический мир"), QStringLiteral("Примечание"), QStringLiteral("Дата")},
        {/* 0 */ n(201.3), t("Геттангский"), t("Аммониты"), e, e,
         /* 1 */ n(0.01), t("Голоцен"), t("Человек"), e, e,
         /* 2 */ n(174.1), t("Тоарский"), t("Белемниты"), t("5"), e,
         /* 3 */ n(174.1), t("Ааленский"), t("Аммониты"), n(5), e,
         /* 4 */ e, t("Неизвестный"), e, Cell::makeBoolean(true), e,
         /* 5 */ t("н/д"), t("Спорный"), t("Аммониты"), Cell::makeError(0x2A), e,
         /* 6 */ n(66), t("Маастрихтский"), t("Динозавры"), n(66), e,
         /* 7 */ n(2.58), t("Гелазский"), t("Мамонты"), t("д'Орбиньи"), Cell::makeNumber(45000, true),
         /* 8 */ n(3.6), t("Пьяченцский"), t("Мамонты"), t("он сказал \"да\""), e});
}

} // namespace

class CriterionTest : public QObject {
    Q_OBJECT
private slots:
    void findsFirstMatchingRecord_data()
    {
        QTest::addColumn<QString>("criterion");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("record"); // -1: none
        auto row = [](const char *name, const char *criterion, int record, int from = 0) {
            QTest::newRow(name) << QString::fromUtf8(criterion) << from << record;
        };
        // numbers
        row("decimal comma", "[Возраст] = 0,01", 1);
        row("decimal point", "[Возраст] = 0.01", 1);
        row("leading separator", "[Возраст] = ,01", 1);
        row("exponent", "[Возраст] = 1,0E-2", 1);
        row("explicit plus", "[Возраст] = +66", 6);
        row("negative literal", "[Возраст] > -1", 0);
        row("not equal", "[Возраст] <> 201,3", 1);
        row("greater or equal includes equal", "[Возраст] >= 201,3", 0);
        row("less or equal", "[Возраст] <= 2,58", 1);
        row("date cell compares as its serial number", "[Дата] = 45000", 7);
        row("two columns compared", "[Возраст] = [Примечание]", 6);
        // where the search starts
        row("from the second of two", "[Возраст] = 174.1", 3, 3);
        row("from past the end", "[Возраст] = 174.1", -1, 1000);
        row("from before the start", "[Возраст] = 174.1", 2, -5);
        // texts
        row("text ignores case", "[Ярус] = 'тоарский'", 2);
        row("text order ignores case", "[Ярус] < 'б'", 3);
        row("doubled single quote", "[Примечание] = 'д''Орбиньи'", 7);
        row("doubled double quote", "[Примечание] = \"он сказал \"\"да\"\"\"", 8);
        row("text in a number column", "[Возраст] = 'н/д'", 5);
        row("empty text literal matches nothing", "[Примечание] = ''", -1);
        // number against text: only <> holds, and it agrees with NOT =
        row("number never equals a text", "[Примечание] = 5", 3);
        row("text never equals a number", "[Примечание] = '5'", 2);
        row("number and text are unequal", "[Примечание] <> 5", 2);
        row("NOT = agrees with <>", "NOT [Примечание] = 5", 2);
        row("ordering skips texts", "[Примечание] < 100", 3);
        row("literal number against literal text", "1 = '1'", -1);
        // names and blanks
        row("bare name ignores case", "дата = 45000", 7);
        row("bracketed name ignores case", "[органический МИР] = 'динозавры'", 6);
        row("blanks inside brackets", "[ Возраст ] = 66", 6);
        row("no blanks", "([Возраст]=66)AND([Ярус]='Маастрихтский')", 6);
        row("tabs, line breaks, no-break and ideographic spaces", "\t[Возраст]\u00A0\n=\u300066 ", 6);
        // logic
        row("keywords in any case", "[Возраст] > 100 and [Органический мир] = 'аммониты' AnD not [Ярус] = 'геттангский'", 3);
        row("AND binds tighter than OR", "[Ярус] = 'Голоцен' OR [Возраст] = 66 AND [Ярус] = 'Тоарский'", 1);
        row("parentheses group OR first", "([Ярус] = 'Голоцен' OR [Возраст] = 174,1) AND [Органический мир] = 'Аммониты'", 3);
        row("NOT binds tighter than AND", "NOT [Возраст] > 100 AND [Ярус] = 'Голоцен'", 1);
        // empty, boolean and error cells: unknown, never a match, also under NOT
        row("empty cell skipped by <>", "[Примечание] <> 'xyz'", 2);
        row("empty cell skipped under NOT", "NOT [Примечание] = 'xyz'", 2);
        row("empty age under NOT", "[Ярус] = 'Неизвестный' AND NOT [Возраст] = 1", -1);
        row("boolean cell never matches", "[Ярус] = 'Неизвестный' AND [Примечание] <> 'x'", -1);
        row("boolean cell under NOT", "[Ярус] = 'Неизвестный' AND NOT [Примечание] = 0", -1);
        row("error cell under NOT", "[Ярус] = 'Спорный' AND NOT [Примечание] = 'x'", -1);
        row("unknown OR true is true", "[Примечание] = 'x' oR [Возраст] = 0,01", 1);
        row("NOT (unknown AND false) is true", "NOT ([Примечание] = 'x' AND [Возраст] = 0,01)", 0);
        row("NOT (unknown OR false) stays unknown", "NOT ([Примечание] = 'x' OR [Возраст] = 201,3)", 2);
    }
    void findsFirstMatchingRecord()
    {
        QFETCH(QString, criterion);
        QFETCH(int, from);
        QFETCH(int, record);
        const auto found = findFirst(stages(), criterion, from);
        QVERIFY2(found.has_value(), found ? "" : qPrintable(found.error().message));
        QCOMPARE(found->value_or(-1), qsizetype(record));
    }

    // Every refusal quotes the criterion and says what is wrong; where no message is given,
    // only that it is a refusal of the criterion.
    void refuses_data()
    {
        QTest::addColumn<QString>("criterion");
        QTest::addColumn<QString>("message");
        auto row = [](const char *name, const QString &criterion, const char *message = "") {
            QTest::newRow(name) << criterion << QString::fromUtf8(message);
        };
        const auto u = [](const char *text) { return QString::fromUtf8(text); };
        row("Cyrillic letter in a number", u("[Возраст] = 14о"), "Неверное условие поиска «[Возраст] = 14о»: неожиданный знак «о» в позиции 15.");
        row("nothing to compare with", u("[Возраст] = "), "Неверное условие поиска «[Возраст] =»: после «=» не указано, с чем сравнивать.");
        row("AND in place of a value", u("[Возраст] = AND [Ярус] = 1"), "Неверное условие поиска «[Возраст] = AND [Ярус] = 1»: в позиции 13 "
                                                                     "стоит «AND», а ожидалось значение или столбец.");
        row("no comparison", u("[Ярус]"), "Неверное условие поиска «[Ярус]»: после «[Ярус]» не хватает знака сравнения (=, <>, <, >, <= или >=).");
        row("unknown column", u("[Возрас] = 1"), "Неверное условие поиска «[Возрас] = 1»: на листе нет столбца «Возрас».");
        row("text without quotes", u("[Возраст] = Тоарский"), "Неверное условие поиска «[Возраст] = Тоарский»: на листе нет столбца "
                                                              "«Тоарский» (текст для сравнения берите в кавычки: 'Тоарский').");
        row("empty brackets", u("[] = 5 OR [Ярус] = 1"), "Неверное условие поиска «[] = 5 OR [Ярус] = 1»: пустое имя столбца в позиции 1.");
        row("unclosed quote", u("[Ярус] = 'Тоарский"), "Неверное условие поиска «[Ярус] = 'Тоарский»: не закрыта кавычка, открытая в позиции 10.");
        row("!= is not ours", u("[Возраст] != 5"), "Неверное условие поиска «[Возраст] != 5»: знак «!=» в позиции 11 не поддерживается; "
                                                   "«не равно» записывается как «<>».");
        row("positions count characters, not UTF-16 units", u("[Ярус] = '😀' #"),
            "Неверное условие поиска «[Ярус] = '😀' #»: неожиданный знак «#» в позиции 14.");
        row("a character beyond 16 bits at the end", u("[Ярус] = 1 😀"), "Неверное условие поиска «[Ярус] = 1 😀»: неожиданный знак «😀» в позиции 12.");
        row("invisible character named by code", u("[Возраст]\u200B= 5"),
            "Неверное условие поиска «[Возраст]\u200B= 5»: неожиданный невидимый знак U+200B в позиции 10.");
        row("dangling AND", u("[Возраст] = 5 AND"), "Неверное условие поиска «[Возраст] = 5 AND»: после «AND» не хватает условия.");
        row("empty", QString(), "Неверное условие поиска «»: условие пустое.");
        // blanks only, an unclosed bracket, NOT alone, two separators, doubled equals, a detached
        // sign, hexadecimal, an exclamation alone, a lone surrogate, NUL, thousands of parentheses
        for (const QString &criterion : {u(" \u00A0\t"), u("[Возраст = 5"), u("NOT"), u("[Возраст] = 1,2,3"), u("[Возраст] == 5"),
                                         u("[Возраст] = - 5"), u("[Возраст] = 0x10"), u("![Возраст] = 5"), QString(u("[Ярус] = ") + QChar(0xD800)),
                                         QString(u("[Возраст] = 5") + QChar(0)), QString(9999, u'(')})
            row(qPrintable(criterion.left(20)), criterion);
    }
    void refuses()
    {
        QFETCH(QString, criterion);
        QFETCH(QString, message);
        const auto found = findFirst(stages(), criterion);
        QVERIFY(!found.has_value());
        QCOMPARE(found.error().code, ErrorCode::BadCriterion);
        QVERIFY(found.error().message.startsWith(QStringLiteral("Неверное условие поиска «")));
        if (!message.isEmpty())
            QCOMPARE(found.error().message, message);
    }

    // 100 levels of parentheses and NOT are read, one more is refused; so are 10,000
    // characters, with a message quoting only the start.
    void limits()
    {
        QString chain = QStringLiteral("[Возраст] = 3,6"); // a flat OR chain, evaluated without recursion per term
        while (chain.size() < 9990)
            chain.prepend(QStringLiteral("[Возраст] = 1 OR "));
        chain += QString(10000 - chain.size(), u' ');
        std::vector<std::tuple<QString, QString, int, QString>> cases{{chain, chain + u' ', 8, QStringLiteral("длиннее 10 000 знаков")}};
        for (const auto &[open, close] : {std::pair{"(", ")"}, {"NOT NOT ", ""}, {"(NOT NOT ", ")"}}) {
            const auto deepest = int(100 / (QString::fromLatin1(open).count(u'(') + QString::fromLatin1(open).count(QLatin1String("NOT"))));
            const auto nested = [&](int n) { return QString::fromLatin1(open).repeated(n) + QStringLiteral("[Возраст] = 66") + QString::fromLatin1(close).repeated(n); };
            cases.emplace_back(nested(deepest), nested(deepest + 1), 6, QStringLiteral("глубже 100"));
        }
        for (const auto &[atLimit, beyond, record, words] : cases) {
            const auto found = findFirst(stages(), atLimit);
            QVERIFY2(found.has_value(), found ? "" : qPrintable(found.error().message));
            QCOMPARE(found->value_or(-1), qsizetype(record));
            const auto refused = findFirst(stages(), beyond);
            QVERIFY(!refused && refused.error().code == ErrorCode::BadCriterion);
            QVERIFY2(refused.error().message.contains(words) && refused.error().message.size() < 400, qPrintable(refused.error().message));
        }
    }

    void refusesWhatIsNoNumber()
    {
        for (const char *text : {"", "1e", "1e999", "1,2,3", "140 млн", "0x10"})
            QVERIFY2(!parseNumberText(QString::fromUtf8(text)), text);
    }

    void cellTexts_data()
    {
        QTest::addColumn<Cell>("cell");
        QTest::addColumn<QString>("text");
        const auto date = [](double serial) { return Cell::makeNumber(serial, true); };
        QTest::newRow("#ДЕЛ/0!") << Cell::makeError(0x07) << "#ДЕЛ/0!";
        QTest::newRow("before the fictitious leap day") << date(59) << "28.02.1900";
        QTest::newRow("time rounds up to next day") << date(45000.9999999) << "16.03.2023";
        QTest::newRow("negative date shows number") << date(-1) << "-1";
    }
    void cellTexts()
    {
        QFETCH(Cell, cell);
        QFETCH(QString, text);
        QCOMPARE(cellText(cell, DateSystem::From1900), text);
    }
};

QTEST_GUILESS_MAIN(CriterionTest)
#include "tst_criterion.moc"

#include "cell.h"
#include "numbertext.h"

#include <QTest>

using namespace orbelant;

Q_DECLARE_METATYPE(orbelant::Cell)

// Numbers typed into cells and criteria, numbers and dates shown. What the write-back and
// criterion tests already show (a decimal point or comma, blanks around, signs and exponents,
// the workbooks' own numbers, dates, booleans and errors) is not repeated here.
class NumberTextTest : public QObject {
    Q_OBJECT
private slots:
    // The shortest text with a decimal comma that reads back as the same number.
    void formatsShortestWithComma()
    {
        QCOMPARE(formatNumber(0.1 + 0.2), QStringLiteral("0,30000000000000004"));
        for (double value : {0.1 + 0.2, 251.902, 1e-300, 1.7976931348623157e308, -0.000123, 123456789.125})
            QCOMPARE(parseNumberText(formatNumber(value)), std::optional<double>(value));
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

QTEST_GUILESS_MAIN(NumberTextTest)
#include "tst_numbertext.moc"

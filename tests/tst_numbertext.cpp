#include "cell.h"
#include "numbertext.h"

#include <QTest>
#include <cmath>

using namespace orbelant;

Q_DECLARE_METATYPE(orbelant::Cell)

class NumberTextTest : public QObject {
    Q_OBJECT
private slots:
    void formatsShortestWithComma_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("integer") << 145.0 << "145";
        QTest::newRow("two decimals") << 2.58 << "2,58";
        QTest::newRow("small fraction") << 0.0117 << "0,0117";
        QTest::newRow("negative") << -3.5 << "-3,5";
        QTest::newRow("large integer, no grouping") << 4567000.0 << "4567000";
        QTest::newRow("binary fraction needs 17 digits") << 0.1 + 0.2 << "0,30000000000000004";
        QTest::newRow("very small") << 1e-7 << "1E-07";
        QTest::newRow("very large") << 1.5e20 << "1,5E+20";
        QTest::newRow("zero") << 0.0 << "0";
    }
    void formatsShortestWithComma()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(formatNumber(value), text);
    }

    void formattedNumbersReadBack()
    {
        for (double v : {0.0042, 251.902, 538.8, 1e-300, 1.7976931348623157e308, -0.000123, 123456789.125}) {
            const auto back = parseNumberText(formatNumber(v));
            QVERIFY2(back && *back == v, qPrintable(formatNumber(v)));
        }
    }

    void parsesTypedNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::newRow("comma") << "0,01" << true << 0.01;
        QTest::newRow("point") << "0.01" << true << 0.01;
        QTest::newRow("blanks around") << "  140 \t" << true << 140.0;
        QTest::newRow("sign and exponent") << "-1,5e3" << true << -1500.0;
        QTest::newRow("leading separator") << ",5" << true << 0.5;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("blanks only") << "   " << false << 0.0;
        QTest::newRow("letters") << "140 млн" << false << 0.0;
        QTest::newRow("two separators") << "1,2,3" << false << 0.0;
        QTest::newRow("grouping blank") << "1 000" << false << 0.0;
        QTest::newRow("overflow") << "1e999" << false << 0.0;
        QTest::newRow("bare exponent") << "1e" << false << 0.0;
        QTest::newRow("hex") << "0x10" << false << 0.0;
    }
    void parsesTypedNumbers()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        const auto parsed = parseNumberText(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, value);
    }

    void cellTexts_data()
    {
        QTest::addColumn<Cell>("cell");
        QTest::addColumn<int>("system");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << Cell() << 0 << "";
        QTest::newRow("true") << Cell::makeBoolean(true) << 0 << "ИСТИНА";
        QTest::newRow("false") << Cell::makeBoolean(false) << 0 << "ЛОЖЬ";
        QTest::newRow("#Н/Д") << Cell::makeError(0x2A) << 0 << "#Н/Д";
        QTest::newRow("#ДЕЛ/0!") << Cell::makeError(0x07) << 0 << "#ДЕЛ/0!";
        QTest::newRow("date 1900") << Cell::makeNumber(45000, true) << 0 << "15.03.2023";
        QTest::newRow("date 1904") << Cell::makeNumber(45000 - 1462, true) << 1 << "15.03.2023";
        QTest::newRow("date with time") << Cell::makeNumber(45000.5, true) << 0 << "15.03.2023 12:00:00";
        QTest::newRow("before the fictitious leap day") << Cell::makeNumber(59, true) << 0 << "28.02.1900";
        QTest::newRow("the fictitious leap day") << Cell::makeNumber(60, true) << 0 << "29.02.1900";
        QTest::newRow("after it") << Cell::makeNumber(61, true) << 0 << "01.03.1900";
        QTest::newRow("time rounds up to next day") << Cell::makeNumber(45000.9999999, true) << 0 << "16.03.2023";
        QTest::newRow("negative date shows number") << Cell::makeNumber(-1, true) << 0 << "-1";
    }
    void cellTexts()
    {
        QFETCH(Cell, cell);
        QFETCH(int, system);
        QFETCH(QString, text);
        QCOMPARE(cellText(cell, system ? DateSystem::From1904 : DateSystem::From1900), text);
    }
};

QTEST_GUILESS_MAIN(NumberTextTest)
#include "tst_numbertext.moc"

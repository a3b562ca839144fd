#include "cell.h"
#include "numbertext.h"

#include <QTest>

using namespace orbelant;

Q_DECLARE_METATYPE(orbelant::Cell)

class NumberTextTest : public QObject {
    Q_OBJECT
private slots:
    // Shortest text with a decimal comma, which reads back as the same number; an empty
    // text in the table: only the reading back is checked. (Workbooks' own numbers, dates,
    // booleans and errors are read against xlrd in the write-back tests.)
    void formatsShortestWithComma_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("binary fraction needs 17 digits") << 0.1 + 0.2 << "0,30000000000000004";
        for (double v : {251.902, 1e-300, 1.7976931348623157e308, -0.000123, 123456789.125})
            QTest::newRow(qPrintable(QString::number(v, 'g', 17))) << v << QString();
    }
    void formatsShortestWithComma()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        if (!text.isEmpty())
            QCOMPARE(formatNumber(value), text);
        QCOMPARE(parseNumberText(formatNumber(value)), std::optional<double>(value));
    }

    void parsesTypedNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<double>>("value");
        const std::optional<double> none;
        QTest::newRow("comma") << "0,01" << std::optional(0.01);
        QTest::newRow("point") << "0.01" << std::optional(0.01);
        QTest::newRow("blanks around") << "  140 \t" << std::optional(140.0);
        QTest::newRow("sign and exponent") << "-1,5e3" << std::optional(-1500.0);
        QTest::newRow("leading separator") << ",5" << std::optional(0.5);
        for (const char *refused : {"", "   ", "140 млн", "1,2,3", "1 000", "1e999", "1e", "0x10"})
            QTest::newRow(refused) << QString::fromUtf8(refused) << none;
    }
    void parsesTypedNumbers()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<double>, value);
        QCOMPARE(parseNumberText(text), value);
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

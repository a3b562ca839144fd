// Windows-1251 by table, checked byte for byte against Python's codec.

#include "testsupport.h"
#include "windows1251.h"

#include <QTest>

using namespace orbelant;

class TestWindows1251 : public QObject {
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void everyByteAgreesWithPython();
};

void TestWindows1251::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ASCII unchanged") << QStringLiteral("info.dat 1,5") << QByteArray("info.dat 1,5");
    QTest::newRow("Russian letters") << QStringLiteral("Юрский яЯ") << QByteArray("\xDE\xF0\xF1\xEA\xE8\xE9 \xFF\xDF");
    QTest::newRow("yo") << QStringLiteral("Ёё") << QByteArray("\xA8\xB8");
    QTest::newRow("number sign and dashes") << QStringLiteral("№ – —") << QByteArray("\xB9 \x96 \x97");
    QTest::newRow("Latin accent is outside") << QStringLiteral("é") << QByteArray("?");
    QTest::newRow("CJK is outside") << QStringLiteral("中") << QByteArray("?");
    QTest::newRow("one mark for a character outside the BMP") << QStringLiteral("a😀b") << QByteArray("a?b");
    QTest::newRow("a lone surrogate") << QString(QChar(0xD800)) << QByteArray("?");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestWindows1251::encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeWindows1251(text), bytes);
}

void TestWindows1251::everyByteAgreesWithPython()
{
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all.append(char(byte));
    // Python leaves 0x98 undefined; Windows maps it to U+0098, as we do.
    const testsupport::ProcessResult python = testsupport::run(
        testsupport::python(),
        {QStringLiteral("-c"),
         QStringLiteral("import sys; d = sys.stdin.buffer.read().decode('cp1251', errors='replace');"
                        "sys.stdout.buffer.write(d.replace('\\ufffd', '\\x98').encode('utf-8'))")},
        all);
    QCOMPARE(python.exitCode, 0);
    const QString expected = QString::fromUtf8(python.out);
    const QString decoded = decodeWindows1251(all);
    QCOMPARE(decoded, expected);
    QCOMPARE(encodeWindows1251(decoded), all); // and back, byte for byte
}

QTEST_GUILESS_MAIN(TestWindows1251)
#include "tst_windows1251.moc"

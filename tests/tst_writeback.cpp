// Storing edits back into workbooks. Every write is checked by an independent reader
// (xlrd, through tests/support/make_xls.py describe) and by an independent check of the
// stream's bookkeeping records (tests/support/biff_check.py).

#include "testsupport.h"
#include "workbook.h"
#include "writeback.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace orbelant;

namespace {

// What xlrd sees in a workbook: its compound-file entries and every sheet's values.
QJsonObject describe(const QString &path)
{
    const auto result = testsupport::runScript(QStringLiteral("make_xls.py"), {QStringLiteral("describe"), path});
    if (result.exitCode != 0)
        qWarning() << result.err;
    return QJsonDocument::fromJson(result.out).object();
}

// Problems biff_check.py finds in the stream, and its summary line.
struct StreamCheck {
    QSet<QString> problems;
    QString summary;
};

StreamCheck checkStream(const QString &path)
{
    const auto result = testsupport::runScript(QStringLiteral("biff_check.py"), {path});
    QStringList lines = QString::fromUtf8(result.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    StreamCheck check;
    if (result.exitCode != 0 || lines.isEmpty()) {
        check.problems.insert(QStringLiteral("biff_check failed: ") + QString::fromUtf8(result.err));
        return check;
    }
    check.summary = lines.takeLast();
    for (const QString &line : lines)
        check.problems.insert(line);
    return check;
}

int summaryValue(const StreamCheck &check, const QString &key)
{
    for (const QString &part : check.summary.split(QLatin1Char(' ')))
        if (part.startsWith(key + QLatin1Char('=')))
            return part.mid(key.size() + 1).toInt();
    return -1;
}

QString makeWorkbook(const QTemporaryDir &dir, const QString &name, const QJsonObject &description)
{
    const QString path = dir.filePath(name);
    const auto result = testsupport::runScript(QStringLiteral("make_xls.py"), {QStringLiteral("make"), path},
                                               QJsonDocument(description).toJson());
    return result.exitCode == 0 ? path : QString();
}

QJsonArray row(std::initializer_list<QJsonValue> cells) { return QJsonArray(cells); }

// A small time scale: a number column, text columns with one empty cell, a row without
// any value in the middle, and a second sheet that must stay as it is.
QJsonObject timeScale()
{
    QJsonArray rows{
        row({"Возраст", "Система", "Ярус", "Органический мир"}),
        row({0.0117, "Четвертичная", "Гренландский", "Мамонты вымирают."}),
        row({2.58, "Четвертичная", "Гелазский", QJsonValue::Null}),
        row({QJsonValue::Null, QJsonValue::Null, QJsonValue::Null, QJsonValue::Null}),
        row({140, "Меловая", "Берриасский", "Первые цветковые?"}),
        row({140, "Меловая", "Повтор", "Тот же возраст."}),
    };
    QJsonArray other{row({"Лист", "второй"}), row({1, "не трогать"})};
    return QJsonObject{{"sheets", QJsonArray{QJsonObject{{"name", "Лист1"}, {"rows", rows}},
                                             QJsonObject{{"name", "Другой"}, {"rows", other}}}}};
}

// The sheets of a describe() result with one cell replaced.
QJsonArray withCell(QJsonArray sheets, int sheet, int r, int c, const QJsonValue &value)
{
    QJsonObject s = sheets[sheet].toObject();
    QJsonArray rows = s[QStringLiteral("rows")].toArray();
    QJsonArray cells = rows[r].toArray();
    cells[c] = value;
    rows[r] = cells;
    s[QStringLiteral("rows")] = rows;
    sheets[sheet] = s;
    return sheets;
}

// xlrd sizes a sheet by the cells it finds, so clearing the last cell of a row or
// column changes the shape it reports: compare sheets without trailing empty cells.
QJsonArray trimmed(QJsonArray sheets)
{
    for (qsizetype s = 0; s < sheets.size(); ++s) {
        QJsonObject sheet = sheets[s].toObject();
        QJsonArray rows = sheet[QStringLiteral("rows")].toArray();
        for (qsizetype r = 0; r < rows.size(); ++r) {
            QJsonArray cells = rows[r].toArray();
            while (!cells.isEmpty() && cells.last().isNull())
                cells.removeLast();
            rows[r] = cells;
        }
        while (!rows.isEmpty() && rows.last().toArray().isEmpty())
            rows.removeLast();
        sheet[QStringLiteral("rows")] = rows;
        sheets[s] = sheet;
    }
    return sheets;
}

} // namespace

class WritebackTest : public QObject {
    Q_OBJECT
private slots:
    void storesTextNumbersAndClears()
    {
        QTemporaryDir dir;
        const QString path = makeWorkbook(dir, QStringLiteral("scale.xls"), timeScale());
        QVERIFY(!path.isEmpty());
        const QJsonObject before = describe(path);
        const auto table = readSheet(path, QStringLiteral("Лист1$"));
        QVERIFY(table);

        const auto stored = storeRecord(path, *table, 0,
                                        {{0, QStringLiteral(" 0,0042 ")}, {2, QStringLiteral("Мегхалайский")}, {3, QString()}});
        QVERIFY2(stored, stored ? "" : qPrintable(stored.error().message));
        QCOMPARE(cellText((*stored)[0], table->dates), QStringLiteral("0,0042"));
        QCOMPARE((*stored)[3].kind, Cell::Kind::Empty);

        QJsonArray expected = before[QStringLiteral("sheets")].toArray();
        expected = withCell(expected, 0, 1, 0, 0.0042);
        expected = withCell(expected, 0, 1, 2, QStringLiteral("Мегхалайский"));
        expected = withCell(expected, 0, 1, 3, QJsonValue::Null);
        const QJsonObject after = describe(path);
        QCOMPARE(trimmed(after[QStringLiteral("sheets")].toArray()), trimmed(expected));
        QVERIFY(checkStream(path).problems.isEmpty());

        const auto reread = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(reread);
        QCOMPARE(reread->text(0, 2), QStringLiteral("Мегхалайский"));
    }

    void decidesBetweenNumberAndText_data()
    {
        QTest::addColumn<int>("record");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QJsonValue>("stored"); // what xlrd reads; Undefined = refused

        QTest::newRow("number cell takes a number with a comma") << 1 << 0 << "3,5" << QJsonValue(3.5);
        QTest::newRow("number cell takes a number with a point") << 1 << 0 << "3.5" << QJsonValue(3.5);
        QTest::newRow("number cell refuses a word") << 1 << 0 << "много" << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("number cell refuses two numbers") << 1 << 0 << "3 5" << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("empty cell of a number column takes a number") << 2 << 0 << "66" << QJsonValue(66.0);
        QTest::newRow("empty cell of a number column refuses text") << 2 << 0 << "сейчас" << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("empty cell of a text column keeps digits as text") << 2 << 1 << "66" << QJsonValue(QStringLiteral("66"));
        QTest::newRow("text cell keeps digits as text") << 0 << 1 << "12" << QJsonValue(QStringLiteral("12"));
        QTest::newRow("blanks clear a number cell") << 1 << 0 << "   " << QJsonValue(QJsonValue::Null);
        QTest::newRow("text longest allowed") << 0 << 3 << QString(32767, QChar(u'ж')) << QJsonValue(QString(32767, QChar(u'ж')));
        QTest::newRow("text one too long") << 0 << 3 << QString(32768, QChar(u'ж')) << QJsonValue(QJsonValue::Undefined);
    }
    void decidesBetweenNumberAndText()
    {
        QFETCH(int, record);
        QFETCH(int, column);
        QFETCH(QString, typed);
        QFETCH(QJsonValue, stored);

        QTemporaryDir dir;
        const QString path = makeWorkbook(dir, QStringLiteral("scale.xls"), timeScale());
        const QByteArray original = testsupport::readAll(path);
        const QJsonObject before = describe(path);
        const auto table = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(table);

        const auto result = storeRecord(path, *table, record, {{column, typed}});
        if (stored.isUndefined()) {
            QVERIFY(!result);
            QVERIFY(result.error().code == ErrorCode::NotANumber || result.error().code == ErrorCode::TextTooLong);
            QVERIFY(result.error().message.contains(table->columns[column]));
            QCOMPARE(testsupport::readAll(path), original);
            return;
        }
        QVERIFY2(result, result ? "" : qPrintable(result.error().message));
        const QJsonArray expected = withCell(before[QStringLiteral("sheets")].toArray(), 0, record + 1, column, stored);
        QCOMPARE(describe(path)[QStringLiteral("sheets")].toArray(), expected);
        QVERIFY(checkStream(path).problems.isEmpty());
    }

    void unchangedTextLeavesTheFileAlone()
    {
        QTemporaryDir dir;
        const QString path = makeWorkbook(dir, QStringLiteral("scale.xls"), timeScale());
        const QByteArray original = testsupport::readAll(path);
        const auto table = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(table);
        QVERIFY(storeRecord(path, *table, 0, {{0, QStringLiteral("0,0117")}, {1, QStringLiteral("Четвертичная")}}));
        QCOMPARE(testsupport::readAll(path), original);
    }

    void sharesStringsAndCountsReferences()
    {
        QTemporaryDir dir;
        const QString path = makeWorkbook(dir, QStringLiteral("scale.xls"), timeScale());
        const StreamCheck before = checkStream(path);
        const auto table = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(table);

        // A text already in the table is referenced, not stored again.
        QVERIFY(storeRecord(path, *table, 1, {{2, QStringLiteral("Берриасский")}}));
        const StreamCheck reused = checkStream(path);
        QCOMPARE(summaryValue(reused, "sst_unique"), summaryValue(before, "sst_unique"));
        QCOMPARE(summaryValue(reused, "sst_total"), summaryValue(before, "sst_total"));

        // A new text adds one string; clearing a text cell drops one reference.
        const auto again = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(storeRecord(path, *again, 3, {{2, QStringLiteral("Валанжинский")}, {3, QString()}}));
        const StreamCheck after = checkStream(path);
        QCOMPARE(summaryValue(after, "sst_unique"), summaryValue(before, "sst_unique") + 1);
        QCOMPARE(summaryValue(after, "sst_total"), summaryValue(before, "sst_total") - 1);
        QCOMPARE(summaryValue(after, "labelsst"), summaryValue(before, "labelsst") - 1);
        QVERIFY(after.problems.isEmpty());
    }

    void fillsARowThatHadNoCells()
    {
        QTemporaryDir dir;
        const QString path = makeWorkbook(dir, QStringLiteral("scale.xls"), timeScale());
        const QJsonObject before = describe(path);
        const auto table = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(table);
        QCOMPARE(table->recordCount(), 5);
        QVERIFY(storeRecord(path, *table, 2, {{1, QStringLiteral("Неогеновая")}, {0, QStringLiteral("23,03")}}));

        QJsonArray expected = withCell(before[QStringLiteral("sheets")].toArray(), 0, 3, 1, QStringLiteral("Неогеновая"));
        expected = withCell(expected, 0, 3, 0, 23.03);
        QCOMPARE(describe(path)[QStringLiteral("sheets")].toArray(), expected);
        QVERIFY(checkStream(path).problems.isEmpty());
    }

    void manyLongStringsSplitAcrossContinueRecords()
    {
        QTemporaryDir dir;
        const QString path = makeWorkbook(dir, QStringLiteral("scale.xls"), timeScale());
        // Long Cyrillic (16-bit) and Latin (8-bit) texts force the new strings over several
        // CONTINUE records, split between characters with a fresh flags byte.
        for (int i = 0; i < 6; ++i) {
            const auto table = readSheet(path, QStringLiteral("Лист1"));
            QVERIFY(table);
            const QString text = (i % 2 ? QString(5000 + 777 * i, QChar(u'ю')) : QString(9000 + 333 * i, QChar(u'q')))
                                 + QString::number(i);
            const auto stored = storeRecord(path, *table, i % 5, {{3, text}});
            QVERIFY2(stored, stored ? "" : qPrintable(stored.error().message));
            const auto reread = readSheet(path, QStringLiteral("Лист1"));
            QVERIFY(reread);
            QCOMPARE(reread->text(i % 5, 3), text);
            const QJsonArray rows = describe(path)[QStringLiteral("sheets")].toArray()[0].toObject()[QStringLiteral("rows")].toArray();
            QCOMPARE(rows[i % 5 + 1].toArray()[3].toString(), text);
        }
        QVERIFY(checkStream(path).problems.isEmpty());
    }

    void refusesWhenAnotherProgramChangedTheRow()
    {
        QTemporaryDir dir;
        const QString path = makeWorkbook(dir, QStringLiteral("scale.xls"), timeScale());
        const auto stale = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(stale);

        // Another program changes record 1 meanwhile.
        const auto fresh = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(storeRecord(path, *fresh, 1, {{2, QStringLiteral("Пьяченцский")}}));
        const QByteArray changed = testsupport::readAll(path);

        const auto refused = storeRecord(path, *stale, 1, {{1, QStringLiteral("Неогеновая")}});
        QVERIFY(!refused);
        QCOMPARE(refused.error().code, ErrorCode::ChangedOnDisk);
        QVERIFY(refused.error().message.contains(QStringLiteral("scale.xls")));
        QCOMPARE(testsupport::readAll(path), changed);

        // Rows the other program left alone can still be stored.
        QVERIFY(storeRecord(path, *stale, 0, {{1, QStringLiteral("Антропогеновая")}}));
        QCOMPARE(readSheet(path, QStringLiteral("Лист1"))->text(1, 2), QStringLiteral("Пьяченцский"));
    }

    void refusesAMissingOrReplacedWorkbook()
    {
        QTemporaryDir dir;
        const QString path = makeWorkbook(dir, QStringLiteral("scale.xls"), timeScale());
        const auto table = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(table);
        QVERIFY(QFile::remove(path));
        const auto missing = storeRecord(path, *table, 0, {{1, QStringLiteral("x")}});
        QVERIFY(!missing);
        QCOMPARE(missing.error().code, ErrorCode::FileMissing);
        QVERIFY(!QFileInfo::exists(path));

        // The sheet renamed by another program.
        QJsonObject renamed = timeScale();
        QJsonArray sheets = renamed[QStringLiteral("sheets")].toArray();
        QJsonObject first = sheets[0].toObject();
        first[QStringLiteral("name")] = QStringLiteral("Шкала");
        sheets[0] = first;
        renamed[QStringLiteral("sheets")] = sheets;
        QVERIFY(!makeWorkbook(dir, QStringLiteral("scale.xls"), renamed).isEmpty());
        const auto gone = storeRecord(path, *table, 0, {{1, QStringLiteral("x")}});
        QVERIFY(!gone);
        QCOMPARE(gone.error().code, ErrorCode::ChangedOnDisk);
    }

    void keepsPermissions()
    {
        QTemporaryDir dir;
        const QString path = makeWorkbook(dir, QStringLiteral("scale.xls"), timeScale());
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const auto table = readSheet(path, QStringLiteral("Лист1"));
        QVERIFY(storeRecord(path, *table, 0, {{1, QStringLiteral("Антропогеновая")}}));
        const auto kept = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        const auto relevant = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup
                              | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(path) & relevant, kept);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("scale.xls")});
    }

    // Workbooks written by Excel, Mac Excel and LibreOffice carry INDEX, DBCELL, EXTSST,
    // MULRK, formulas and other streams: edit cells of every kind and check that xlrd
    // sees the new values and everything else unchanged.
    void roundTripsRealWorkbooks_data()
    {
        QTest::addColumn<QString>("file");
        const QString corpus = testsupport::corpusDir();
        if (corpus.isEmpty())
            return;
        for (const QString &name : QDir(corpus).entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(name)) << QDir(corpus).filePath(name);
    }
    void roundTripsRealWorkbooks()
    {
        QFETCH(QString, file);
        if (file.isEmpty() || testsupport::corpusDir().isEmpty())
            QSKIP("the shared workbook corpus is not beside this checkout");
        const auto names = worksheetNames(file);
        if (!names || names->isEmpty())
            QSKIP("not a workbook this engine reads");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("copy.xls"));
        QVERIFY(QFile::copy(file, path));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        const QJsonObject before = describe(path);
        if (before.contains(QStringLiteral("xlrd_error")))
            QSKIP("xlrd does not read this workbook");
        const StreamCheck checkedBefore = checkStream(path);

        const QString sheetName = names->first();
        const auto table = readSheet(path, sheetName);
        QVERIFY(table);
        if (table->recordCount() < 1)
            QSKIP("no records to edit");
        int sheetIndex = 0;
        const QJsonArray sheets = before[QStringLiteral("sheets")].toArray();
        while (sheetIndex < sheets.size() && sheets[sheetIndex].toObject()[QStringLiteral("name")].toString() != table->sheetName)
            ++sheetIndex;
        QVERIFY(sheetIndex < sheets.size());

        // Every cell of the first and the last record, and of one in the middle, one store
        // at a time: texts go into text and empty cells, numbers into number cells, and
        // one cell is cleared. A cell the engine refuses (part of a shared formula) must
        // leave the file as it was.
        QJsonArray expected = sheets;
        const qsizetype middle = table->recordCount() / 2;
        int edits = 0;
        for (qsizetype record : {qsizetype(0), middle, table->recordCount() - 1}) {
            for (qsizetype column = 0; column < table->columnCount(); ++column) {
                const auto current = readSheet(path, sheetName);
                QVERIFY(current);
                if (record >= current->recordCount() || column >= current->columnCount())
                    continue; // the used range shrank after a clearing
                const Cell &cell = current->cell(record, column);
                const int r = current->sheetRow(record);
                const int c = current->firstColumn + static_cast<int>(column);
                CellEdit edit{column, {}};
                QJsonValue value;
                if (cell.kind == Cell::Kind::Number) {
                    if (cell.isDate)
                        continue;
                    value = 1000.25 + static_cast<double>(edits);
                    edit.text = QString::number(value.toDouble()).replace(u'.', u',');
                } else if (column == 0 && record == middle) {
                    value = QJsonValue::Null; // cleared
                } else if (cell.isEmpty() && [&] {
                               for (qsizetype other = 0; other < current->recordCount(); ++other)
                                   if (!current->cell(other, column).isEmpty())
                                       return current->cell(other, column).kind == Cell::Kind::Number;
                               return false;
                           }()) {
                    continue; // an empty cell of a number column takes only numbers
                } else {
                    edit.text = QStringLiteral("Правка %1 — ü ж").arg(edits);
                    value = edit.text;
                }
                ++edits;
                const QByteArray unchanged = testsupport::readAll(path);
                const auto stored = storeRecord(path, *current, record, {edit});
                if (!stored && stored.error().code == ErrorCode::CannotEdit) {
                    QCOMPARE(testsupport::readAll(path), unchanged);
                    continue;
                }
                QVERIFY2(stored, stored ? "" : qPrintable(stored.error().message));
                expected = withCell(expected, sheetIndex, r, c, value);
            }
        }

        const QJsonObject after = describe(path);
        QVERIFY2(!after.contains(QStringLiteral("xlrd_error")), qPrintable(after[QStringLiteral("xlrd_error")].toString()));
        QCOMPARE(trimmed(after[QStringLiteral("sheets")].toArray()), trimmed(expected));

        // Every other stream and storage of the container is unchanged.
        const QJsonArray entriesBefore = before[QStringLiteral("entries")].toArray();
        const QJsonArray entriesAfter = after[QStringLiteral("entries")].toArray();
        QCOMPARE(entriesAfter.size(), entriesBefore.size());
        for (qsizetype i = 0; i < entriesBefore.size(); ++i) {
            const QJsonObject a = entriesBefore[i].toObject(), b = entriesAfter[i].toObject();
            QCOMPARE(b[QStringLiteral("path")], a[QStringLiteral("path")]);
            if (a[QStringLiteral("path")].toString().compare(QStringLiteral("Workbook"), Qt::CaseInsensitive) != 0)
                QCOMPARE(b[QStringLiteral("sha1")], a[QStringLiteral("sha1")]);
        }

        // The bookkeeping records are at least as consistent as the writer left them.
        const StreamCheck checkedAfter = checkStream(path);
        const QSet<QString> added = checkedAfter.problems - checkedBefore.problems;
        QVERIFY2(added.isEmpty(), qPrintable(QStringList(added.values()).join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(WritebackTest)
#include "tst_writeback.moc"

// The record source over real workbooks through the engine: what the user types reaches
// the file, as an independent reader (xlrd) sees it, and refusals leave the file alone.

#include "datacontrol.h"
#include "fakeplatform.h"
#include "testsupport.h"
#include "typing.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace orbelant;
using namespace testsupport;

namespace {

const QString workbookName = QStringLiteral("зендра.xls");

QJsonArray header()
{
    return {"Возраст", "Эонотема", "Эратема", "Система", "Отдел", "Ярус", "Органический мир"};
}

QJsonArray row(double age, const QString &stage, const QString &note)
{
    return {age, "Фанерозойская", "Мезозойская", "Юрская", "Нижний", stage, note};
}

// Writes the workbook with xlwt; false when Python or xlwt failed.
bool writeWorkbook(const QString &path, const QJsonArray &rows)
{
    QJsonArray allRows{header()};
    for (const QJsonValue &value : rows)
        allRows.append(value);
    const QJsonObject description{{"sheets", QJsonArray{QJsonObject{{"name", "Лист1"}, {"rows", allRows}}}}};
    const ProcessResult made = runScript(QStringLiteral("make_xls.py"), {QStringLiteral("make"), path},
                                         QJsonDocument(description).toJson());
    return made.exitCode == 0;
}

// One cell as xlrd reads it, as text (numbers in Python's repr).
QString xlrdCell(const QString &path, int row, int column)
{
    const ProcessResult read = run(
        python(), {QStringLiteral("-c"),
                   QStringLiteral("import sys, xlrd; s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0); "
                                  "sys.stdout.buffer.write(str(s.cell_value(int(sys.argv[2]), int(sys.argv[3]))).encode())"),
                   path, QString::number(row), QString::number(column)});
    return read.exitCode == 0 ? QString::fromUtf8(read.out) : QStringLiteral("<xlrd failed: %1>").arg(QString::fromUtf8(read.err));
}

} // namespace

class TestDataControlWorkbook : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void typedTextReachesTheWorkbook_data();
    void typedTextReachesTheWorkbook();
    void refusedStoreLeavesTheFileUnchanged_data();
    void refusedStoreLeavesTheFileUnchanged();
    void findFirstTakesTheEarlierOfEqualAges();
    void oneRowSheet();
    void sampleWorkbookOpens();

private:
    QString path() const { return m_dir->filePath(workbookName); }
    void open();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
    EngineSheetAccess m_sheets;
    FakeMessageBox m_messages;
    std::unique_ptr<QWidget> m_window;
    DataControl *m_data = nullptr;
    QLineEdit *m_age = nullptr;
    QLineEdit *m_stage = nullptr;
    QPlainTextEdit *m_note = nullptr;
};

void TestDataControlWorkbook::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_dir->path()); // the workbook's name is taken from the current directory
    m_messages = FakeMessageBox();
    m_window = std::make_unique<QWidget>();
    m_data = new DataControl(m_window.get());
    m_data->setServices(m_sheets, m_messages);
    m_data->setDatabaseName(workbookName);
    m_age = new QLineEdit(m_window.get());
    m_stage = new QLineEdit(m_window.get());
    m_note = new QPlainTextEdit(m_window.get());
    m_data->bindField(m_age, QStringLiteral("Возраст"));
    m_data->bindField(m_stage, QStringLiteral("Ярус"));
    m_data->bindField(m_note, QStringLiteral("Органический мир"));
}

void TestDataControlWorkbook::cleanup()
{
    m_window.reset();
    QDir::setCurrent(m_previousDir);
    m_dir.reset();
}

void TestDataControlWorkbook::open()
{
    QVERIFY2(m_data->Refresh(), qPrintable(m_messages.shown.join(QLatin1Char('\n'))));
}

void TestDataControlWorkbook::typedTextReachesTheWorkbook_data()
{
    QTest::addColumn<bool>("byClosing");
    QTest::newRow("stored when stepping on") << false;
    QTest::newRow("stored when the window closes") << true;
}

void TestDataControlWorkbook::typedTextReachesTheWorkbook()
{
    QFETCH(bool, byClosing);
    QVERIFY(writeWorkbook(path(), {row(174.7, "Тоарский", "Аммониты"), row(182.7, "Плинсбахский", ""),
                                   row(190.8, "Синемюрский", "")}));
    open();
    m_data->MoveNext();
    m_stage->clear();
    typeText(m_stage, QStringLiteral("Плинсбахский ярус"));
    m_age->clear();
    typeText(m_age, QStringLiteral("183,5"));

    QVERIFY(byClosing ? m_data->prepareToClose() : m_data->MoveNext());

    QVERIFY2(m_messages.shown.isEmpty(), qPrintable(m_messages.shown.join(QLatin1Char('\n'))));
    QCOMPARE(xlrdCell(path(), 2, 5), QStringLiteral("Плинсбахский ярус"));
    QCOMPARE(xlrdCell(path(), 2, 0), QStringLiteral("183.5")); // still a number
    QCOMPARE(xlrdCell(path(), 1, 5), QStringLiteral("Тоарский"));
    QCOMPARE(xlrdCell(path(), 3, 5), QStringLiteral("Синемюрский"));

    // Read again, the edit is there and nothing else moved.
    QVERIFY(m_data->Refresh());
    m_data->MoveNext();
    QCOMPARE(m_stage->text(), QStringLiteral("Плинсбахский ярус"));
    QCOMPARE(m_age->text(), QStringLiteral("183,5"));
}

void TestDataControlWorkbook::refusedStoreLeavesTheFileUnchanged_data()
{
    QTest::addColumn<QString>("typedAge");
    QTest::addColumn<bool>("changedElsewhere");
    QTest::addColumn<ErrorCode>("expected");
    QTest::newRow("a word in Возраст") << "много" << false << ErrorCode::NotANumber;
    QTest::newRow("row changed by another program") << "175" << true << ErrorCode::ChangedOnDisk;
    QTest::newRow("file protected against writing") << "175" << false << ErrorCode::ReadOnly;
    QTest::newRow("damaged container, shown but never saved") << "175" << false << ErrorCode::DamagedReadOnly;
}

void TestDataControlWorkbook::refusedStoreLeavesTheFileUnchanged()
{
    QFETCH(QString, typedAge);
    QFETCH(bool, changedElsewhere);
    QFETCH(ErrorCode, expected);
    QVERIFY(writeWorkbook(path(), {row(174.7, "Тоарский", ""), row(182.7, "Плинсбахский", "")}));
    if (expected == ErrorCode::DamagedReadOnly) { // the allocation table claims 2^31 sectors more
        QFile file(path());
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(47) && file.putChar(char(0x80)));
    }
    open();
    // A damaged workbook is announced once when it opens, and no lock file is kept for it.
    QCOMPARE(m_messages.shown.size(), expected == ErrorCode::DamagedReadOnly ? 1 : 0);
    QCOMPARE(QFile::exists(QStringLiteral(".~lock.зендра.xls#")), expected != ErrorCode::DamagedReadOnly);
    m_messages.shown.clear();
    if (changedElsewhere)
        QVERIFY(writeWorkbook(path(), {row(174.1, "Тоарский", ""), row(182.7, "Плинсбахский", "")}));
    if (expected == ErrorCode::ReadOnly)
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup));
    const QByteArray before = readAll(path());
    m_age->clear();
    typeText(m_age, typedAge);

    QVERIFY(!m_data->MoveNext());

    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(m_data->currentRecord(), 0);
    QCOMPARE(m_age->text(), typedAge);
    QCOMPARE(readAll(path()), before);
    const QString sign = expected == ErrorCode::ChangedOnDisk     ? QStringLiteral("другая программа")
                         : expected == ErrorCode::ReadOnly        ? QStringLiteral("только для чтения")
                         : expected == ErrorCode::DamagedReadOnly ? QStringLiteral("повреждён")
                                                                  : typedAge;
    QVERIFY2(m_messages.shown.front().contains(sign), qPrintable(m_messages.shown.front()));
}

void TestDataControlWorkbook::findFirstTakesTheEarlierOfEqualAges()
{
    QVERIFY(writeWorkbook(path(), {row(100, "A", ""), row(140, "Первый", ""), row(140, "Второй", "")}));
    open();
    m_data->MoveLast();

    const Result<DataControl::FindOutcome> found = m_data->FindFirst(QStringLiteral("[Возраст] = 140"));
    QVERIFY(found.has_value());
    QCOMPARE(*found, DataControl::FindOutcome::Found);
    QCOMPARE(m_stage->text(), QStringLiteral("Первый"));

    const Result<DataControl::FindOutcome> bad = m_data->FindFirst(QStringLiteral("[Возраст] = "));
    QVERIFY(!bad.has_value());
    QCOMPARE(bad.error().code, ErrorCode::BadCriterion);
    QCOMPARE(m_stage->text(), QStringLiteral("Первый"));
}

void TestDataControlWorkbook::oneRowSheet()
{
    QJsonArray rows;
    rows.append(row(4567, "Гадей", "Земля формируется")); // a braced single row would be copied, not nested
    QVERIFY(writeWorkbook(path(), rows));
    open();
    for (auto step : {&DataControl::MoveNext, &DataControl::MoveLast, &DataControl::MovePrevious,
                      &DataControl::MoveFirst}) {
        (m_data->*step)();
        QCOMPARE(m_data->currentRecord(), 0);
        QCOMPARE(m_age->text(), QStringLiteral("4567"));
    }
}

void TestDataControlWorkbook::sampleWorkbookOpens()
{
    const QString sample = sourceDir() + QStringLiteral("/sample/") + workbookName;
    if (!QFile::exists(sample))
        QSKIP("no sample workbook in this checkout");
    QVERIFY(QFile::copy(sample, path()));
    open();
    QVERIFY(m_data->recordCount() > 100);
    QVERIFY(!m_age->text().isEmpty());
    m_data->MoveLast();
    QVERIFY(!m_stage->text().isEmpty() || !m_note->toPlainText().isEmpty() || !m_age->text().isEmpty());
    QVERIFY(m_data->prepareToClose());
    QCOMPARE(readAll(path()), readAll(sample)); // looking changes nothing

    // While open, a lock file tells office programs; it goes when the window does.
    QVERIFY(QFile::exists(QStringLiteral(".~lock.зендра.xls#")));
    m_window.reset();
    QVERIFY(!QFile::exists(QStringLiteral(".~lock.зендра.xls#")));
}

QTEST_MAIN(TestDataControlWorkbook)
#include "tst_datacontrol_workbook.moc"

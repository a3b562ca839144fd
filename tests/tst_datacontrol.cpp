// The record source over an in-memory workbook: navigation, bound fields, storing edits.

#include "datacontrol.h"
#include "fakeplatform.h"
#include "typing.h"

#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

using namespace orbelant;
using namespace testsupport;

Q_DECLARE_METATYPE(orbelant::ErrorCode)

namespace {

// Rows "E0", "E1" … in Эонотема; ages 100, 110, …; notes "Заметка 0" ….
SheetTable numberedRows(int count)
{
    QList<QStringList> rows;
    for (int row = 0; row < count; ++row)
        rows.append({QString::number(100 + 10 * row), QStringLiteral("E%1").arg(row), QString(), QString(),
                     QString(), QString(), QStringLiteral("Заметка %1").arg(row)});
    return makeTable(timeScaleColumns(), rows);
}

} // namespace

class TestDataControl : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void navigationBar_data();
    void navigationBar();
    void fieldsShowTheCurrentRow();
    void unchangedFieldsAreNotStored_data();
    void unchangedFieldsAreNotStored();
    void workbookThatCannotBeOpened_data();
    void workbookThatCannotBeOpened();
    void refreshReturnsToTheFirstRowAndRereads();
    void editsAreStoredWhenAnotherRowBecomesCurrent_data();
    void editsAreStoredWhenAnotherRowBecomesCurrent();
    void refusedStoreKeepsTheRowAndTheTyping_data();
    void refusedStoreKeepsTheRowAndTheTyping();
    void refusedStoreAtRefreshOrClose_data();
    void refusedStoreAtRefreshOrClose();
    void findFirst_data();
    void findFirst();
    void missingBoundColumnIsReported();

private:
    void open(const SheetTable &table);
    void click(const char *buttonName);
    void act(const QString &action);

    std::unique_ptr<FakeSheetAccess> m_sheets;
    std::unique_ptr<FakeMessageBox> m_messages;
    std::unique_ptr<QWidget> m_window;
    DataControl *m_data = nullptr;
    QLineEdit *m_age = nullptr;
    QLineEdit *m_eon = nullptr;
    QLineEdit *m_stage = nullptr;
    QPlainTextEdit *m_note = nullptr;
};

void TestDataControl::init()
{
    m_sheets = std::make_unique<FakeSheetAccess>();
    m_messages = std::make_unique<FakeMessageBox>();
    m_window = std::make_unique<QWidget>();
    m_data = new DataControl(m_window.get());
    m_data->setGeometry(0, 0, 345, 25);
    m_data->setServices(*m_sheets, *m_messages);
    m_data->setDatabaseName(QStringLiteral("зендра.xls"));
    m_age = new QLineEdit(m_window.get());
    m_eon = new QLineEdit(m_window.get());
    m_stage = new QLineEdit(m_window.get());
    m_note = new QPlainTextEdit(m_window.get());
    m_data->bindField(m_age, QStringLiteral("Возраст"));
    m_data->bindField(m_eon, QStringLiteral("Эонотема"));
    m_data->bindField(m_stage, QStringLiteral("Ярус"));
    m_data->bindField(m_note, QStringLiteral("Органический мир"));
}

void TestDataControl::cleanup()
{
    m_window.reset();
    m_data = nullptr;
}

void TestDataControl::open(const SheetTable &table)
{
    m_sheets->sheet = table;
    QVERIFY(m_data->Refresh());
}

void TestDataControl::click(const char *buttonName)
{
    auto *button = m_data->findChild<QToolButton *>(QLatin1String(buttonName));
    QVERIFY2(button, buttonName);
    QTest::mouseClick(button, Qt::LeftButton);
}

// One step as a person or a caller takes it: the bar's buttons, or the operations.
void TestDataControl::act(const QString &action)
{
    if (action == QLatin1String("first"))
        click("firstButton");
    else if (action == QLatin1String("previous"))
        click("previousButton");
    else if (action == QLatin1String("next"))
        click("nextButton");
    else if (action == QLatin1String("last"))
        click("lastButton");
    else if (action == QLatin1String("MoveFirst"))
        m_data->MoveFirst();
    else if (action == QLatin1String("Refresh"))
        m_data->Refresh();
    else if (action == QLatin1String("FindFirst 110"))
        QVERIFY(m_data->FindFirst(QStringLiteral("[Возраст] = 110")).has_value());
    else if (action == QLatin1String("moveTo 2"))
        m_data->moveTo(2);
    else
        QFAIL(qPrintable(QStringLiteral("unknown action ") + action));
}

void TestDataControl::navigationBar_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("expected");

    QTest::newRow("opening shows the first row") << 4 << QStringList{} << 0;
    QTest::newRow("next steps on") << 4 << QStringList{"next", "next"} << 2;
    QTest::newRow("previous on the first row keeps the first") << 4 << QStringList{"previous"} << 0;
    QTest::newRow("last goes to the end") << 4 << QStringList{"last"} << 3;
    QTest::newRow("next on the last row keeps the last") << 4 << QStringList{"last", "next", "next"} << 3;
    QTest::newRow("previous from the last") << 4 << QStringList{"last", "previous"} << 2;
    QTest::newRow("first from the middle") << 4 << QStringList{"next", "next", "first"} << 0;
    QTest::newRow("one row: next keeps it") << 1 << QStringList{"next"} << 0;
    QTest::newRow("one row: previous keeps it") << 1 << QStringList{"previous"} << 0;
    QTest::newRow("one row: last and first keep it") << 1 << QStringList{"last", "first"} << 0;
    QTest::newRow("no rows: nothing is current") << 0 << QStringList{"next", "last", "previous"} << -1;
}

void TestDataControl::navigationBar()
{
    QFETCH(int, rows);
    QFETCH(QStringList, steps);
    QFETCH(int, expected);

    open(numberedRows(rows));
    for (const QString &step : steps)
        act(step);

    QCOMPARE(m_data->currentRecord(), expected);
    QCOMPARE(m_eon->text(), expected < 0 ? QString() : QStringLiteral("E%1").arg(expected));
    QCOMPARE(m_note->toPlainText(), expected < 0 ? QString() : QStringLiteral("Заметка %1").arg(expected));
    QVERIFY(m_messages->shown.isEmpty());
    QVERIFY(m_sheets->stores.empty());
}

void TestDataControl::fieldsShowTheCurrentRow()
{
    QCOMPARE(m_data->Caption(), QStringLiteral("Орбелант"));
    QCOMPARE(m_data->RecordSource(), QStringLiteral("Лист1$"));

    SheetTable table = makeTable(timeScaleColumns(), {{"2,58", "Фанерозой", "", "", "", "Гелазский", "Люди"},
                                                      {"", "", "", "", "", "", ""}});
    open(table);
    QCOMPARE(m_sheets->lastPath, QDir::current().absoluteFilePath(QStringLiteral("зендра.xls")));
    QCOMPARE(m_sheets->lastSheet, QStringLiteral("Лист1$"));
    QCOMPARE(m_age->text(), QStringLiteral("2,58"));
    QCOMPARE(m_stage->text(), QStringLiteral("Гелазский"));

    click("nextButton");
    QCOMPARE(m_data->currentRecord(), 1);
    QCOMPARE(m_age->text(), QString());
    QCOMPARE(m_stage->text(), QString());
    QCOMPARE(m_note->toPlainText(), QString());
}

// Showing a row and leaving it untouched must never write to the workbook, whatever
// the cell holds.
void TestDataControl::unchangedFieldsAreNotStored_data()
{
    QTest::addColumn<QString>("note");
    QTest::newRow("lines ending in CR LF") << QStringLiteral("Первая строка\r\nвторая строка");
    QTest::newRow("a lone CR") << QStringLiteral("Первая\rвторая");
    QTest::newRow("trailing blanks") << QStringLiteral("Текст   ");
    QTest::newRow("a tab") << QStringLiteral("a\tb");
}

void TestDataControl::unchangedFieldsAreNotStored()
{
    QFETCH(QString, note);
    SheetTable table = numberedRows(2);
    table.setCell(0, 6, Cell::makeText(note));
    open(table);
    click("nextButton");
    click("previousButton");
    QVERIFY(m_data->prepareToClose());
    QVERIFY(m_sheets->stores.empty());
}

void TestDataControl::workbookThatCannotBeOpened_data()
{
    QTest::addColumn<ErrorCode>("code");
    QTest::newRow("missing") << ErrorCode::FileMissing;
    QTest::newRow("locked") << ErrorCode::FileUnreadable;
    QTest::newRow("damaged") << ErrorCode::Damaged;
    QTest::newRow("no such sheet") << ErrorCode::SheetMissing;
}

void TestDataControl::workbookThatCannotBeOpened()
{
    QFETCH(ErrorCode, code);
    m_sheets->readError = Error::make(code, QStringLiteral("зендра.xls"));

    QVERIFY(!m_data->Refresh());
    QCOMPARE(m_messages->shown, QStringList{m_sheets->readError.message});
    QVERIFY(!m_data->isOpen());
    QCOMPARE(m_data->currentRecord(), -1);
    QCOMPARE(m_eon->text(), QString());

    // The bar does nothing, and typing has nowhere to go.
    typeText(m_eon, QStringLiteral("x"));
    for (const char *button : {"firstButton", "previousButton", "nextButton", "lastButton"})
        click(button);
    QVERIFY(m_data->prepareToClose());
    QCOMPARE(m_sheets->reads, 1);
    QVERIFY(m_sheets->stores.empty());
    QCOMPARE(m_messages->shown.size(), 1);

    // Refresh tries again.
    m_sheets->sheet = numberedRows(3);
    QVERIFY(m_data->Refresh());
    QCOMPARE(m_data->currentRecord(), 0);
    QCOMPARE(m_eon->text(), QStringLiteral("E0"));
}

void TestDataControl::refreshReturnsToTheFirstRowAndRereads()
{
    open(numberedRows(4));
    click("lastButton");
    m_sheets->sheet->setCell(0, 1, Cell::makeText(QStringLiteral("Изменено снаружи")));

    QVERIFY(m_data->Refresh());
    QCOMPARE(m_data->currentRecord(), 0);
    QCOMPARE(m_eon->text(), QStringLiteral("Изменено снаружи"));
    QCOMPARE(m_sheets->reads, 2);
}

void TestDataControl::editsAreStoredWhenAnotherRowBecomesCurrent_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("expectedRow");

    // The edit is made on row 1 (age 110).
    QTest::newRow("next button") << "next" << 2;
    QTest::newRow("previous button") << "previous" << 0;
    QTest::newRow("first button") << "first" << 0;
    QTest::newRow("last button") << "last" << 3;
    QTest::newRow("MoveFirst") << "MoveFirst" << 0;
    QTest::newRow("Refresh") << "Refresh" << 0;
    QTest::newRow("moveTo a remembered row") << "moveTo 2" << 2;
}

void TestDataControl::editsAreStoredWhenAnotherRowBecomesCurrent()
{
    QFETCH(QString, action);
    QFETCH(int, expectedRow);
    open(numberedRows(4));
    click("nextButton");
    m_eon->clear();
    typeText(m_eon, QStringLiteral("Протерозой"));
    m_note->moveCursor(QTextCursor::End);
    typeText(m_note, QStringLiteral(" и ещё"));
    QVERIFY(m_data->hasEdits());

    act(action);

    QCOMPARE(m_data->currentRecord(), expectedRow);
    QCOMPARE(m_sheets->stores.size(), size_t(1));
    const FakeSheetAccess::Store &store = m_sheets->stores.front();
    QCOMPARE(store.path, QDir::current().absoluteFilePath(QStringLiteral("зендра.xls")));
    QCOMPARE(store.record, 1);
    QCOMPARE(store.edits.size(), size_t(2)); // only the fields the user changed
    QCOMPARE(store.edits[0].column, 1);
    QCOMPARE(store.edits[0].text, QStringLiteral("Протерозой"));
    QCOMPARE(store.edits[1].column, 6);
    QCOMPARE(store.edits[1].text, QStringLiteral("Заметка 1 и ещё"));
    QVERIFY(m_messages->shown.isEmpty());

    // Coming back shows the stored values, and nothing is stored twice.
    m_data->moveTo(1);
    QCOMPARE(m_eon->text(), QStringLiteral("Протерозой"));
    m_data->moveTo(0);
    QCOMPARE(m_sheets->stores.size(), size_t(1));
}

void TestDataControl::refusedStoreKeepsTheRowAndTheTyping_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<ErrorCode>("code");
    QTest::newRow("next, changed by another program") << "next" << ErrorCode::ChangedOnDisk;
    QTest::newRow("last, write failed") << "last" << ErrorCode::WriteFailed;
    QTest::newRow("first, changed by another program") << "first" << ErrorCode::ChangedOnDisk;
    QTest::newRow("MoveFirst, write failed") << "MoveFirst" << ErrorCode::WriteFailed;
    QTest::newRow("FindFirst, write failed") << "FindFirst 110" << ErrorCode::WriteFailed;
}

void TestDataControl::refusedStoreKeepsTheRowAndTheTyping()
{
    QFETCH(QString, action);
    QFETCH(ErrorCode, code);
    open(numberedRows(4));
    click("nextButton");
    click("nextButton");
    typeText(m_stage, QStringLiteral("Тоарский"));
    m_sheets->storeError = Error::make(code, QStringLiteral("зендра.xls"));

    act(action);

    QCOMPARE(m_messages->shown, QStringList{m_sheets->storeError->message});
    QCOMPARE(m_data->currentRecord(), 2);
    QCOMPARE(m_stage->text(), QStringLiteral("Тоарский"));
    QCOMPARE(m_eon->text(), QStringLiteral("E2"));
    QVERIFY(m_data->hasEdits());

    // Once the workbook takes it, the same step stores the typing and moves on.
    m_sheets->storeError.reset();
    click("nextButton");
    QCOMPARE(m_data->currentRecord(), 3);
    QCOMPARE(m_sheets->sheet->text(2, 5), QStringLiteral("Тоарский"));
}

void TestDataControl::refusedStoreAtRefreshOrClose_data()
{
    QTest::addColumn<bool>("closing");
    QTest::addColumn<bool>("letGo");
    QTest::newRow("refresh, keep the typing") << false << false;
    QTest::newRow("refresh, let the typing go") << false << true;
    QTest::newRow("close, keep the typing") << true << false;
    QTest::newRow("close, let the typing go") << true << true;
}

// The workbook may refuse for good (changed by another program): Refresh and closing
// must not trap the user, so they ask whether to go on without the typing.
void TestDataControl::refusedStoreAtRefreshOrClose()
{
    QFETCH(bool, closing);
    QFETCH(bool, letGo);
    open(numberedRows(3));
    click("lastButton");
    typeText(m_age, QStringLiteral("5"));
    m_sheets->storeError = Error::make(ErrorCode::ChangedOnDisk, QStringLiteral("зендра.xls"));
    m_messages->answer = letGo;

    const bool wentOn = closing ? m_data->prepareToClose() : m_data->Refresh();

    QCOMPARE(wentOn, letGo);
    QCOMPARE(m_messages->asked.size(), 1);
    QVERIFY(m_messages->asked.front().startsWith(m_sheets->storeError->message));
    if (!letGo) {
        QCOMPARE(m_data->currentRecord(), 2);
        QCOMPARE(m_age->text(), QStringLiteral("5120"));
        QCOMPARE(m_sheets->reads, 1);
    } else if (!closing) {
        QCOMPARE(m_data->currentRecord(), 0);
        QCOMPARE(m_age->text(), QStringLiteral("100"));
        QVERIFY(!m_data->hasEdits());
    }
}

void TestDataControl::findFirst_data()
{
    QTest::addColumn<QString>("criterion");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("expectedRow");

    const int found = int(DataControl::FindOutcome::Found);
    const int notFound = int(DataControl::FindOutcome::NotFound);
    // Rows 100, 110, 120, 110: the search starts on row 3.
    QTest::newRow("a match is made current") << "[Возраст] = 120" << true << found << 2;
    QTest::newRow("of two equal ages the earlier") << "[Возраст] = 110" << true << found << 1;
    QTest::newRow("no match keeps the row") << "[Возраст] = 999" << true << notFound << 3;
    QTest::newRow("a bad criterion is returned") << "[Возраст] =" << false << 0 << 3;
}

void TestDataControl::findFirst()
{
    QFETCH(QString, criterion);
    QFETCH(bool, valid);
    QFETCH(int, outcome);
    QFETCH(int, expectedRow);
    SheetTable table = numberedRows(4);
    table.setCell(3, 0, Cell::makeNumber(110));
    open(table);
    click("lastButton");

    const Result<DataControl::FindOutcome> result = m_data->FindFirst(criterion);

    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(int(*result), outcome);
    else
        QCOMPARE(result.error().code, ErrorCode::BadCriterion);
    QCOMPARE(m_data->currentRecord(), expectedRow);
    QCOMPARE(m_eon->text(), QStringLiteral("E%1").arg(expectedRow));
    QVERIFY(m_messages->shown.isEmpty()); // the caller reports a bad criterion
}

void TestDataControl::missingBoundColumnIsReported()
{
    QStringList columns = timeScaleColumns();
    columns.removeOne(QStringLiteral("Ярус"));
    open(makeTable(columns, {{"1", "E", "", "", "", "Люди"}}));
    QCOMPARE(m_messages->shown.size(), 1);
    QVERIFY(m_messages->shown.front().contains(QStringLiteral("«Ярус»")));
    QCOMPARE(m_stage->text(), QString());
    QCOMPARE(m_note->toPlainText(), QStringLiteral("Люди"));

    // Typing into the unbound field stores nothing.
    typeText(m_stage, QStringLiteral("x"));
    QVERIFY(m_data->prepareToClose());
    QVERIFY(m_sheets->stores.empty());
}

QTEST_MAIN(TestDataControl)
#include "tst_datacontrol.moc"

// The record source over a workbook in memory: which row is current after each step, what
// reaches the workbook when a row is left, what the user is told when the workbook refuses,
// and the navigation bar.

#include "datacontrol.h"
#include "fakeplatform.h"
#include "typing.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

using namespace testsupport;
using Outcome = DataControl::FindOutcome;

namespace {

// Ages 100, 110, …; eonothems E0, E1, …; notes "Заметка 0", ….
SheetTable numberedRows(int count)
{
    QList<QStringList> rows;
    for (int row = 0; row < count; ++row)
        rows.append({QString::number(100 + 10 * row), QStringLiteral("E%1").arg(row), "", "", "", "",
                     QStringLiteral("Заметка %1").arg(row)});
    return makeTable(rows);
}

QStringList editTexts(const std::vector<CellEdit> &edits)
{
    QStringList texts;
    for (const CellEdit &edit : edits)
        texts.append(QString::number(edit.column) + QLatin1Char(':') + edit.text);
    return texts;
}

} // namespace

class TestRecordSource : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_window.reset(); }
    void opening();
    void steps_data();
    void steps();
    void workbookThatCannotBeOpened();
    void leavingARowStoresWhatWasTyped_data();
    void leavingARowStoresWhatWasTyped();
    void untouchedFieldsAreNeverStored_data();
    void untouchedFieldsAreNeverStored();
    void refusedStoreKeepsRowAndTyping_data();
    void refusedStoreKeepsRowAndTyping();
    void refusedStoreAtRefreshOrCloseAsks_data();
    void refusedStoreAtRefreshOrCloseAsks();
    void findFirst_data();
    void findFirst();
    void missingColumn();
    void bar();

private:
    bool act(const QString &step);
    void open(const SheetTable &table)
    {
        m_sheets.sheet = table;
        QVERIFY(m_data->Refresh());
    }
    QToolButton *button(const QString &name) { return m_data->findChild<QToolButton *>(name + "Button"); }

    FakeSheetAccess m_sheets;
    FakeMessageBox m_messages;
    std::unique_ptr<QWidget> m_window;
    DataControl *m_data = nullptr;
    QLineEdit *m_age = nullptr;
    QLineEdit *m_eon = nullptr;
    QLineEdit *m_stage = nullptr;
    QPlainTextEdit *m_note = nullptr;
};

void TestRecordSource::init()
{
    m_sheets = FakeSheetAccess();
    m_messages = FakeMessageBox();
    m_window = std::make_unique<QWidget>();
    m_data = new DataControl(m_window.get());
    m_data->setGeometry(0, 0, 345, 25); // as in the main window
    m_data->setServices(m_sheets, m_messages);
    m_data->setDatabaseName(QStringLiteral("зендра.xls"));
    m_age = new QLineEdit(m_window.get());
    m_eon = new QLineEdit(m_window.get());
    m_stage = new QLineEdit(m_window.get());
    m_note = new QPlainTextEdit(m_window.get());
    m_data->bindField(m_age, QStringLiteral("Возраст"));
    m_data->bindField(m_eon, QStringLiteral("Эонотема"));
    m_data->bindField(m_stage, QStringLiteral("Ярус"));
    m_data->bindField(m_note, QStringLiteral("Органический мир"));
    m_window->show();
}

// One step as a person (the bar's buttons) or a caller (the operations) takes it; the
// operation's result, true for a button.
bool TestRecordSource::act(const QString &step)
{
    if (QToolButton *pressed = button(step)) {
        QTest::mouseClick(pressed, Qt::LeftButton);
        return true;
    }
    if (step.startsWith(QLatin1String("moveTo ")))
        return m_data->moveTo(step.mid(7).toInt());
    if (step.startsWith(QLatin1String("find ")))
        return m_data->FindFirst("[Возраст] = " + step.mid(5)).value_or(Outcome::NotFound) == Outcome::Found;
    const std::map<QString, bool (DataControl::*)()> operations = {
        {"MoveFirst", &DataControl::MoveFirst}, {"MovePrevious", &DataControl::MovePrevious},
        {"MoveNext", &DataControl::MoveNext},   {"MoveLast", &DataControl::MoveLast},
        {"Refresh", &DataControl::Refresh},     {"close", &DataControl::prepareToClose},
        {"storeEdits", &DataControl::storeEdits}};
    const auto operation = operations.find(step);
    if (operation == operations.end())
        qFatal("unknown step %s", qPrintable(step));
    return (m_data->*operation->second)();
}

void TestRecordSource::opening()
{
    QVERIFY(!m_data->isOpen());
    QCOMPARE(m_data->currentRecord(), -1);
    QCOMPARE(m_data->Caption(), QStringLiteral("Орбелант"));
    DataControl withoutServices;
    QVERIFY(!withoutServices.Refresh());

    open(numberedRows(2));
    QCOMPARE(m_sheets.reads, QStringList{QDir::current().absoluteFilePath("зендра.xls") + "|Лист1$"});
    QCOMPARE(m_sheets.marks, 1); // office programs are told that the workbook is open
    QCOMPARE(m_age->text(), QStringLiteral("100"));
    QCOMPARE(m_note->toPlainText(), QStringLiteral("Заметка 0"));
    QVERIFY(m_messages.boxes.empty());

    // A damaged workbook is shown after a message, and never marked open: it is never saved.
    SheetTable damaged = numberedRows(2);
    damaged.notSaveable = Error::make(ErrorCode::DamagedReadOnly, QStringLiteral("зендра.xls"));
    open(damaged);
    QCOMPARE(m_messages.texts(), QStringList{damaged.notSaveable->message});
    QCOMPARE(m_sheets.marks, 1);
}

void TestRecordSource::steps_data()
{
    QTest::addColumn<int>("rows"); // -1: the workbook cannot be opened
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("lastResult");

    QTest::newRow("opened") << 4 << "" << 0 << true;
    QTest::newRow("next, next") << 4 << "next,next" << 2 << true;
    QTest::newRow("previous on the first row") << 4 << "previous" << 0 << true;
    QTest::newRow("previous from the last") << 4 << "last,previous" << 2 << true;
    QTest::newRow("MovePrevious from the last") << 4 << "last,MovePrevious" << 2 << true;
    QTest::newRow("MoveNext to the last") << 4 << "next,next,MoveNext" << 3 << true;
    QTest::newRow("MoveNext on the last row") << 4 << "last,MoveNext" << 3 << true;
    QTest::newRow("next on the last row") << 4 << "MoveLast,next,next" << 3 << true;
    QTest::newRow("first from the middle") << 4 << "next,next,first" << 0 << true;
    QTest::newRow("MoveFirst on the first row") << 4 << "MoveFirst" << 0 << true;
    QTest::newRow("moveTo a remembered row") << 4 << "moveTo 2" << 2 << true;
    QTest::newRow("moveTo past the end") << 4 << "next,moveTo 4" << 1 << false;
    QTest::newRow("moveTo before the start") << 4 << "next,moveTo -1" << 1 << false;
    QTest::newRow("one row") << 1 << "next,previous,last,MoveNext" << 0 << true;
    QTest::newRow("no rows") << 0 << "next,last,previous,MoveFirst" << -1 << false;
    QTest::newRow("no rows, MoveLast") << 0 << "MoveLast" << -1 << false;
    QTest::newRow("not opened") << -1 << "next,last,MoveLast" << -1 << false;
    QTest::newRow("not opened, moveTo") << -1 << "moveTo 0" << -1 << false;
}

void TestRecordSource::steps()
{
    QFETCH(int, rows);
    QFETCH(QString, steps);
    QFETCH(int, expected);
    QFETCH(bool, lastResult);
    if (rows >= 0)
        open(numberedRows(rows));
    else
        m_data->Refresh();
    m_messages.boxes.clear();

    bool result = true;
    for (const QString &step : steps.split(QLatin1Char(','), Qt::SkipEmptyParts))
        result = act(step);

    QCOMPARE(result, lastResult);
    QCOMPARE(m_data->currentRecord(), expected);
    QCOMPARE(m_eon->text(), expected < 0 ? QString() : QStringLiteral("E%1").arg(expected));
    QCOMPARE(m_note->toPlainText(), expected < 0 ? QString() : QStringLiteral("Заметка %1").arg(expected));
    // Typing with no row to go to goes nowhere.
    typeText(m_eon, QStringLiteral("x"));
    QVERIFY(m_data->prepareToClose());
    QCOMPARE(m_sheets.stores.size(), size_t(expected >= 0 ? 1 : 0));
    QVERIFY(m_messages.boxes.empty());
    QCOMPARE(m_sheets.reads.size(), 1);
}

void TestRecordSource::workbookThatCannotBeOpened()
{
    QVERIFY(!m_data->Refresh());
    QCOMPARE(m_messages.texts(), QStringList{m_sheets.readError.message});
    QCOMPARE(m_messages.boxes[0].icon, MessageBoxService::Icon::Critical);
    QVERIFY(!m_data->isOpen());
    QCOMPARE(m_data->FindFirst(QStringLiteral("[Возраст] = 100")).value_or(Outcome::Found), Outcome::NotFound);
    QCOMPARE(m_sheets.marks, 0);

    // Refresh tries again; typing made meanwhile is let go.
    typeText(m_eon, QStringLiteral("x"));
    m_sheets.sheet = numberedRows(3);
    QVERIFY(m_data->Refresh());
    QCOMPARE(m_data->currentRecord(), 0);
    QCOMPARE(m_eon->text(), QStringLiteral("E0"));
    QVERIFY(m_sheets.stores.empty());
}

void TestRecordSource::leavingARowStoresWhatWasTyped_data()
{
    QTest::addColumn<int>("editRow");
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("expected");
    QTest::newRow("next button") << 0 << "next" << 1;
    QTest::newRow("previous button") << 1 << "previous" << 0;
    QTest::newRow("first button") << 2 << "first" << 0;
    QTest::newRow("last button") << 0 << "last" << 3;
    QTest::newRow("MoveFirst") << 1 << "MoveFirst" << 0;
    QTest::newRow("moveTo") << 1 << "moveTo 3" << 3;
    QTest::newRow("Refresh") << 2 << "Refresh" << 0;
    QTest::newRow("FindFirst") << 2 << "find 100" << 0;
    QTest::newRow("closing") << 1 << "close" << 1;
    QTest::newRow("storeEdits") << 0 << "storeEdits" << 0;
}

// Only the fields the user changed are stored, in one store for the row.
void TestRecordSource::leavingARowStoresWhatWasTyped()
{
    QFETCH(int, editRow);
    QFETCH(QString, step);
    QFETCH(int, expected);
    open(numberedRows(4));
    QVERIFY(m_data->moveTo(editRow));
    m_age->clear();
    typeText(m_age, QStringLiteral("5"));
    m_eon->clear();
    typeText(m_eon, QStringLiteral("Протерозой"));
    m_note->moveCursor(QTextCursor::End);
    typeText(m_note, QStringLiteral(" и ещё"));
    QVERIFY(m_data->hasEdits());

    QVERIFY(act(step));

    QCOMPARE(m_data->currentRecord(), expected);
    QCOMPARE(m_sheets.stores.size(), size_t(1));
    QCOMPARE(m_sheets.stores[0].record, editRow);
    QCOMPARE(editTexts(m_sheets.stores[0].edits),
             QStringList({"0:5", "1:Протерозой", QStringLiteral("6:Заметка %1 и ещё").arg(editRow)}));
    QVERIFY(!m_data->hasEdits());
    QVERIFY(m_messages.boxes.empty());

    // Back on that row the stored texts show, and nothing is stored twice.
    QVERIFY(m_data->moveTo(editRow));
    QCOMPARE(m_eon->text(), QStringLiteral("Протерозой"));
    QVERIFY(m_data->moveTo(editRow == 0 ? 1 : 0));
    QCOMPARE(m_sheets.stores.size(), size_t(1));
}

void TestRecordSource::untouchedFieldsAreNeverStored_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("CR LF") << "Первая строка\r\nвторая";
    QTest::newRow("a lone CR") << "Первая\rвторая";
    QTest::newRow("trailing blanks") << "Текст   ";
    QTest::newRow("a tab") << "a\tb";
}

void TestRecordSource::untouchedFieldsAreNeverStored()
{
    QFETCH(QString, text);
    SheetTable table = numberedRows(2);
    table.setCell(0, 1, Cell::makeText(text));
    table.setCell(0, 6, Cell::makeText(text));
    open(table);
    for (const char *step : {"next", "previous", "close"})
        act(step);
    QVERIFY(m_sheets.stores.empty());
}

void TestRecordSource::refusedStoreKeepsRowAndTyping_data()
{
    QTest::addColumn<QString>("step");
    for (const char *step : {"next", "last", "first", "MoveFirst", "MovePrevious", "moveTo 3", "find 100", "storeEdits"})
        QTest::newRow(step) << step;
}

void TestRecordSource::refusedStoreKeepsRowAndTyping()
{
    QFETCH(QString, step);
    open(numberedRows(4));
    QVERIFY(m_data->moveTo(2));
    typeText(m_stage, QStringLiteral("Тоарский"));
    m_sheets.storeError = Error::make(ErrorCode::ChangedOnDisk, QStringLiteral("зендра.xls"));

    QCOMPARE(act(step), button(step) != nullptr);

    QCOMPARE(m_messages.texts(), QStringList{m_sheets.storeError->message});
    QCOMPARE(m_messages.boxes[0].icon, MessageBoxService::Icon::Critical);
    QCOMPARE(m_data->currentRecord(), 2);
    QCOMPARE(m_eon->text(), QStringLiteral("E2"));
    QCOMPARE(m_stage->text(), QStringLiteral("Тоарский"));

    // Once the workbook takes it, the next step stores the typing and moves on.
    m_sheets.storeError.reset();
    QVERIFY(m_data->MoveNext());
    QCOMPARE(m_data->currentRecord(), 3);
    QCOMPARE(m_sheets.sheet->text(2, 5), QStringLiteral("Тоарский"));
}

void TestRecordSource::refusedStoreAtRefreshOrCloseAsks_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("letGo");
    QTest::addColumn<QString>("question");
    const QString refresh = QStringLiteral("Обновить данные без сохранения изменений?");
    const QString close = QStringLiteral("Закрыть окно без сохранения изменений?");
    QTest::newRow("Refresh, typing kept") << "Refresh" << false << refresh;
    QTest::newRow("Refresh, typing let go") << "Refresh" << true << refresh;
    QTest::newRow("closing, typing kept") << "close" << false << close;
    QTest::newRow("closing, typing let go") << "close" << true << close;
}

// A workbook may refuse for good: Refresh and closing must not trap the user.
void TestRecordSource::refusedStoreAtRefreshOrCloseAsks()
{
    QFETCH(QString, step);
    QFETCH(bool, letGo);
    QFETCH(QString, question);
    open(numberedRows(3));
    QVERIFY(m_data->MoveLast());
    typeText(m_age, QStringLiteral("5"));
    m_sheets.storeError = Error::make(ErrorCode::ChangedOnDisk, QStringLiteral("зендра.xls"));
    m_messages.answer = letGo;

    QCOMPARE(act(step), letGo);

    QCOMPARE(m_messages.boxes.size(), size_t(1));
    QVERIFY(m_messages.boxes[0].question);
    QCOMPARE(m_messages.boxes[0].text, m_sheets.storeError->message + "\n\n" + question);
    const bool reread = letGo && step == QLatin1String("Refresh");
    QCOMPARE(m_data->currentRecord(), reread ? 0 : 2);
    QCOMPARE(m_age->text(), reread ? QStringLiteral("100") : QStringLiteral("5120"));
    QCOMPARE(m_sheets.reads.size(), reread ? 2 : 1);
}

void TestRecordSource::findFirst_data()
{
    QTest::addColumn<QString>("criterion");
    QTest::addColumn<int>("outcome"); // -1: the criterion is returned as an error
    QTest::addColumn<int>("expected");
    // Ages 100, 110, 120, 110; the search starts on the last row.
    QTest::newRow("a match") << "[Возраст] = 120" << int(Outcome::Found) << 2;
    QTest::newRow("of two matches the earlier") << "[Возраст] = 110" << int(Outcome::Found) << 1;
    QTest::newRow("no match keeps the row") << "[Возраст] = 999" << int(Outcome::NotFound) << 3;
    QTest::newRow("a bad criterion") << "[Возраст] =" << -1 << 3;
}

void TestRecordSource::findFirst()
{
    QFETCH(QString, criterion);
    QFETCH(int, outcome);
    QFETCH(int, expected);
    SheetTable table = numberedRows(4);
    table.setCell(3, 0, Cell::makeNumber(110));
    open(table);
    QVERIFY(m_data->MoveLast());

    const Result<Outcome> found = m_data->FindFirst(criterion);

    if (outcome < 0)
        QCOMPARE(found.error().code, ErrorCode::BadCriterion);
    else
        QCOMPARE(int(found.value()), outcome);
    QCOMPARE(m_data->currentRecord(), expected);
    QCOMPARE(m_eon->text(), QStringLiteral("E%1").arg(expected));
    QVERIFY(m_messages.boxes.empty()); // the caller reports a bad criterion
}

// A bound column the sheet lacks is reported once; its field stays empty and stores nothing.
void TestRecordSource::missingColumn()
{
    QStringList columns = timeScaleColumns();
    columns.removeOne(QStringLiteral("Ярус"));
    open(makeTable({{"1", "E0", "", "", "", "Люди"}, {"2", "E1", "", "", "", "Звери"}}, columns));
    QCOMPARE(m_messages.boxes.size(), size_t(1));
    QVERIFY(m_messages.boxes[0].text.contains(QStringLiteral("«Ярус»")));

    QVERIFY(m_data->MoveNext());
    QCOMPARE(m_stage->text(), QString());
    QCOMPARE(m_note->toPlainText(), QStringLiteral("Звери"));
    typeText(m_stage, QStringLiteral("x"));
    QVERIFY(m_data->MoveFirst());
    QVERIFY(m_sheets.stores.empty());
}

// The bar: the caption between the first and previous buttons at the left end and the
// next and last buttons at the right end; arrows that mirror each other; held down, a
// button keeps stepping.
void TestRecordSource::bar()
{
    const auto place = [this](const QString &name) { return button(name)->geometry(); };
    QCOMPARE(place("first"), QRect(0, 0, 25, 25));
    QCOMPARE(place("previous"), QRect(25, 0, 25, 25));
    QCOMPARE(place("next"), QRect(295, 0, 25, 25));
    QCOMPARE(place("last"), QRect(320, 0, 25, 25));
    auto *caption = m_data->findChild<QLabel *>(QStringLiteral("caption"));
    QCOMPARE(caption->geometry(), QRect(50, 0, 245, 25));
    QVERIFY(caption->font().bold() && caption->font().pointSize() == 9);
    m_data->setCaption(QStringLiteral("Шкала"));
    QCOMPARE(m_data->Caption(), QStringLiteral("Шкала"));
    QCOMPARE(caption->accessibleName(), QStringLiteral("Шкала"));

    QList<QImage> arrows;
    for (const char *name : {"first", "previous", "next", "last"}) {
        const QIcon icon = button(name)->icon();
        arrows.append(icon.pixmap(icon.availableSizes().value(0)).toImage());
    }
    const auto alike = [](const QImage &a, const QImage &b) { // but for the softening of edges
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                if (a.size() != b.size() || qAbs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y))) > 2)
                    return false;
            }
        }
        return true;
    };
    QVERIFY(alike(arrows[0].mirrored(true, false), arrows[3]));
    QVERIFY(alike(arrows[1].mirrored(true, false), arrows[2]));
    for (const QImage &arrow : arrows)
        QVERIFY(alike(arrow.mirrored(false, true), arrow));
    QVERIFY(arrows[0] != arrows[1]); // the bar at the outer end
    const auto ink = [&](int x) {
        int sum = 0;
        for (int y = 0; y < arrows[1].height(); ++y)
            sum += qAlpha(arrows[1].pixel(x, y));
        return sum;
    };
    QVERIFY(ink(arrows[1].width() - 4) > ink(3)); // previous points left

    open(numberedRows(4));
    QToolButton *next = button("next");
    next->setAutoRepeatDelay(1);
    next->setAutoRepeatInterval(1);
    QTest::mousePress(next, Qt::LeftButton);
    QTRY_VERIFY(m_data->currentRecord() >= 2);
    QTest::mouseRelease(next, Qt::LeftButton);
}

QTEST_MAIN(TestRecordSource)
#include "tst_recordsource.moc"

// The record source over a workbook in memory: which row is current after each step, what
// reaches the workbook when a row is left, what the user is told when the workbook refuses,
// and the navigation bar.

#include "datacontrol.h"
#include "fakeplatform.h"
#include "workbook.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <fcntl.h>
#include <unistd.h>

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

const Error refusal = Error::make(ErrorCode::ChangedOnDisk, QStringLiteral("зендра.xls"));

} // namespace

class TestRecordSource : public QObject {
    Q_OBJECT

    FakeSheetAccess m_sheets;
    FakeMessageBox m_messages;
    std::unique_ptr<QWidget> m_window;
    DataControl *m_data = nullptr;
    QLineEdit *m_age = nullptr, *m_eon = nullptr, *m_stage = nullptr;
    QPlainTextEdit *m_note = nullptr;

    void open(const SheetTable &table)
    {
        m_sheets.sheet = table;
        QVERIFY(m_data->Refresh());
    }
    QToolButton *button(const QString &name) { return m_data->findChild<QToolButton *>(name + "Button"); }
    // One step as a person (the bar's buttons) or a caller (the operations) takes it; the
    // operation's result, true for a button.
    bool act(const QString &step)
    {
        if (QToolButton *pressed = button(step)) {
            QTest::mouseClick(pressed, Qt::LeftButton);
            return true;
        }
        const QString argument = step.section(' ', 1);
        if (step.startsWith("moveTo "))
            return m_data->moveTo(argument.toInt());
        if (step.startsWith("find "))
            return m_data->FindFirst("[Возраст] = " + argument).value_or(Outcome::NotFound) == Outcome::Found;
        const std::map<QString, bool (DataControl::*)()> operations = {
            {"MoveFirst", &DataControl::MoveFirst}, {"MovePrevious", &DataControl::MovePrevious},
            {"MoveNext", &DataControl::MoveNext},   {"MoveLast", &DataControl::MoveLast},
            {"Refresh", &DataControl::Refresh},     {"close", &DataControl::prepareToClose},
            {"storeEdits", &DataControl::storeEdits}};
        return (m_data->*operations.at(step))();
    }

private slots:
    void init()
    {
        m_sheets = FakeSheetAccess();
        m_messages = FakeMessageBox();
        m_window = std::make_unique<QWidget>();
        m_data = new DataControl(m_window.get());
        m_data->setGeometry(0, 0, 345, 25); // as in the main window
        m_data->setServices(m_sheets, m_messages);
        m_data->setDatabaseName(QStringLiteral("зендра.xls"));
        m_data->bindField(m_age = new QLineEdit(m_window.get()), QStringLiteral("Возраст"));
        m_data->bindField(m_eon = new QLineEdit(m_window.get()), QStringLiteral("Эонотема"));
        m_data->bindField(m_stage = new QLineEdit(m_window.get()), QStringLiteral("Ярус"));
        m_data->bindField(m_note = new QPlainTextEdit(m_window.get()), QStringLiteral("Органический мир"));
        m_window->show();
    }
    void cleanup() { m_window.reset(); }

    void opening()
    {
        // A workbook that cannot be opened is reported; Refresh tries again.
        QVERIFY(!m_data->Refresh());
        QCOMPARE(m_messages.texts, QStringList{m_sheets.readError.message});
        QCOMPARE(m_messages.boxes[0].icon, MessageBoxService::Icon::Critical);
        QCOMPARE(m_data->FindFirst(QStringLiteral("[Возраст] = 100")).value_or(Outcome::Found), Outcome::NotFound);
        open(numberedRows(2));
        QCOMPARE(m_sheets.marks, 1); // office programs are told that the workbook is open
        QCOMPARE(m_note->toPlainText(), QStringLiteral("Заметка 0"));
        QCOMPARE(m_messages.boxes.size(), size_t(1));

        // A damaged workbook is shown after a message, and never marked open: it is never saved.
        SheetTable damaged = numberedRows(2);
        damaged.notSaveable = Error::make(ErrorCode::DamagedReadOnly, QStringLiteral("зендра.xls"));
        open(damaged);
        QCOMPARE(m_messages.texts.last(), damaged.notSaveable->message);
        QCOMPARE(m_sheets.marks, 1);

        // A bound column the sheet lacks is reported once; its field stays empty and stores
        // nothing. Line ends and blanks read back from the fields as the workbook holds them:
        // fields left untouched are never stored.
        m_messages = FakeMessageBox();
        open(makeTable({{"1", "Текст   \tс табуляцией", "Первая\r\nвторая\rтретья\nчетвёртая  "}, {"2", "E1", "Звери"}},
                       {"Возраст", "Эонотема", "Органический мир"}));
        QCOMPARE(m_messages.texts.size(), 1);
        QVERIFY(m_messages.texts[0].contains(QStringLiteral("«Ярус»")));
        QVERIFY(m_data->MoveNext());
        QCOMPARE(m_stage->text(), QString());
        QCOMPARE(m_note->toPlainText(), QStringLiteral("Звери"));
        typeText(m_stage, QStringLiteral("x"));
        for (const char *step : {"previous", "next", "close"})
            act(step);
        QVERIFY(m_sheets.stores.empty());
    }

    void steps_data()
    {
        QTest::addColumn<int>("rows"); // -1: the workbook cannot be opened
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("lastResult");
        QTest::newRow("next, next") << 4 << "next,next" << 2 << true;
        QTest::newRow("previous on the first row") << 4 << "previous" << 0 << true;
        QTest::newRow("previous from the last") << 4 << "last,MovePrevious,previous" << 1 << true;
        QTest::newRow("MoveNext to the last") << 4 << "next,next,MoveNext" << 3 << true;
        QTest::newRow("next on the last row") << 4 << "MoveLast,next,MoveNext" << 3 << true;
        QTest::newRow("first from the middle") << 4 << "next,next,first" << 0 << true;
        QTest::newRow("moveTo past the end") << 4 << "next,moveTo 4" << 1 << false;
        QTest::newRow("moveTo before the start") << 4 << "next,moveTo -1" << 1 << false;
        QTest::newRow("one row") << 1 << "next,previous,last,MoveNext" << 0 << true;
        QTest::newRow("no rows") << 0 << "next,last,previous,MoveFirst" << -1 << false;
        QTest::newRow("not opened") << -1 << "next,last,moveTo 0" << -1 << false;
    }
    void steps()
    {
        QFETCH(int, rows);
        QFETCH(QString, steps);
        QFETCH(int, expected);
        QFETCH(bool, lastResult);
        if (rows >= 0)
            m_sheets.sheet = numberedRows(rows);
        m_data->Refresh();
        m_messages = FakeMessageBox();

        bool result = true;
        for (const QString &step : steps.split(QLatin1Char(','), Qt::SkipEmptyParts))
            result = act(step);

        QCOMPARE(result, lastResult);
        QCOMPARE(m_data->currentRecord(), expected);
        QCOMPARE(m_eon->text(), expected < 0 ? QString() : QStringLiteral("E%1").arg(expected));
        typeText(m_eon, QStringLiteral("x")); // with no row to go to, typing goes nowhere
        QVERIFY(m_data->prepareToClose());
        QCOMPARE(m_sheets.stores.size(), expected < 0 ? 0 : 1);
        QVERIFY(m_messages.boxes.empty());
        QCOMPARE(m_sheets.reads, 1);
    }

    void leavingARow_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("refused"); // the workbook refuses the typing
        QTest::addColumn<bool>("letGo");   // the answer to the question, if one is asked
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("record");   // current afterwards
        const auto row = [](const char *name, const char *step, bool refused, bool letGo, bool result, int record) {
            QTest::newRow(name) << step << refused << letGo << result << record;
        };
        row("last button", "last", false, false, true, 3);
        row("moveTo", "moveTo 3", false, false, true, 3);
        row("Refresh", "Refresh", false, false, true, 0);
        row("FindFirst", "find 100", false, false, true, 0);
        row("closing", "close", false, false, true, 2);
        row("storeEdits", "storeEdits", false, false, true, 2);
        row("refused: next button", "next", true, false, true, 2);
        row("refused: FindFirst", "find 100", true, false, false, 2);
        row("refused: storeEdits", "storeEdits", true, false, false, 2);
        row("refused: Refresh, typing kept", "Refresh", true, false, false, 2);
        row("refused: Refresh, typing let go", "Refresh", true, true, true, 0);
        row("refused: closing, typing kept", "close", true, false, false, 2);
        row("refused: closing, typing let go", "close", true, true, true, 2);
    }
    // Only the fields the user changed are stored, in one store for the row, and never twice.
    // When the workbook refuses, the row and the typing stay and the user is told why; it may
    // refuse for good, so Refresh and closing ask whether to let the typing go. Once the
    // workbook takes it, the next step stores the typing.
    void leavingARow()
    {
        QFETCH(QString, step);
        QFETCH(bool, refused);
        QFETCH(bool, letGo);
        QFETCH(bool, result);
        QFETCH(int, record);
        open(numberedRows(4));
        QVERIFY(m_data->moveTo(2));
        m_age->clear();
        typeText(m_age, QStringLiteral("5"));
        m_note->moveCursor(QTextCursor::End);
        typeText(m_note, QStringLiteral(" и ещё"));
        if (refused)
            m_sheets.storeError = refusal;
        m_messages.answer = letGo;

        QCOMPARE(act(step), result);

        QCOMPARE(m_data->currentRecord(), record);
        const QString question = step == "Refresh" ? "\n\nОбновить данные без сохранения изменений?"
                                 : step == "close" ? "\n\nЗакрыть окно без сохранения изменений?" : "";
        QCOMPARE(m_messages.texts, refused ? QStringList{refusal.message + question} : QStringList());
        for (const Box &told : m_messages.boxes)
            QVERIFY(told.question || told.icon == MessageBoxService::Icon::Critical);
        m_sheets.storeError.reset();
        QVERIFY(m_data->moveTo(2) && m_data->moveTo(1) && m_data->moveTo(2));
        const bool dropped = refused && letGo && step == "Refresh";
        QCOMPARE(m_sheets.stores, QStringList(refused && !dropped ? 2 : 1, "2|0:5|6:Заметка 2 и ещё"));
        QCOMPARE(m_age->text(), dropped ? "120" : "5");
    }

    // Square buttons, first and previous at the left end, next and last at the right, the
    // caption between them; arrows that mirror each other; held down, a button keeps stepping.
    void bar()
    {
        const QRect previous = button("previous")->geometry(), next = button("next")->geometry();
        QCOMPARE(button("first")->geometry().united(previous), QRect(0, 0, 50, 25));
        QCOMPARE(next.united(button("last")->geometry()), QRect(295, 0, 50, 25));
        auto *caption = m_data->findChild<QLabel *>(QStringLiteral("caption"));
        QCOMPARE(caption->geometry(), QRect(50, 0, 245, 25));
        m_data->setCaption(QStringLiteral("Шкала"));
        QCOMPARE(caption->accessibleName(), m_data->Caption());

        QList<QImage> arrows; // where more than half covered: the softening of edges aside
        for (const char *name : {"first", "previous", "next", "last"}) {
            const QIcon icon = button(name)->icon();
            arrows.append(icon.pixmap(icon.availableSizes().value(0)).toImage().createAlphaMask(Qt::ThresholdAlphaDither));
        }
        QCOMPARE(arrows[0].mirrored(true, false), arrows[3]);
        QCOMPARE(arrows[1].mirrored(true, false), arrows[2]);
        for (const QImage &arrow : arrows)
            QCOMPARE(arrow.mirrored(false, true), arrow);
        QVERIFY(arrows[0] != arrows[1]);                                // the bar at the outer end
        QCOMPARE(arrows[1].pixelIndex(3, 1) - arrows[1].pixelIndex(8, 1), -1); // previous points left

        open(numberedRows(4));
        QToolButton *held = button("next");
        held->setAutoRepeatDelay(1);
        held->setAutoRepeatInterval(1);
        QTest::mousePress(held, Qt::LeftButton);
        QTRY_VERIFY(m_data->currentRecord() >= 2);
        QTest::mouseRelease(held, Qt::LeftButton);
    }

    // A save waiting for another one keeps the program's events going under a busy cursor,
    // and puts the cursor back after.
    void waitingForAnotherSave()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("зендра.xls"));
        QVERIFY(QFile::copy(QStringLiteral(ORBELANT_SOURCE_DIR "/sample/зендра.xls"), path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        const auto table = readSheet(path, QStringLiteral("Лист1"));
        int other = ::open(QFile::encodeName(path).constData(), O_RDWR); // another save's lock
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        QVERIFY(table && ::fcntl(other, F_OFD_SETLK, &lock) == 0);
        std::optional<Qt::CursorShape> cursor;
        QTimer::singleShot(300, [&] {
            cursor = QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape() : Qt::ArrowCursor;
            ::close(other);
        });
        EngineSheetAccess sheets;
        const auto stored = sheets.store(path, *table, 0, {{5, QStringLiteral("после ожидания")}});
        QVERIFY2(stored, stored ? "" : qPrintable(stored.error().message));
        QCOMPARE(cursor, std::optional(Qt::WaitCursor));
        QVERIFY(!QGuiApplication::overrideCursor());
    }
};

QTEST_MAIN(TestRecordSource)
#include "tst_recordsource.moc"

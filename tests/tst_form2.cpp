// The age search dialog through the real shell and main window: the row shown after a
// search, what stays when nothing is found or the text is no number, the end of the
// program on an empty field, and the dialog's own layout.

#include "datacontrol.h"
#include "fakeplatform.h"
#include "filter/criterion.h"
#include "form1.h"
#include "form2.h"
#include "shell.h"
#include "typing.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace orbelant;
using namespace testsupport;

namespace {

// Every box the windows asked for, with the number of windows open at that moment.
struct Box {
    bool question = false;
    QString text;
    MessageBoxService::Icon icon = MessageBoxService::Icon::None;
    QString caption;
    int openWindows = 0;
};

class RecordingMessageBox final : public MessageBoxService {
public:
    void show(const QString &text, Icon icon, const QString &caption) override
    {
        boxes.push_back({false, text, icon, caption, openWindows()});
    }
    bool ask(const QString &text, const QString &caption) override
    {
        boxes.push_back({true, text, Icon::None, caption, openWindows()});
        return answer;
    }
    int openWindows() const { return shell ? shell->openWindowCount() : -1; }

    std::vector<Box> boxes;
    bool answer = false;
    const Shell *shell = nullptr;
};

// The in-memory sheet of FakeSheetAccess searched by the real criterion engine.
class InMemoryWorkbook final : public SheetAccess {
public:
    Result<SheetTable> read(const QString &path, const QString &sheetName) override
    {
        return fake.read(path, sheetName);
    }
    Result<std::vector<Cell>> store(const QString &path, const SheetTable &loaded, qsizetype record,
                                    const std::vector<CellEdit> &edits) override
    {
        return fake.store(path, loaded, record, edits);
    }
    Result<std::optional<qsizetype>> findFirst(const SheetTable &table, const QString &criterion,
                                               qsizetype from) override
    {
        return orbelant::findFirst(table, criterion, from);
    }
    FakeSheetAccess fake;
};

// The main window's field shows a row with its cursor at the start.
void typeAtEnd(QLineEdit *field, const QString &text)
{
    QTest::keyClick(field, Qt::Key_End);
    typeText(field, text);
}

QStringList row(const QString &age, const QString &stage)
{
    return {age, "Фанерозойская", "Мезозойская", "Меловая", "Нижний", stage, ""};
}

// Record 5, the last, is shown when a search starts.
const QList<QStringList> timeScale = {row("145", "Берриасский"), row("140", "Первый ярус"),
                                      row("140", "Второй ярус"), row("0,01", "Голоцен"),
                                      row("137,05", "Валанжинский"), row("135", "Готеривский")};
constexpr qsizetype shownBefore = 5;

} // namespace

class TestForm2 : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void searchShowsTheFirstRowOfTheAge_data();
    void searchShowsTheFirstRowOfTheAge();
    void searchingAgainGivesTheSameRowFromAnEmptyField();
    void cancelKeepsTheRow_data();
    void cancelKeepsTheRow();
    void notFoundOffersTheIntervalOfTheAge_data();
    void notFoundOffersTheIntervalOfTheAge();
    void invalidTextKeepsTheDialog_data();
    void invalidTextKeepsTheDialog();
    void refusedEditsStopTheSearch();
    void emptyTextEndsTheProgramAfterStoringEdits_data();
    void emptyTextEndsTheProgramAfterStoringEdits();
    void searchAfterTheMainWindowClosedShowsIt_data();
    void searchAfterTheMainWindowClosedShowsIt();
    void dialogLayout();
    void enterAndEscapeDoNothing();
    void tabOrder();

private:
    // The shell started on `rows`, the main window on its last row, the dialog opened
    // from the menu.
    Form2 &openDialog(const QList<QStringList> &rows = timeScale);
    void search(const QString &typed);
    QString shownStage() { return m_shell->form1().findChild<QLineEdit *>(QStringLiteral("Text6"))->text(); }
    qsizetype currentRecord() { return m_shell->form1().Data1().currentRecord(); }
    template <typename Control = QWidget>
    Control *dialogControl(const char *name)
    {
        return m_shell->form2().findChild<Control *>(QLatin1String(name));
    }

    RecordingMessageBox m_messages;
    FakePlatform m_platform;
    InMemoryWorkbook m_sheets;
    std::unique_ptr<Shell> m_shell;
    std::unique_ptr<QSignalSpy> m_ended; // where the program would quit
};

void TestForm2::cleanup()
{
    m_ended.reset();
    m_shell.reset();
    m_messages = RecordingMessageBox();
    m_sheets.fake = FakeSheetAccess();
}

Form2 &TestForm2::openDialog(const QList<QStringList> &rows)
{
    m_sheets.fake.sheet = makeTable(timeScaleColumns(), rows);
    const PlatformServices fakes = m_platform.services();
    m_shell = std::make_unique<Shell>(
        PlatformServices{m_messages, fakes.printer, fakes.textFile, fakes.codePage, fakes.files, fakes.processes},
        m_sheets);
    m_messages.shell = m_shell.get();
    m_ended = std::make_unique<QSignalSpy>(m_shell.get(), &Shell::lastWindowClosed);
    m_shell->start();
    m_shell->form1().Data1().MoveLast();
    m_shell->form1().findChild<QAction *>(QStringLiteral("find"))->trigger();
    return m_shell->form2();
}

void TestForm2::search(const QString &typed)
{
    typeText(dialogControl("Text1"), typed);
    QTest::mouseClick(dialogControl<QPushButton>("Command1"), Qt::LeftButton);
}

void TestForm2::searchShowsTheFirstRowOfTheAge_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<qsizetype>("record");
    QTest::newRow("140: the first of two rows of age 140") << "140" << qsizetype(1);
    QTest::newRow("140.0 is the same number") << "140.0" << qsizetype(1);
    QTest::newRow("blanks around the number") << " 140 " << qsizetype(1);
    QTest::newRow("0.01 with a decimal point") << "0.01" << qsizetype(3);
    QTest::newRow("0,01 with a decimal comma") << "0,01" << qsizetype(3);
}

void TestForm2::searchShowsTheFirstRowOfTheAge()
{
    QFETCH(QString, typed);
    QFETCH(qsizetype, record);
    openDialog();

    search(typed);

    QCOMPARE(currentRecord(), record);
    QCOMPARE(shownStage(), timeScale[record][5]);
    QVERIFY(!m_shell->form2Exists());
    QVERIFY(m_messages.boxes.empty());
}

// Every search starts from the first row, and every opening is a fresh dialog.
void TestForm2::searchingAgainGivesTheSameRowFromAnEmptyField()
{
    openDialog();
    search(QStringLiteral("140"));
    QCOMPARE(currentRecord(), 1);

    m_shell->form1().findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    QCOMPARE(dialogControl<QLineEdit>("Text1")->text(), QString());
    search(QStringLiteral("140"));

    QCOMPARE(currentRecord(), 1);
    QVERIFY(!m_shell->form2Exists());
}

void TestForm2::cancelKeepsTheRow_data()
{
    QTest::addColumn<bool>("byCloseBox");
    QTest::newRow("Command2") << false;
    QTest::newRow("the window's close box") << true;
}

void TestForm2::cancelKeepsTheRow()
{
    QFETCH(bool, byCloseBox);
    Form2 &dialog = openDialog();
    typeText(dialogControl("Text1"), QStringLiteral("140"));

    if (byCloseBox)
        dialog.close();
    else
        QTest::mouseClick(dialogControl<QPushButton>("Command2"), Qt::LeftButton);

    QVERIFY(!m_shell->form2Exists());
    QCOMPARE(currentRecord(), shownBefore);
    QVERIFY(m_messages.boxes.empty());
    QCOMPARE(m_ended->size(), 0);
}

// The ages are the bases of the intervals: an age between two of them lies in the interval
// of the older one, which reaches up to the younger one.
void TestForm2::notFoundOffersTheIntervalOfTheAge_data()
{
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("message");
    QTest::addColumn<qsizetype>("record"); // shown afterwards
    const auto offer = [](const QString &age, const QString &interval) {
        return "Интервал с возрастом " + age + " млн. лет не найден.\nВозраст " + age + " млн. лет приходится на " +
               interval + ". Показать этот интервал?";
    };
    const QString in141 = offer("141", "берриасский ярус (145–140 млн. лет)");
    QTest::newRow("141, Да: the older base, up to the next younger one")
        << timeScale << "141" << true << in141 << qsizetype(0);
    QTest::newRow("141, Нет: the row from before") << timeScale << "141" << false << in141 << shownBefore;
    QTest::newRow("139.5: the first of two rows of 140")
        << timeScale << "139.5" << true << offer("139,5", "первый ярус (140–137,05 млн. лет)") << qsizetype(1);
    QTest::newRow("136: a younger base later in the sheet")
        << timeScale << "136" << true << offer("136", "валанжинский ярус (137,05–135 млн. лет)") << qsizetype(4);
    QTest::newRow("a negative age: no offer")
        << timeScale << "-5" << false << "Интервал с возрастом -5 млн. лет не найден." << shownBefore;
    QTest::newRow("no row has a numeric age: no offer")
        << QList<QStringList>{row("около 140", "Первый"), row("", "Второй")} << "140" << false
        << "Интервал с возрастом 140 млн. лет не найден." << qsizetype(1);
    QTest::newRow("a quoted text is no number: no offer")
        << timeScale << "'сто'" << false << "Интервал с возрастом 'сто' млн. лет не найден." << shownBefore;

    // The most specific unit with a name names the interval. The rows are not in order.
    const QList<QStringList> precambrian = {
        {"300", "", "", "", "", " ", ""},
        {"4567", "Хадейская", "", "", "", "", ""},
        {"4031", "Архейская", "Эоархейская", "", "", "", ""},
        {"635", "Протерозойская", "Неопротерозойская", "Эдиакарская", "", "", ""},
        {"0,0117", "Фанерозойская", "Кайнозойская", "Четвертичная", "Голоцен", "", ""}};
    QTest::newRow("eonothem") << precambrian << "4100" << true
                              << offer("4100", "хадейская эонотема (4567–4031 млн. лет)") << qsizetype(1);
    QTest::newRow("erathem") << precambrian << "1000" << true
                             << offer("1000", "эоархейская эратема (4031–635 млн. лет)") << qsizetype(2);
    QTest::newRow("system") << precambrian << "600" << true
                            << offer("600", "эдиакарская система (635–300 млн. лет)") << qsizetype(3);
    QTest::newRow("no unit named") << precambrian << "100" << true
                                   << offer("100", "интервал 300–0,0117 млн. лет") << qsizetype(0);
    QTest::newRow("series named by a noun; the youngest reaches the present")
        << precambrian << "0" << true << offer("0", "отдел голоцен (0,0117–0 млн. лет)") << qsizetype(4);
    QTest::newRow("older than the oldest base: no offer")
        << precambrian << "4600" << false
        << "Интервал с возрастом 4600 млн. лет не найден.\n"
           "Возраст 4600 млн. лет старше самого древнего интервала шкалы, 4567 млн. лет."
        << qsizetype(4);
}

void TestForm2::notFoundOffersTheIntervalOfTheAge()
{
    QFETCH(QList<QStringList>, rows);
    QFETCH(QString, typed);
    QFETCH(bool, answer);
    QFETCH(QString, message);
    QFETCH(qsizetype, record);
    QPointer<Form2> dialog = &openDialog(rows);
    m_messages.answer = answer;

    search(typed);

    QCOMPARE(m_messages.boxes.size(), size_t(1));
    const Box &box = m_messages.boxes.front();
    QCOMPARE(box.text, message);
    QCOMPARE(box.question, message.endsWith(u'?'));
    QCOMPARE(currentRecord(), record);
    const bool staysOpen = !(box.question && answer);
    QCOMPARE(m_shell->form2Exists(), staysOpen);
    if (staysOpen) {
        QCOMPARE(dialogControl<QLineEdit>("Text1")->text(), typed);
        QCOMPARE(dialog->criterion(), "[Возраст] = " + typed);
    }
}

void TestForm2::invalidTextKeepsTheDialog_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("problem");
    QTest::newRow("letters") << "сто сорок" << "нет столбца «сто»";
    QTest::newRow("a Cyrillic о for a zero") << "14о" << "знак «о»";
    QTest::newRow("blanks only") << "   " << "не указано, с чем сравнивать";
    QTest::newRow("a stray symbol") << "140;" << "знак «;»";
    QTest::newRow("two decimal commas") << "1,4,0" << "знак «,»";
}

void TestForm2::invalidTextKeepsTheDialog()
{
    QFETCH(QString, typed);
    QFETCH(QString, problem);
    QPointer<Form2> dialog = &openDialog();

    search(typed);

    QCOMPARE(m_messages.boxes.size(), size_t(1));
    const Box &box = m_messages.boxes.front();
    QVERIFY2(box.text.startsWith(QStringLiteral("Неверное условие поиска")), qPrintable(box.text));
    QVERIFY2(box.text.contains(problem), qPrintable(box.text));
    QCOMPARE(box.icon, MessageBoxService::Icon::Critical);
    QCOMPARE(currentRecord(), shownBefore);
    QVERIFY(dialog && m_shell->form2Exists());
    QCOMPARE(dialogControl<QLineEdit>("Text1")->text(), typed);
    QCOMPARE(dialog->criterion(), "[Возраст] = " + typed);
    QCOMPARE(m_ended->size(), 0);
}

// Typing in the main window that the workbook refuses is neither lost nor searched past.
void TestForm2::refusedEditsStopTheSearch()
{
    openDialog();
    auto *stage = m_shell->form1().findChild<QLineEdit *>(QStringLiteral("Text6"));
    typeAtEnd(stage, QStringLiteral(" (правка)"));
    m_sheets.fake.storeError = Error::make(ErrorCode::WriteFailed, QStringLiteral("зендра.xls"));

    search(QStringLiteral("140"));

    QCOMPARE(m_messages.boxes.size(), size_t(1)); // the refusal, from the record source
    QCOMPARE(currentRecord(), shownBefore);
    QCOMPARE(stage->text(), QStringLiteral("Готеривский (правка)"));
    QVERIFY(m_shell->form2Exists());
}

void TestForm2::emptyTextEndsTheProgramAfterStoringEdits_data()
{
    QTest::addColumn<QString>("typedInMainWindow");
    QTest::newRow("typing pending in the main window") << " (правка)";
    QTest::newRow("nothing typed") << "";
}

void TestForm2::emptyTextEndsTheProgramAfterStoringEdits()
{
    QFETCH(QString, typedInMainWindow);
    openDialog();
    typeAtEnd(m_shell->form1().findChild<QLineEdit *>(QStringLiteral("Text6")), typedInMainWindow);

    search(QString());

    QCOMPARE(m_messages.boxes.size(), size_t(1));
    const Box &box = m_messages.boxes.front();
    QCOMPARE(box.text, QStringLiteral("Ошибка ввода! Приложение будет закрыто!"));
    QCOMPARE(box.caption, QStringLiteral("сообщение"));
    QCOMPARE(box.icon, MessageBoxService::Icon::Critical);
    QVERIFY(!box.question);
    QCOMPARE(box.openWindows, 2); // the box came before anything was closed
    QCOMPARE(m_ended->size(), 1);
    QCOMPARE(m_shell->openWindowCount(), 0);
    QCOMPARE(m_sheets.fake.stores.size(), size_t(typedInMainWindow.isEmpty() ? 0 : 1));
    if (!typedInMainWindow.isEmpty()) {
        QCOMPARE(m_sheets.fake.stores[0].record, shownBefore);
        QCOMPARE(m_sheets.fake.stores[0].edits[0].text, "Готеривский" + typedInMainWindow);
    }
}

void TestForm2::searchAfterTheMainWindowClosedShowsIt_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<qsizetype>("record");
    QTest::addColumn<bool>("dialogStays");
    QTest::newRow("found") << "140" << qsizetype(1) << false;
    QTest::newRow("not found, interval declined") << "137" << qsizetype(0) << true;
    QTest::newRow("invalid text") << "сто" << qsizetype(0) << true;
}

void TestForm2::searchAfterTheMainWindowClosedShowsIt()
{
    QFETCH(QString, typed);
    QFETCH(qsizetype, record);
    QFETCH(bool, dialogStays);
    openDialog();
    QVERIFY(m_shell->form1().close());
    QVERIFY(!m_shell->form1Exists());

    search(typed);

    QVERIFY(m_shell->form1Exists());
    QVERIFY(m_shell->form1().isVisible());
    QCOMPARE(currentRecord(), record);
    QCOMPARE(m_shell->form2Exists(), dialogStays);
    QCOMPARE(m_shell->openWindowCount(), dialogStays ? 2 : 1);
    QCOMPARE(m_ended->size(), 0);
}

void TestForm2::dialogLayout()
{
    Form2 &dialog = openDialog();
    QCOMPARE(dialog.size(), QSize(331, 77));
    QCOMPARE(dialog.windowType(), Qt::Tool); // no taskbar button
    const struct {
        const char *name;
        QRect geometry;
        const char *accessibleName;
    } controls[] = {{"Label1", {8, 8, 201, 33}, ""},
                    {"Text1", {8, 40, 201, 25}, "Возраст"},
                    {"Command1", {229, 18, 41, 41}, "Найти"},
                    {"Command2", {269, 18, 41, 41}, "Закрыть"}};
    for (const auto &control : controls) {
        QWidget *widget = dialogControl(control.name);
        QVERIFY2(widget, control.name);
        QCOMPARE(widget->geometry(), control.geometry);
        QCOMPARE(widget->accessibleName(), QString::fromUtf8(control.accessibleName));
        QCOMPARE(widget->toolTip(), QString());
    }
    auto *label = dialogControl<QLabel>("Label1");
    QCOMPARE(label->text(), QStringLiteral("Введите возраст в млн. лет   Например 140 "));
    const int lineHeight = label->fontMetrics().lineSpacing();
    QCOMPARE(label->heightForWidth(label->width()) / lineHeight, 2);
    QVERIFY(label->heightForWidth(label->width()) <= label->height());
    QCOMPARE(dialogControl<QLineEdit>("Text1")->text(), QString());
    for (const char *button : {"Command1", "Command2"}) {
        auto *command = dialogControl<QPushButton>(button);
        QVERIFY(command->text().isEmpty());
        QVERIFY(!command->icon().isNull());
        QVERIFY(!command->isDefault() && !command->autoDefault());
    }
}

// No default or cancel button: Enter searches nothing and Esc closes nothing.
void TestForm2::enterAndEscapeDoNothing()
{
    openDialog();
    auto *field = dialogControl<QLineEdit>("Text1");
    typeText(field, QStringLiteral("140"));

    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Escape);

    QVERIFY(m_shell->form2Exists());
    QCOMPARE(currentRecord(), shownBefore);
    QVERIFY(m_messages.boxes.empty());
}

void TestForm2::tabOrder()
{
    Form2 &dialog = openDialog();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialogControl("Text1")->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(visited, QStringList({"Text1", "Command1", "Command2", "Text1"}));
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"

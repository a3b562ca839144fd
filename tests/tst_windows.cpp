// The windows through the shell: what each command of the main window does, the line saved
// to info.dat byte for byte, the age search and what it tells when no row has the age, one
// instance of each window, and the end of the program with its last window.

#include "agesearch.h"
#include "datacontrol.h"
#include "fakeplatform.h"
#include "form1.h"
#include "form2.h"
#include "frmabout.h"
#include "shell.h"
#include "windows1251.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

namespace {

const QStringList permian = {"251,902", "Фанерозойская", "Палеозойская", "Пермская", "Лопинский", "Чансинский",
                             "Вымирает ≈ 95 % видов —\n«великое» №3\nконец"};

QStringList stage(const QString &age, const QString &name)
{
    return {age, "Фанерозойская", "Мезозойская", "Меловая", "Нижний", name, ""};
}

// Not in order of age; a search starts on the last row.
const QList<QStringList> cretaceous = {stage("145", "Берриасский"), stage("140", "Первый ярус"),
                                       stage("140", "Второй ярус"), stage("0,01", "Голоцен"),
                                       stage("137,05", "Валанжинский"), stage("135", "Готеривский")};
const QList<QStringList> precambrian = {{"300", "", "", "", "", " ", ""},
                                        {"4567", "Хадейская", "", "", "", "", ""},
                                        {"4031", "Архейская", "Эоархейская", "", "", "", ""},
                                        {"635", "Протерозойская", "Неопротерозойская", "Эдиакарская", "", "", ""},
                                        {"0,0117", "Фанерозойская", "Кайнозойская", "Четвертичная", "Голоцен", "", ""}};

QString notFound(const QString &age)
{
    return "Интервал с возрастом " + age + " млн. лет не найден.";
}

QString offer(const QString &age, const QString &interval)
{
    return notFound(age) + "\nВозраст " + age + " млн. лет приходится на " + interval + ". Показать этот интервал?";
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folder; // the working folder, for info.dat
    std::unique_ptr<FakePlatform> m_platform;
    FakeSheetAccess m_sheets;
    std::unique_ptr<Shell> m_shell;
    std::unique_ptr<QSignalSpy> m_ended;

    FakeMessageBox &messages() { return m_platform->messages; }
    Form1 &form() { return m_shell->form1(); }
    Form1 &start(const QList<QStringList> &rows)
    {
        m_sheets.sheet = makeTable(rows);
        m_shell->start();
        return form();
    }
    // A menu item (by its name) or a button of the main window.
    void run(const char *control)
    {
        if (QPushButton *button = form().findChild<QPushButton *>(control))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            form().findChild<QAction *>(control)->trigger();
    }
    QLineEdit *field(int number) { return form().findChild<QLineEdit *>(QStringLiteral("Text%1").arg(number)); }
    qsizetype shownRecord() { return form().Data1().currentRecord(); }
    QLineEdit *ageField() { return m_shell->form2().findChild<QLineEdit *>("Text1"); }
    // The shell on the Cretaceous, the main window on its last row, the dialog opened from the menu.
    void openSearch()
    {
        start(cretaceous).Data1().MoveLast();
        run("find");
    }
    void find(const QString &typed)
    {
        typeText(ageField(), typed);
        QTest::mouseClick(m_shell->form2().findChild<QPushButton *>("Command1"), Qt::LeftButton);
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_folder->path()));
        m_platform = std::make_unique<FakePlatform>();
        m_sheets = FakeSheetAccess();
        m_shell = std::make_unique<Shell>(m_platform->services(), m_sheets);
        m_ended = std::make_unique<QSignalSpy>(m_shell.get(), &Shell::lastWindowClosed);
    }
    void cleanup()
    {
        m_ended.reset();
        m_shell.reset();
    }

    // Each menu item and its button do their one thing and nothing else.
    void commands()
    {
        const QStringList items = {"find", "print", "save", "refresh", "avtor", "exit"};
        for (int i = 0; i < 12; ++i) {
            if (i > 0)
                init(); // a fresh shell and working folder for each
            const QString control = i < 6 ? items[i] : QStringLiteral("Command%1").arg(i - 5);
            QVERIFY(start({permian, permian}).Data1().MoveLast());
            run(control.toLatin1().constData());
            const bool seen[] = {m_shell->form2Exists() && m_shell->form2().isVisible(),
                                 m_platform->printer.printed == QStringList{"clientArea"}, QFile::exists("info.dat"),
                                 m_sheets.reads == 2 && shownRecord() == 0,
                                 m_shell->frmAboutExists() && m_shell->about().isVisible(), !m_shell->form1Exists()};
            QStringList effects = {control};
            for (int effect = 0; effect < 6; ++effect)
                effects << (seen[effect] ? items[effect] : "");
            QCOMPARE(effects.join(' ').simplified(), control + ' ' + items[i % 6]);
            QVERIFY(messages().boxes.empty());
            cleanup();
        }
    }

    // The shown row, typing not yet stored included, as one line in Windows-1251 (whose
    // encoder is checked against Python's on its own); a second save appends the same line.
    void savedLine()
    {
        start({permian});
        QTest::keyClick(field(4), Qt::Key_End);
        typeText(field(4), QStringLiteral(" (P)"));

        run("save");
        run("Command3");

        const QByteArray line = encodeWindows1251(
            u" возраст 251,902 эон Фанерозойская эра Палеозойская период Пермская (P) эпоха Лопинский век  Чансинский "
            u"орг.мир  Вымирает ≈ 95 % видов —\r\n«великое» №3\r\nконец\r\n");
        QFile saved("info.dat");
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), line + line);
        QVERIFY(m_sheets.stores.empty() && messages().boxes.empty()); // saving stores nothing in the workbook
    }

    // Opened again and again, from the menu and the buttons: one window each, loaded once,
    // shown fixed, the main window still usable.
    void oneInstanceOfEachWindow()
    {
        Form1 &first = start({permian});
        for (const char *control : {"find", "Command1", "avtor", "Command5", "find", "avtor"})
            run(control);
        m_shell->showForm1();

        QCOMPARE(&form(), &first);
        QCOMPARE(m_sheets.reads, 1);
        QCOMPARE(m_shell->openWindowCount(), 3);
        for (QWidget *window : QList<QWidget *>{&m_shell->form2(), &m_shell->about()})
            QVERIFY(window->isVisible() && window->minimumSize() == window->maximumSize());
        QCOMPARE(m_shell->about().geometry().topLeft(), QPoint(156, 129)); // its place on the screen
        QVERIFY(first.isEnabled());
    }

    // Ending the program unloads the other windows first, then the main window, which stores
    // its typing as it goes; typing the workbook refuses, kept by the user, keeps the main
    // window and the program.
    void endingTheProgram()
    {
        start({permian});
        m_shell->showForm2();
        m_shell->showFrmAbout();
        typeText(field(1), QStringLiteral("1"));
        m_sheets.storeError = Error::make(ErrorCode::WriteFailed, QStringLiteral("зендра.xls"));

        QVERIFY(!m_shell->endProgram());
        QVERIFY(!m_shell->form2Exists() && !m_shell->frmAboutExists());
        QVERIFY(form().isVisible() && messages().boxes[0].question);
        QCOMPARE(m_ended->size(), 0);
        messages().answer = true; // let the typing go
        QVERIFY(m_shell->endProgram());
        QVERIFY(!m_shell->form1Exists());
        QCOMPARE(m_sheets.stores, QStringList({"0|0:1251,902", "0|0:1251,902"}));
        QCOMPARE(m_ended->size(), 1);
    }

    // The ages are the bases of the intervals: an age between two of them lies in the
    // interval of the older one, which reaches up to the younger one.
    void placeOnScale_data()
    {
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("record"); // -1: none offered
        QTest::addColumn<QString>("message");
        QTest::newRow("between two bases") << cretaceous << "141" << 0 << offer("141", "берриасский ярус (145–140 млн. лет)");
        QTest::newRow("the first of equal bases") << cretaceous << "139.5" << 1 << offer("139,5", "первый ярус (140–137,05 млн. лет)");
        QTest::newRow("on a base") << cretaceous << "140" << 1 << offer("140", "первый ярус (140–137,05 млн. лет)");
        QTest::newRow("a younger base later") << cretaceous << "136" << 4 << offer("136", "валанжинский ярус (137,05–135 млн. лет)");
        QTest::newRow("a text") << cretaceous << "'сто'" << -1 << notFound("'сто'");
        QTest::newRow("no number in the sheet") << QList<QStringList>{stage("около 140", "А"), stage("", "Б")} << "140"
                                                << -1 << notFound("140");
        QTest::newRow("eonothem") << precambrian << "4100" << 1 << offer("4100", "хадейскую эонотему (4567–4031 млн. лет)");
        QTest::newRow("system") << precambrian << "600" << 3 << offer("600", "эдиакарскую систему (635–300 млн. лет)");
        QTest::newRow("no unit named") << precambrian << "100" << 0 << offer("100", "интервал 300–0,0117 млн. лет");
        QTest::newRow("a noun; the present") << precambrian << "0" << 4 << offer("0", "отдел голоцен (0,0117–0 млн. лет)");
        QTest::newRow("older than the scale")
            << precambrian << "19500" << -1
            << notFound("19 500") + "\nВозраст 19 500 млн. лет больше, чем у самой древней границы шкалы (4567 млн. лет).";
    }
    void placeOnScale()
    {
        QFETCH(QList<QStringList>, rows);
        QFETCH(QString, typed);
        QFETCH(int, record);
        QFETCH(QString, message);
        const AgeSearch search(typed);
        const AgePlace place = search.placeOnScale(makeTable(rows));
        QCOMPARE(place.kind == AgePlace::Kind::Within ? place.record : -1, record);
        QCOMPARE(search.notFoundMessage(place), message);
        if (rows == cretaceous && record >= 0) { // the columns are found by name wherever they stand
            QList<QStringList> swapped;
            for (const QStringList &row : rows)
                swapped.append({row[5], row[0]});
            QCOMPARE(search.notFoundMessage(search.placeOnScale(makeTable(swapped, {"Ярус", "Возраст"}))), message);
        }
    }

    // The unit after «приходится на» stands in the accusative: a feminine rank's noun and
    // its adjectives change, a masculine rank's phrase stays.
    void unitInQuestion_data()
    {
        QTest::addColumn<QString>("rank");
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("unit");
        QTest::newRow("ярус, -ий") << "Ярус" << "Берриасский" << "берриасский ярус";
        QTest::newRow("ярус, -ой, with its noun") << "Ярус" << "Второй ярус" << "второй ярус";
        QTest::newRow("отдел, -ый") << "Отдел" << "Первый" << "первый отдел";
        QTest::newRow("отдел, a noun") << "Отдел" << "Голоцен" << "отдел голоцен";
        QTest::newRow("система, -ая") << "Система" << "Эдиакарская" << "эдиакарскую систему";
        QTest::newRow("система, with its noun") << "Система" << "Пермская система" << "пермскую систему";
        QTest::newRow("система, a noun") << "Система" << "Неоген" << "систему неоген";
        QTest::newRow("эратема, -ая") << "Эратема" << "Неоархейская" << "неоархейскую эратему";
        QTest::newRow("эратема, -яя, capitals") << "Эратема" << "Поздняя ЭРАТЕМА" << "позднюю ЭРАТЕМУ";
        QTest::newRow("эонотема, -ая") << "Эонотема" << "Хадейская" << "хадейскую эонотему";
        QTest::newRow("эонотема, -яя") << "Эонотема" << "Древняя" << "древнюю эонотему";
    }
    void unitInQuestion()
    {
        QFETCH(QString, rank);
        QFETCH(QString, cell);
        QFETCH(QString, unit);
        const AgeSearch search(QStringLiteral("50"));
        const QString message = search.notFoundMessage(search.placeOnScale(makeTable({{"100", cell}}, {"Возраст", rank})));
        QCOMPARE(message, offer("50", unit + " (100–0 млн. лет)"));
    }

    void search_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<qsizetype>("record"); // shown afterwards
        QTest::addColumn<QString>("message");  // the start of the one message; empty: none
        QTest::newRow("the first of two rows") << "140" << false << qsizetype(1) << "";
        QTest::newRow("the interval offered, Нет") << "141" << false << qsizetype(5) << offer("141", "берриасский ярус (145–140 млн. лет)");
        QTest::newRow("nothing to offer") << "-5" << true << qsizetype(5) << notFound("-5");
        QTest::newRow("no number") << "сто сорок" << true << qsizetype(5)
                                   << "Возраст вводится числом в млн. лет, например 140 или 2,58.";
    }
    // A number that the engine refuses is told in the engine's words.
    void refusalOfANumber()
    {
        QCOMPARE(AgeSearch(QStringLiteral("1,5")).refusalMessage(QStringLiteral("Нет столбца.")), QStringLiteral("Нет столбца."));
    }

    // The dialog closes when the main window shows a row; otherwise it stays with the text.
    // Every search starts from the first row, in a fresh dialog.
    void search()
    {
        QFETCH(QString, typed);
        QFETCH(bool, answer);
        QFETCH(qsizetype, record);
        QFETCH(QString, message);
        openSearch();
        messages().answer = answer;

        find(typed);

        QCOMPARE(shownRecord(), record);
        QCOMPARE(messages().boxes.size(), size_t(message.isEmpty() ? 0 : 1));
        const bool closed = message.isEmpty() || (answer && message.endsWith('?'));
        QCOMPARE(m_shell->form2Exists(), !closed);
        if (!message.isEmpty()) {
            const Box &box = messages().boxes[0];
            QVERIFY2(box.text.startsWith(message), qPrintable(box.text));
            QCOMPARE(box.question, message.endsWith('?'));
            QCOMPARE(box.icon == MessageBoxService::Icon::Critical, !message.startsWith("Интервал"));
        }
        if (closed) { // the next search in a fresh dialog
            run("Command1");
            QCOMPARE(ageField()->text(), QString());
        } else {
            QCOMPARE(ageField()->text(), typed);
        }
        QCOMPARE(m_ended->size(), 0);
    }

    // Typing in the main window that the workbook refuses is neither lost nor searched past.
    // An empty age is told while the windows are open; then every window is unloaded, the
    // main window storing its typing as it goes.
    void typingDuringASearch()
    {
        openSearch();
        typeText(field(6), QStringLiteral("(правка) "));
        m_sheets.storeError = Error::make(ErrorCode::WriteFailed, QStringLiteral("зендра.xls"));
        find(QStringLiteral("140"));
        QCOMPARE(messages().texts, QStringList{m_sheets.storeError->message});
        QCOMPARE(shownRecord(), 5);
        QCOMPARE(field(6)->text(), QStringLiteral("(правка) Готеривский"));
        QVERIFY(m_shell->form2Exists());

        m_sheets.storeError.reset();
        int openWhileTold = -1;
        messages().whileOpen = [&] { openWhileTold = m_shell->openWindowCount(); };
        ageField()->clear();
        find(QString());
        QCOMPARE(messages().texts.mid(1), QStringList{"Ошибка ввода! Приложение будет закрыто!"});
        QCOMPARE(messages().boxes[1].caption, QStringLiteral("сообщение"));
        QCOMPARE(openWhileTold, 2);
        QCOMPARE(m_ended->size(), 1);
        QCOMPARE(m_sheets.stores, QStringList(2, "5|5:(правка) Готеривский"));
    }

    // A main window closed before the search is loaded and shown again with the row; one
    // gone while the question is open is left alone.
    void searchWithoutTheMainWindow()
    {
        openSearch();
        QVERIFY(form().close());
        find(QStringLiteral("140"));
        QVERIFY(m_shell->form1Exists() && form().isVisible());
        QCOMPARE(shownRecord(), 1);

        m_shell->showForm2();
        messages().answer = true;
        messages().whileOpen = [this] { delete &form(); };
        find(QStringLiteral("141"));
        QVERIFY(!m_shell->form1Exists() && m_shell->form2Exists());
        QCOMPARE(m_ended->size(), 0);
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"

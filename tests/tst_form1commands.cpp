// The main window's commands: each from its menu item and its button; the line saved to
// info.dat byte for byte, and what a failed save leaves; re-reading; printing; exit and
// the two secondary windows through the shell.

#include "datacontrol.h"
#include "fakeplatform.h"
#include "pagecheck.h"
#include "form1.h"
#include "form2.h"
#include "frmabout.h"
#include "realplatform.h"
#include "shell.h"
#include "testsupport.h"
#include "typing.h"
#include "windowprint.h"

#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace orbelant;
using namespace testsupport;

namespace {

enum class Command { Search, Print, Save, Refresh, About, Exit };

// The menu item and the button of each command.
struct CommandControls {
    const char *menuItem;
    const char *button;
};

CommandControls controlsOf(Command command)
{
    switch (command) {
    case Command::Search: return {"find", "Command1"};
    case Command::Print: return {"print", "Command2"};
    case Command::Save: return {"save", "Command3"};
    case Command::Refresh: return {"refresh", "Command4"};
    case Command::About: return {"avtor", "Command5"};
    case Command::Exit: return {"exit", "Command6"};
    }
    return {};
}

void runCommand(Form1 &form, Command command, bool fromMenu)
{
    const CommandControls controls = controlsOf(command);
    if (fromMenu)
        form.findChild<QAction *>(QLatin1String(controls.menuItem))->trigger();
    else
        QTest::mouseClick(form.findChild<QPushButton *>(QLatin1String(controls.button)), Qt::LeftButton);
}

// Rows of the time scale used below, Возраст to Органический мир.
const QStringList berriasian = {"145", "Фанерозойская", "Мезозойская", "Меловая", "Нижний", "Берриасский",
                                "Первые цветковые растения."};
const QStringList valanginian = {"139,8", "Фанерозойская", "Мезозойская", "Меловая", "Нижний", "Валанжинский",
                                 "Расцвет аммонитов."};
const QStringList hauterivian = {"132,6", "Фанерозойская", "Мезозойская", "Меловая", "Нижний", "Готеривский",
                                 ""};

// Runs a system command; false when it could not be run or failed.
bool runSucceeds(const QString &program, const QStringList &arguments)
{
    return run(program, arguments).exitCode == 0;
}

// The field shows a row with its cursor at the start; typing goes after the text.
void typeAtEnd(QLineEdit *field, const QString &text)
{
    QTest::keyClick(field, Qt::Key_End);
    typeText(field, text);
}

QByteArray fileBytes(const QString &path)
{
    return readAll(path);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestForm1Commands : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandRunsFromMenuAndButton_data();
    void commandRunsFromMenuAndButton();

    void savedLineBytes_data();
    void savedLineBytes();
    void savesAppendOneLineEach_data();
    void savesAppendOneLineEach();
    void failedSaveLeavesNoPartialLine_data();
    void failedSaveLeavesNoPartialLine();

    void refreshShowsTheFirstRowAgain_data();
    void refreshShowsTheFirstRowAgain();

    void printSendsTheClientArea();
    void refusedPrintIsReported();
    void printedPdfShowsTheRowAtItsSize();

    void secondaryWindowShownOnce_data();
    void secondaryWindowShownOnce();
    void exitLeavesAnOpenWindowRunning_data();
    void exitLeavesAnOpenWindowRunning();
    void endProgramClosesEveryWindow();

private:
    // A main window on `rows`, writing info.dat through the real text-file service.
    Form1 &openForm(const QList<QStringList> &rows);
    QStringList fieldTexts() const;
    QString exportPath() const { return QDir::current().absoluteFilePath(QStringLiteral("info.dat")); }
    // A tmpfs of `kilobytes` mounted in the test folder and made current; false when
    // this machine does not let the test mount one.
    bool mountSmallDisk(int kilobytes);

    FakePlatform m_platform;
    AppendingTextFile m_textFile{m_platform.codePage};
    FakeSheetAccess m_sheets;
    FakeWindowRequests m_windows;
    QPointer<Form1> m_form;
    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_previousFolder;
    QString m_mountPoint;
};

void TestForm1Commands::init()
{
    m_platform.messages = FakeMessageBox();
    m_platform.printer = FakePrinter();
    m_windows.shown.clear();
    m_sheets = FakeSheetAccess();
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    m_previousFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_folder->path()));
}

void TestForm1Commands::cleanup()
{
    delete m_form;
    QDir::setCurrent(m_previousFolder);
    if (!m_mountPoint.isEmpty()) {
        runSucceeds(QStringLiteral("umount"), {m_mountPoint});
        m_mountPoint.clear();
    }
    m_folder.reset();
}

Form1 &TestForm1Commands::openForm(const QList<QStringList> &rows)
{
    m_sheets.sheet = makeTable(timeScaleColumns(), rows);
    PlatformServices services = m_platform.services();
    PlatformServices withRealFile{services.messages, services.printer, m_textFile,
                                  services.codePage, services.files,   services.processes};
    m_form = new Form1(withRealFile, m_windows, m_sheets);
    m_form->load();
    m_form->show();
    return *m_form;
}

QStringList TestForm1Commands::fieldTexts() const
{
    QStringList texts;
    for (int i = 1; i <= 6; ++i)
        texts.append(m_form->findChild<QLineEdit *>(QStringLiteral("Text%1").arg(i))->text());
    texts.append(m_form->findChild<QPlainTextEdit *>(QStringLiteral("Text7"))->toPlainText());
    return texts;
}

bool TestForm1Commands::mountSmallDisk(int kilobytes)
{
    const QString point = QDir(m_folder->path()).absoluteFilePath(QStringLiteral("disk"));
    if (!QDir().mkpath(point))
        return false;
    if (!runSucceeds(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=%1k").arg(kilobytes), QStringLiteral("tmpfs"), point}))
        return false;
    m_mountPoint = point;
    return QDir::setCurrent(point);
}

void TestForm1Commands::commandRunsFromMenuAndButton_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<bool>("fromMenu");
    const struct {
        Command command;
        const char *name;
    } commands[] = {{Command::Search, "search"}, {Command::Print, "print"},  {Command::Save, "save"},
                    {Command::Refresh, "refresh"}, {Command::About, "about"}, {Command::Exit, "exit"}};
    for (const auto &command : commands) {
        const CommandControls controls = controlsOf(command.command);
        QTest::addRow("%s: menu item %s", command.name, controls.menuItem) << command.command << true;
        QTest::addRow("%s: button %s", command.name, controls.button) << command.command << false;
    }
}

// Each control runs its own command and nothing else.
void TestForm1Commands::commandRunsFromMenuAndButton()
{
    QFETCH(Command, command);
    QFETCH(bool, fromMenu);
    Form1 &form = openForm({berriasian, valanginian});
    QVERIFY(form.Data1().MoveNext());
    QSignalSpy unloaded(&form, &Form1::unloaded);

    runCommand(form, command, fromMenu);

    const QStringList expectedWindows = command == Command::Search  ? QStringList{"Form2"}
                                        : command == Command::About ? QStringList{"frmAbout"}
                                                                    : QStringList{};
    QCOMPARE(m_windows.shown, expectedWindows);
    QCOMPARE(m_platform.printer.pages.size(), command == Command::Print ? 1 : 0);
    QCOMPARE(QFileInfo::exists(exportPath()), command == Command::Save);
    QCOMPARE(m_sheets.reads, command == Command::Refresh ? 2 : 1);
    QCOMPARE(unloaded.size(), command == Command::Exit ? 1 : 0);
    if (command != Command::Exit)
        QCOMPARE(form.Data1().currentRecord(), command == Command::Refresh ? 0 : 1);
    QVERIFY(m_platform.messages.shown.isEmpty());
}

void TestForm1Commands::savedLineBytes_data()
{
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<QString>("typedIntoText4");
    QTest::addColumn<QByteArray>("line");

    // " возраст 145 эон Фанерозойская эра Мезозойская период Меловая эпоха Нижний
    //  век  Берриасский орг.мир  Первые цветковые растения." CR LF
    QTest::newRow("labels before every field") << berriasian << QString()
        << QByteArray(" \xE2\xEE\xE7\xF0\xE0\xF1\xF2 145 \xFD\xEE\xED \xD4\xE0\xED\xE5\xF0\xEE\xE7\xEE\xE9\xF1\xEA"
                      "\xE0\xFF \xFD\xF0\xE0 \xCC\xE5\xE7\xEE\xE7\xEE\xE9\xF1\xEA\xE0\xFF \xEF\xE5\xF0\xE8\xEE\xE4 "
                      "\xCC\xE5\xEB\xEE\xE2\xE0\xFF \xFD\xEF\xEE\xF5\xE0 \xCD\xE8\xE6\xED\xE8\xE9 \xE2\xE5\xEA  "
                      "\xC1\xE5\xF0\xF0\xE8\xE0\xF1\xF1\xEA\xE8\xE9 \xEE\xF0\xE3.\xEC\xE8\xF0  \xCF\xE5\xF0\xE2\xFB"
                      "\xE5 \xF6\xE2\xE5\xF2\xEA\xEE\xE2\xFB\xE5 \xF0\xE0\xF1\xF2\xE5\xED\xE8\xFF.\r\n");

    // " возраст  эон  эра  период  эпоха  век   орг.мир  " CR LF
    QTest::newRow("empty row: labels back to back") << QStringList{"", "", "", "", "", "", ""} << QString()
        << QByteArray(" \xE2\xEE\xE7\xF0\xE0\xF1\xF2  \xFD\xEE\xED  \xFD\xF0\xE0  \xEF\xE5\xF0\xE8\xEE\xE4  "
                      "\xFD\xEF\xEE\xF5\xE0  \xE2\xE5\xEA   \xEE\xF0\xE3.\xEC\xE8\xF0  \r\n");

    // … орг.мир  Последние аммониты. CR LF Вымирают динозавры. CR LF
    const QByteArray maastrichtian(
        " \xE2\xEE\xE7\xF0\xE0\xF1\xF2 66 \xFD\xEE\xED \xD4\xE0\xED\xE5\xF0\xEE\xE7\xEE\xE9\xF1\xEA\xE0\xFF \xFD"
        "\xF0\xE0 \xCC\xE5\xE7\xEE\xE7\xEE\xE9\xF1\xEA\xE0\xFF \xEF\xE5\xF0\xE8\xEE\xE4 \xCC\xE5\xEB\xEE\xE2\xE0"
        "\xFF \xFD\xEF\xEE\xF5\xE0 \xC2\xE5\xF0\xF5\xED\xE8\xE9 \xE2\xE5\xEA  \xCC\xE0\xE0\xF1\xF2\xF0\xE8\xF5\xF2"
        "\xF1\xEA\xE8\xE9 \xEE\xF0\xE3.\xEC\xE8\xF0  \xCF\xEE\xF1\xEB\xE5\xE4\xED\xE8\xE5 \xE0\xEC\xEC\xEE\xED\xE8"
        "\xF2\xFB.\r\n\xC2\xFB\xEC\xE8\xF0\xE0\xFE\xF2 \xE4\xE8\xED\xEE\xE7\xE0\xE2\xF0\xFB.\r\n");
    const QStringList maastrichtianRow = {"66", "Фанерозойская", "Мезозойская", "Меловая", "Верхний",
                                          "Маастрихтский", "Последние аммониты.\nВымирают динозавры."};
    QTest::newRow("two-line note: its break written as CR LF") << maastrichtianRow << QString() << maastrichtian;
    QStringList withCrLf = maastrichtianRow;
    withCrLf[6] = QStringLiteral("Последние аммониты.\r\nВымирают динозавры.");
    QTest::newRow("note with CR LF in the cell: no doubled CR") << withCrLf << QString() << maastrichtian;

    // Greek, CJK and an emoji have no byte: one '?' each; № and ё have theirs.
    QTest::newRow("characters outside Windows-1251")
        << QStringList{"252", "Фанерозойская", "Палеозойская", "Пермская", "Лопинский", "Чансинский",
                       "Гинкго 銀杏 😀, № и ё; β"}
        << QString()
        << QByteArray(" \xE2\xEE\xE7\xF0\xE0\xF1\xF2 252 \xFD\xEE\xED \xD4\xE0\xED\xE5\xF0\xEE\xE7\xEE\xE9\xF1\xEA"
                      "\xE0\xFF \xFD\xF0\xE0 \xCF\xE0\xEB\xE5\xEE\xE7\xEE\xE9\xF1\xEA\xE0\xFF \xEF\xE5\xF0\xE8\xEE"
                      "\xE4 \xCF\xE5\xF0\xEC\xF1\xEA\xE0\xFF \xFD\xEF\xEE\xF5\xE0 \xCB\xEE\xEF\xE8\xED\xF1\xEA\xE8"
                      "\xE9 \xE2\xE5\xEA  \xD7\xE0\xED\xF1\xE8\xED\xF1\xEA\xE8\xE9 \xEE\xF0\xE3.\xEC\xE8\xF0  \xC3"
                      "\xE8\xED\xEA\xE3\xEE ?? ?, \xB9 \xE8 \xB8; ?\r\n");

    // Text4 shows "Меловая (K)" though the workbook still holds "Меловая".
    QTest::newRow("typing not yet stored") << berriasian << QStringLiteral(" (K)")
        << QByteArray(" \xE2\xEE\xE7\xF0\xE0\xF1\xF2 145 \xFD\xEE\xED \xD4\xE0\xED\xE5\xF0\xEE\xE7\xEE\xE9\xF1\xEA"
                      "\xE0\xFF \xFD\xF0\xE0 \xCC\xE5\xE7\xEE\xE7\xEE\xE9\xF1\xEA\xE0\xFF \xEF\xE5\xF0\xE8\xEE\xE4 "
                      "\xCC\xE5\xEB\xEE\xE2\xE0\xFF (K) \xFD\xEF\xEE\xF5\xE0 \xCD\xE8\xE6\xED\xE8\xE9 \xE2\xE5\xEA  "
                      "\xC1\xE5\xF0\xF0\xE8\xE0\xF1\xF1\xEA\xE8\xE9 \xEE\xF0\xE3.\xEC\xE8\xF0  \xCF\xE5\xF0\xE2\xFB"
                      "\xE5 \xF6\xE2\xE5\xF2\xEA\xEE\xE2\xFB\xE5 \xF0\xE0\xF1\xF2\xE5\xED\xE8\xFF.\r\n");
}

// The first save in a folder without info.dat creates it holding exactly the line.
void TestForm1Commands::savedLineBytes()
{
    QFETCH(QStringList, row);
    QFETCH(QString, typedIntoText4);
    QFETCH(QByteArray, line);
    Form1 &form = openForm({row});
    if (!typedIntoText4.isEmpty())
        typeAtEnd(form.findChild<QLineEdit *>(QStringLiteral("Text4")), typedIntoText4);

    runCommand(form, Command::Save, false);

    QCOMPARE(fileBytes(exportPath()), line);
    QVERIFY(m_sheets.stores.empty()); // saving stores nothing in the workbook
    QVERIFY(m_platform.messages.shown.isEmpty());
}

void TestForm1Commands::savesAppendOneLineEach_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<bool>("firstFromMenu");
    QTest::newRow("no info.dat yet, menu then button") << QByteArray() << true;
    QTest::newRow("no info.dat yet, button then menu") << QByteArray() << false;
    QTest::newRow("earlier lines kept byte for byte") << QByteArray("earlier\r\nlast line without end") << true;
}

// Two saves of one row give two identical lines after whatever the file held.
void TestForm1Commands::savesAppendOneLineEach()
{
    QFETCH(QByteArray, existing);
    QFETCH(bool, firstFromMenu);
    if (!existing.isEmpty())
        QVERIFY(writeFile(exportPath(), existing));
    Form1 &form = openForm({berriasian, valanginian});
    QVERIFY(form.Data1().MoveNext());
    const QStringList shown = fieldTexts();

    runCommand(form, Command::Save, firstFromMenu);
    const QByteArray afterFirst = fileBytes(exportPath());
    runCommand(form, Command::Save, !firstFromMenu);

    const QByteArray line = afterFirst.mid(existing.size());
    QVERIFY(line.startsWith(" \xE2\xEE\xE7\xF0\xE0\xF1\xF2 139,8 ")); // " возраст 139,8 "
    QVERIFY(line.endsWith("\xE0\xEC\xEC\xEE\xED\xE8\xF2\xEE\xE2.\r\n")); // "аммонитов." CR LF
    QCOMPARE(line.count("\r\n"), 1);
    QCOMPARE(fileBytes(exportPath()), existing + line + line);
    QCOMPARE(fieldTexts(), shown); // no feedback: the window stays as it was
    QCOMPARE(form.Data1().currentRecord(), 1);
    QVERIFY(m_platform.messages.shown.isEmpty());
}

enum class SaveFailure { DirectoryInTheWay, ReadOnlyDisk, DiskFullMidLine };

void TestForm1Commands::failedSaveLeavesNoPartialLine_data()
{
    QTest::addColumn<SaveFailure>("failure");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a folder named info.dat") << SaveFailure::DirectoryInTheWay
                                             << QStringLiteral("на месте файла находится папка");
    QTest::newRow("read-only disk") << SaveFailure::ReadOnlyDisk << QStringLiteral("диск доступен только для чтения");
    QTest::newRow("disk full in the middle of the line") << SaveFailure::DiskFullMidLine
                                                         << QStringLiteral("на диске нет места");
}

// The file keeps its bytes, the user is told which file and why, the window stays, and
// the next save works once the cause is gone.
void TestForm1Commands::failedSaveLeavesNoPartialLine()
{
    QFETCH(SaveFailure, failure);
    QFETCH(QString, reason);

    QByteArray existing;
    std::function<void()> removeCause;
    switch (failure) {
    case SaveFailure::DirectoryInTheWay:
        QVERIFY(QDir().mkdir(QStringLiteral("info.dat")));
        removeCause = [] { QDir().rmdir(QStringLiteral("info.dat")); };
        break;
    case SaveFailure::ReadOnlyDisk:
        if (!mountSmallDisk(64))
            QSKIP("mounting a tmpfs needs root");
        existing = "earlier line\r\n";
        QVERIFY(writeFile(exportPath(), existing));
        QVERIFY(runSucceeds(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), m_mountPoint}));
        removeCause = [this] {
            runSucceeds(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,rw"), m_mountPoint});
        };
        break;
    case SaveFailure::DiskFullMidLine: {
        // Two pages: info.dat fills the first but for a few bytes, a filler takes the
        // second, so the line starts to go out and then finds no room.
        if (!mountSmallDisk(8))
            QSKIP("mounting a tmpfs needs root");
        existing = QByteArray(4080, 'x') + "\r\n";
        QVERIFY(writeFile(exportPath(), existing));
        QFile filler(QStringLiteral("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(512, 'f')) == 512) {
        }
        filler.close();
        removeCause = [] { QFile::remove(QStringLiteral("filler")); };
        break;
    }
    }

    Form1 &form = openForm({berriasian});
    const QStringList shown = fieldTexts();
    runCommand(form, Command::Save, true);

    QCOMPARE(m_platform.messages.shown.size(), 1);
    const QString message = m_platform.messages.shown.first();
    QVERIFY2(message.contains(exportPath()), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QCOMPARE(QFileInfo(exportPath()).isFile() ? fileBytes(exportPath()) : QByteArray(), existing);
    QCOMPARE(fieldTexts(), shown);

    removeCause();
    runCommand(form, Command::Save, false);
    const QByteArray after = fileBytes(exportPath());
    QVERIFY(after.startsWith(existing + " \xE2\xEE\xE7\xF0\xE0\xF1\xF2 145 "));
    QCOMPARE(after.count("\r\n"), existing.count("\r\n") + 1);
    QVERIFY(after.endsWith("\xF0\xE0\xF1\xF2\xE5\xED\xE8\xFF.\r\n")); // "растения." CR LF
    QCOMPARE(m_platform.messages.shown.size(), 1);
}

void TestForm1Commands::refreshShowsTheFirstRowAgain_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::addColumn<QString>("typed");
    QTest::newRow("menu item, nothing typed") << true << QString();
    QTest::newRow("button, nothing typed") << false << QString();
    QTest::newRow("menu item, typing stored first") << true << QStringLiteral(" ярус");
    QTest::newRow("button, typing stored first") << false << QStringLiteral(" ярус");
}

void TestForm1Commands::refreshShowsTheFirstRowAgain()
{
    QFETCH(bool, fromMenu);
    QFETCH(QString, typed);
    Form1 &form = openForm({berriasian, valanginian, hauterivian});
    QVERIFY(form.Data1().MoveLast());
    if (!typed.isEmpty())
        typeAtEnd(form.findChild<QLineEdit *>(QStringLiteral("Text6")), typed);
    m_sheets.sheet->setCell(0, 5, Cell::makeText(QStringLiteral("Берриасский ярус"))); // changed on disk

    runCommand(form, Command::Refresh, fromMenu);

    QCOMPARE(m_sheets.reads, 2);
    QCOMPARE(form.Data1().currentRecord(), 0);
    QStringList expected = berriasian;
    expected[5] = QStringLiteral("Берриасский ярус");
    QCOMPARE(fieldTexts(), expected);
    QCOMPARE(m_sheets.stores.size(), size_t(typed.isEmpty() ? 0 : 1));
    if (!typed.isEmpty()) {
        QCOMPARE(m_sheets.stores[0].record, 2);
        QCOMPARE(m_sheets.stores[0].edits[0].text, QStringLiteral("Готеривский ярус"));
    }
    QVERIFY(m_platform.messages.shown.isEmpty());
}

// The printer is given the client area, not the window with its menu bar, and the window
// does not change.
void TestForm1Commands::printSendsTheClientArea()
{
    Form1 &form = openForm({berriasian, valanginian});
    QVERIFY(form.Data1().MoveNext());
    const QImage before = form.grab().toImage();

    runCommand(form, Command::Print, true);
    runCommand(form, Command::Print, false);

    QCOMPARE(m_platform.printer.printedWidgets, QStringList({"clientArea", "clientArea"}));
    QCOMPARE(m_platform.printer.pages.size(), 2);
    QCOMPARE(m_platform.printer.pages[0].size(), QSize(407, 602));
    QCOMPARE(m_platform.printer.pages[1], m_platform.printer.pages[0]);
    QCOMPARE(form.grab().toImage(), before);
    QCOMPARE(form.Data1().currentRecord(), 1);
    QVERIFY(m_platform.messages.shown.isEmpty());
}

void TestForm1Commands::refusedPrintIsReported()
{
    Form1 &form = openForm({berriasian});
    m_platform.printer.refusal = QStringLiteral("Принтер по умолчанию не установлен. Форма не напечатана.");

    runCommand(form, Command::Print, false);

    QCOMPARE(m_platform.messages.shown, QStringList{*m_platform.printer.refusal});
    QVERIFY(form.isVisible());
}

// The real print path into a PDF file: one page holding the client area at its physical
// size at the top left of the printable area, showing the current row. Qt prints widgets
// as a picture, so the page is compared with the window's image rather than searched for
// text.
void TestForm1Commands::printedPdfShowsTheRowAtItsSize()
{
    if (run(QStringLiteral("pdftoppm"), {QStringLiteral("-v")}).exitCode != 0)
        QSKIP("pdftoppm (poppler-utils) is not installed");
    Form1 &form = openForm({berriasian, valanginian});
    QVERIFY(form.Data1().MoveNext());
    QWidget &clientArea = *form.centralWidget();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QDir::current().absoluteFilePath(QStringLiteral("form.pdf")));

    QVERIFY(printClientArea(clientArea, printer));

    const ProcessResult info = run(QStringLiteral("pdfinfo"), {printer.outputFileName()});
    QVERIFY2(QString::fromUtf8(info.out).contains(QRegularExpression(QStringLiteral("\\nPages: +1\\n"))),
             info.out.constData());
    // The picture is drawn at 300 dots per inch; the page is looked at in the same dots.
    const int dotsPerInch = 300;
    QVERIFY(runSucceeds(QStringLiteral("pdftoppm"),
                        {QStringLiteral("-r"), QString::number(dotsPerInch), QStringLiteral("-png"),
                         QStringLiteral("-singlefile"), printer.outputFileName(), QStringLiteral("page")}));
    const QImage page = QImage(QStringLiteral("page.png")).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!page.isNull());
    const QPoint origin = printer.pageLayout().paintRectPixels(dotsPerInch).topLeft();

    const QImage shown = printedLook(clientArea, dotsPerInch);
    QVERIFY(form.Data1().MovePrevious());
    const QImage otherRow = printedLook(clientArea, dotsPerInch);
    const QString problem = pageProblem(page, origin, dotsPerInch, shown, otherRow,
                                        fieldRects(clientArea, {"Text1", "Text2", "Text3", "Text4", "Text5", "Text6", "Text7"}));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestForm1Commands::secondaryWindowShownOnce_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("clientSize");
    QTest::addColumn<bool>("toolWindow");
    QTest::newRow("search dialog Form2") << Command::Search << QStringLiteral("Абсолютный возраст") << QSize(331, 77)
                                         << true;
    QTest::newRow("About box frmAbout") << Command::About << QStringLiteral("About Орбелант") << QSize(484, 246)
                                        << false;
}

// Menu item, button and menu item again: one window, shown modeless without an owner.
void TestForm1Commands::secondaryWindowShownOnce()
{
    QFETCH(Command, command);
    QFETCH(QString, caption);
    QFETCH(QSize, clientSize);
    QFETCH(bool, toolWindow);
    FakeSheetAccess sheets;
    sheets.sheet = makeTable(timeScaleColumns(), {berriasian});
    Shell shell(m_platform.services(), sheets);
    shell.start();

    for (const bool fromMenu : {true, false, true})
        runCommand(shell.form1(), command, fromMenu);

    QCOMPARE(shell.openWindowCount(), 2);
    QWidget &window = command == Command::Search ? static_cast<QWidget &>(shell.form2())
                                                 : static_cast<QWidget &>(shell.about());
    QVERIFY(window.isVisible());
    QVERIFY(!window.isModal());
    QVERIFY(window.parentWidget() == nullptr);
    QCOMPARE(window.windowTitle(), caption);
    QCOMPARE(window.size(), clientSize);
    QCOMPARE(window.minimumSize(), clientSize); // fixed
    QCOMPARE(window.maximumSize(), clientSize);
    QCOMPARE(window.windowType() == Qt::Tool, toolWindow);
    QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(shell.form1().isEnabled()); // the main window stays usable
}

void TestForm1Commands::exitLeavesAnOpenWindowRunning_data()
{
    QTest::addColumn<Command>("opened");
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("About box open, exit menu item") << Command::About << true;
    QTest::newRow("About box open, Command6 button") << Command::About << false;
    QTest::newRow("search dialog open, exit menu item") << Command::Search << true;
}

// Exit unloads the main window only; the program ends when the other window closes.
void TestForm1Commands::exitLeavesAnOpenWindowRunning()
{
    QFETCH(Command, opened);
    QFETCH(bool, fromMenu);
    FakeSheetAccess sheets;
    sheets.sheet = makeTable(timeScaleColumns(), {berriasian});
    Shell shell(m_platform.services(), sheets);
    QSignalSpy ended(&shell, &Shell::lastWindowClosed);
    shell.start();
    runCommand(shell.form1(), opened, true);
    QPointer<QWidget> other = opened == Command::About ? static_cast<QWidget *>(&shell.about())
                                                        : static_cast<QWidget *>(&shell.form2());

    runCommand(shell.form1(), Command::Exit, fromMenu);

    QVERIFY(!shell.form1Exists());
    QVERIFY(other && other->isVisible());
    QCOMPARE(ended.size(), 0);
    QCOMPARE(shell.openWindowCount(), 1);

    QVERIFY(other->close());
    QCOMPARE(ended.size(), 1);
    QCOMPARE(shell.openWindowCount(), 0);
}

void TestForm1Commands::endProgramClosesEveryWindow()
{
    FakeSheetAccess sheets;
    sheets.sheet = makeTable(timeScaleColumns(), {berriasian});
    Shell shell(m_platform.services(), sheets);
    QSignalSpy ended(&shell, &Shell::lastWindowClosed);
    shell.start();
    shell.showForm2();
    shell.showFrmAbout();
    QCOMPARE(shell.openWindowCount(), 3);

    QVERIFY(shell.endProgram());

    QVERIFY(!shell.form1Exists() && !shell.form2Exists() && !shell.frmAboutExists());
    QCOMPARE(ended.size(), 1);
}

QTEST_MAIN(TestForm1Commands)
#include "tst_form1commands.moc"

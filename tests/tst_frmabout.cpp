// The About box: its captions after every load, the ways to close it, its layout and texts,
// and the System Info button over the services the box was given.

#include "dialogfont.h"
#include "fakeplatform.h"
#include "frmabout.h"
#include "shell.h"
#include "sysinfoservices.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <map>

using namespace orbelant;
using namespace testsupport;

namespace {

const QString unavailable = QStringLiteral("System Information Is Unavailable At This Time");

// Keys holding string values; records which handles are still open.
class FakeRegistry final : public sysinfo::Registry {
public:
    sysinfo::RegistryStatus openKey(std::uint32_t root, const std::string &subKey, std::uint32_t,
                                    sysinfo::KeyHandle &handle) override
    {
        if (root != sysinfo::hkeyLocalMachine || !keys.contains(subKey))
            return sysinfo::registryNotFound;
        handle = ++lastHandle;
        openHandles[handle] = subKey;
        return sysinfo::registrySuccess;
    }
    sysinfo::RegistryStatus queryValue(sysinfo::KeyHandle handle, const std::string &valueName, std::uint32_t &type,
                                       std::span<char> buffer, std::uint32_t &size) override
    {
        const auto key = openHandles.find(handle);
        if (key == openHandles.end())
            return sysinfo::registryInvalidHandle;
        const auto &values = keys.at(key->second);
        const auto value = values.find(valueName);
        if (value == values.end())
            return sysinfo::registryNotFound;
        const std::string stored = value->second + '\0';
        if (stored.size() > size || stored.size() > buffer.size())
            return sysinfo::registryMoreData;
        std::memcpy(buffer.data(), stored.data(), stored.size());
        type = sysinfo::regSz;
        size = static_cast<std::uint32_t>(stored.size());
        return sysinfo::registrySuccess;
    }
    sysinfo::RegistryStatus closeKey(sysinfo::KeyHandle handle) override
    {
        return openHandles.erase(handle) == 1 ? sysinfo::registrySuccess : sysinfo::registryInvalidHandle;
    }

    std::map<std::string, std::map<std::string, std::string>> keys; // key → value name → text
    std::map<sysinfo::KeyHandle, std::string> openHandles;
    sysinfo::KeyHandle lastHandle = 0;
};

// Keeps the caption and icon of every message, not only its text.
class RecordingMessageBox final : public MessageBoxService {
public:
    void show(const QString &text, Icon icon, const QString &caption) override
    {
        shown.append(text);
        noIconAndDefaultCaption.append(icon == Icon::None && caption.isEmpty());
    }
    bool ask(const QString &, const QString &) override { return false; }
    QStringList shown;
    QList<bool> noIconAndDefaultCaption;
};

class RefusableProcessStarter final : public ProcessStarter {
public:
    ServiceResult start(const QString &path) override
    {
        requested.append(path);
        if (refuse)
            return std::unexpected(QStringLiteral("Не удалось запустить программу «%1».").arg(path));
        return {};
    }
    QStringList requested;
    bool refuse = false;
};

// The box on its own, with services a test can look into.
struct BoxUnderTest {
    FakePlatform platform;
    RecordingMessageBox messages;
    RefusableProcessStarter processes;
    FakeRegistry *registry = nullptr; // owned by the box
    QPointer<frmAbout> box;

    explicit BoxUnderTest(ProgramVersion version = programVersion)
    {
        auto ownRegistry = std::make_unique<FakeRegistry>();
        registry = ownRegistry.get();
        const PlatformServices services{messages, platform.printer, platform.textFile, platform.codePage,
                                        platform.files, processes};
        box = new frmAbout(services, std::move(ownRegistry), version);
        box->load();
    }
    ~BoxUnderTest() { delete box.data(); }

    template <typename Widget>
    Widget *child(const char *name) const
    {
        return box->findChild<Widget *>(QString::fromLatin1(name));
    }
    QString caption(const char *label) const { return child<QLabel>(label)->text(); }

    // Shown, active, with the keyboard focus where a person starts.
    bool showActive()
    {
        box->show();
        QApplication::setActiveWindow(box);
        return QTest::qWaitForWindowActive(box);
    }
};

} // namespace

class TestFrmAbout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void captionsAfterLoad_data();
    void captionsAfterLoad();
    void reopenedBoxIsLoadedAfresh_data();
    void reopenedBoxIsLoadedAfresh();
    void systemInfoButtonRunsTheLauncher_data();
    void systemInfoButtonRunsTheLauncher();
    void launcherUsesTheBoxServices_data();
    void launcherUsesTheBoxServices();

    void fixedDialogAtItsPlace();
    void controlGeometry_data();
    void controlGeometry();
    void textsFitTheirBoxes_data();
    void textsFitTheirBoxes();
    void disclaimerNamesTheCyrillicDrive();
    void textsBelongToWindows1251();
    void tabOrder();
    void accessibleNames_data();
    void accessibleNames();
};

void TestFrmAbout::initTestCase()
{
    // The layout is drawn for the program's dialog font, as the program sets it.
    QApplication::setFont(dialogFont(QApplication::font()));
}

void TestFrmAbout::captionsAfterLoad_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("versionCaption");
    QTest::newRow("the program's version") << 1 << 0 << 0 << QStringLiteral("Version 1.0.0");
    QTest::newRow("two-digit minor") << 1 << 10 << 0 << QStringLiteral("Version 1.10.0");
    QTest::newRow("two- and three-digit parts") << 12 << 3 << 405 << QStringLiteral("Version 12.3.405");
    QTest::newRow("zero major, two-digit revision") << 0 << 9 << 10 << QStringLiteral("Version 0.9.10");
}

void TestFrmAbout::captionsAfterLoad()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, versionCaption);
    BoxUnderTest test(ProgramVersion{major, minor, revision});

    QCOMPARE(test.box->windowTitle(), QStringLiteral("About Орбелант"));
    QCOMPARE(test.caption("lblVersion"), versionCaption);
    QCOMPARE(test.caption("lblTitle"), QStringLiteral("Орбелант"));
}

void TestFrmAbout::reopenedBoxIsLoadedAfresh_data()
{
    QTest::addColumn<QString>("focused"); // the button with the keyboard focus; empty: none
    QTest::addColumn<int>("key");         // 0: the focused button is clicked; -1: the close box
    QTest::newRow("OK clicked") << QStringLiteral("cmdOK") << 0;
    QTest::newRow("Enter on OK") << QStringLiteral("cmdOK") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter on OK") << QStringLiteral("cmdOK") << int(Qt::Key_Enter);
    QTest::newRow("Esc on OK") << QStringLiteral("cmdOK") << int(Qt::Key_Escape);
    QTest::newRow("Esc while System Info has the focus") << QStringLiteral("cmdSysInfo") << int(Qt::Key_Escape);
    QTest::newRow("Enter with no control focused") << QString() << int(Qt::Key_Return);
    QTest::newRow("close box") << QString() << -1;
}

// The box is opened through the shell, closed one way or another, and opened again: the
// second box is a new instance whose captions were set again.
void TestFrmAbout::reopenedBoxIsLoadedAfresh()
{
    QFETCH(QString, focused);
    QFETCH(int, key);
    FakePlatform platform;
    FakeSheetAccess sheets;
    Shell shell(platform.services(), sheets);

    shell.showFrmAbout();
    QPointer<frmAbout> first = &shell.about();
    QVERIFY(QTest::qWaitForWindowActive(first));
    QCOMPARE(QApplication::focusWidget(), first->findChild<QWidget *>(QStringLiteral("cmdOK")));
    QCOMPARE(first->windowTitle(), QStringLiteral("About Орбелант"));

    if (key < 0) {
        QVERIFY(first->close());
    } else if (focused.isEmpty()) {
        QApplication::focusWidget()->clearFocus();
        QTest::keyClick(first, Qt::Key(key));
    } else {
        auto *button = first->findChild<QPushButton *>(focused);
        button->setFocus();
        if (key == 0)
            QTest::mouseClick(button, Qt::LeftButton);
        else
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    }
    QVERIFY(!shell.frmAboutExists());
    QTRY_VERIFY(first.isNull()); // destroyed with its controls
    QVERIFY(platform.messages.shown.isEmpty());

    shell.showFrmAbout();
    frmAbout &second = shell.about();
    QCOMPARE(second.windowTitle(), QStringLiteral("About Орбелант"));
    QCOMPARE(second.findChild<QLabel *>(QStringLiteral("lblVersion"))->text(), QStringLiteral("Version 1.0.0"));
    QCOMPARE(second.findChild<QLabel *>(QStringLiteral("lblTitle"))->text(), QStringLiteral("Орбелант"));
    QVERIFY(shell.endProgram());
}

void TestFrmAbout::systemInfoButtonRunsTheLauncher_data()
{
    QTest::addColumn<int>("key"); // 0: clicked with the mouse
    QTest::addColumn<int>("modifiers");
    QTest::newRow("clicked") << 0 << int(Qt::NoModifier);
    QTest::newRow("access key Alt+S") << int(Qt::Key_S) << int(Qt::AltModifier);
    QTest::newRow("Enter while it has the focus") << int(Qt::Key_Return) << int(Qt::NoModifier);
}

// With no viewer registered the one message appears, and the box stays open.
void TestFrmAbout::systemInfoButtonRunsTheLauncher()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    BoxUnderTest test;
    QVERIFY(test.showActive());
    auto *button = test.child<QPushButton>("cmdSysInfo");

    if (key == 0) {
        QTest::mouseClick(button, Qt::LeftButton);
    } else {
        if (modifiers == Qt::NoModifier)
            button->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    }

    QTRY_COMPARE(test.messages.shown, QStringList{unavailable}); // an access key clicks a moment later
    QVERIFY(test.processes.requested.isEmpty());
    QVERIFY(test.box && test.box->isVisible());
}

void TestFrmAbout::launcherUsesTheBoxServices_data()
{
    QTest::addColumn<QString>("primaryPath");    // empty: no primary key
    QTest::addColumn<QString>("fallbackFolder"); // empty: no fallback key
    QTest::addColumn<bool>("viewerFileExists");  // in the fallback folder, by the file test
    QTest::addColumn<bool>("startRefused");
    QTest::addColumn<QString>("started");
    QTest::addColumn<bool>("messageShown");
    const QString viewer = QStringLiteral("/usr/bin/hardinfo");
    const QString folder = QStringLiteral("C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo");
    const QString inFolder = folder + QStringLiteral("\\MSINFO32.EXE");
    QTest::newRow("nothing registered") << QString() << QString() << false << false << QString() << true;
    QTest::newRow("primary path started") << viewer << QString() << false << false << viewer << false;
    QTest::newRow("primary path refused by the starter") << viewer << QString() << false << true << viewer << true;
    QTest::newRow("fallback folder with the viewer") << QString() << folder << true << false << inFolder << false;
    QTest::newRow("fallback folder without the viewer") << QString() << folder << false << false << QString() << true;
}

// The registry, file test, process starter and message box the box was given are the ones
// the launcher uses; every key it opened is closed again.
void TestFrmAbout::launcherUsesTheBoxServices()
{
    QFETCH(QString, primaryPath);
    QFETCH(QString, fallbackFolder);
    QFETCH(bool, viewerFileExists);
    QFETCH(bool, startRefused);
    QFETCH(QString, started);
    QFETCH(bool, messageShown);
    BoxUnderTest test;
    if (!primaryPath.isEmpty())
        test.registry->keys[sysinfo::primaryKey][sysinfo::primaryValue] = primaryPath.toStdString();
    if (!fallbackFolder.isEmpty())
        test.registry->keys[sysinfo::fallbackKey][sysinfo::fallbackValue] = fallbackFolder.toStdString();
    if (viewerFileExists)
        test.platform.files.existing.append(fallbackFolder + QStringLiteral("\\MSINFO32.EXE"));
    test.processes.refuse = startRefused;

    QTest::mouseClick(test.child<QPushButton>("cmdSysInfo"), Qt::LeftButton);

    QCOMPARE(test.processes.requested, started.isEmpty() ? QStringList{} : QStringList{started});
    QCOMPARE(test.messages.shown, messageShown ? QStringList{unavailable} : QStringList{});
    // No icon, and the program's title as the caption (the message box puts it there).
    QVERIFY(!test.messages.noIconAndDefaultCaption.contains(false));
    QVERIFY(test.registry->openHandles.empty());
    QVERIFY(test.box);
}

void TestFrmAbout::fixedDialogAtItsPlace()
{
    BoxUnderTest test;
    QVERIFY(test.showActive());
    frmAbout &box = *test.box;

    QCOMPARE(box.geometry(), QRect(156, 129, 484, 246)); // the client area on the screen
    QCOMPARE(box.minimumSize(), QSize(484, 246));
    QCOMPARE(box.maximumSize(), QSize(484, 246));
    QCOMPARE(box.windowType(), Qt::Dialog);
    QVERIFY(!box.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!box.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!box.isModal());
    QVERIFY(box.parentWidget() == nullptr);

    const auto *picture = test.child<QLabel>("picIcon");
    QCOMPARE(picture->pixmap().size(), QSize(154, 154));
    QCOMPARE(picture->frameWidth(), 0);

    // The etched rule: grey over white where it crosses the box.
    const QImage shown = box.grab().toImage();
    QCOMPARE(shown.pixelColor(240, 171), QColor(0x80, 0x80, 0x80));
    QCOMPARE(shown.pixelColor(483, 172), QColor(Qt::white));
    QCOMPARE(shown.pixelColor(0, 173), QColor(Qt::white));
}

void TestFrmAbout::controlGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry"); // pixels in the client area: twips / 15
    QTest::newRow("picIcon") << "picIcon" << QRect(0, 0, 154, 154);
    QTest::newRow("lblTitle") << "lblTitle" << QRect(168, 8, 259, 32);
    QTest::newRow("lblVersion") << "lblVersion" << QRect(168, 48, 259, 15);
    QTest::newRow("Label1") << "Label1" << QRect(168, 80, 283, 78);
    QTest::newRow("lblDisclaimer") << "lblDisclaimer" << QRect(8, 183, 258, 39);
    QTest::newRow("cmdOK") << "cmdOK" << QRect(395, 183, 84, 23);
    QTest::newRow("cmdSysInfo") << "cmdSysInfo" << QRect(396, 213, 83, 23);
    QTest::newRow("Line1(1), grey, past the right edge") << "Line1_1" << QRect(0, 171, 489, 1);
    QTest::newRow("Line1(0), white, 2 px, past the right edge") << "Line1_0" << QRect(0, 172, 489, 2);
}

void TestFrmAbout::controlGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    BoxUnderTest test;
    auto *control = test.box->findChild<QWidget *>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->geometry(), geometry);
}

void TestFrmAbout::textsFitTheirBoxes_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("title") << "lblTitle";
    QTest::newRow("version") << "lblVersion";
    QTest::newRow("credits, three lines") << "Label1";
    QTest::newRow("installation note, wrapped") << "lblDisclaimer";
    QTest::newRow("OK") << "cmdOK";
    QTest::newRow("System Info") << "cmdSysInfo";
}

// In the program's dialog font nothing is cut off.
void TestFrmAbout::textsFitTheirBoxes()
{
    QFETCH(QString, name);
    BoxUnderTest test;
    auto *control = test.box->findChild<QWidget *>(name);
    QVERIFY(control);
    if (auto *label = qobject_cast<QLabel *>(control)) {
        const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        QVERIFY2(needed <= label->height(), qPrintable(QStringLiteral("needs %1 px").arg(needed)));
        QVERIFY2(label->wordWrap() || label->sizeHint().width() <= label->width(),
                 qPrintable(QStringLiteral("needs %1 px wide").arg(label->sizeHint().width())));
    } else {
        QVERIFY(control->sizeHint().width() <= control->width() + 8); // the button's margins may overlap
    }
}

void TestFrmAbout::disclaimerNamesTheCyrillicDrive()
{
    BoxUnderTest test;
    const QString note = test.caption("lblDisclaimer");
    QCOMPARE(note, QStringLiteral("Warning: ... Установите программу в директорию С:\\Program Files\\Kalvetor"));
    const qsizetype drive = note.indexOf(QStringLiteral(":\\Program Files"));
    QVERIFY(drive > 0);
    QCOMPARE(note.at(drive - 1).unicode(), char16_t(0x0421)); // Cyrillic С, not Latin C
    QCOMPARE(encodeWindows1251(note.mid(drive - 1, 1)), QByteArray("\xD1"));

    const QStringList credits = test.caption("Label1").split(QLatin1Char('\n'));
    QCOMPARE(credits.size(), 3);
    QVERIFY(credits.at(0).contains(QStringLiteral("2026")));
    QCOMPARE(credits.at(1), QStringLiteral("Разработчики программы Орбелант"));
    QVERIFY(credits.at(2).contains(QStringLiteral("README")));
}

// The box's own Cyrillic texts survive the 8-bit code page unchanged.
void TestFrmAbout::textsBelongToWindows1251()
{
    BoxUnderTest test;
    QStringList texts{test.box->windowTitle()};
    for (const char *label : {"lblTitle", "lblVersion", "Label1", "lblDisclaimer"})
        texts.append(test.caption(label));
    for (const QString &text : texts)
        QCOMPARE(decodeWindows1251(encodeWindows1251(text)), text);
}

// The designed order is the order of the focus chain and of the accessibility tree.
void TestFrmAbout::tabOrder()
{
    BoxUnderTest test;
    const QStringList designed{"cmdOK", "picIcon", "cmdSysInfo", "lblDisclaimer", "lblTitle", "lblVersion", "Label1"};
    QStringList chain;
    QWidget *start = test.child<QWidget>("cmdOK");
    for (QWidget *widget = start; chain.size() < designed.size(); widget = widget->nextInFocusChain()) {
        if (designed.contains(widget->objectName()))
            chain.append(widget->objectName());
        if (widget->nextInFocusChain() == start)
            break;
    }
    QCOMPARE(chain, designed);

    // Only the buttons take the focus: Tab goes between them, starting at OK.
    QVERIFY(test.showActive());
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("cmdOK"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("cmdSysInfo"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("cmdOK"));
}

void TestFrmAbout::accessibleNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("accessibleName");
    QTest::newRow("OK button") << "cmdOK" << QAccessible::Button << "OK";
    QTest::newRow("System Info button, without the &") << "cmdSysInfo" << QAccessible::Button << "System Info...";
    QTest::newRow("title after load") << "lblTitle" << QAccessible::StaticText << "Орбелант";
    QTest::newRow("version after load") << "lblVersion" << QAccessible::StaticText << "Version 1.0.0";
    QTest::newRow("installation note") << "lblDisclaimer" << QAccessible::StaticText
                                       << "Warning: ... Установите программу в директорию С:\\Program Files\\Kalvetor";
    QTest::newRow("picture") << "picIcon" << QAccessible::Graphic << "Значок программы";
}

void TestFrmAbout::accessibleNames()
{
    QFETCH(QString, name);
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, accessibleName);
    BoxUnderTest test;
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(test.box->findChild<QWidget *>(name));
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), role);
    QCOMPARE(accessible->text(QAccessible::Name), accessibleName);
}

QTEST_MAIN(TestFrmAbout)
#include "tst_frmabout.moc"

// The shell: one instance per window, load once per creation, the end of the program.

#include "datacontrol.h"
#include "fakeplatform.h"
#include "form1.h"
#include "shell.h"
#include "windowinstance.h"

#include <QCloseEvent>
#include <QSignalSpy>
#include <QTest>

using namespace orbelant;
using namespace testsupport;

// A window as the shell expects one: load(), unloaded(), deleted on close.
class ProbeWindow final : public QWidget {
    Q_OBJECT
public:
    ProbeWindow() { setAttribute(Qt::WA_DeleteOnClose); }
    void load() { ++loads; }
    static inline int loads = 0;
    static inline bool refuseClose = false;

signals:
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (refuseClose) {
            event->ignore();
            return;
        }
        event->accept();
        emit unloaded();
    }
};

class TestShell : public QObject {
    Q_OBJECT

private slots:
    void init();

    void oneInstanceLoadedOnce();
    void unloadedWindowIsCreatedAfresh_data();
    void unloadedWindowIsCreatedAfresh();
    void programEndsWithTheLastWindow_data();
    void programEndsWithTheLastWindow();
    void windowThatRefusesToCloseKeepsTheProgram();
    void startShowsTheMainWindowWithItsFirstRow();
    void endProgramUnloadsTheMainWindow();
    void missingWorkbookLeavesTheMainWindowOpen();
};

void TestShell::init()
{
    ProbeWindow::loads = 0;
    ProbeWindow::refuseClose = false;
}

void TestShell::oneInstanceLoadedOnce()
{
    OpenWindows open;
    WindowInstance<ProbeWindow> instance([] { return new ProbeWindow; }, open);
    QVERIFY(!instance.exists());

    ProbeWindow *first = &instance.get();
    QCOMPARE(ProbeWindow::loads, 1);
    QVERIFY(!first->isVisible()); // getting does not show
    instance.show();
    instance.show();
    QCOMPARE(&instance.get(), first);
    QCOMPARE(ProbeWindow::loads, 1);
    QCOMPARE(open.count(), 1);
    QVERIFY(first->isVisible());
    QVERIFY(first->parentWidget() == nullptr);
}

void TestShell::unloadedWindowIsCreatedAfresh_data()
{
    QTest::addColumn<bool>("byCloseBox");
    QTest::newRow("unloaded by the program") << false;
    QTest::newRow("closed by the user") << true;
}

void TestShell::unloadedWindowIsCreatedAfresh()
{
    QFETCH(bool, byCloseBox);
    OpenWindows open;
    WindowInstance<ProbeWindow> instance([] { return new ProbeWindow; }, open);
    instance.show();
    QPointer<ProbeWindow> old = &instance.get();

    if (byCloseBox)
        QVERIFY(old->close());
    else
        QVERIFY(instance.unload());

    QVERIFY(!instance.exists());
    QCOMPARE(open.count(), 0);
    QTRY_VERIFY(old.isNull()); // destroyed
    ProbeWindow &fresh = instance.get();
    QVERIFY(&fresh != old.data());
    QCOMPARE(ProbeWindow::loads, 2);
}

void TestShell::programEndsWithTheLastWindow_data()
{
    QTest::addColumn<bool>("secondWindow");
    QTest::addColumn<bool>("mainClosedFirst");
    QTest::newRow("only the main window") << false << true;
    QTest::newRow("main window closed while another is open") << true << true;
    QTest::newRow("other window closed first") << true << false;
}

void TestShell::programEndsWithTheLastWindow()
{
    QFETCH(bool, secondWindow);
    QFETCH(bool, mainClosedFirst);
    OpenWindows open;
    QSignalSpy ended(&open, &OpenWindows::lastWindowClosed);
    WindowInstance<ProbeWindow> main([] { return new ProbeWindow; }, open);
    WindowInstance<ProbeWindow> other([] { return new ProbeWindow; }, open);
    main.show();
    if (secondWindow)
        other.show();

    QVERIFY((mainClosedFirst ? main : other).unload());
    QCOMPARE(ended.size(), secondWindow ? 0 : 1);
    if (secondWindow) {
        QVERIFY((mainClosedFirst ? other : main).exists());
        QVERIFY((mainClosedFirst ? other : main).unload());
        QCOMPARE(ended.size(), 1);
    }
    QCOMPARE(open.count(), 0);
}

void TestShell::windowThatRefusesToCloseKeepsTheProgram()
{
    OpenWindows open;
    QSignalSpy ended(&open, &OpenWindows::lastWindowClosed);
    WindowInstance<ProbeWindow> instance([] { return new ProbeWindow; }, open);
    instance.show();
    ProbeWindow::refuseClose = true;
    QVERIFY(!instance.unload());
    QVERIFY(instance.exists());
    QCOMPARE(ended.size(), 0);
    ProbeWindow::refuseClose = false;
}

void TestShell::startShowsTheMainWindowWithItsFirstRow()
{
    FakePlatform platform;
    FakeSheetAccess sheets;
    sheets.sheet = makeTable(timeScaleColumns(), {{"145", "Фанерозой"}, {"150", "Фанерозой"}});
    Shell shell(platform.services(), sheets);

    shell.start();
    QVERIFY(shell.form1Exists());
    Form1 &form = shell.form1();
    QVERIFY(form.isVisible());
    QCOMPARE(form.Data1().currentRecord(), 0);
    QCOMPARE(sheets.reads, 1);

    shell.showForm1(); // shown again: the same window, not loaded again
    QCOMPARE(&shell.form1(), &form);
    QCOMPARE(sheets.reads, 1);
    QCOMPARE(shell.openWindowCount(), 1);
}

void TestShell::endProgramUnloadsTheMainWindow()
{
    FakePlatform platform;
    FakeSheetAccess sheets;
    sheets.sheet = makeTable(timeScaleColumns(), {{"145", "Фанерозой"}});
    Shell shell(platform.services(), sheets);
    QSignalSpy ended(&shell, &Shell::lastWindowClosed);
    shell.start();

    QVERIFY(shell.endProgram());
    QCOMPARE(ended.size(), 1);
    QVERIFY(!shell.form1Exists());
    QCOMPARE(shell.openWindowCount(), 0);

    shell.form1(); // the next use creates and loads it afresh
    QCOMPARE(sheets.reads, 2);
}

void TestShell::missingWorkbookLeavesTheMainWindowOpen()
{
    FakePlatform platform;
    FakeSheetAccess sheets; // no workbook
    Shell shell(platform.services(), sheets);
    QSignalSpy ended(&shell, &Shell::lastWindowClosed);
    shell.start();

    QCOMPARE(platform.messages.shown, QStringList{sheets.readError.message});
    QVERIFY(shell.form1().isVisible());
    QVERIFY(!shell.form1().Data1().isOpen());
    QCOMPARE(ended.size(), 0);
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"

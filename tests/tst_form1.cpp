// The main window: its controls, geometry, menu, tab order, bindings and closing.

#include "datacontrol.h"
#include "fakeplatform.h"
#include "form1.h"
#include "typing.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace orbelant;
using namespace testsupport;

class TestForm1 : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void window();
    void organicWorldField();
    void menu();
    void tabOrder();
    void loadShowsTheFirstRowInEveryField();
    void closingStoresTheEdits();
    void closingWithRefusedEditsCanBeCancelled();
    void exitCommandsUnload_data();
    void exitCommandsUnload();

private:
    template <typename T = QWidget>
    T *control(const QString &name) { return m_form->findChild<T *>(name); }

    FakePlatform m_platform;
    FakeSheetAccess m_sheets;
    FakeWindowRequests m_windows;
    QPointer<Form1> m_form;
};

void TestForm1::init()
{
    m_platform.messages = FakeMessageBox();
    m_sheets.sheet = makeTable(timeScaleColumns(),
                               {{"0,0117", "Фанерозой", "Кайнозойская", "Четвертичная", "Голоцен", "Мегхалайский",
                                 "Человек разумный"},
                                {"2,58", "Фанерозой", "Кайнозойская", "Четвертичная", "Плейстоцен", "Гелазский", ""}});
    m_sheets.stores.clear();
    m_sheets.storeError.reset();
    m_sheets.reads = 0;
    m_form = new Form1(m_platform.services(), m_windows, m_sheets);
    m_form->load();
}

void TestForm1::cleanup()
{
    delete m_form;
}

void TestForm1::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text"); // caption, frame title or tooltip
    QTest::addColumn<QString>("accessibleName");

    const QString client = QStringLiteral("clientArea");
    const struct {
        const char *name;
        const char *tooltip;
        int x;
    } buttons[] = {{"Command1", "Найти относительный возраст", 19}, {"Command2", "Распечатать", 59},
                   {"Command3", "Сохранить", 99},  {"Command4", "Обновить", 139},
                   {"Command5", "О программе", 179}, {"Command6", "Выход", 347}};
    for (const auto &button : buttons)
        QTest::newRow(button.name) << button.name << client << QRect(button.x, 16, 41, 41) << button.tooltip
                                   << button.tooltip;

    QTest::newRow("Frame1") << "Frame1" << client << QRect(19, 72, 369, 513) << "зендра" << "";
    QTest::newRow("Frame2") << "Frame2" << "Frame1" << QRect(8, 328, 353, 177) << "ОРГАНИЧЕСКИЙ МИР" << "ОРГАНИЧЕСКИЙ МИР";
    QTest::newRow("Data1") << "Data1" << "Frame1" << QRect(8, 24, 345, 25) << "Орбелант" << "Орбелант";

    QTest::newRow("Label1") << "Label1" << "Frame1" << QRect(16, 64, 97, 25) << "Возраст в млн. лет" << "";
    QTest::newRow("Labe2") << "Labe2" << "Frame1" << QRect(16, 104, 97, 25) << "Эонотема" << "";
    QTest::newRow("Label3") << "Label3" << "Frame1" << QRect(16, 144, 97, 25) << "Эратема" << "";
    QTest::newRow("Label4") << "Label4" << "Frame1" << QRect(16, 184, 89, 33) << "Система" << "";
    QTest::newRow("Label5 keeps its trailing space") << "Label5" << "Frame1" << QRect(16, 224, 73, 33) << "Отдел "
                                                     << "";
    QTest::newRow("Label6") << "Label6" << "Frame1" << QRect(16, 264, 73, 33) << "Ярус" << "";

    const char *columns[] = {"Возраст", "Эонотема", "Эратема", "Система", "Отдел", "Ярус"};
    for (int i = 0; i < 6; ++i) {
        const QString name = QStringLiteral("Text%1").arg(i + 1);
        QTest::newRow(qPrintable(name)) << name << "Frame1" << QRect(128, 64 + 40 * i, 225, 19) << ""
                                        << columns[i];
    }
    QTest::newRow("Text7") << "Text7" << "Frame2" << QRect(8, 16, 337, 153) << "" << "Органический мир";
}

// Every control at its place and size, also after the window has been enlarged.
void TestForm1::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, accessibleName);

    m_form->show();
    m_form->resize(900, 1000);
    QWidget *widget = control(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->parentWidget()->objectName(), container);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->accessibleName(), accessibleName);

    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    else if (auto *frame = qobject_cast<QGroupBox *>(widget))
        QCOMPARE(frame->title(), text);
    else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QCOMPARE(button->toolTip(), text);
        QVERIFY(button->text().isEmpty());
        QVERIFY(!button->icon().isNull());
        QVERIFY(!button->isDefault() && !button->autoDefault());
    } else if (auto *data = qobject_cast<DataControl *>(widget))
        QCOMPARE(data->Caption(), text);
}

void TestForm1::window()
{
    m_form->show();
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Орбелант"));
    QCOMPARE(m_form->centralWidget()->objectName(), QStringLiteral("clientArea"));
    QCOMPARE(m_form->centralWidget()->size(), QSize(407, 602));
    const Qt::WindowFlags flags = m_form->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(m_form->parentWidget() == nullptr);
}

void TestForm1::organicWorldField()
{
    auto *note = control<QPlainTextEdit>(QStringLiteral("Text7"));
    QVERIFY(note);
    QCOMPARE(note->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(note->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(!note->isReadOnly());
    for (int i = 1; i <= 6; ++i) {
        auto *field = control<QLineEdit>(QStringLiteral("Text%1").arg(i));
        QVERIFY(field && !field->isReadOnly());
        QCOMPARE(field->maxLength(), 32767); // Qt's largest, the most a cell holds
    }
}

void TestForm1::menu()
{
    QMenuBar *bar = m_form->menuBar();
    const QList<QAction *> onBar = bar->actions();
    QCOMPARE(onBar.size(), 2);
    QMenu *action = onBar[0]->menu();
    QVERIFY(action);
    QCOMPARE(action->objectName(), QStringLiteral("action"));
    QCOMPARE(action->title(), QStringLiteral("Действие"));
    QCOMPARE(onBar[1]->objectName(), QStringLiteral("avtor"));
    QCOMPARE(onBar[1]->text(), QStringLiteral("О программе"));
    QVERIFY(!onBar[1]->menu());

    const QStringList names = {"find", "print", "save", "refresh", "ooo", "exit"};
    const QStringList texts = {"Найти относительный возраст", "Распечатать форму",
                               "Сохранить информацию в файл info.dat", "Обновить базу данных", "", "Выход"};
    const QList<QAction *> items = action->actions();
    QCOMPARE(items.size(), names.size());
    for (qsizetype i = 0; i < items.size(); ++i) {
        QCOMPARE(items[i]->objectName(), names[i]);
        QCOMPARE(items[i]->isSeparator(), names[i] == QLatin1String("ooo"));
        if (!items[i]->isSeparator())
            QCOMPARE(items[i]->text(), texts[i]);
        QVERIFY(items[i]->shortcut().isEmpty());
    }
    for (QAction *item : onBar)
        QVERIFY(!item->text().contains(QLatin1Char('&')));
}

void TestForm1::tabOrder()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowActive(m_form));
    control(QStringLiteral("Text1"))->setFocus();
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 13; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget()->objectName());
    }
    QCOMPARE(visited, QStringList({"Text1", "Text7", "Command6", "Command5", "Command4", "Command3", "Command2",
                                   "Command1", "Text2", "Text3", "Text4", "Text5", "Text6", "Text1"}));
}

void TestForm1::loadShowsTheFirstRowInEveryField()
{
    QCOMPARE(m_form->Data1().DatabaseName(), QStringLiteral("зендра.xls"));
    QCOMPARE(m_sheets.reads, 1);
    QCOMPARE(m_sheets.lastPath, QDir::current().absoluteFilePath(QStringLiteral("зендра.xls")));
    QCOMPARE(m_sheets.lastSheet, QStringLiteral("Лист1$"));
    const QStringList expected = {"0,0117", "Фанерозой", "Кайнозойская", "Четвертичная", "Голоцен",
                                  "Мегхалайский", "Человек разумный"};
    for (int i = 1; i <= 6; ++i)
        QCOMPARE(control<QLineEdit>(QStringLiteral("Text%1").arg(i))->text(), expected[i - 1]);
    QCOMPARE(control<QPlainTextEdit>(QStringLiteral("Text7"))->toPlainText(), expected[6]);
    QVERIFY(m_platform.messages.shown.isEmpty());
}

void TestForm1::closingStoresTheEdits()
{
    QSignalSpy unloaded(m_form.data(), &Form1::unloaded);
    m_form->show();
    auto *system = control<QLineEdit>(QStringLiteral("Text4"));
    system->clear();
    typeText(system, QStringLiteral("Неогеновая"));

    QVERIFY(m_form->close());

    QCOMPARE(unloaded.size(), 1);
    QCOMPARE(m_sheets.stores.size(), size_t(1));
    QCOMPARE(m_sheets.stores[0].record, 0);
    QCOMPARE(m_sheets.stores[0].edits.size(), size_t(1));
    QCOMPARE(m_sheets.stores[0].edits[0].column, 3);
    QCOMPARE(m_sheets.stores[0].edits[0].text, QStringLiteral("Неогеновая"));
    QTRY_VERIFY(m_form.isNull()); // destroyed once closed
}

void TestForm1::closingWithRefusedEditsCanBeCancelled()
{
    QSignalSpy unloaded(m_form.data(), &Form1::unloaded);
    m_form->show();
    typeText(control(QStringLiteral("Text6")), QStringLiteral("x"));
    m_sheets.storeError = Error::make(ErrorCode::WriteFailed, QStringLiteral("зендра.xls"));
    m_platform.messages.answer = false;

    QVERIFY(!m_form->close());

    QCOMPARE(unloaded.size(), 0);
    QVERIFY(m_form->isVisible());
    QCOMPARE(control<QLineEdit>(QStringLiteral("Text6"))->text(), QStringLiteral("xМегхалайский"));
    QCOMPARE(m_platform.messages.asked.size(), 1);
}

void TestForm1::exitCommandsUnload_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("exit menu item") << true;
    QTest::newRow("Command6 button") << false;
}

void TestForm1::exitCommandsUnload()
{
    QFETCH(bool, fromMenu);
    QSignalSpy unloaded(m_form.data(), &Form1::unloaded);
    m_form->show();
    if (fromMenu)
        m_form->findChild<QAction *>(QStringLiteral("exit"))->trigger();
    else
        QTest::mouseClick(control<QPushButton>(QStringLiteral("Command6")), Qt::LeftButton);
    QCOMPARE(unloaded.size(), 1);
    QTRY_VERIFY(m_form.isNull());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

// The program's QApplication: an error escaping an event handler is shown and the
// program goes on; Qt's own texts are Russian; the shell, not Qt, ends the program.

#include "application.h"
#include "fakeplatform.h"

#include <QTest>
#include <new>
#include <stdexcept>

using namespace orbelant;
using namespace testsupport;

namespace {

enum class Thrown { RuntimeError, OutOfMemory, NotAnException };

// Throws from its event handler, as a faulty event procedure would.
class FaultyObject final : public QObject {
public:
    explicit FaultyObject(Thrown thrown)
        : m_thrown(thrown)
    {
    }

protected:
    bool event(QEvent *) override
    {
        switch (m_thrown) {
        case Thrown::RuntimeError:
            throw std::runtime_error("disk on fire");
        case Thrown::OutOfMemory:
            throw std::bad_alloc();
        case Thrown::NotAnException:
            throw 42;
        }
        return false;
    }

private:
    Thrown m_thrown;
};

} // namespace

Q_DECLARE_METATYPE(Thrown)

class TestApplication : public QObject {
    Q_OBJECT

private slots:
    void errorEscapingAnEventHandlerIsShown_data();
    void errorEscapingAnEventHandlerIsShown();
    void qtTextsAreRussian();
    void shellDecidesWhenTheProgramEnds();
};

void TestApplication::errorEscapingAnEventHandlerIsShown_data()
{
    QTest::addColumn<Thrown>("thrown");
    QTest::addColumn<QString>("shownPart");
    QTest::newRow("standard exception") << Thrown::RuntimeError << "disk on fire";
    QTest::newRow("out of memory") << Thrown::OutOfMemory << "Не хватает памяти";
    QTest::newRow("anything else") << Thrown::NotAnException << "непредвиденной ошибки";
}

void TestApplication::errorEscapingAnEventHandlerIsShown()
{
    QFETCH(Thrown, thrown);
    QFETCH(QString, shownPart);
    FakeMessageBox messages;
    auto *app = static_cast<Application *>(QCoreApplication::instance());
    app->setMessageBox(&messages);

    FaultyObject faulty(thrown);
    QCoreApplication::postEvent(&faulty, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&faulty);

    QCOMPARE(messages.shown.size(), 1);
    QVERIFY2(messages.shown.front().contains(shownPart), qPrintable(messages.shown.front()));
    QVERIFY(messages.shown.front().contains(QStringLiteral("продолжает работу")));
    app->setMessageBox(nullptr);
}

void TestApplication::qtTextsAreRussian()
{
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
}

void TestApplication::shellDecidesWhenTheProgramEnds()
{
    QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Орбелант"));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0"));
}

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"

// The program's runtime: its QApplication, the 8-bit code page, and the real message box,
// text file, process starter and printer behind the services.

#include "application.h"
#include "filefailure.h"
#include "program.h"
#include "realplatform.h"
#include "windowprint.h"

#include <QPushButton>
#include <QMessageBox>
#include <QPrinter>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <unistd.h>

using namespace orbelant;

namespace {

// Throws from its event handler, as a faulty event procedure would.
class Faulty final : public QObject {
public:
    explicit Faulty(int kind) : m_kind(kind) {}
    bool event(QEvent *) override
    {
        if (m_kind == 0)
            throw std::runtime_error("disk on fire");
        if (m_kind == 1)
            throw std::bad_alloc();
        throw 42;
    }

private:
    int m_kind;
};

class RecordingMessageBox final : public MessageBoxService {
public:
    void show(const QString &text, Icon icon, const QString &) override { shown << text + (icon == Icon::Critical ? "!" : ""); }
    bool ask(const QString &, const QString &) override { return false; }
    QStringList shown;
};

bool runs(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    void application();
    void errorEscapingAnEventHandler_data();
    void errorEscapingAnEventHandler();
    void windows1251_data();
    void windows1251();
    void windows1251AgreesWithPython();
    void messageBox();
    void fileFailure_data();
    void fileFailure();
    void smallDisk();
    void processStarter();
    void printerThatRefusesTheJob();
};

void TestPlatform::application()
{
    QVERIFY(!QGuiApplication::quitOnLastWindowClosed()); // the shell ends the program
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Орбелант"));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.0.0"));
    QCOMPARE(QApplication::font().pointSize(), 8);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));

    auto &app = *static_cast<Application *>(QCoreApplication::instance());
    {
        Program program(app);
        QList<int> sizes;
        for (const QSize &size : QApplication::windowIcon().availableSizes())
            sizes.append(size.width());
        QCOMPARE(sizes, QList<int>({16, 32, 48, 64, 128, 256}));
    }
    app.setMessageBox(nullptr);
}

void TestPlatform::errorEscapingAnEventHandler_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("shown");
    QTest::newRow("an exception") << 0 << "Команда прервана из-за непредвиденной ошибки (disk on fire). Программа продолжает работу.!";
    QTest::newRow("out of memory") << 1 << "Не хватает памяти для выполнения команды. Команда прервана, программа продолжает работу.!";
    QTest::newRow("anything else") << 2 << "Команда прервана из-за непредвиденной ошибки. Программа продолжает работу.!";
}

// Shown in a message box; the program goes on.
void TestPlatform::errorEscapingAnEventHandler()
{
    QFETCH(int, kind);
    QFETCH(QString, shown);
    RecordingMessageBox messages;
    auto &app = *static_cast<Application *>(QCoreApplication::instance());
    app.setMessageBox(&messages);
    Faulty faulty(kind);
    QEvent event(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&faulty, &event));
    app.setMessageBox(nullptr);
    QCOMPARE(messages.shown, QStringList{shown});
}

void TestPlatform::windows1251_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("Russian letters") << "Юрский яЯ" << QByteArray("\xDE\xF0\xF1\xEA\xE8\xE9 \xFF\xDF");
    QTest::newRow("yo, number sign, dashes") << "Ёё № – —" << QByteArray("\xA8\xB8 \xB9 \x96 \x97");
    QTest::newRow("outside the code page") << "é中ѐ" << QByteArray("???");
    QTest::newRow("a character outside the BMP") << "a😀b😀" << QByteArray("a?b?");
    QTest::newRow("a lone high surrogate") << QString("a") + QChar(0xD800) + "b" + QChar(0xD800) << QByteArray("a?b?");
    QTest::newRow("a lone low surrogate") << QString("a") + QChar(0xDC00) << QByteArray("a?");
}

void TestPlatform::windows1251()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeWindows1251(text), bytes);
}

// Every byte decodes as Python's codec reads it, and back; every other character of the
// BMP becomes one '?'.
void TestPlatform::windows1251AgreesWithPython()
{
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all.append(char(byte));
    QProcess python; // 0x98 is undefined there; Windows maps it to U+0098, as we do
    python.start("/usr/bin/python3", {"-c", "import sys; sys.stdout.buffer.write(sys.stdin.buffer.read()"
                                            ".decode('cp1251', 'replace').replace('\\ufffd', '\\x98').encode())"});
    python.write(all);
    python.closeWriteChannel();
    QVERIFY(python.waitForFinished());
    const QString decoded = decodeWindows1251(all);
    QCOMPARE(decoded, QString::fromUtf8(python.readAllStandardOutput()));
    QCOMPARE(encodeWindows1251(decoded), all);

    QString wrong;
    for (char32_t c = 0; c < 0x10000; ++c) {
        const QChar character(c);
        if (character.isSurrogate())
            continue;
        const qsizetype byte = decoded.indexOf(character);
        if (encodeWindows1251(QStringView(&character, 1)) != (byte < 0 ? QByteArray("?") : QByteArray(1, char(byte))))
            wrong += character;
    }
    QCOMPARE(wrong, QString());
}

// The real box: the program's title unless a caption is given, Russian buttons, and Нет
// as the default answer.
void TestPlatform::messageBox()
{
    QtMessageBox messages(QStringLiteral("Орбелант"));
    QStringList seen;
    const auto answer = [&](QMessageBox::StandardButton button) {
        QTimer::singleShot(0, [&seen, button] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QStringList buttons;
            for (QAbstractButton *shown : box->buttons())
                buttons << shown->text().remove('&') + (box->defaultButton() == shown ? "*" : "");
            buttons.sort();
            seen << QStringLiteral("%1 %2 %3: %4").arg(box->windowTitle()).arg(box->icon()).arg(buttons.join(','), box->text());
            box->button(button)->click();
        });
    };
    MessageBoxService &service = messages;
    answer(QMessageBox::Ok);
    service.show(QStringLiteral("Текст"), MessageBoxService::Icon::Critical);
    answer(QMessageBox::Ok);
    service.show(QStringLiteral("Текст"), MessageBoxService::Icon::None, QStringLiteral("сообщение"));
    answer(QMessageBox::Yes);
    QVERIFY(service.ask(QStringLiteral("Вопрос?")));
    answer(QMessageBox::No);
    QVERIFY(!service.ask(QStringLiteral("Вопрос?"), QStringLiteral("Свой")));
    QCOMPARE(seen, QStringList({"Орбелант 3 OK: Текст", "сообщение 0 OK: Текст", "Орбелант 4 Да,Нет*: Вопрос?",
                                "Свой 4 Да,Нет*: Вопрос?"}));
}

void TestPlatform::fileFailure_data()
{
    QTest::addColumn<QString>("name"); // in a fresh folder; "existing" exists there
    QTest::addColumn<int>("error");    // the system's error code of the failing call
    QTest::addColumn<qint64>("needed");
    QTest::addColumn<QString>("reason"); // empty: the system's own words
    QTest::newRow("a folder in the way") << "." << 0 << qint64(1) << "на месте файла находится папка";
    QTest::newRow("the system's reason") << "existing" << EROFS << qint64(1) << "диск доступен только для чтения";
    QTest::newRow("more than the disk holds") << "new" << 0 << (qint64(1) << 60) << "на диске нет места";
    QTest::newRow("a folder that is missing") << "missing/new" << 0 << qint64(1) << "нет прав на запись в папку";
    QTest::newRow("nothing known, an existing file") << "existing" << 0 << qint64(1) << "";
    QTest::newRow("nothing known, a new file") << "new" << 0 << qint64(1) << "";
}

void TestPlatform::fileFailure()
{
    QFETCH(QString, name);
    QFETCH(int, error);
    QFETCH(qint64, needed);
    QFETCH(QString, reason);
    QTemporaryDir folder;
    QFile existing(folder.filePath("existing"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    const QFile file(folder.filePath(name));

    errno = error;
    const FileFailure failure = FileFailure::capture(file, needed);

    const QString expected = reason.isEmpty() ? file.errorString() : reason;
    const QString path = QFileInfo(folder.filePath(name)).absoluteFilePath();
    QCOMPARE(failure.message(QStringLiteral("Нет «%1»")), "Нет «" + path + "»: " + expected + ".");
}

// A disk that fills in the middle of the line leaves the file as it was; a disk mounted
// read-only is named as the reason even when the system gives none.
void TestPlatform::smallDisk()
{
    QTemporaryDir folder;
    if (geteuid() != 0 || !runs("mount", {"-t", "tmpfs", "-o", "size=8k", "tmpfs", folder.path()}))
        QSKIP("mounting a small disk needs root");
    const auto unmount = qScopeGuard([&] { runs("umount", {folder.path()}); });
    // info.dat fills the first page but for a few bytes, a filler takes the second.
    const QByteArray before = QByteArray(4080, 'x') + "\r\n";
    QFile info(folder.filePath("info.dat"));
    QVERIFY(info.open(QIODevice::WriteOnly) && info.write(before) == before.size());
    info.close();
    QFile filler(folder.filePath("filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(512, 'f')) == 512) {
    }
    filler.close();

    Windows1251CodePage codePage;
    const ServiceResult appended = AppendingTextFile(codePage).appendLine(info.fileName(), {QString(200, u'ж')});

    QVERIFY(!appended);
    QCOMPARE(appended.error(), "Не удалось дописать строку в файл «" + info.fileName() + "»: на диске нет места.");
    QVERIFY(info.open(QIODevice::ReadOnly));
    QCOMPARE(info.readAll(), before);
    info.close();

    QVERIFY(runs("mount", {"-o", "remount,ro", folder.path()}));
    errno = 0;
    QCOMPARE(FileFailure::capture(QFile(folder.filePath("new")), 1).reason(), "диск доступен только для чтения");
}

void TestPlatform::processStarter()
{
    DetachedProcessStarter starter;
    QVERIFY(starter.start("/bin/true"));
    QCOMPARE(starter.start("/nonexistent/viewer").error(), "Не удалось запустить программу «/nonexistent/viewer».");
}

void TestPlatform::printerThatRefusesTheJob()
{
    QWidget window;
    window.resize(40, 30);
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName("/nonexistent/page.pdf");
    QCOMPARE(printClientArea(window, printer).error(),
             "Принтер «/nonexistent/page.pdf» не принял задание. Форма не напечатана.");
}

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    TestPlatform test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_platform.moc"

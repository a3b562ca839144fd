// The program's runtime: its QApplication, the 8-bit code page, and the real text file,
// process starter and printer behind the services. (The real message box is met end to end.)

#include "application.h"
#include "fakeplatform.h"
#include "filefailure.h"
#include "program.h"
#include "windowprint.h"

#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>

using namespace testsupport;

class TestPlatform : public QObject {
    Q_OBJECT

private slots:
    // The shell ends the program, not the last window closed. An error escaping an event
    // handler is shown in a message box, and the program goes on.
    void application()
    {
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
        QCOMPARE(QApplication::font().pointSize(), 8);
        auto &app = *static_cast<Application *>(QCoreApplication::instance());
        {
            Program program(app);
            QList<int> sizes;
            for (const QSize &size : QApplication::windowIcon().availableSizes())
                sizes.append(size.width());
            QCOMPARE(sizes, QList<int>({16, 32, 48, 64, 128, 256}));
        }

        FakeMessageBox messages;
        app.setMessageBox(&messages);
        struct Faulty final : QObject { // whose event procedure throws, as a faulty one would
            bool event(QEvent *) override { throw std::runtime_error("disk on fire"); }
        } faulty;
        QEvent event(QEvent::User);
        QVERIFY(!QCoreApplication::sendEvent(&faulty, &event)); // not taken as handled
        QObject receiver;
        QMetaObject::invokeMethod(&receiver, [] { throw std::bad_alloc(); }, Qt::QueuedConnection);
        QMetaObject::invokeMethod(&receiver, [] { throw 42; }, Qt::QueuedConnection);
        QCoreApplication::sendPostedEvents(&receiver);
        app.setMessageBox(nullptr);
        QCOMPARE(messages.texts,
                 QStringList({"Команда прервана из-за непредвиденной ошибки (disk on fire). Программа продолжает работу.",
                              "Не хватает памяти для выполнения команды. Команда прервана, программа продолжает работу.",
                              "Команда прервана из-за непредвиденной ошибки. Программа продолжает работу."}));
        for (const Box &box : messages.boxes)
            QCOMPARE(box.icon, MessageBoxService::Icon::Critical);
    }

    // Every byte decodes as Python's codec reads it, and back; every other character of the
    // BMP becomes one '?', and so does a character beyond it or a surrogate alone.
    void windows1251()
    {
        QCOMPARE(encodeWindows1251(u"a😀b😀"), QByteArray("a?b?")); // a pair at the very end
        QCOMPARE(encodeWindows1251(QString("a") + QChar(0xDC00) + "b" + QChar(0xD800) + "c" + QChar(0xD800)), "a?b?c?");
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
            const qsizetype byte = decoded.indexOf(character);
            if (!character.isSurrogate()
                && encodeWindows1251(QStringView(&character, 1)) != (byte < 0 ? QByteArray("?") : QByteArray(1, char(byte))))
                wrong += character;
        }
        QCOMPARE(wrong, QString());
    }

    void fileFailure_data()
    {
        QTest::addColumn<QString>("name"); // in a fresh folder; "existing" exists there
        QTest::addColumn<int>("error");    // the system's error code of the failing call
        QTest::addColumn<qint64>("needed");
        QTest::addColumn<QString>("reason"); // empty: the system's own words
        QTest::newRow("a folder in the way") << "." << 0 << qint64(1) << "на месте файла находится папка";
        QTest::newRow("the system's reason") << "existing" << EROFS << qint64(1) << "диск доступен только для чтения";
        QTest::newRow("more than the disk holds") << "new" << 0 << (qint64(1) << 60) << "на диске нет места";
        QTest::newRow("a folder that is missing") << "missing/new" << 0 << qint64(1) << "нет прав на запись в папку";
        QTest::newRow("nothing known, a file") << "existing" << 0 << qint64(1) << "";
        QTest::newRow("nothing known, a new file") << "new" << 0 << qint64(1) << "";
    }
    void fileFailure()
    {
        QFETCH(QString, name);
        QFETCH(int, error);
        QFETCH(qint64, needed);
        QFETCH(QString, reason);
        QTemporaryDir folder;
        QVERIFY(QFile(folder.filePath("existing")).open(QIODevice::WriteOnly));
        const QFile file(folder.filePath(name));

        errno = error;
        const FileFailure failure = FileFailure::capture(file, needed);

        const QString path = QFileInfo(folder.filePath(name)).absoluteFilePath();
        QCOMPARE(failure.message("Нет «%1»"), "Нет «" + path + "»: " + (reason.isEmpty() ? file.errorString() : reason) + ".");
    }

    // A line cut short (here by the limit on file sizes, as by a full disk) is taken off again;
    // a program that does not start and a printer that takes no job are told.
    void failingServices()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath("info.dat");
        rlimit limit{};
        QVERIFY(signal(SIGXFSZ, SIG_IGN) != SIG_ERR && getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const rlimit small = {100, limit.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        const ServiceResult appended = FakePlatform().textFile.appendLine(path, {QString(200, u'ж')});
        setrlimit(RLIMIT_FSIZE, &limit);
        QVERIFY(!appended);
        QCOMPARE(QFileInfo(path).size(), 0);

        DetachedProcessStarter starter;
        QCOMPARE(starter.start("/nonexistent/viewer").error(), "Не удалось запустить программу «/nonexistent/viewer».");

        QWidget window;
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName("/nonexistent/page.pdf");
        QCOMPARE(printClientArea(window, printer).error(),
                 "Принтер «/nonexistent/page.pdf» не принял задание. Форма не напечатана.");
    }
};

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    TestPlatform test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_platform.moc"

// Saving beside other programs: one save at a time across processes, office lock files,
// read-only workbooks, the file's attributes, and a reason for every refusal.

#include "ole/compounddocument.h"
#include "storage/officelocks.h"
#include "storage/savelock.h"
#include "testsupport.h"
#include "workbook.h"
#include "writeback.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace orbelant;
using namespace testsupport;

namespace {

const QString Sheet = QStringLiteral("Лист1");
constexpr qsizetype StageColumn = 5; // Ярус

QString copySample(const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("зендра.xls"));
    QFile::copy(QStringLiteral(ORBELANT_SOURCE_DIR "/sample/зендра.xls"), path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return path;
}

// Everything in the folder, hidden files included: a save leaves nothing of its own behind.
QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QString stageOf(const QString &path, qsizetype record)
{
    const auto table = readSheet(path, Sheet);
    return table ? table->text(record, StageColumn) : QString();
}

QByteArray libreOfficeLock(const QString &host, const QString &profile)
{
    return formatLibreOfficeLock({QStringLiteral("Иван, мл."), QStringLiteral("ivan"), host, QStringLiteral("07.12.2026 10:15"), profile});
}

// Excel's owner file: the name in 8 bits after its length, spaces to 55, then in UTF-16.
QByteArray excelOwner(const QString &user)
{
    QByteArray bytes(165, ' ');
    bytes[0] = char(user.size());
    bytes.replace(1, user.size(), user.toLatin1());
    bytes.replace(55, 2 + 2 * user.size(), QByteArray(1, char(user.size())) + '\0'
                  + QByteArray(reinterpret_cast<const char *>(user.utf16()), 2 * user.size()));
    return bytes;
}

// Holds a file open with a lock, as a window of the program in another process holds its
// lock file, or as another save holds the workbook.
struct LockHolder {
    LockHolder(const QString &path, short type) : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC))
    {
        struct flock lock = {};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        locked = ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
    }
    ~LockHolder() { ::close(fd); }
    int fd;
    bool locked = false;
};

// Whether process `pid` has the file at `path` open for writing: the workbook tool does so
// only once it has read the workbook, to wait for the save lock.
bool opensForWriting(qint64 pid, const QString &path)
{
    const QDir open(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : open.entryList(QDir::AllEntries | QDir::System)) {
        const QByteArray info = readAll(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd));
        const qsizetype flags = info.indexOf("flags:");
        if (QFileInfo(open.filePath(fd)).symLinkTarget() == path && flags >= 0
            && (info.mid(flags + 6).trimmed().split('\n')[0].toInt(nullptr, 8) & O_ACCMODE) == O_RDWR)
            return true;
    }
    return false;
}

// What the system's lock call answers in lockCallAnswers.
int lockAnswer = 0;

enum class Setup {
    ReadOnlyFile, FolderInItsPlace, FileSizeLimit, FullDisk, ReadOnlyDisk, ReadOnlyFolder, AnotherSave, ProgramLock,
    LibreOfficeLock, LibreOfficeHere, ExcelOwner, ProgramWindow, StaleProgramWindow, OwnWindow,
};

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(ErrorCode)

class SavingTest : public QObject {
    Q_OBJECT
private slots:
    // The file keeps its mode, owner and group, a link stays a link, and a leftover of our
    // own interrupted save goes (another program's files stay).
    void keepsAttributesAndTidiesUp()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        QVERIFY(QFile::link(path, dir.filePath(QStringLiteral("ссылка.xls"))));
        // The temporary file of a save of «Зендра.xls» beside it is not ours to remove.
        const QStringList others{QStringLiteral(".Зендра.xls.orbelant-a1b2c3"), QStringLiteral(".другая.xls.orbelant-a1b2c3"),
                                 QStringLiteral(".зендра.xls.orbelant-1234567"), QStringLiteral(".зендра.xls.orbelant-a1b2c!"),
                                 QStringLiteral("зендра.xls"), QStringLiteral("зендра.xls.a1b2c3"), QStringLiteral("ссылка.xls")};
        for (const QString &name : others.mid(0, 4) + QStringList{QStringLiteral(".зендра.xls.orbelant-a1b2c3"), others[5]})
            QVERIFY(writeBytes(dir.filePath(name), "остаток"));
        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup;
        QVERIFY(QFile::setPermissions(path, mode));
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 4321, 4322), 0);

        const QString link = dir.filePath(QStringLiteral("ссылка.xls"));
        QVERIFY(storeRecord(link, *readSheet(link, Sheet), 0, {{StageColumn, QStringLiteral("Через ссылку")}}));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(stageOf(path, 0), QStringLiteral("Через ссылку"));
        QCOMPARE(QFile::permissions(path) & 0x7077, mode);
        QVERIFY(!root || (QFileInfo(path).ownerId() == 4321 && QFileInfo(path).groupId() == 4322));
        QCOMPARE(entriesOf(dir.path()), others);
    }

    void saveBesideOthers_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QByteArray>("lock"); // the other program's lock or owner file
        QTest::addColumn<ErrorCode>("code"); // ChangedOnDisk stands for "saved"
        QTest::addColumn<QString>("words");  // %1: the process of the other program
        const auto row = [](const char *name, Setup setup, ErrorCode code, const char *words, const QByteArray &lock = {}) {
            QTest::newRow(name) << setup << lock << code << QString::fromUtf8(words);
        };
        const QByteArray here = libreOfficeLock(officelock::hostName(), "file:///x");
        row("file protected against writing", Setup::ReadOnlyFile, ErrorCode::ReadOnly, "защищён от записи");
        row("a folder in the file's place", Setup::FolderInItsPlace, ErrorCode::WriteFailed, "не обычный файл");
        row("file size limit", Setup::FileSizeLimit, ErrorCode::WriteFailed, "файл слишком велик");
        row("disk full", Setup::FullDisk, ErrorCode::WriteFailed, "на диске нет места");
        row("read-only disk", Setup::ReadOnlyDisk, ErrorCode::WriteFailed, "диск доступен только для чтения");
        row("folder without write permission", Setup::ReadOnlyFolder, ErrorCode::WriteFailed, "нет прав на запись в папку");
        row("another save holds the workbook", Setup::AnotherSave, ErrorCode::Busy, "сохраняет другая программа");
        row("another program locks the workbook", Setup::ProgramLock, ErrorCode::LockedByOther,
            "«зендра.xls» сейчас заблокирована программой «python3» (процесс %1)");
        // LibreOffice's lock file as LibreOffice writes it: commas and semicolons escaped
        row("LibreOffice on another machine", Setup::LibreOfficeLock, ErrorCode::LockedByOther, "LibreOffice у пользователя «Иван, мл.»",
            "\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd\\, \xd0\xbc\xd0\xbb.,ivan,host,07.12.2026 10:15,file:///x\\;y;");
        row("LibreOffice without a user name", Setup::LibreOfficeLock, ErrorCode::LockedByOther, "у пользователя «ivan»",
            ",ivan,host,07.12.2026 10:15,file:///x;");
        row("LibreOffice lock of two fields", Setup::LibreOfficeLock, ErrorCode::LockedByOther, "в LibreOffice (файл", "ivan,host;");
        row("LibreOffice lock of six fields", Setup::LibreOfficeLock, ErrorCode::LockedByOther, "в LibreOffice (файл", "a,b,c,d,e,f;");
        row("LibreOffice lock with an escape it never writes", Setup::LibreOfficeLock, ErrorCode::LockedByOther, "в LibreOffice (файл", "a\\b,c,d,e,f;");
        row("LibreOffice running here", Setup::LibreOfficeHere, ErrorCode::LockedByOther, "в LibreOffice у пользователя «Иван, мл.»", here);
        row("LibreOffice's leftover lock here", Setup::LibreOfficeLock, ErrorCode::ChangedOnDisk, "", here);
        // Word pads the 8-bit name with zeros to 54; a name of 32 letters then puts a space (0x20) at 54.
        const QByteArray longName = QString(32, u'Ж').toUtf8();
        QByteArray word = excelOwner(QString::fromUtf8(longName));
        word.replace(33, 21, QByteArray(21, '\0')).remove(54, 1);
        row("Excel", Setup::ExcelOwner, ErrorCode::LockedByOther, "Microsoft Excel у пользователя «Ё»", excelOwner(QStringLiteral("Ё")));
        row("Word", Setup::ExcelOwner, ErrorCode::LockedByOther, ("у пользователя «" + longName + "»").constData(), word);
        row("an owner file cut short", Setup::ExcelOwner, ErrorCode::LockedByOther, "в Microsoft Excel (файл", "short");
        row("while another window has it open", Setup::ProgramWindow, ErrorCode::LockedByOther, "в Орбеланте у пользователя «Иван, мл.»");
        row("after a window crashed", Setup::StaleProgramWindow, ErrorCode::ChangedOnDisk, "");
        row("this window's own lock", Setup::OwnWindow, ErrorCode::ChangedOnDisk, "");
    }

    // A refusal names the workbook and its cause, and leaves the workbook and its folder
    // exactly as they were; locks of programs gone, and of the saving program, do not stop a save.
    void saveBesideOthers()
    {
        QFETCH(Setup, setup);
        QFETCH(QByteArray, lock);
        QFETCH(ErrorCode, code);
        QFETCH(QString, words);
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        const bool root = ::geteuid() == 0;
        if (setup == Setup::FullDisk || setup == Setup::ReadOnlyDisk) {
            if (!root || ::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=100k") != 0)
                QSKIP("a disk of its own needs root (mount)");
        }
        const auto unmount = qScopeGuard([&] { ::umount(folder.constData()); });

        const QString path = copySample(dir.path());
        const auto table = readSheet(path, Sheet);
        QVERIFY(table);
        const QByteArray before = readAll(path);
        const QString here = officelock::hostName();
        std::optional<LockHolder> holder;
        QProcess libreOffice, program;
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit previousLimit = limit;
        const QString lockPath = libreOfficeLockPath(path);
        const auto ourWindow = [&](qint64 process) { return writeBytes(lockPath, libreOfficeLock(here, QStringLiteral("orbelant:%1").arg(process))); };
        bool ready = true;
        switch (setup) {
        case Setup::ReadOnlyFile: ready = QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther); break;
        case Setup::FolderInItsPlace: ready = QFile::remove(path) && QDir().mkdir(path); break;
        case Setup::FileSizeLimit:
            std::signal(SIGXFSZ, SIG_IGN);
            limit.rlim_cur = 32 * 1024;
            ready = setrlimit(RLIMIT_FSIZE, &limit) == 0;
            break;
        case Setup::ReadOnlyDisk: ready = ::mount("tmpfs", folder.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; break;
        case Setup::FullDisk: break; // the disk of 100 KiB holds the workbook, not a second copy
        case Setup::ReadOnlyFolder: // root writes in any folder: it saves as nobody then
            ready = QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup)
                && (!root || (QFile::setPermissions(path, QFile::ReadGroup | QFile::WriteGroup) && ::seteuid(65534) == 0));
            break;
        case Setup::AnotherSave: holder.emplace(path, F_WRLCK); break;
        case Setup::ProgramLock: // a classic POSIX lock, as backup and sync programs take
            program.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(
                "import fcntl, sys\nf = open(sys.argv[1], 'rb')\nfcntl.lockf(f, fcntl.LOCK_SH)\nprint(flush=True)\nsys.stdin.read()"), path});
            ready = program.waitForReadyRead();
            words = words.arg(program.processId());
            break;
        case Setup::LibreOfficeHere: // any process named soffice.bin, as LibreOffice's is
            QFile::copy(QStringLiteral("/bin/sleep"), dir.filePath(QStringLiteral("soffice.bin")));
            libreOffice.start(dir.filePath(QStringLiteral("soffice.bin")), {QStringLiteral("60")});
            ready = libreOffice.waitForStarted();
            [[fallthrough]];
        case Setup::LibreOfficeLock: ready = ready && writeBytes(lockPath, lock); break;
        case Setup::ExcelOwner: ready = writeBytes(excelOwnerPath(path), lock); break;
        case Setup::StaleProgramWindow: ready = ourWindow(1); break;
        case Setup::ProgramWindow: ready = ourWindow(1) && holder.emplace(lockPath, F_RDLCK).locked; break;
        case Setup::OwnWindow: ready = ourWindow(officelock::processId()) && holder.emplace(lockPath, F_RDLCK).locked; break;
        }
        QVERIFY(ready);
        QVERIFY(!holder || holder->locked);
        const QStringList entries = entriesOf(dir.path());

        const auto stored = storeRecord(path, *table, 0, {{StageColumn, QStringLiteral("Новый ярус")}});

        QVERIFY(!root || ::seteuid(0) == 0);
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (QProcess *process : {&libreOffice, &program}) {
            process->kill();
            process->waitForFinished();
        }
        if (code == ErrorCode::ChangedOnDisk) {
            QVERIFY2(stored, stored ? "" : qPrintable(stored.error().message));
            QCOMPARE(stageOf(path, 0), QStringLiteral("Новый ярус"));
            return;
        }
        QVERIFY2(!stored, "the save went through");
        QCOMPARE(stored.error().code, code);
        QVERIFY2(stored.error().message.contains(words) && stored.error().message.contains(QStringLiteral("зендра.xls")), qPrintable(stored.error().message));
        if (setup != Setup::FolderInItsPlace)
            QCOMPARE(readAll(path), before);
        QCOMPARE(entriesOf(dir.path()), entries);
        if (setup == Setup::ReadOnlyFile)
            QCOMPARE(QFile::permissions(path) & 0x7077, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    }

    // The program's lock file: made when a window opens the workbook, in LibreOffice's
    // format, held while it is open and removed after; a stale one of ours is replaced,
    // another program's is left alone.
    void programLockFile()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        const QString lockPath = libreOfficeLockPath(path);
        const auto ours = [&] { return parseLibreOfficeLock(readAll(lockPath)).value_or(LibreOfficeLockEntry{}); };
        for (const QByteArray &before : {QByteArray(), libreOfficeLock(officelock::hostName(), "orbelant:1")}) {
            if (!before.isEmpty())
                QVERIFY(writeBytes(lockPath, before));
            {
                const auto lock = WorkbookLockFile::create(path);
                QVERIFY(lock && officelock::isHeld(lockPath) && ours().host == officelock::hostName());
                QCOMPARE(ours().orbelantProcess(), std::optional<qint64>(officelock::processId()));
                QCOMPARE(formatLibreOfficeLock(ours()), readAll(lockPath));
                QVERIFY(!WorkbookLockFile::create(path)); // one at a time
            }
            QVERIFY(!QFileInfo::exists(lockPath));
        }
        const QByteArray theirs = libreOfficeLock(QStringLiteral("другая-машина"), "file:///x");
        QVERIFY(writeBytes(lockPath, theirs));
        QVERIFY(!WorkbookLockFile::create(path));
        QCOMPARE(readAll(lockPath), theirs);
    }

    // Made by two processes at once, again and again, the lock file is held by one of them
    // at a time: whoever holds it finds its own content there.
    void lockFileMadeTogether()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ORBELANT_LOCK_RACE"), path);
        std::vector<std::unique_ptr<QProcess>> racers;
        for (int i = 0; i < 2; ++i) {
            racers.push_back(std::make_unique<QProcess>());
            racers.back()->setProcessEnvironment(environment);
            racers.back()->start(QCoreApplication::applicationFilePath(), {QStringLiteral("lockFileRacer")});
        }
        for (auto &racer : racers) {
            QVERIFY(racer->waitForFinished(120000));
            QVERIFY2(racer->exitCode() == 0, racer->readAllStandardOutput().constData());
        }
        QVERIFY(!QFileInfo::exists(libreOfficeLockPath(path)));
    }
    void lockFileRacer()
    {
        const QString path = qEnvironmentVariable("ORBELANT_LOCK_RACE");
        if (path.isEmpty())
            QSKIP("run by lockFileMadeTogether");
        for (int i = 0; i < 3000; ++i) {
            if (const auto lock = WorkbookLockFile::create(path)) {
                const auto entry = parseLibreOfficeLock(readAll(lock->path()));
                QVERIFY2(entry && entry->orbelantProcess() == officelock::processId(), "held, but not ours");
            }
        }
    }

    // A file system without locks saves with the re-read check alone; a refusal without
    // words of its own is told with the system's number.
    void lockCallAnswers_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("refusal"); // empty: the lock is given
        QTest::newRow("no locks") << ENOLCK << QString();
        QTest::newRow("locks not supported") << EOPNOTSUPP << QString();
        QTest::newRow("no lock call") << ENOSYS << QString();
        QTest::newRow("an error without words") << EDEADLK << QStringLiteral("«зендра.xls»: ошибка системы № %1").arg(EDEADLK);
    }
    void lockCallAnswers()
    {
        QFETCH(int, answer);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        lockAnswer = answer;
        const auto lock = SaveLock::acquire(copySample(dir.path()), std::chrono::milliseconds(0), {}, [](qintptr) { return lockAnswer; });
        QCOMPARE(lock ? QString() : lock.error().message, refusal.isEmpty() ? refusal : Error::make(ErrorCode::WriteFailed, refusal).message);
    }

    // Tools saving at once: a save waits for the one before and then reads the file again,
    // so edits of different rows all stay and an edit of a row changed meanwhile is refused.
    // The tool finds a column without the blanks around its name and stores the text as given,
    // a byte order mark and blanks included.
    void overlappingSaves_data()
    {
        QTest::addColumn<QList<int>>("records");
        QTest::newRow("different rows") << QList<int>{2, 3};
        QTest::newRow("the same row") << QList<int>{2, 2};
    }
    void overlappingSaves()
    {
        QFETCH(QList<int>, records);
        const auto edit = [](int i) { return QStringLiteral("\uFEFF правка %1 ").arg(i); };
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        std::vector<std::unique_ptr<QProcess>> tools;
        {
            LockHolder save(path, F_WRLCK); // held until both tools have read and wait for it
            for (int i = 0; i < records.size(); ++i) {
                tools.push_back(std::make_unique<QProcess>());
                tools.back()->start(QStringLiteral(ORBELANT_TOOL), {QStringLiteral("set"), path, Sheet, QString::number(records[i]), QStringLiteral(" ярус "), edit(i)});
            }
            for (auto &tool : tools)
                QTRY_VERIFY_WITH_TIMEOUT(opensForWriting(tool->processId(), path), 60000);
        }
        int refused = 0;
        for (auto &tool : tools) {
            QVERIFY(tool->waitForFinished() || tool->state() == QProcess::NotRunning);
            refused += tool->exitCode() != 0;
            QVERIFY(tool->exitCode() == 0 || QString::fromUtf8(tool->readAllStandardError()).contains(QStringLiteral("изменила другая программа")));
        }
        const bool sameRow = records.first() == records.last();
        QCOMPARE(refused, sameRow ? 1 : 0);
        for (int i = 0; i < records.size() && !sameRow; ++i)
            QCOMPARE(stageOf(path, records[i] - 1), edit(i));
    }

    // A save reads the file again to build the new one, and refuses when another program
    // replaced it meanwhile; the file is left as that program wrote it.
    void refusesToSaveOverAFileChangedSinceItWasRead()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        const auto document = CompoundDocument::open(path);
        QVERIFY(document && document->saveWithWorkbookStream(path, document->workbookStream()));
        const QByteArray other = readAll(path).left(4096);
        QVERIFY(writeBytes(path, other));
        const auto refused = document->saveWithWorkbookStream(path, document->workbookStream());
        QVERIFY(!refused && refused.error().code == ErrorCode::ChangedOnDisk);
        QCOMPARE(readAll(path), other);
        QVERIFY(QFile::resize(path, 600 << 20)); // grown past what is read at all
        QCOMPARE(document->saveWithWorkbookStream(path, document->workbookStream()).error().code, ErrorCode::ChangedOnDisk);
        // Nor over a workbook whose sheet is gone.
        const auto table = readSheet(QStringLiteral(ORBELANT_SOURCE_DIR "/sample/зендра.xls"), Sheet);
        QVERIFY(table && makeWorkbooks({{path, QJsonObject{{"sheets", QJsonArray{QJsonObject{{"name", "Лист2"}, {"rows", QJsonArray{QJsonArray{"Ярус"}}}}}}}}}));
        QCOMPARE(storeRecord(path, *table, 0, {{StageColumn, QStringLiteral("x")}}).error().code, ErrorCode::ChangedOnDisk);
        // Nor over one whose header gained a column, its record as it was.
        QJsonArray header = QJsonArray::fromStringList(table->columns), record;
        header.append("Примечание");
        for (qsizetype column = 0; column < table->columnCount(); ++column)
            record.append(table->cell(0, column).kind == Cell::Kind::Number ? QJsonValue(table->cell(0, column).number) : QJsonValue(table->text(0, column)));
        QVERIFY(makeWorkbooks({{path, QJsonObject{{"sheets", QJsonArray{QJsonObject{{"name", Sheet}, {"rows", QJsonArray{header, record}}}}}}}}));
        QCOMPARE(storeRecord(path, *table, 0, {{StageColumn, QStringLiteral("x")}}).error().code, ErrorCode::ChangedOnDisk);
    }

    // An encryption record inside the sheet, which reading passes over, refuses the save,
    // naming the file.
    void refusesAnEncryptedSheet()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        QByteArray bytes = readAll(path);
        const qsizetype window = bytes.lastIndexOf(QByteArray("\x3E\x02\x12\x00", 4)); // the sheet's WINDOW2
        QVERIFY(window > 0 && writeBytes(path, bytes.replace(window, 2, QByteArray("\x2F\x00", 2)))); // now FILEPASS
        const auto table = readSheet(path, Sheet);
        QVERIFY(table);
        const auto refused = storeRecord(path, *table, 0, {{StageColumn, QStringLiteral("x")}});
        QVERIFY(!refused && refused.error().code == ErrorCode::Encrypted);
        QVERIFY2(refused.error().message.startsWith(QStringLiteral("Книга «зендра.xls»")), qPrintable(refused.error().message));
    }
};

QTEST_GUILESS_MAIN(SavingTest)
#include "tst_saving.moc"

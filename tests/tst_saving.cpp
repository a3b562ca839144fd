// Saving beside other programs: one save at a time across processes, office lock files,
// read-only and damaged workbooks, the file's attributes, and a reason for every refusal.

#include "ole/filereplace.h"
#include "ole/officelocks.h"
#include "testsupport.h"
#include "workbook.h"
#include "writeback.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace orbelant;

namespace {

const QString Sheet = QStringLiteral("Лист1");
constexpr qsizetype StageColumn = 5; // Ярус

QString copySample(const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("зендра.xls"));
    QFile::copy(testsupport::sourceDir() + QStringLiteral("/sample/зендра.xls"), path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return path;
}

// Everything in the folder, hidden files included: a save leaves nothing of its own behind.
QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

Result<std::vector<Cell>> storeStage(const QString &path, qsizetype record, const QString &text, Saver saver = Saver::Window)
{
    const auto table = readSheet(path, Sheet);
    if (!table)
        return std::unexpected(table.error());
    return storeRecord(path, *table, record, {CellEdit{StageColumn, text}}, saver);
}

QString stageOf(const QString &path, qsizetype record)
{
    const auto table = readSheet(path, Sheet);
    return table ? table->text(record, StageColumn) : QStringLiteral("(не читается)");
}

QByteArray libreOfficeLock(const QString &user, const QString &host, const QString &profile)
{
    return formatLibreOfficeLock({user, QStringLiteral("ivan"), host, QStringLiteral("07.12.2026 10:15"), profile});
}

// Excel's owner file for a user name, as Excel writes it.
QByteArray excelOwner(const QString &user)
{
    QByteArray bytes(165, ' ');
    bytes[0] = static_cast<char>(user.size());
    bytes.replace(1, user.size(), user.toLatin1());
    bytes[55] = static_cast<char>(user.size());
    bytes[56] = 0;
    for (qsizetype i = 0; i < user.size(); ++i) {
        bytes[57 + 2 * i] = static_cast<char>(user[i].unicode() & 0xFF);
        bytes[58 + 2 * i] = static_cast<char>(user[i].unicode() >> 8);
    }
    return bytes;
}

// A process that looks like LibreOffice to the lock check: /bin/sleep under its name.
class FakeLibreOffice {
public:
    explicit FakeLibreOffice(const QString &folder)
    {
        const QString program = QDir(folder).filePath(QStringLiteral("soffice.bin"));
        QFile::copy(QStringLiteral("/bin/sleep"), program);
        m_process.start(program, {QStringLiteral("60")});
        m_process.waitForStarted();
    }
    ~FakeLibreOffice()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

private:
    QProcess m_process;
};

// Holds a file open with a lock, as a window of the program in another process holds its
// lock file, or as another save holds the workbook.
class LockHolder {
public:
    explicit LockHolder(const QString &path, short type)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC))
    {
        struct flock lock = {};
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        m_locked = m_fd >= 0 && ::fcntl(m_fd, F_OFD_SETLK, &lock) == 0;
    }
    ~LockHolder() { release(); }
    void release()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    bool locked() const { return m_locked; }

private:
    int m_fd;
    bool m_locked = false;
};

// A small disk of its own for the workbook (root only), to fill up or to make read-only.
class SmallDisk {
public:
    explicit SmallDisk(const QString &folder) : m_folder(QFile::encodeName(folder))
    {
        m_mounted = ::geteuid() == 0 && ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, "size=100k") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount(m_folder.constData());
    }
    bool mounted() const { return m_mounted; }
    bool makeReadOnly() { return ::mount("tmpfs", m_folder.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

private:
    QByteArray m_folder;
    bool m_mounted = false;
};

bool finished(QProcess &process)
{
    return process.state() == QProcess::NotRunning || process.waitForFinished();
}

enum class Cause {
    ReadOnlyFile, FolderInItsPlace, FileSizeLimit, FullDisk, ReadOnlyDisk, ReadOnlyFolder, AnotherSave,
    LibreOfficeElsewhere, LibreOfficeHere, Excel, ProgramWindowForTheTool,
};

} // namespace

Q_DECLARE_METATYPE(Cause)
Q_DECLARE_METATYPE(ErrorCode)

class SavingTest : public QObject {
    Q_OBJECT
private slots:
    void keepsModeOwnerAndLinks()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        const QString link = dir.filePath(QStringLiteral("ссылка.xls"));
        QVERIFY(QFile::link(path, link));
        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup;
        QVERIFY(QFile::setPermissions(path, mode));
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 4321, 4322), 0);

        QVERIFY(storeStage(link, 0, QStringLiteral("Через ссылку")));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(stageOf(path, 0), QStringLiteral("Через ссылку"));
        QCOMPARE(QFile::permissions(path) & 0x7077, mode);
        if (root) {
            QCOMPARE(QFileInfo(path).ownerId(), 4321u);
            QCOMPARE(QFileInfo(path).groupId(), 4322u);
        }
        QCOMPARE(entriesOf(dir.path()), QStringList({QStringLiteral("зендра.xls"), QStringLiteral("ссылка.xls")}));
    }

    // An interrupted save of ours left its file behind: the next save removes it, and
    // nothing else.
    void removesOurOwnLeftoversOnly()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        const QStringList others{QStringLiteral(".зендра.xls.orbelant-1234567"), QStringLiteral(".зендра.xls.orbelant-1"),
                                 QStringLiteral("зендра.xls.a1b2c3"), QStringLiteral(".другая.xls.orbelant-a1b2c3")};
        for (const QString &name : others + QStringList{QStringLiteral(".зендра.xls.orbelant-a1b2c3")})
            QVERIFY(testsupport::writeBytes(dir.filePath(name), "остаток"));

        QVERIFY(storeStage(path, 0, QStringLiteral("Новый")));
        QStringList expected = others + QStringList{QStringLiteral("зендра.xls")};
        expected.sort();
        QStringList found = entriesOf(dir.path());
        found.sort();
        QCOMPARE(found, expected);
    }

    void refusedSaveSaysWhy_data()
    {
        QTest::addColumn<Cause>("cause");
        QTest::addColumn<ErrorCode>("code");
        QTest::addColumn<QString>("words");
        QTest::newRow("file protected against writing") << Cause::ReadOnlyFile << ErrorCode::ReadOnly << "только для чтения";
        QTest::newRow("a folder in the file's place") << Cause::FolderInItsPlace << ErrorCode::WriteFailed << "не обычный файл";
        QTest::newRow("file size limit") << Cause::FileSizeLimit << ErrorCode::WriteFailed << "файл слишком велик";
        QTest::newRow("disk full") << Cause::FullDisk << ErrorCode::WriteFailed << "на диске нет места";
        QTest::newRow("read-only disk") << Cause::ReadOnlyDisk << ErrorCode::WriteFailed << "диск доступен только для чтения";
        QTest::newRow("folder without write permission") << Cause::ReadOnlyFolder << ErrorCode::WriteFailed << "нет прав на запись в папку";
        QTest::newRow("another save holds the workbook") << Cause::AnotherSave << ErrorCode::Busy << "сохраняет другая программа";
        QTest::newRow("LibreOffice on another machine") << Cause::LibreOfficeElsewhere << ErrorCode::LockedByOther << "LibreOffice у пользователя «Иван Петров»";
        QTest::newRow("LibreOffice running here") << Cause::LibreOfficeHere << ErrorCode::LockedByOther << "в LibreOffice";
        QTest::newRow("Excel") << Cause::Excel << ErrorCode::LockedByOther << "Microsoft Excel у пользователя «Petr»";
        QTest::newRow("the tool while a window has it open") << Cause::ProgramWindowForTheTool << ErrorCode::LockedByOther << "в Орбеланте";
    }

    // Each refusal names the workbook and its cause, and leaves the workbook and its folder
    // exactly as they were.
    void refusedSaveSaysWhy()
    {
        QFETCH(Cause, cause);
        QFETCH(ErrorCode, code);
        QFETCH(QString, words);
        QTemporaryDir dir;
        const bool root = ::geteuid() == 0;
        const bool needsDisk = cause == Cause::FullDisk || cause == Cause::ReadOnlyDisk;
        std::optional<SmallDisk> disk;
        if (needsDisk && !disk.emplace(dir.path()).mounted())
            QSKIP("a disk of its own needs root (mount)");
        if (cause == Cause::ReadOnlyFolder && root)
            QSKIP("root writes in any folder");

        QString path = copySample(dir.path());
        auto table = readSheet(path, Sheet);
        QVERIFY2(table, table ? "" : qPrintable(table.error().message));
        const QByteArray before = testsupport::readAll(path);

        Saver saver = Saver::Window;
        std::optional<LockHolder> holder;
        std::optional<FakeLibreOffice> libreOffice;
        rlimit previousLimit{};
        switch (cause) {
        case Cause::ReadOnlyFile:
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
            break;
        case Cause::FolderInItsPlace:
            QVERIFY(QFile::remove(path) && QDir().mkdir(path));
            break;
        case Cause::FileSizeLimit:
            getrlimit(RLIMIT_FSIZE, &previousLimit);
            std::signal(SIGXFSZ, SIG_IGN);
            {
                rlimit small = previousLimit;
                small.rlim_cur = 32 * 1024;
                QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
            }
            break;
        case Cause::ReadOnlyDisk:
            QVERIFY(disk->makeReadOnly());
            break;
        case Cause::ReadOnlyFolder:
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            break;
        case Cause::AnotherSave:
            holder.emplace(path, F_WRLCK);
            QVERIFY(holder->locked());
            break;
        case Cause::LibreOfficeElsewhere:
            QVERIFY(testsupport::writeBytes(libreOfficeLockPath(path), libreOfficeLock(QStringLiteral("Иван Петров"), QStringLiteral("другая-машина"),
                                                                       QStringLiteral("file:///home/ivan/.config/libreoffice/4"))));
            break;
        case Cause::LibreOfficeHere:
            libreOffice.emplace(dir.path());
            QVERIFY(testsupport::writeBytes(libreOfficeLockPath(path), libreOfficeLock({}, officelock::hostName(), QStringLiteral("file:///x"))));
            break;
        case Cause::Excel:
            QVERIFY(testsupport::writeBytes(excelOwnerPath(path), excelOwner(QStringLiteral("Petr"))));
            break;
        case Cause::ProgramWindowForTheTool:
            saver = Saver::Tool;
            QVERIFY(testsupport::writeBytes(libreOfficeLockPath(path), libreOfficeLock(QStringLiteral("Иван"), officelock::hostName(),
                                                                       QStringLiteral("orbelant:1"))));
            holder.emplace(libreOfficeLockPath(path), F_RDLCK);
            QVERIFY(holder->locked());
            break;
        default:
            break;
        }
        const QStringList entries = entriesOf(dir.path());

        const auto stored = storeRecord(path, *table, 0, {CellEdit{StageColumn, QStringLiteral("Не записан")}}, saver);

        if (cause == Cause::FileSizeLimit)
            setrlimit(RLIMIT_FSIZE, &previousLimit);
        if (cause == Cause::ReadOnlyFolder)
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(!stored, "the save went through");
        QCOMPARE(stored.error().code, code);
        QVERIFY2(stored.error().message.contains(words), qPrintable(stored.error().message));
        QVERIFY2(stored.error().message.contains(QStringLiteral("зендра.xls")), qPrintable(stored.error().message));
        if (cause != Cause::FolderInItsPlace)
            QCOMPARE(testsupport::readAll(path), before);
        QCOMPARE(entriesOf(dir.path()), entries);
        if (cause == Cause::ReadOnlyFile)
            QCOMPARE(QFile::permissions(path) & 0x7077, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    }

    // Locks whose program is gone, and locks of the saving program itself, do not stop a save.
    void locksThatDoNotStopASave_data()
    {
        QTest::addColumn<QByteArray>("lock");
        QTest::addColumn<bool>("held");
        QTest::addColumn<bool>("byTheTool");
        const QString here = officelock::hostName();
        const QString ours = QStringLiteral("orbelant:%1").arg(officelock::processId());
        QTest::newRow("LibreOffice's lock of this machine, no LibreOffice running")
            << libreOfficeLock(QStringLiteral("Иван"), here, QStringLiteral("file:///x")) << false << true;
        QTest::newRow("the program's lock nobody holds any more") << libreOfficeLock({}, here, QStringLiteral("orbelant:1")) << false << true;
        QTest::newRow("another window of the program") << libreOfficeLock({}, here, QStringLiteral("orbelant:1")) << true << false;
        QTest::newRow("this window's own lock") << libreOfficeLock({}, here, ours) << true << false;
    }
    void locksThatDoNotStopASave()
    {
        QFETCH(QByteArray, lock);
        QFETCH(bool, held);
        QFETCH(bool, byTheTool);
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        QVERIFY(testsupport::writeBytes(libreOfficeLockPath(path), lock));
        std::optional<LockHolder> holder;
        if (held)
            holder.emplace(libreOfficeLockPath(path), F_RDLCK);

        const auto stored = storeStage(path, 1, QStringLiteral("Записан"), byTheTool ? Saver::Tool : Saver::Window);
        QVERIFY2(stored, stored ? "" : qPrintable(stored.error().message));
        QCOMPARE(stageOf(path, 1), QStringLiteral("Записан"));
    }

    // The program's lock file: made when a window opens the workbook, in LibreOffice's
    // format, held while it is open and removed after; a stale one of ours is replaced,
    // another program's is left alone.
    void programLockFile()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        const QString lockPath = libreOfficeLockPath(path);
        {
            const auto lock = WorkbookLockFile::create(path);
            QVERIFY(lock);
            const auto entry = parseLibreOfficeLock(testsupport::readAll(lockPath));
            QVERIFY(entry);
            QCOMPARE(entry->orbelantProcess(), std::optional<qint64>(officelock::processId()));
            QCOMPARE(entry->host, officelock::hostName());
            QVERIFY(officelock::isHeld(lockPath));
            QVERIFY(!WorkbookLockFile::create(path)); // one lock at a time
        }
        QVERIFY(!QFileInfo::exists(lockPath));

        QVERIFY(testsupport::writeBytes(lockPath, libreOfficeLock({}, officelock::hostName(), QStringLiteral("orbelant:1"))));
        {
            const auto replaced = WorkbookLockFile::create(path);
            QVERIFY(replaced);
            QCOMPARE(parseLibreOfficeLock(testsupport::readAll(lockPath))->orbelantProcess(),
                     std::optional<qint64>(officelock::processId()));
        }
        QVERIFY(!QFileInfo::exists(lockPath));

        const QByteArray theirs = libreOfficeLock(QStringLiteral("Иван"), QStringLiteral("другая-машина"), QStringLiteral("file:///x"));
        QVERIFY(testsupport::writeBytes(lockPath, theirs));
        QVERIFY(!WorkbookLockFile::create(path));
        QCOMPARE(testsupport::readAll(lockPath), theirs);
    }

    void lockFilesReadAsTheirProgramsWriteThem()
    {
        const auto entry = parseLibreOfficeLock("\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd\\, \xd0\xbc\xd0\xbb.,ivan,host,07.12.2026 10:15,file:///x\\;y;");
        QVERIFY(entry);
        QCOMPARE(entry->holder(), QStringLiteral("Иван, мл."));
        QCOMPARE(entry->profile, QStringLiteral("file:///x;y"));
        QCOMPARE(parseLibreOfficeLock(formatLibreOfficeLock(*entry))->userName, entry->userName);
        QCOMPARE(parseLibreOfficeLock(",ivan,host,07.12.2026 10:15,file:///x;")->holder(), QStringLiteral("ivan"));
        QVERIFY(!parseLibreOfficeLock("ivan,host;"));
        QVERIFY(!parseLibreOfficeLock("a,b,c,d,e,f;"));
        QCOMPARE(parseExcelOwner(excelOwner(QStringLiteral("Petr"))), std::optional<QString>(QStringLiteral("Petr")));
        QVERIFY(!parseExcelOwner("short"));
    }

    // Two processes saving at once: the second waits for the first and then reads the file
    // again, so edits of different rows both stay and an edit of the same row is refused.
    void overlappingSaves_data()
    {
        QTest::addColumn<qsizetype>("secondRecord");
        QTest::newRow("different rows") << qsizetype(2);
        QTest::newRow("the same row") << qsizetype(1);
    }
    void overlappingSaves()
    {
        QFETCH(qsizetype, secondRecord);
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        // Both tools read the workbook while a save holds it, then wait for it.
        LockHolder save(path, F_WRLCK);
        QProcess first, second;
        first.start(QStringLiteral(ORBELANT_TOOL), {QStringLiteral("set"), path, Sheet, QStringLiteral("2"), QStringLiteral("Ярус"), QStringLiteral("Первый")});
        second.start(QStringLiteral(ORBELANT_TOOL), {QStringLiteral("set"), path, Sheet, QString::number(secondRecord + 1),
                                                     QStringLiteral("Ярус"), QStringLiteral("Второй")});
        QVERIFY(first.waitForStarted() && second.waitForStarted());
        QTest::qWait(1500);
        save.release();
        QVERIFY(finished(first) && finished(second));

        if (secondRecord != 1) {
            QCOMPARE(first.exitCode() + second.exitCode(), 0);
            QCOMPARE(stageOf(path, 1), QStringLiteral("Первый"));
            QCOMPARE(stageOf(path, 2), QStringLiteral("Второй"));
            return;
        }
        QCOMPARE(first.exitCode() + second.exitCode(), 2); // one saved, one refused
        QProcess &refused = first.exitCode() ? first : second;
        QVERIFY(QString::fromUtf8(refused.readAllStandardError()).contains(QStringLiteral("изменила другая программа")));
        QCOMPARE(stageOf(path, 1), first.exitCode() ? QStringLiteral("Второй") : QStringLiteral("Первый"));
    }

    void manyOverlappingSavesLoseNothing()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        constexpr int Rounds = 12;
        for (int round = 1; round <= Rounds; ++round) {
            QList<QProcess *> tools;
            for (int record : {1, 2, 3}) {
                auto *tool = new QProcess(this);
                tool->start(QStringLiteral(ORBELANT_TOOL), {QStringLiteral("set"), path, Sheet, QString::number(record + 1),
                                                            QStringLiteral("Ярус"), QStringLiteral("%1/%2").arg(record).arg(round)});
                tools.append(tool);
            }
            for (QProcess *tool : tools) {
                QVERIFY(finished(*tool));
                QVERIFY2(tool->exitCode() == 0, tool->readAllStandardError().constData());
                delete tool;
            }
        }
        for (int record : {1, 2, 3})
            QCOMPARE(stageOf(path, record), QStringLiteral("%1/%2").arg(record).arg(Rounds));
    }

    // What is typed is what is stored: a byte order mark and blanks included; a column is
    // found by its name as the header cell spells it or without the blanks around it.
    void storesTextAsTyped()
    {
        QTemporaryDir dir;
        const QString path = copySample(dir.path());
        const QString typed = QStringLiteral("\uFEFF Тоарский ");
        const auto tool = testsupport::run(QStringLiteral(ORBELANT_TOOL),
                                           {QStringLiteral("set"), path, Sheet, QStringLiteral("3"), QStringLiteral(" ярус "), typed});
        QVERIFY2(tool.exitCode == 0, tool.err.constData());
        QCOMPARE(stageOf(path, 2), typed);
    }

    // Damaged files from readers' crash reports: the tool's own message is the only output.
    void diagnosticsAreOurOwn()
    {
        QTemporaryDir dir;
        QStringList files;
        const QString truncated = dir.filePath(QStringLiteral("обрезанная.xls"));
        QVERIFY(testsupport::writeBytes(truncated, testsupport::readAll(testsupport::sourceDir() + QStringLiteral("/sample/зендра.xls")).left(3000)));
        files << truncated;
        if (!testsupport::corpusDir().isEmpty())
            for (const QFileInfo &file : QDir(testsupport::corpusDir() + QStringLiteral("/bad")).entryInfoList(QDir::Files))
                files << file.absoluteFilePath();
        for (const QString &file : files) {
            const auto tool = testsupport::run(QStringLiteral(ORBELANT_TOOL),
                                               {QStringLiteral("set"), file, Sheet, QStringLiteral("1"), QStringLiteral("Ярус"), QStringLiteral("x")});
            QCOMPARE(tool.exitCode, 2);
            QCOMPARE(tool.err.count('\n'), 1);
        }
    }
};

QTEST_GUILESS_MAIN(SavingTest)
#include "tst_saving.moc"

// Replacing a file through Windows' own calls: what the new file keeps of the old one, and
// refusals that name their reason and leave the old file and its folder as they were.

#include "ole/filereplace.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

using namespace orbelant;

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QStringList filesIn(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class FileReplaceTest : public QObject {
    Q_OBJECT
private slots:
    void replacesKeepingAttributes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("книга.xls"));
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        QVERIFY(SetFileAttributesW(native(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
        QVERIFY(replaceFileAtomically(path, "new"));
        QCOMPARE(contents(path), QByteArray("new"));
        // Still hidden, and marked as changed since the last backup.
        QCOMPARE(GetFileAttributesW(native(path).c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
                 DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));

        const QString created = dir.filePath(QStringLiteral("новая.xls"));
        QVERIFY(replaceFileAtomically(created, "first"));
        QCOMPARE(contents(created), QByteArray("first"));
        QCOMPARE(filesIn(dir), (QStringList{QStringLiteral("книга.xls"), QStringLiteral("новая.xls")}));
    }

    void refusalsLeaveTheOldFile_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<QString>("reason");
        QTest::newRow("read-only file") << "read-only" << "файл только для чтения";
        QTest::newRow("open in another program without sharing") << "open" << "файл занят другой программой";
        QTest::newRow("folder in the file's place") << "folder" << "не обычный файл";
        QTest::newRow("folder missing") << "no folder" << "папка не найдена";
    }
    void refusalsLeaveTheOldFile()
    {
        QFETCH(QString, obstacle);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("книга.xls"));
        if (obstacle == QLatin1String("folder")) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("книга.xls")));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
        }
        if (obstacle == QLatin1String("read-only"))
            QVERIFY(SetFileAttributesW(native(path).c_str(), FILE_ATTRIBUTE_READONLY));
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (obstacle == QLatin1String("open")) // as Excel holds an open workbook
            holder = CreateFileW(native(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        const QString target = obstacle == QLatin1String("no folder") ? dir.filePath(QStringLiteral("нет/книга.xls")) : path;

        const auto replaced = replaceFileAtomically(target, "new");
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        SetFileAttributesW(native(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        QVERIFY(!replaced);
        QCOMPARE(replaced.error().code, ErrorCode::WriteFailed);
        QVERIFY2(replaced.error().message.contains(reason), qPrintable(replaced.error().message));
        QCOMPARE(filesIn(dir), QStringList{QStringLiteral("книга.xls")});
        if (obstacle != QLatin1String("folder"))
            QCOMPARE(contents(path), QByteArray("old"));
    }
};

QTEST_GUILESS_MAIN(FileReplaceTest)
#include "tst_filereplace.moc"

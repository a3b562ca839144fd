// The About box's launcher over a registry that answers as Windows does: the values it
// reads, the viewer it starts or the message it shows; and the registry of our own that
// names an installed viewer where the system has none.

#include "sysinfolauncher.h"
#include "viewerregistry.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <map>

using namespace orbelant::sysinfo;
using namespace std::string_literals;

namespace {

// A value as the registry holds it: its type (1 REG_SZ, 4 REG_DWORD), the bytes that land in
// the buffer and the size it says it stored (-1: the size of the bytes). For a test's table,
// type 0 is no key and -1 the key without the value.
struct Stored {
    int type = 0;
    std::string bytes = {};
    int size = -1;
};

// A registry of keys and values in memory that answers as Windows does (its value types and
// status codes by number) and knows the keys still open.
class FakeRegistry final : public Registry {
public:
    using Status = RegistryStatus;
    static constexpr Status success = 0, notFound = 2, invalidHandle = 6, moreData = 234;

    Status openKey(std::uint32_t root, const std::string &subKey, std::uint32_t, KeyHandle &handle) override
    {
        if (root != 0x80000002 || !keys.contains(subKey)) // HKEY_LOCAL_MACHINE
            return notFound;
        handle = ++m_lastHandle;
        m_open[handle] = subKey;
        return success;
    }
    Status queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type, std::span<char> buffer,
                      std::uint32_t &size) override
    {
        const auto &values = keys.at(m_open.at(handle));
        const auto value = values.find(valueName);
        if (value == values.end())
            return notFound;
        const Stored &stored = value->second;
        type = std::uint32_t(stored.type);
        if (stored.bytes.size() > std::min<std::size_t>(size, buffer.size())) {
            size = std::uint32_t(stored.bytes.size());
            return moreData;
        }
        std::memcpy(buffer.data(), stored.bytes.data(), stored.bytes.size());
        size = std::uint32_t(stored.size < 0 ? int(stored.bytes.size()) : stored.size);
        return success;
    }
    Status closeKey(KeyHandle handle) override { return m_open.erase(handle) == 1 ? success : invalidHandle; }
    bool allClosed() const { return m_open.empty(); }

    std::map<std::string, std::map<std::string, Stored>> keys;

private:
    std::map<KeyHandle, std::string> m_open;
    KeyHandle m_lastHandle = 99;
};

const std::string viewer = "C:\\Tools\\viewer.exe";
const QString inFolder = "C:\\Msinfo\\MSINFO32.EXE";

struct Recorder final : FileTest, ProcessStarter, MessageShower {
    std::string existingFileName(const std::string &path) const override
    {
        return QString::fromStdString(path) == inFolder ? "MSINFO32.EXE" : "";
    }
    bool start(const std::string &path) override
    {
        started.append(QString::fromStdString(path));
        if (path == "throws")
            throw std::runtime_error("starter failed");
        return path == viewer || QString::fromStdString(path) == inFolder;
    }
    void show(const std::string &text) override { shown.append(QString::fromStdString(text)); }
    QStringList started, shown;
};

} // namespace

Q_DECLARE_METATYPE(Stored)

class TestSysInfoLauncher : public QObject {
    Q_OBJECT

private slots:
    void startsViewerOrTellsItIsUnavailable_data()
    {
        QTest::addColumn<Stored>("path");        // the viewer's full path
        QTest::addColumn<Stored>("folder");      // the folder that holds MSINFO32.EXE
        QTest::addColumn<QStringList>("started");
        const Stored noKey{0}, noValue{-1}, msinfo{1, "C:\\Msinfo\0"s};
        const QStringList none, viewerStarted{QString::fromStdString(viewer)};
        const auto row = [](const char *name, const Stored &path, const Stored &folder, const QStringList &started) {
            QTest::newRow(name) << path << folder << started;
        };
        row("a path with its NUL", {1, viewer + '\0'}, msinfo, viewerStarted);
        row("a size before the NUL", {1, viewer + "XY\0"s, 19}, msinfo, viewerStarted);
        row("a path that does not start", {1, "C:\\Broken.exe"}, msinfo, {"C:\\Broken.exe"});
        row("one NUL", {1, "\0"s}, msinfo, {""});
        row("filling the buffer", {1, std::string(1024, 'A')}, noKey, {QString(1024, 'A')});
        row("larger than the buffer", {1, std::string(1025, 'L')}, msinfo, {inFolder});
        row("a DWORD, as its text", {4, "\xEF\xCD\xAB\x00"s}, msinfo, {"&hABCDEF"});
        row("a DWORD of five bytes", {4, "\x01\x00\x00\x80\x07"s}, msinfo, {"&h80000001"});
        row("another type: no text", {2, "%Path%\0"s}, msinfo, {""});
        row("size 0", {1, "x", 0}, msinfo, none);
        row("size past the buffer", {1, "x", 1025}, msinfo, none);
        row("no key: the folder's viewer", noKey, msinfo, {inFolder});
        row("no value: the folder's viewer", noValue, msinfo, {inFolder});
        row("a folder without the viewer", noKey, {1, "C:\\Empty"}, none);
        row("neither key", noKey, noKey, none);
        row("a starter that throws", {1, "throws"}, msinfo, {"throws"});
    }
    // The value as Windows stores it: a string up to the size reported, without the NUL
    // that ends it; a DWORD as its number in hexadecimal. Whatever goes wrong, the one
    // message; every key opened is closed.
    void startsViewerOrTellsItIsUnavailable()
    {
        QFETCH(Stored, path);
        QFETCH(Stored, folder);
        QFETCH(QStringList, started);
        FakeRegistry registry;
        for (const auto &[key, name, value] : {std::tuple(primaryKey, primaryValue, path),
                                               std::tuple(fallbackKey, fallbackValue, folder)}) {
            if (value.type < 0)
                registry.keys[key];
            else if (value.type > 0)
                registry.keys[key][name] = value;
        }
        Recorder services;

        SysInfoLauncher(registry, services, services, services).StartSysInfo();

        QCOMPARE(services.started, started);
        const bool told = started != QStringList{QString::fromStdString(viewer)} && started != QStringList{inFolder};
        QCOMPARE(services.shown, told ? QStringList{"System Information Is Unavailable At This Time"} : QStringList());
        QVERIFY(registry.allClosed());
    }

    // Our own registry holds the one value, the first viewer in the search path, as Windows
    // holds a string: with its NUL, in a buffer just large enough. Names match in any case.
    void ownRegistryFindsTheFirstViewer_data()
    {
        QTest::addColumn<QStringList>("programs"); // "folder/name"; "-" at the end: not executable; "/": a folder
        QTest::addColumn<QString>("searchPath");   // folders of the temporary directory
        QTest::addColumn<QString>("found");
        QTest::newRow("the preferred viewer first") << QStringList{"a/kinfocenter", "b/hardinfo"} << "a:b" << "b/hardinfo";
        QTest::newRow("the earlier folder") << QStringList{"a/hardinfo", "b/hardinfo"} << "b:a" << "b/hardinfo";
        QTest::newRow("a folder in the middle") << QStringList{"b/kinfocenter"} << "a:b:c" << "b/kinfocenter";
        QTest::newRow("not executable") << QStringList{"a/hardinfo-", "b/kinfocenter"} << "a:b" << "b/kinfocenter";
        QTest::newRow("a folder of that name") << QStringList{"a/hardinfo/", "a/kinfocenter"} << "a" << "a/kinfocenter";
        QTest::newRow("relative folders are not searched") << QStringList{"hardinfo"} << "::.:a:" << "";
    }
    void ownRegistryFindsTheFirstViewer()
    {
        QFETCH(QStringList, programs);
        QFETCH(QString, searchPath);
        QFETCH(QString, found);
        QTemporaryDir root;
        QDir folder(root.path());
        for (const QString &program : programs) {
            QVERIFY(folder.mkpath(program.endsWith('/') ? program : QFileInfo(program).path()));
            if (program.endsWith('/'))
                continue;
            QFile file(folder.filePath(program.chopped(program.endsWith('-'))));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n") > 0);
            QVERIFY(file.setPermissions(program.endsWith('-') ? QFile::ReadOwner : QFile::ReadOwner | QFile::ExeOwner));
        }
        QStringList folders;
        for (const QString &name : searchPath.split(':'))
            folders.append(name.isEmpty() || name == "." ? name : folder.filePath(name));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(root.path()); // where a relative folder would lead
        ViewerRegistry registry(folders.join(':').toStdString(), {"hardinfo", "kinfocenter"});
        const std::string stored = found.isEmpty() ? "" : folder.filePath(found).toStdString() + '\0';

        KeyHandle handle = 0;
        QCOMPARE(registry.openKey(hkeyLocalMachine, fallbackKey, 0, handle), FakeRegistry::notFound);
        QCOMPARE(registry.openKey(hkeyLocalMachine, "software\\microsoft\\shared tools\\msinfo", 0, handle),
                 FakeRegistry::success);
        std::string buffer(stored.size(), 'x'); // just large enough
        std::uint32_t type = 0, size = std::uint32_t(buffer.size());
        const RegistryStatus status = registry.queryValue(handle, "path", type, buffer, size);
        QDir::setCurrent(previous);

        QCOMPARE(status, found.isEmpty() ? FakeRegistry::notFound : FakeRegistry::success);
        QCOMPARE(buffer.substr(0, found.isEmpty() ? 0 : size), stored);
        QCOMPARE(type, found.isEmpty() ? 0u : 1u); // REG_SZ
        QCOMPARE(registry.closeKey(handle), FakeRegistry::success);
    }
};

QTEST_GUILESS_MAIN(TestSysInfoLauncher)
#include "tst_sysinfolauncher.moc"

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
#include <vector>

using namespace orbelant::sysinfo;

namespace {

// A registry of keys and values in memory that answers as Windows does (its value types and
// status codes by number) and counts the keys opened, or tried, and closed.
class FakeRegistry final : public Registry {
public:
    using Status = RegistryStatus;
    static constexpr Status success = 0, notFound = 2, invalidHandle = 6, moreData = 234;

    struct Value {
        std::uint32_t type;         // 1 REG_SZ, 4 REG_DWORD
        std::string bytes;          // what lands in the buffer
        std::uint32_t reportedSize; // what the registry says it stored
    };
    Status openKey(std::uint32_t root, const std::string &subKey, std::uint32_t, KeyHandle &handle) override
    {
        ++opens;
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
        type = value->second.type;
        if (value->second.bytes.size() > std::min<std::size_t>(size, buffer.size())) {
            size = std::uint32_t(value->second.bytes.size());
            return moreData;
        }
        std::memcpy(buffer.data(), value->second.bytes.data(), value->second.bytes.size());
        size = value->second.reportedSize;
        return success;
    }
    Status closeKey(KeyHandle handle) override
    {
        ++closes;
        return m_open.erase(handle) == 1 ? success : invalidHandle;
    }

    // Every key opened, or tried, was closed again.
    bool allClosed() const { return m_open.empty() && closes == opens; }

    std::map<std::string, std::map<std::string, Value>> keys;
    int opens = 0, closes = 0;

private:
    std::map<KeyHandle, std::string> m_open;
    KeyHandle m_lastHandle = 99;
};

struct Recorder final : FileTest, ProcessStarter, MessageShower {
    std::string existingFileName(const std::string &path) const override
    {
        tested.append(QString::fromStdString(path));
        return path == "C:\\Msinfo\\MSINFO32.EXE" ? "MSINFO32.EXE" : "";
    }
    bool start(const std::string &path) override
    {
        started.append(QString::fromStdString(path));
        if (path == "throws")
            throw std::runtime_error("starter failed");
        return path == "C:\\Tools\\viewer.exe" || path == "C:\\Msinfo\\MSINFO32.EXE";
    }
    void show(const std::string &text) override { shown.append(QString::fromStdString(text)); }
    mutable QStringList tested;
    QStringList started, shown;
};

bool writeProgram(const QString &path, bool executable)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n") > 0
           && file.setPermissions(executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner : QFile::ReadOwner);
}

} // namespace

class TestSysInfoLauncher : public QObject {
    Q_OBJECT

private slots:
    void readsValue_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<uint>("reportedSize");
        QTest::addColumn<int>("outcome"); // 1: read, 0: not read (the text emptied), -1: ValueSizeError
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("string with its NUL") << 1u << QByteArray("C:\\x.exe\0", 9) << 9u << 1 << QByteArray("C:\\x.exe");
        QTest::newRow("size before the NUL") << 1u << QByteArray("ABCDEF\0", 7) << 4u << 1 << QByteArray("ABCD");
        QTest::newRow("one NUL") << 1u << QByteArray(1, '\0') << 1u << 1 << QByteArray();
        QTest::newRow("filling the buffer") << 1u << QByteArray(1024, 'A') << 1024u << 1 << QByteArray(1024, 'A');
        QTest::newRow("larger than the buffer") << 1u << QByteArray(1025, 'L') << 1025u << 0 << QByteArray();
        QTest::newRow("DWORD") << 4u << QByteArray("\xEF\xCD\xAB\x00", 4) << 4u << 1 << QByteArray("&hABCDEF");
        QTest::newRow("DWORD of five bytes") << 4u << QByteArray("\x01\x00\x00\x80\x07", 5) << 5u << 1 << QByteArray("&h80000001");
        QTest::newRow("another type leaves the text") << 2u << QByteArray("%Path%\0", 7) << 7u << 1 << QByteArray("before");
        QTest::newRow("size 0") << 1u << QByteArray("x") << 0u << -1 << QByteArray("before");
        QTest::newRow("size past the buffer") << 1u << QByteArray("x") << 1025u << -1 << QByteArray("before");
    }
    void readsValue()
    {
        QFETCH(uint, type);
        QFETCH(QByteArray, data);
        QFETCH(uint, reportedSize);
        QFETCH(int, outcome);
        QFETCH(QByteArray, text);
        FakeRegistry registry;
        registry.keys["Key"]["Value"] = {type, data.toStdString(), reportedSize};
        Recorder services;
        SysInfoLauncher launcher(registry, services, services, services);

        std::string value = "before";
        if (outcome < 0)
            QVERIFY_THROWS_EXCEPTION(ValueSizeError, launcher.GetKeyValue(hkeyLocalMachine, "Key", "Value", value));
        else
            QCOMPARE(launcher.GetKeyValue(hkeyLocalMachine, "Key", "Value", value), outcome == 1);
        QCOMPARE(QByteArray::fromStdString(value), text);
        QVERIFY(registry.allClosed());

        for (const char *key : {"Key", "Missing"}) { // a key or value that is not there empties the text
            value = "before";
            QVERIFY(!launcher.GetKeyValue(hkeyLocalMachine, key, "Missing", value));
            QVERIFY(value.empty() && registry.allClosed());
        }
    }

    void startsViewerOrTellsItIsUnavailable_data()
    {
        QTest::addColumn<QByteArray>("primary");  // "" no key; "-" key without the value; "d…" a DWORD; else a string
        QTest::addColumn<QByteArray>("fallback"); // likewise
        QTest::addColumn<QStringList>("tested");  // files looked for
        QTest::addColumn<QString>("started");     // what was started; empty: nothing
        QTest::addColumn<bool>("told");
        const QByteArray folder("C:\\Msinfo\0", 10);
        const QString inFolder = "C:\\Msinfo\\MSINFO32.EXE";
        QTest::newRow("the path, as it stands") << QByteArray("C:\\Tools\\viewer.exe\0", 20) << folder << QStringList()
                                                << "C:\\Tools\\viewer.exe" << false;
        QTest::newRow("a path that does not start") << QByteArray("C:\\Broken.exe") << folder << QStringList()
                                                    << "C:\\Broken.exe" << true;
        QTest::newRow("a DWORD path, as its text") << QByteArray("d\x10\0\0\0", 5) << folder << QStringList() << "&h10" << true;
        QTest::newRow("no key: the folder's viewer") << QByteArray() << folder << QStringList{inFolder} << inFolder << false;
        QTest::newRow("no value: the folder's viewer") << QByteArray("-") << folder << QStringList{inFolder} << inFolder << false;
        QTest::newRow("a folder without the viewer") << QByteArray() << QByteArray("C:\\Empty\0", 9)
                                                     << QStringList{"C:\\Empty\\MSINFO32.EXE"} << "" << true;
        QTest::newRow("neither key") << QByteArray() << QByteArray() << QStringList() << "" << true;
        QTest::newRow("a folder key without the value") << QByteArray() << QByteArray("-") << QStringList() << "" << true;
        QTest::newRow("an impossible path size") << QByteArray("") << folder << QStringList() << "" << true;
        QTest::newRow("a starter that throws") << QByteArray("throws") << folder << QStringList() << "throws" << true;
    }
    // Whatever goes wrong, the one message; every key opened is closed.
    void startsViewerOrTellsItIsUnavailable()
    {
        QFETCH(QByteArray, primary);
        QFETCH(QByteArray, fallback);
        QFETCH(QStringList, tested);
        QFETCH(QString, started);
        QFETCH(bool, told);
        FakeRegistry registry;
        for (const auto &[key, name, value] : {std::tuple(primaryKey, primaryValue, primary),
                                               std::tuple(fallbackKey, fallbackValue, fallback)}) {
            if (value == "-")
                registry.keys[key];
            else if (value.startsWith('d'))
                registry.keys[key][name] = {4, value.mid(1).toStdString(), 4};
            else if (!value.isNull()) // an empty string: a size the registry cannot have stored
                registry.keys[key][name] = {1, value.toStdString(), std::uint32_t(value.size())};
        }
        Recorder services;

        SysInfoLauncher(registry, services, services, services).StartSysInfo();

        QCOMPARE(services.tested, tested);
        QCOMPARE(services.started, started.isEmpty() ? QStringList() : QStringList{started});
        QCOMPARE(services.shown, told ? QStringList{"System Information Is Unavailable At This Time"} : QStringList());
        QVERIFY(registry.allClosed());
    }

    void ownRegistryFindsTheFirstViewer_data()
    {
        QTest::addColumn<QStringList>("programs"); // "folder/name"; "-" at the end: not executable; "/": a folder
        QTest::addColumn<QString>("searchPath");   // folders of the temporary directory
        QTest::addColumn<QString>("found");
        QTest::newRow("the preferred viewer first") << QStringList{"a/kinfocenter", "b/hardinfo"} << "a:b" << "b/hardinfo";
        QTest::newRow("the earlier folder") << QStringList{"a/hardinfo", "b/hardinfo"} << "b:a" << "b/hardinfo";
        QTest::newRow("the last folder") << QStringList{"c/kinfocenter"} << "a:b:c" << "c/kinfocenter";
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
            if (!program.endsWith('/'))
                QVERIFY(writeProgram(folder.filePath(program.chopped(program.endsWith('-'))), !program.endsWith('-')));
        }
        QStringList folders;
        for (const QString &name : searchPath.split(':'))
            folders.append(name.isEmpty() || name == "." ? name : folder.filePath(name));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(root.path()); // where a relative folder would lead

        const ViewerRegistry registry(folders.join(':').toStdString(), {"hardinfo", "kinfocenter"});
        const QString installed = QString::fromStdString(registry.installedViewer());

        QDir::setCurrent(previous);
        QCOMPARE(installed, found.isEmpty() ? QString() : folder.filePath(found));
    }

    void ownRegistryHoldsOnlyThePath()
    {
        QTemporaryDir root;
        QVERIFY(writeProgram(root.filePath("hardinfo"), true));
        ViewerRegistry registry(root.path().toStdString(), {"hardinfo"});
        const std::string viewer = root.filePath("hardinfo").toStdString();

        KeyHandle handle = 0;
        QCOMPARE(registry.openKey(hkeyLocalMachine, fallbackKey, 0, handle), FakeRegistry::notFound);
        QCOMPARE(registry.openKey(0x80000001, primaryKey, 0, handle), FakeRegistry::notFound);
        QCOMPARE(registry.openKey(hkeyLocalMachine, "software\\microsoft\\shared tools\\msinfo", 0, handle),
                 FakeRegistry::success);
        std::vector<char> buffer(viewer.size() + 1, 'x');
        std::uint32_t type = 0, size = std::uint32_t(buffer.size());
        QCOMPARE(registry.queryValue(handle, "MSINFO", type, buffer, size), FakeRegistry::notFound);
        QCOMPARE(registry.queryValue(handle, "path", type, buffer, size), FakeRegistry::success);
        QCOMPARE(std::string(buffer.data(), size), viewer + '\0');
        QCOMPARE(type, 1u); // REG_SZ
        size = std::uint32_t(viewer.size());
        QCOMPARE(registry.queryValue(handle, "PATH", type, buffer, size), FakeRegistry::moreData);
        QCOMPARE(size, std::uint32_t(viewer.size() + 1));
        QCOMPARE(registry.closeKey(handle), FakeRegistry::success);
        QCOMPARE(registry.queryValue(handle, "PATH", type, buffer, size), FakeRegistry::invalidHandle);
    }
};

QTEST_GUILESS_MAIN(TestSysInfoLauncher)
#include "tst_sysinfolauncher.moc"

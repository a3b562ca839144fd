#include "services.h"
#include "sysinfoadapters.h"
#include "sysinfolauncher.h"
#include "viewerregistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

using namespace orbelant::sysinfo;

namespace {

struct StoredValue {
    std::uint32_t type = regSz;
    QByteArray bytes;          // what lands in the buffer
    std::uint32_t reportedSize; // what the registry says it stored
};

StoredValue storedAsIs(std::uint32_t type, const QByteArray &bytes)
{
    return {type, bytes, static_cast<std::uint32_t>(bytes.size())};
}

// Keys and values held in maps; records every call and hands out handles from 100 on.
class FakeRegistry final : public Registry {
public:
    RegistryStatus openKey(std::uint32_t root, const std::string &subKey, std::uint32_t access,
                           KeyHandle &handle) override
    {
        roots.push_back(root);
        accessMasks.push_back(access);
        ++openAttempts;
        if (!keys.contains(subKey))
            return registryNotFound;
        handle = ++lastHandle;
        openHandles.insert(handle);
        handleKeys[handle] = subKey;
        openedHandles.push_back(handle);
        return registrySuccess;
    }
    RegistryStatus queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type,
                              std::span<char> buffer, std::uint32_t &size) override
    {
        if (!openHandles.contains(handle))
            return registryInvalidHandle;
        bufferWasClean = std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == '\0'; });
        sizeOnEntry = size;
        const auto &values = keys.at(handleKeys.at(handle));
        const auto value = values.find(valueName);
        if (value == values.end())
            return registryNotFound;
        const StoredValue &stored = value->second;
        type = stored.type;
        if (stored.bytes.size() > qsizetype(size)) {
            size = static_cast<std::uint32_t>(stored.bytes.size());
            return registryMoreData;
        }
        std::memcpy(buffer.data(), stored.bytes.constData(), stored.bytes.size());
        size = stored.reportedSize;
        return registrySuccess;
    }
    RegistryStatus closeKey(KeyHandle handle) override
    {
        closedHandles.push_back(handle);
        return openHandles.erase(handle) == 1 ? registrySuccess : registryInvalidHandle;
    }

    // Every call that opened a key was matched by exactly one close of its handle, and
    // every open attempt, failed ones too, was followed by a close.
    bool everyKeyClosedOnce() const
    {
        for (KeyHandle opened : openedHandles) {
            if (std::count(closedHandles.begin(), closedHandles.end(), opened) != 1)
                return false;
        }
        return openHandles.empty() && int(closedHandles.size()) == openAttempts;
    }

    std::map<std::string, std::map<std::string, StoredValue>> keys;
    std::vector<std::uint32_t> roots;
    std::vector<std::uint32_t> accessMasks;
    std::vector<KeyHandle> openedHandles;
    std::vector<KeyHandle> closedHandles;
    int openAttempts = 0;
    bool bufferWasClean = false;
    std::uint32_t sizeOnEntry = 0;

private:
    std::map<KeyHandle, std::string> handleKeys;
    std::set<KeyHandle> openHandles;
    KeyHandle lastHandle = 99;
};

class FakeFiles final : public FileTest {
public:
    std::string existingFileName(const std::string &path) const override
    {
        asked.append(QString::fromStdString(path));
        return existing.contains(QString::fromStdString(path)) ? "MSINFO32.EXE" : "";
    }
    QStringList existing;
    mutable QStringList asked;
};

class FakeStarter final : public ProcessStarter {
public:
    bool start(const std::string &path) override
    {
        const QString program = QString::fromStdString(path);
        requested.append(program);
        if (program == throwingProgram)
            throw std::runtime_error("starter failed");
        return startable.contains(program);
    }
    QStringList startable; // the programs that exist and run
    QStringList requested;
    QString throwingProgram;
};

class FakeMessages final : public MessageShower {
public:
    void show(const std::string &text) override { shown.append(QString::fromStdString(text)); }
    QStringList shown;
};

// The registry keys and services of one launcher, with the fakes' records.
struct LauncherBench {
    FakeRegistry registry;
    FakeFiles files;
    FakeStarter processes;
    FakeMessages messages;
    SysInfoLauncher launcher{registry, files, processes, messages};

    void storeKey(const std::string &key, std::map<std::string, StoredValue> values)
    {
        registry.keys[key] = std::move(values);
    }
};

QByteArray withNul(const char *text)
{
    return QByteArray(text, qsizetype(std::strlen(text)) + 1);
}

const QString unavailable = QStringLiteral("System Information Is Unavailable At This Time");
const QString viewerInFolder = QStringLiteral("C:\\Msinfo\\MSINFO32.EXE");

bool writeProgram(const QString &path, bool executable)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n") < 0)
        return false;
    file.close();
    const auto mode = executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                 : QFile::ReadOwner | QFile::WriteOwner;
    return file.setPermissions(mode);
}

// The program's own services, recording what the launcher asks of them.
class RecordingMessageBox final : public orbelant::MessageBoxService {
public:
    void show(const QString &text, Icon icon, const QString &caption) override
    {
        shown.append(text);
        icons.append(icon);
        captions.append(caption);
    }
    bool ask(const QString &, const QString &) override { return false; }
    QStringList shown;
    QList<Icon> icons;
    QStringList captions;
};

class RecordingProcessStarter final : public orbelant::ProcessStarter {
public:
    orbelant::ServiceResult start(const QString &path) override
    {
        requested.append(path);
        if (!succeeds)
            return std::unexpected(QStringLiteral("не запускается"));
        return {};
    }
    QStringList requested;
    bool succeeds = true;
};

class NoFiles final : public orbelant::FileTest {
public:
    QString existingFileName(const QString &) const override { return {}; }
};

} // namespace

class SysInfoLauncherTest : public QObject {
    Q_OBJECT
private slots:
    void readsValue_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<uint>("reportedSize");
        QTest::addColumn<QByteArray>("keyValue"); // what the key value ends as

        const QByteArray path = "C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe";
        QTest::newRow("string whose size counts its NUL") << uint(regSz) << path + '\0' << uint(path.size() + 1) << path;
        QTest::newRow("string stored without a NUL") << uint(regSz) << path << uint(path.size()) << path;
        QTest::newRow("size ending before the NUL keeps that many") << uint(regSz) << withNul("ABCDEF") << 4u << QByteArray("ABCD");
        QTest::newRow("string of one NUL is empty") << uint(regSz) << QByteArray(1, '\0') << 1u << QByteArray();
        const QByteArray fullBuffer(1024, 'A');
        QTest::newRow("string filling the buffer") << uint(regSz) << fullBuffer << 1024u << fullBuffer;
        QTest::newRow("DWORD with a zero top byte") << uint(regDword) << QByteArray("\xEF\xCD\xAB\x00", 4) << 4u << QByteArray("&hABCDEF");
        QTest::newRow("DWORD zero") << uint(regDword) << QByteArray(4, '\0') << 4u << QByteArray("&h0");
        QTest::newRow("DWORD all bits") << uint(regDword) << QByteArray(4, '\xFF') << 4u << QByteArray("&hFFFFFFFF");
        QTest::newRow("DWORD with zero middle bytes") << uint(regDword) << QByteArray("\x01\x00\x00\x80", 4) << 4u << QByteArray("&h80000001");
        QTest::newRow("DWORD 0x100 keeps its zero low byte") << uint(regDword) << QByteArray("\x00\x01\x00\x00", 4) << 4u << QByteArray("&h100");
        QTest::newRow("expandable string leaves the text") << uint(regExpandSz) << withNul("%SystemRoot%\\msinfo32.exe") << 26u << QByteArray("previous");
        QTest::newRow("binary leaves the text") << 3u << QByteArray("\x01\x02", 2) << 2u << QByteArray("previous");
    }
    void readsValue()
    {
        QFETCH(uint, type);
        QFETCH(QByteArray, bytes);
        QFETCH(uint, reportedSize);
        QFETCH(QByteArray, keyValue);

        LauncherBench bench;
        bench.storeKey("Key", {{"Value", StoredValue{type, bytes, reportedSize}}});
        SysInfoLauncher &launcher = bench.launcher;

        std::string value = "previous";
        QVERIFY(launcher.GetKeyValue(hkeyLocalMachine, "Key", "Value", value));
        QCOMPARE(QByteArray::fromStdString(value), keyValue);
        QVERIFY(bench.registry.bufferWasClean);
        QCOMPARE(bench.registry.sizeOnEntry, 1024u);
        QCOMPARE(bench.registry.roots, std::vector<std::uint32_t>{0x80000002u});
        QCOMPARE(bench.registry.accessMasks, std::vector<std::uint32_t>{0x2003Fu});
        QVERIFY(bench.registry.everyKeyClosedOnce());
    }

    void unreadableValueGivesEmptyText_data()
    {
        QTest::addColumn<QString>("keyName");
        QTest::addColumn<QString>("valueName");
        QTest::newRow("key missing") << "Missing" << "Value";
        QTest::newRow("value missing") << "Key" << "Missing";
        QTest::newRow("value larger than the buffer") << "Key" << "Long";
    }
    void unreadableValueGivesEmptyText()
    {
        QFETCH(QString, keyName);
        QFETCH(QString, valueName);

        LauncherBench bench;
        bench.storeKey("Key", {{"Value", storedAsIs(regSz, withNul("x"))},
                               {"Long", storedAsIs(regSz, QByteArray(1025, 'L'))}});
        SysInfoLauncher &launcher = bench.launcher;

        std::string value = "previous";
        QVERIFY(!launcher.GetKeyValue(hkeyLocalMachine, keyName.toStdString(), valueName.toStdString(), value));
        QVERIFY(value.empty());
        QVERIFY(bench.registry.everyKeyClosedOnce());
        QVERIFY(bench.messages.shown.isEmpty());
    }

    void impossibleSizeRaisesError_data()
    {
        QTest::addColumn<uint>("reportedSize");
        QTest::newRow("size 0") << 0u;
        QTest::newRow("size past the buffer") << 1025u;
    }
    void impossibleSizeRaisesError()
    {
        QFETCH(uint, reportedSize);
        LauncherBench bench;
        bench.storeKey("Key", {{"Value", StoredValue{regSz, QByteArray(), reportedSize}}});
        SysInfoLauncher &launcher = bench.launcher;

        std::string value;
        QVERIFY_THROWS_EXCEPTION(ValueSizeError, launcher.GetKeyValue(hkeyLocalMachine, "Key", "Value", value));
        QVERIFY(bench.registry.everyKeyClosedOnce());
    }

    void startsViewerOrShowsMessage_data()
    {
        QTest::addColumn<int>("primaryType");   // 0: no key, -1: key without the value
        QTest::addColumn<QByteArray>("primary");
        QTest::addColumn<int>("fallbackType");  // likewise
        QTest::addColumn<QByteArray>("fallback");
        QTest::addColumn<QStringList>("existingFiles");
        QTest::addColumn<QStringList>("startable");
        QTest::addColumn<QStringList>("filesTested");
        QTest::addColumn<QStringList>("startRequests");
        QTest::addColumn<bool>("messageShown");

        const QByteArray viewer = "C:\\Tools\\viewer.exe";
        const QStringList none;
        const int sz = int(regSz);
        const int expandSz = int(regExpandSz);
        QTest::newRow("primary path started unchanged without a file test")
            << sz << viewer + '\0' << sz << withNul("C:\\Msinfo") << none << QStringList{viewer} << none
            << QStringList{viewer} << false;
        QTest::newRow("primary path that cannot be started")
            << sz << viewer + '\0' << sz << withNul("C:\\Msinfo") << QStringList{viewerInFolder}
            << QStringList{viewerInFolder} << none << QStringList{viewer} << true;
        QTest::newRow("primary DWORD is started as its text")
            << int(regDword) << QByteArray("\x10\x00\x00\x00", 4) << 0 << QByteArray() << none << none << none
            << QStringList{"&h10"} << true;
        QTest::newRow("primary key missing, fallback folder has the viewer")
            << 0 << QByteArray() << sz << withNul("C:\\Msinfo") << QStringList{viewerInFolder}
            << QStringList{viewerInFolder} << QStringList{viewerInFolder} << QStringList{viewerInFolder} << false;
        QTest::newRow("primary value missing, fallback folder has the viewer")
            << -1 << QByteArray() << sz << withNul("C:\\Msinfo") << QStringList{viewerInFolder}
            << QStringList{viewerInFolder} << QStringList{viewerInFolder} << QStringList{viewerInFolder} << false;
        QTest::newRow("fallback folder without the viewer")
            << 0 << QByteArray() << sz << withNul("C:\\Msinfo") << none << QStringList{viewerInFolder}
            << QStringList{viewerInFolder} << none << true;
        QTest::newRow("fallback folder stored without a NUL")
            << 0 << QByteArray() << sz << QByteArray("C:\\Msinfo") << QStringList{viewerInFolder}
            << QStringList{viewerInFolder} << QStringList{viewerInFolder} << QStringList{viewerInFolder} << false;
        QTest::newRow("both keys missing") << 0 << QByteArray() << 0 << QByteArray() << none << none << none << none
                                           << true;
        QTest::newRow("fallback key without the value") << 0 << QByteArray() << -1 << QByteArray() << none << none
                                                        << none << none << true;
        QTest::newRow("primary of another type: empty path refused")
            << expandSz << withNul("%ProgramFiles%\\viewer.exe") << sz << withNul("C:\\Msinfo")
            << QStringList{viewerInFolder} << QStringList{viewerInFolder} << none << QStringList{""} << true;
        QTest::newRow("fallback of another type tests the file name alone")
            << 0 << QByteArray() << expandSz << withNul("%ProgramFiles%\\Msinfo") << none << none
            << QStringList{"\\MSINFO32.EXE"} << none << true;
        QTest::newRow("fallback of another type finds the file at the root")
            << 0 << QByteArray() << expandSz << withNul("%ProgramFiles%\\Msinfo") << QStringList{"\\MSINFO32.EXE"}
            << QStringList{"\\MSINFO32.EXE"} << QStringList{"\\MSINFO32.EXE"} << QStringList{"\\MSINFO32.EXE"}
            << false;
        QTest::newRow("primary of size 0 stops before the fallback")
            << sz << QByteArray() << sz << withNul("C:\\Msinfo") << QStringList{viewerInFolder}
            << QStringList{viewerInFolder} << none << none << true;
        QTest::newRow("fallback of size 0") << 0 << QByteArray() << sz << QByteArray() << none << none << none
                                            << none << true;
    }
    void startsViewerOrShowsMessage()
    {
        QFETCH(int, primaryType);
        QFETCH(QByteArray, primary);
        QFETCH(int, fallbackType);
        QFETCH(QByteArray, fallback);
        QFETCH(QStringList, existingFiles);
        QFETCH(QStringList, startable);
        QFETCH(QStringList, filesTested);
        QFETCH(QStringList, startRequests);
        QFETCH(bool, messageShown);

        LauncherBench bench;
        const auto store = [&](const char *key, const char *valueName, int type, const QByteArray &bytes) {
            if (type == -1)
                bench.storeKey(key, {});
            else if (type != 0)
                bench.storeKey(key, {{valueName, storedAsIs(std::uint32_t(type), bytes)}});
        };
        store(primaryKey, primaryValue, primaryType, primary);
        store(fallbackKey, fallbackValue, fallbackType, fallback);
        bench.files.existing = existingFiles;
        bench.processes.startable = startable;
        SysInfoLauncher &launcher = bench.launcher;

        launcher.StartSysInfo();

        QCOMPARE(bench.files.asked, filesTested);
        QCOMPARE(bench.processes.requested, startRequests);
        QCOMPARE(bench.messages.shown, messageShown ? QStringList{unavailable} : QStringList{});
        QVERIFY(bench.registry.everyKeyClosedOnce());
        for (std::uint32_t access : bench.registry.accessMasks)
            QCOMPARE(access, 0x2003Fu);
    }

    void errorFromStarterEndsInMessage()
    {
        LauncherBench bench;
        bench.storeKey(primaryKey, {{primaryValue, storedAsIs(regSz, withNul("C:\\Tools\\viewer.exe"))}});
        bench.processes.throwingProgram = QStringLiteral("C:\\Tools\\viewer.exe");
        SysInfoLauncher &launcher = bench.launcher;

        launcher.StartSysInfo();

        QCOMPARE(bench.messages.shown, QStringList{unavailable});
        QVERIFY(bench.registry.everyKeyClosedOnce());
    }

    // Our own registry where the system has none.
    void viewerRegistryFindsFirstViewer_data()
    {
        QTest::addColumn<QStringList>("programs");    // "folder/name", "folder/name-" when not executable
        QTest::addColumn<QStringList>("searchPath");  // folders of the temporary directory, in order
        QTest::addColumn<QString>("found");           // "folder/name", or empty

        QTest::newRow("preferred viewer before the search order")
            << QStringList{"a/kinfocenter", "b/hardinfo"} << QStringList{"a", "b"} << "b/hardinfo";
        QTest::newRow("same viewer: earlier folder") << QStringList{"a/hardinfo", "b/hardinfo"}
                                                     << QStringList{"b", "a"} << "b/hardinfo";
        QTest::newRow("file without execute permission skipped")
            << QStringList{"a/hardinfo-", "b/kinfocenter"} << QStringList{"a", "b"} << "b/kinfocenter";
        QTest::newRow("folder with a viewer's name skipped")
            << QStringList{"a/hardinfo/", "a/kinfocenter"} << QStringList{"a"} << "a/kinfocenter";
        QTest::newRow("no viewer installed") << QStringList{"a/top"} << QStringList{"a"} << "";
    }
    void viewerRegistryFindsFirstViewer()
    {
        QFETCH(QStringList, programs);
        QFETCH(QStringList, searchPath);
        QFETCH(QString, found);

        QTemporaryDir root;
        QVERIFY(root.isValid());
        for (QString program : programs) {
            QVERIFY(QDir(root.path()).mkpath(program.section(QLatin1Char('/'), 0, 0)));
            if (program.endsWith(QLatin1Char('/')))
                QVERIFY(QDir(root.path()).mkpath(program));
            else if (program.endsWith(QLatin1Char('-')))
                QVERIFY(writeProgram(root.filePath(program.chopped(1)), false));
            else
                QVERIFY(writeProgram(root.filePath(program), true));
        }
        QStringList folders;
        for (const QString &folder : searchPath)
            folders.append(root.filePath(folder));

        ViewerRegistry registry(folders.join(QLatin1Char(':')).toStdString(), {"hardinfo", "kinfocenter"});
        const QString expected = found.isEmpty() ? QString() : root.filePath(found);
        QCOMPARE(QString::fromStdString(registry.installedViewer()), expected);
    }

    void viewerRegistryIgnoresRelativeFolders()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(writeProgram(root.filePath("hardinfo"), true));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root.path()));
        ViewerRegistry registry("::.:", {"hardinfo"});
        const std::string found = registry.installedViewer();
        QDir::setCurrent(previous);
        QVERIFY(found.empty());
    }

    void viewerRegistryHoldsOnlyPrimaryPath()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(writeProgram(root.filePath("hardinfo"), true));
        ViewerRegistry registry(root.path().toStdString(), {"hardinfo"});
        const QByteArray viewer = root.filePath("hardinfo").toLocal8Bit();

        KeyHandle handle = 0;
        QCOMPARE(registry.openKey(hkeyLocalMachine, fallbackKey, 0x2003F, handle), registryNotFound);
        QCOMPARE(registry.openKey(0x80000001, primaryKey, 0x2003F, handle), registryNotFound);
        QCOMPARE(registry.openKey(hkeyLocalMachine, "software\\microsoft\\shared tools\\msinfo", 0x2003F, handle),
                 registrySuccess);

        std::vector<char> buffer(1024, '\0');
        std::uint32_t type = 0;
        std::uint32_t size = 1024;
        QCOMPARE(registry.queryValue(handle, "MSINFO", type, buffer, size), registryNotFound);
        QCOMPARE(registry.queryValue(handle, "path", type, buffer, size), registrySuccess);
        QCOMPARE(type, regSz);
        QCOMPARE(size, uint(viewer.size() + 1));
        QCOMPARE(QByteArray(buffer.data(), size), viewer + '\0');

        std::uint32_t smallSize = 4;
        QCOMPARE(registry.queryValue(handle, "PATH", type, buffer, smallSize), registryMoreData);
        QCOMPARE(smallSize, uint(viewer.size() + 1));

        QCOMPARE(registry.closeKey(handle), registrySuccess);
        QCOMPARE(registry.closeKey(handle), registryInvalidHandle);
        QCOMPARE(registry.queryValue(handle, "PATH", type, buffer, size), registryInvalidHandle);
    }

    // The launcher as the About box runs it where there is no Windows registry.
    void launcherOverOwnRegistryAndProgramServices_data()
    {
        QTest::addColumn<bool>("viewerInstalled");
        QTest::addColumn<bool>("startSucceeds");
        QTest::addColumn<bool>("messageShown");
        QTest::newRow("viewer installed and started") << true << true << false;
        QTest::newRow("viewer installed but refused") << true << false << true;
        QTest::newRow("no viewer installed") << false << true << true;
    }
    void launcherOverOwnRegistryAndProgramServices()
    {
        QFETCH(bool, viewerInstalled);
        QFETCH(bool, startSucceeds);
        QFETCH(bool, messageShown);

        QTemporaryDir root;
        QVERIFY(root.isValid());
        if (viewerInstalled)
            QVERIFY(writeProgram(root.filePath("kinfocenter"), true));
        ViewerRegistry registry(root.path().toStdString(), ViewerRegistry::knownViewers());
        NoFiles files;
        RecordingProcessStarter processes;
        processes.succeeds = startSucceeds;
        RecordingMessageBox messages;
        orbelant::SysInfoFileTestAdapter fileAdapter(files);
        orbelant::SysInfoProcessAdapter processAdapter(processes);
        orbelant::SysInfoMessageAdapter messageAdapter(messages);

        SysInfoLauncher(registry, fileAdapter, processAdapter, messageAdapter).StartSysInfo();

        QCOMPARE(processes.requested,
                 viewerInstalled ? QStringList{root.filePath("kinfocenter")} : QStringList{});
        QCOMPARE(messages.shown, messageShown ? QStringList{unavailable} : QStringList{});
        for (qsizetype i = 0; i < messages.shown.size(); ++i) {
            QCOMPARE(messages.icons.at(i), orbelant::MessageBoxService::Icon::None);
            QVERIFY(messages.captions.at(i).isEmpty()); // the box puts the program's title there
        }
    }
};

QTEST_GUILESS_MAIN(SysInfoLauncherTest)
#include "tst_sysinfolauncher.moc"

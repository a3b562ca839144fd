// The system-information launcher on Windows' own registry, file system and process start,
// without Qt. run_wine_test.sh writes the registry for each scene and runs one of:
//   sysinfo_wine_test values
//       GetKeyValue on the values under HKLM\SOFTWARE\Orbelant Test
//   sysinfo_wine_test start STARTER STARTED MESSAGE FILETESTED [MARKER]
//       StartSysInfo over the registry as it stands. STARTER is "real" (CreateProcess) or
//       "record"; STARTED the path the starter must be asked for, "(empty)" for the empty
//       path, or "-" for none; MESSAGE
//       "message" or "quiet"; FILETESTED the path the file test must be asked for, or "-";
//       MARKER a file the really started program writes, waited for.
//   sysinfo_wine_test version
//       the version resource linked into this program
// Each prints one line per check and "N passed, N failed"; the exit code is 0 when none failed.

#include "sysinfolauncher.h"
#include "win32sysinfo.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using namespace orbelant::sysinfo;

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string &name, const std::string &detail = {})
{
    if (ok) {
        ++passed;
        std::printf("ok - %s\n", name.c_str());
    } else {
        ++failed;
        std::printf("not ok - %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
}

void checkText(const std::string &actual, const std::string &expected, const std::string &name)
{
    check(actual == expected, name, "got \"" + actual + "\", expected \"" + expected + "\"");
}

// Passes every call to Windows' registry and checks that each opened key is closed before
// the next is opened (Windows may hand out the same handle again after a close).
class CountingRegistry final : public Registry {
public:
    RegistryStatus openKey(std::uint32_t root, const std::string &subKey, std::uint32_t access,
                           KeyHandle &handle) override
    {
        ++openAttempts;
        allAccessAsDesigned = allAccessAsDesigned && access == 0x2003F;
        pairedInOrder = pairedInOrder && !keyOpen;
        const RegistryStatus status = m_registry.openKey(root, subKey, access, handle);
        if (status == registrySuccess) {
            keyOpen = true;
            openHandle = handle;
        }
        return status;
    }
    RegistryStatus queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type,
                              std::span<char> buffer, std::uint32_t &size) override
    {
        return m_registry.queryValue(handle, valueName, type, buffer, size);
    }
    RegistryStatus closeKey(KeyHandle handle) override
    {
        ++closes;
        if (keyOpen) {
            pairedInOrder = pairedInOrder && handle == openHandle;
            keyOpen = false;
        }
        return m_registry.closeKey(handle);
    }

    void checkEveryKeyClosed() const
    {
        check(pairedInOrder && !keyOpen && closes == openAttempts,
              "every opened key closed, one close per open attempt",
              std::to_string(openAttempts) + " attempts, " + std::to_string(closes) + " closes");
        check(allAccessAsDesigned, "every key opened with the access mask 0x2003F");
    }

    int openAttempts = 0;
    int closes = 0;
    bool keyOpen = false;
    KeyHandle openHandle = 0;
    bool pairedInOrder = true;
    bool allAccessAsDesigned = true;

private:
    Win32Registry m_registry;
};

class RecordingFileTest final : public FileTest {
public:
    std::string existingFileName(const std::string &path) const override
    {
        asked.push_back(path);
        return m_files.existingFileName(path);
    }
    mutable std::vector<std::string> asked;

private:
    Win32FileTest m_files;
};

class ChosenStarter final : public ProcessStarter {
public:
    explicit ChosenStarter(bool real)
        : m_real(real)
    {
    }
    bool start(const std::string &path) override
    {
        requested.push_back(path);
        return m_real ? m_starter.start(path) : true;
    }
    std::vector<std::string> requested;

private:
    bool m_real;
    Win32ProcessStarter m_starter;
};

class RecordingMessages final : public MessageShower {
public:
    void show(const std::string &text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

const char testKey[] = "SOFTWARE\\Orbelant Test";

std::string readValue(SysInfoLauncher &launcher, const char *valueName, bool expectRead, const std::string &name)
{
    std::string value = "previous";
    const bool read = launcher.GetKeyValue(hkeyLocalMachine, testKey, valueName, value);
    check(read == expectRead, name + ": read " + (expectRead ? "succeeds" : "fails"));
    return value;
}

std::uint32_t reportedSize(const char *valueName)
{
    Win32Registry registry;
    KeyHandle handle = 0;
    if (registry.openKey(hkeyLocalMachine, testKey, 0x2003F, handle) != registrySuccess)
        return 0xFFFFFFFF;
    std::vector<char> buffer(1024, '\0');
    std::uint32_t type = 0;
    std::uint32_t size = 1024;
    const RegistryStatus status = registry.queryValue(handle, valueName, type, buffer, size);
    registry.closeKey(handle);
    return status == registrySuccess ? size : 0xFFFFFFFF;
}

int testValues()
{
    CountingRegistry registry;
    RecordingFileTest files;
    ChosenStarter starter(false);
    RecordingMessages messages;
    SysInfoLauncher launcher(registry, files, starter, messages);

    const std::string text = "C:\\Program Files\\Viewer\\viewer.exe";
    check(reportedSize("Text") == text.size() + 1, "string written by reg add: size counts its NUL");
    // Windows reports the 8 characters as stored; wine adds a NUL on import and reports 9.
    const std::uint32_t noNulSize = reportedSize("TextNoNul");
    check(noNulSize == 8 || noNulSize == 9, "string imported without a NUL: size " + std::to_string(noNulSize));
    checkText(readValue(launcher, "Text", true, "string"), text, "string: text without the NUL");
    checkText(readValue(launcher, "TextNoNul", true, "string without NUL"), "C:\\NoNul",
              "string without NUL: all its characters");
    checkText(readValue(launcher, "EmptyText", true, "empty string"), "", "empty string: empty text");
    checkText(readValue(launcher, "Dword", true, "DWORD"), "&hABCDEF", "DWORD 0x00ABCDEF: &hABCDEF");
    checkText(readValue(launcher, "Zero", true, "DWORD zero"), "&h0", "DWORD 0: &h0");
    checkText(readValue(launcher, "AllBits", true, "DWORD all bits"), "&hFFFFFFFF", "DWORD 0xFFFFFFFF");
    checkText(readValue(launcher, "Expand", true, "expandable string"), "previous",
              "expandable string: text left as it was");
    checkText(readValue(launcher, "Long", false, "value longer than the buffer"), "",
              "value longer than the buffer: empty text");
    checkText(readValue(launcher, "Missing", false, "missing value"), "", "missing value: empty text");

    std::string value = "previous";
    const bool read = launcher.GetKeyValue(hkeyLocalMachine, "SOFTWARE\\Orbelant Test\\Missing", "Text", value);
    check(!read && value.empty(), "missing key: read fails with empty text");

    bool raised = false;
    try {
        launcher.GetKeyValue(hkeyLocalMachine, testKey, "Empty", value);
    } catch (const ValueSizeError &) {
        raised = true;
    }
    check(raised, "string of size 0 raises an error");

    registry.checkEveryKeyClosed();
    check(messages.shown.empty() && starter.requested.empty(), "reading values shows and starts nothing");
    return failed == 0 ? 0 : 1;
}

bool fileExists(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

int testStart(bool realStarter, const std::string &expectedStart, bool expectMessage, const std::string &expectedFileTest,
              const std::string &marker)
{
    CountingRegistry registry;
    RecordingFileTest files;
    ChosenStarter starter(realStarter);
    RecordingMessages messages;
    SysInfoLauncher launcher(registry, files, starter, messages);

    launcher.StartSysInfo();
    // The started program waits a moment before it leaves its marker; StartSysInfo must
    // have come back before that.
    const bool markerRightAfter = !marker.empty() && fileExists(marker);

    const std::vector<std::string> noPaths;
    const std::string startedPath = expectedStart == "(empty)" ? std::string() : expectedStart;
    const std::vector<std::string> starts = expectedStart == "-" ? noPaths : std::vector<std::string>{startedPath};
    std::string requested;
    for (const std::string &path : starter.requested)
        requested += "[" + path + "]";
    check(starter.requested == starts, "start requested: " + expectedStart, "requested " + requested);

    const std::vector<std::string> tests = expectedFileTest == "-" ? noPaths : std::vector<std::string>{expectedFileTest};
    std::string asked;
    for (const std::string &path : files.asked)
        asked += "[" + path + "]";
    check(files.asked == tests, "file tested: " + expectedFileTest, "asked " + asked);

    const std::vector<std::string> expectedMessages =
        expectMessage ? std::vector<std::string>{unavailableMessage} : noPaths;
    check(messages.shown == expectedMessages, expectMessage ? "message shown" : "no message");
    registry.checkEveryKeyClosed();

    if (!marker.empty()) {
        check(!markerRightAfter, "StartSysInfo returned without waiting for the program");
        bool markerSeen = false;
        for (int waited = 0; waited < 300 && !markerSeen; ++waited) {
            Sleep(100);
            markerSeen = fileExists(marker);
        }
        check(markerSeen, "started program ran and left its marker " + marker);
    }
    return failed == 0 ? 0 : 1;
}

std::wstring versionString(const std::vector<char> &block, const wchar_t *key)
{
    void *text = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueW(block.data(), query.c_str(), &text, &length) || text == nullptr)
        return {};
    return static_cast<const wchar_t *>(text);
}

int testVersion()
{
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    check(length > 0 && length < MAX_PATH, "own file name");
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(self, &ignored);
    check(size > 0, "version resource present");
    if (size == 0)
        return 1;
    std::vector<char> block(size);
    check(GetFileVersionInfoW(self, 0, size, block.data()) != 0, "version resource read");

    void *fixed = nullptr;
    UINT fixedLength = 0;
    const bool hasFixed = VerQueryValueW(block.data(), L"\\", &fixed, &fixedLength) && fixedLength >= sizeof(VS_FIXEDFILEINFO);
    const auto *info = static_cast<const VS_FIXEDFILEINFO *>(fixed);
    check(hasFixed && info->dwFileVersionMS == 0x00010000 && info->dwFileVersionLS == 0 &&
              info->dwProductVersionMS == 0x00010000 && info->dwProductVersionLS == 0,
          "file and product version 1.0.0.0");
    check(versionString(block, L"ProductName") == L"Орбелант", "product name in Cyrillic");
    check(versionString(block, L"OriginalFilename") == L"Орбелант.exe", "original file name");
    check(versionString(block, L"Comments") == L"Установите папку с базой данных в C:\\Program Files", "comment");
    check(versionString(block, L"FileVersion") == L"1.00", "file version text");
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    int result = 2;
    if (args.size() == 1 && args[0] == "values")
        result = testValues();
    else if ((args.size() == 5 || args.size() == 6) && args[0] == "start")
        result = testStart(args[1] == "real", args[2], args[3] == "message", args[4], args.size() == 6 ? args[5] : "");
    else if (args.size() == 1 && args[0] == "version")
        result = testVersion();
    else
        std::printf("usage: sysinfo_wine_test values | start real|record PATH|- message|quiet PATH|- [MARKER] | version\n");
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return result;
}

#pragma once
// The About box's "System Info..." launcher: finds the system-information viewer through
// the registry and starts it, or tells the user that it cannot. Plain C++ over the services
// of sysinfoservices.h, so that it builds for Windows without Qt.

#include "sysinfoservices.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace orbelant::sysinfo {

inline constexpr char viewerFile[] = "\\MSINFO32.EXE";   // appended to that folder
inline constexpr std::uint32_t keyAccess = 0x2003F;      // KEY_ALL_ACCESS without DELETE, WRITE_DAC, WRITE_OWNER
inline constexpr std::uint32_t valueBufferSize = 1024;
inline constexpr char unavailableMessage[] = "System Information Is Unavailable At This Time";

// A value whose reported size cannot be trimmed to: 0, or past the end of the buffer.
class ValueSizeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SysInfoLauncher {
public:
    SysInfoLauncher(Registry &registry, const FileTest &files, ProcessStarter &processes, MessageShower &messages);

    // Starts the viewer named by the registry, or shows unavailableMessage. Never throws
    // out of the registry reading or the start.
    void StartSysInfo();

    // Reads the value `subKeyRef` of the key `keyName` under `keyRoot` into `keyVal`: a
    // string as text, a DWORD as "&h" and upper-case hex; a value of another type leaves
    // `keyVal` as it was. True when the value was read; false, with `keyVal` empty, when
    // the key or value cannot be read. Throws ValueSizeError for an impossible size. The
    // key is closed on every road.
    bool GetKeyValue(std::uint32_t keyRoot, const std::string &keyName, const std::string &subKeyRef,
                     std::string &keyVal);

private:
    std::optional<std::string> viewerPath(); // none when the registry names no viewer
    void launch(const std::string &path);

    Registry &m_registry;
    const FileTest &m_files;
    ProcessStarter &m_processes;
    MessageShower &m_messages;
};

// The characters of a queried buffer that the value holds, given the size the registry
// reported: without the terminating NUL when the last counted character is one.
std::string trimmedValue(const std::string &buffer, std::uint32_t reportedSize);

// "&h" and the number the first four bytes of `bytes` hold, least significant first, in
// upper-case hex without leading zeros; missing bytes count as zero.
std::string dwordText(const std::string &bytes);

} // namespace orbelant::sysinfo

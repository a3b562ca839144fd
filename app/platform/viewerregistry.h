#pragma once
// Where the system has no registry: a registry of our own with a single value, PATH of
// the key where Windows names its system-information viewer. It holds the full path of
// the first viewer of a short list found on the program search path; every other key and
// value is missing, and so is PATH when no viewer is installed.

#include "sysinfoservices.h"

#include <set>
#include <string>
#include <vector>

namespace orbelant::sysinfo {

class ViewerRegistry final : public Registry {
public:
    // `searchPath` lists folders separated by ':' (the PATH variable); `viewers` are program
    // names, the preferred first.
    ViewerRegistry(std::string searchPath, std::vector<std::string> viewers);

    // System-information viewers packaged by Debian, the preferred first.
    static std::vector<std::string> knownViewers();
    // The known viewers, looked for on this process's PATH.
    static ViewerRegistry fromEnvironment();

    // The full path of the first viewer found, or the empty text. Searched again on every
    // call, so a viewer installed while the program runs is found.
    std::string installedViewer() const;

    RegistryStatus openKey(std::uint32_t root, const std::string &subKey, std::uint32_t access,
                           KeyHandle &handle) override;
    RegistryStatus queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type,
                              std::span<char> buffer, std::uint32_t &size) override;
    RegistryStatus closeKey(KeyHandle handle) override;

private:
    std::vector<std::string> m_folders;
    std::vector<std::string> m_viewers;
    std::set<KeyHandle> m_openHandles;
    KeyHandle m_lastHandle = 0;
};

} // namespace orbelant::sysinfo

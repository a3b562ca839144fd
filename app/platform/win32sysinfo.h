#pragma once
// The launcher's services on Windows, straight from the Windows API ("A" functions, texts
// in the system's 8-bit code page). Built only for Windows.

#include "sysinfoservices.h"

namespace orbelant::sysinfo {

// RegOpenKeyExA, RegQueryValueExA and RegCloseKey of advapi32.
class Win32Registry final : public Registry {
public:
    RegistryStatus openKey(std::uint32_t root, const std::string &subKey, std::uint32_t access,
                           KeyHandle &handle) override;
    RegistryStatus queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type,
                              std::span<char> buffer, std::uint32_t &size) override;
    RegistryStatus closeKey(KeyHandle handle) override;
};

class Win32FileTest final : public FileTest {
public:
    std::string existingFileName(const std::string &path) const override;
};

// CreateProcessA on exactly the given file (no search, no shell), shown normal.
class Win32ProcessStarter final : public ProcessStarter {
public:
    bool start(const std::string &path) override;
};

} // namespace orbelant::sysinfo

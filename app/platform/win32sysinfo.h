#pragma once
// The registry the launcher reads on Windows, straight from the Windows API ("A" functions, texts
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

} // namespace orbelant::sysinfo

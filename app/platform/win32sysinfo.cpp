#include "win32sysinfo.h"

#ifdef _WIN32

#include <windows.h>

#include <algorithm>

namespace orbelant::sysinfo {
namespace {

// A predefined key is a 32-bit value that Windows widens with its sign into a handle
// (HKEY_LOCAL_MACHINE is ((HKEY)(ULONG_PTR)((LONG)0x80000002))).
HKEY rootHandle(std::uint32_t root)
{
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

HKEY keyHandle(KeyHandle handle)
{
    return reinterpret_cast<HKEY>(handle);
}

} // namespace

RegistryStatus Win32Registry::openKey(std::uint32_t root, const std::string &subKey, std::uint32_t access,
                                      KeyHandle &handle)
{
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(rootHandle(root), subKey.c_str(), 0, access, &opened);
    if (status == ERROR_SUCCESS)
        handle = reinterpret_cast<KeyHandle>(opened);
    return status;
}

RegistryStatus Win32Registry::queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type,
                                         std::span<char> buffer, std::uint32_t &size)
{
    DWORD valueType = 0;
    DWORD valueSize = static_cast<DWORD>(std::min<std::size_t>(size, buffer.size()));
    const LONG status = RegQueryValueExA(keyHandle(handle), valueName.c_str(), nullptr, &valueType,
                                         reinterpret_cast<BYTE *>(buffer.data()), &valueSize);
    type = valueType;
    size = valueSize;
    return status;
}

RegistryStatus Win32Registry::closeKey(KeyHandle handle)
{
    return RegCloseKey(keyHandle(handle));
}

} // namespace orbelant::sysinfo

#endif // _WIN32

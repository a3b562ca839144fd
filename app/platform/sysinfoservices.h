#pragma once
// The services the system-information launcher takes from the operating system, in plain
// C++ without Qt, so that the launcher builds for Windows without the rest of the program.
// Texts are bytes in the system's 8-bit code page, as the "A" functions of Windows take them.

#include <cstdint>
#include <span>
#include <string>

namespace orbelant::sysinfo {

// A registry call's status: 0 is success, anything else a Windows error code.
using RegistryStatus = std::int32_t;
// An open key, as an integer wide enough for a Windows HKEY.
using KeyHandle = std::uintptr_t;

inline constexpr RegistryStatus registrySuccess = 0;        // ERROR_SUCCESS
inline constexpr RegistryStatus registryNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr RegistryStatus registryInvalidHandle = 6;  // ERROR_INVALID_HANDLE
inline constexpr RegistryStatus registryMoreData = 234;     // ERROR_MORE_DATA

inline constexpr std::uint32_t hkeyLocalMachine = 0x80000002;

// Where Windows keeps the location of its system-information viewer, under hkeyLocalMachine.
inline constexpr char primaryKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr char primaryValue[] = "PATH";    // the viewer's full path and file name
inline constexpr char fallbackKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr char fallbackValue[] = "MSINFO"; // the folder that holds the viewer

// Value types the launcher tells apart; every other type is passed through as a number.
inline constexpr std::uint32_t regSz = 1;
inline constexpr std::uint32_t regExpandSz = 2;
inline constexpr std::uint32_t regDword = 4;

// The registry in the shape of RegOpenKeyExA, RegQueryValueExA and RegCloseKey.
class Registry {
public:
    virtual ~Registry() = default;
    // Opens `subKey` under the predefined key `root` with the access mask `access`; on
    // success fills `handle`.
    virtual RegistryStatus openKey(std::uint32_t root, const std::string &subKey, std::uint32_t access,
                                   KeyHandle &handle) = 0;
    // Copies the value `valueName` into `buffer`. On entry `size` is the buffer's size; on
    // success `type` holds the value's type and `size` the number of bytes stored, a
    // string's terminating NUL included when it was stored with one. A value larger than
    // the buffer gives registryMoreData and the size it needs.
    virtual RegistryStatus queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type,
                                      std::span<char> buffer, std::uint32_t &size) = 0;
    // Closing a handle that was never opened is harmless and only gives an error status.
    virtual RegistryStatus closeKey(KeyHandle handle) = 0;
};

class FileTest {
public:
    virtual ~FileTest() = default;
    // The file's name when a file (not a folder) exists at `path`, otherwise the empty text.
    virtual std::string existingFileName(const std::string &path) const = 0;
};

class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // Starts the program file at `path`, without a shell, in a normal window that gets the
    // focus, and returns at once. False when the program could not be started.
    virtual bool start(const std::string &path) = 0;
};

class MessageShower {
public:
    virtual ~MessageShower() = default;
    // A modal box with `text`, an OK button only, no icon, and the program's title as its
    // caption; returns when the user has dismissed it.
    virtual void show(const std::string &text) = 0;
};

} // namespace orbelant::sysinfo

#include "sysinfolauncher.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace orbelant::sysinfo {

SysInfoLauncher::SysInfoLauncher(Registry &registry, const FileTest &files, ProcessStarter &processes,
                                 MessageShower &messages)
    : m_registry(registry)
    , m_files(files)
    , m_processes(processes)
    , m_messages(messages)
{
}

void SysInfoLauncher::StartSysInfo()
{
    // Whatever goes wrong on the way, the user sees the one message and the box stays open.
    bool started = false;
    try {
        const std::optional<std::string> path = viewerPath();
        started = path && m_processes.start(*path);
    } catch (...) {
        started = false;
    }
    if (!started)
        m_messages.show(unavailableMessage);
}

std::optional<std::string> SysInfoLauncher::viewerPath()
{
    std::string path;
    // The full path is started as it stands, even when empty (a value of another type);
    // its file is not looked for first.
    if (GetKeyValue(hkeyLocalMachine, primaryKey, primaryValue, path))
        return path;
    if (!GetKeyValue(hkeyLocalMachine, fallbackKey, fallbackValue, path))
        return std::nullopt;
    if (m_files.existingFileName(path + viewerFile).empty())
        return std::nullopt;
    return path + viewerFile;
}

bool SysInfoLauncher::GetKeyValue(std::uint32_t keyRoot, const std::string &keyName, const std::string &subKeyRef,
                                  std::string &keyVal)
{
    KeyHandle handle = 0;
    if (m_registry.openKey(keyRoot, keyName, keyAccess, handle) != registrySuccess) {
        keyVal.clear();
        m_registry.closeKey(handle); // the handle was never opened; closing it does no harm
        return false;
    }

    std::string buffer(valueBufferSize, '\0');
    std::uint32_t type = 0;
    std::uint32_t size = valueBufferSize;
    bool read = false;
    try {
        if (m_registry.queryValue(handle, subKeyRef, type, buffer, size) == registrySuccess) {
            const std::string value = trimmedValue(buffer, size);
            if (type == regSz)
                keyVal = value;
            else if (type == regDword)
                keyVal = dwordText(value);
            read = true;
        } else {
            keyVal.clear();
        }
    } catch (...) {
        m_registry.closeKey(handle);
        throw;
    }
    m_registry.closeKey(handle);
    return read;
}

std::string trimmedValue(const std::string &buffer, std::uint32_t reportedSize)
{
    if (reportedSize == 0)
        throw ValueSizeError("Реестр сообщил пустое значение: размер 0");
    if (reportedSize > buffer.size())
        throw ValueSizeError("Реестр сообщил размер значения больше буфера: " + std::to_string(reportedSize));
    const std::size_t lastCounted = reportedSize - 1;
    const std::size_t kept = buffer[lastCounted] == '\0' ? lastCounted : reportedSize;
    return buffer.substr(0, kept);
}

std::string dwordText(const std::string &bytes)
{
    std::uint32_t number = 0;
    const std::size_t byteCount = std::min<std::size_t>(bytes.size(), 4);
    for (std::size_t i = 0; i < byteCount; ++i)
        number |= std::uint32_t{static_cast<unsigned char>(bytes[i])} << (8 * i);

    char digits[8];
    const auto converted = std::to_chars(std::begin(digits), std::end(digits), number, 16);
    std::string text = "&h";
    for (const char *digit = digits; digit != converted.ptr; ++digit)
        text += static_cast<char>(std::toupper(static_cast<unsigned char>(*digit)));
    return text;
}

} // namespace orbelant::sysinfo

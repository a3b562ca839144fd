#include "viewerregistry.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace orbelant::sysinfo {
namespace {

// Registry names compare without regard to case, as on Windows.
bool sameName(const std::string &a, const std::string &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// Only absolute folders: an empty or relative entry would mean the current folder, and a
// program that happens to lie there is not to be started.
std::vector<std::string> absoluteFolders(const std::string &searchPath)
{
    std::vector<std::string> folders;
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        const std::size_t end = std::min(searchPath.find(':', start), searchPath.size());
        const std::string folder = searchPath.substr(start, end - start);
        if (!folder.empty() && folder.front() == '/')
            folders.push_back(folder);
        start = end + 1;
    }
    return folders;
}

bool isExecutableFile(const std::filesystem::path &path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status))
        return false;
    using std::filesystem::perms;
    return (status.permissions() & (perms::owner_exec | perms::group_exec | perms::others_exec)) != perms::none;
}

} // namespace

ViewerRegistry::ViewerRegistry(std::string searchPath, std::vector<std::string> viewers)
    : m_folders(absoluteFolders(searchPath))
    , m_viewers(std::move(viewers))
{
}

std::vector<std::string> ViewerRegistry::knownViewers()
{
    return {"hardinfo2", "hardinfo", "kinfocenter", "cpu-x"};
}

ViewerRegistry ViewerRegistry::fromEnvironment()
{
    const char *searchPath = std::getenv("PATH");
    return ViewerRegistry(searchPath ? searchPath : "", knownViewers());
}

std::string ViewerRegistry::installedViewer() const
{
    for (const std::string &viewer : m_viewers) {
        for (const std::string &folder : m_folders) {
            const std::filesystem::path candidate = std::filesystem::path(folder) / viewer;
            if (isExecutableFile(candidate))
                return candidate.string();
        }
    }
    return {};
}

RegistryStatus ViewerRegistry::openKey(std::uint32_t root, const std::string &subKey, std::uint32_t,
                                       KeyHandle &handle)
{
    if (root != hkeyLocalMachine || !sameName(subKey, primaryKey))
        return registryNotFound;
    handle = ++m_lastHandle;
    m_openHandles.insert(handle);
    return registrySuccess;
}

RegistryStatus ViewerRegistry::queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type,
                                          std::span<char> buffer, std::uint32_t &size)
{
    if (!m_openHandles.contains(handle))
        return registryInvalidHandle;
    if (!sameName(valueName, primaryValue))
        return registryNotFound;
    const std::string viewer = installedViewer();
    if (viewer.empty())
        return registryNotFound;

    // Stored as Windows stores a string: with its terminating NUL, counted in the size.
    const std::size_t storedSize = viewer.size() + 1;
    const std::size_t room = std::min<std::size_t>(size, buffer.size());
    type = regSz;
    size = static_cast<std::uint32_t>(storedSize);
    if (storedSize > room)
        return registryMoreData;
    std::memcpy(buffer.data(), viewer.c_str(), storedSize);
    return registrySuccess;
}

RegistryStatus ViewerRegistry::closeKey(KeyHandle handle)
{
    return m_openHandles.erase(handle) == 1 ? registrySuccess : registryInvalidHandle;
}

} // namespace orbelant::sysinfo

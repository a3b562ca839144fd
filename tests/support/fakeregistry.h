#pragma once
// A registry of keys and values in memory that answers as Windows does (its value types and
// status codes by number), records what it was asked and which keys are still open.

#include "sysinfoservices.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace testsupport {

class FakeRegistry final : public orbelant::sysinfo::Registry {
public:
    using KeyHandle = orbelant::sysinfo::KeyHandle;
    using Status = orbelant::sysinfo::RegistryStatus;
    static constexpr std::uint32_t stringType = 1, dwordType = 4; // REG_SZ, REG_DWORD
    static constexpr Status success = 0, notFound = 2, invalidHandle = 6, moreData = 234;

    struct Value {
        std::uint32_t type;
        std::string bytes;          // what lands in the buffer
        std::uint32_t reportedSize; // what the registry says it stored
    };
    // A text as Windows stores a string: with its NUL, counted in the size.
    void setString(const std::string &key, const std::string &name, const std::string &text)
    {
        keys[key][name] = {stringType, text + '\0', std::uint32_t(text.size() + 1)};
    }

    Status openKey(std::uint32_t root, const std::string &subKey, std::uint32_t access, KeyHandle &handle) override
    {
        asked.push_back({root, access});
        if (root != 0x80000002 || !keys.contains(subKey)) // HKEY_LOCAL_MACHINE
            return notFound;
        handle = ++m_lastHandle;
        m_open[handle] = subKey;
        return success;
    }
    Status queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type, std::span<char> buffer,
                      std::uint32_t &size) override
    {
        if (!m_open.contains(handle))
            return invalidHandle;
        buffers.push_back({size, std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == 0; })});
        const auto &values = keys.at(m_open.at(handle));
        const auto value = values.find(valueName);
        if (value == values.end())
            return notFound;
        type = value->second.type;
        if (value->second.bytes.size() > std::min<std::size_t>(size, buffer.size())) {
            size = std::uint32_t(value->second.bytes.size());
            return moreData;
        }
        std::memcpy(buffer.data(), value->second.bytes.data(), value->second.bytes.size());
        size = value->second.reportedSize;
        return success;
    }
    Status closeKey(KeyHandle handle) override
    {
        ++closes;
        return m_open.erase(handle) == 1 ? success : invalidHandle;
    }

    // Every key opened, or tried, was closed again.
    bool allClosed() const { return m_open.empty() && closes == int(asked.size()); }

    std::map<std::string, std::map<std::string, Value>> keys;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> asked; // root and access of every open
    std::vector<std::pair<std::uint32_t, bool>> buffers;         // size on entry, and whether clean
    int closes = 0;

private:
    std::map<KeyHandle, std::string> m_open;
    KeyHandle m_lastHandle = 99;
};

} // namespace testsupport

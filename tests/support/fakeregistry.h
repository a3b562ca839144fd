#pragma once
// A registry of keys and values in memory that answers as Windows does (its value types and
// status codes by number) and counts the keys opened, or tried, and closed.

#include "sysinfoservices.h"

#include <cstring>
#include <map>

namespace testsupport {

class FakeRegistry final : public orbelant::sysinfo::Registry {
public:
    using KeyHandle = orbelant::sysinfo::KeyHandle;
    using Status = orbelant::sysinfo::RegistryStatus;
    static constexpr Status success = 0, notFound = 2, invalidHandle = 6, moreData = 234;

    struct Value {
        std::uint32_t type;         // 1 REG_SZ, 4 REG_DWORD
        std::string bytes;          // what lands in the buffer
        std::uint32_t reportedSize; // what the registry says it stored
    };
    // A text as Windows stores a string: with its NUL, counted in the size.
    void setString(const std::string &key, const std::string &name, const std::string &text)
    {
        keys[key][name] = {1, text + '\0', std::uint32_t(text.size() + 1)};
    }

    Status openKey(std::uint32_t root, const std::string &subKey, std::uint32_t, KeyHandle &handle) override
    {
        ++opens;
        if (root != 0x80000002 || !keys.contains(subKey)) // HKEY_LOCAL_MACHINE
            return notFound;
        handle = ++m_lastHandle;
        m_open[handle] = subKey;
        return success;
    }
    Status queryValue(KeyHandle handle, const std::string &valueName, std::uint32_t &type, std::span<char> buffer,
                      std::uint32_t &size) override
    {
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
    bool allClosed() const { return m_open.empty() && closes == opens; }

    std::map<std::string, std::map<std::string, Value>> keys;
    int opens = 0, closes = 0;

private:
    std::map<KeyHandle, std::string> m_open;
    KeyHandle m_lastHandle = 99;
};

} // namespace testsupport

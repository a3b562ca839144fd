// The container library under the copier on Windows: structured storage (ole32), which
// also keeps each storage's state bits and times.

#include "containercheck.h"
#include "containerstorage.h"

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

namespace orbelant::containercopy {

namespace {

constexpr qsizetype WriteChunkBytes = 64 * 1024;
constexpr DWORD ReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD CreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

// Owns one COM reference and releases it when it goes out of scope.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ComRef(ComRef &&other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    ~ComRef() { reset(); }

    void reset()
    {
        if (m_object)
            std::exchange(m_object, nullptr)->Release();
    }
    T **out()
    {
        reset();
        return &m_object;
    }
    T *get() const { return m_object; }
    T *operator->() const { return m_object; }

private:
    T *m_object = nullptr;
};

// An element as the enumeration lists it.
struct Listed {
    std::wstring name;
    qint64 size = 0;
    FILETIME created{};
    FILETIME modified{};
};

class WinStorage final : public StoragePair {
public:
    WinStorage(ComRef<IStorage> old, ComRef<IStorage> copy, const QString &displayName)
        : m_old(std::move(old)), m_copy(std::move(copy)), m_displayName(displayName)
    {
    }

    bool copyClass() override
    {
        STATSTG own{};
        return SUCCEEDED(m_old->Stat(&own, STATFLAG_NONAME)) && SUCCEEDED(m_copy->SetClass(own.clsid))
            && SUCCEEDED(m_copy->SetStateBits(own.grfStateBits, 0xFFFFFFFF));
    }

    bool list(std::vector<Element> &elements) override
    {
        ComRef<IEnumSTATSTG> enumeration;
        if (FAILED(m_old->EnumElements(0, nullptr, 0, enumeration.out())))
            return false;
        STATSTG stat{};
        HRESULT status;
        while ((status = enumeration->Next(1, &stat, nullptr)) == S_OK) {
            const std::wstring name = stat.pwcsName ? stat.pwcsName : L"";
            CoTaskMemFree(stat.pwcsName);
            const auto size = static_cast<qint64>(std::min<ULONGLONG>(stat.cbSize.QuadPart, ULONGLONG(std::numeric_limits<qint64>::max())));
            m_listed.push_back({name, size, stat.ctime, stat.mtime});
            elements.push_back({QString::fromStdWString(name), stat.type == STGTY_STORAGE});
            if (elements.size() > 100000)
                return false;
        }
        return SUCCEEDED(status);
    }

    Result<std::unique_ptr<StoragePair>> openStorage(qsizetype index) override
    {
        const std::wstring &name = m_listed[size_t(index)].name;
        ComRef<IStorage> old, copy;
        if (FAILED(m_old->OpenStorage(name.c_str(), nullptr, ReadMode, nullptr, 0, old.out())))
            return damagedContainer(m_displayName, QStringLiteral("не читается хранилище «%1»").arg(QString::fromStdWString(name)));
        if (FAILED(m_copy->CreateStorage(name.c_str(), CreateMode, 0, 0, copy.out())))
            return buildFailed(m_displayName);
        return std::make_unique<WinStorage>(std::move(old), std::move(copy), m_displayName);
    }

    bool closeStorage(qsizetype index, std::unique_ptr<StoragePair> storage) override
    {
        const Listed &element = m_listed[size_t(index)];
        if (!static_cast<WinStorage &>(*storage).commit())
            return false;
        storage.reset();
        return SUCCEEDED(m_copy->SetElementTimes(element.name.c_str(), &element.created, nullptr, &element.modified));
    }

    qint64 openStream(qsizetype index) override
    {
        if (FAILED(m_old->OpenStream(m_listed[size_t(index)].name.c_str(), nullptr, ReadMode, 0, m_reading.out())))
            return -1;
        return m_listed[size_t(index)].size;
    }

    bool readStream(char *out, qsizetype length) override
    {
        ULONG read = 0;
        return SUCCEEDED(m_reading->Read(out, static_cast<ULONG>(length), &read)) && read == static_cast<ULONG>(length);
    }

    bool writeStream(qsizetype index, QByteArrayView bytes) override
    {
        ComRef<IStream> stream;
        ULARGE_INTEGER size;
        size.QuadPart = static_cast<ULONGLONG>(bytes.size());
        if (FAILED(m_copy->CreateStream(m_listed[size_t(index)].name.c_str(), CreateMode, 0, 0, stream.out()))
            || FAILED(stream->SetSize(size)))
            return false;
        for (qsizetype done = 0; done < bytes.size();) {
            const auto chunk = static_cast<ULONG>(std::min(WriteChunkBytes, bytes.size() - done));
            ULONG written = 0;
            if (FAILED(stream->Write(bytes.data() + done, chunk, &written)) || written != chunk)
                return false;
            done += chunk;
        }
        return true;
    }

    // Commits the copy and lets it go; the old storage stays open.
    bool commit()
    {
        const bool committed = SUCCEEDED(m_copy->Commit(STGC_DEFAULT));
        m_copy.reset();
        return committed;
    }

private:
    ComRef<IStorage> m_old;
    ComRef<IStorage> m_copy;
    QString m_displayName;
    std::vector<Listed> m_listed;
    ComRef<IStream> m_reading; // the stream opened last
};

// A copy of `bytes` in global memory for ole32 to read; none when memory is short.
ComRef<ILockBytes> lockBytesOver(QByteArrayView bytes)
{
    ComRef<ILockBytes> lockBytes;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(std::max<qsizetype>(bytes.size(), 1)));
    if (!memory)
        return lockBytes;
    if (void *target = GlobalLock(memory)) {
        std::copy(bytes.begin(), bytes.end(), static_cast<char *>(target));
        GlobalUnlock(memory);
    }
    if (FAILED(CreateILockBytesOnHGlobal(memory, TRUE, lockBytes.out()))) {
        GlobalFree(memory);
        return lockBytes;
    }
    // The block may be larger than asked for; the container ends where the file did.
    ULARGE_INTEGER size;
    size.QuadPart = static_cast<ULONGLONG>(bytes.size());
    if (FAILED(lockBytes->SetSize(size)))
        lockBytes.reset();
    return lockBytes;
}

// The new container is built in global memory.
class WinContainer final : public ContainerPair {
public:
    WinContainer(ComRef<ILockBytes> oldBytes, ComRef<ILockBytes> sink, ComRef<IStorage> old, ComRef<IStorage> copy,
                 const QString &displayName)
        : m_oldBytes(std::move(oldBytes)), m_sink(std::move(sink)), m_root(std::move(old), std::move(copy), displayName)
    {
    }
    ~WinContainer() override
    {
        if (m_bytes)
            GlobalUnlock(m_memory);
    }
    StoragePair &root() override { return m_root; }

    bool finish() override
    {
        STATSTG stat{};
        if (!m_root.commit() || FAILED(m_sink->Stat(&stat, STATFLAG_NONAME)) || FAILED(GetHGlobalFromILockBytes(m_sink.get(), &m_memory)))
            return false;
        m_size = static_cast<qint64>(stat.cbSize.QuadPart);
        if (m_size <= 0 || static_cast<ULONGLONG>(m_size) > GlobalSize(m_memory))
            return false;
        m_bytes = static_cast<const char *>(GlobalLock(m_memory));
        return m_bytes != nullptr;
    }
    QByteArrayView bytes() const override { return m_bytes ? QByteArrayView(m_bytes, static_cast<qsizetype>(m_size)) : QByteArrayView(); }

private:
    ComRef<ILockBytes> m_oldBytes;
    ComRef<ILockBytes> m_sink;
    WinStorage m_root;
    HGLOBAL m_memory = nullptr;
    const char *m_bytes = nullptr;
    qint64 m_size = 0;
};

} // namespace

Result<std::unique_ptr<ContainerPair>> openContainerPair(const QByteArray &fileBytes, const QString &displayName)
{
    ComRef<ILockBytes> oldBytes = lockBytesOver(fileBytes);
    if (!oldBytes.get())
        return fail(ErrorCode::TooLarge, QStringLiteral("не хватает памяти для файла «%1»").arg(displayName));
    ComRef<IStorage> old;
    if (FAILED(StgOpenStorageOnILockBytes(oldBytes.get(), nullptr, ReadMode, nullptr, 0, old.out())))
        return damagedContainer(displayName, QStringLiteral("нарушена структура контейнера OLE2"));
    ComRef<ILockBytes> sink;
    ComRef<IStorage> copy;
    if (FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, sink.out()))
        || FAILED(StgCreateDocfileOnILockBytes(sink.get(), CreateMode, 0, copy.out())))
        return buildFailed(displayName);
    return std::make_unique<WinContainer>(std::move(oldBytes), std::move(sink), std::move(old), std::move(copy), displayName);
}

} // namespace orbelant::containercopy

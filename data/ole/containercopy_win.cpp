// A new compound file built by Windows' own structured storage (ole32) from an old one:
// every storage and stream copied with its class id, state bits and times, only the
// root's workbook stream given new content.

#include "containercopy.h"
#include "containercheck.h"
#include "../numbertext.h"

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace orbelant {

namespace {

constexpr qsizetype CopyChunkBytes = 64 * 1024;
// Excel's own files nest two storages deep (_VBA_PROJECT_CUR/VBA).
constexpr int MaxStorageDepth = 32;
constexpr DWORD ReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD CreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

// Owns one COM reference and releases it when it goes out of scope.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ComRef(ComRef &&other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    ComRef &operator=(ComRef &&other) noexcept
    {
        std::swap(m_object, other.m_object);
        return *this;
    }
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

// One element of a storage, as its enumeration gives it.
struct Element {
    std::wstring name;
    bool storage = false;
    qint64 size = 0;
    FILETIME created{};
    FILETIME modified{};
};

QString nameOf(const std::wstring &name)
{
    return QString::fromWCharArray(name.data(), static_cast<qsizetype>(name.size()));
}

// The elements of `storage`; false when it cannot be listed.
bool listElements(IStorage *storage, std::vector<Element> &elements)
{
    ComRef<IEnumSTATSTG> list;
    if (FAILED(storage->EnumElements(0, nullptr, 0, list.out())))
        return false;
    STATSTG stat{};
    HRESULT status;
    while ((status = list->Next(1, &stat, nullptr)) == S_OK) {
        if (stat.pwcsName) {
            elements.push_back(Element{stat.pwcsName, stat.type == STGTY_STORAGE,
                                       static_cast<qint64>(std::min<ULONGLONG>(stat.cbSize.QuadPart, ULONGLONG(MaxContainerBytes) + 1)),
                                       stat.ctime, stat.mtime});
            CoTaskMemFree(stat.pwcsName);
        }
        if (elements.size() > 100000)
            return false;
    }
    return SUCCEEDED(status);
}

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

// Reads a whole stream in chunks, checking every read.
Result<QByteArray> readStream(IStorage *storage, const Element &element, qint64 maxBytes, const QString &displayName)
{
    const QString streamName = nameOf(element.name);
    if (element.size > maxBytes)
        return fail(ErrorCode::TooLarge, QStringLiteral("поток «%1» в файле «%2» длиннее %3 МБ")
                                             .arg(streamName, displayName).arg(maxBytes >> 20));
    ComRef<IStream> stream;
    if (FAILED(storage->OpenStream(element.name.c_str(), nullptr, ReadMode, 0, stream.out())))
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("не читается поток «%1»").arg(streamName)));
    QByteArray bytes(static_cast<qsizetype>(element.size), Qt::Uninitialized);
    for (qsizetype done = 0; done < bytes.size();) {
        const auto chunk = static_cast<ULONG>(std::min(CopyChunkBytes, bytes.size() - done));
        ULONG read = 0;
        if (FAILED(stream->Read(bytes.data() + done, chunk, &read)) || read != chunk)
            return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("поток «%1» обрывается на байте %2")
                                                                           .arg(streamName, formatCount(done))));
        done += chunk;
    }
    return bytes;
}

// Builds a new compound file from an opened one: every storage and stream is copied
// byte for byte, with its class id, state bits and times, except the root's Workbook
// stream, whose content is replaced.
class ContainerCopier {
public:
    ContainerCopier(const QString &displayName, std::wstring workbookName, const QByteArray &workbookStream)
        : m_displayName(displayName), m_workbookName(std::move(workbookName)), m_workbookStream(workbookStream)
    {
    }

    // Builds the new container in memory and hands its bytes to `consume` (which must
    // not keep the view).
    Result<void> copy(IStorage *sourceRoot, const ContainerConsumer &consume)
    {
        ComRef<ILockBytes> sink;
        if (FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, sink.out())))
            return writeFailed();
        ComRef<IStorage> targetRoot;
        if (FAILED(StgCreateDocfileOnILockBytes(sink.get(), CreateMode, 0, targetRoot.out())))
            return writeFailed();
        if (auto copied = copyStorage(sourceRoot, targetRoot.get(), 0); !copied)
            return copied;
        if (FAILED(targetRoot->Commit(STGC_DEFAULT)))
            return writeFailed();
        targetRoot.reset();

        STATSTG stat{};
        HGLOBAL memory = nullptr;
        if (FAILED(sink->Stat(&stat, STATFLAG_NONAME)) || FAILED(GetHGlobalFromILockBytes(sink.get(), &memory)))
            return writeFailed();
        const auto size = static_cast<qint64>(stat.cbSize.QuadPart);
        if (size <= 0 || size > MaxContainerBytes || static_cast<SIZE_T>(size) > GlobalSize(memory))
            return writeFailed();
        const auto *bytes = static_cast<const char *>(GlobalLock(memory));
        if (!bytes)
            return writeFailed();
        auto consumed = consume(QByteArrayView(bytes, static_cast<qsizetype>(size)));
        GlobalUnlock(memory);
        return consumed;
    }

private:
    Result<void> copyStorage(IStorage *source, IStorage *target, int depth)
    {
        if (depth > MaxStorageDepth)
            return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("слишком глубокая вложенность хранилищ")));
        STATSTG own{};
        if (FAILED(source->Stat(&own, STATFLAG_NONAME)) || FAILED(target->SetClass(own.clsid))
            || FAILED(target->SetStateBits(own.grfStateBits, 0xFFFFFFFF)))
            return writeFailed();

        std::vector<Element> elements;
        if (!listElements(source, elements))
            return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("не читается элемент контейнера")));
        for (const Element &element : elements) {
            if (element.name.empty())
                return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("у элемента контейнера нет имени")));
            Result<void> copied = element.storage ? copySubStorage(source, target, element, depth)
                : (depth == 0 && element.name == m_workbookName) ? writeStream(target, element.name, m_workbookStream)
                                                                 : copyStream(source, target, element);
            if (!copied)
                return copied;
        }
        return {};
    }

    Result<void> copySubStorage(IStorage *source, IStorage *target, const Element &element, int depth)
    {
        ComRef<IStorage> from;
        if (FAILED(source->OpenStorage(element.name.c_str(), nullptr, ReadMode, nullptr, 0, from.out())))
            return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("не читается хранилище «%1»")
                                                                             .arg(nameOf(element.name))));
        ComRef<IStorage> to;
        if (FAILED(target->CreateStorage(element.name.c_str(), CreateMode, 0, 0, to.out())))
            return writeFailed();
        if (auto copied = copyStorage(from.get(), to.get(), depth + 1); !copied)
            return copied;
        if (FAILED(to->Commit(STGC_DEFAULT)))
            return writeFailed();
        to.reset();
        if (FAILED(target->SetElementTimes(element.name.c_str(), &element.created, nullptr, &element.modified)))
            return writeFailed();
        return {};
    }

    Result<void> copyStream(IStorage *source, IStorage *target, const Element &element)
    {
        auto bytes = readStream(source, element, MaxContainerBytes, m_displayName);
        if (!bytes)
            return std::unexpected(bytes.error());
        return writeStream(target, element.name, *bytes);
    }

    // A damaged directory can point many entries at the same sectors; the total we
    // are willing to write is capped like a file we would read.
    Result<void> writeStream(IStorage *target, const std::wstring &name, const QByteArray &bytes)
    {
        m_bytesWritten += bytes.size();
        if (m_bytesWritten > MaxContainerBytes)
            return fail(ErrorCode::TooLarge, QStringLiteral("новый файл «%1» превысил бы %2 МБ")
                                                 .arg(m_displayName).arg(MaxContainerBytes >> 20));
        ComRef<IStream> stream;
        if (FAILED(target->CreateStream(name.c_str(), CreateMode, 0, 0, stream.out())))
            return writeFailed();
        ULARGE_INTEGER size;
        size.QuadPart = static_cast<ULONGLONG>(bytes.size());
        if (FAILED(stream->SetSize(size)))
            return writeFailed();
        for (qsizetype done = 0; done < bytes.size();) {
            const auto chunk = static_cast<ULONG>(std::min(CopyChunkBytes, bytes.size() - done));
            ULONG written = 0;
            if (FAILED(stream->Write(bytes.constData() + done, chunk, &written)) || written != chunk)
                return writeFailed();
            done += chunk;
        }
        return {};
    }

    std::unexpected<Error> writeFailed() const
    {
        return orbelant::writeFailed(m_displayName, QStringLiteral("сбой при сборке нового файла"));
    }

    QString m_displayName;
    std::wstring m_workbookName;
    const QByteArray &m_workbookStream;
    qint64 m_bytesWritten = 0;
};

} // namespace

Result<void> copyContainer(const QByteArray &fileBytes, const QString &displayName, const QString &workbookName,
                           const QByteArray &stream, const ContainerConsumer &consume)
{
    ComRef<ILockBytes> bytes = lockBytesOver(fileBytes);
    if (!bytes.get())
        return fail(ErrorCode::TooLarge, QStringLiteral("не хватает памяти для файла «%1»").arg(displayName));
    ComRef<IStorage> root;
    if (FAILED(StgOpenStorageOnILockBytes(bytes.get(), nullptr, ReadMode, nullptr, 0, root.out())))
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("нарушена структура контейнера OLE2")));
    return ContainerCopier(displayName, workbookName.toStdWString(), stream).copy(root.get(), consume);
}

} // namespace orbelant

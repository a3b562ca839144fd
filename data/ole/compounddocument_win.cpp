// The compound-file container on Windows, through Windows' own structured storage
// (ole32). The container is read from the bytes we checked ourselves and built anew in
// memory, so the checks, the change test before a save and the atomic replacement are
// the same as elsewhere.

#include "compounddocument.h"
#include "containercheck.h"
#include "filereplace.h"

#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace orbelant {

namespace {

constexpr qint64 MaxFileBytes = MaxContainerBytes;
constexpr qint64 MaxWorkbookStreamBytes = qint64(256) << 20;
// Excel never writes a Workbook stream below the mini-stream cutoff; we pad up to it.
constexpr qsizetype MinWorkbookStreamBytes = 4096;
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
                                       static_cast<qint64>(std::min<ULONGLONG>(stat.cbSize.QuadPart, ULONGLONG(MaxFileBytes) + 1)),
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

struct OpenedContainer {
    ComRef<ILockBytes> bytes;
    ComRef<IStorage> root;
    bool complete = true; // every entry the directory links is one the reader can use
};

// Opens the container over a copy of `fileBytes`, after our own checks.
Result<OpenedContainer> openRoot(QByteArrayView fileBytes, const QString &displayName)
{
    const auto complete = checkContainer(fileBytes, displayName);
    if (!complete)
        return std::unexpected(complete.error());
    OpenedContainer container;
    container.bytes = lockBytesOver(fileBytes);
    if (!container.bytes.get())
        return fail(ErrorCode::TooLarge, QStringLiteral("не хватает памяти для файла «%1»").arg(displayName));
    if (FAILED(StgOpenStorageOnILockBytes(container.bytes.get(), nullptr, ReadMode, nullptr, 0, container.root.out())))
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("нарушена структура контейнера OLE2")));
    container.complete = *complete;
    return container;
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
                                                                           .arg(streamName).arg(done)));
        done += chunk;
    }
    return bytes;
}

enum class WorkbookKind { Biff8, Biff5 };

struct WorkbookEntry {
    Element element;
    WorkbookKind kind = WorkbookKind::Biff8;
};

// Compound-file names compare without regard to case, so "WORKBOOK" is the Workbook.
// A file with both streams keeps the old "Book" as it is and is read through "Workbook".
Result<WorkbookEntry> findWorkbook(IStorage *root, const QString &displayName)
{
    std::vector<Element> elements;
    if (!listElements(root, elements))
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("не читается каталог контейнера")));
    const Element *workbook = nullptr;
    const Element *book = nullptr;
    for (const Element &element : elements) {
        const QString name = nameOf(element.name);
        const bool isWorkbook = name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0;
        const bool isBook = name.compare(QLatin1String("Book"), Qt::CaseInsensitive) == 0;
        if ((!isWorkbook && !isBook) || element.storage)
            continue;
        const Element *&slot = isWorkbook ? workbook : book;
        if (slot)
            return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("в контейнере два потока «%1»").arg(name)));
        slot = &element;
    }
    if (workbook)
        return WorkbookEntry{*workbook, WorkbookKind::Biff8};
    if (book)
        return WorkbookEntry{*book, WorkbookKind::Biff5};
    return fail(ErrorCode::NoWorkbookStream, displayName);
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
    Result<void> copy(IStorage *sourceRoot, const std::function<Result<void>(QByteArrayView)> &consume)
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
        if (size <= 0 || size > MaxFileBytes || static_cast<SIZE_T>(size) > GlobalSize(memory))
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
                : (depth == 0 && element.name == m_workbookName) ? writeStream(target, element.name, paddedWorkbookStream())
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

    QByteArray paddedWorkbookStream() const
    {
        QByteArray stream = m_workbookStream;
        if (stream.size() < MinWorkbookStreamBytes)
            stream.append(MinWorkbookStreamBytes - stream.size(), '\0');
        return stream;
    }

    Result<void> copyStream(IStorage *source, IStorage *target, const Element &element)
    {
        auto bytes = readStream(source, element, MaxFileBytes, m_displayName);
        if (!bytes)
            return std::unexpected(bytes.error());
        return writeStream(target, element.name, *bytes);
    }

    // A damaged directory can point many entries at the same sectors; the total we
    // are willing to write is capped like a file we would read.
    Result<void> writeStream(IStorage *target, const std::wstring &name, const QByteArray &bytes)
    {
        m_bytesWritten += bytes.size();
        if (m_bytesWritten > MaxFileBytes)
            return fail(ErrorCode::TooLarge, QStringLiteral("новый файл «%1» превысил бы %2 МБ")
                                                 .arg(m_displayName).arg(MaxFileBytes >> 20));
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

    std::unexpected<Error> writeFailed() const { return fail(ErrorCode::WriteFailed, m_displayName); }

    QString m_displayName;
    std::wstring m_workbookName;
    QByteArray m_workbookStream;
    qint64 m_bytesWritten = 0;
};

// A change check, not a seal: Qt's own hash runs at memory speed, where a cryptographic
// one would add a tenth of a second to every large workbook opened.
QByteArray digestOf(QByteArrayView bytes)
{
    return QByteArray::number(bytes.size()) + ':' + QByteArray::number(quint64(qHash(bytes, 0)), 16);
}

} // namespace

struct CompoundDocument::Private {
    QByteArray fileBytes;   // the container as read, kept for building the new one …
    QString path;           // … or, for a document opened from a file, read again from here
    QByteArray fileDigest;  //     and checked against this digest of what was read
    QString displayName;
    QByteArray workbookStream;
};

CompoundDocument::CompoundDocument(std::unique_ptr<Private> state) : d(std::move(state)) {}
CompoundDocument::CompoundDocument(CompoundDocument &&) noexcept = default;
CompoundDocument &CompoundDocument::operator=(CompoundDocument &&) noexcept = default;
CompoundDocument::~CompoundDocument() = default;

const QByteArray &CompoundDocument::workbookStream() const { return d->workbookStream; }
QString CompoundDocument::displayName() const { return d->displayName; }

QByteArray CompoundDocument::takeWorkbookStream()
{
    return std::exchange(d->workbookStream, QByteArray());
}

Result<CompoundDocument> CompoundDocument::open(const QString &path)
{
    const QFileInfo info(path);
    const QString displayName = info.fileName().isEmpty() ? path : info.fileName();
    if (!info.exists())
        return fail(ErrorCode::FileMissing, displayName);
    if (info.isDir())
        return fail(ErrorCode::FileUnreadable, displayName);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(ErrorCode::FileUnreadable, displayName);
    if (file.size() > MaxFileBytes)
        return fail(ErrorCode::TooLarge, QStringLiteral("файл «%1» больше %2 МБ").arg(displayName).arg(MaxFileBytes >> 20));
    const qint64 size = file.size();
    QByteArray bytes(size, Qt::Uninitialized);
    if (file.read(bytes.data(), size) != size || file.error() != QFileDevice::NoError)
        return fail(ErrorCode::FileUnreadable, displayName);
    const QByteArray digest = digestOf(bytes);
    auto document = fromBytes(std::move(bytes), displayName);
    if (!document)
        return document;
    // The file is read again when a new one is built, and must then be what it was.
    document->d->fileBytes = QByteArray();
    document->d->path = path;
    document->d->fileDigest = digest;
    return document;
}

Result<CompoundDocument> CompoundDocument::fromBytes(QByteArray fileBytes, const QString &displayName)
{
    if (fileBytes.size() > MaxFileBytes)
        return fail(ErrorCode::TooLarge, QStringLiteral("файл «%1» больше %2 МБ").arg(displayName).arg(MaxFileBytes >> 20));
    auto container = openRoot(fileBytes, displayName);
    if (!container)
        return std::unexpected(container.error());
    auto entry = findWorkbook(container->root.get(), displayName);
    if (!entry)
        return std::unexpected(entry.error());
    if (entry->kind == WorkbookKind::Biff5)
        return fail(ErrorCode::OldFormat, displayName);
    auto workbookStream = readStream(container->root.get(), entry->element, MaxWorkbookStreamBytes, displayName);
    if (!workbookStream)
        return std::unexpected(workbookStream.error());

    auto state = std::make_unique<Private>();
    state->fileBytes = std::move(fileBytes);
    state->displayName = displayName;
    state->workbookStream = std::move(*workbookStream);
    return CompoundDocument(std::move(state));
}

Result<void> CompoundDocument::buildWithWorkbookStream(const QByteArray &stream,
                                                       const std::function<Result<void>(QByteArrayView)> &consume) const
{
    if (stream.size() > MaxWorkbookStreamBytes)
        return fail(ErrorCode::TooLarge, QStringLiteral("поток Workbook длиннее %1 МБ").arg(MaxWorkbookStreamBytes >> 20));
    QByteArray reread;
    if (d->fileBytes.isEmpty() && !d->path.isEmpty()) {
        QFile file(d->path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(ErrorCode::FileUnreadable, d->displayName);
        reread.resize(file.size());
        if (file.read(reread.data(), reread.size()) != reread.size() || file.error() != QFileDevice::NoError)
            return fail(ErrorCode::FileUnreadable, d->displayName);
        if (digestOf(reread) != d->fileDigest)
            return fail(ErrorCode::ChangedOnDisk, d->displayName);
    }
    const QByteArray &fileBytes = d->fileBytes.isEmpty() ? reread : d->fileBytes;
    auto container = openRoot(fileBytes, d->displayName);
    if (!container)
        return std::unexpected(container.error());
    if (!container->complete)
        return fail(ErrorCode::Damaged, damagedDetail(d->displayName, QStringLiteral("часть элементов контейнера не читается, "
                                                                                   "и при сохранении они были бы потеряны")));
    auto entry = findWorkbook(container->root.get(), d->displayName);
    if (!entry)
        return std::unexpected(entry.error());
    ContainerCopier copier(d->displayName, entry->element.name, stream);
    return copier.copy(container->root.get(), consume);
}

Result<QByteArray> CompoundDocument::withWorkbookStream(const QByteArray &stream) const
{
    QByteArray file;
    auto built = buildWithWorkbookStream(stream, [&](QByteArrayView bytes) -> Result<void> {
        file = bytes.toByteArray();
        return {};
    });
    if (!built)
        return std::unexpected(built.error());
    return file;
}

Result<void> CompoundDocument::saveWithWorkbookStream(const QString &path, const QByteArray &stream) const
{
    return buildWithWorkbookStream(stream, [&](QByteArrayView bytes) { return replaceFileAtomically(path, bytes); });
}

} // namespace orbelant

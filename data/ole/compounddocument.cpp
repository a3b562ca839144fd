#include "compounddocument.h"
#include "containercheck.h"
#include "filereplace.h"
#include "../bytereader.h"

#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QList>

#include <functional>
#include <utility>

// Only the headers we use: <gsf/gsf.h> pulls in GIO, whose `signals` clashes with Qt's.
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

#include <utility>
#include <vector>

namespace orbelant {

namespace {

constexpr qint64 MaxFileBytes = MaxContainerBytes;
// Excel never writes a Workbook stream below the mini-stream cutoff; we pad up to it.
constexpr qsizetype MinWorkbookStreamBytes = 4096;
constexpr qsizetype CopyChunkBytes = 64 * 1024;
// Excel's own files nest two storages deep (_VBA_PROJECT_CUR/VBA).
constexpr int MaxStorageDepth = 32;

// Owns one GObject reference and drops it when it goes out of scope.
template <typename T>
class GRef {
public:
    GRef() = default;
    explicit GRef(T *object) : m_object(object) {}
    GRef(GRef &&other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    GRef &operator=(GRef &&other) noexcept
    {
        std::swap(m_object, other.m_object);
        return *this;
    }
    GRef(const GRef &) = delete;
    GRef &operator=(const GRef &) = delete;
    ~GRef()
    {
        if (m_object)
            g_object_unref(m_object);
    }

    T *get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T *m_object = nullptr;
};

// libgsf reports some failures through a GError; we only need to release it.
class GErrorSlot {
public:
    GErrorSlot() = default;
    GErrorSlot(const GErrorSlot &) = delete;
    GErrorSlot &operator=(const GErrorSlot &) = delete;
    ~GErrorSlot() { g_clear_error(&m_error); }
    GError **out() { return &m_error; }

private:
    GError *m_error = nullptr;
};

struct OpenedContainer {
    GRef<GsfInfile> root;
    bool complete = true; // libgsf sees every entry the directory links
};

void dropMessage(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

// libgsf (and GLib under it) print warnings about damaged containers to the terminal; our
// own error value is the one message the user gets.
void silenceLibgsf()
{
    static const bool silenced = [] {
        const auto levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
        for (const char *domain : {static_cast<const char *>(nullptr), "libgsf", "libgsf:msole", "GLib", "GLib-GObject"})
            g_log_set_handler(domain, levels, dropMessage, nullptr);
        return true;
    }();
    Q_UNUSED(silenced);
}

// Opens the container over `fileBytes` without copying them; the caller keeps them alive
// for as long as the returned root (and anything read from it) lives.
Result<OpenedContainer> openRoot(const QByteArray &fileBytes, const QString &displayName)
{
    silenceLibgsf();
    const auto complete = checkContainer(FileBytes::fromMemory(fileBytes), displayName);
    if (!complete)
        return std::unexpected(complete.error());

    GRef<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8 *>(fileBytes.constData()),
                                              fileBytes.size(), FALSE));
    if (!input)
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("не удалось открыть контейнер")));
    GErrorSlot error;
    GRef<GsfInfile> root(gsf_infile_msole_new(input.get(), error.out()));
    if (!root)
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("нарушена структура контейнера OLE2")));
    return OpenedContainer{std::move(root), *complete};
}

bool isStorage(GsfInput *entry)
{
    return GSF_IS_INFILE(entry) && gsf_infile_num_children(GSF_INFILE(entry)) >= 0;
}

// Reads a whole stream in chunks, checking every read.
Result<QByteArray> readStream(GsfInput *stream, qint64 maxBytes, const QString &displayName)
{
    const gsf_off_t size = gsf_input_size(stream);
    const QString streamName = QString::fromUtf8(gsf_input_name(stream));
    if (size < 0)
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("неверная длина потока «%1»").arg(streamName)));
    if (size > maxBytes)
        return fail(ErrorCode::TooLarge, QStringLiteral("поток «%1» в файле «%2» длиннее %3 МБ")
                                             .arg(streamName, displayName).arg(maxBytes >> 20));

    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (gsf_input_seek(stream, 0, G_SEEK_SET))
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("не читается поток «%1»").arg(streamName)));
    for (qsizetype done = 0; done < bytes.size();) {
        const qsizetype chunk = std::min(CopyChunkBytes, bytes.size() - done);
        auto *target = reinterpret_cast<guint8 *>(bytes.data() + done);
        if (!gsf_input_read(stream, static_cast<size_t>(chunk), target))
            return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("поток «%1» обрывается на байте %2")
                                                                           .arg(streamName).arg(done)));
        done += chunk;
    }
    return bytes;
}

// Compound-file names compare without regard to case, so "WORKBOOK" is the Workbook. A
// file with both streams keeps its "Book" as it is and is read through "Workbook"; which
// format a stream holds is for its first record to tell, not for its name.
Result<int> findWorkbook(GsfInfile *root, const QString &displayName)
{
    int workbookIndex = -1;
    int bookIndex = -1;
    const int count = gsf_infile_num_children(root);
    for (int i = 0; i < count; ++i) {
        const QString name = QString::fromUtf8(gsf_infile_name_by_index(root, i));
        const bool isWorkbook = name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0;
        const bool isBook = name.compare(QLatin1String("Book"), Qt::CaseInsensitive) == 0;
        if (!isWorkbook && !isBook)
            continue;
        GRef<GsfInput> entry(gsf_infile_child_by_index(root, i));
        if (!entry)
            return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("не читается поток «%1»").arg(name)));
        if (isStorage(entry.get()))
            continue;
        int &slot = isWorkbook ? workbookIndex : bookIndex;
        if (slot >= 0)
            return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("в контейнере два потока «%1»").arg(name)));
        slot = i;
    }
    if (workbookIndex >= 0)
        return workbookIndex;
    if (bookIndex >= 0)
        return bookIndex;
    return fail(ErrorCode::NoWorkbookStream, displayName);
}

// Builds a new compound file from an opened one: every storage and stream is copied
// byte for byte except the root's Workbook stream, whose content is replaced.
class ContainerCopier {
public:
    ContainerCopier(const QString &displayName, int workbookIndex, const QByteArray &workbookStream)
        : m_displayName(displayName), m_workbookIndex(workbookIndex), m_workbookStream(workbookStream)
    {
    }

    // Builds the new container in memory and hands its bytes to `consume` (which must
    // not keep the view).
    Result<void> copy(GsfInfile *sourceRoot, const std::function<Result<void>(QByteArrayView)> &consume)
    {
        GRef<GsfOutput> sink(gsf_output_memory_new());
        if (!sink)
            return writeFailed();
        GRef<GsfOutfile> targetRoot(gsf_outfile_msole_new(sink.get()));
        if (!targetRoot)
            return writeFailed();
        if (auto copied = copyStorage(sourceRoot, targetRoot.get(), 0); !copied)
            return std::unexpected(copied.error());
        if (!gsf_output_close(GSF_OUTPUT(targetRoot.get())))
            return writeFailed();

        const gsf_off_t size = gsf_output_size(sink.get());
        const guint8 *bytes = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink.get()));
        if (size <= 0 || size > MaxFileBytes || !bytes)
            return writeFailed();
        return consume(QByteArrayView(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(size)));
    }

private:
    Result<void> copyStorage(GsfInfile *source, GsfOutfile *target, int depth)
    {
        if (depth > MaxStorageDepth)
            return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("слишком глубокая вложенность хранилищ")));
        if (!copyClassId(source, target))
            return writeFailed();

        const int count = gsf_infile_num_children(source);
        for (int i = 0; i < count; ++i) {
            GRef<GsfInput> entry(gsf_infile_child_by_index(source, i));
            if (!entry)
                return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("не читается элемент контейнера")));
            const char *name = gsf_input_name(entry.get());
            if (!name || !*name)
                return fail(ErrorCode::Damaged, damagedDetail(m_displayName, QStringLiteral("у элемента контейнера нет имени")));

            const bool storage = isStorage(entry.get());
            GRef<GsfOutput> copy(gsf_outfile_new_child_full(target, name, storage, "modtime",
                                                            gsf_input_get_modtime(entry.get()), nullptr));
            if (!copy)
                return writeFailed();

            Result<void> copied = storage
                ? copyStorage(GSF_INFILE(entry.get()), GSF_OUTFILE(copy.get()), depth + 1)
                : (depth == 0 && i == m_workbookIndex) ? writeBytes(copy.get(), paddedWorkbookStream())
                                                       : copyStream(entry.get(), copy.get());
            if (!copied)
                return copied;
            if (!gsf_output_close(copy.get()))
                return writeFailed();
        }
        return {};
    }

    static bool copyClassId(GsfInfile *source, GsfOutfile *target)
    {
        guint8 classId[16] = {};
        return gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(source), classId)
            && gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(target), classId);
    }

    QByteArray paddedWorkbookStream() const
    {
        QByteArray stream = m_workbookStream;
        if (stream.size() < MinWorkbookStreamBytes)
            stream.append(MinWorkbookStreamBytes - stream.size(), '\0');
        return stream;
    }

    Result<void> copyStream(GsfInput *source, GsfOutput *target)
    {
        auto bytes = readStream(source, MaxFileBytes, m_displayName);
        if (!bytes)
            return std::unexpected(bytes.error());
        return writeBytes(target, *bytes);
    }

    // A damaged directory can point many entries at the same sectors; the total we
    // are willing to write is capped like a file we would read.
    Result<void> writeBytes(GsfOutput *target, const QByteArray &bytes)
    {
        m_bytesWritten += bytes.size();
        if (m_bytesWritten > MaxFileBytes)
            return fail(ErrorCode::TooLarge, QStringLiteral("новый файл «%1» превысил бы %2 МБ")
                                                 .arg(m_displayName).arg(MaxFileBytes >> 20));
        for (qsizetype done = 0; done < bytes.size();) {
            const qsizetype chunk = std::min(CopyChunkBytes, bytes.size() - done);
            if (!gsf_output_write(target, static_cast<size_t>(chunk), reinterpret_cast<const guint8 *>(bytes.constData() + done)))
                return writeFailed();
            done += chunk;
        }
        return {};
    }

    std::unexpected<Error> writeFailed() const
    {
        return orbelant::writeFailed(m_displayName, QStringLiteral("не удалось собрать новый файл книги"));
    }

    QString m_displayName;
    int m_workbookIndex;
    QByteArray m_workbookStream;
    qint64 m_bytesWritten = 0;
};

} // namespace

struct CompoundDocument::Private {
    QByteArray fileBytes;   // the container as read, kept for building the new one …
    QString path;           // … or, for a document opened from a file, read again from here
    QByteArray fileDigest;  //     and checked against this digest of what was read
    QString displayName;
    QByteArray workbookStream;
};

namespace {

// A change check, not a seal: Qt's own hash runs at memory speed, where a cryptographic
// one would add a tenth of a second to every large workbook opened.
QByteArray digestOf(QByteArrayView bytes)
{
    return QByteArray::number(bytes.size()) + ':' + QByteArray::number(quint64(qHash(bytes, 0)), 16);
}

} // namespace

CompoundDocument::CompoundDocument(std::unique_ptr<Private> state) : d(std::move(state)) {}
CompoundDocument::CompoundDocument(CompoundDocument &&) noexcept = default;
CompoundDocument &CompoundDocument::operator=(CompoundDocument &&) noexcept = default;
CompoundDocument::~CompoundDocument() = default;

const QByteArray &CompoundDocument::workbookStream() const { return d->workbookStream; }
QString CompoundDocument::displayName() const { return d->displayName; }

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
    // Exactly the size the file has: a buffer grown while reading would take a third more.
    const qint64 size = file.size();
    QByteArray bytes(size, Qt::Uninitialized);
    if (file.read(bytes.data(), size) != size || file.error() != QFileDevice::NoError)
        return fail(ErrorCode::FileUnreadable, displayName);
    const QByteArray digest = digestOf(bytes);
    auto document = fromBytes(std::move(bytes), displayName);
    if (!document)
        return document;
    // A large workbook is held once, as its Workbook stream: the file is read again when
    // a new one is built, and must then be what it was.
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
    GRef<GsfInput> stream(gsf_infile_child_by_index(container->root.get(), *entry));
    if (!stream)
        return fail(ErrorCode::Damaged, damagedDetail(displayName, QStringLiteral("не читается поток Workbook")));
    auto workbookStream = readStream(stream.get(), MaxWorkbookStreamBytes, displayName);
    if (!workbookStream)
        return std::unexpected(workbookStream.error());

    auto state = std::make_unique<Private>();
    state->fileBytes = std::move(fileBytes);
    state->displayName = displayName;
    state->workbookStream = std::move(*workbookStream);
    return CompoundDocument(std::move(state));
}

// The container is opened afresh from the kept bytes, so concurrent calls on one
// document share no libgsf state.
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
    ContainerCopier copier(d->displayName, *entry, stream);
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

QByteArray CompoundDocument::takeWorkbookStream()
{
    return std::exchange(d->workbookStream, QByteArray());
}

} // namespace orbelant

#include "compounddocument.h"
#include "compoundfile.h"
#include "containercheck.h"
#include "containercopy.h"
#include "../storage/filereplace.h"
#include "workbookstream.h"

#include <QFileInfo>
#include <QHashFunctions>

#include <utility>

namespace orbelant {

namespace {

constexpr qint64 MaxFileBytes = MaxContainerBytes;
// Excel never writes a Workbook stream below the mini-stream cutoff; we pad up to it.
constexpr qsizetype MinWorkbookStreamBytes = 4096;

QByteArray paddedWorkbookStream(const QByteArray &stream)
{
    if (stream.size() >= MinWorkbookStreamBytes)
        return stream;
    QByteArray padded = stream;
    padded.append(MinWorkbookStreamBytes - stream.size(), '\0');
    return padded;
}

} // namespace

struct CompoundDocument::Private {
    QByteArray fileBytes;   // the container as read, kept for building the new one …
    QString path;           // … or, for a document opened from a file, read again from here
    QByteArray fileDigest;  //     and checked against this digest of what was read
    QString displayName;
    QString workbookName;   // the stream's name as the directory spells it
    QByteArray workbookStream;
};

namespace {

// A change check, not a seal: Qt's own hash runs at memory speed, where a cryptographic
// one would add a tenth of a second to every large workbook opened.
QByteArray digestOf(QByteArrayView bytes)
{
    return QByteArray::number(bytes.size()) + ':' + QByteArray::number(quint64(qHash(bytes, 0)), 16);
}

// The whole file in a buffer of exactly its size (one grown while reading would take a
// third more).
Result<QByteArray> readWholeFile(const QString &path, const QString &displayName)
{
    auto file = FileBytes::open(path, displayName, MaxFileBytes);
    if (!file)
        return std::unexpected(file.error());
    QByteArray bytes(file->size(), Qt::Uninitialized);
    if (!file->readInto(0, bytes.data(), bytes.size()))
        return fail(ErrorCode::FileUnreadable, displayName);
    return bytes;
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
    auto bytes = readWholeFile(path, displayName);
    if (!bytes)
        return std::unexpected(bytes.error());
    const QByteArray digest = digestOf(*bytes);
    auto document = fromBytes(std::move(*bytes), displayName);
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
    const auto container = compound::CompoundFile::parse(FileBytes::fromMemory(fileBytes), displayName);
    if (!container)
        return std::unexpected(container.error());
    auto workbookStream = readWorkbookStream(*container, displayName);
    if (!workbookStream)
        return std::unexpected(workbookStream.error());

    auto state = std::make_unique<Private>();
    state->fileBytes = std::move(fileBytes);
    state->displayName = displayName;
    state->workbookName = workbookStream->name;
    state->workbookStream = std::move(workbookStream->bytes);
    return CompoundDocument(std::move(state));
}

// The container is opened afresh from the kept bytes, so concurrent calls on one
// document share no state.
Result<void> CompoundDocument::buildWithWorkbookStream(const QByteArray &stream,
                                                       const std::function<Result<void>(QByteArrayView)> &consume) const
{
    if (stream.size() > MaxWorkbookStreamBytes)
        return fail(ErrorCode::TooLarge, QStringLiteral("поток книги после правки длиннее %1 МБ").arg(MaxWorkbookStreamBytes >> 20));
    QByteArray reread;
    if (d->fileBytes.isEmpty() && !d->path.isEmpty()) {
        auto bytes = readWholeFile(d->path, d->displayName);
        if (!bytes) // a file grown past the limit has changed; any other failure leaves it unread
            return fail(bytes.error().code == ErrorCode::TooLarge ? ErrorCode::ChangedOnDisk : ErrorCode::FileUnreadable,
                        d->displayName);
        reread = std::move(*bytes);
        if (digestOf(reread) != d->fileDigest)
            return fail(ErrorCode::ChangedOnDisk, d->displayName);
    }
    // The container library is given exactly the bytes checked here.
    const QByteArray &fileBytes = d->fileBytes.isEmpty() ? reread : d->fileBytes;
    const auto container = compound::CompoundFile::parse(FileBytes::fromMemory(fileBytes), d->displayName);
    if (!container)
        return std::unexpected(container.error());
    if (const auto refusal = rewriteRefusal(*container, d->displayName))
        return std::unexpected(*refusal);
    return copyContainer(fileBytes, d->displayName, d->workbookName, paddedWorkbookStream(stream), consume);
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

#include "containercopy.h"
#include "containercheck.h"
#include "containerstorage.h"
#include "../numbertext.h"

namespace orbelant {

namespace containercopy {

std::unexpected<Error> buildFailed(const QString &displayName)
{
    return writeFailed(displayName, QStringLiteral("сбой при сборке нового файла"));
}

} // namespace containercopy

namespace {

using namespace containercopy;

constexpr qsizetype CopyChunkBytes = 64 * 1024;
// Excel's own files nest two storages deep (_VBA_PROJECT_CUR/VBA).
constexpr int MaxStorageDepth = 32;

// Walks the old container's storages: every storage and stream is copied byte for byte
// with its class id, except the root's workbook stream, whose content is replaced.
class ContainerCopier {
public:
    ContainerCopier(const QString &displayName, const QString &workbookName, const QByteArray &stream)
        : m_displayName(displayName), m_workbookName(workbookName), m_workbookStream(stream)
    {
    }

    Result<void> copyStorage(StoragePair &storage, int depth)
    {
        if (depth > MaxStorageDepth)
            return damagedContainer(m_displayName, QStringLiteral("слишком глубокая вложенность хранилищ"));
        if (!storage.copyClass())
            return buildFailed(m_displayName);
        std::vector<Element> elements;
        if (!storage.list(elements))
            return damagedContainer(m_displayName, QStringLiteral("не читается элемент контейнера"));
        for (qsizetype i = 0; i < qsizetype(elements.size()); ++i) {
            const Element &element = elements[size_t(i)];
            if (element.name.isEmpty())
                return damagedContainer(m_displayName, QStringLiteral("у элемента контейнера нет имени"));
            Result<void> copied = element.storage ? copySubStorage(storage, i, depth)
                : depth == 0 && element.name == m_workbookName ? writeStream(storage, i, m_workbookStream)
                                                               : copyStream(storage, i, element.name);
            if (!copied)
                return copied;
        }
        return {};
    }

private:
    Result<void> copySubStorage(StoragePair &storage, qsizetype index, int depth)
    {
        auto inner = storage.openStorage(index);
        if (!inner)
            return std::unexpected(inner.error());
        if (auto copied = copyStorage(**inner, depth + 1); !copied)
            return copied;
        if (!storage.closeStorage(index, std::move(*inner)))
            return buildFailed(m_displayName);
        return {};
    }

    Result<void> copyStream(StoragePair &storage, qsizetype index, const QString &name)
    {
        const qint64 size = storage.openStream(index);
        if (size < 0)
            return damagedContainer(m_displayName, QStringLiteral("не читается поток «%1»").arg(name));
        if (size > MaxContainerBytes)
            return fail(ErrorCode::TooLarge, QStringLiteral("поток «%1» в файле «%2» длиннее %3 МБ")
                                                 .arg(name, m_displayName).arg(MaxContainerBytes >> 20));
        QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
        for (qsizetype done = 0; done < bytes.size(); done += CopyChunkBytes) {
            if (!storage.readStream(bytes.data() + done, std::min(CopyChunkBytes, bytes.size() - done)))
                return damagedContainer(m_displayName, QStringLiteral("поток «%1» обрывается на байте %2").arg(name, formatCount(done)));
        }
        return writeStream(storage, index, bytes);
    }

    // A damaged directory can point many entries at the same sectors; the total we are
    // willing to write is capped like a file we would read.
    Result<void> writeStream(StoragePair &storage, qsizetype index, const QByteArray &bytes)
    {
        m_bytesWritten += bytes.size();
        if (m_bytesWritten > MaxContainerBytes)
            return fail(ErrorCode::TooLarge, QStringLiteral("новый файл «%1» превысил бы %2 МБ")
                                                 .arg(m_displayName).arg(MaxContainerBytes >> 20));
        if (!storage.writeStream(index, bytes))
            return buildFailed(m_displayName);
        return {};
    }

    QString m_displayName;
    QString m_workbookName;
    const QByteArray &m_workbookStream;
    qint64 m_bytesWritten = 0;
};

} // namespace

Result<void> copyContainer(const QByteArray &fileBytes, const QString &displayName, const QString &workbookName,
                           const QByteArray &stream, const ContainerConsumer &consume)
{
    auto pair = openContainerPair(fileBytes, displayName);
    if (!pair)
        return std::unexpected(pair.error());
    if (auto copied = ContainerCopier(displayName, workbookName, stream).copyStorage((*pair)->root(), 0); !copied)
        return copied;
    if (!(*pair)->finish())
        return buildFailed(displayName);
    const QByteArrayView bytes = (*pair)->bytes();
    if (bytes.isEmpty() || bytes.size() > MaxContainerBytes)
        return buildFailed(displayName);
    return consume(bytes);
}

} // namespace orbelant

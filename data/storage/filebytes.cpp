#include "filebytes.h"

#include <QFileInfo>

#include <cstring>

namespace orbelant {

Result<FileBytes> FileBytes::open(const QString &path, const QString &displayName, qint64 maxBytes)
{
    const QFileInfo info(path);
    if (!info.exists())
        return fail(ErrorCode::FileMissing, displayName);
    if (info.isDir())
        return fail(ErrorCode::FileUnreadable, displayName);
    auto file = std::make_shared<SystemFile>(filebytes::openForReading(path));
    const qint64 size = file->isOpen() ? filebytes::sizeOf(*file) : -1;
    if (size < 0)
        return fail(ErrorCode::FileUnreadable, displayName);
    if (size > maxBytes)
        return fail(ErrorCode::TooLarge, QStringLiteral("файл «%1» больше %2 МБ").arg(displayName).arg(maxBytes >> 20));
    FileBytes bytes;
    bytes.m_size = size;
    bytes.m_file = std::move(file);
    return bytes;
}

FileBytes FileBytes::fromMemory(QByteArrayView memory)
{
    FileBytes bytes;
    bytes.m_memory = memory;
    bytes.m_size = memory.size();
    return bytes;
}

QByteArray FileBytes::read(qint64 offset, qint64 length) const
{
    if (offset < 0 || length <= 0 || offset >= m_size)
        return {};
    length = std::min(length, m_size - offset);
    if (!m_file)
        return QByteArray::fromRawData(m_memory.data() + offset, static_cast<qsizetype>(length));
    QByteArray bytes(static_cast<qsizetype>(length), Qt::Uninitialized);
    if (!readInto(offset, bytes.data(), length))
        return {};
    return bytes;
}

bool FileBytes::readInto(qint64 offset, char *out, qint64 length) const
{
    if (offset < 0 || length < 0 || length > m_size - offset)
        return false;
    if (!m_file) {
        std::memcpy(out, m_memory.data() + offset, static_cast<size_t>(length));
        return true;
    }
    return filebytes::readAt(*m_file, offset, out, length);
}

} // namespace orbelant

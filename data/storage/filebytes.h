#pragma once
// The bytes of a file, read where they are needed: a compound file is read a sector at a
// time, without holding the whole file in memory. The same over bytes already in memory.

#include "../error.h"

#include <QByteArray>
#include <QString>
#include <memory>

class QFile;

namespace orbelant {

class FileBytes {
public:
    // FileMissing, FileUnreadable (also a folder), TooLarge above `maxBytes`.
    static Result<FileBytes> open(const QString &path, const QString &displayName, qint64 maxBytes);
    // The caller keeps `bytes` alive for as long as this and everything read from it.
    static FileBytes fromMemory(QByteArrayView bytes);

    qint64 size() const { return m_size; }
    // Up to `length` bytes from `offset`: fewer past the end, none where the file cannot
    // be read there. Over memory the result shares the caller's bytes.
    QByteArray read(qint64 offset, qint64 length) const;
    // Exactly `length` bytes from `offset` into `out`; false when the file has not got them.
    bool readInto(qint64 offset, char *out, qint64 length) const;

private:
    FileBytes() = default;
    std::shared_ptr<QFile> m_file;
    QByteArrayView m_memory;
    qint64 m_size = 0;
};

} // namespace orbelant

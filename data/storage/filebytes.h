#pragma once
// The bytes of a file, read where they are needed: a compound file is read a sector at a
// time, without holding the whole file in memory. The same over bytes already in memory.

#include "../error.h"
#include "systemfile.h"

#include <QByteArray>
#include <QString>
#include <memory>

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
    std::shared_ptr<SystemFile> m_file;
    QByteArrayView m_memory;
    qint64 m_size = 0;
};

// ---- What differs between platforms (filebytes_posix.cpp, filebytes_win.cpp) ----
namespace filebytes {
// Opened for reading only, and shared with every other program: on Windows also for
// replacing or deleting it, so that a save never finds the file held by a reader of ours.
SystemFile openForReading(const QString &path);
qint64 sizeOf(const SystemFile &file); // -1 when the system does not say
bool readAt(const SystemFile &file, qint64 offset, char *out, qint64 length);
} // namespace filebytes

} // namespace orbelant

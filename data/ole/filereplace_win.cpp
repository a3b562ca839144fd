#include "filereplace.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

#include <algorithm>

namespace orbelant {

namespace {

constexpr qsizetype WriteChunkBytes = qsizetype(1) << 20;
constexpr int NameAttempts = 100;
// What the new file takes over from the old one (read-only files are refused before); it
// is marked as changed since the last backup, as Windows marks every written file.
constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// Why a file call failed, in words for the user.
QString reasonFor(DWORD error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return QStringLiteral("на диске нет места");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("нет прав на запись");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("диск защищён от записи");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        return QStringLiteral("файл занят другой программой");
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("папка не найдена");
    default:
        return QStringLiteral("ошибка Windows %1").arg(error);
    }
}

// The new file while it is ours: closed and deleted unless it was put in place.
class NewFile {
public:
    NewFile() = default;
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;
    ~NewFile()
    {
        close();
        if (!m_path.isEmpty())
            DeleteFileW(wide(m_path));
    }

    // A hidden file of a name no other file has, beside `target`; 0 or the error.
    DWORD create(const QString &target)
    {
        const QFileInfo info(target);
        for (int attempt = 0; attempt < NameAttempts; ++attempt) {
            const QString path = QDir::toNativeSeparators(info.absolutePath() + QStringLiteral("/~") + info.fileName()
                                                          + QLatin1Char('.')
                                                          + QString::number(QRandomGenerator::global()->generate(), 16)
                                                          + QStringLiteral(".tmp"));
            m_handle = CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
            if (m_handle != INVALID_HANDLE_VALUE) {
                m_path = path;
                return 0;
            }
            if (const DWORD error = GetLastError(); error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                return error;
        }
        return ERROR_FILE_EXISTS;
    }

    // Writes all of `bytes` and waits until they are on the disk; 0 or the error.
    DWORD write(QByteArrayView bytes)
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const auto chunk = static_cast<DWORD>(std::min(WriteChunkBytes, bytes.size() - done));
            DWORD written = 0;
            if (!WriteFile(m_handle, bytes.data() + done, chunk, &written, nullptr))
                return GetLastError();
            if (written == 0)
                return ERROR_DISK_FULL;
            done += written;
        }
        if (!FlushFileBuffers(m_handle))
            return GetLastError();
        return close() ? 0 : GetLastError();
    }

    const QString &path() const { return m_path; }
    void putInPlace() { m_path.clear(); }

private:
    bool close()
    {
        if (m_handle == INVALID_HANDLE_VALUE)
            return true;
        const bool closed = CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return closed;
    }

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    QString m_path;
};

} // namespace

Result<void> replaceFileAtomically(const QString &path, QByteArrayView bytes)
{
    const QFileInfo info(path);
    const QString displayName = info.fileName().isEmpty() ? path : info.fileName();
    // A symbolic link stays a link: the file it points at is replaced.
    const QString target = QDir::toNativeSeparators(info.isSymbolicLink() ? info.canonicalFilePath() : info.absoluteFilePath());
    if (target.isEmpty())
        return failToSave(displayName, QStringLiteral("ссылка указывает на несуществующий файл"));

    const DWORD attributes = GetFileAttributesW(wide(target));
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND)
            return failToSave(displayName, reasonFor(error));
    } else if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        return failToSave(displayName, QStringLiteral("на его месте не обычный файл"));
    } else if (attributes & FILE_ATTRIBUTE_READONLY) {
        return failToSave(displayName, QStringLiteral("файл только для чтения"));
    }

    if (exists) {
        // A file that another program holds open and will not let go (as Excel holds an
        // open workbook) is refused before anything is written.
        const HANDLE probe = CreateFileW(wide(target), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            return failToSave(displayName, reasonFor(GetLastError()));
        CloseHandle(probe);
    }

    NewFile file;
    if (const DWORD error = file.create(target); error != 0)
        return failToSave(displayName, error == ERROR_ACCESS_DENIED ? QStringLiteral("нет прав на запись в папку")
                                                                    : reasonFor(error));
    if (const DWORD error = file.write(bytes); error != 0)
        return failToSave(displayName, reasonFor(error));
    const DWORD newAttributes = (exists ? attributes & KeptAttributes : 0) | FILE_ATTRIBUTE_ARCHIVE;
    if (!SetFileAttributesW(wide(file.path()), newAttributes))
        return failToSave(displayName, reasonFor(GetLastError()));

    // ReplaceFileW keeps the old file's identity (creation time, security, short name);
    // when there is no old file, a plain move that reaches the disk before it returns.
    const bool replaced = exists ? ReplaceFileW(wide(target), wide(file.path()), nullptr,
                                                REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                                                nullptr, nullptr)
                                 : MoveFileExW(wide(file.path()), wide(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced)
        return failToSave(displayName, reasonFor(GetLastError()));
    file.putInPlace();
    return {};
}

} // namespace orbelant

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

// Why a file call failed, in words for the user; the system's number when we have no words.
QString reasonFor(DWORD error)
{
    const QString reason = systemErrorReason(static_cast<int>(error));
    return reason.isEmpty() ? QStringLiteral("ошибка Windows %1").arg(error) : reason;
}

QString displayNameOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

// A symbolic link is written through: the file it points at is the one replaced.
QString resolvedPath(const QString &path)
{
    const QFileInfo info(path);
    return QDir::toNativeSeparators(info.isSymbolicLink() ? info.canonicalFilePath() : info.absoluteFilePath());
}

// New files of our own naming beside the workbook: "~зендра.xls.<hex>.tmp".
QString temporaryPrefix(const QFileInfo &target)
{
    return QStringLiteral("~") + target.fileName() + QLatin1Char('.');
}

// Leftovers of our own interrupted saves of `target`, never another program's files.
void removeLeftovers(const QFileInfo &target)
{
    const QDir folder = target.absoluteDir();
    const QString prefix = temporaryPrefix(target);
    const QStringList names = folder.entryList({prefix + QStringLiteral("*.tmp")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        const QStringView middle = QStringView(name).sliced(prefix.size()).chopped(4);
        bool isHex = !middle.isEmpty();
        for (const QChar c : middle)
            isHex = isHex && (c.isDigit() || (c >= u'a' && c <= u'f'));
        if (isHex)
            DeleteFileW(wide(folder.filePath(name)));
    }
}

bool sameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION first = {}, second = {};
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second)
        && first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh
        && first.nFileIndexLow == second.nFileIndexLow;
}

HANDLE openShared(const QString &path)
{
    return CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Windows' locks keep every other handle, ours too, from the bytes they cover: the save
// lock covers one byte far past the end of any workbook, so the file stays readable.
constexpr DWORD LockOffsetHigh = 0x40000000;

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
            const QString path = QDir::toNativeSeparators(info.absoluteDir().filePath(temporaryPrefix(info))
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

QString systemErrorReason(int code)
{
    switch (static_cast<DWORD>(code)) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return QStringLiteral("на диске нет места");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("нет прав на запись");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("диск доступен только для чтения");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        return QStringLiteral("файл занят другой программой");
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("папка не найдена");
    default:
        return {};
    }
}

// ---- The save lock --------------------------------------------------------------------

struct SaveLock::Held {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~Held()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle); // closing the handle releases its lock
    }
};

SaveLock::SaveLock(std::unique_ptr<Held> held) : m_held(std::move(held)) {}
SaveLock::SaveLock(SaveLock &&) noexcept = default;
SaveLock &SaveLock::operator=(SaveLock &&) noexcept = default;
SaveLock::~SaveLock() = default;

// A save that replaced the file meanwhile leaves us holding the old one: then the new
// file is opened and locked in its turn.
Result<SaveLock> SaveLock::acquire(const QString &path, std::chrono::milliseconds wait)
{
    const QString displayName = displayNameOf(path);
    const QString target = resolvedPath(path);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (true) {
        auto held = std::make_unique<Held>();
        held->handle = openShared(target);
        if (held->handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND)
                return fail(ErrorCode::FileMissing, displayName);
            return writeFailed(displayName, reasonFor(error));
        }
        OVERLAPPED region = {};
        region.OffsetHigh = LockOffsetHigh;
        while (!LockFileEx(held->handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region)) {
            if (std::chrono::steady_clock::now() >= deadline)
                return fail(ErrorCode::Busy, displayName);
            Sleep(20);
        }
        const HANDLE current = openShared(target);
        const bool same = current != INVALID_HANDLE_VALUE && sameFile(held->handle, current);
        if (current != INVALID_HANDLE_VALUE)
            CloseHandle(current);
        if (same)
            return SaveLock(std::move(held));
        if (std::chrono::steady_clock::now() >= deadline)
            return fail(ErrorCode::Busy, displayName);
    }
}

// ---- Permission -----------------------------------------------------------------------

Result<void> checkWritable(const QString &path)
{
    const QString displayName = displayNameOf(path);
    const DWORD attributes = GetFileAttributesW(wide(resolvedPath(path)));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? fail(ErrorCode::FileMissing, displayName) : writeFailed(displayName, reasonFor(error));
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return writeFailed(displayName, QStringLiteral("это не обычный файл"));
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return fail(ErrorCode::ReadOnly, displayName);
    return {};
}

// ---- Replacing the file ---------------------------------------------------------------

Result<void> replaceFileAtomically(const QString &path, QByteArrayView bytes)
{
    const QString displayName = displayNameOf(path);
    const QString target = resolvedPath(path);
    if (target.isEmpty())
        return writeFailed(displayName, QStringLiteral("ссылка указывает на несуществующий файл"));

    const DWORD attributes = GetFileAttributesW(wide(target));
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND)
            return writeFailed(displayName, reasonFor(error));
    } else if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        return writeFailed(displayName, QStringLiteral("это не обычный файл"));
    } else if (attributes & FILE_ATTRIBUTE_READONLY) {
        return writeFailed(displayName, QStringLiteral("файл защищён от записи"));
    }

    if (exists) {
        // A file that another program holds open and will not let go (as Excel holds an
        // open workbook) is refused before anything is written.
        const HANDLE probe = CreateFileW(wide(target), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE)
            return writeFailed(displayName, reasonFor(GetLastError()));
        CloseHandle(probe);
    }

    removeLeftovers(QFileInfo(target));
    NewFile file;
    if (const DWORD error = file.create(target); error != 0)
        return writeFailed(displayName, error == ERROR_ACCESS_DENIED ? QStringLiteral("нет прав на запись в папку")
                                                                    : reasonFor(error));
    if (const DWORD error = file.write(bytes); error != 0)
        return writeFailed(displayName, reasonFor(error));
    const DWORD newAttributes = (exists ? attributes & KeptAttributes : 0) | FILE_ATTRIBUTE_ARCHIVE;
    if (!SetFileAttributesW(wide(file.path()), newAttributes))
        return writeFailed(displayName, reasonFor(GetLastError()));

    // ReplaceFileW keeps the old file's identity (creation time, security, short name);
    // when there is no old file, a plain move that reaches the disk before it returns.
    const bool replaced = exists ? ReplaceFileW(wide(target), wide(file.path()), nullptr,
                                                REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS,
                                                nullptr, nullptr)
                                 : MoveFileExW(wide(file.path()), wide(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced)
        return writeFailed(displayName, reasonFor(GetLastError()));
    file.putInPlace();
    return {};
}

} // namespace orbelant

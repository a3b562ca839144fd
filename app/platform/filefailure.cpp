#include "filefailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <cerrno>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace orbelant {

namespace {

// The reasons the system names itself (on Windows the last error of the failed call, as
// Qt's file engine leaves it); the others are found by looking at the file and its disk.
QString systemReason(int systemError)
{
#ifdef Q_OS_WIN
    switch (static_cast<DWORD>(systemError)) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return QStringLiteral("файл занят другой программой");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return QStringLiteral("на диске нет места");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("диск доступен только для чтения");
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("папка не найдена");
    default:
        break;
    }
#else
    switch (systemError) {
    case EISDIR:
        return QStringLiteral("на месте файла находится папка");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав на запись");
    case EROFS:
        return QStringLiteral("диск доступен только для чтения");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("на диске нет места");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("папка не найдена");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("файл занят другой программой");
    case EFBIG:
        return QStringLiteral("файл слишком велик");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода на диске");
    default:
        break;
    }
#endif
    return {};
}

QString reasonFor(const QFile &file, int systemError, qint64 bytesNeeded)
{
    const QFileInfo info(file.fileName());
    if (info.isDir())
        return QStringLiteral("на месте файла находится папка");
    if (const QString reason = systemReason(systemError); !reason.isEmpty())
        return reason;
    const QStorageInfo disk(info.absolutePath());
    if (disk.isValid() && disk.isReadOnly())
        return QStringLiteral("диск доступен только для чтения");
    if (disk.isValid() && disk.bytesAvailable() >= 0 && disk.bytesAvailable() < bytesNeeded)
        return QStringLiteral("на диске нет места");
    if (info.exists() && !info.isWritable())
        return QStringLiteral("файл защищён от записи");
    if (!info.exists() && !QFileInfo(info.absolutePath()).isWritable())
        return QStringLiteral("нет прав на запись в папку");
    return file.errorString(); // the system's own words
}

} // namespace

FileFailure::FileFailure(QString path, QString reason)
    : m_path(std::move(path))
    , m_reason(std::move(reason))
{
}

FileFailure FileFailure::capture(const QFile &file, qint64 bytesNeeded)
{
#ifdef Q_OS_WIN
    const int systemError = static_cast<int>(GetLastError());
#else
    const int systemError = errno;
#endif
    return FileFailure(QDir::toNativeSeparators(QFileInfo(file.fileName()).absoluteFilePath()),
                       reasonFor(file, systemError, bytesNeeded));
}

QString FileFailure::message(const QString &action) const
{
    return action.arg(m_path) + QStringLiteral(": ") + m_reason + QLatin1Char('.');
}

} // namespace orbelant

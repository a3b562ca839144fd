#include "filefailure.h"
#include "ole/filereplace.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <cerrno>

namespace orbelant {

namespace {

// The reasons the system names itself (the engine's words for its error codes). Qt's
// Windows file engine does not set errno, so there the reason is found by looking at the
// file and its disk instead.
QString systemReason([[maybe_unused]] int systemError)
{
#ifndef Q_OS_WIN
    return systemErrorReason(systemError);
#else
    return {};
#endif
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
    const int systemError = errno;
    return FileFailure(QFileInfo(file.fileName()).absoluteFilePath(), reasonFor(file, systemError, bytesNeeded));
}

QString FileFailure::message(const QString &action) const
{
    return action.arg(m_path) + QStringLiteral(": ") + m_reason + QLatin1Char('.');
}

} // namespace orbelant

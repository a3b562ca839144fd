#include "filefailure.h"
#include "storage/systemerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace orbelant {

namespace {

// The reason the system names itself comes first (the engine's words for errno, or on
// Windows for the last error of the failed call, as Qt's file engine leaves it); the others
// are found by looking at the file and its disk.
QString reasonFor(const QFileDevice &file, int systemError, qint64 bytesNeeded)
{
    const QFileInfo info(file.fileName());
    if (info.isDir())
        return QStringLiteral("на месте файла находится папка");
    if (const QString reason = systemErrorReason(systemError); !reason.isEmpty())
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
    // The system's number in Russian words; Qt's own words (translated) when it gave none.
    return systemError != 0 ? systemErrorText(systemError) : file.errorString();
}

} // namespace

FileFailure::FileFailure(QString path, QString reason)
    : m_path(std::move(path))
    , m_reason(std::move(reason))
{
}

FileFailure FileFailure::capture(const QFileDevice &file, qint64 bytesNeeded)
{
    const int systemError = lastSystemError();
    return FileFailure(QDir::toNativeSeparators(QFileInfo(file.fileName()).absoluteFilePath()),
                       reasonFor(file, systemError, bytesNeeded));
}

QString FileFailure::message(const QString &action) const
{
    return action.arg(m_path) + QStringLiteral(": ") + m_reason + QLatin1Char('.');
}

} // namespace orbelant

#pragma once
// Why a file could not be opened or written, in words for the user.

#include <QString>

class QFileDevice;

namespace orbelant {

class FileFailure {
public:
    // To be called right after the failing call on `file`, while the system's error code
    // is still the one of that call. `bytesNeeded` is what was to be written.
    static FileFailure capture(const QFileDevice &file, qint64 bytesNeeded);

    // The file's full path, for the message.
    const QString &path() const { return m_path; }
    // A Russian phrase such as "на диске нет места".
    const QString &reason() const { return m_reason; }
    // `action` with %1 for the path, then the reason: "Не удалось открыть файл «%1»".
    QString message(const QString &action) const;

private:
    FileFailure(QString path, QString reason);

    QString m_path;
    QString m_reason;
};

} // namespace orbelant

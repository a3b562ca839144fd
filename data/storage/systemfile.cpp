#include "systemfile.h"

#include <QDir>
#include <QFileInfo>

namespace orbelant {

SystemCause systemCauseOf(int code)
{
    for (const auto &[known, cause] : knownCauses())
        if (known == code)
            return cause;
    return SystemCause::Unknown;
}

QString wordsFor(SystemCause cause)
{
    using enum SystemCause;
    static const std::pair<SystemCause, const char *> words[] = {
        {Folder, "на месте файла находится папка"}, {NoRights, "нет прав на запись"},
        {ReadOnlyDisk, "диск доступен только для чтения"}, {DiskFull, "на диске нет места"}, {NoFolder, "папка не найдена"},
        {InUse, "файл занят другой программой"}, {TooBig, "файл слишком велик"}, {DiskFault, "ошибка ввода-вывода на диске"},
        {LongName, "слишком длинное имя файла"}, {TooManyOpen, "открыто слишком много файлов"}};
    for (const auto &[known, text] : words)
        if (known == cause)
            return QString::fromUtf8(text);
    return {};
}

QString systemErrorReason(int code)
{
    return wordsFor(systemCauseOf(code));
}

QString systemErrorText(int code)
{
    const QString reason = systemErrorReason(code);
    return reason.isEmpty() ? QStringLiteral("ошибка системы № %1").arg(code) : reason;
}

QString displayNameOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

QString resolvedPath(const QString &path)
{
    const QFileInfo info(path);
    return QDir::toNativeSeparators(info.isSymbolicLink() ? info.canonicalFilePath() : info.absoluteFilePath());
}

} // namespace orbelant

#include "filereplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace orbelant {

namespace {

using filereplace::Target;

constexpr QStringView TemporaryLetters = u"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr int TemporarySuffixLength = 6;
constexpr int NameAttempts = 100;

QString temporaryPrefix(const QString &target)
{
    return QStringLiteral(".%1.orbelant-").arg(QFileInfo(target).fileName());
}

// Our temporary files that an interrupted save left beside `target`, compared letter by
// letter with our naming.
void removeLeftovers(const QString &target)
{
    const QDir folder = QFileInfo(target).absoluteDir();
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (isTemporaryOf(name, target))
            QFile::remove(folder.filePath(name));
}

} // namespace

QString temporaryName(const QString &target)
{
    QString name = temporaryPrefix(target);
    for (int i = 0; i < TemporarySuffixLength; ++i)
        name += TemporaryLetters[QRandomGenerator::global()->bounded(int(TemporaryLetters.size()))];
    return name;
}

bool isTemporaryOf(const QString &name, const QString &target)
{
    const QString prefix = temporaryPrefix(target);
    if (name.size() != prefix.size() + TemporarySuffixLength || !name.startsWith(prefix, Qt::CaseSensitive))
        return false;
    for (const QChar c : QStringView(name).sliced(prefix.size()))
        if (!TemporaryLetters.contains(c, Qt::CaseSensitive))
            return false;
    return true;
}

Result<void> checkWritable(const QString &path)
{
    const QString displayName = displayNameOf(path);
    const Target file = filereplace::inspect(resolvedPath(path));
    if (file.error != 0)
        return writeFailed(displayName, systemErrorText(file.error));
    if (file.kind == Target::Kind::Missing)
        return fail(ErrorCode::FileMissing, displayName);
    if (file.kind != Target::Kind::Regular)
        return writeFailed(displayName, QStringLiteral("это не обычный файл"));
    if (file.writeProtected)
        return fail(ErrorCode::ReadOnly, displayName);
    return {};
}

Result<void> replaceFileAtomically(const QString &path, QByteArrayView bytes)
{
    const QString displayName = displayNameOf(path);
    const QString target = resolvedPath(path);
    if (target.isEmpty())
        return writeFailed(displayName, QStringLiteral("ссылка указывает на несуществующий файл"));
    const Target old = filereplace::inspect(target);
    if (old.error != 0)
        return writeFailed(displayName, systemErrorText(old.error));
    if (old.kind == Target::Kind::Folder)
        return writeFailed(displayName, wordsFor(SystemCause::Folder));
    if (old.kind == Target::Kind::Other)
        return writeFailed(displayName, QStringLiteral("это не обычный файл"));
    if (old.writeProtected)
        return writeFailed(displayName, QStringLiteral("файл защищён от записи"));
    removeLeftovers(target);

    const QDir folder = QFileInfo(target).absoluteDir();
    QString newPath;
    SystemFile file;
    int error = 0;
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        newPath = QDir::toNativeSeparators(folder.filePath(temporaryName(target)));
        file = filereplace::createNew(newPath);
        error = file.isOpen() ? 0 : lastSystemError();
        if (systemCauseOf(error) != SystemCause::Exists)
            break;
    }
    if (!file.isOpen())
        return writeFailed(displayName, systemCauseOf(error) == SystemCause::NoRights ? QStringLiteral("нет прав на запись в папку")
                                                                                     : systemErrorText(error));
    error = filereplace::writeAll(file, bytes);
    if (error == 0)
        error = filereplace::takeOver(file, old);
    if (error == 0)
        error = filereplace::flushAndClose(file);
    if (error == 0)
        error = filereplace::putInPlace(newPath, target, old.kind == Target::Kind::Regular);
    if (error != 0) {
        file.close();
        // Never the only copy: a replacement that failed halfway may have taken the old file away.
        if (old.kind == Target::Kind::Missing || QFileInfo::exists(target))
            QFile::remove(newPath);
        return writeFailed(displayName, systemErrorText(error));
    }
    return {};
}

} // namespace orbelant

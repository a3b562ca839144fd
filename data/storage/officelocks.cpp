#include "officelocks.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace orbelant {

namespace {

constexpr int LibreOfficeFields = 5;
const QString OrbelantProfile = QStringLiteral("orbelant:");

// Excel's owner file: a length byte and the name in 8 bits, spaces up to 54 or 55, then
// a length word and the name in UTF-16; names are at most 52 characters.
constexpr qsizetype ExcelOwnerMinimumBytes = 162;
constexpr int ExcelNameMaximum = 52;

QString beside(const QString &workbookPath, const QString &prefix, const QString &suffix)
{
    const QFileInfo info(resolvedPath(workbookPath));
    return info.absoluteDir().filePath(prefix + info.fileName() + suffix);
}

std::optional<QByteArray> readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(officelock::MaxLockFileBytes);
}

QString escaped(const QString &field)
{
    QString out;
    for (const QChar c : field) {
        if (c == u',' || c == u';' || c == u'\\')
            out += u'\\';
        out += c;
    }
    return out;
}

QString quotedHolder(const QString &holder)
{
    return holder.isEmpty() ? QString() : QStringLiteral(" у пользователя «%1»").arg(holder);
}

} // namespace

std::optional<qint64> LibreOfficeLockEntry::orbelantProcess() const
{
    if (!profile.startsWith(OrbelantProfile))
        return std::nullopt;
    bool isNumber = false;
    const qint64 pid = profile.mid(OrbelantProfile.size()).toLongLong(&isNumber);
    return isNumber ? std::optional<qint64>(pid) : std::nullopt;
}

QString LibreOfficeLockEntry::holder() const
{
    return userName.trimmed().isEmpty() ? login : userName.trimmed();
}

std::optional<LibreOfficeLockEntry> parseLibreOfficeLock(QByteArrayView bytes)
{
    QStringList fields;
    QByteArray field;
    bool escape = false;
    for (const char c : bytes) {
        if (escape) {
            if (c != ',' && c != ';' && c != '\\')
                return std::nullopt;
            field += c;
            escape = false;
        } else if (c == '\\') {
            escape = true;
        } else if (c == ',' || c == ';') {
            fields.append(QString::fromUtf8(field));
            field.clear();
            if ((c == ';') != (fields.size() == LibreOfficeFields))
                return std::nullopt;
            if (c == ';')
                break;
        } else {
            field += c;
        }
    }
    if (fields.size() != LibreOfficeFields)
        return std::nullopt;
    return LibreOfficeLockEntry{fields[0], fields[1], fields[2], fields[3], fields[4]};
}

QByteArray formatLibreOfficeLock(const LibreOfficeLockEntry &entry)
{
    const QStringList fields{escaped(entry.userName), escaped(entry.login), escaped(entry.host),
                             escaped(entry.editTime), escaped(entry.profile)};
    return (fields.join(u',') + u';').toUtf8();
}

std::optional<QString> parseExcelOwner(QByteArrayView bytes)
{
    if (bytes.size() < ExcelOwnerMinimumBytes)
        return std::nullopt;
    const auto byteAt = [&](qsizetype at) { return static_cast<quint8>(bytes[at]); };
    const int eightBitLength = byteAt(0);
    if (eightBitLength < 1 || eightBitLength > ExcelNameMaximum)
        return std::nullopt;
    // Word pads the 8-bit name with zeros to 54, Excel with spaces to 55: byte 53 is
    // padding either way. The UTF-16 name after it fits in the smallest owner file.
    const qsizetype at = byteAt(53) == 0 ? 54 : 55;
    static_assert(55 + 2 + 2 * ExcelNameMaximum <= ExcelOwnerMinimumBytes);
    const int length = byteAt(at) | (byteAt(at + 1) << 8);
    if (length < 1 || length > ExcelNameMaximum)
        return QString::fromLatin1(bytes.sliced(1, eightBitLength));
    QString name;
    for (int i = 0; i < length; ++i)
        name.append(QChar(static_cast<char16_t>(byteAt(at + 2 + 2 * i) | (byteAt(at + 3 + 2 * i) << 8))));
    return name;
}

QString libreOfficeLockPath(const QString &workbookPath)
{
    return beside(workbookPath, QStringLiteral(".~lock."), QStringLiteral("#"));
}

QString excelOwnerPath(const QString &workbookPath)
{
    return beside(workbookPath, QStringLiteral("~$"), QString());
}

std::optional<QString> otherProgramHolding(const QString &workbookPath)
{
    const QString workbook = QStringLiteral("«%1» сейчас открыта").arg(QFileInfo(workbookPath).fileName());
    const QString lockPath = libreOfficeLockPath(workbookPath);
    if (const auto bytes = readSmallFile(lockPath)) {
        const auto entry = parseLibreOfficeLock(*bytes);
        const bool thisMachine = entry && entry->host == officelock::hostName();
        const QString lockName = QFileInfo(lockPath).fileName();
        if (const auto pid = entry ? entry->orbelantProcess() : std::nullopt) {
            const bool ours = thisMachine && *pid == officelock::processId();
            const bool stale = thisMachine && !officelock::isHeld(lockPath);
            if (!ours && !stale)
                return QStringLiteral("%1 в Орбеланте%2 (файл блокировки «%3»)").arg(workbook, quotedHolder(entry->holder()), lockName);
        } else if (!(thisMachine && !officelock::libreOfficeRunsHere())) {
            return QStringLiteral("%1 в LibreOffice%2 (файл блокировки «%3»)")
                .arg(workbook, quotedHolder(entry ? entry->holder() : QString()), lockName);
        }
    }
    const QString ownerPath = excelOwnerPath(workbookPath);
    if (const auto bytes = readSmallFile(ownerPath)) {
        const QString holder = parseExcelOwner(*bytes).value_or(QString());
        return QStringLiteral("%1 в Microsoft Excel%2 (файл блокировки «%3»)")
            .arg(workbook, quotedHolder(holder), QFileInfo(ownerPath).fileName());
    }
    return std::nullopt;
}

// ---- The program's own lock file ----------------------------------------------------

WorkbookLockFile::~WorkbookLockFile()
{
    officelock::removeIfOurs(m_path, std::move(m_file));
}

std::unique_ptr<WorkbookLockFile> WorkbookLockFile::create(const QString &workbookPath)
{
    const QString lockPath = libreOfficeLockPath(workbookPath);
    const LibreOfficeLockEntry entry{officelock::userName(), officelock::loginName(), officelock::hostName(),
                                     QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm")),
                                     OrbelantProfile + QString::number(officelock::processId())};
    const auto staleOfOurs = [](QByteArrayView bytes) {
        const auto found = parseLibreOfficeLock(bytes);
        return found && found->orbelantProcess() && found->host == officelock::hostName();
    };
    // Another program's lock, or a live one of ours, is left alone; a stale one of ours
    // is removed, once, and ours is made in its place.
    const QByteArray content = formatLibreOfficeLock(entry);
    SystemFile file = officelock::createAndHold(lockPath, content);
    if (!file.isOpen() && officelock::removeIfStale(lockPath, staleOfOurs))
        file = officelock::createAndHold(lockPath, content);
    if (!file.isOpen())
        return nullptr;
    return std::unique_ptr<WorkbookLockFile>(new WorkbookLockFile(lockPath, std::move(file)));
}

} // namespace orbelant

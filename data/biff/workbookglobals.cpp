#include "workbookglobals.h"
#include "recordstream.h"
#include "../bytereader.h"

namespace orbelant::biff {

bool isBuiltInDateFormat(quint16 formatIndex)
{
    // 27–36 and 50–58 are the date formats of East Asian versions of Excel.
    return (formatIndex >= 14 && formatIndex <= 22) || (formatIndex >= 27 && formatIndex <= 36)
        || (formatIndex >= 45 && formatIndex <= 47) || (formatIndex >= 50 && formatIndex <= 58);
}

bool isDateFormatString(const QString &format)
{
    const QString lower = format.toLower();
    if (lower == QLatin1String("general") || lower == QLatin1String("@"))
        return false;
    int dateLetters = 0;
    int digitPlaceholders = 0;
    for (qsizetype i = 0; i < lower.size(); ++i) {
        const QChar c = lower[i];
        if (c == u'"') { // quoted literal text
            const qsizetype close = lower.indexOf(u'"', i + 1);
            i = close < 0 ? lower.size() : close;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i; // the next character is literal or padding
        } else if (c == u'[') {
            const qsizetype close = lower.indexOf(u']', i + 1);
            i = close < 0 ? lower.size() : close;
        } else if (c == u'y' || c == u'm' || c == u'd' || c == u'h' || c == u's') {
            ++dateLetters;
        } else if (c == u'0' || c == u'#' || c == u'?') {
            ++digitPlaceholders;
        }
    }
    return dateLetters > 0 && dateLetters > digitPlaceholders;
}

namespace {

std::unexpected<Error> damaged(const Record &record, const QString &what)
{
    return fail(ErrorCode::Damaged, describeRecord(record.id, record.position) + QLatin1Char(' ') + what, record.position);
}

} // namespace

Result<WorkbookGlobals> readWorkbookGlobals(QByteArrayView stream, const QString &displayName)
{
    RecordStream records(stream);
    const auto bof = records.next();
    if (!bof && records.error())
        return std::unexpected(*records.error());
    if (!bof)
        return fail(ErrorCode::Damaged, QStringLiteral("поток книги в файле «%1» пуст").arg(displayName));
    if (bof->id == Id::Bof2 || bof->id == Id::Bof3 || bof->id == Id::Bof4)
        return fail(ErrorCode::OldFormat, displayName);
    if (bof->id != Id::Bof)
        return fail(ErrorCode::Damaged, QStringLiteral("поток книги не начинается с записи BOF"), 0);
    ByteReader bofData(bof->data);
    const quint16 version = bofData.u16();
    const quint16 kind = bofData.u16();
    if (!bofData.ok())
        return damaged(*bof, QStringLiteral("слишком короткая"));
    if (version != Biff8Version)
        return fail(ErrorCode::OldFormat, displayName);
    if (kind != BofGlobals)
        return damaged(*bof, QStringLiteral("не открывает общую часть книги"));

    WorkbookGlobals globals;
    std::vector<quint16> xfFormats;
    QHash<quint16, QString> formats;
    std::vector<QByteArrayView> sstSegments;
    qint64 sstPosition = -1;
    bool inSst = false;

    while (true) {
        const auto record = records.next();
        if (!record) {
            if (records.error())
                return std::unexpected(*records.error());
            globals.end = stream.size(); // some writers omit the globals' EOF; the sheets are found by position
            break;
        }
        if (record->id == Id::Continue && inSst) {
            sstSegments.push_back(record->data);
            continue;
        }
        inSst = false;
        ByteReader data(record->data);
        switch (record->id) {
        case Id::FilePass:
            return fail(ErrorCode::Encrypted, displayName, record->position);
        case Id::DateMode:
            globals.dates = data.u16() == 1 ? DateSystem::From1904 : DateSystem::From1900;
            break;
        case Id::Format: {
            const quint16 index = data.u16();
            const auto text = readUnicodeString(record->data, 2);
            if (!data.ok() || !text)
                return damaged(*record, QStringLiteral("с неверным форматом числа"));
            formats.insert(index, *text);
            break;
        }
        case Id::Xf:
            data.skip(2);
            xfFormats.push_back(data.u16());
            if (!data.ok())
                return damaged(*record, QStringLiteral("слишком короткая"));
            break;
        case Id::Sst:
            if (sstPosition >= 0)
                return damaged(*record, QStringLiteral("повторяет таблицу строк"));
            sstPosition = record->position;
            sstSegments.push_back(record->data);
            inSst = true;
            break;
        case Id::BoundSheet: {
            SheetEntry sheet;
            sheet.bofPosition = data.u32();
            sheet.visibility = data.u8() & 0x03;
            sheet.type = data.u8();
            const auto name = readShortUnicodeString(record->data, 6);
            if (!data.ok() || !name)
                return damaged(*record, QStringLiteral("с неверным именем листа"));
            sheet.name = *name;
            globals.sheets.push_back(sheet);
            break;
        }
        default:
            break;
        }
        if (record->id == Id::Eof) {
            globals.end = record->end();
            break;
        }
        if (record->id == Id::Bof) { // a sheet began without the globals' EOF
            globals.end = record->position;
            break;
        }
    }

    globals.dateFormatXf.reserve(xfFormats.size());
    for (const quint16 format : xfFormats) {
        const auto custom = formats.constFind(format);
        globals.dateFormatXf.push_back(custom != formats.cend() ? isDateFormatString(*custom) : isBuiltInDateFormat(format));
    }

    if (sstPosition >= 0) {
        auto strings = SharedStrings::index(std::move(sstSegments), sstPosition);
        if (!strings)
            return std::unexpected(strings.error());
        globals.strings = std::move(*strings);
    }
    return globals;
}

} // namespace orbelant::biff

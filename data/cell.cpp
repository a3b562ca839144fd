#include "cell.h"
#include "numbertext.h"

#include <QDate>
#include <cmath>

namespace orbelant {

QString errorText(quint8 errorCode)
{
    switch (errorCode) {
    case 0x00: return QStringLiteral("#ПУСТО!");
    case 0x07: return QStringLiteral("#ДЕЛ/0!");
    case 0x0F: return QStringLiteral("#ЗНАЧ!");
    case 0x17: return QStringLiteral("#ССЫЛКА!");
    case 0x1D: return QStringLiteral("#ИМЯ?");
    case 0x24: return QStringLiteral("#ЧИСЛО!");
    case 0x2A: return QStringLiteral("#Н/Д");
    }
    return QStringLiteral("#Н/Д");
}

// Excel's serial day numbers: 1900 system counts 1900-01-01 as day 1 and keeps the
// fictitious 29 February 1900 as day 60; the 1904 system counts 1904-01-01 as day 0.
static QString dateText(double serial, DateSystem dates)
{
    constexpr double lastSerial = 2958465.0; // 31.12.9999 in the 1900 system
    if (serial < 0 || serial >= lastSerial + 1 || !std::isfinite(serial))
        return formatNumber(serial);

    qint64 totalSeconds = std::llround(serial * 86400.0);
    qint64 day = totalSeconds / 86400;
    const qint64 secondOfDay = totalSeconds % 86400;
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(secondOfDay / 3600, 2, 10, QLatin1Char('0'))
                             .arg(secondOfDay / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(secondOfDay % 60, 2, 10, QLatin1Char('0'));
    if (day == 0 && dates == DateSystem::From1900)
        return time; // a time of day without a date

    QString date;
    if (dates == DateSystem::From1904) {
        date = QDate(1904, 1, 1).addDays(day).toString(QStringLiteral("dd.MM.yyyy"));
    } else if (day == 60) {
        date = QStringLiteral("29.02.1900");
    } else {
        const QDate base = day < 60 ? QDate(1899, 12, 31) : QDate(1899, 12, 30);
        date = base.addDays(day).toString(QStringLiteral("dd.MM.yyyy"));
    }
    return secondOfDay == 0 ? date : date + QLatin1Char(' ') + time;
}

QString cellText(const Cell &cell, DateSystem dates)
{
    switch (cell.kind) {
    case Cell::Kind::Empty:
        return {};
    case Cell::Kind::Number:
        return cell.isDate ? dateText(cell.number, dates) : formatNumber(cell.number);
    case Cell::Kind::Text:
        return cell.text;
    case Cell::Kind::Boolean:
        return cell.code ? QStringLiteral("ИСТИНА") : QStringLiteral("ЛОЖЬ");
    case Cell::Kind::Error:
        return errorText(cell.code);
    }
    return {};
}

} // namespace orbelant

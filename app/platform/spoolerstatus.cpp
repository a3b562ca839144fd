#include "spoolerstatus.h"

#include <QLibrary>

namespace orbelant {

#if defined(Q_OS_UNIX)

namespace {

// From CUPS's ipp.h: statuses from 0x0400 on are errors.
constexpr int firstIppError = 0x0400;

} // namespace

QString spoolerRefusal()
{
    // The library Qt's print support has loaded already; nothing is loaded when absent.
    QLibrary cups(QStringLiteral("cups"), 2);
    using LastError = int (*)();
    using LastErrorString = const char *(*)();
    const auto lastError = reinterpret_cast<LastError>(cups.resolve("cupsLastError"));
    const auto lastErrorString = reinterpret_cast<LastErrorString>(cups.resolve("cupsLastErrorString"));
    if (!lastError || !lastErrorString || lastError() < firstIppError)
        return {};
    QString reason = QString::fromUtf8(lastErrorString()).trimmed();
    if (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return reason;
}

#else

// Other systems report a refused job when the painter ends.
QString spoolerRefusal()
{
    return {};
}

#endif

} // namespace orbelant

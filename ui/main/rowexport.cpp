#include "rowexport.h"

namespace orbelant {

namespace {

// A line break as the field holds it (LF, or CR LF and CR from a pasted text) becomes CR LF.
QString withFileLineBreaks(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text;
}

} // namespace

QStringList exportTexts(const ShownRow &row)
{
    return {
        QStringLiteral(" возраст "), withFileLineBreaks(row.age),
        QStringLiteral(" эон "),     withFileLineBreaks(row.eonothem),
        QStringLiteral(" эра "),     withFileLineBreaks(row.erathem),
        QStringLiteral(" период "),  withFileLineBreaks(row.system),
        QStringLiteral(" эпоха "),   withFileLineBreaks(row.series),
        QStringLiteral(" век  "),    withFileLineBreaks(row.stage),
        QStringLiteral(" орг.мир  "), withFileLineBreaks(row.organicWorld),
    };
}

} // namespace orbelant

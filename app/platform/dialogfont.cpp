#include "dialogfont.h"

#include <QStringList>

namespace orbelant {

QFont dialogFont(const QFont &systemFont)
{
    QFont font = systemFont;
#ifndef Q_OS_WIN
    // Windows' dialog font already has the measure; elsewhere Arial (or the metric-
    // compatible Liberation Sans) has it, where the usual desktop fonts run wider.
    font.setFamilies(QStringList{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
#endif
    font.setPointSize(8);
    return font;
}

} // namespace orbelant

#pragma once
// The font the windows use by default. The window layouts are drawn in pixels for an
// 8-point dialog font of the Arial / MS Sans Serif measure; a larger system font would
// push captions out of their boxes.

#include <QFont>

namespace orbelant {

QFont dialogFont(const QFont &systemFont);

} // namespace orbelant

#pragma once
// Numbers as people type and read them here: a decimal comma or point, no grouping.

#include <QString>
#include <optional>

namespace orbelant {

// Reads a number typed by a person: optional sign, digits with a decimal comma or point,
// an optional exponent, blanks around it allowed. Anything else, or a value out of range,
// gives nullopt.
std::optional<double> parseNumberText(QStringView text);

// The fewest digits that read back as the same double, with a decimal comma:
// 145, 2,58, 0,0117, -3,5, 1E+20, 1E-07.
QString formatNumber(double value);

} // namespace orbelant

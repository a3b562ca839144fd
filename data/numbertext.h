#pragma once
// Numbers as people type and read them here: a decimal comma or point, no grouping in
// the fields, digits in groups in sentences.

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

// A number without a sign as a sentence shows it: from five digits up, the whole part of
// `number` (written as formatNumber or QString::number write it) in groups of three parted
// by a space; four digits stay together: 4567, 10 000, 8 000 000, 12 345,5.
QString groupDigits(QString number);

// A count, size or limit in a sentence: its decimal digits, grouped.
QString formatCount(qint64 value);

} // namespace orbelant

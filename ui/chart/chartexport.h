#pragma once
// The whole chart written to a file: PDF (pages fitted to A4 width, text that can be selected),
// SVG or PNG, chosen by the file's extension.

#include <QString>
#include <expected>

namespace orbelant {

class ChartLayout;

inline const QString chartTitle = QStringLiteral("Геохронологическая шкала");

// Writes the chart to `path`, replacing the file only once the new one is whole. Gives a
// Russian sentence when the extension is none of the three or the file cannot be written.
std::expected<void, QString> exportChart(const ChartLayout &layout, const QString &path);

} // namespace orbelant

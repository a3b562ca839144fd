#pragma once
// The units of the International Chronostratigraphic Chart (International Commission on
// Stratigraphy, CC BY 4.0) at the five ranks a workbook row shows, with their standard colours.
// The table itself, chartunits.cpp, is written by tools/make_chart_units.py.

#include <QtGlobal>
#include <span>

namespace orbelant {

// The ranks of the workbook's unit columns, from the largest: Эонотема … Ярус.
enum class ChartRank { Eonothem, Erathem, System, Series, Stage };

struct ChartUnit {
    ChartRank rank;
    double base; // millions of years
    double top;
    quint32 colour;          // 0xRRGGBB
    const char16_t *names;   // Russian names and variants, separated by |, the English name last
    const char16_t *parent;  // English name of the unit of the rank above; empty for an eonothem
};

std::span<const ChartUnit> chartUnits();

} // namespace orbelant

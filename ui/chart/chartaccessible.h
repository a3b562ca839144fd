#pragma once
// The chart in the accessibility tree: every cell a child of the view, with the unit's name,
// its rank and bounds as the description, selected where it holds the current row, and a
// Press action that chooses it as a click does.

#include "chartview.h"

namespace orbelant {

// Makes the accessibility tree describe every ChartView this way; once is enough.
void installChartAccessibility();
// Tells assistive programs what changed in `view`.
void announceChartChanged(ChartView *view);
// The cells that hold the current row are the selected ones now.
void announceCurrentRow(ChartView *view);
void announceFocus(ChartView *view, const ChartView::Cell &cell);

} // namespace orbelant

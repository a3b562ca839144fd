#pragma once
// The one drawing of the chart, for the window, the printer and the files: equal rows under a
// header, each run of rows filled with its unit's colour and framed in black, its name centred
// in black or white. Sizes are the chart's own pixels (96 to the inch); the painter may scale.

#include "chartlayout.h"

#include <QFont>
#include <QRect>
#include <vector>

class QPainter;
class QPagedPaintDevice;

namespace orbelant {

class ChartGeometry {
public:
    ChartGeometry() = default;
    // Each column as wide as its longest name, within bounds.
    ChartGeometry(const ChartLayout &layout, const QFont &font);

    // The chart's font: the same on the screen, on paper and in the files.
    static QFont chartFont();

    const QFont &font() const { return m_font; }
    int rowHeight() const { return m_rowHeight; }
    int headerHeight() const { return m_headerHeight; }
    // Width and height of the whole chart, its closing lines included.
    int width() const { return m_lefts.empty() ? 0 : m_lefts.back() + 1; }
    int height(qsizetype rows) const { return m_headerHeight + static_cast<int>(rows) * m_rowHeight + 1; }
    // The column whose cells take `x`; -1 left or right of the chart.
    int columnAt(int x) const;
    // The rectangle of rows [first, first + count) of `column`, row `origin` being at `top`.
    QRect cellRect(int column, qsizetype first, qsizetype count, qsizetype origin, int top) const;

private:
    QFont m_font;
    int m_rowHeight = 0;
    int m_headerHeight = 0;
    std::vector<int> m_lefts; // the left edge of each column, then the right edge of the last
};

// The column titles along the top, from y = 0.
void drawHeader(QPainter &painter, const ChartLayout &layout, const ChartGeometry &geometry);
// Rows [first, end) with row `first` at `top`. A run that the range cuts shows its name in
// the part drawn.
void drawRows(QPainter &painter, const ChartLayout &layout, const ChartGeometry &geometry, qsizetype first,
              qsizetype end, int top);
// The current row's mark across all columns, the row at `top`.
void drawMark(QPainter &painter, const ChartGeometry &geometry, int top);
// Header and every row, as one picture of geometry.width() × geometry.height(rows).
void drawChart(QPainter &painter, const ChartLayout &layout, const ChartGeometry &geometry);
// On the pages of `pages`, whose first page `painter` has begun: fitted to the page width,
// the header on every page and as many rows under it as fit. Returns the number of pages.
int drawPages(QPainter &painter, QPagedPaintDevice &pages, const ChartLayout &layout, const ChartGeometry &geometry);

} // namespace orbelant

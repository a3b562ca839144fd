#pragma once
// The chart in a window: only the rows in sight are drawn; the header stays on top while the
// rows scroll under it. The current row is marked across all columns. A click on a cell, or
// Enter on the cell the arrow keys moved to, chooses its unit's first row; hovering shows the
// unit's name, rank, bounds and the start of the row's note.

#include "chartdrawing.h"
#include "chartlayout.h"

#include <QAbstractScrollArea>

namespace orbelant {

class ChartView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    struct Cell {
        int column = -1; // -1: no cell
        qsizetype row = 0;
    };

    explicit ChartView(QWidget *parent = nullptr);
    ~ChartView() override;

    void showChart(ChartLayout chart);
    const ChartLayout &chart() const { return m_chart; }
    const ChartGeometry &chartGeometry() const { return m_geometry; }

    // Marks `row` (-1: none) and scrolls it into view when it is out of sight.
    void setCurrentRow(qsizetype row);
    qsizetype currentRow() const { return m_current; }

    // The cell under a point of the viewport.
    Cell cellAt(const QPoint &point) const;
    // Where the whole run that holds the cell lies in the viewport.
    QRect runRect(int column, qsizetype row) const;
    Cell focusCell() const { return m_focus; }
    // Chooses the cell's unit, as a click does: rowChosen with its first row, nothing on a blank.
    void choose(const Cell &cell);
    // How many rows the last paint drew.
    qsizetype paintedRows() const { return m_paintedRows; }

    QSize sizeHint() const override;

signals:
    void rowChosen(qsizetype row);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void updateScrollBars();
    // Whether the rows from `top` (chart pixels below the header), `height` high, are in sight.
    bool inSight(int top, int height) const;
    // Scrolls `row` to the middle of the rows in sight, unless it is in sight already.
    void centreInView(qsizetype row);
    // Scrolls as little as brings rows [row, row + count) into sight, as many as fit.
    void bringIntoView(qsizetype row, qsizetype count);
    void moveFocus(int column, qsizetype row);
    int rowsHeight() const;
    // y of row 0 in the viewport.
    int rowsTop() const;

    ChartLayout m_chart;
    ChartGeometry m_geometry;
    qsizetype m_current = -1;
    Cell m_focus{0, 0};
    qsizetype m_paintedRows = 0;
};

} // namespace orbelant

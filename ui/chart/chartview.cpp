#include "chartview.h"

#include "chartaccessible.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

namespace orbelant {

namespace {

constexpr int focusInset = 3; // the focused cell's dotted frame, inside its lines

} // namespace

ChartView::ChartView(QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_geometry(m_chart, ChartGeometry::chartFont())
{
    installChartAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Base);
}

ChartView::~ChartView() = default;

void ChartView::showChart(ChartLayout chart)
{
    m_chart = std::move(chart);
    m_geometry = ChartGeometry(m_chart, ChartGeometry::chartFont());
    // The focus keeps its column where it can; its row follows the current row.
    const bool hasCells = m_chart.columnCount() > 0 && m_chart.rowCount() > 0;
    m_focus = hasCells ? Cell{std::min(m_focus.column, m_chart.columnCount() - 1), 0} : Cell{};
    if (m_current >= m_chart.rowCount())
        m_current = -1;
    announceChartChanged(this);
    updateScrollBars();
    viewport()->update();
}

void ChartView::setCurrentRow(qsizetype row)
{
    m_current = row >= 0 && row < m_chart.rowCount() ? row : -1;
    if (m_current >= 0) {
        m_focus.row = m_current;
        if (isVisible())
            centreInView(m_current);
    }
    announceCurrentRow(this);
    viewport()->update();
}

ChartView::Cell ChartView::cellAt(const QPoint &point) const
{
    if (point.y() < m_geometry.headerHeight())
        return {};
    const qsizetype row = (point.y() - rowsTop()) / m_geometry.rowHeight();
    const int column = m_geometry.columnAt(point.x() + horizontalScrollBar()->value());
    if (row >= m_chart.rowCount() || column < 0)
        return {};
    return {column, row};
}

QRect ChartView::runRect(int column, qsizetype row) const
{
    const ChartRun &run = m_chart.run(column, row);
    return m_geometry.cellRect(column, run.first, run.count, 0, rowsTop()).translated(-horizontalScrollBar()->value(), 0);
}

void ChartView::choose(const Cell &cell)
{
    if (cell.column < 0)
        return;
    const ChartRun &run = m_chart.run(cell.column, cell.row);
    if (!run.text.isEmpty())
        emit rowChosen(run.first);
}

QSize ChartView::sizeHint() const
{
    const int frame = 2 * frameWidth();
    return QSize(m_geometry.width() + verticalScrollBar()->sizeHint().width() + frame,
                 m_geometry.height(m_chart.rowCount()) + frame);
}

void ChartView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.translate(-horizontalScrollBar()->value(), 0);
    const int rowHeight = m_geometry.rowHeight();
    const qsizetype first = verticalScrollBar()->value() / rowHeight;
    const qsizetype end = std::min(m_chart.rowCount(), first + rowsHeight() / rowHeight + 2);
    const int top = rowsTop() + static_cast<int>(first) * rowHeight;
    drawRows(painter, m_chart, m_geometry, first, end, top);
    if (m_current >= 0) // drawn where the row is, in sight or not
        drawMark(painter, m_geometry, rowsTop() + static_cast<int>(m_current) * rowHeight);
    if (hasFocus() && m_focus.column >= 0) {
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        const QRect cell = runRect(m_focus.column, m_focus.row).translated(horizontalScrollBar()->value(), 0);
        painter.drawRect(cell.marginsRemoved(QMargins(focusInset, focusInset, focusInset, focusInset)));
    }
    drawHeader(painter, m_chart, m_geometry);
    m_paintedRows = std::max<qsizetype>(0, end - first);
}

void ChartView::mouseReleaseEvent(QMouseEvent *event)
{
    const Cell cell = cellAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || cell.column < 0)
        return;
    m_focus = cell;
    viewport()->update();
    choose(cell);
}

void ChartView::keyPressEvent(QKeyEvent *event)
{
    if (m_focus.column < 0) { // no cells
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const ChartRun &run = m_chart.run(m_focus.column, m_focus.row);
    const qsizetype page = std::max(1, rowsHeight() / m_geometry.rowHeight());
    switch (event->key()) {
    case Qt::Key_Up: moveFocus(m_focus.column, run.first - 1); break;
    case Qt::Key_Down: moveFocus(m_focus.column, run.first + run.count); break;
    case Qt::Key_Left: moveFocus(m_focus.column - 1, m_focus.row); break;
    case Qt::Key_Right: moveFocus(m_focus.column + 1, m_focus.row); break;
    case Qt::Key_PageUp: moveFocus(m_focus.column, std::max<qsizetype>(0, m_focus.row - page)); break;
    case Qt::Key_PageDown: moveFocus(m_focus.column, std::min(m_chart.rowCount() - 1, m_focus.row + page)); break;
    case Qt::Key_Home: moveFocus(m_focus.column, 0); break;
    case Qt::Key_End: moveFocus(m_focus.column, m_chart.rowCount() - 1); break;
    case Qt::Key_Return:
    case Qt::Key_Enter: choose(m_focus); break;
    default: QAbstractScrollArea::keyPressEvent(event);
    }
}

void ChartView::moveFocus(int column, qsizetype row)
{
    if (column < 0 || column >= m_chart.columnCount() || row < 0 || row >= m_chart.rowCount())
        return;
    m_focus = {column, row};
    const ChartRun &run = m_chart.run(column, row);
    bringIntoView(row, run.first + run.count - row);
    announceFocus(this, m_focus);
    viewport()->update();
}

bool ChartView::viewportEvent(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QAbstractScrollArea::viewportEvent(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const Cell cell = cellAt(help->pos());
    const QString text = cell.column < 0 ? QString() : m_chart.hoverText(cell.column, cell.row);
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, viewport(), runRect(cell.column, cell.row));
    return true;
}

// Shown at its size, the chart has the current row in sight (the top, when there is none).
void ChartView::showEvent(QShowEvent *event)
{
    QAbstractScrollArea::showEvent(event);
    centreInView(m_current);
}

void ChartView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

// The header stays in place: the whole viewport is drawn again rather than moved.
void ChartView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void ChartView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ChartView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ChartView::updateScrollBars()
{
    const int rowsExtent = m_geometry.height(m_chart.rowCount()) - m_geometry.headerHeight();
    verticalScrollBar()->setRange(0, std::max(0, rowsExtent - rowsHeight()));
    verticalScrollBar()->setPageStep(rowsHeight());
    verticalScrollBar()->setSingleStep(m_geometry.rowHeight());
    horizontalScrollBar()->setRange(0, std::max(0, m_geometry.width() - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

bool ChartView::inSight(int top, int height) const
{
    const int shown = verticalScrollBar()->value();
    return top >= shown && top + height <= shown + rowsHeight();
}

void ChartView::centreInView(qsizetype row)
{
    const int rowHeight = m_geometry.rowHeight();
    const int top = static_cast<int>(row) * rowHeight;
    if (!inSight(top, rowHeight))
        verticalScrollBar()->setValue(top - (rowsHeight() - rowHeight) / 2);
}

void ChartView::bringIntoView(qsizetype row, qsizetype count)
{
    const int top = static_cast<int>(row) * m_geometry.rowHeight();
    const int height = std::min(static_cast<int>(count) * m_geometry.rowHeight(), rowsHeight());
    if (!inSight(top, height))
        verticalScrollBar()->setValue(top < verticalScrollBar()->value() ? top : top + height - rowsHeight());
}

int ChartView::rowsHeight() const
{
    return std::max(0, viewport()->height() - m_geometry.headerHeight());
}

int ChartView::rowsTop() const
{
    return m_geometry.headerHeight() - verticalScrollBar()->value();
}

} // namespace orbelant

#include "chartdrawing.h"

#include <QFontMetrics>
#include <QHash>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QtMath>
#include <algorithm>

namespace orbelant {

namespace {

constexpr int padding = 6;         // around a name inside its frame
constexpr int widestColumn = 280;  // longer names are cut short with …
constexpr int fontPixels = 12;
const QColor headerFill(0xEE, 0xEE, 0xEE);
const QColor markFill(0x00, 0x5A, 0xC8, 0x40);
const QColor markFrame(0x00, 0x3C, 0xA0);

QFont boldFont(const QFont &font)
{
    QFont bold = font;
    bold.setBold(true);
    return bold;
}

// How wide names are, added up from their characters' advances: as wide as the name drawn or
// a little wider (pairs set closer are not looked at), and quick for tens of thousands of names.
class NameWidths {
public:
    explicit NameWidths(const QFont &font)
        : m_metrics(font)
    {
    }

    qreal of(QStringView name)
    {
        qreal width = 0;
        for (const QChar character : name) {
            auto advance = m_advances.constFind(character.unicode());
            if (advance == m_advances.cend())
                advance = m_advances.insert(character.unicode(), m_metrics.horizontalAdvance(character));
            width += *advance;
        }
        return width;
    }

private:
    QFontMetricsF m_metrics;
    QHash<char16_t, qreal> m_advances;
};

// A frame whose lines lie on the first pixels of `rect` and of its neighbours to the right
// and below, so that neighbouring cells share one line.
void drawFrame(QPainter &painter, const QRect &rect)
{
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect).translated(0.5, 0.5));
}

void drawCell(QPainter &painter, const QRect &rect, const QString &text, const QColor &fill)
{
    painter.fillRect(rect, fill);
    drawFrame(painter, rect);
    painter.setPen(textColourOn(fill));
    const QRect inside = rect.adjusted(padding, 0, -padding, 0);
    painter.drawText(inside, Qt::AlignCenter,
                     painter.fontMetrics().elidedText(text, Qt::ElideRight, inside.width()));
}

} // namespace

ChartGeometry::ChartGeometry(const ChartLayout &layout, const QFont &font)
    : m_font(font)
{
    NameWidths names(font);
    const QFontMetricsF titleMetrics(boldFont(font));
    m_rowHeight = qCeil(QFontMetricsF(font).height()) + padding;
    m_headerHeight = qCeil(titleMetrics.height()) + 2 * padding;
    int left = 0;
    for (const ChartColumn &column : layout.columns()) {
        m_lefts.push_back(left);
        qreal widest = titleMetrics.horizontalAdvance(column.title);
        for (const ChartRun &run : column.runs)
            widest = std::max(widest, names.of(run.text));
        // A pixel to spare, as the name is drawn at pixel positions.
        left += std::min(qCeil(widest) + 1, widestColumn) + 2 * padding;
    }
    m_lefts.push_back(left);
}

QFont ChartGeometry::chartFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(fontPixels);
    return font;
}

int ChartGeometry::columnAt(int x) const
{
    if (m_lefts.empty() || x >= m_lefts.back())
        return -1;
    // Left of the first column, that is -1 too.
    return static_cast<int>(std::upper_bound(m_lefts.cbegin(), m_lefts.cend(), x) - m_lefts.cbegin()) - 1;
}

QRect ChartGeometry::cellRect(int column, qsizetype first, qsizetype count, qsizetype origin, int top) const
{
    return QRect(m_lefts[column], top + static_cast<int>(first - origin) * m_rowHeight,
                 m_lefts[column + 1] - m_lefts[column], static_cast<int>(count) * m_rowHeight);
}

void drawHeader(QPainter &painter, const ChartLayout &layout, const ChartGeometry &geometry)
{
    painter.save();
    painter.setFont(boldFont(geometry.font()));
    for (int column = 0; column < layout.columnCount(); ++column) {
        const QRect cell = geometry.cellRect(column, 0, 1, 0, 0);
        drawCell(painter, QRect(cell.left(), 0, cell.width(), geometry.headerHeight()),
                 layout.columns()[column].title, headerFill);
    }
    painter.restore();
}

void drawRows(QPainter &painter, const ChartLayout &layout, const ChartGeometry &geometry, qsizetype first,
              qsizetype end, int top)
{
    if (first >= end)
        return;
    painter.save();
    painter.setFont(geometry.font());
    for (int column = 0; column < layout.columnCount(); ++column) {
        const std::vector<ChartRun> &runs = layout.columns()[column].runs;
        for (auto run = runs.cbegin() + layout.runIndex(column, first); run != runs.cend() && run->first < end; ++run) {
            if (run->text.isEmpty())
                continue; // a blank is left blank
            const qsizetype from = std::max(run->first, first);
            const qsizetype to = std::min(run->first + run->count, end);
            drawCell(painter, geometry.cellRect(column, from, to - from, first, top), run->text,
                     run->fill.isValid() ? run->fill : QColor(Qt::white));
        }
    }
    painter.restore();
}

void drawMark(QPainter &painter, const ChartGeometry &geometry, int top)
{
    const QRect band(0, top, geometry.width(), geometry.rowHeight() + 1);
    painter.fillRect(band, markFill);
    painter.setPen(QPen(markFrame, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(band.adjusted(1, 1, -1, -1));
}

void drawChart(QPainter &painter, const ChartLayout &layout, const ChartGeometry &geometry)
{
    painter.fillRect(QRect(0, 0, geometry.width(), geometry.height(layout.rowCount())), Qt::white);
    drawRows(painter, layout, geometry, 0, layout.rowCount(), geometry.headerHeight());
    drawHeader(painter, layout, geometry);
}

int drawPages(QPainter &painter, QPagedPaintDevice &pages, const ChartLayout &layout, const ChartGeometry &geometry)
{
    const qreal scale = qreal(pages.width()) / geometry.width();
    const qreal rowsThatFit = (pages.height() / scale - geometry.headerHeight()) / geometry.rowHeight();
    const qsizetype rowsPerPage = std::max<qsizetype>(1, qFloor(rowsThatFit));
    int count = 0;
    for (qsizetype first = 0; first < layout.rowCount() || count == 0; first += rowsPerPage) {
        if (count > 0)
            pages.newPage();
        ++count;
        painter.save();
        painter.scale(scale, scale);
        drawRows(painter, layout, geometry, first, std::min(first + rowsPerPage, layout.rowCount()),
                 geometry.headerHeight());
        drawHeader(painter, layout, geometry);
        painter.restore();
    }
    return count;
}

} // namespace orbelant

#include "chartlayout.h"

#include "numbertext.h"
#include "scaleranks.h"

#include <algorithm>

namespace orbelant {

namespace {

constexpr qsizetype noteStartLength = 200;

std::optional<double> ageOf(const Cell &cell)
{
    if (cell.kind == Cell::Kind::Number)
        return cell.number;
    if (cell.kind == Cell::Kind::Text)
        return parseNumberText(cell.text);
    return std::nullopt;
}

// Each row's time: from the next younger age in the sheet (the present for the youngest) down
// to its own age. None where the age is not a number.
std::vector<std::optional<TimeSpan>> rowSpans(const SheetTable &table, qsizetype ageColumn)
{
    std::vector<std::optional<TimeSpan>> spans(table.recordCount());
    if (ageColumn < 0)
        return spans;
    std::vector<std::optional<double>> ages(spans.size());
    std::vector<double> sorted;
    for (qsizetype row = 0; row < table.recordCount(); ++row) {
        ages[row] = ageOf(table.cell(row, ageColumn));
        if (ages[row])
            sorted.push_back(*ages[row]);
    }
    std::sort(sorted.begin(), sorted.end());
    for (qsizetype row = 0; row < table.recordCount(); ++row) {
        if (!ages[row])
            continue;
        const double base = *ages[row];
        const auto younger = std::lower_bound(sorted.cbegin(), sorted.cend(), base);
        const double top = younger == sorted.cbegin() ? std::min(0.0, base) : *(younger - 1);
        spans[row] = TimeSpan{top, base};
    }
    return spans;
}

std::optional<TimeSpan> joined(const std::optional<TimeSpan> &left, const std::optional<TimeSpan> &right)
{
    if (!left || !right)
        return left ? left : right;
    return TimeSpan{std::min(left->top, right->top), std::max(left->base, right->base)};
}

QString noteStart(const QString &note)
{
    const QString text = note.simplified();
    if (text.size() <= noteStartLength)
        return text;
    const qsizetype cut = text.lastIndexOf(QLatin1Char(' '), noteStartLength);
    return text.left(cut > 0 ? cut : noteStartLength) + QChar(u'…');
}

} // namespace

ChartLayout::ChartLayout(const SheetTable &table)
    : m_table(table)
    , m_rowSpans(rowSpans(table, table.columnIndex(u"Возраст")))
{
    const qsizetype rows = table.recordCount();
    // Where a run starts in the columns so far; a run of the next column starts there too, so
    // that a unit is merged only under one parent.
    std::vector<bool> startsHere(rows, false);
    static_assert(std::size(scaleRanks) == int(ChartRank::Stage) + 1); // the chart's ranks in the same order
    for (int rank = 0; rank < int(std::size(scaleRanks)); ++rank) {
        const qsizetype tableColumn = table.columnIndex(scaleRanks[rank].column);
        if (tableColumn < 0)
            continue;
        const auto chartRank = static_cast<ChartRank>(rank);
        ChartColumn column{QString::fromUtf16(scaleRanks[rank].column), QString::fromUtf16(scaleRanks[rank].noun), chartRank, {}};
        Cell above;
        for (qsizetype row = 0; row < rows; ++row) {
            Cell cell = table.cell(row, tableColumn);
            // Cells alike hold one name; cells that differ may still, but for blanks around it.
            if (row == 0 || startsHere[row] || (cell != above && nameIn(cell) != column.runs.back().text)) {
                startsHere[row] = true;
                column.runs.push_back(ChartRun{row, 0, nameIn(cell), {}, {}});
            }
            ChartRun &run = column.runs.back();
            ++run.count;
            run.span = joined(run.span, m_rowSpans[row]);
            above = std::move(cell);
        }
        const int parent = columnCount() - 1;
        for (ChartRun &run : column.runs) {
            if (run.text.isEmpty())
                continue;
            const QString parentName = parent >= 0 ? this->run(parent, run.first).text : QString();
            if (const ChartUnit *unit = ChartPalette::chart().find(chartRank, run.text, parentName, run.span))
                run.fill = QColor::fromRgb(unit->colour);
        }
        m_columns.push_back(std::move(column));
    }
    if (const qsizetype ageColumn = table.columnIndex(u"Возраст"); ageColumn >= 0)
        addAgeColumn(ageColumn);
}

QString ChartLayout::nameIn(const Cell &cell) const
{
    return cellText(cell, m_table.dates).trimmed();
}

void ChartLayout::addAgeColumn(qsizetype tableColumn)
{
    ChartColumn column{QStringLiteral("млн. лет"), QStringLiteral("возраст"), std::nullopt, {}};
    column.runs.reserve(m_table.recordCount());
    for (qsizetype row = 0; row < m_table.recordCount(); ++row)
        column.runs.push_back(ChartRun{row, 1, nameIn(m_table.cell(row, tableColumn)), {}, m_rowSpans[row]});
    m_columns.push_back(std::move(column));
}

qsizetype ChartLayout::runIndex(int column, qsizetype row) const
{
    const std::vector<ChartRun> &runs = m_columns[column].runs;
    const auto after = std::upper_bound(runs.cbegin(), runs.cend(), row,
                                        [](qsizetype wanted, const ChartRun &run) { return wanted < run.first; });
    return std::distance(runs.cbegin(), after) - 1;
}

QString ChartLayout::rankAndBounds(int column, qsizetype row) const
{
    const ChartRun &cell = run(column, row);
    QString text = m_columns[column].rankName;
    if (cell.span) {
        text += QStringLiteral(", %1–%2 млн. лет назад").arg(formatNumber(cell.span->base),
                                                              formatNumber(cell.span->top));
    }
    return text;
}

QString ChartLayout::hoverText(int column, qsizetype row) const
{
    const ChartRun &cell = run(column, row);
    if (cell.text.isEmpty())
        return {};
    QString text = cell.text + QLatin1Char('\n') + rankAndBounds(column, row);
    text[cell.text.size() + 1] = text[cell.text.size() + 1].toUpper();
    const qsizetype noteColumn = m_table.columnIndex(u"Органический мир");
    if (noteColumn >= 0) {
        if (const QString note = noteStart(m_table.text(row, noteColumn)); !note.isEmpty())
            text += QStringLiteral("\nОрганический мир: ") + note;
    }
    return text;
}

} // namespace orbelant

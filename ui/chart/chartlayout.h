#pragma once
// The sheet as the chart draws it: a column for each rank the sheet has (Эонотема … Ярус) and
// the age, each cut into runs of rows that share a unit under the same parent, each run with its
// unit's colour. Made from a copy of the sheet; it never writes to it.

#include "chartpalette.h"
#include "sheettable.h"

#include <QColor>
#include <QString>
#include <optional>
#include <vector>

namespace orbelant {

// One cell of the chart: consecutive rows with the same unit under the same parent.
struct ChartRun {
    qsizetype first = 0; // row
    qsizetype count = 0;
    QString text;        // empty: the space is left blank
    QColor fill;         // invalid: not filled (a blank, the age column, a unit nothing fits)
    std::optional<TimeSpan> span; // the rows' time, where their ages are numbers
};

struct ChartColumn {
    QString title;                 // as the header shows it
    QString rankName;              // "система", for the hover text and the accessibility tree
    std::optional<ChartRank> rank; // none for the age column
    std::vector<ChartRun> runs;    // in row order, covering every row
};

class ChartLayout {
public:
    ChartLayout() = default;
    explicit ChartLayout(const SheetTable &table);

    qsizetype rowCount() const { return m_table.recordCount(); }
    const std::vector<ChartColumn> &columns() const { return m_columns; }
    int columnCount() const { return static_cast<int>(m_columns.size()); }

    // The index of the run of `column` that holds `row`.
    qsizetype runIndex(int column, qsizetype row) const;
    const ChartRun &run(int column, qsizetype row) const { return m_columns[column].runs[runIndex(column, row)]; }

    // "система, 201,4–143,1 млн. лет назад": the rank and the bounds of the cell at `row`.
    QString rankAndBounds(int column, qsizetype row) const;
    // What hovering over a cell shows: its name, rank and bounds, and the start of the row's
    // note on the organic world. Empty over a blank.
    QString hoverText(int column, qsizetype row) const;

private:
    void addAgeColumn(qsizetype tableColumn);
    // A cell's text as the chart shows it: without the blanks around it.
    QString nameIn(const Cell &cell) const;

    SheetTable m_table;
    std::vector<ChartColumn> m_columns;
    std::vector<std::optional<TimeSpan>> m_rowSpans;
};

} // namespace orbelant

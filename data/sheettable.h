#pragma once
// A sheet read as a table: the used range's first row gives the column names, every
// later row up to the last row with a value is one record, in sheet order.

#include "cell.h"

#include <QStringList>
#include <vector>

namespace orbelant {

struct SheetTable {
    QString sheetName;       // without the trailing $
    QStringList columns;     // column names; a blank name is "F" + 1-based position
    std::vector<Cell> cells; // records × columns, row-major
    int firstRow = 0;        // 0-based sheet row of the column names
    int firstColumn = 0;     // 0-based sheet column of the first column
    DateSystem dates = DateSystem::From1900;

    qsizetype columnCount() const { return columns.size(); }
    qsizetype recordCount() const
    {
        return columns.isEmpty() ? 0 : static_cast<qsizetype>(cells.size()) / columns.size();
    }
    const Cell &cell(qsizetype record, qsizetype column) const
    {
        return cells[static_cast<size_t>(record * columns.size() + column)];
    }
    Cell &cell(qsizetype record, qsizetype column)
    {
        return cells[static_cast<size_t>(record * columns.size() + column)];
    }
    QString text(qsizetype record, qsizetype column) const
    {
        return cellText(cell(record, column), dates);
    }
    // Index of the first column whose name matches case-insensitively; -1 when none does.
    qsizetype columnIndex(QStringView name) const
    {
        for (qsizetype i = 0; i < columns.size(); ++i)
            if (QStringView(columns[i]).compare(name, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }
    // 0-based sheet row of a record.
    int sheetRow(qsizetype record) const { return firstRow + 1 + static_cast<int>(record); }
};

} // namespace orbelant

#pragma once
// A sheet read as a table: the used range's first row gives the column names, every
// later row up to the last row with a value is one record, in sheet order. Cells are
// decoded when they are asked for, so a large sheet costs little until it is looked at.

#include "cell.h"
#include "error.h"

#include <QHash>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace orbelant {

// Where a table's cells come from: index = record × columns + column.
class CellSource {
public:
    virtual ~CellSource() = default;
    virtual Cell cell(qsizetype index) const = 0;
};

class SheetTable {
public:
    QString sheetName;       // without the trailing $
    QStringList columns;     // column names, trimmed; a blank name is "F" + 1-based position
    int firstRow = 0;        // 0-based sheet row of the column names
    int firstColumn = 0;     // 0-based sheet column of the first column
    DateSystem dates = DateSystem::From1900;
    // Why the workbook must never be written (its container is damaged); empty when it may be.
    std::optional<Error> notSaveable;

    // A table over cells held in memory, `columns.size()` to a record.
    static SheetTable fromCells(const QStringList &columns, std::vector<Cell> cells);
    void setCellSource(std::shared_ptr<const CellSource> source, qsizetype records);

    qsizetype columnCount() const { return columns.size(); }
    qsizetype recordCount() const { return m_records; }
    Cell cell(qsizetype record, qsizetype column) const;
    QString text(qsizetype record, qsizetype column) const { return cellText(cell(record, column), dates); }
    // The value a cell holds now that it has been stored.
    void setCell(qsizetype record, qsizetype column, Cell value);
    // Index of the first column whose name matches case-insensitively, as the header cell
    // spells it or without the blanks around it; -1 when none does.
    qsizetype columnIndex(QStringView name) const;
    // 0-based sheet row of a record.
    int sheetRow(qsizetype record) const { return firstRow + 1 + static_cast<int>(record); }

private:
    std::shared_ptr<const CellSource> m_source;
    qsizetype m_records = 0;
    QHash<qsizetype, Cell> m_stored;
};

} // namespace orbelant

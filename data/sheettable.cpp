#include "sheettable.h"

namespace orbelant {

namespace {

class MemoryCells final : public CellSource {
public:
    explicit MemoryCells(std::vector<Cell> cells) : m_cells(std::move(cells)) {}
    Cell cell(qsizetype index) const override { return m_cells[static_cast<size_t>(index)]; }

private:
    std::vector<Cell> m_cells;
};

} // namespace

SheetTable SheetTable::fromCells(const QStringList &columns, std::vector<Cell> cells)
{
    SheetTable table;
    table.columns = columns;
    const qsizetype records = columns.isEmpty() ? 0 : static_cast<qsizetype>(cells.size()) / columns.size();
    cells.resize(static_cast<size_t>(records * columns.size()));
    table.setCellSource(std::make_shared<MemoryCells>(std::move(cells)), records);
    return table;
}

void SheetTable::setCellSource(std::shared_ptr<const CellSource> source, qsizetype records)
{
    m_source = std::move(source);
    m_records = records;
    m_stored.clear();
}

Cell SheetTable::cell(qsizetype record, qsizetype column) const
{
    const qsizetype index = record * columns.size() + column;
    if (const auto stored = m_stored.constFind(index); stored != m_stored.cend())
        return *stored;
    return m_source ? m_source->cell(index) : Cell();
}

void SheetTable::setCell(qsizetype record, qsizetype column, Cell value)
{
    m_stored.insert(record * columns.size() + column, std::move(value));
}

qsizetype SheetTable::columnIndex(QStringView name) const
{
    const QStringView trimmed = name.trimmed();
    for (qsizetype i = 0; i < columns.size(); ++i)
        if (QStringView(columns[i]).compare(trimmed, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

} // namespace orbelant

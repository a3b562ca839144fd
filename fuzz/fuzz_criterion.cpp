// Any bytes, read as UTF-8, as a search criterion over a small table: findFirst must
// answer or refuse with BadCriterion, never crash or hang, and what it answers must
// agree with Criterion::matches record by record.

#include "filter/criterion.h"

#include <cstdint>
#include <cstdlib>

using namespace orbelant;

namespace {

SheetTable stages()
{
    const QStringList columns = {QStringLiteral("Возраст"), QStringLiteral("Ярус"), QStringLiteral("Органический мир"),
                                 QStringLiteral("Примечание")};
    SheetTable table = SheetTable::fromCells(columns, {
        Cell::makeNumber(201.3), Cell::makeText(QStringLiteral("Геттангский")), Cell::makeText(QStringLiteral("Аммониты")), Cell(),
        Cell::makeNumber(0.01), Cell::makeText(QStringLiteral("Голоцен")), Cell::makeText(QStringLiteral("Человек")), Cell::makeText(QStringLiteral("5")),
        Cell(), Cell::makeText(QStringLiteral("Неизвестный")), Cell(), Cell::makeBoolean(true),
        Cell::makeText(QStringLiteral("н/д")), Cell::makeText(QStringLiteral("Спорный")), Cell::makeText(QStringLiteral("д'Орбиньи")), Cell::makeError(0x2A),
        Cell::makeNumber(66), Cell::makeText(QStringLiteral("Маастрихтский")), Cell::makeText(QStringLiteral("Динозавры")), Cell::makeNumber(45000, true),
    });
    table.sheetName = QStringLiteral("Лист1");
    return table;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const SheetTable table = stages();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const auto found = findFirst(table, text);
    if (!found) {
        if (found.error().code != ErrorCode::BadCriterion || found.error().message.isEmpty())
            std::abort();
        return 0;
    }
    const auto criterion = Criterion::parse(text, table);
    if (!criterion)
        std::abort(); // findFirst accepted what parse refuses
    const qsizetype first = found->value_or(table.recordCount());
    if (first < 0 || first > table.recordCount())
        std::abort();
    // Every record before the answer fails the criterion, and the answer meets it.
    for (qsizetype record = 0; record <= first && record < table.recordCount(); ++record)
        if (criterion->matches(table, record) != (record == first))
            std::abort();
    return 0;
}

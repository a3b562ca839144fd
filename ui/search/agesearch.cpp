#include "agesearch.h"

#include "numbertext.h"

#include <cmath>

namespace orbelant {

namespace {

const QString ageColumn = QStringLiteral("Возраст");

} // namespace

AgeSearch::AgeSearch(const QString &typedAge)
    : m_typedAge(typedAge)
{
}

QString AgeSearch::criterion() const
{
    return QStringLiteral("[%1] = ").arg(ageColumn) + m_typedAge;
}

// Only number cells are ages here: the criterion never finds a text cell by a number.
std::optional<NearestAge> AgeSearch::nearestAge(const SheetTable &table) const
{
    const std::optional<double> typed = parseNumberText(m_typedAge);
    const qsizetype column = table.columnIndex(ageColumn);
    if (!typed || column < 0)
        return std::nullopt;

    std::optional<NearestAge> nearest;
    double nearestDistance = 0;
    for (qsizetype record = 0; record < table.recordCount(); ++record) {
        const Cell &age = table.cell(record, column);
        if (age.kind != Cell::Kind::Number || !std::isfinite(age.number))
            continue;
        const double distance = std::abs(age.number - *typed);
        if (!nearest || distance < nearestDistance) {
            nearest = NearestAge{record, table.text(record, column)};
            nearestDistance = distance;
        }
    }
    return nearest;
}

QString AgeSearch::notFoundMessage(const std::optional<NearestAge> &nearest) const
{
    QString message = QStringLiteral("Интервал с возрастом %1 млн. лет не найден.").arg(m_typedAge);
    if (nearest)
        message += QStringLiteral("\nБлижайший: %1 млн. лет. Показать его?").arg(nearest->shownAge);
    return message;
}

} // namespace orbelant

#pragma once
// The age search of the search dialog without its window: the criterion built from the
// typed age, and the nearest age to offer when no row has the typed one.

#include "sheettable.h"

#include <QString>
#include <optional>

namespace orbelant {

// A row whose age is offered instead of the typed one.
struct NearestAge {
    qsizetype record = -1;
    QString shownAge; // as the age field shows it: "137,05"
};

class AgeSearch final {
public:
    // `typedAge` is the text of the dialog's field, exactly as typed.
    explicit AgeSearch(const QString &typedAge);

    // Only the empty text is missing; blanks are searched for like any other text.
    bool isAgeMissing() const { return m_typedAge.isEmpty(); }

    // "[Возраст] = " followed by the typed text, untrimmed and unconverted. The engine
    // reads a decimal comma like a decimal point.
    QString criterion() const;

    // The row of `table` whose numeric age is nearest the typed number; the first in
    // sheet order when several are as near. None when the typed text is not a number or
    // no row has a numeric age.
    std::optional<NearestAge> nearestAge(const SheetTable &table) const;

    // "Интервал с возрастом N млн. лет не найден." and, with a nearest age, the question
    // whether to show that one.
    QString notFoundMessage(const std::optional<NearestAge> &nearest) const;

private:
    QString m_typedAge;
};

} // namespace orbelant

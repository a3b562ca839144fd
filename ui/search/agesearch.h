#pragma once
// The age search of the search dialog without its window: the criterion built from the
// typed age, and the interval to offer when no row has the typed one.

#include "sheettable.h"

#include <QString>

namespace orbelant {

// Where a typed age lies on the scale. The ages of the sheet are the bases (lower
// boundaries) of the intervals: a row's interval reaches from its age up to the next
// younger age of the sheet, the youngest row's up to the present, 0.
struct AgePlace {
    enum class Kind {
        Unknown,        // no number typed, a negative one, or no row with a numeric age
        Within,         // inside the interval of `record`
        OlderThanScale, // older than the oldest age of the sheet, `base`
    };
    Kind kind = Kind::Unknown;
    double age = 0;        // the typed number
    qsizetype record = -1; // Within: the row of the interval
    QString unitName;      // Within: in the accusative, "берриасский ярус", "эдиакарскую
                           // систему"; empty when the row names no unit
    double base = 0;       // Within: the row's age; OlderThanScale: the oldest age
    double top = 0;        // Within: the next younger age, 0 for the youngest row
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

    // The row of `table` whose interval holds the typed age: among the rows with a
    // numeric age, the one with the smallest age at or above it, the first in sheet order
    // of equal ones. The sheet need not be sorted.
    AgePlace placeOnScale(const SheetTable &table) const;

    // "Интервал с возрастом N млн. лет не найден." and what `place` says about the age:
    // for an interval, the question whether to show it. A placed age is written as the
    // fields write numbers, with its digits grouped (10 000), any other text as typed.
    QString notFoundMessage(const AgePlace &place) const;

    // What the dialog says when the engine refuses the criterion: for a text that is not a
    // number, how an age is typed; otherwise the engine's own `refusal`.
    QString refusalMessage(const QString &refusal) const;

private:
    QString m_typedAge;
};

} // namespace orbelant

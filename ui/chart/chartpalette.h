#pragma once
// Finds the chart's unit for a name in a workbook row: by its name, as the chart or the usual
// Russian terms spell it, or, for a name the chart does not know, by the row's time.

#include "chartunits.h"

#include <QColor>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace orbelant {

// A stretch of time in millions of years before the present: top is the younger end.
struct TimeSpan {
    double top = 0;
    double base = 0;
    double middle() const { return (top + base) / 2; }
};

class ChartPalette {
public:
    ChartPalette();

    // The palette over the built-in chart, made once.
    static const ChartPalette &chart();

    // The unit of `rank` called `name`. Where several units share a name (Верхний), the one
    // under `parentName` and then the one nearest `span` is taken. A name the chart does not
    // know gives the unit of that rank whose time holds the middle of `span`. Null when
    // nothing fits.
    const ChartUnit *find(ChartRank rank, QStringView name, QStringView parentName,
                          const std::optional<TimeSpan> &span) const;

    // A name as it is compared: lower case, ё as е, single blanks, without a rank word at the
    // end (Юрская система, Юрский период) and without adjective endings, so that Юрская and
    // Юрский, Верхний and Верхняя are one name.
    static QString comparable(QStringView name);

private:
    struct Entry {
        const ChartUnit *unit;
        QStringList names;      // comparable
        QStringList parentNames; // comparable
    };
    const ChartUnit *byTime(ChartRank rank, double age) const;

    std::vector<Entry> m_entries;
    QHash<QString, std::vector<int>> m_byName; // rank and comparable name → entries
};

// Black or white, whichever reads better on `fill`.
QColor textColourOn(const QColor &fill);

} // namespace orbelant

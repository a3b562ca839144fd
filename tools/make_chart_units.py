#!/usr/bin/python3
"""Writes ui/chart/chartunits.cpp: the units of the International Chronostratigraphic Chart with
their standard colours, their bounds and every Russian (and English) name they go by.

    /usr/bin/python3 tools/make_chart_units.py [REFERENCE_FOLDER] [OUTPUT] [--check]

REFERENCE_FOLDER (default ../shared/reference beside this checkout) holds the chart's tables as
the International Commission on Stratigraphy publishes them (CC BY 4.0):
  ics-colours.csv   every unit's colour (the CGMW palette) and the chart's own Russian label;
  ics-units.csv     every unit's bounds and parent;
  ics-chart-ru.csv  one row per stage (or Precambrian period, era, eon) with the Russian names at
                    every rank, nouns for eons and eras, and the usual variants in `ru_notes`.
With --check the output is compared with the file instead of written; exit 1 when they differ,
77 when the tables are not there.
The same tables give the same file, byte for byte.
"""

import csv
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
# The chart's ranks that are columns of the workbook, and the rank names of ics-chart-ru.csv.
RANKS = {"eon": ("Eonothem", "eon"), "era": ("Erathem", "era"), "period": ("System", "period"),
         "epoch": ("Series", "epoch"), "age": ("Stage", "stage")}
# The parent a workbook row shows beside each rank: the subperiods of the Carboniferous are no column.
PARENT_COLUMN = {"era": "eon", "period": "era", "epoch": "period", "age": "epoch"}
CYRILLIC_WORD = re.compile(r"^[А-Яа-яЁё0-9 ]+$")


def read(folder, name):
    with open(folder / name, encoding="utf-8", newline="") as table:
        return list(csv.DictReader(table))


def variants(note, column):
    """The names a note such as "period_ru variant: Антропогеновая; …" gives for `column`."""
    found = []
    for part in note.split(";"):
        match = re.match(r"\s*%s variant: (.*)" % column, part)
        if match:
            for name in match.group(1).split("/"):
                found.append(re.sub(r"\(.*?\)", "", name).strip())
    return found


def russian_names(chart_rows):
    """{(rank, English name): [Russian names]} from the chart's rows, nouns and variants included."""
    names = {}
    for row in chart_rows:
        for rank, (_, column) in RANKS.items():
            english = row[column]
            if not english:
                continue
            found = names.setdefault((rank, english), [])
            candidates = [row[column + "_ru"], row.get(column + "_ru_noun", "")] + variants(row["ru_notes"], column + "_ru")
            for name in candidates:
                if name and name not in found:
                    found.append(name)
    return names


def unit_lines(reference):
    colours = {(row["rank"], row["name_en"]): row for row in read(reference, "ics-colours.csv")}
    units = [row for row in read(reference, "ics-units.csv") if row["rank"] in RANKS]
    names = russian_names(read(reference, "ics-chart-ru.csv"))
    lines = []
    for unit in units:
        rank, english = unit["rank"], unit["name_en"]
        label = colours[(rank, english)]["name_ru_ics"]
        all_names = list(names.get((rank, english), []))
        # The chart's own label where it is a clean Russian word (some are English, hyphenated or
        # hold a Latin letter), and the English name last.
        for name in ([label] if CYRILLIC_WORD.match(label) else []) + [english]:
            if name not in all_names:
                all_names.append(name)
        parent = unit[PARENT_COLUMN[rank]] if rank in PARENT_COLUMN else ""
        colour = colours[(rank, english)]["colour"].lstrip("#").upper()
        lines.append('    {ChartRank::%s, %s, %s, 0x%s, u"%s", u"%s"},'
                     % (RANKS[rank][0], number(unit["base_ma"]), number(unit["top_ma"]), colour,
                        "|".join(all_names), parent))
    return lines


def number(text):
    """A C++ double literal that always has a decimal point."""
    value = text.strip()
    return value if "." in value else value + ".0"


def source(reference):
    return """// The units of the International Chronostratigraphic Chart, version 2024/12, with their standard
// colours (the Commission for the Geological Map of the World's palette) and their bounds in
// millions of years. Source: International Commission on Stratigraphy, https://stratigraphy.org/chart,
// licensed CC BY 4.0 (https://creativecommons.org/licenses/by/4.0/); Russian names from the
// chart's Russian edition and the usual terms where it lacks one.
//
// Written by tools/make_chart_units.py from the chart's tables; do not edit by hand.

#include "chartunits.h"

namespace orbelant {

namespace {

// rank, base, top, colour, names separated by | (the English one last), the parent's English name
const ChartUnit units[] = {
%s
};

} // namespace

std::span<const ChartUnit> chartUnits()
{
    return units;
}

} // namespace orbelant
""" % "\n".join(unit_lines(reference))


def main(arguments):
    check = "--check" in arguments
    arguments = [argument for argument in arguments if argument != "--check"]
    reference = Path(arguments[0]) if arguments else ROOT.parent / "shared" / "reference"
    output = Path(arguments[1]) if len(arguments) > 1 else ROOT / "ui" / "chart" / "chartunits.cpp"
    if not reference.is_dir():
        print("no chart tables in %s" % reference, file=sys.stderr)
        return 77 if check else 2
    text = source(reference)
    if check:
        if output.read_text(encoding="utf-8") != text:
            print("%s is not what %s gives" % (output, reference), file=sys.stderr)
            return 1
        return 0
    output.write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/bin/sh
# The store time of two builds side by side: bench_engine of an older build (say, one made
# from `git archive OLD_COMMIT` in another folder) and of this one, run in turns on the same
# workbooks so that both meet the same load. Prints the median of each build's medians.
#
#   bench/compare_store.sh OLD_BENCH_ENGINE NEW_BENCH_ENGINE WORKBOOK...
#
# ROUNDS (default 5) turns of REPETITIONS (default 5) stores each.
set -eu

old=$1 new=$2
shift 2
rounds=${ROUNDS:-5}
repetitions=${REPETITIONS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

store_median() { "$1" time "$2" "$repetitions" | awk '$1 == "store_median_ms" { print $2 }'; }
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "Store of one cell, ms: median of $rounds turns, each the median of $repetitions stores"
printf "%-14s %10s %10s %7s\n" "workbook" "old" "new" "ratio"
for book in "$@"; do
    : >"$work/old"
    : >"$work/new"
    for _ in $(seq "$rounds"); do
        store_median "$old" "$book" >>"$work/old"
        store_median "$new" "$book" >>"$work/new"
    done
    awk -v name="$(basename "$book")" -v o="$(median "$work/old")" -v n="$(median "$work/new")" \
        'BEGIN { printf "%-14s %10.1f %10.1f %6.2fx\n", name, o, n, n / o }'
done

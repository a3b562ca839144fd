#!/bin/sh
# Builds the benchmarks in Release, makes two 65,000-row workbooks (long notes; a short
# text of its own in every cell) and measures the engine against FreeXL on each, inside
# one process and as whole processes (the workbook tool's `find` against FreeXL reading
# every cell), the tool's chart of the sample as PDF against LibreOffice converting the
# sample to PDF, then the program's start-up and the chart window with the sample workbook
# and with the large one. Prints the tables; nothing is asserted.
#
#   bench/run.sh [BUILD_FOLDER]        (default: build-benchmarks next to bench/)
#
# REPETITIONS (default 7) sets how often each timed operation runs; times are the minimum
# and the median. Peak memory is the peak resident set of a fresh process that does one
# operation (getrusage). The start-up runs under Xvfb on display :97 (started here when
# it is not running) with the xcb platform.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build-benchmarks}
repetitions=${REPETITIONS:-7}
startups=${STARTUPS:-5}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target bench_workbook bench_engine startup_probe chart_probe orbelant orbelant-xls >/dev/null
have_freexl=no
if cmake --build "$build" -j2 --target bench_freexl >/dev/null 2>&1; then
    have_freexl=yes
fi

bin=$build/bin
workbook=$build/bench/big.xls
short_workbook=$build/bench/short.xls
work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# "name value" lines → the value of one name.
value() { awk -v name="$2" '$1 == name { print $2 }' "$1"; }
mib() { awk -v kib="$1" 'BEGIN { printf "%.1f", kib / 1024 }'; }

echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Workbooks: $workbook ($(stat -c %s "$workbook") bytes), $short_workbook ($(stat -c %s "$short_workbook") bytes);" \
     "$repetitions repetitions"
echo

# ---- The engine against FreeXL, in one process ---------------------------------------
engine_table() {
    book=$1
    "$bin/bench_engine" time "$book" "$repetitions" >"$work/engine"
    for operation in open find store; do
        "$bin/bench_engine" peak "$operation" "$book" >"$work/peak-$operation"
    done
    if [ "$have_freexl" = yes ]; then
        "$bin/bench_freexl" time "$book" "$repetitions" >"$work/freexl"
        "$bin/bench_freexl" peak "$book" >"$work/peak-freexl"
    else
        : >"$work/freexl"
        : >"$work/peak-freexl"
    fi

    freexl_min=$(value "$work/freexl" read_min_ms)
    freexl_median=$(value "$work/freexl" read_median_ms)
    freexl_peak=$(value "$work/peak-freexl" peak_kib)

    echo "Engine on $(basename "$book"), $(value "$work/engine" records) records        ours: min / median ms, peak MiB"
    printf "%-22s %-21s %8s   %-28s %-4s  %-6s\n" "operation" "ours ms" "MiB" "target (time)" "time" "memory"
    row "open (readSheet)" open "<= FreeXL read ($freexl_median ms)" "$freexl_median"
    row "FindFirst last age" find "<= 2 ms" 2
    row "store one cell" store "<= 3 x FreeXL read ($(limit "$freexl_median" 3) ms)" "$(limit "$freexl_median" 3)"
    if [ "$have_freexl" = yes ]; then
        printf "%-22s %9.1f / %-9.1f %8s   %s\n" "FreeXL read all cells" "$freexl_min" "$freexl_median" \
            "$(mib "$freexl_peak")" "(yardstick; memory target: ours <= 2 x $(mib "$freexl_peak") MiB)"
    fi
    echo "(peak of open/find/store: one fresh process each; find and store include the load before them," \
         "loaded alone: $(mib "$(value "$work/peak-store" loaded_kib)") MiB)"
    echo
}

# operation | ours min/median ms | ours peak | FreeXL | target | met (judged on medians)
row() {
    label=$1 name=$2 target_text=$3 limit_ms=$4
    ours_min=$(value "$work/engine" "${name}_min_ms")
    ours_median=$(value "$work/engine" "${name}_median_ms")
    ours_peak=$(value "$work/peak-$name" peak_kib)
    time_met=$(awk -v t="$ours_median" -v l="$limit_ms" 'BEGIN { print (l == "" ? "?" : (t <= l ? "да" : "НЕТ")) }')
    memory_met=$(awk -v p="$ours_peak" -v f="$freexl_peak" 'BEGIN { print (f == "" ? "?" : (p <= 2 * f ? "да" : "НЕТ")) }')
    printf "%-22s %9.1f / %-9.1f %8s   %-28s %-4s  %-6s\n" "$label" "$ours_min" "$ours_median" \
        "$(mib "$ours_peak")" "$target_text" "$time_met" "$memory_met"
}
limit() { awk -v f="$1" -v k="$2" 'BEGIN { if (f != "") printf "%.3f", f * k }'; }

[ "$have_freexl" = yes ] || echo "FreeXL not built (Debian: libfreexl-dev): its columns stay empty."
engine_table "$workbook"
engine_table "$short_workbook"

# ---- Whole processes: the tool's find against FreeXL reading every cell ---------------
# Each command runs $repetitions times, alternating with the other; wall time from the
# shell, peak resident memory from /usr/bin/time. Prints "median_ms median_kib".
whole() {
    for _ in $(seq "$repetitions"); do
        start=$(date +%s%N)
        /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1 || true
        end=$(date +%s%N)
        echo "$(( (end - start) / 1000 )) $(tail -n 1 "$work/rss")"
    done >"$work/whole"
    sort -n -k1,1 "$work/whole" | awk '{ t[NR] = $1 } END { printf "%.1f ", t[int((NR + 1) / 2)] / 1000 }'
    sort -n -k2,2 "$work/whole" | awk '{ m[NR] = $2 } END { printf "%d\n", m[int((NR + 1) / 2)] }'
}
if [ "$have_freexl" = yes ]; then
    echo "Whole processes, medians of $repetitions: orbelant-xls find BOOK Лист1 \"[Возраст] = 999999\" against bench_freexl peak BOOK"
    printf "%-12s %12s %12s %8s %12s %12s %8s\n" "workbook" "ours ms" "FreeXL ms" "ratio" "ours MiB" "FreeXL MiB" "ratio"
    for book in "$workbook" "$short_workbook"; do
        set -- $(whole "$bin/orbelant-xls" find "$book" Лист1 "[Возраст] = 999999")
        ours_ms=$1 ours_kib=$2
        set -- $(whole "$bin/bench_freexl" peak "$book")
        awk -v name="$(basename "$book")" -v om="$ours_ms" -v ok="$ours_kib" -v fm="$1" -v fk="$2" 'BEGIN {
            printf "%-12s %12.1f %12.1f %7.2fx %12.1f %12.1f %7.2fx\n", name, om, fm, om / fm, ok / 1024, fk / 1024, ok / fk }'
    done
    echo "(targets: time ratio <= 1.0, memory ratio <= 1.5)"
    echo
fi

# ---- The chart as a file: the tool against LibreOffice ----------------------------------
# Whole processes, medians of $repetitions: `orbelant-xls chart` writing the sample's chart as
# PDF, and LibreOffice (soffice, when installed) converting the sample workbook to PDF, each
# into a folder of its own. LibreOffice's first run, which makes its profile, is not counted.
sample=$root/sample/зендра.xls
echo "The sample as PDF, whole processes, medians of $repetitions"
printf "%-34s %10s %10s   %s\n" "command" "ms" "MiB" "target"
set -- $(whole "$bin/orbelant-xls" chart "$sample" Лист1 "$work/chart.pdf")
awk -v ms="$1" -v kib="$2" 'BEGIN { printf "%-34s %10.1f %10.1f   <= 300 ms: %s\n", "orbelant-xls chart … chart.pdf", ms, kib / 1024, (ms <= 300 ? "да" : "НЕТ") }'
if command -v soffice >/dev/null; then
    office="soffice -env:UserInstallation=file://$work/office-profile --headless --convert-to pdf --outdir $work/office"
    $office "$sample" >/dev/null 2>&1 || true
    set -- $(whole $office "$sample")
    awk -v ms="$1" -v kib="$2" 'BEGIN { printf "%-34s %10.1f %10.1f   (yardstick)\n", "soffice --convert-to pdf", ms, kib / 1024 }'
else
    echo "LibreOffice missing (Debian: libreoffice-calc-nogui): its line is left out."
fi
echo

# ---- Start-up of the program ---------------------------------------------------------
if ! command -v Xvfb >/dev/null; then
    echo "Xvfb missing (Debian: xvfb): start-up not measured."
    exit 0
fi
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
if [ ! -e /tmp/.X11-unix/X97 ]; then
    Xvfb :97 -screen 0 1024x768x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        [ -e /tmp/.X11-unix/X97 ] && break
        sleep 0.5
    done
fi

# Runs the probe $startups times in a folder holding the workbook as зендра.xls; the
# first run (cold caches) is shown apart from the min and median of the others.
startup() {
    label=$1 source=$2
    folder=$work/start-$label
    mkdir -p "$folder"
    cp "$source" "$folder/зендра.xls"
    : >"$folder/runs"
    for run in $(seq "$startups"); do
        (cd "$folder" && DISPLAY=:97 QT_QPA_PLATFORM=xcb "$bin/startup_probe" >"$folder/run$run")
        echo "$(value "$folder/run$run" process_to_row_ms) $(value "$folder/run$run" main_to_row_ms) $(value "$folder/run$run" peak_kib)" >>"$folder/runs"
    done
    # The real program, ended after 5 s, for its own peak memory.
    real_peak=$(cd "$folder" && DISPLAY=:97 QT_QPA_PLATFORM=xcb /usr/bin/time -f "%M" \
                    timeout -s TERM 5 "$bin/orbelant" 2>&1 >/dev/null | tail -n 1)
    sed 1d "$folder/runs" | sort -n >"$folder/warm"
    awk -v label="$label" -v records="$(value "$folder/run1" records)" -v real="$real_peak" '
        NR == FNR { first = $1; next }
        { start[++n] = $1; main[n] = $2; peak = ($3 > peak ? $3 : peak) }
        END {
            median = (n % 2) ? start[(n + 1) / 2] : (start[n / 2] + start[n / 2 + 1]) / 2
            printf "%-14s %8d %11.1f %10.1f / %-8.1f %10.1f %11.1f\n", label, records, first, start[1], median,
                   peak / 1024, real / 1024
        }' "$folder/runs" "$folder/warm"
}

echo "Start-up to the first row shown (ms from process start; $startups runs, the first cold)"
printf "%-14s %8s %11s %21s %10s %11s\n" "workbook" "records" "first run" "min / median others" "peak MiB" "real MiB"
startup sample "$root/sample/зендра.xls"
startup 65000 "$workbook"

# ---- The chart window ------------------------------------------------------------------
# From the main window's menu command to the chart's first painted frame (the median of 7
# openings in one process, and the first), and the repaint after scrolling a page.
chart_window() {
    label=$1 source=$2
    folder=$work/chart-$label
    mkdir -p "$folder"
    cp "$source" "$folder/зендра.xls"
    (cd "$folder" && DISPLAY=:97 QT_QPA_PLATFORM=xcb "$bin/chart_probe" >"$folder/probe")
    awk -v label="$label" -v limit="$3" '
        { value[$1] = $2 }
        END {
            printf "%-14s %8d %10.1f %11.1f %-10s %12.2f %8d\n", label, value["records"], value["open_first_ms"],
                   value["open_median_ms"], "(<= " limit ")", value["scroll_median_ms"], value["rows_painted"]
        }' "$folder/probe"
}
echo
echo "The chart window: menu command to first painted frame (ms), and a scrolled page repainted"
printf "%-14s %8s %10s %11s %-10s %12s %8s\n" "workbook" "records" "first" "median" "target" "scroll ms" "rows"
chart_window sample "$root/sample/зендра.xls" 100
chart_window 65000 "$workbook" 1000

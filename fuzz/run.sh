#!/bin/bash
# Builds the libFuzzer targets in build-fuzz/, replays the seed corpora, then fuzzes each
# target for a while. Exits non-zero when a target crashes, leaks, hangs or fails to build.
#   fuzz/run.sh [seconds per target, default 30]
# New inputs and any crash go to a temporary folder, which is kept and named on failure.
set -euo pipefail

seconds="${1:-30}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
corpus="$root/fuzz/corpus"
jobs="${ORBELANT_JOBS:-2}"

# The engine needs clang 16 or newer for <expected>; Debian ships it as clang-16.
cc="${CC:-clang-16}"
cxx="${CXX:-clang++-16}"
if ! command -v "$cxx" >/dev/null; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        echo "run.sh: installing clang-16 and its libFuzzer runtime"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang-16 libclang-rt-16-dev >/dev/null
    else
        echo "run.sh: $cxx not found; install clang-16 and libclang-rt-16-dev" >&2
        exit 2
    fi
fi

CC="$cc" CXX="$cxx" cmake -S "$root" -B "$build" -G Ninja \
    -DORBELANT_FUZZ=ON -DORBELANT_ENGINE_ONLY=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_criterion fuzz_workbook -j "$jobs"

work="$(mktemp -d "${TMPDIR:-/tmp}/orbelant-fuzz.XXXXXX")"
keep_work=0
trap 'if [ "$keep_work" = 0 ]; then rm -rf "$work"; else echo "run.sh: inputs and crashes kept in $work" >&2; fi' EXIT

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/fuzz/lsan.supp}"
# Leak suppressions match function names, so the stacks must be symbolized.
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && command -v llvm-symbolizer >/dev/null; then
    export ASAN_SYMBOLIZER_PATH="$(readlink -f "$(command -v llvm-symbolizer)")"
fi

# target max_len extra-options...
fuzz() {
    local target="$1" max_len="$2"
    shift 2
    local binary="$build/bin/$target" seeds="$corpus/${target#fuzz_}" found="$work/${target#fuzz_}"
    mkdir -p "$found" "$work/crashes"
    local common=(-max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/crashes/$target-" "$@")

    echo "== $target: replaying $(ls "$seeds" | wc -l) seeds"
    if ! "$binary" "${common[@]}" -runs=0 "$seeds" 2>"$work/$target-replay.log"; then
        tail -n 40 "$work/$target-replay.log" >&2
        keep_work=1
        return 1
    fi

    echo "== $target: fuzzing for $seconds s"
    if ! "$binary" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 "$found" "$seeds" \
        2>"$work/$target-fuzz.log"; then
        tail -n 60 "$work/$target-fuzz.log" >&2
        keep_work=1
        return 1
    fi
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$work/$target-fuzz.log" | sed "s/^/   /"
}

status=0
fuzz fuzz_criterion 12000 -dict="$root/fuzz/criterion.dict" || status=1
fuzz fuzz_workbook 65536 || status=1
exit "$status"

#!/bin/bash
# Builds Орбелант and runs every test: the normal build with warnings as errors (engine,
# windows on the offscreen platform, end-to-end under Xvfb), the engine again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of the fuzzers.
#   scripts/test.sh [fuzz seconds per target, default 30]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
fuzz_seconds="${1:-30}"
jobs="${ORBELANT_JOBS:-$(nproc)}"

"$root/scripts/install-packages.sh" test

# Both ctest runs' output, for one closing count at the end.
results=$(mktemp)
trap 'rm -f "$results"' EXIT

echo "== Сборка и тесты"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBELANT_ENGINE_ONLY=OFF -DORBELANT_WERROR=ON
cmake --build "$root/build" -j "$jobs"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs" | tee -a "$results"

echo "== Движок под AddressSanitizer и UndefinedBehaviorSanitizer"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBELANT_ENGINE_ONLY=ON -DORBELANT_WERROR=ON -DORBELANT_SANITIZE=ON
cmake --build "$root/build-asan" -j "$jobs"
LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp" ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" -L engine \
    | tee -a "$results"

echo "== Фаззинг"
"$root/fuzz/run.sh" "$fuzz_seconds"

# "100% tests passed, 0 tests failed out of 23" from each ctest run
grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$results" |
    awk '{ failed += $4; total += $NF } END { printf "Тестов пройдено: %d, не пройдено: %d\n", total - failed, failed }'

#!/bin/sh
# Makes the README's pictures of the main window and of the chart the way the test suite makes
# them: runs the end-to-end test (the real program on the sample under Xvfb), which leaves
# e2e-main-window.png and e2e-chart-window.png in the build folder, and copies them to
# docs/screenshot.png and docs/chart.png.
#   scripts/update-screenshot.sh [BUILD_DIR, default build]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$root/build}"
shot="$build/e2e-main-window.png"
chart="$build/e2e-chart-window.png"

if [ ! -f "$build/CMakeCache.txt" ]; then
    echo "Нет сборки в «$build»: сначала выполните scripts/test.sh." >&2
    exit 1
fi
cmake --build "$build" --target orbelant
rm -f "$shot" "$chart"
ctest --test-dir "$build" -R '^e2e_windows$' --output-on-failure
# A skipped test counts as passed for ctest: only the picture shows that it ran.
if [ ! -f "$shot" ] || [ ! -f "$chart" ]; then
    echo "Тест e2e_windows не сделал снимки экрана (возможно, он пропущен: нужны Xvfb и AT-SPI, см. scripts/install-packages.sh)." >&2
    exit 1
fi
mkdir -p "$root/docs"
cp "$shot" "$root/docs/screenshot.png"
cp "$chart" "$root/docs/chart.png"
echo "docs/screenshot.png и docs/chart.png обновлены из $build"

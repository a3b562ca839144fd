#!/bin/bash
# Builds the Windows programs (scripts/build-windows.sh) and runs their tests under wine
# (tests/windows/run_wine_tests.sh): the workbook tool over the corpus, and Орбелант.exe
# worked with clicks and keys on an X display of its own.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-packages.sh" windows-test
"$root/scripts/build-windows.sh"
echo "== Тесты под Wine"
"$root/tests/windows/run_wine_tests.sh" "$root/build-windows"

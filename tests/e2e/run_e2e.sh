#!/bin/sh
# End-to-end tests: the real program in a real X window, driven through the accessibility tree.
#
#   run_e2e.sh PROGRAM ARTEFACT_DIR TEST.py
#
# Starts its own Xvfb on a free display (CI has none) and runs the test file with Debian's
# Python in a private D-Bus session (see orbelant_e2e.py). Screenshots and the program's
# output go to ARTEFACT_DIR. Exit 0 when all pass, 77 when a tool is missing (CTest reports a
# skip), non-zero otherwise.
set -u
[ $# -eq 3 ] || { echo "usage: $0 PROGRAM ARTEFACT_DIR TEST.py" >&2; exit 2; }
program=$(readlink -f "$1")
artefacts=$(readlink -f "$2")
test=$(readlink -f "$3")
# scripts/install-packages.sh test installs what is used here.
for tool in Xvfb dbus-run-session import /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null 2>&1 || { echo "e2e SKIPPED: no $tool" >&2; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi, xlrd' >/dev/null 2>&1 || { echo "e2e SKIPPED: no pyatspi or xlrd" >&2; exit 77; }

session=$(mktemp -d "${TMPDIR:-/tmp}/orbelant-e2e.XXXXXX") || exit 1  # only ours to read
mkdir -m 700 "$session/runtime"
trap '[ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null; rm -rf "$session"' EXIT
trap 'exit 1' INT TERM HUP

# -displayfd: Xvfb picks a free display and writes its number once it takes clients;
# -noreset keeps it from resetting between two programs.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -noreset 5>"$session/display" >"$session/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 200); do
    [ -s "$session/display" ] && break
    sleep 0.05
done
display=$(tr -dc 0-9 <"$session/display")
[ -n "$display" ] || { echo "e2e: Xvfb did not start" >&2; cat "$session/xvfb.log" >&2; exit 1; }

env DISPLAY=":$display" XDG_RUNTIME_DIR="$session/runtime" ORBELANT_PROGRAM="$program" \
    ORBELANT_E2E_ARTEFACTS="$artefacts" PYTHONDONTWRITEBYTECODE=1 PYTHONWARNINGS="ignore::DeprecationWarning" \
    PYTHONPATH=$(dirname "$test") dbus-run-session -- /usr/bin/python3 "$test"

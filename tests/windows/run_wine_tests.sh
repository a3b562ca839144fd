#!/bin/bash
# The Windows build's tests under wine, in a fresh wine prefix on an X display of their own
# (Xvfb); wine_tests.py says what is checked.
#   tests/windows/run_wine_tests.sh BUILD_FOLDER [WORK_FOLDER, default BUILD_FOLDER/wine-tests]
# Exit 0 when every test passed. The prefix (some 700 MB) is deleted after a pass.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
work=${2:-$build/wine-tests}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
unset WAYLAND_DISPLAY
export WINEPREFIX="$work/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop() {
    wineserver -k >/dev/null 2>&1
    kill "$xvfb" 2>/dev/null
}
trap stop EXIT

# The server stays until stopped: started by the first program instead, it would end a few
# seconds after the last one, and each program after such a pause would set up a new session.
mkdir "$WINEPREFIX"
wineserver -p
wineboot -i >"$work/wineboot.log" 2>&1 || { tail -5 "$work/wineboot.log"; echo "wineboot failed"; exit 1; }

/usr/bin/python3 "$here/wine_tests.py" "$build" "$work" && rm -rf "$WINEPREFIX"

#!/bin/sh
# End-to-end tests: the real program in a real X window, driven through the accessibility tree.
#
#   run_e2e.sh PROGRAM ARTEFACT_DIR TEST.py...
#
# Starts its own Xvfb on a free display (CI has no display), then runs each test file with
# Debian's Python inside a private D-Bus session; the accessibility bus and registry come up
# by D-Bus activation (see orbelant_e2e.py for what was tried). Screenshots and the program's
# output go to ARTEFACT_DIR. Exit 0 when all pass, 77 when a tool is missing and cannot be
# installed (CTest reports a skip), non-zero otherwise.
set -u

if [ $# -lt 3 ]; then
    echo "usage: $0 PROGRAM ARTEFACT_DIR TEST.py..." >&2
    exit 2
fi
absolute() {
    case $1 in
        /*) printf '%s\n' "$1" ;;
        *) printf '%s/%s\n' "$(pwd)" "$1" ;;
    esac
}
program=$(absolute "$1")
artefacts=$(absolute "$2")
shift 2
for test in "$@"; do
    shift
    set -- "$@" "$(absolute "$test")"
done

python=/usr/bin/python3
packages="xvfb dbus dbus-bin at-spi2-core python3-pyatspi python3-xlrd python3-xlwt imagemagick x11-utils"

tools_present() {
    command -v Xvfb >/dev/null 2>&1 \
        && command -v dbus-run-session >/dev/null 2>&1 \
        && command -v import >/dev/null 2>&1 \
        && command -v xprop >/dev/null 2>&1 \
        && command -v xwininfo >/dev/null 2>&1 \
        && [ -x /usr/libexec/at-spi-bus-launcher ] \
        && [ -x "$python" ] \
        && "$python" -c 'import pyatspi, xlrd, xlwt' >/dev/null 2>&1
}

if ! tools_present; then
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "e2e: installing the missing tools ($packages)"
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $packages >/dev/null 2>&1 \
            || { apt-get update >/dev/null 2>&1 \
                 && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $packages >/dev/null 2>&1; }
    fi
    if ! tools_present; then
        echo "e2e SKIPPED: needs Xvfb, dbus-run-session, at-spi2-core, ImageMagick's import, xprop and" \
             "$python with pyatspi, xlrd and xlwt (Debian: apt-get install $packages)" >&2
        exit 77
    fi
fi

if [ ! -x "$program" ]; then
    echo "e2e: the program $program is missing or not executable" >&2
    exit 1
fi
mkdir -p "$artefacts" || exit 1

session=$(mktemp -d "${TMPDIR:-/tmp}/orbelant-e2e.XXXXXX") || exit 1
chmod 700 "$session"
xvfb_pid=""
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$session"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# -displayfd: Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -noreset 5>"$session/display" \
    >"$session/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
tries=0
while [ -z "$display" ]; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "e2e: Xvfb did not start:" >&2
        cat "$session/xvfb.log" >&2
        exit 1
    fi
    tries=$((tries + 1))
    if [ "$tries" -gt 200 ]; then
        echo "e2e: Xvfb gave no display number within 10 s" >&2
        exit 1
    fi
    sleep 0.05
    display=$(tr -dc '0-9' <"$session/display")
done

# One D-Bus session, and so one accessibility bus and registry, for all files on this display.
for test in "$@"; do
    if [ ! -f "$test" ]; then
        echo "e2e: no test file $test" >&2
        exit 1
    fi
done
mkdir -p "$session/runtime"
chmod 700 "$session/runtime"
env DISPLAY=":$display" XDG_RUNTIME_DIR="$session/runtime" \
    ORBELANT_PROGRAM="$program" ORBELANT_E2E_ARTEFACTS="$artefacts" \
    PYTHONDONTWRITEBYTECODE=1 PYTHONWARNINGS="ignore::DeprecationWarning" \
    dbus-run-session -- sh -c '
        status=0
        for test in "$@"; do
            echo "e2e: $test on $DISPLAY"
            PYTHONPATH=$(dirname "$test") '"$python"' "$test" || status=1
        done
        exit $status' e2e-session "$@"

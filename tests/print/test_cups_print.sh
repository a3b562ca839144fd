#!/bin/sh
# The main window's print command against a real spooler: a private cupsd with a CUPS-PDF
# queue made the default printer, the program's print path under the offscreen platform,
# then the PDF that CUPS-PDF writes: one page whose picture is the window on its current
# row, at its size, at the top left of the printable area.
#
#   test_cups_print.sh PRINTFORM WORKBOOK
#
# Needs root (cupsd switches to the lp user, the cups-pdf backend runs as root). Exits 77
# (skipped) when CUPS, CUPS-PDF or poppler-utils are missing and cannot be installed, or
# when cupsd cannot be started here.

set -u
printform=$1
workbook=$2
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; [ -n "${logs:-}" ] && cat "$logs/error_log" 2>/dev/null | tail -20; exit 1; }

cups=$(cd "$(dirname "$0")" && pwd)/private_cups.sh

# A private CUPS: its own configuration, spool, state and socket, no network port.
top=$(mktemp -d /tmp/orbelant-cups.XXXXXX) || fail "mktemp"
logs=$top/log
pdf=
cleanup() {
    "$cups" stop "$top"
    [ -n "$pdf" ] && rm -f "$pdf"
    [ -z "${out_existed-yes}" ] && rmdir "$out" 2>/dev/null
    rm -rf "$top"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

socket=$("$cups" start "$top")
case $? in
    0) ;;
    77) skip "no private cupsd here (the reason is above)" ;;
    *) fail "the private cupsd could not be started" ;;
esac
mkdir -p "$top/work" "$top/home"

# No printer at all: the command says so and prints nothing.
cp "$workbook" "$top/work/" || fail "cannot copy $workbook"
export CUPS_SERVER=$socket HOME=$top/home QT_QPA_PLATFORM=offscreen
unset PRINTER LPDEST
cd "$top/work" || fail "cd"
message=$("$printform" print 2>&1 >/dev/null) && fail "printing without a default printer reported success"
echo "without a printer: $message"
printf '%s' "$message" | grep -q 'Принтер по умолчанию не установлен' || fail "unexpected message: $message"

"$cups" add-pdf-queue "$top" OrbelantPDF || fail "the CUPS-PDF queue could not be set up"

# Where CUPS-PDF writes: in the home of the job's user, or for a user it does not know.
out=$("$cups" pdf-folders | sed -n 1p)
anonymous=$("$cups" pdf-folders | sed -n 2p)
[ -d "$out" ] && out_existed=yes || out_existed=
marker=$top/marker
touch "$marker"
sleep 1

# A queue that refuses jobs.
cupsreject -h "$socket" OrbelantPDF || fail "cupsreject"
message=$("$printform" print 2>&1 >/dev/null) && fail "a refused job was reported as printed"
echo "refused: $message"
printf '%s' "$message" | grep -q 'отказался принять задание' || fail "unexpected message: $message"
cupsaccept -h "$socket" OrbelantPDF || fail "cupsaccept"

# The program's print path on the workbook, with the private CUPS as the system's.
"$printform" print || fail "the print command reported a failure"

for i in $(seq 1 120); do
    pdf=$(find "$out" "$anonymous" -maxdepth 1 -name '*.pdf' -newer "$marker" 2>/dev/null | head -1)
    [ -n "$pdf" ] && [ -z "$(lpstat -h "$socket" -o 2>/dev/null)" ] && break
    sleep 0.5
done
[ -n "$pdf" ] || fail "no PDF from CUPS-PDF in $out or $anonymous; jobs: $(lpstat -h "$socket" -W all -o 2>&1)"
echo "CUPS-PDF wrote $pdf"

pages=$(pdfinfo "$pdf" | sed -n 's/^Pages:[[:space:]]*//p')
[ "$pages" = 1 ] || fail "the PDF has ${pages:-no} pages, not one"
pdfinfo "$pdf" | grep '^Page size'

pdftoppm -r 300 -png -singlefile "$pdf" "$top/page" || fail "pdftoppm could not read $pdf"
"$printform" check "$top/page.png" || fail "the printed page is not the window"
echo "PASS"

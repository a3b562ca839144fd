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

[ "$(id -u)" -eq 0 ] || skip "needs root to run cupsd and the cups-pdf backend"

have_tools() {
    command -v cupsd >/dev/null && command -v lpadmin >/dev/null && command -v pdftoppm >/dev/null \
        && command -v pdfinfo >/dev/null && [ -x /usr/lib/cups/backend/cups-pdf ]
}
if ! have_tools && command -v apt-get >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q cups printer-driver-cups-pdf poppler-utils >/dev/null 2>&1
fi
have_tools || skip "cups, printer-driver-cups-pdf or poppler-utils not installed"

ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
[ -f "$ppd" ] || skip "no $ppd"

# A private CUPS: its own configuration, spool, state and socket, no network port.
top=$(mktemp -d /tmp/orbelant-cups.XXXXXX) || fail "mktemp"
chmod 755 "$top"
etc=$top/etc; spool=$top/spool; logs=$top/log; socket=$top/cups.sock
mkdir -p "$etc/ppd" "$spool/tmp" "$top/cache" "$top/state/certs" "$logs" "$top/work" "$top/home"
chgrp lp "$spool" "$spool/tmp" && chmod 0710 "$spool" && chmod 1770 "$spool/tmp"
cupsd_pid=
pdf=
cleanup() {
    [ -n "$cupsd_pid" ] && kill "$cupsd_pid" 2>/dev/null && wait "$cupsd_pid" 2>/dev/null
    [ -n "$pdf" ] && rm -f "$pdf"
    [ -z "${out_existed-yes}" ] && rmdir "$out" 2>/dev/null
    rm -rf "$top"
}
trap cleanup EXIT INT TERM

cat > "$etc/cupsd.conf" <<CONF
Listen $socket
LogLevel info
WebInterface No
Browsing No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat > "$etc/cups-files.conf" <<CONF
ServerRoot $etc
RequestRoot $spool
TempDir $spool/tmp
CacheDir $top/cache
StateDir $top/state
AccessLog $logs/access_log
ErrorLog $logs/error_log
PageLog $logs/page_log
User lp
Group lp
SystemGroup root lpadmin
FileDevice No
CONF

cupsd -f -c "$etc/cupsd.conf" -s "$etc/cups-files.conf" &
cupsd_pid=$!
for i in $(seq 1 50); do
    [ -S "$socket" ] && lpstat -h "$socket" -r >/dev/null 2>&1 && break
    kill -0 "$cupsd_pid" 2>/dev/null || { cupsd_pid=; skip "cupsd did not start: $(tail -3 "$logs/error_log" 2>/dev/null)"; }
    sleep 0.2
done
lpstat -h "$socket" -r >/dev/null 2>&1 || skip "cupsd does not answer on $socket"

# No printer at all: the command says so and prints nothing.
cp "$workbook" "$top/work/" || fail "cannot copy $workbook"
export CUPS_SERVER=$socket HOME=$top/home QT_QPA_PLATFORM=offscreen
unset PRINTER LPDEST
cd "$top/work" || fail "cd"
message=$("$printform" print 2>&1 >/dev/null) && fail "printing without a default printer reported success"
echo "without a printer: $message"
printf '%s' "$message" | grep -q 'Принтер по умолчанию не установлен' || fail "unexpected message: $message"

lpadmin -h "$socket" -p OrbelantPDF -E -v cups-pdf:/ -P "$ppd" || fail "lpadmin could not add the CUPS-PDF queue"
lpadmin -h "$socket" -d OrbelantPDF || fail "lpadmin could not make the queue the default"

# Where CUPS-PDF writes: the Out setting of its configuration, in the home of the job's
# user (compiled-in default ${HOME}/PDF).
out=$(sed -n 's/^[[:space:]]*Out[[:space:]]\{1,\}//p' /etc/cups/cups-pdf.conf 2>/dev/null | tail -1)
[ -n "$out" ] || out='${HOME}/PDF'
home=$(getent passwd "$(id -un)" | cut -d: -f6)
out=$(printf '%s' "$out" | sed "s|\${HOME}|$home|")
anonymous=/var/spool/cups-pdf/ANONYMOUS
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

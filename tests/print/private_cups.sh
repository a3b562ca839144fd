#!/bin/sh
# A private CUPS for the print tests: its own configuration, spool, state, logs and socket
# under one folder, no network port, so the machine's own printers are never touched.
#
#   private_cups.sh start TOP              starts cupsd with everything under the folder TOP
#                                          (made by the caller) and prints its socket, for
#                                          CUPS_SERVER and lpadmin -h
#   private_cups.sh add-pdf-queue TOP NAME adds the CUPS-PDF queue NAME and makes it the
#                                          default printer; its PPD is TOP/etc/ppd/NAME.ppd
#   private_cups.sh pdf-folders            the folders CUPS-PDF writes into, one a line
#   private_cups.sh stop TOP               ends the cupsd started in TOP; the caller removes TOP
#
# Needs root: cupsd switches to the lp user and the cups-pdf backend runs as root. `start`
# exits 77 (skip) with the reason on stderr when CUPS, CUPS-PDF or poppler-utils are
# missing and cannot be installed, or when cupsd cannot be started here.

set -u
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd

skip() { echo "$*" >&2; exit 77; }
fail() { echo "$*" >&2; exit 1; }

have_tools() {
    command -v cupsd >/dev/null && command -v lpadmin >/dev/null && command -v lpstat >/dev/null \
        && command -v pdftoppm >/dev/null && command -v pdfinfo >/dev/null \
        && [ -x /usr/lib/cups/backend/cups-pdf ] && [ -f "$ppd" ]
}

cupsd_pid() {
    cat "$1/cupsd.pid" 2>/dev/null
}

stop() {
    top=$1
    pid=$(cupsd_pid "$top")
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null
    tries=0
    while kill -0 "$pid" 2>/dev/null && [ "$tries" -lt 50 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    kill -9 "$pid" 2>/dev/null
    rm -f "$top/cupsd.pid"
}

start() {
    top=$1
    [ "$(id -u)" -eq 0 ] || skip "needs root to run cupsd and the cups-pdf backend"
    if ! have_tools && command -v apt-get >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q cups printer-driver-cups-pdf poppler-utils >/dev/null 2>&1
    fi
    have_tools || skip "cups, printer-driver-cups-pdf or poppler-utils not installed"
    [ -d "$top" ] || fail "no folder $top"

    chmod 755 "$top"
    etc=$top/etc; spool=$top/spool; logs=$top/log; socket=$top/cups.sock
    mkdir -p "$etc/ppd" "$spool/tmp" "$top/cache" "$top/state/certs" "$logs" || fail "mkdir in $top"
    chgrp lp "$spool" "$spool/tmp" && chmod 0710 "$spool" && chmod 1770 "$spool/tmp" \
        || skip "no lp group for the spool folder"

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
Printcap $top/printcap
CONF

    # Its output goes to a file: a caller reading ours must not wait for cupsd to end.
    cupsd -f -c "$etc/cupsd.conf" -s "$etc/cups-files.conf" </dev/null >"$logs/cupsd.out" 2>&1 &
    echo $! > "$top/cupsd.pid"
    tries=0
    while [ "$tries" -lt 50 ]; do
        [ -S "$socket" ] && lpstat -h "$socket" -r >/dev/null 2>&1 && break
        if ! kill -0 "$(cupsd_pid "$top")" 2>/dev/null; then
            rm -f "$top/cupsd.pid"
            skip "cupsd did not start: $(tail -3 "$logs/error_log" "$logs/cupsd.out" 2>/dev/null)"
        fi
        sleep 0.2
        tries=$((tries + 1))
    done
    if ! lpstat -h "$socket" -r >/dev/null 2>&1; then
        stop "$top"
        skip "cupsd does not answer on $socket"
    fi
    echo "$socket"
}

add_pdf_queue() {
    top=$1
    name=$2
    socket=$top/cups.sock
    lpadmin -h "$socket" -p "$name" -E -v cups-pdf:/ -P "$ppd" || fail "lpadmin could not add the CUPS-PDF queue"
    lpadmin -h "$socket" -d "$name" || fail "lpadmin could not make $name the default"
}

# The Out setting of CUPS-PDF's configuration in the home of the job's user (compiled-in
# default ${HOME}/PDF), and the folder for jobs of users it does not know.
pdf_folders() {
    out=$(sed -n 's/^[[:space:]]*Out[[:space:]]\{1,\}//p' /etc/cups/cups-pdf.conf 2>/dev/null | tail -1)
    [ -n "$out" ] || out='${HOME}/PDF'
    home=$(getent passwd "$(id -un)" | cut -d: -f6)
    printf '%s\n' "$out" | sed "s|\${HOME}|$home|"
    echo /var/spool/cups-pdf/ANONYMOUS
}

case ${1-} in
    start) [ $# -eq 2 ] || fail "usage: $0 start TOP"; start "$2" ;;
    add-pdf-queue) [ $# -eq 3 ] || fail "usage: $0 add-pdf-queue TOP NAME"; add_pdf_queue "$2" "$3" ;;
    pdf-folders) pdf_folders ;;
    stop) [ $# -eq 2 ] || fail "usage: $0 stop TOP"; stop "$2" ;;
    *) fail "usage: $0 start TOP | add-pdf-queue TOP NAME | pdf-folders | stop TOP" ;;
esac

#!/bin/sh
# Starts Орбелант from the desktop menu. The program reads зендра.xls from the current
# folder, so it runs in the user's own data folder, which gets a copy of the installed
# workbook the first time.
set -eu

here=$(dirname "$(readlink -f "$0")")
installed="$here/../share/orbelant/зендра.xls"
workdir="${XDG_DATA_HOME:-$HOME/.local/share}/orbelant"

mkdir -p "$workdir"
if [ ! -f "$workdir/зендра.xls" ] && [ -f "$installed" ]; then
    cp "$installed" "$workdir/зендра.xls"
fi
cd "$workdir"
exec "$here/orbelant"

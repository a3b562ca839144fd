#!/bin/sh
# Builds Орбелант and starts it in the working folder run/ with a copy of the sample
# workbook. The committed sample/зендра.xls is never edited: the program works on the copy.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
workdir="$root/run"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Орбелант — оконная программа, а дисплей не задан: переменные DISPLAY и WAYLAND_DISPLAY пусты." >&2
    echo "Запустите команду в графическом сеансе (или под Xvfb: DISPLAY=:99)." >&2
    exit 2
fi

"$root/scripts/install-packages.sh" run

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORBELANT_ENGINE_ONLY=OFF
cmake --build "$build" --target orbelant

mkdir -p "$workdir"
if [ ! -f "$workdir/зендра.xls" ]; then
    cp "$root/sample/зендра.xls" "$workdir/зендра.xls"
fi

cd "$workdir"
exec "$build/bin/orbelant"

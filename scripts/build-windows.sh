#!/bin/bash
# Builds Орбелант for 64-bit Windows on this Debian machine: a static Qt once (kept in a
# cache outside the work tree, see scripts/windows/build-qt.sh), then the two programs, each
# one file that needs only Windows' own DLLs, and the zip a Windows user unpacks:
#   dist/windows/Орбелант.exe, dist/windows/orbelant-xls.exe, dist/windows/Орбелант-1.0.0-win64.zip
# tests/windows/run_wine_tests.sh tests what build-windows/ holds.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-windows
dist=$root/dist/windows
jobs=${ORBELANT_JOBS:-$(nproc)}
mingw=x86_64-w64-mingw32

"$root/scripts/install-packages.sh" windows
started=$(date +%s)
prefix=$("$root/scripts/windows/build-qt.sh" | tail -n 1)
qt_ready=$(date +%s)

echo "== Сборка для Windows"
mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORBELANT_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$prefix/orbelant-toolchain.cmake" >"$build/configure.log" 2>&1 ||
    { tail -30 "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j "$jobs"

version=$(sed -n 's/^project(Orbelant VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
package=Орбелант-$version-win64
rm -rf "$dist"
mkdir -p "$dist"
"$mingw-strip" -o "$dist/Орбелант.exe" "$build/bin/Орбелант.exe"
"$mingw-strip" -o "$dist/orbelant-xls.exe" "$build/bin/orbelant-xls.exe"

# The folder Орбелант in the zip: both programs, the sample and the read-me with Windows
# line ends. Python's zipfile marks the Cyrillic names as UTF-8, as Windows expects.
/usr/bin/python3 - "$dist/$package.zip" "$dist/Орбелант.exe" "$dist/orbelant-xls.exe" \
    "$root/sample/зендра.xls" "$root/resources/windows/ПРОЧТИ.txt" <<'PY'
import pathlib, sys, zipfile
target, *files = sys.argv[1:]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name in files:
        path = pathlib.Path(name)
        data = path.read_bytes()
        if path.suffix == ".txt":
            data = b"\xef\xbb\xbf" + data.replace(b"\n", b"\r\n")
        archive.writestr(zipfile.ZipInfo("Орбелант/" + path.name, (2024, 1, 1, 0, 0, 0)), data,
                         zipfile.ZIP_DEFLATED)
PY

echo "== Готово за $(( $(date +%s) - started )) с (Qt: $(( qt_ready - started )) с):"
ls -l "$dist" | tail -n +2

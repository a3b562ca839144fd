#!/bin/bash
# Builds a static Qt for 64-bit Windows from Debian's own qt6-base source, once, into a
# cache outside the work tree, and prints the prefix. A prefix that is there and complete
# (its stamp names the same Qt version and options) is reused as it is.
#   scripts/windows/build-qt.sh
# ORBELANT_CACHE (default ~/.cache/orbelant) is where the prefix lives.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cache=${ORBELANT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orbelant}
version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev)   # the host tools' Qt, e.g. 6.4.2+dfsg-10
upstream=${version%%+*}
prefix=$cache/qt-$upstream-mingw64-static
jobs=${ORBELANT_JOBS:-$(nproc)}

# What the prefix was built with; a change in here builds it again.
options=(
    -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DFEATURE_static_runtime=ON
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF
    -DFEATURE_network=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_icu=OFF -DFEATURE_openssl=OFF
    -DFEATURE_printsupport=ON -DFEATURE_testlib=ON
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF
)
stamp_text="qtbase $version; $(printf '%s ' "${options[@]}"); $(sha256sum "$root/cmake/mingw-w64-x86_64.cmake" | cut -c1-16)"
if [ -f "$prefix/.orbelant-complete" ] && [ "$(cat "$prefix/.orbelant-complete")" = "$stamp_text" ]; then
    echo "$prefix"
    exit 0
fi

work=$cache/qt-build
rm -rf "$work" "$prefix"
mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial"
started=$(date +%s)

# Debian's source package (and the one binary package below) through a private sources
# list: the system's apt is left alone.
for suite in bookworm bookworm-updates; do
    for type in deb deb-src; do
        echo "$type [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main"
    done
done >"$work/apt/sources.list"
apt_private=(-o Dir::Etc::sourcelist="$work/apt/sources.list" -o Dir::Etc::sourceparts=/nonexistent
             -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache::Archives="$work/apt/archives"
             -o APT::Sandbox::User=root -q)
echo "== Исходники Qt $version" >&2
apt-get "${apt_private[@]}" update >&2
(cd "$work" && apt-get "${apt_private[@]}" source --download-only "qt6-base=$version" >&2)
tar -C "$work" -xf "$work"/qt6-base_"${version%-*}".orig.tar.xz
source=$(find "$work" -maxdepth 1 -type d -name 'qtbase-*' | head -n 1)

# The +dfsg tarball leaves out Wintab (its licence); Wine's LGPL headers stand in for it.
echo "== Заголовки Wintab из libwine-dev" >&2
(cd "$work" && apt-get "${apt_private[@]}" download libwine-dev >&2)
dpkg-deb -x "$work"/libwine-dev_*.deb "$work/libwine"
wintab=$source/src/3rdparty/wintab
mkdir -p "$wintab/wine"
cp "$(find "$work/libwine" -name wintab.h | head -n 1)" "$(find "$work/libwine" -name pktdef.h | head -n 1)" "$wintab/wine/"
for header in wintab.h pktdef.h; do
    cat >"$wintab/$header" <<WRAP
#pragma once
// Wine's header, with the few macros it expects from Wine's own build.
#include <windows.h>
#ifndef API
#define API WINAPI
#endif
#ifndef WINELIB_NAME_AW
#define WINELIB_NAME_AW(func) func##W
#endif
#ifndef DECL_WINELIB_TYPE_AW
#define DECL_WINELIB_TYPE_AW(type) typedef WINELIB_NAME_AW(type) type;
#endif
#include "wine/$header"
WRAP
done

echo "== Настройка Qt" >&2
cmake -S "$source" -B "$work/build" "${options[@]}" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >"$work/configure.log" 2>&1 ||
    { tail -40 "$work/configure.log" >&2; exit 1; }
echo "== Сборка Qt (потоков: $jobs; около получаса)" >&2
cmake --build "$work/build" -j "$jobs" >"$work/build.log" 2>&1 || { tail -40 "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" >"$work/install.log" 2>&1 || { tail -20 "$work/install.log" >&2; exit 1; }
cp "$root/cmake/mingw-w64-x86_64.cmake" "$prefix/orbelant-toolchain.cmake"
echo "$stamp_text" >"$prefix/.orbelant-complete"
rm -rf "$work"
echo "== Сборка Qt заняла $(( ($(date +%s) - started) / 60 )) мин: $prefix ($(du -sh "$prefix" | cut -f1))" >&2
echo "$prefix"

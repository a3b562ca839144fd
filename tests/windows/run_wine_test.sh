#!/bin/bash
# The system-information launcher on Windows for real: cross-compiles the launcher, the
# Windows registry, file test and process starter and a console test program with
# mingw-w64, compiles the version resource with the cross windres, and runs the program
# under wine, scene by scene, against registry values written with `wine reg add` and
# `wine regedit`.
#   tests/windows/run_wine_test.sh [work folder, default a new temporary folder]
# Exit status 0 when every check passed, 1 when one failed, 77 when mingw-w64 or wine are
# missing and cannot be installed (installing needs root).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${1:-$(mktemp -d)}
mkdir -p "$work"
work=$(cd "$work" && pwd)

stage_start=$(date +%s)
seconds_since() { echo $(( $(date +%s) - $1 )); }

# --- Tools -------------------------------------------------------------------------------
step_start=$(date +%s)
missing=()
command -v x86_64-w64-mingw32-g++ >/dev/null || missing+=(g++-mingw-w64-x86-64)
command -v x86_64-w64-mingw32-windres >/dev/null || missing+=(binutils-mingw-w64-x86-64)
command -v wine >/dev/null || missing+=(wine wine64)
if ((${#missing[@]} > 0)); then
    if ((EUID != 0)); then
        echo "SKIP: ${missing[*]} missing, and installing them needs root"
        exit 77
    fi
    echo "== Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! apt-get install -y --no-install-recommends "${missing[@]}" >"$work/apt.log" 2>&1; then
        apt-get update >>"$work/apt.log" 2>&1
        if ! apt-get install -y --no-install-recommends "${missing[@]}" >>"$work/apt.log" 2>&1; then
            tail -5 "$work/apt.log"
            echo "SKIP: ${missing[*]} cannot be installed"
            exit 77
        fi
    fi
fi
install_seconds=$(seconds_since "$step_start")

# --- Build -------------------------------------------------------------------------------
step_start=$(date +%s)
cxx=(x86_64-w64-mingw32-g++ -std=c++23 -O1 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
     -Werror -static -I"$root/ui/about" -I"$root/app/platform")
echo "== Building with $(x86_64-w64-mingw32-g++ --version | head -1)"
x86_64-w64-mingw32-windres --input-format=rc --output-format=coff -I "$root/resources" \
    "$root/resources/orbelant.rc" -o "$work/orbelant-rc.o" || exit 1
"${cxx[@]}" -o "$work/sysinfo_wine_test.exe" "$here/sysinfo_wine_test.cpp" "$root/ui/about/sysinfolauncher.cpp" \
    "$root/app/platform/win32sysinfo.cpp" "$work/orbelant-rc.o" -ladvapi32 -lversion || exit 1
"${cxx[@]}" -mwindows -o "$work/started_marker.exe" "$here/started_marker.cpp" || exit 1
build_seconds=$(seconds_since "$step_start")

# --- A fresh wine prefix, without a display and without installer prompts ------------------
step_start=$(date +%s)
export WINEPREFIX="$work/wineprefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$WINEPREFIX"
echo "== Preparing the wine prefix $WINEPREFIX"
if ! wineboot -i >"$work/wineboot.log" 2>&1; then
    tail -5 "$work/wineboot.log"
    echo "wineboot failed"
    exit 1
fi
stop_wine() { wineserver -k >/dev/null 2>&1; }
trap stop_wine EXIT
prefix_seconds=$(seconds_since "$step_start")

# Everything the scenes start or look for lives under C:\orbelant-test, which is also the
# current folder, so that "\MSINFO32.EXE" means C:\MSINFO32.EXE.
drive_c="$WINEPREFIX/drive_c"
test_dir="$drive_c/orbelant-test"
mkdir -p "$test_dir/viewer" "$test_dir/empty"
cp "$work/sysinfo_wine_test.exe" "$work/started_marker.exe" "$test_dir/"
printf 'not a program\n' >"$test_dir/viewer/MSINFO32.EXE"

primary='HKLM\SOFTWARE\Microsoft\Shared Tools\MSINFO'
fallback='HKLM\SOFTWARE\Microsoft\Shared Tools Location'
values_key='HKLM\SOFTWARE\Orbelant Test'
marker='C:\orbelant-test\started_marker.exe'
viewer_folder='C:\orbelant-test\viewer'

reg_add() { wine reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null || echo "reg add $1 $2 failed"; }
reg_add_key() { wine reg add "$1" /f >/dev/null || echo "reg add $1 failed"; }
reg_drop_key() { wine reg delete "$1" /f >/dev/null 2>&1 || true; }
clear_launcher_keys() { reg_drop_key "$primary"; reg_drop_key "$fallback"; }
# Imports registry lines (after the header) as a UTF-16 .reg file, as regedit exports them.
# `reg add` always stores a string's NUL; an import can store other sizes.
reg_import() {
    { printf '\xff\xfe'; printf 'Windows Registry Editor Version 5.00\r\n\r\n%s\r\n' "$1" | iconv -f UTF-8 -t UTF-16LE; } \
        >"$work/import.reg"
    wine regedit /S "$work/import.reg" || echo "regedit import failed"
}
# hex(1) bytes of a text in UTF-16LE, without a terminating NUL.
utf16_hex() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }

total_passed=0
total_failed=0
scene() {
    local name=$1
    shift
    echo "== $name"
    local output
    output=$(cd "$test_dir" && wine sysinfo_wine_test.exe "$@" 2>&1 | tr -d '\r')
    sed 's/^/   /' <<<"$output"
    local summary
    summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' <<<"$output" | tail -1)
    if [[ -z $summary ]]; then
        echo "   not ok - no summary from the test program"
        total_failed=$((total_failed + 1))
        return
    fi
    total_passed=$((total_passed + $(cut -d' ' -f1 <<<"$summary")))
    total_failed=$((total_failed + $(cut -d' ' -f3 <<<"$summary")))
}

step_start=$(date +%s)

# --- GetKeyValue on values of every kind --------------------------------------------------
reg_drop_key "$values_key"
reg_add "$values_key" Text REG_SZ 'C:\Program Files\Viewer\viewer.exe'
reg_add "$values_key" EmptyText REG_SZ ''
reg_add "$values_key" Dword REG_DWORD 0x00ABCDEF
reg_add "$values_key" Zero REG_DWORD 0
reg_add "$values_key" AllBits REG_DWORD 0xFFFFFFFF
reg_add "$values_key" Expand REG_EXPAND_SZ '%ProgramFiles%\Viewer'
reg_add "$values_key" Long REG_SZ "$(head -c 1100 /dev/zero | tr '\0' 'L')"
reg_import '[HKEY_LOCAL_MACHINE\SOFTWARE\Orbelant Test]
"TextNoNul"=hex(1):'"$(utf16_hex 'C:\NoNul')"'
"Empty"=hex(1):'
scene "values of every kind" values
reg_drop_key "$values_key"

scene "version resource from the cross windres" version

# --- StartSysInfo, scene by scene ---------------------------------------------------------
clear_launcher_keys
reg_add "$primary" PATH REG_SZ "$marker"
scene "primary path started for real" start real "$marker" quiet - "$marker.started"

clear_launcher_keys
rm -f "$test_dir/started_marker.exe.started"
reg_import '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO]
"PATH"=hex(1):'"$(utf16_hex "$marker")"
scene "primary path imported without a NUL, started for real" start real "$marker" quiet - "$marker.started"

clear_launcher_keys
reg_add "$primary" PATH REG_SZ 'C:\orbelant-test\missing\MSINFO32.EXE'
reg_add "$fallback" MSINFO REG_SZ "$viewer_folder"
scene "primary path to a missing file: no fallback, message" \
    start real 'C:\orbelant-test\missing\MSINFO32.EXE' message -

clear_launcher_keys
reg_add "$fallback" MSINFO REG_SZ "$viewer_folder"
scene "primary key missing, fallback folder has the viewer" \
    start record "$viewer_folder\\MSINFO32.EXE" quiet "$viewer_folder\\MSINFO32.EXE"

clear_launcher_keys
reg_add_key "$primary"
reg_add "$fallback" MSINFO REG_SZ "$viewer_folder"
scene "primary key without PATH (as wine ships it), fallback has the viewer" \
    start record "$viewer_folder\\MSINFO32.EXE" quiet "$viewer_folder\\MSINFO32.EXE"

clear_launcher_keys
reg_add "$fallback" MSINFO REG_SZ 'C:\orbelant-test\empty'
scene "fallback folder without the viewer" start record - message 'C:\orbelant-test\empty\MSINFO32.EXE'

clear_launcher_keys
scene "both keys missing" start record - message -

clear_launcher_keys
reg_add "$primary" PATH REG_EXPAND_SZ '%SystemRoot%\system32\msinfo32.exe'
reg_add "$fallback" MSINFO REG_SZ "$viewer_folder"
scene "primary expandable string: empty path cannot start" start real '(empty)' message -

clear_launcher_keys
reg_add "$fallback" MSINFO REG_EXPAND_SZ '%ProgramFiles%\Msinfo'
scene "fallback expandable string: looks for \\MSINFO32.EXE alone" start record - message '\MSINFO32.EXE'

printf 'not a program\n' >"$drive_c/MSINFO32.EXE"
scene "fallback expandable string with C:\\MSINFO32.EXE present" \
    start record '\MSINFO32.EXE' quiet '\MSINFO32.EXE'
rm -f "$drive_c/MSINFO32.EXE"

clear_launcher_keys
reg_import '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO]
"PATH"=hex(1):'
reg_add "$fallback" MSINFO REG_SZ "$viewer_folder"
scene "primary of size 0: error caught, message" start record - message -

clear_launcher_keys
reg_add "$primary" PATH REG_DWORD 0x10
scene "primary DWORD: its text cannot start" start real '&h10' message -

clear_launcher_keys
scenes_seconds=$(seconds_since "$step_start")

stop_wine
trap - EXIT
echo "== sysinfo on Windows: $total_passed passed, $total_failed failed"
echo "   seconds: install $install_seconds, build $build_seconds, wine prefix $prefix_seconds," \
     "scenes $scenes_seconds, whole stage $(seconds_since "$stage_start")"
if ((total_failed == 0 && total_passed > 0)); then
    rm -rf "$WINEPREFIX" # some 700 MB
    exit 0
fi
echo "   the wine prefix is kept for a look: $WINEPREFIX"
exit 1

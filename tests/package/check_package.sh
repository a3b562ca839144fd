#!/bin/sh
# The Debian package as a user gets it:
#
#   check_package.sh CPACK BUILD_DIR ARTEFACT_DIR
#
# builds the .deb with CPack, checks its fields and files, unpacks it with `dpkg -x`, validates
# the desktop entry, the AppStream file and the manual page, tries the launcher's folder
# handling with a stand-in program, and starts the unpacked launcher under Xvfb
# (tests/e2e/test_installed_package.py). Exit 0 when all pass, 77 when a tool is missing.
set -u
[ $# -eq 3 ] || { echo "usage: $0 CPACK BUILD_DIR ARTEFACT_DIR" >&2; exit 2; }
cpack=$1 build=$2 artefacts=$3
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
sample="$source_dir/sample/зендра.xls"
# scripts/install-packages.sh test installs these.
for tool in dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli groff man readelf; do
    command -v "$tool" >/dev/null 2>&1 || { echo "package SKIPPED: no $tool" >&2; exit 77; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/orbelant-package.XXXXXX") || exit 1
trap 'chmod -R u+w "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
mkdir -p "$artefacts" || exit 1
failures=0
# check WHAT COMMAND...: runs the command quietly; on failure shows its output.
check() {
    what=$1
    shift
    if "$@" >"$scratch/out" 2>&1; then echo "ok: $what"; else
        echo "FAIL: $what" >&2; sed 's/^/    /' "$scratch/out" >&2; failures=$((failures + 1)); fi
}

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1 \
    || { cat "$scratch/cpack.log" >&2; exit 1; }
deb=$(ls "$scratch"/cpack/orbelant_*.deb) || exit 1
cp "$deb" "$artefacts/"
dpkg-deb -c "$deb" >"$artefacts/package-contents.txt"

for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6 libgsf-1-114; do
    check "Depends: $library (>= …), from dpkg-shlibdeps" \
        sh -c 'dpkg-deb -f "$1" Depends | tr , "\n" | grep -qx " *$2 (>= .*)"' - "$deb" "$library"
done
for entry in "-rwxr-xr-x usr/bin/orbelant" "-rwxr-xr-x usr/bin/orbelant-xls" "-rwxr-xr-x usr/bin/orbelant-launcher" \
    "-rw-r--r-- usr/share/applications/orbelant.desktop" "-rw-r--r-- usr/share/metainfo/ru.orbelant.orbelant.metainfo.xml" \
    "-rw-r--r-- usr/share/icons/hicolor/scalable/apps/orbelant.svg" "-rw-r--r-- usr/share/icons/hicolor/48x48/apps/orbelant.png" \
    "-rw-r--r-- usr/share/man/man1/orbelant-xls.1.gz" "-rw-r--r-- usr/share/orbelant/зендра.xls" \
    "-rw-r--r-- usr/share/doc/orbelant/copyright"; do
    check "$entry" awk -v m="${entry% *}" -v p="./${entry#* }" '$1 == m && $2 == "root/root" && $6 == p { f = 1 } END { exit !f }' \
        "$artefacts/package-contents.txt"
done
check "everything under /usr" awk '$6 !~ /^\.\/usr\// { print; bad = 1 } END { exit bad }' "$artefacts/package-contents.txt"

root="$scratch/root"
dpkg -x "$deb" "$root" || exit 1
check "the packaged sample is the committed one" cmp "$sample" "$root/usr/share/orbelant/зендра.xls"
for binary in orbelant orbelant-xls; do
    check "$binary: no RPATH, every library found" sh -c '! readelf -d "$1" | grep -E "R(UN)?PATH" &&
        ! env -u LD_LIBRARY_PATH ldd "$1" | grep "not found"' - "$root/usr/bin/$binary"
done
check "desktop-file-validate" sh -c '! desktop-file-validate "$1" 2>&1 | grep -E "(error|warning):"' \
    - "$root/usr/share/applications/orbelant.desktop"
check "desktop entry starts the launcher" grep -qx "Exec=orbelant-launcher" "$root/usr/share/applications/orbelant.desktop"
check "appstreamcli validate" appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/ru.orbelant.orbelant.metainfo.xml"
check "manual page without groff warnings" \
    sh -c 'zcat "$1" | groff -k -man -Tutf8 -ww -z 2>&1 | { ! grep .; }' - "$root/usr/share/man/man1/orbelant-xls.1.gz"

# The launcher next to a stand-in program that notes where it was started. (A first start,
# which copies the sample, is the installed program's end-to-end test.)
fake="$scratch/fake"
mkdir -p "$fake/usr/bin" "$fake/usr/share/orbelant" "$scratch/own/Орбелант"
cp "$root/usr/bin/orbelant-launcher" "$fake/usr/bin/"
cp "$sample" "$fake/usr/share/orbelant/"
printf '#!/bin/sh\npwd >"$(dirname "$0")/started-in"\n' >"$fake/usr/bin/orbelant"
chmod 755 "$fake/usr/bin/orbelant"
echo own >"$scratch/own/Орбелант/зендра.xls"
check "a workbook of the user's own: kept, the program started in ~/Орбелант" sh -c 'HOME=$1 "$2/orbelant-launcher" &&
    grep -qx own "$1/Орбелант/зендра.xls" && [ "$(cat "$2/started-in")" = "$1/Орбелант" ]' - "$scratch/own" "$fake/usr/bin"

ORBELANT_PACKAGE_ROOT="$root" "$source_dir/tests/e2e/run_e2e.sh" "$root/usr/bin/orbelant-launcher" "$artefacts" \
    "$source_dir/tests/e2e/test_installed_package.py"
started=$?
[ $failures -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
exit $started

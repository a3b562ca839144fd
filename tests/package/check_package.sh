#!/bin/sh
# The Debian package as a user gets it:
#
#   check_package.sh CPACK BUILD_DIR VERSION ARTEFACT_DIR
#
# builds the .deb from the build folder with CPack, checks its control fields and file list,
# unpacks it into a throw-away root with `dpkg -x`, validates the desktop entry, the AppStream
# file and the manual page found there, tries the launcher's folder handling with a stand-in
# program, and finally starts the unpacked program and launcher under Xvfb and reads the first
# row through the accessibility tree (tests/e2e/test_installed_package.py via run_e2e.sh).
# Exit 0 when all pass, 77 when a tool is missing (CTest reports a skip), 1 otherwise.
set -u

if [ $# -ne 4 ]; then
    echo "usage: $0 CPACK BUILD_DIR VERSION ARTEFACT_DIR" >&2
    exit 2
fi
cpack=$1
build=$2
version=$3
artefacts=$4
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
sample="$source_dir/sample/зендра.xls"
packages="dpkg-dev appstream desktop-file-utils groff-base man-db binutils file"

tools_present() {
    for tool in dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli groff man readelf; do
        command -v "$tool" >/dev/null 2>&1 || return 1
    done
}
if ! tools_present; then
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "package: installing the missing tools ($packages)"
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $packages >/dev/null 2>&1
    fi
    if ! tools_present; then
        echo "package SKIPPED: needs dpkg-deb, dpkg-shlibdeps, file, desktop-file-validate," \
             "appstreamcli, groff, man and readelf (Debian: apt-get install $packages)" >&2
        exit 77
    fi
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/orbelant-package.XXXXXX") || exit 1
trap 'chmod -R u+w "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
trap 'exit 1' INT TERM HUP
mkdir -p "$artefacts" || exit 1

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "ok: $*"
}
# check WHAT COMMAND...: runs the command quietly; on failure shows its output.
check() {
    what=$1
    shift
    if "$@" >"$scratch/check.out" 2>&1; then
        pass "$what"
    else
        fail "$what"
        sed 's/^/    /' "$scratch/check.out" >&2
    fi
}

# --- The package file -------------------------------------------------------------------

echo "== cpack"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack did not make the package" >&2
    exit 1
fi
set -- "$scratch"/cpack/orbelant_*.deb
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    cat "$scratch/cpack.log" >&2
    echo "FAIL: expected one orbelant_*.deb from cpack, found: $*" >&2
    exit 1
fi
deb=$1
cp "$deb" "$artefacts/" 2>/dev/null
echo "package: $deb"

echo "== control fields"
field() {
    dpkg-deb -f "$deb" "$1"
}
field_is() {
    actual=$(field "$1")
    [ "$actual" = "$2" ] || { echo "$1 is '$actual', expected '$2'"; return 1; }
}
check "Package: orbelant" field_is Package orbelant
check "Version: $version" field_is Version "$version"
check "Section: science" field_is Section science
check "Architecture: $(dpkg --print-architecture)" field_is Architecture "$(dpkg --print-architecture)"
check "Maintainer names no person" sh -c 'dpkg-deb -f "$1" Maintainer | grep -q "^Orbelant developers <"' - "$deb"
# Versioned entries for the libraries the binaries link show that dpkg-shlibdeps made the list.
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6 libgsf-1-114; do
    check "Depends: $library (>= …) from dpkg-shlibdeps" \
        sh -c 'dpkg-deb -f "$1" Depends | tr "," "\n" | grep -q "^ *$2 (>= "' - "$deb" "$library"
done
for package in fonts-liberation qt6-translations-l10n; do
    check "Recommends: $package" sh -c 'dpkg-deb -f "$1" Recommends | tr "," "\n" | grep -qx " *$2"' - "$deb" "$package"
done
dpkg-deb -I "$deb" >"$artefacts/package-info.txt"
dpkg-deb -c "$deb" >"$artefacts/package-contents.txt"

echo "== contents"
contents="$artefacts/package-contents.txt"
# "MODE PATH" per file the package must carry.
while read -r mode path; do
    check "$path ($mode)" sh -c 'awk -v m="$2" -v p="$3" "\$1 == m && \$6 == p { found = 1 } END { exit !found }" "$1"' \
        - "$contents" "$mode" "$path"
done <<EOF
-rwxr-xr-x ./usr/bin/orbelant
-rwxr-xr-x ./usr/bin/orbelant-xls
-rwxr-xr-x ./usr/bin/orbelant-launcher
-rw-r--r-- ./usr/share/applications/orbelant.desktop
-rw-r--r-- ./usr/share/metainfo/ru.orbelant.orbelant.metainfo.xml
-rw-r--r-- ./usr/share/icons/hicolor/16x16/apps/orbelant.png
-rw-r--r-- ./usr/share/icons/hicolor/32x32/apps/orbelant.png
-rw-r--r-- ./usr/share/icons/hicolor/48x48/apps/orbelant.png
-rw-r--r-- ./usr/share/icons/hicolor/64x64/apps/orbelant.png
-rw-r--r-- ./usr/share/icons/hicolor/128x128/apps/orbelant.png
-rw-r--r-- ./usr/share/icons/hicolor/256x256/apps/orbelant.png
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/orbelant.svg
-rw-r--r-- ./usr/share/man/man1/orbelant-xls.1.gz
-rw-r--r-- ./usr/share/orbelant/зендра.xls
-rw-r--r-- ./usr/share/doc/orbelant/copyright
EOF
check "every entry belongs to root and lies under /usr" \
    awk '$2 != "root/root" || $6 !~ /^\.\/usr\// { print "unexpected: " $0; bad = 1 } END { exit bad }' "$contents"

root="$scratch/root"
if ! dpkg -x "$deb" "$root"; then
    echo "FAIL: dpkg -x could not unpack the package" >&2
    exit 1
fi

# --- What the unpacked files say --------------------------------------------------------

echo "== unpacked files"
check "the packaged sample is the committed one" cmp "$sample" "$root/usr/share/orbelant/зендра.xls"
for size in 16 32 48 64 128 256; do
    check "icon ${size}x$size is a ${size}x$size PNG" \
        sh -c 'file -b "$1" | grep -q "^PNG image data, $2 x $2,"' - "$root/usr/share/icons/hicolor/${size}x$size/apps/orbelant.png" "$size"
done
for binary in orbelant orbelant-xls; do
    # Qt comes from the system: no search path of their own (an empty entry would even
    # mean the working folder), and every library found without LD_LIBRARY_PATH.
    check "$binary has no RPATH or RUNPATH" sh -c '! readelf -d "$1" | grep -E "R(UN)?PATH"' - "$root/usr/bin/$binary"
    check "$binary finds all its libraries" sh -c 'found=$(env -u LD_LIBRARY_PATH ldd "$1") && ! echo "$found" | grep "not found"' \
        - "$root/usr/bin/$binary"
done
check "installed orbelant-xls reads the sample" \
    sh -c '"$1" dump "$2" | head -n 2 | grep -q "^0,0042	Фанерозойская	"' \
    - "$root/usr/bin/orbelant-xls" "$root/usr/share/orbelant/зендра.xls"

desktop="$root/usr/share/applications/orbelant.desktop"
# desktop-file-validate only hints that Education and Science are both main categories.
check "desktop-file-validate" sh -c 'desktop-file-validate "$1" >"$2" 2>&1; status=$?; cat "$2";
                                     [ $status -eq 0 ] && ! grep -E "(error|warning):" "$2"' - "$desktop" "$scratch/dfv.out"
for line in "Type=Application" "Name=Орбелант" "Comment=Просмотр геохронологической шкалы из книги Excel 97" \
            "Exec=orbelant-launcher" "Icon=orbelant" "Categories=Education;Science;"; do
    check "desktop entry: $line" grep -qx "$line" "$desktop"
done

metainfo="$root/usr/share/metainfo/ru.orbelant.orbelant.metainfo.xml"
check "appstreamcli validate --no-net --pedantic" appstreamcli validate --no-net --pedantic "$metainfo"
check "metainfo file name is its component id" grep -q "<id>ru.orbelant.orbelant</id>" "$metainfo"
check "metainfo launches the installed desktop entry" \
    grep -q '<launchable type="desktop-id">orbelant.desktop</launchable>' "$metainfo"
for element in name summary; do
    check "metainfo has a Russian $element" grep -q "<$element xml:lang=\"ru\">" "$metainfo"
done

manual="$root/usr/share/man/man1/orbelant-xls.1.gz"
check "manual page is valid gzip" gzip -t "$manual"
check "manual page: groff -man -ww gives no warning" \
    sh -c 'zcat "$1" | groff -k -man -Tutf8 -ww -z 2>&1 | { ! grep .; }' - "$manual"
check "manual page: man -l shows its Russian sections" \
    sh -c 'MANWIDTH=80 man -l "$1" 2>&1 | grep -q "^ИМЯ" && MANWIDTH=80 man -l "$1" | grep -q "КОД ВОЗВРАТА"' - "$manual"

# --- The launcher's folder, with a stand-in program -------------------------------------
# A copy of the unpacked launcher next to a stand-in `orbelant` that notes where it was
# started: the launcher finds the program and the sample beside itself.

echo "== launcher"
fake="$scratch/fake"
mkdir -p "$fake/usr/bin" "$fake/usr/share/orbelant"
cp "$root/usr/bin/orbelant-launcher" "$fake/usr/bin/"
cp "$root/usr/share/orbelant/зендра.xls" "$fake/usr/share/orbelant/"
cat >"$fake/usr/bin/orbelant" <<'EOF'
#!/bin/sh
pwd >"$(dirname "$0")/started-in"
EOF
chmod 755 "$fake/usr/bin/orbelant"
launcher="$fake/usr/bin/orbelant-launcher"
started="$fake/usr/bin/started-in"
user_workbook="Моя книга, не образец"

# run_launcher HOME_VALUE|-: runs it with that HOME (- = HOME unset); output in $scratch/launcher.err
run_launcher() {
    rm -f "$started"
    if [ "$1" = "-" ]; then
        env -u HOME PATH=/usr/bin:/bin "$launcher" >"$scratch/launcher.err" 2>&1
    else
        env HOME="$1" PATH=/usr/bin:/bin "$launcher" >"$scratch/launcher.err" 2>&1
    fi
}
launcher_said() {
    grep -q "$1" "$scratch/launcher.err" || { echo "the launcher said:"; cat "$scratch/launcher.err"; return 1; }
}
started_in() {
    [ -f "$started" ] && [ "$(cat "$started")" = "$1" ] \
        || { echo "started in: $(cat "$started" 2>/dev/null || echo "(not started)")"; return 1; }
}
not_started() {
    [ ! -e "$started" ] || { echo "the program was started in $(cat "$started")"; return 1; }
}

home="$scratch/first-start"
mkdir "$home"
run_launcher "$home"
check "first start: exit 0" test $? -eq 0
check "first start: ~/Орбелант gets a copy of the sample" cmp "$sample" "$home/Орбелант/зендра.xls"
check "first start: no temporary copy is left behind" sh -c '[ -z "$(ls -A "$1" | grep -v "^зендра.xls$")" ]' - "$home/Орбелант"
check "first start: the program works in ~/Орбелант" started_in "$home/Орбелант"

home="$scratch/own-workbook"
mkdir -p "$home/Орбелант"
printf '%s' "$user_workbook" >"$home/Орбелант/зендра.xls"
run_launcher "$home"
check "own workbook: kept as it is" sh -c '[ "$(cat "$1")" = "$2" ]' - "$home/Орбелант/зендра.xls" "$user_workbook"
check "own workbook: the program works in ~/Орбелант" started_in "$home/Орбелант"

home="$scratch/dangling-link"
mkdir -p "$home/Орбелант"
ln -s "$scratch/elsewhere.xls" "$home/Орбелант/зендра.xls"
run_launcher "$home"
check "workbook is a dangling link: nothing written through it" test ! -e "$scratch/elsewhere.xls"

run_launcher -
check "HOME unset: fails" test $? -ne 0
check "HOME unset: says so in Russian" launcher_said "Не задана домашняя папка"
check "HOME unset: program not started" not_started

home="$scratch/folder-is-a-file"
mkdir "$home"
printf '%s' "$user_workbook" >"$home/Орбелант"
run_launcher "$home"
check "~/Орбелант is a file: fails" test $? -ne 0
check "~/Орбелант is a file: says so in Russian" launcher_said "файл, а не папка"
check "~/Орбелант is a file: file untouched" sh -c '[ "$(cat "$1")" = "$2" ]' - "$home/Орбелант" "$user_workbook"
check "~/Орбелант is a file: program not started" not_started

# A folder the launcher may not write into; root may write anywhere, so as nobody then.
home="$scratch/read-only"
mkdir -p "$home/Орбелант"
chmod 555 "$home/Орбелант"
as_user=""
if [ "$(id -u)" -eq 0 ]; then
    chmod -R a+rX "$scratch" && chmod 777 "$fake/usr/bin"
    command -v setpriv >/dev/null 2>&1 && as_user="setpriv --reuid=nobody --regid=nogroup --clear-groups"
fi
if [ "$(id -u)" -ne 0 ] || [ -n "$as_user" ]; then
    rm -f "$started"
    $as_user env HOME="$home" PATH=/usr/bin:/bin "$launcher" >"$scratch/launcher.err" 2>&1
    check "copy fails: fails" test $? -ne 0
    check "copy fails: says so in Russian" launcher_said "Не удалось скопировать образец книги"
    check "copy fails: no partial workbook" test ! -e "$home/Орбелант/зендра.xls"
    check "copy fails: program not started" not_started
else
    echo "skipped: the failing copy (running as root without setpriv)"
fi

rm "$fake/usr/share/orbelant/зендра.xls"
home="$scratch/no-sample"
mkdir "$home"
run_launcher "$home"
check "sample missing: fails and says so" launcher_said "Нет образца книги"
check "sample missing: program not started" not_started

# --- The unpacked program under Xvfb ----------------------------------------------------

echo "== the installed program under Xvfb"
ORBELANT_PACKAGE_ROOT="$root" "$source_dir/tests/e2e/run_e2e.sh" "$root/usr/bin/orbelant" "$artefacts" \
    "$source_dir/tests/e2e/test_installed_package.py"
e2e_status=$?

if [ $failures -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
case $e2e_status in
    0) echo "all package checks passed" ;;
    77) echo "package checks passed; the start under Xvfb was skipped (tools missing)" >&2; exit 77 ;;
    *) exit 1 ;;
esac

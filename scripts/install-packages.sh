#!/bin/sh
# Installs the Debian packages Орбелант needs; only the missing ones.
#   scripts/install-packages.sh run    building and running the program
#   scripts/install-packages.sh test   building and running every test as well
#   scripts/install-packages.sh windows       cross-building the Windows programs
#   scripts/install-packages.sh windows-test  and running them and their tests under wine
set -eu

run_packages="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev libgsf-1-dev
              qt6-qpa-plugins qt6-translations-l10n fonts-liberation fonts-dejavu-core"
test_packages="$run_packages python3 python3-xlrd python3-xlwt libfreexl-dev clang-16 libclang-rt-16-dev
               llvm-16 xvfb xauth x11-utils dbus dbus-x11 at-spi2-core python3-pyatspi imagemagick poppler-utils
               cups cups-bsd printer-driver-cups-pdf
               dpkg-dev file binutils appstream desktop-file-utils groff-base man-db"

# The Windows build: Qt's host tools and Russian texts, the mingw-w64 cross compilers with
# POSIX threads (Qt needs them), Python for the zip; and for its tests wine, Xvfb, xdotool.
windows_packages="cmake ninja-build qt6-base-dev qt6-base-dev-tools qt6-translations-l10n xz-utils
                  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 python3"
windows_test_packages="$windows_packages wine wine64 xvfb xauth xdotool imagemagick python3-xlrd python3-xlwt"

case "${1:-}" in
    run) packages=$run_packages ;;
    test) packages=$test_packages ;;
    windows) packages=$windows_packages ;;
    windows-test) packages=$windows_test_packages ;;
    *) echo "использование: $0 run|test|windows|windows-test" >&2; exit 2 ;;
esac

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0

echo "Устанавливаю пакеты:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends $missing

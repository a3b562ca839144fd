#!/bin/sh
# Installs the Debian packages Орбелант needs; only the missing ones.
#   scripts/install-packages.sh run    building and running the program
#   scripts/install-packages.sh test   building and running every test as well
set -eu

run_packages="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev libgsf-1-dev
              qt6-qpa-plugins qt6-translations-l10n fonts-liberation fonts-dejavu-core"
test_packages="$run_packages python3 python3-xlrd python3-xlwt libfreexl-dev clang-16 libclang-rt-16-dev
               llvm-16 xvfb xauth x11-utils dbus dbus-x11 at-spi2-core python3-pyatspi imagemagick poppler-utils
               cups cups-bsd printer-driver-cups-pdf
               dpkg-dev file binutils appstream desktop-file-utils groff-base man-db"

case "${1:-}" in
    run) packages=$run_packages ;;
    test) packages=$test_packages ;;
    *) echo "usage: $0 run|test" >&2; exit 2 ;;
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

#!/bin/sh
# Regenerates every picture in resources/ from the sources in this folder.
#
# Needs Debian's python3 with Pillow (apt-get install python3-pil),
# rsvg-convert (librsvg2-bin) and ImageMagick's convert.
# Usage: resources/src/build.sh [preview-folder]
#   With a preview folder, each pixel drawing is also written there
#   enlarged eight times, for checking by eye.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out=$(dirname "$here")
preview=${1:-}
python=${PYTHON:-/usr/bin/python3}
export PYTHONDONTWRITEBYTECODE=1   # keep __pycache__ out of the source folder
convert=${CONVERT:-/usr/bin/convert}

if [ -n "$preview" ]; then
    mkdir -p "$preview"
fi

cd "$here"
for script in orbelant_pixels binoculars printer floppy refresh question close arrow; do
    "$python" "$script.py" "$out" $preview
done

# Program icon, sizes drawn from the vector source.
icons="$out/icons/hicolor"
for size in 128 256; do
    mkdir -p "$icons/${size}x${size}/apps"
    rsvg-convert -w "$size" -h "$size" orbelant.svg -o "$icons/${size}x${size}/apps/orbelant.png"
done
mkdir -p "$icons/scalable/apps"
cp orbelant.svg "$icons/scalable/apps/orbelant.svg"

# About box picture: the same chart without the icon's empty margin
# (viewBox cut to the outline), 154 x 154, 24 bits per pixel.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sed 's/viewBox="0 0 64 64"/viewBox="2 2 60 60"/' orbelant.svg > "$tmp/about.svg"
rsvg-convert -w 154 -h 154 "$tmp/about.svg" -o "$tmp/about.png"
"$convert" "$tmp/about.png" -background '#1E2833' -alpha remove -alpha off \
    -type TrueColor "BMP3:$out/about.bmp"

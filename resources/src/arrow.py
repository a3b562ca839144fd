"""Search dialog "find" button picture: an arrow pointing right.

An icon with a 32 x 32 and a 16 x 16 image, 16 colours (the standard Windows
palette), transparent around the arrow.  The arrow is a shaft and a triangular head given as
pixel spans, so every edge is a clean pixel step; a black outline and a
lit upper edge are added around the ink.  Writes ../arrow.ico.
"""

import os
import sys

from pixelart import WINDOWS_16, Canvas, write_ico, preview

# Per image size: the shaft and the head, inclusive pixel rows/columns.
SHAPES = {
    32: (dict(left=4, right=16, top=12, bottom=19),
         dict(left=15, tip=28, middle_top=15, middle_bottom=16, half_height=11)),
    16: (dict(left=2, right=8, top=6, bottom=9),
         dict(left=8, tip=14, middle_top=7, middle_bottom=8, half_height=6)),
}

FILL = (0x00, 0x80, 0x00)         # green
FILL_LIGHT = (0x00, 0xFF, 0x00)   # lime
OUTLINE = (0x00, 0x00, 0x00)


def ink_mask(size):
    shaft, head = SHAPES[size]
    mask = [[False] * size for _ in range(size)]
    for y in range(shaft['top'], shaft['bottom'] + 1):
        for x in range(shaft['left'], shaft['right'] + 1):
            mask[y][x] = True
    # The head narrows by one row at each end per column towards the tip.
    top = head['middle_top'] - head['half_height'] + 1
    bottom = head['middle_bottom'] + head['half_height'] - 1
    for x in range(head['left'], head['tip'] + 1):
        for y in range(top, bottom + 1):
            mask[y][x] = True
        top += 1
        bottom -= 1
        if top > bottom:
            break
    return mask


def draw(size):
    mask = ink_mask(size)
    canvas = Canvas(size, size)

    def inked(x, y):
        return 0 <= x < size and 0 <= y < size and mask[y][x]

    for y in range(size):
        for x in range(size):
            if inked(x, y):
                canvas.put(x, y, FILL if inked(x, y - 1) else FILL_LIGHT)
            elif any(inked(x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                canvas.put(x, y, OUTLINE)
    return canvas


def main(resources, preview_dir=None):
    large, small = draw(32), draw(16)
    write_ico(os.path.join(resources, 'arrow.ico'), [(large, 4, WINDOWS_16), (small, 4, WINDOWS_16)])
    if preview_dir:
        preview(os.path.join(preview_dir, 'arrow.png'), large)
        preview(os.path.join(preview_dir, 'arrow-16.png'), small)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)

"""Search dialog "find" button picture: an arrow pointing right.

32 x 32 icon, 16 colours (the standard Windows palette), transparent
around the arrow.  The arrow is a shaft and a triangular head given as
pixel spans, so every edge is a clean pixel step; a black outline and a
lit upper edge are added around the ink.  Writes ../arrow.ico.
"""

import os
import sys

from pixelart import WINDOWS_16, Canvas, write_ico, preview

SIZE = 32
SHAFT = dict(left=4, right=16, top=12, bottom=19)     # inclusive pixel rows/columns
HEAD = dict(left=15, tip=28, middle_top=15, middle_bottom=16, half_height=11)

FILL = (0x00, 0x80, 0x00)         # green
FILL_LIGHT = (0x00, 0xFF, 0x00)   # lime
OUTLINE = (0x00, 0x00, 0x00)


def ink_mask():
    mask = [[False] * SIZE for _ in range(SIZE)]
    for y in range(SHAFT['top'], SHAFT['bottom'] + 1):
        for x in range(SHAFT['left'], SHAFT['right'] + 1):
            mask[y][x] = True
    # The head narrows by one row at each end per column towards the tip.
    top = HEAD['middle_top'] - HEAD['half_height'] + 1
    bottom = HEAD['middle_bottom'] + HEAD['half_height'] - 1
    for x in range(HEAD['left'], HEAD['tip'] + 1):
        for y in range(top, bottom + 1):
            mask[y][x] = True
        top += 1
        bottom -= 1
        if top > bottom:
            break
    return mask


def draw():
    mask = ink_mask()
    canvas = Canvas(SIZE, SIZE)

    def inked(x, y):
        return 0 <= x < SIZE and 0 <= y < SIZE and mask[y][x]

    for y in range(SIZE):
        for x in range(SIZE):
            if inked(x, y):
                canvas.put(x, y, FILL if inked(x, y - 1) else FILL_LIGHT)
            elif any(inked(x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                canvas.put(x, y, OUTLINE)
    return canvas


def main(resources, preview_dir=None):
    canvas = draw()
    write_ico(os.path.join(resources, 'arrow.ico'), [(canvas, 4, WINDOWS_16)])
    if preview_dir:
        preview(os.path.join(preview_dir, 'arrow.png'), canvas)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)

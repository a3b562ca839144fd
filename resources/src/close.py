"""Command6 picture (also the search dialog's close button): a light X on a
blue square.

19 x 21 GIF.  The square is 19 x 19 with a one-pixel bevel (lit upper left,
shaded lower right); the row above and below it is transparent, so the
picture sits on any button colour.  The X strokes are three pixels across
the diagonal.  Writes ../close.gif.
"""

import os
import sys

from pixelart import Canvas, rgb, write_gif, preview

WIDTH, HEIGHT = 19, 21
SQUARE_TOP = 1            # the square covers rows 1..19
SQUARE_SIZE = 19
X_REACH = 4               # the X spans centre +/- 4 pixels

EDGE = rgb('#0A2060')
LIT = rgb('#6C9CF0')
FACE = rgb('#2A5CC8')
SHADE = rgb('#183C90')
CROSS = rgb('#F4F8FF')


def draw():
    canvas = Canvas(WIDTH, HEIGHT)
    top, bottom = SQUARE_TOP, SQUARE_TOP + SQUARE_SIZE - 1
    left, right = 0, SQUARE_SIZE - 1
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x in (left, right) or y in (top, bottom):
                colour = EDGE
            elif x == left + 1 or y == top + 1:
                colour = LIT
            elif x == right - 1 or y == bottom - 1:
                colour = SHADE
            else:
                colour = FACE
            canvas.put(x, y, colour)

    centre_x = (left + right) // 2
    centre_y = (top + bottom) // 2
    for y in range(centre_y - X_REACH, centre_y + X_REACH + 1):
        for x in range(centre_x - X_REACH, centre_x + X_REACH + 1):
            u, v = x - centre_x, y - centre_y
            if abs(u - v) <= 1 or abs(u + v) <= 1:
                canvas.put(x, y, CROSS)
    return canvas


def main(resources, preview_dir=None):
    canvas = draw()
    write_gif(os.path.join(resources, 'close.gif'), canvas)
    if preview_dir:
        preview(os.path.join(preview_dir, 'close.png'), canvas)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)

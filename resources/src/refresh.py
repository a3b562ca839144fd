"""Command4 picture: a curved arrow turning back on itself (refresh).

24 x 23, 8-bit palette BMP on the classic button face (#C0C0C0).  The arrow
is a ring running clockwise from the right round to the top, where a
triangular head points on along the circle.  Shapes are sampled at pixel
centres (4 x 4 samples, a pixel is ink when half of them hit), then given a
one-pixel dark outline, so the result stays crisp.
Writes ../refresh.bmp.
"""

import math
import os
import sys

from pixelart import BUTTON_FACE, Canvas, rgb, write_bmp8, preview

WIDTH, HEIGHT = 24, 23
CENTRE = (11.0, 12.5)
INNER_RADIUS = 5.0
OUTER_RADIUS = 8.2
ARC_START = 15.0          # degrees; y grows downwards, so angles grow clockwise
ARC_END = 270.0            # where the head starts (straight up, so the head points right)
HEAD_LENGTH = 6.5
HEAD_HALF_WIDTH = 4.5

FILL = rgb('#20A030')
FILL_LIGHT = rgb('#70D070')
OUTLINE = rgb('#0C4C14')


def _in_arc(x, y):
    dx, dy = x - CENTRE[0], y - CENTRE[1]
    radius = math.hypot(dx, dy)
    if not INNER_RADIUS <= radius <= OUTER_RADIUS:
        return False
    angle = math.degrees(math.atan2(dy, dx))
    if angle < ARC_START:
        angle += 360.0
    return ARC_START <= angle <= ARC_END


def _head_triangle():
    theta = math.radians(ARC_END)
    middle = (INNER_RADIUS + OUTER_RADIUS) / 2
    base = (CENTRE[0] + middle * math.cos(theta), CENTRE[1] + middle * math.sin(theta))
    radial = (math.cos(theta), math.sin(theta))
    tangent = (-math.sin(theta), math.cos(theta))      # the clockwise direction
    return [
        (base[0] + radial[0] * HEAD_HALF_WIDTH, base[1] + radial[1] * HEAD_HALF_WIDTH),
        (base[0] - radial[0] * HEAD_HALF_WIDTH, base[1] - radial[1] * HEAD_HALF_WIDTH),
        (base[0] + tangent[0] * HEAD_LENGTH, base[1] + tangent[1] * HEAD_LENGTH),
    ]


def _in_triangle(x, y, corners):
    def side(a, b):
        return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0])
    s1, s2, s3 = (side(corners[0], corners[1]), side(corners[1], corners[2]),
                  side(corners[2], corners[0]))
    return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)


def ink_mask():
    head = _head_triangle()
    mask = [[False] * WIDTH for _ in range(HEIGHT)]
    for py in range(HEIGHT):
        for px in range(WIDTH):
            hits = 0
            for sy in range(4):
                for sx in range(4):
                    x, y = px + (sx + 0.5) / 4, py + (sy + 0.5) / 4
                    if _in_arc(x, y) or _in_triangle(x, y, head):
                        hits += 1
            mask[py][px] = hits >= 8
    return mask


def draw():
    mask = ink_mask()
    canvas = Canvas(WIDTH, HEIGHT, BUTTON_FACE)

    def inked(x, y):
        return 0 <= x < WIDTH and 0 <= y < HEIGHT and mask[y][x]

    for y in range(HEIGHT):
        for x in range(WIDTH):
            if inked(x, y):
                # Light falls from the upper left: ink with no ink above-left is lit.
                lit = not inked(x - 1, y - 1) and (not inked(x, y - 1) or not inked(x - 1, y))
                canvas.put(x, y, FILL_LIGHT if lit else FILL)
            elif any(inked(x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                canvas.put(x, y, OUTLINE)
    return canvas


def main(resources, preview_dir=None):
    canvas = draw()
    write_bmp8(os.path.join(resources, 'refresh.bmp'), canvas)
    if preview_dir:
        preview(os.path.join(preview_dir, 'refresh.png'), canvas)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)

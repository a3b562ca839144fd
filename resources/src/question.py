"""Command5 picture: a white question mark in a blue circle (help).

One 32 x 32 design in three depths, all written to ../question.ico:
  * 16 colours: the standard Windows palette, hard pixel edges;
  * 256 colours: smooth edges and a shaded circle, reduced to a palette;
  * 32-bit: the same with real alpha at the rim.
The shapes are drawn once at eight times the size and reduced: by
majority for the 16-colour image, by averaging for the other two.
"""

import os
import sys

from PIL import Image, ImageDraw

from pixelart import WINDOWS_16, Canvas, write_ico, preview

SIZE = 32
SCALE = 8
BIG = SIZE * SCALE

# In 32-pixel units: the circle, and the question mark's hook, stem and dot.
CIRCLE = (1.0, 1.0, 31.0, 31.0)
HOOK_BOX = (10.5, 5.5, 21.5, 16.5)        # the arc's bounding box
HOOK_ANGLES = (195, 450)                   # degrees, clockwise from three o'clock:
                                           # from the left, over the top, down to the stem
STEM = ((16.0, 16.5), (16.0, 20.0))
STROKE = 3.6
DOT = (14.1, 22.3, 17.9, 26.1)

RIM = (0x10, 0x30, 0x90)
TOP_BLUE = (0x60, 0x98, 0xF0)
BOTTOM_BLUE = (0x18, 0x48, 0xC8)
MARK = (0xFF, 0xFF, 0xFF)


def _big(box):
    return tuple(round(value * SCALE) for value in box)


def _mark_mask():
    """The question mark alone, at eight times the size (L mode, 255 = ink)."""
    mask = Image.new('L', (BIG, BIG), 0)
    draw = ImageDraw.Draw(mask)
    width = round(STROKE * SCALE)
    draw.arc(_big(HOOK_BOX), HOOK_ANGLES[0], HOOK_ANGLES[1], fill=255, width=width)
    (x0, y0), (x1, y1) = STEM
    draw.line(_big((x0, y0, x1, y1)), fill=255, width=width)
    draw.ellipse(_big(DOT), fill=255)
    return mask


def _circle_mask(inset=0.0):
    mask = Image.new('L', (BIG, BIG), 0)
    left, top, right, bottom = CIRCLE
    ImageDraw.Draw(mask).ellipse(
        _big((left + inset, top + inset, right - inset, bottom - inset)), fill=255)
    return mask


def smooth_rgba():
    """The shaded picture with soft edges, 32 x 32 RGBA."""
    gradient = Image.new('RGB', (BIG, BIG))
    draw = ImageDraw.Draw(gradient)
    for y in range(BIG):
        t = y / (BIG - 1)
        draw.line((0, y, BIG, y), fill=tuple(
            round(TOP_BLUE[i] * (1 - t) + BOTTOM_BLUE[i] * t) for i in range(3)))
    picture = Image.new('RGB', (BIG, BIG), RIM)
    picture.paste(gradient, (0, 0), _circle_mask(inset=1.2))
    picture.paste(Image.new('RGB', (BIG, BIG), MARK), (0, 0), _mark_mask())
    picture = picture.convert('RGBA')
    picture.putalpha(_circle_mask())
    return picture.resize((SIZE, SIZE), Image.BOX)


def sixteen_colour():
    """Hard-edged version in the Windows palette: navy rim, blue face, white mark."""
    circle = _circle_mask().resize((SIZE, SIZE), Image.BOX)
    mark = _mark_mask().resize((SIZE, SIZE), Image.BOX)
    canvas = Canvas(SIZE, SIZE)

    def inside(x, y):
        return 0 <= x < SIZE and 0 <= y < SIZE and circle.getpixel((x, y)) >= 128

    for y in range(SIZE):
        for x in range(SIZE):
            if not inside(x, y):
                continue
            on_rim = not all(inside(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            if on_rim:
                canvas.put(x, y, (0x00, 0x00, 0x80))
            elif mark.getpixel((x, y)) >= 128:
                canvas.put(x, y, (0xFF, 0xFF, 0xFF))
            else:
                canvas.put(x, y, (0x00, 0x00, 0xFF))
    return canvas


def palette_version(smooth):
    """The smooth picture reduced to at most 255 colours; rim pixels under half
    coverage become transparent, the rest keep their own (unblended) colour."""
    colours = smooth.convert('RGB').quantize(colors=255, method=Image.Quantize.MEDIANCUT)
    canvas = Canvas.from_pil(colours.convert('RGBA'))
    alpha = smooth.getchannel('A')
    for y in range(SIZE):
        for x in range(SIZE):
            if alpha.getpixel((x, y)) < 128:
                canvas.pixels[y][x] = (0, 0, 0, 0)
    return canvas


def main(resources, preview_dir=None):
    smooth = smooth_rgba()
    # Pillow premultiplies alpha while resizing, so the soft rim keeps the
    # rim's own colour instead of fading towards black.
    smooth_canvas = Canvas.from_pil(smooth)
    full = sixteen_colour()
    palette = palette_version(smooth)
    write_ico(os.path.join(resources, 'question.ico'),
              [(full, 4, WINDOWS_16), (palette, 8, None), (smooth_canvas, 32, None)])
    if preview_dir:
        for name, canvas in (('16', full), ('256', palette), ('32bit', smooth_canvas)):
            preview(os.path.join(preview_dir, f'question-{name}.png'), canvas)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)

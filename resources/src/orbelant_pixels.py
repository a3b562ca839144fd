"""Program icon, pixel sizes: a stratigraphic column chart.

A blue band runs across the top; under it an orange strip on the left is
labelled "PZ" (the Palaeozoic) and three stacked bands on the right are the
Carboniferous "C", the Devonian "D" and the Silurian "S" in the colours of
the international chart.  Each pixel size has its own hand-fitted layout so
every edge falls on a whole pixel; 128 px and larger come from orbelant.svg.

Writes ../orbelant.ico (one 64 x 64 image, 8-bit palette) and the hicolor
PNGs of 16, 32, 48 and 64 pixels.
"""

import os
import sys

from pixelart import Canvas, rgb, write_ico, write_png, preview

OUTLINE = rgb('#1E2833')
TOP_BAND = rgb('#3D8FD6')
TOP_BAND_LIGHT = rgb('#7DB8EA')
ERA_STRIP = rgb('#F0902E')
ERA_STRIP_LIGHT = rgb('#F8B870')
CARBONIFEROUS = rgb('#67A599')
DEVONIAN = rgb('#CB8C37')
SILURIAN = rgb('#B3E1B6')
LETTER = rgb('#1E2833')

# Glyphs: '#' is ink.
GLYPHS_5x7 = {
    'P': ['####.', '#...#', '#...#', '####.', '#....', '#....', '#....'],
    'Z': ['#####', '....#', '...#.', '..#..', '.#...', '#....', '#####'],
    'C': ['.###.', '#...#', '#....', '#....', '#....', '#...#', '.###.'],
    'D': ['####.', '#...#', '#...#', '#...#', '#...#', '#...#', '####.'],
    'S': ['.###.', '#...#', '#....', '.###.', '....#', '#...#', '.###.'],
}
GLYPHS_6x9_BOLD = {
    'P': ['#####.', '##..##', '##..##', '##..##', '#####.', '##....', '##....', '##....', '##....'],
    'Z': ['######', '....##', '...##.', '...##.', '..##..', '.##...', '.##...', '##....', '######'],
    'C': ['.####.', '##..##', '##....', '##....', '##....', '##....', '##....', '##..##', '.####.'],
    'D': ['#####.', '##..##', '##..##', '##..##', '##..##', '##..##', '##..##', '##..##', '#####.'],
    'S': ['.####.', '##..##', '##....', '##....', '.####.', '....##', '....##', '##..##', '.####.'],
}
GLYPHS_3x5 = {
    'P': ['##.', '#.#', '##.', '#..', '#..'],
    'Z': ['###', '..#', '.#.', '#..', '###'],
    'C': ['.##', '#..', '#..', '#..', '.##'],
    'D': ['##.', '#.#', '#.#', '#.#', '##.'],
    'S': ['.##', '#..', '.#.', '..#', '##.'],
}

# Per size: outline inset, top band height, strip width, the three band
# heights, and the glyph set (None: too small for letters).  One-pixel
# separator lines sit between all parts, so for each size
#   size - 2*inset - 2 == top + 1 + sum(bands) + 2.
LAYOUTS = {
    16: dict(inset=0, top=2, strip=4, bands=(3, 3, 3), glyphs=None),
    32: dict(inset=1, top=5, strip=9, bands=(6, 7, 7), glyphs=GLYPHS_3x5),
    48: dict(inset=1, top=8, strip=13, bands=(11, 11, 11), glyphs=GLYPHS_5x7),
    64: dict(inset=2, top=10, strip=16, bands=(15, 15, 15), glyphs=GLYPHS_6x9_BOLD),
}


def text_width(text, glyphs):
    return sum(len(glyphs[ch][0]) for ch in text) + len(text) - 1


def draw_text(canvas, text, glyphs, left, top, right, bottom, colour):
    """Centres text in [left, right) x [top, bottom)."""
    height = len(glyphs[text[0]])
    x = left + (right - left - text_width(text, glyphs)) // 2
    y = top + (bottom - top - height) // 2
    for ch in text:
        canvas.stamp(x, y, glyphs[ch], colour)
        x += len(glyphs[ch][0]) + 1


def draw_icon(size):
    layout = LAYOUTS[size]
    inset, top, strip, bands = layout['inset'], layout['top'], layout['strip'], layout['bands']
    inner = size - 2 * inset - 2
    if top + 1 + sum(bands) + 2 != inner:
        raise ValueError(f'layout for {size} does not add up')

    canvas = Canvas(size, size)
    canvas.fill_rect(inset, inset, size - inset, size - inset, OUTLINE)
    left = inset + 1
    right = size - inset - 1
    bottom = size - inset - 1

    # The band across the top, with a lighter first row as a highlight.
    canvas.fill_rect(left, left, right, left + top, TOP_BAND)
    if size >= 32:
        canvas.fill_rect(left, left, right, left + 1, TOP_BAND_LIGHT)

    body_top = left + top + 1
    strip_right = left + strip
    canvas.fill_rect(left, body_top, strip_right, bottom, ERA_STRIP)
    if size >= 32:
        canvas.fill_rect(left, body_top, left + 1, bottom, ERA_STRIP_LIGHT)

    band_left = strip_right + 1
    y = body_top
    for height, colour, letter in zip(bands, (CARBONIFEROUS, DEVONIAN, SILURIAN), 'CDS'):
        canvas.fill_rect(band_left, y, right, y + height, colour)
        if layout['glyphs']:
            draw_text(canvas, letter, layout['glyphs'], band_left, y, right, y + height, LETTER)
        y += height + 1

    if layout['glyphs']:
        draw_text(canvas, 'PZ', layout['glyphs'], left + 1 if size >= 32 else left,
                  body_top, strip_right, bottom, LETTER)
    return canvas


def main(resources, preview_dir=None):
    for size in LAYOUTS:
        canvas = draw_icon(size)
        folder = os.path.join(resources, 'icons', 'hicolor', f'{size}x{size}', 'apps')
        os.makedirs(folder, exist_ok=True)
        write_png(os.path.join(folder, 'orbelant.png'), canvas)
        if size == 64:
            write_ico(os.path.join(resources, 'orbelant.ico'), [(canvas, 8, None)])
        if preview_dir:
            preview(os.path.join(preview_dir, f'orbelant-{size}.png'), canvas, 8)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)

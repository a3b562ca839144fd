"""Command1 picture: binoculars (find).

An icon with a 32 x 32 and a 16 x 16 image, 16 colours (the standard
Windows palette), transparent around the drawing.  Each image is drawn as
its left half; the right half is its mirror, so both barrels match.
Writes ../binoculars.ico.
"""

import os
import sys

from pixelart import WINDOWS_16, Canvas, write_ico, preview

LEGEND = {
    '.': None,                  # transparent
    'K': (0x00, 0x00, 0x00),    # outline
    'D': (0x80, 0x80, 0x80),    # barrel
    'S': (0xC0, 0xC0, 0xC0),    # barrel highlight
    'W': (0xFF, 0xFF, 0xFF),    # glint on the barrel
    'N': (0x00, 0x00, 0x80),    # lens rim
    'B': (0x00, 0x00, 0xFF),    # lens
    'A': (0x00, 0xFF, 0xFF),    # glint on the lens
}

LEFT_HALF_32 = [
    '................',
    '................',
    '...KKKKKKKK.....',
    '..KDSWSDDDDK....',
    '..KDSWSDDDDK....',
    '..KDSWSDDDDK....',
    '..KKKKKKKKKK....',
    '..KDSWSDDDDKKKKK',
    '..KDSWSDDDDKSSSS',
    '.KKKKKKKKKKKKDDD',
    '.KDSSWSDDDDDKDDD',
    '.KDSSWSDDDDDKKKK',
    '.KDSSWSDDDDDK...',
    '.KDSSWSDDDDDK...',
    '.KDSSWSDDDDDK...',
    '.KDSSWSDDDDDK...',
    '.KDSSWSDDDDDK...',
    '.KDSSWSDDDDDK...',
    '.KDSSWSDDDDDK...',
    '.KDSSWSDDDDDK...',
    '.KDSSWSDDDDDK...',
    '.KDSSSSDDDDDK...',
    'KKKKKKKKKKKKKK..',
    'KNNNNNNNNNNNNK..',
    'KNBBAABBBBBBNK..',
    'KNBAABBBBBBBNK..',
    'KNBBBBBBBBBBNK..',
    'KNNNNNNNNNNNNK..',
    '.KKKKKKKKKKKK...',
    '................',
    '................',
    '................',
]

LEFT_HALF_16 = [
    '........',
    '..KKKK..',
    '.KSWDDK.',
    '.KKKKKKK',
    '.KSWDDKS',
    'KKKKKKKD',
    'KSWDDDKK',
    'KSWDDDK.',
    'KSWDDDK.',
    'KSWDDDK.',
    'KSWDDDK.',
    'KKKKKKK.',
    'KNBABNK.',
    'KNBBBNK.',
    '.KKKKK..',
    '........',
]


def mirrored(left_half):
    return [row + row[::-1] for row in left_half]


def main(resources, preview_dir=None):
    large = Canvas.from_art(mirrored(LEFT_HALF_32), LEGEND)
    small = Canvas.from_art(mirrored(LEFT_HALF_16), LEGEND)
    write_ico(os.path.join(resources, 'binoculars.ico'),
              [(large, 4, WINDOWS_16), (small, 4, WINDOWS_16)])
    if preview_dir:
        preview(os.path.join(preview_dir, 'binoculars-32.png'), large)
        preview(os.path.join(preview_dir, 'binoculars-16.png'), small)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)

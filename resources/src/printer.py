"""Command2 picture: a printer with a sheet coming out of it.

24 x 23, 8-bit palette BMP on the classic button face (#C0C0C0).
Writes ../printer.bmp.
"""

import os
import sys

from pixelart import BUTTON_FACE, Canvas, rgb, write_bmp8, preview

LEGEND = {
    '.': BUTTON_FACE,
    'K': rgb('#000000'),   # outline
    'W': rgb('#FFFFFF'),   # paper, lit edges
    'D': rgb('#404040'),   # printed lines
    'L': rgb('#E8E8E8'),   # top of the printer
    's': rgb('#B8B8B8'),   # front of the printer
    'G': rgb('#808080'),   # shaded edges
    'Y': rgb('#00C000'),   # power lamp
}

ART = [
    '........................',
    '......KKKKKKKKKKKK......',
    '......KWWWWWWWWWWK......',
    '......KWDDDDDDDWWK......',
    '......KWWWWWWWWWWK......',
    '......KWDDDDDDDDWK......',
    '......KWWWWWWWWWWK......',
    '......KWDDDDDWWWWK......',
    '....KKKWWWWWWWWWWKKK....',
    '...KLLKKKKKKKKKKKKLLGK..',
    '..KLLLLLLLLLLLLLLLLLGK..',
    '..KKKKKKKKKKKKKKKKKKKK..',
    '..KWWWWWWWWWWWWWWWWWGK..',
    '..KWssssssssssssssYYGK..',
    '..KWssssssssssssssssGK..',
    '..KWssKKKKKKKKKKKKssGK..',
    '..KWssKWWWWWWWWWWKssGK..',
    '..KWssKWDDDDDDWWWKssGK..',
    '..KWssKWWWWWWWWWWKssGK..',
    '..KGGGKWDDDDDDDDWKGGGK..',
    '..KKKKKWWWWWWWWWWKKKKK..',
    '......KWWWWWWWWWWK......',
    '......KKKKKKKKKKKK......',
]


def main(resources, preview_dir=None):
    canvas = Canvas.from_art(ART, LEGEND)
    write_bmp8(os.path.join(resources, 'printer.bmp'), canvas)
    if preview_dir:
        preview(os.path.join(preview_dir, 'printer.png'), canvas)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)

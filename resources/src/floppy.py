"""Command3 picture: a 3.5-inch floppy disk (save).

24 x 23, 8-bit palette BMP on the classic button face (#C0C0C0): a blue
disk with its metal shutter at the top and a white label below.
Writes ../floppy.bmp.
"""

import os
import sys

from pixelart import BUTTON_FACE, Canvas, rgb, write_bmp8, preview

LEGEND = {
    '.': BUTTON_FACE,
    'K': rgb('#000000'),   # outline
    'B': rgb('#2858B0'),   # disk body
    'L': rgb('#5888D8'),   # lit edge of the body
    'b': rgb('#183878'),   # shaded body, shutter window
    'M': rgb('#E0E0E0'),   # metal shutter
    'G': rgb('#909090'),   # shutter shade
    'W': rgb('#FFFFFF'),   # label
    'D': rgb('#7088C0'),   # ruled lines on the label
}

ART = [
    '........................',
    '..KKKKKKKKKKKKKKKKKKK...',
    '..KLLLKMMMMMMMMMMKBBbK..',
    '..KLBBKMMMMbbMMMGKBBBbK.',
    '..KLBBKMMMMbbMMMGKBBBbK.',
    '..KLBBKMMMMbbMMMGKBBBbK.',
    '..KLBBKMMMMbbMMMGKBBBbK.',
    '..KLBBKGGGGGGGGGGKBBBbK.',
    '..KLBBBKKKKKKKKKKBBBBbK.',
    '..KLBBBBBBBBBBBBBBBBBbK.',
    '..KLBBBBBBBBBBBBBBBBBbK.',
    '..KLBKKKKKKKKKKKKKKBBbK.',
    '..KLBKWWWWWWWWWWWWKBBbK.',
    '..KLBKWDDDDDDDDDDWKBBbK.',
    '..KLBKWWWWWWWWWWWWKBBbK.',
    '..KLBKWDDDDDDDDDDWKBBbK.',
    '..KLBKWWWWWWWWWWWWKBBbK.',
    '..KLBKWDDDDDDDDDDWKBBbK.',
    '..KLBKWWWWWWWWWWWWKBBbK.',
    '..KbBKWWWWWWWWWWWWKBBbK.',
    '..KbbKWWWWWWWWWWWWKbbbK.',
    '..KKKKKKKKKKKKKKKKKKKKK.',
    '........................',
]


def main(resources, preview_dir=None):
    canvas = Canvas.from_art(ART, LEGEND)
    write_bmp8(os.path.join(resources, 'floppy.bmp'), canvas)
    if preview_dir:
        preview(os.path.join(preview_dir, 'floppy.png'), canvas)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)

"""Small pixel-art helpers shared by the drawing scripts in this folder.

A picture is a Canvas: a grid of RGBA tuples.  Pixel art is written as rows
of characters with a legend that maps each character to a colour, so a
reviewer can read the drawing straight from the script.  The writers produce
the classic Windows formats byte by byte (ICO with palette or 32-bit images
and an AND mask, BMP with an 8-bit palette or 24-bit pixels), because the
formats and colour depths of the program's pictures are fixed.
"""

import struct

TRANSPARENT = (0, 0, 0, 0)

# The 16 colours of the standard Windows palette, used by every 4-bit image.
WINDOWS_16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

BUTTON_FACE = (0xC0, 0xC0, 0xC0)


def rgb(hex_text):
    """'#RRGGBB' -> (r, g, b, 255)."""
    value = hex_text.lstrip('#')
    return (int(value[0:2], 16), int(value[2:4], 16), int(value[4:6], 16), 255)


def opaque(colour):
    return colour if len(colour) == 4 else (colour[0], colour[1], colour[2], 255)


class Canvas:
    def __init__(self, width, height, fill=TRANSPARENT):
        self.width = width
        self.height = height
        self.pixels = [[opaque(fill) if fill != TRANSPARENT else TRANSPARENT
                        for _ in range(width)] for _ in range(height)]

    @classmethod
    def from_art(cls, rows, legend):
        """Builds a canvas from equal-length text rows; legend maps char -> colour."""
        height = len(rows)
        width = len(rows[0])
        canvas = cls(width, height)
        for y, row in enumerate(rows):
            if len(row) != width:
                raise ValueError(f'row {y} is {len(row)} wide, expected {width}: {row!r}')
            for x, char in enumerate(row):
                if char not in legend:
                    raise ValueError(f'no colour for {char!r} at ({x}, {y})')
                colour = legend[char]
                canvas.pixels[y][x] = TRANSPARENT if colour is None else opaque(colour)
        return canvas

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = opaque(colour)

    def fill_rect(self, left, top, right, bottom, colour):
        """Fills the half-open rectangle [left, right) x [top, bottom)."""
        for y in range(top, bottom):
            for x in range(left, right):
                self.put(x, y, colour)

    def stamp(self, left, top, rows, colour):
        """Draws every '#' of a glyph or small mask at (left, top)."""
        for dy, row in enumerate(rows):
            for dx, char in enumerate(row):
                if char == '#':
                    self.put(left + dx, top + dy, colour)

    def colours(self):
        """Distinct opaque colours, in first-seen order."""
        seen = []
        for row in self.pixels:
            for pixel in row:
                if pixel[3] and pixel[:3] not in seen:
                    seen.append(pixel[:3])
        return seen

    def to_pil(self):
        from PIL import Image
        image = Image.new('RGBA', (self.width, self.height))
        image.putdata([pixel for row in self.pixels for pixel in row])
        return image

    @classmethod
    def from_pil(cls, image):
        image = image.convert('RGBA')
        canvas = cls(image.width, image.height)
        data = list(image.getdata())
        for y in range(image.height):
            canvas.pixels[y] = data[y * image.width:(y + 1) * image.width]
        return canvas


# ---------------------------------------------------------------- palettes

def build_palette(canvas, size, base=None):
    """A palette of exactly `size` entries holding every colour of the canvas.

    `base` (for example WINDOWS_16) is used as is and must already hold every
    colour; otherwise the canvas colours come first and black pads the rest.
    """
    colours = canvas.colours()
    if base is not None:
        missing = [c for c in colours if c not in base]
        if missing:
            raise ValueError(f'colours outside the fixed palette: {missing}')
        palette = list(base)
    else:
        palette = [(0, 0, 0)] + [c for c in colours if c != (0, 0, 0)]
    if len(palette) > size:
        raise ValueError(f'{len(palette)} colours do not fit a palette of {size}')
    return palette + [(0, 0, 0)] * (size - len(palette))


def _row_padding(byte_count):
    return b'\0' * ((4 - byte_count % 4) % 4)


def _pack_indices(indices, bits):
    """Packs palette indices (one row) into bytes, most significant bits first."""
    if bits == 8:
        data = bytes(indices)
    elif bits == 4:
        padded = list(indices) + [0] * (len(indices) % 2)
        data = bytes((padded[i] << 4) | padded[i + 1] for i in range(0, len(padded), 2))
    else:
        raise ValueError(f'unsupported depth {bits}')
    return data + _row_padding(len(data))


def _and_mask_rows(canvas):
    rows = []
    for y in reversed(range(canvas.height)):
        bits = [1 if canvas.pixels[y][x][3] < 128 else 0 for x in range(canvas.width)]
        bits += [0] * ((8 - len(bits) % 8) % 8)
        data = bytes(sum(bit << (7 - i) for i, bit in enumerate(bits[n:n + 8]))
                     for n in range(0, len(bits), 8))
        rows.append(data + _row_padding(len(data)))
    return b''.join(rows)


def _info_header(width, height, bits, image_bytes, colours_used):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0,
                       image_bytes, 0, 0, colours_used, 0)


def _palette_bytes(palette):
    return b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in palette)


# ---------------------------------------------------------------- ICO

def _ico_image(canvas, bits, base_palette=None):
    """One icon image: BITMAPINFOHEADER (double height), palette, XOR and AND bitmaps."""
    if bits == 32:
        xor = b''.join(
            b''.join(struct.pack('BBBB', p[2], p[1], p[0], p[3]) if p[3] else b'\0\0\0\0'
                     for p in canvas.pixels[y])
            for y in reversed(range(canvas.height)))
        palette = b''
    else:
        entries = build_palette(canvas, 1 << bits, base_palette)
        lookup = {colour: index for index, colour in reversed(list(enumerate(entries)))}
        # Transparent pixels are index 0 (black), so the screen shows through the mask.
        xor = b''.join(
            _pack_indices([lookup[p[:3]] if p[3] >= 128 else 0 for p in canvas.pixels[y]], bits)
            for y in reversed(range(canvas.height)))
        palette = _palette_bytes(entries)
    mask = _and_mask_rows(canvas)
    header = _info_header(canvas.width, canvas.height * 2, bits, len(xor) + len(mask),
                          0 if bits == 32 else 1 << bits)
    return header + palette + xor + mask


def write_ico(path, images):
    """images: list of (canvas, bits, base_palette or None)."""
    blobs = [_ico_image(canvas, bits, base) for canvas, bits, base in images]
    offset = 6 + 16 * len(images)
    directory = struct.pack('<HHH', 0, 1, len(images))
    for (canvas, bits, _), blob in zip(images, blobs):
        directory += struct.pack('<BBBBHHII',
                                 canvas.width % 256, canvas.height % 256,
                                 (1 << bits) if bits < 8 else 0, 0, 1, bits,
                                 len(blob), offset)
        offset += len(blob)
    with open(path, 'wb') as out:
        out.write(directory + b''.join(blobs))


# ---------------------------------------------------------------- BMP

def _bmp_file(pixel_bytes, header_and_palette):
    offset = 14 + len(header_and_palette)
    return (struct.pack('<2sIHHI', b'BM', offset + len(pixel_bytes), 0, 0, offset)
            + header_and_palette + pixel_bytes)


def write_bmp8(path, canvas):
    """8-bit palette BMP (256 entries); the canvas must be fully opaque."""
    _require_opaque(canvas)
    entries = build_palette(canvas, 256)
    lookup = {colour: index for index, colour in reversed(list(enumerate(entries)))}
    pixel_bytes = b''.join(_pack_indices([lookup[p[:3]] for p in canvas.pixels[y]], 8)
                           for y in reversed(range(canvas.height)))
    header = _info_header(canvas.width, canvas.height, 8, len(pixel_bytes), 256)
    with open(path, 'wb') as out:
        out.write(_bmp_file(pixel_bytes, header + _palette_bytes(entries)))


def write_bmp24(path, canvas):
    _require_opaque(canvas)
    rows = []
    for y in reversed(range(canvas.height)):
        data = b''.join(struct.pack('BBB', p[2], p[1], p[0]) for p in canvas.pixels[y])
        rows.append(data + _row_padding(len(data)))
    pixel_bytes = b''.join(rows)
    header = _info_header(canvas.width, canvas.height, 24, len(pixel_bytes), 0)
    with open(path, 'wb') as out:
        out.write(_bmp_file(pixel_bytes, header))


def _require_opaque(canvas):
    for y, row in enumerate(canvas.pixels):
        for x, pixel in enumerate(row):
            if pixel[3] != 255:
                raise ValueError(f'BMP pixel ({x}, {y}) is not opaque')


# ---------------------------------------------------------------- PNG and GIF

def write_png(path, canvas):
    canvas.to_pil().save(path, optimize=True)


def write_gif(path, canvas):
    """Palette GIF; fully transparent pixels become the transparent index 0."""
    from PIL import Image
    # Index 0 is kept free for transparency; the canvas colours follow.
    used = canvas.colours()
    table = [(255, 0, 255)] + used
    table += [(0, 0, 0)] * (256 - len(table))
    lookup = {colour: index + 1 for index, colour in enumerate(used)}
    image = Image.new('P', (canvas.width, canvas.height))
    image.putpalette([channel for colour in table for channel in colour])
    image.putdata([lookup[p[:3]] if p[3] >= 128 else 0
                   for row in canvas.pixels for p in row])
    has_transparency = any(p[3] < 128 for row in canvas.pixels for p in row)
    if has_transparency:
        image.save(path, transparency=0, optimize=False)
    else:
        image.save(path, optimize=False)


def preview(path, canvas, scale=8, backdrop=(0xE8, 0xE0, 0xF0)):
    """An enlarged PNG for inspection; transparency shows as a checkerboard."""
    from PIL import Image
    image = Image.new('RGB', (canvas.width * scale, canvas.height * scale))
    for y, row in enumerate(canvas.pixels):
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                colour = backdrop if (x + y) % 2 else (0xFF, 0xFF, 0xFF)
            else:
                a = pixel[3] / 255
                colour = tuple(round(pixel[i] * a + 255 * (1 - a)) for i in range(3))
            for dy in range(scale):
                for dx in range(scale):
                    image.putpixel((x * scale + dx, y * scale + dy), colour)
    image.save(path)

#!/usr/bin/env python3
"""Draws the program's icon file: two 16-colour images, 32x32 and 16x16.

The same arguments always give the same bytes, so the build stays
reproducible. Usage: make_icons.py OUTPUT.ico [--host]
--host draws the product's main program icon instead of the setup's.
"""
import struct
import sys

# The standard 16-colour palette.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]  # (r, g, b)
BLACK, MAROON, NAVY, GREY, SILVER, RED, YELLOW, BLUE, WHITE, TEAL = 0, 1, 4, 8, 7, 9, 11, 12, 15, 6
CLEAR = None


# Colour names a module's description may use for its book's band.
COLOURS = {"black": BLACK, "maroon": MAROON, "navy": NAVY, "grey": GREY, "silver": SILVER,
           "red": RED, "yellow": YELLOW, "blue": BLUE, "white": WHITE, "teal": TEAL}
GERMAN_BAND = (BLACK, RED, YELLOW)


def dictionary(size, band=GERMAN_BAND):
    """A closed book with a band of three colours across its cover (the
    German module's is black, red and gold)."""
    s = size / 32.0
    pixels = [[CLEAR] * size for _ in range(size)]
    left, right = int(5 * s), int(27 * s)
    top, bottom = int(3 * s), int(29 * s)
    for y in range(top, bottom):
        for x in range(left, right):
            if x < left + max(1, int(3 * s)):
                colour = NAVY  # spine
            elif x >= right - max(1, int(2 * s)) and y > top + 1:
                colour = WHITE  # page edges
            else:
                colour = BLUE
            pixels[y][x] = colour
    stripe = max(1, int(2 * s))
    for i, colour in enumerate(band):
        for y in range(int(12 * s) + i * stripe, int(12 * s) + (i + 1) * stripe):
            for x in range(left + max(1, int(3 * s)), right - max(1, int(2 * s))):
                pixels[y][x] = colour
    for y in range(top, bottom):  # outline
        pixels[y][left] = BLACK
        pixels[y][right - 1] = BLACK
    for x in range(left, right):
        pixels[top][x] = BLACK
        pixels[bottom - 1][x] = BLACK
    return pixels


def host(size):
    """A teal disc with a white ring: the product's main program."""
    pixels = [[CLEAR] * size for _ in range(size)]
    c = (size - 1) / 2.0
    outer, ring_out, ring_in = size * 0.47, size * 0.34, size * 0.22
    for y in range(size):
        for x in range(size):
            d = ((x - c) ** 2 + (y - c) ** 2) ** 0.5
            if d <= outer:
                pixels[y][x] = WHITE if ring_in <= d <= ring_out else TEAL
    return pixels


def image(pixels):
    """One icon image: header, palette, 4-bit colours and the 1-bit mask."""
    size = len(pixels)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor_rows, and_rows = [], []
    for row in reversed(pixels):  # bitmaps are stored bottom-up
        nibbles = [0 if p is None else p for p in row]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(data + b'\0' * (-len(data) % 4))
        bits = 0
        mask = bytearray()
        for i, p in enumerate(row):
            bits = (bits << 1) | (1 if p is None else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b'\0' * (-len(mask) % 4))
    return header + palette + b''.join(xor_rows) + b''.join(and_rows)


def icon_file(draw):
    images = [(32, image(draw(32))), (16, image(draw(16)))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


def main(argv):
    if len(argv) not in (2, 3) or (len(argv) == 3 and argv[2] != '--host'):
        sys.stderr.write('usage: make_icons.py OUTPUT.ico [--host]\n')
        return 2
    draw = host if len(argv) == 3 else dictionary
    with open(argv[1], 'wb') as f:
        f.write(icon_file(draw))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Draws the sample card picture: a 1-bit BMP of 480 x 300 pixels.

Palette index 0 is white (no ink), index 1 black (ink), the way the machine
reads a picture. The card carries a double frame, the clinic's name in block
letters, a small emblem, a title line and a bar strip along the bottom edge.
Standard library only.

    scripts/make-card-bmp.py [OUT]      (default: examples/card.bmp)
"""
import os
import struct
import sys

WIDTH, HEIGHT = 480, 300

# 5 x 7 block letters, one string per row, '#' = ink.
FONT = {
    "A": [" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"],
    "C": [" ####", "#    ", "#    ", "#    ", "#    ", "#    ", " ####"],
    "D": ["#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "],
    "E": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"],
    "I": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "#####"],
    "K": ["#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"],
    "L": ["#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"],
    "N": ["#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"],
    "P": ["#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "],
    "R": ["#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"],
    "T": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "],
    " ": ["     "] * 7,
}


def blank():
    return [[0] * WIDTH for _ in range(HEIGHT)]


def rect(pix, x0, y0, x1, y1):
    """Fills the rectangle x0..x1-1, y0..y1-1 with ink."""
    for y in range(max(0, y0), min(HEIGHT, y1)):
        row = pix[y]
        for x in range(max(0, x0), min(WIDTH, x1)):
            row[x] = 1


def frame(pix, inset, thick):
    rect(pix, inset, inset, WIDTH - inset, inset + thick)
    rect(pix, inset, HEIGHT - inset - thick, WIDTH - inset, HEIGHT - inset)
    rect(pix, inset, inset, inset + thick, HEIGHT - inset)
    rect(pix, WIDTH - inset - thick, inset, WIDTH - inset, HEIGHT - inset)


def text(pix, x, y, s, scale):
    """Block letters with their top left corner at x, y; returns the end x."""
    for ch in s:
        glyph = FONT[ch]
        for gy, line in enumerate(glyph):
            for gx, cell in enumerate(line):
                if cell == "#":
                    rect(pix, x + gx * scale, y + gy * scale, x + (gx + 1) * scale, y + (gy + 1) * scale)
        x += 6 * scale
    return x


def text_width(s, scale):
    return len(s) * 6 * scale - scale


def emblem(pix, cx, cy, r):
    """A ring with a cross inside: the clinic's mark."""
    for y in range(cy - r, cy + r + 1):
        for x in range(cx - r, cx + r + 1):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if (r - 4) ** 2 <= d2 <= r * r:
                rect(pix, x, y, x + 1, y + 1)
    arm, half = r - 10, 5
    rect(pix, cx - half, cy - arm, cx + half + 1, cy + arm + 1)
    rect(pix, cx - arm, cy - half, cx + arm + 1, cy + half + 1)


def bars(pix, x0, x1, y0, y1):
    """A bar strip: widths taken from a fixed bit sequence, so it never changes."""
    seed = 0x5EED
    x = x0
    ink = True
    while x < x1:
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        w = 2 + (seed >> 16) % 5
        if ink:
            rect(pix, x, y0, min(x + w, x1), y1)
        x += w
        ink = not ink


def draw():
    pix = blank()
    frame(pix, 0, 4)
    frame(pix, 9, 2)
    emblem(pix, 62, 70, 34)
    name = "KAEDE CLINIC"
    text(pix, 116, 56, name, 4)
    title = "PATIENT CARD"
    text(pix, (WIDTH - text_width(title, 3)) // 2, 130, title, 3)
    rect(pix, 40, 168, WIDTH - 40, 170)      # rule under the title
    rect(pix, 40, 200, 200, 201)             # lines left free for handwriting
    rect(pix, 40, 228, 200, 229)
    bars(pix, 40, WIDTH - 40, 245, 280)
    return pix


def bmp_bytes(pix):
    stride = ((WIDTH + 7) // 8 + 3) // 4 * 4
    palette = bytes([0xFF, 0xFF, 0xFF, 0x00,   # index 0: white, no ink
                     0x00, 0x00, 0x00, 0x00])  # index 1: black, ink
    offset = 14 + 40 + len(palette)
    size = offset + stride * HEIGHT
    head = b"BM" + struct.pack("<IHHI", size, 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 1, 0, stride * HEIGHT, 2835, 2835, 2, 2)
    rows = bytearray()
    for y in range(HEIGHT - 1, -1, -1):  # the file keeps the bottom row first
        row = bytearray(stride)
        for x, v in enumerate(pix[y]):
            if v:
                row[x >> 3] |= 0x80 >> (x & 7)
        rows += row
    return head + info + palette + bytes(rows)


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "examples", "card.bmp")
    data = bmp_bytes(draw())
    with open(out, "wb") as f:
        f.write(data)
    print(f"{out}: {WIDTH} x {HEIGHT} pixels, 1 bit per pixel, {len(data)} bytes")


if __name__ == "__main__":
    main()

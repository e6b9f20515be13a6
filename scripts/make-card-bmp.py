#!/usr/bin/env python3
"""Makes card pictures: 1-bit BMP files with ink at palette index 1.

Palette index 0 is white (no ink), index 1 black (ink), the way the machine
reads a picture; it takes at most 480 x 512 pixels. Standard library only.

    scripts/make-card-bmp.py [OUT]
        draws the sample card, 480 x 300 pixels (default OUT: examples/card.bmp):
        a double frame, the clinic's name in block letters, a small emblem, a
        title line and a bar strip along the bottom edge.

    scripts/make-card-bmp.py --from-png IN.png OUT.bmp [--threshold N]
        turns a PNG (not interlaced; grey, RGB, palette, with or without alpha)
        into a card picture: a pixel darker than N (0-255, default 128) is ink,
        a transparent one is not (alpha below 128, or the colour a tRNS chunk
        names in a grey or RGB picture).
"""
import os
import struct
import sys
import zlib

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


def bmp_bytes(pix, width=WIDTH, height=HEIGHT):
    stride = ((width + 7) // 8 + 3) // 4 * 4
    palette = bytes([0xFF, 0xFF, 0xFF, 0x00,   # index 0: white, no ink
                     0x00, 0x00, 0x00, 0x00])  # index 1: black, ink
    offset = 14 + 40 + len(palette)
    size = offset + stride * height
    head = b"BM" + struct.pack("<IHHI", size, 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0, stride * height, 2835, 2835, 2, 2)
    rows = bytearray()
    for y in range(height - 1, -1, -1):  # the file keeps the bottom row first
        row = bytearray(stride)
        for x, v in enumerate(pix[y]):
            if v:
                row[x >> 3] |= 0x80 >> (x & 7)
        rows += row
    return head + info + palette + bytes(rows)


def png_rows(path):
    """Decodes a PNG into rows of (grey 0-255, alpha 0-255) pixels."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, palette, trns = 8, bytearray(), None, None
    width = height = depth = ctype = None
    while pos + 8 <= len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if interlace:
                raise ValueError("interlaced PNG files are not read; save it without interlace")
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"tRNS":
            trns = body
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    if width is None:
        raise ValueError("no IHDR chunk")
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    bits = channels * depth
    stride = (width * bits + 7) // 8
    bpp = max(1, bits // 8)
    raw = zlib.decompress(bytes(idat))
    rows, prev = [], bytearray(stride)
    for y in range(height):
        base = y * (stride + 1)
        ftype, line = raw[base], bytearray(raw[base + 1:base + 1 + stride])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 0xFF
            elif ftype == 2:
                line[i] = (line[i] + b) & 0xFF
            elif ftype == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        prev = line
        rows.append([pixel(line, x, depth, ctype, palette, trns) for x in range(width)])
    return width, height, rows


def sample(line, index, depth):
    """Sample number `index` of a row as stored: 0 to 2**depth - 1."""
    if depth == 8:
        return line[index]
    if depth == 16:
        return line[2 * index] << 8 | line[2 * index + 1]
    per = 8 // depth
    return (line[index // per] >> (8 - depth * (index % per + 1))) & ((1 << depth) - 1)


def to_byte(value, depth):
    """A stored sample scaled to 0-255."""
    if depth == 16:
        return value >> 8
    return value * (255 // ((1 << depth) - 1))


def colour_key(ctype, trns):
    """The one colour that a tRNS chunk makes transparent in a grey (type 0)
    or RGB (type 2) picture, as stored samples; None when there is none."""
    if trns is None:
        return None
    if ctype == 0 and len(trns) >= 2:
        return struct.unpack(">H", trns[:2])
    if ctype == 2 and len(trns) >= 6:
        return struct.unpack(">3H", trns[:6])
    return None


def pixel(line, x, depth, ctype, palette, trns):
    """(grey 0-255, alpha 0-255) of pixel x of a row."""
    if ctype == 3:
        idx = sample(line, x, depth)
        r, g, b = palette[idx]
        alpha = trns[idx] if trns is not None and idx < len(trns) else 255
        return (r * 299 + g * 587 + b * 114) // 1000, alpha
    n = {0: 1, 4: 2, 2: 3, 6: 4}[ctype]
    raw = [sample(line, x * n + k, depth) for k in range(n)]
    if ctype in (4, 6):
        alpha = to_byte(raw.pop(), depth)
    else:
        # A colour key: the pixels of exactly that stored colour are transparent.
        alpha = 0 if tuple(raw) == colour_key(ctype, trns) else 255
    if ctype in (0, 4):
        r = g = b = to_byte(raw[0], depth)
    else:
        r, g, b = (to_byte(v, depth) for v in raw)
    return (r * 299 + g * 587 + b * 114) // 1000, alpha


def from_png(src, dst, threshold):
    width, height, rows = png_rows(src)
    if width > 480 or height > 512:
        raise ValueError(f"{width} x {height} pixels; the machine takes at most 480 x 512")
    pix = [[1 if a >= 128 and g < threshold else 0 for g, a in row] for row in rows]
    data = bmp_bytes(pix, width, height)
    with open(dst, "wb") as f:
        f.write(data)
    inked = sum(map(sum, pix))
    print(f"{dst}: {width} x {height} pixels, 1 bit per pixel, {inked} pixels of ink")


def main():
    args = sys.argv[1:]
    if args and args[0] == "--from-png":
        if len(args) not in (3, 5) or (len(args) == 5 and args[3] != "--threshold"):
            sys.exit("usage: make-card-bmp.py --from-png IN.png OUT.bmp [--threshold N]")
        try:
            from_png(args[1], args[2], int(args[4]) if len(args) == 5 else 128)
        except (OSError, ValueError, KeyError, zlib.error) as e:
            sys.exit(f"make-card-bmp.py: {args[1]}: {e}")
        return
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = args[0] if args else os.path.join(top, "examples", "card.bmp")
    data = bmp_bytes(draw())
    with open(out, "wb") as f:
        f.write(data)
    print(f"{out}: {WIDTH} x {HEIGHT} pixels, 1 bit per pixel, {len(data)} bytes")


if __name__ == "__main__":
    main()

#!/usr/bin/env bash
# scripts/make-card-bmp.py --from-png: which pixels of a PNG become ink. A
# pixel is ink when it is dark and not transparent; a tRNS colour key makes
# the pixels of exactly its colour transparent in grey and RGB pictures.
here=$(cd "$(dirname "$0")" && pwd)
exec python3 - "${VESTRUN_SOURCE_DIR:-$here/..}/scripts/make-card-bmp.py" <<'PY'
import os, struct, subprocess, sys, tempfile, zlib

def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

def png(ctype, depth, pixels, trns):
    """One row of pixels, each a tuple of stored samples, packed MSB first."""
    bits = "".join(format(v, "0%db" % depth) for px in pixels for v in px)
    row = int(bits + "0" * (-len(bits) % 8), 2).to_bytes((len(bits) + 7) // 8, "big")
    head = chunk(b"IHDR", struct.pack(">IIBBBBB", len(pixels), 1, depth, ctype, 0, 0, 0))
    return b"\x89PNG\r\n\x1a\n" + head + (chunk(b"tRNS", trns) if trns else b"") + \
        chunk(b"IDAT", zlib.compress(b"\x00" + row)) + chunk(b"IEND", b"")

H16 = lambda *v: struct.pack(">%dH" % len(v), *v)
cases = [  # what, colour type, bit depth, pixels, tRNS, ink wanted
    ("grey 8: no key, black and white", 0, 8, [(0,), (255,)], None, [1, 0]),
    ("grey 8: black keyed", 0, 8, [(0,), (0x40,), (255,)], H16(0), [0, 1, 0]),
    ("grey 16: the key is the whole sample", 0, 16, [(0,), (1,), (0xFFFF,)], H16(0), [0, 1, 0]),
    ("grey 2: key 1 (dark grey)", 0, 2, [(0,), (1,), (3,)], H16(1), [1, 0, 0]),
    ("RGB 8: black keyed, near-black not", 2, 8, [(0, 0, 0), (0, 0, 1), (255, 255, 255)], H16(0, 0, 0), [0, 1, 0]),
    ("RGB 16: key on blue only", 2, 16, [(0, 0, 1), (0, 0, 0)], H16(0, 0, 1), [0, 1]),
]
failed = 0
with tempfile.TemporaryDirectory() as tmp:
    src, dst = os.path.join(tmp, "in.png"), os.path.join(tmp, "out.bmp")
    for what, ctype, depth, pixels, trns, want in cases:
        open(src, "wb").write(png(ctype, depth, pixels, trns))
        run = subprocess.run([sys.executable, sys.argv[1], "--from-png", src, dst], capture_output=True, text=True)
        bmp = open(dst, "rb").read() if run.returncode == 0 else b""
        row = bmp[struct.unpack_from("<I", bmp, 10)[0]:] if bmp else b""
        got = [row[x >> 3] >> (7 - (x & 7)) & 1 for x in range(len(pixels))] if bmp else run.stderr.strip()
        failed += got != want
        print(("ok   %s" if got == want else "FAIL %s: ink %s, wanted %s") % ((what,) if got == want else (what, got, want)))
sys.exit(1 if failed else 0)
PY

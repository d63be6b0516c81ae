#!/usr/bin/python3
"""Writes small GIFs, byte by byte, of the cases where readers differ: frames without a graphic
control extension after one with a transparent colour, frames smaller than the screen, every
disposal. Beside each NAME.gif, NAME.rgba: b"N\\n", then per frame b"W H\\n" and the RGBA bytes a
browser shows at that frame (pixels no frame covers, and areas disposed to the background, are
transparent). Prints one line per file: its name, then "pillow" when Pillow 9.4 composes the same
frames, or "own" when it does not (it fills the background with the background colour where a
browser leaves it transparent). Only Python's own struct: no decoder involved.
Usage: gifsuite.py DIR"""
import os
import struct
import sys

W, H = 6, 4
PALETTE = [(201, 13, 7), (3, 187, 61), (29, 41, 253), (250, 250, 249)]  # red, green, blue, white
RED, GREEN, BLUE, WHITE = range(4)
LOCAL = [(17, 99, 143), (211, 171, 5), (77, 7, 131), (1, 2, 3)]


def lzw(indices, min_size):
    """Literal codes only, the table cleared before it fills, widths as a decoder grows them."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, acc, nbits = bytearray(), 0, 0
    size, nxt, first = min_size + 1, clear + 2, True

    def put(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    put(clear)
    for i in indices:
        put(i)
        if first:
            first = False
            continue
        nxt += 1
        if nxt == (1 << size) and size < 12:
            size += 1
        if nxt >= 4000:
            put(clear)
            size, nxt, first = min_size + 1, clear + 2, True
    put(end)
    if nbits:
        out.append(acc & 0xFF)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + bytes(out[i:i + 255]) for i in range(0, len(out), 255))
    return bytes([min_size]) + blocks + b"\0"


def frame(rect, pixels, gce=None, local=None, interlaced=False):
    """rect: (x, y, w, h); pixels: row-major indices; gce: (disposal, transparent index or None)."""
    x, y, w, h = rect
    out = b""
    if gce is not None:
        disposal, transparent = gce
        flags = disposal << 2 | (1 if transparent is not None else 0)
        out += b"\x21\xf9\x04" + struct.pack("<BHB", flags, 10, transparent or 0) + b"\0"
    flags = (0x80 | 1 if local else 0) | (0x40 if interlaced else 0)
    out += b"\x2c" + struct.pack("<HHHHB", x, y, w, h, flags)
    if local:
        out += bytes(v for c in local for v in c)
    rows = [pixels[r * w:(r + 1) * w] for r in range(h)]
    if interlaced:
        order = list(range(0, h, 8)) + list(range(4, h, 8)) + list(range(2, h, 4)) + list(range(1, h, 2))
        rows = [rows[r] for r in order]
    return out + lzw([i for row in rows for i in row], 2)


def gif(frames, background=WHITE):
    head = b"GIF89a" + struct.pack("<HHBBB", W, H, 0x80 | 0x70 | 1, background, 0)
    return head + bytes(v for c in PALETTE for v in c) + b"".join(f[0] for f in frames) + b";"


def shown(frames):
    """The frames as a browser shows them, from the same description the file was written from."""
    screen = [(0, 0, 0, 0)] * (W * H)
    out, dispose = [], None
    for _, rect, pixels, gce, local in frames:
        if dispose:
            (dx, dy, dw, dh), method, saved = dispose
            for yy in range(dy, min(dy + dh, H)):
                for xx in range(dx, min(dx + dw, W)):
                    screen[yy * W + xx] = (0, 0, 0, 0) if method == 2 else saved[yy * W + xx]
        disposal, transparent = gce if gce else (0, None)
        dispose = (rect, disposal, list(screen)) if disposal in (2, 3) else None
        x, y, w, h = rect
        palette = local or PALETTE
        for r in range(h):
            for c in range(w):
                i = pixels[r * w + c]
                if i != transparent and x + c < W and y + r < H:
                    screen[(y + r) * W + x + c] = palette[i] + (255,)
        out.append(bytes(v for p in screen for v in p))
    return out


def f(rect, pixels, gce=None, local=None, interlaced=False):
    return (frame(rect, pixels, gce, local, interlaced), rect, pixels, gce, local)


FULL = (0, 0, W, H)
CASES = {
    # A frame without its own control extension takes none of the one before: all red.
    "no-control-after-transparent": ("pillow", [f(FULL, [RED, GREEN] * 12, (1, RED)), f(FULL, [RED] * 24)]),
    # Drawn where its transparent colour is not, over what the frame before left.
    "transparent-over-earlier": ("pillow", [f(FULL, [BLUE] * 24, (1, None)), f(FULL, [RED, GREEN, GREEN] * 8, (1, RED))]),
    "first-frame-smaller": ("own", [f((1, 1, 3, 2), [BLUE] * 6)]),
    "first-frame-smaller-with-transparent-colour": ("pillow", [f((1, 1, 3, 2), [BLUE, GREEN, BLUE] * 2, (0, GREEN))]),
    "dispose-to-background": ("own", [f(FULL, [GREEN] * 24, (2, None)), f((0, 0, 2, 2), [RED] * 4)]),
    "dispose-to-background-with-transparent-colour": ("pillow", [f(FULL, [GREEN, BLUE] * 12, (2, WHITE)), f((0, 0, 2, 2), [RED] * 4)]),
    "dispose-to-previous": ("pillow", [f(FULL, [GREEN] * 24, (1, None)), f((1, 1, 2, 2), [RED] * 4, (3, None)),
                                       f((4, 0, 2, 1), [BLUE] * 2)]),
    "frame-past-the-screen": ("pillow", [f(FULL, [BLUE] * 24), f((4, 2, 4, 4), [RED, GREEN] * 8)]),
    "local-colour-table": ("pillow", [f(FULL, [0, 1, 2, 3] * 6, local=LOCAL)]),
    "interlaced": ("pillow", [f(FULL, [r % 4 for r in range(H) for _ in range(W)], interlaced=True)]),
}

for name, (reference, frames) in CASES.items():
    with open(os.path.join(sys.argv[1], name + ".gif"), "wb") as out:
        out.write(gif(frames))
    with open(os.path.join(sys.argv[1], name + ".rgba"), "wb") as out:
        out.write(f"{len(frames)}\n".encode())
        for pixels in shown(frames):
            out.write(f"{W} {H}\n".encode() + pixels)
    print(name, reference)

#!/usr/bin/python3
"""Writes one small PNG of every colour type and bit depth the PNG standard allows, with and
without a tRNS colour key where the type takes one, into DIR; beside each NAME.png, NAME.rgba:
b"W H\\n" and the RGBA bytes a decoder must give (16-bit samples rounded to 8 bits; a keyed
pixel transparent). Prints the names. Only Python's own zlib and struct: no decoder involved.
Usage: pngsuite.py DIR"""
import os
import struct
import sys
import zlib

W, H = 13, 7
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def pack(samples, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    bits = "".join(format(s, "0%db" % depth) for s in samples)
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def to8(v, depth):
    return (v * 255 + ((1 << depth) - 1) // 2) // ((1 << depth) - 1)


def make(ctype, depth, keyed):
    top = (1 << depth) - 1
    entries = min(6, top + 1)
    palette = [(i * 40, 255 - i * 40, i * 20) for i in range(entries)]
    palette_alpha = [0, 128] if keyed else []
    grey_key = top // 3
    rgb_key = (0x1234, 0x5678, 0x9ABC) if depth == 16 else (0x12, 0x56, 0x9A)
    rows, expected = [], bytearray()
    for y in range(H):
        samples = []
        for x in range(W):
            if ctype == 3:
                px = [(x + y) % entries]
            else:
                px = [(x * 5 + y * 3 + c * 7) % (top + 1) for c in range(CHANNELS[ctype])]
                if depth == 16:
                    px = [(v * 4099 + x * 31) & 0xFFFF for v in px]
                if keyed and (x + y) % 4 == 0:
                    px = [grey_key] if ctype == 0 else list(rgb_key)
            samples += px
            if ctype == 3:
                r, g, b = palette[px[0]]
                a = palette_alpha[px[0]] if px[0] < len(palette_alpha) else 255
            elif ctype in (0, 4):
                r = g = b = to8(px[0], depth)
                a = to8(px[1], depth) if ctype == 4 else 0 if keyed and px[0] == grey_key else 255
            else:
                r, g, b = (to8(v, depth) for v in px[:3])
                a = to8(px[3], depth) if ctype == 6 else 0 if keyed and tuple(px) == rgb_key else 255
            expected += bytes((r, g, b, a))
        rows.append(pack(samples, depth))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, depth, ctype, 0, 0, 0))
    if ctype == 3:
        png += chunk(b"PLTE", bytes(v for rgb in palette for v in rgb))
    if keyed:
        key = bytes(palette_alpha) if ctype == 3 else struct.pack(">H", grey_key) if ctype == 0 else struct.pack(">HHH", *rgb_key)
        png += chunk(b"tRNS", key)
    png += chunk(b"IDAT", zlib.compress(b"".join(b"\0" + r for r in rows))) + chunk(b"IEND", b"")
    return png, f"{W} {H}\n".encode() + bytes(expected)


if __name__ == "__main__":
    for ctype, depths in DEPTHS.items():
        for depth in depths:
            for keyed in (False, True) if ctype in (0, 2, 3) else (False,):
                name = f"type{ctype}-depth{depth}{'-key' if keyed else ''}"
                png, rgba = make(ctype, depth, keyed)
                with open(os.path.join(sys.argv[1], name + ".png"), "wb") as f:
                    f.write(png)
                with open(os.path.join(sys.argv[1], name + ".rgba"), "wb") as f:
                    f.write(rgba)
                print(name)

#!/usr/bin/python3
"""Reads a picture with Pillow, an independent reader, and prints its size and RGB pixels.

Output: b"W H\n" followed by W*H*3 bytes of RGB, rows top to bottom. Exit 2 when Pillow
refuses the file (the message goes to stderr).
"""
import sys

from PIL import Image

try:
    with Image.open(sys.argv[1]) as im:
        fmt = im.format
        rgb = im.convert("RGB")
        sys.stdout.buffer.write(f"{rgb.width} {rgb.height} {fmt}\n".encode())
        sys.stdout.buffer.write(rgb.tobytes())
except Exception as e:  # noqa: BLE001 - any refusal is reported the same way
    print(f"{type(e).__name__}: {e}", file=sys.stderr)
    sys.exit(2)

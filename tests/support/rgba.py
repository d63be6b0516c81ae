#!/usr/bin/python3
"""Reads a picture with Pillow and prints every frame as RGBA: b"N\n", then per frame b"W H\n"
and W*H*4 bytes, rows top to bottom. A GIF's frames come coalesced, as a viewer shows them.
Exit 2 when Pillow refuses the file."""
import sys

from PIL import Image, ImageSequence

try:
    with Image.open(sys.argv[1]) as im:
        frames = [f.convert("RGBA") for f in ImageSequence.Iterator(im)]
        out = sys.stdout.buffer
        out.write(f"{len(frames)}\n".encode())
        for f in frames:
            out.write(f"{f.width} {f.height}\n".encode())
            out.write(f.tobytes())
except Exception as e:  # noqa: BLE001 - any refusal is reported the same way
    print(f"{type(e).__name__}: {e}", file=sys.stderr)
    sys.exit(2)

#!/usr/bin/python3
"""Writes an animated GIF with Pillow, and beside it each frame as Pillow reads it back (RGBA PNG):
writegif.py OUT.gif W H PLAYS MS,MS,... -> OUT.gif, OUT.gif.0.png, OUT.gif.1.png, ...
Each frame is a few exact palette colours with a transparent top row and left column; PLAYS 0 loops for ever,
1 writes no loop, n loops n - 1 times more (browsers play it n times)."""
import sys
from PIL import Image

out, w, h, plays, durations = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
durations = [int(d) for d in durations.split(",")]
palette = [0, 0, 0, 200, 30, 40, 20, 180, 60, 40, 60, 230, 250, 240, 10]
frames = []
for k in range(len(durations)):
    im = Image.new("P", (w, h), 1 + k % 4)
    im.putpalette(palette + [0] * (768 - len(palette)))
    for y in range(h):
        for x in range(w):
            if (x * (k + 2) + y) % 5 == 0:
                im.putpixel((x, y), 1 + (k + 1) % 4)
    for x in range(w):  # a transparent border along the top and the left, for --trim
        im.putpixel((x, 0), 0)
    for y in range(h):
        im.putpixel((0, y), 0)
    frames.append(im)
extra = {} if plays == 1 else {"loop": 0 if plays == 0 else plays - 1}
frames[0].save(out, save_all=True, append_images=frames[1:], duration=durations, transparency=0, disposal=1, **extra)
with Image.open(out) as gif:
    for k in range(gif.n_frames):
        gif.seek(k)
        gif.convert("RGBA").save(f"{out}.{k}.png")

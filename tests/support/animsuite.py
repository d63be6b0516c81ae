#!/usr/bin/python3
"""Writes small APNG and WebP files, chunk by chunk, of the cases where readers differ: every
disposal and blending, frames smaller than the canvas at an offset, translucent pixels, a default
image outside the animation, looping and playing once; still WebPs, lossless and lossy with alpha;
and hostile files. Beside each NAME.EXT (png or webp), NAME.rgba: b"N\\n", then per frame b"W H\\n"
and the RGBA bytes a browser shows at that frame.

APNG frames are composed here from the description the file was written from (straight-alpha
"over" worked out with exact fractions, rounded half up); WebP frames, and the lossy still, are
Pillow's (the same libwebp a browser uses); the lossless still is the picture written.

Prints one tab-separated line per file:
  NAME EXT REFERENCE SKIP PLAYS DELAYS PILLOW-DELAYS
REFERENCE "pillow" where Pillow 9.4 composes the same frames (after leaving out SKIP frames it
shows first: an APNG's default image outside the animation), "own" where it is known not to; DELAYS the frames'
durations in ms as written, PILLOW-DELAYS as Pillow reads them ("-" when it cannot).
Hostile files: NAME EXT refused CAUSE (words the refusal must hold).
Usage: animsuite.py DIR"""
import io
import os
import struct
import sys
import zlib
from fractions import Fraction

from PIL import Image, ImageSequence

W, H = 6, 4
T = (0, 0, 0, 0)
RED, GREEN, BLUE, WHITE = (201, 13, 7, 255), (3, 187, 61, 255), (29, 41, 253, 255), (250, 250, 249, 255)
HALF_BLUE, FAINT_RED = (29, 41, 253, 128), (201, 13, 7, 37)
OUT = sys.argv[1]


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def rows(w, h, pixels):
    return zlib.compress(b"".join(b"\0" + bytes(v for p in pixels[r * w:(r + 1) * w] for v in p) for r in range(h)))


def over(s, d):
    """Straight-alpha Porter-Duff over, each result rounded half up."""
    a, b = Fraction(s[3], 255), Fraction(d[3], 255)
    out_a = a + b * (1 - a)
    if out_a == 0:
        return T
    rnd = lambda x: int(x + Fraction(1, 2))  # noqa: E731
    return tuple(rnd((s[i] * a + d[i] * b * (1 - a)) / out_a) for i in range(3)) + (rnd(out_a * 255),)


def shown(frames):
    """The frames as a browser shows them: dispose 0 none, 1 clear, 2 back to before; blend 0
    source, 1 over. A first frame disposed to 'previous' is cleared."""
    canvas = [T] * (W * H)
    out, pending = [], None
    for n, f in enumerate(frames):
        if pending:
            (x, y, w, h), method, saved = pending
            for yy in range(y, y + h):
                for xx in range(x, x + w):
                    canvas[yy * W + xx] = T if method == 1 else saved[yy * W + xx]
        method = 1 if f["dispose"] == 2 and n == 0 else f["dispose"]
        pending = (f["rect"], method, list(canvas)) if method else None
        x, y, w, h = f["rect"]
        for r in range(h):
            for c in range(w):
                p = f["pixels"][r * w + c]
                i = (y + r) * W + x + c
                canvas[i] = p if f["blend"] == 0 else over(p, canvas[i])
        out.append(bytes(v for p in canvas for v in p))
    return out


def fr(rect, pixels, dispose=0, blend=0, delay=(1, 10)):
    x, y, w, h = rect
    if isinstance(pixels, tuple):
        pixels = [pixels] * (w * h)
    return {"rect": rect, "pixels": pixels, "dispose": dispose, "blend": blend, "delay": delay}


def apng(frames, plays=0, hidden=None, split=False, first_seq=0, num_frames=None):
    """hidden: pixels of a default image outside the animation; split: each frame's data in two
    fdAT chunks."""
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
    out += chunk(b"acTL", struct.pack(">II", len(frames) if num_frames is None else num_frames, plays))
    seq = first_seq
    for n, f in enumerate(frames):
        x, y, w, h = f["rect"]
        control = chunk(b"fcTL", struct.pack(">IIIIIHHBB", seq, w, h, x, y, *f["delay"], f["dispose"], f["blend"]))
        seq += 1
        data = rows(w, h, f["pixels"])
        if n == 0 and hidden is None:
            out += control + chunk(b"IDAT", data)
            continue
        if n == 0:
            out += chunk(b"IDAT", rows(W, H, hidden))
        out += control
        for piece in ([data[:len(data) // 2], data[len(data) // 2:]] if split else [data]):
            out += chunk(b"fdAT", struct.pack(">I", seq) + piece)
            seq += 1
    return out + chunk(b"IEND", b"")


def vp8l(w, h, pixels):
    """A lossless WebP bitstream of the pixels, from Pillow's encoder, its colours kept as given."""
    im = Image.new("RGBA", (w, h))
    im.putdata(pixels)
    buf = io.BytesIO()
    im.save(buf, "WEBP", lossless=True, exact=True)
    data = buf.getvalue()
    pos = 12
    while pos < len(data):
        kind, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if kind == b"VP8L":
            return data[pos:pos + 8 + size + (size & 1)]
        pos += 8 + size + (size & 1)
    raise SystemExit("no VP8L chunk in Pillow's WebP")


def riff(body):
    return b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WEBP" + body


def wchunk(kind, body):
    return kind + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


def webp(frames, plays=0, canvas=(W, H)):
    """Offsets must be even. dispose 1 clears to transparent; blend 0 replaces, 1 draws over."""
    cw, ch = canvas
    body = wchunk(b"VP8X", bytes([0x12, 0, 0, 0]) + (cw - 1).to_bytes(3, "little") + (ch - 1).to_bytes(3, "little"))
    body += wchunk(b"ANIM", bytes(4) + struct.pack("<H", plays))
    for f in frames:
        x, y, w, h = f["rect"]
        num, den = f["delay"]
        head = b"".join(v.to_bytes(3, "little") for v in (x // 2, y // 2, w - 1, h - 1, num * 1000 // den))
        head += bytes([(0 if f["blend"] else 2) | (1 if f["dispose"] == 1 else 0)])
        body += wchunk(b"ANMF", head + vp8l(w, h, f["pixels"]))
    return riff(body)


def pillow(path):
    try:
        with Image.open(path) as im:
            frames, delays = [], []
            for f in ImageSequence.Iterator(im):
                frames.append(f.convert("RGBA").tobytes())
                delays.append(round(f.info.get("duration", 0)))
            return frames, delays
    except Exception:  # noqa: BLE001 - Pillow's refusal only means no comparison
        return None, None


def same(a, b):
    """Equal as shown: a wholly transparent pixel's colour does not count."""
    if not a or len(a) != len(b):
        return False
    for x, y in zip(a, b):
        for i in range(0, len(x), 4):
            if x[i + 3] != y[i + 3] or (x[i + 3] and x[i:i + 3] != y[i:i + 3]):
                return False
    return True


# Pillow pastes a frame blended "over" with its alpha as the mask, alpha channel included: right
# only where a pixel is wholly opaque or wholly clear.
PILLOW_WRONG = {"apng-blend-over-translucent", "apng-translucent-over-nothing"}


def write(name, ext, data, frames, size, delays, plays, skip=0):
    path = os.path.join(OUT, f"{name}.{ext}")
    with open(path, "wb") as f:
        f.write(data)
    got, got_delays = pillow(path)
    if frames is None:  # Pillow's frames are the reference
        frames = got
    with open(os.path.join(OUT, name + ".rgba"), "wb") as f:
        f.write(f"{len(frames)}\n".encode())
        for pixels in frames:
            f.write(f"{size[0]} {size[1]}\n".encode() + pixels)
    if name not in PILLOW_WRONG and not same(got and got[skip:], frames):
        print(f"{name}: Pillow shows other frames", file=sys.stderr)
    # A still picture has no duration: Pillow's 0 stands for none.
    pillow_delays = ",".join(map(str, got_delays[skip:])) if got_delays and len(frames) > 1 else "" if got_delays else "-"
    print(name, ext, "own" if name in PILLOW_WRONG else "pillow", skip, plays, ",".join(map(str, delays)), pillow_delays,
          sep="\t")


FULL = (0, 0, W, H)
STRIPES = [RED, GREEN, BLUE] * 8
APNG = {
    "apng-dispose-none-blend-source": [fr(FULL, STRIPES), fr((2, 1, 3, 2), BLUE, delay=(3, 0))],
    "apng-dispose-background": [fr(FULL, GREEN, dispose=1), fr((0, 0, 2, 2), RED, delay=(250, 1000))],
    "apng-dispose-previous": [fr(FULL, GREEN), fr((1, 1, 2, 2), RED, dispose=2), fr((4, 0, 2, 1), BLUE)],
    "apng-first-frame-disposed-to-previous": [fr(FULL, STRIPES, dispose=2), fr((0, 0, 3, 1), RED)],
    "apng-blend-over-opaque-and-clear": [fr(FULL, BLUE), fr((1, 0, 4, 4), [RED, T] * 8, blend=1)],
    "apng-blend-over-translucent": [fr(FULL, GREEN), fr((0, 1, 5, 2), HALF_BLUE, blend=1),
                                    fr((3, 0, 3, 4), FAINT_RED, blend=1)],
    "apng-translucent-over-nothing": [fr(FULL, T), fr((1, 1, 4, 2), [HALF_BLUE, FAINT_RED] * 4, blend=1),
                                      fr((2, 0, 2, 4), HALF_BLUE, blend=1)],
    "apng-blend-source-translucent": [fr(FULL, RED), fr((2, 1, 2, 2), [HALF_BLUE, T, FAINT_RED, WHITE], blend=0)],
}
for name, frames in APNG.items():
    delays = [round(n * 1000 / (d or 100)) for n, d in (f["delay"] for f in frames)]
    write(name, "png", apng(frames, plays=0), shown(frames), (W, H), delays, 0)
once = [fr(FULL, WHITE), fr((4, 2, 2, 2), RED, dispose=1), fr((0, 0, 1, 1), BLUE)]
write("apng-plays-once-default-image-apart", "png", apng(once, plays=1, hidden=[GREEN] * (W * H), split=True),
      shown(once), (W, H), [100, 100, 100], 1, skip=1)

WEBP = {
    "webp-dispose-and-blend": [fr(FULL, STRIPES, delay=(70, 1000)), fr((2, 0, 4, 2), HALF_BLUE, dispose=1, blend=1),
                               fr((0, 2, 3, 2), RED, blend=0), fr((2, 2, 2, 2), FAINT_RED, blend=1)],
    "webp-translucent-frames-at-offsets": [fr(FULL, [HALF_BLUE, T] * 12), fr((4, 2, 2, 2), FAINT_RED, blend=1),
                                           fr((0, 0, 2, 4), GREEN, dispose=1, blend=0), fr((2, 0, 1, 1), WHITE)],
}
for name, frames in WEBP.items():
    write(name, "webp", webp(frames, plays=0), None, (W, H), [n * 1000 // d for n, d in (f["delay"] for f in frames)], 0)
write("webp-plays-three-times", "webp", webp([fr(FULL, RED), fr((2, 2, 2, 2), BLUE)], plays=3), None, (W, H), [100, 100], 3)

still = [(x * 40, y * 60, (x * y * 23) % 256, (x * 37 + y * 50) % 256) for y in range(H) for x in range(W)]
im = Image.new("RGBA", (W, H))
im.putdata(still)
buf = io.BytesIO()
im.save(buf, "WEBP", lossless=True, exact=True)
write("webp-still-lossless", "webp", buf.getvalue(), [bytes(v for p in still for v in p)], (W, H), [], 1)
big = Image.new("RGBA", (40, 30))
big.putdata([(x * 6, y * 8, 200 - x * 4, (x * 9 + y * 5) % 256) for y in range(30) for x in range(40)])
buf = io.BytesIO()
big.save(buf, "WEBP", quality=70, alpha_quality=100)
write("webp-still-lossy-alpha", "webp", buf.getvalue(), None, (40, 30), [], 1)


def refused(name, ext, data, cause):
    with open(os.path.join(OUT, f"{name}.{ext}"), "wb") as f:
        f.write(data)
    print(name, ext, "refused", cause, sep="\t")


three = [fr(FULL, GREEN), fr((1, 1, 2, 2), RED), fr((0, 0, 1, 1), BLUE)]
good = apng(three)
refused("apng-frame-outside-canvas", "png", apng([fr(FULL, GREEN), fr((4, 2, 4, 4), RED)]),
        "its frame 2 (4 x 4 at 4, 2) lies outside its 6 x 4 canvas")
refused("apng-count-lies", "png", apng(three, num_frames=5), "it declares 5 frames but holds 3")
refused("apng-count-lies-low", "png", apng(three, num_frames=2), "it holds more frames than the 2 it declares")
refused("apng-sequence-out-of-order", "png", apng(three, first_seq=1), "its sequence numbers are out of order")
second_fctl = good.index(b"fcTL", good.index(b"fcTL") + 1)
refused("apng-cut-in-fctl", "png", good[:second_fctl + 10], "its picture data ends early")
short = good[:second_fctl - 4] + chunk(b"fcTL", good[second_fctl + 4:second_fctl + 24])
refused("apng-fctl-of-20-bytes", "png", short + good[second_fctl + 4 + 26 + 4:], "its fcTL chunk holds 20 bytes")
last_fdat = good.rindex(b"fdAT")
bad_crc = bytearray(good)
bad_crc[last_fdat + 8] ^= 1  # inside the data, after the sequence number
refused("apng-fdat-fails-its-checksum", "png", bytes(bad_crc), "its fdAT chunk fails its checksum")
refused("apng-cut-in-fdat", "png", good[:last_fdat + 12], "its picture data ends early")
# An end chunk that declares data the file does not hold is cut short like any other chunk.
refused("apng-end-chunk-runs-past-the-end", "png", good[:-12] + struct.pack(">I", 4) + b"IEND" + struct.pack(">I", zlib.crc32(b"IEND")),
        "its picture data ends early")
# 4000 x 4000 pixels of one bit, and 30 frames of one pixel: together over the budget.
side = 4000
huge = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 1, 3, 0, 0, 0))
huge += chunk(b"PLTE", bytes(RED[:3] + GREEN[:3])) + chunk(b"acTL", struct.pack(">II", 30, 0))
huge += chunk(b"IDAT", zlib.compress(bytes(side * (side // 8 + 1)), 9))
one = zlib.compress(b"\0\x80")
for n in range(30):
    huge += chunk(b"fcTL", struct.pack(">IIIIIHHBB", 2 * n, 1, 1, n, n, 1, 10, 0, 0))
    huge += chunk(b"fdAT", struct.pack(">I", 2 * n + 1) + one)
refused("apng-many-frames-of-a-large-canvas", "png", huge + chunk(b"IEND", b""), "30 frames of 4000 x 4000 pixels are too large")
anim = webp([fr(FULL, RED), fr((2, 2, 2, 2), BLUE)])
refused("webp-cut-short", "webp", anim[:len(anim) * 2 // 3], "its data ends before the")
refused("webp-still-cut-short", "webp", buf.getvalue()[:200], "its data ends before the")
refused("webp-frame-outside-canvas", "webp", webp([fr(FULL, RED), fr((4, 2, 4, 4), BLUE)]), "its WebP chunks are damaged")
refused("webp-many-frames-of-a-large-canvas", "webp", webp([fr((n * 2, 0, 1, 1), RED) for n in range(30)], canvas=(side, side)),
        "30 frames of 4000 x 4000 pixels are too large")

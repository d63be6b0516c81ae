#!/usr/bin/python3
"""Aseprite files (.aseprite) written byte by byte from a description, and the frames they show
composed here independently (numpy, float64) by the rules corvane follows.

A sprite description is a dict:
  w, h, depth (32 RGBA, 16 grayscale, 8 indexed), flags (header; 1 = layer opacity counts),
  speed, transparent (index), palette [(r, g, b, a)], palette_kind ("new", "old4", "old11", None),
  layers [{name, type (0 image, 1 group, 2 tilemap), flags (1 visible, 8 background, 64
  reference), level, blend, opacity, tileset}],
  tilesets [{tw, th, tiles [array th x tw x channels]}] (tile 0 is the empty one),
  frames [{duration, cels [{layer, x, y, opacity, kind ("raw", "zlib", "link", "tiles"),
           pixels (array h x w x channels), link, tiles (array of tile words), bits}]}],
  tags [{name, from, to, direction (0..3), repeat}],
  slices [{name, keys [{frame, bounds (x, y, w, h), center (x, y, w, h), pivot (x, y)}]}],
  extra [(frame, chunk bytes)] more chunks put at the start of a frame (user data, profile).

Usage: asesuite.py DIR  writes NAME.aseprite, NAME.fN.png (frame N as shown, RGBA),
NAME.lK.fN.png (layer K alone) and manifest.json."""
import hashlib
import json
import os
import struct
import sys
import zlib

import numpy as np
from PIL import Image

CHANNELS = {32: 4, 16: 2, 8: 1}
FLIP_X, FLIP_Y, FLIP_D = 0x20000000, 0x40000000, 0x80000000


# ---- the writer --------------------------------------------------------------------------

def string(text):
    data = text.encode("utf-8")
    return struct.pack("<H", len(data)) + data


def chunk(kind, body):
    return struct.pack("<IH", len(body) + 6, kind) + body


def layer_chunk(layer):
    body = struct.pack("<HHHHHHB3x", layer.get("flags", 1), layer.get("type", 0), layer.get("level", 0),
                       0, 0, layer.get("blend", 0), layer.get("opacity", 255)) + string(layer["name"])
    if layer.get("type", 0) == 2:
        body += struct.pack("<I", layer.get("tileset", 0))
    return chunk(0x2004, body)


def cel_chunk(cel):
    kind = cel.get("kind", "zlib")
    code = {"raw": 0, "link": 1, "zlib": 2, "tiles": 3}[kind]
    body = struct.pack("<HhhBHh5x", cel["layer"], cel.get("x", 0), cel.get("y", 0), cel.get("opacity", 255), code, 0)
    if kind == "link":
        return chunk(0x2005, body + struct.pack("<H", cel["link"]))
    if kind == "tiles":
        tiles = np.asarray(cel["tiles"], dtype=np.uint32)
        bits = cel.get("bits", 32)
        words = tiles.astype({8: "<u1", 16: "<u2", 32: "<u4"}[bits]).tobytes()
        masks = {8: (0xFF, 0, 0, 0), 16: (0xFFFF, 0, 0, 0), 32: (0x1FFFFFFF, FLIP_X, FLIP_Y, FLIP_D)}[bits]
        head = struct.pack("<HHHIIII10x", tiles.shape[1], tiles.shape[0], bits, *masks)
        return chunk(0x2005, body + head + cel.get("data", zlib.compress(words)))
    pixels = np.asarray(cel["pixels"], dtype=np.uint8)
    raw = pixels.tobytes()
    data = raw if kind == "raw" else cel.get("data", zlib.compress(raw))
    return chunk(0x2005, body + struct.pack("<HH", pixels.shape[1], pixels.shape[0]) + data)


def palette_chunks(sprite):
    pal, kind = sprite.get("palette", []), sprite.get("palette_kind", "new")
    if not pal or kind is None:
        return []
    if kind == "new":
        body = struct.pack("<III8x", len(pal), 0, len(pal) - 1)
        body += b"".join(struct.pack("<H4B", 0, *c) for c in pal)
        return [chunk(0x2019, body)]
    scale = (lambda v: v) if kind == "old4" else (lambda v: v * 63 // 255)
    body = struct.pack("<HBB", 1, 0, len(pal) & 0xFF) + bytes(scale(v) for c in pal for v in c[:3])
    return [chunk(0x0004 if kind == "old4" else 0x0011, body)]


def tags_chunk(tags):
    body = struct.pack("<H8x", len(tags))
    for t in tags:
        body += struct.pack("<HHBH6x3Bx", t["from"], t["to"], t.get("direction", 0), t.get("repeat", 0), 200, 100, 50)
        body += string(t["name"])
    return chunk(0x2018, body)


def slice_chunk(sl):
    keys = sl["keys"]
    flags = (1 if "center" in keys[0] else 0) | (2 if "pivot" in keys[0] else 0)
    body = struct.pack("<III", len(keys), flags, 0) + string(sl["name"])
    for k in keys:
        body += struct.pack("<IiiII", k["frame"], *k["bounds"])
        if flags & 1:
            body += struct.pack("<iiII", *k["center"])
        if flags & 2:
            body += struct.pack("<ii", *k["pivot"])
    return chunk(0x2022, body)


def tileset_chunk(index, ts):
    tiles = [np.asarray(t, dtype=np.uint8) for t in ts["tiles"]]
    flags = ts.get("flags", 2 | 4)
    body = struct.pack("<IIIHHh14x", index, flags, len(tiles), ts["tw"], ts["th"], 1) + string(ts.get("name", "tiles"))
    if flags & 1:
        body += struct.pack("<II", 0, index)
    if flags & 2:
        data = zlib.compress(np.concatenate(tiles, axis=0).tobytes())
        body += struct.pack("<I", len(data)) + data
    return chunk(0x2023, body)


def user_data(text=None, color=None):
    body = struct.pack("<I", (1 if text is not None else 0) | (2 if color is not None else 0))
    return chunk(0x2020, body + (string(text) if text is not None else b"") + (bytes(color) if color else b""))


def color_profile(kind=1):
    return chunk(0x2007, struct.pack("<HHI8x", kind, 0, 0))


def cel_extra():
    return chunk(0x2006, struct.pack("<IIIII16x", 0, 0, 0, 0, 0))


def external_files(names):
    body = struct.pack("<I8x", len(names))
    for n, name in enumerate(names):
        body += struct.pack("<IB7x", n, 1) + string(name)
    return chunk(0x2008, body)


def frame_bytes(chunks, duration):
    body = b"".join(chunks)
    n = len(chunks)
    return struct.pack("<IHHH2xI", 16 + len(body), 0xF1FA, min(n, 0xFFFF), duration, n) + body


def write(sprite):
    """The file's bytes. sprite may say header_frames (the count the header gives)."""
    frames = []
    for n, f in enumerate(sprite["frames"]):
        chunks = []
        if n == 0:
            chunks += [color_profile()] + palette_chunks(sprite)
            chunks += [c for i, ts in enumerate(sprite.get("tilesets", [])) for c in [tileset_chunk(i, ts)]]
            chunks += [layer_chunk(layer) for layer in sprite["layers"]]
            if sprite.get("tags"):
                chunks += [tags_chunk(sprite["tags"])] + [user_data(color=(1, 2, 3, 255)) for _ in sprite["tags"]]
            chunks += [slice_chunk(s) for s in sprite.get("slices", [])]
        chunks += [c for at, c in sprite.get("extra", []) if at == n]
        for cel in f["cels"]:
            chunks.append(cel_chunk(cel))
            if cel.get("note"):
                chunks += [user_data(text=cel["note"]), cel_extra()]
        frames.append(frame_bytes(chunks, f.get("duration", 100)))
    body = b"".join(frames)
    pal = sprite.get("palette", [])
    head = struct.pack("<IHHHHHIHIIB3xHBBhhHH84x", 128 + len(body), 0xA5E0,
                       sprite.get("header_frames", len(frames)), sprite["w"], sprite["h"], sprite["depth"],
                       sprite.get("flags", 1), sprite.get("speed", 100), 0, 0, sprite.get("transparent", 0),
                       len(pal) if len(pal) < 256 else 0, 1, 1, 0, 0, 16, 16)
    assert len(head) == 128
    return head + body


# ---- the compositor ----------------------------------------------------------------------

class Damaged(Exception):
    pass


def palette_of(sprite):
    kind = sprite.get("palette_kind", "new")
    if kind == "old4":
        return [tuple(c[:3]) + (255,) for c in sprite["palette"]]
    if kind == "old11":
        return [tuple(int((v * 63 // 255) * 255 / 63 + 0.5) for v in c[:3]) + (255,) for c in sprite["palette"]]
    return [tuple(c) for c in sprite.get("palette", [])]


def to_rgba(pixels, sprite, background):
    """Straight RGBA8 of pixels stored in the sprite's depth."""
    px = np.asarray(pixels, dtype=np.uint8)
    if sprite["depth"] == 32:
        return px.copy()
    if sprite["depth"] == 16:
        return np.stack([px[..., 0], px[..., 0], px[..., 0], px[..., 1]], axis=-1)
    pal = np.array(palette_of(sprite) or [(0, 0, 0, 0)], dtype=np.uint8)
    index = px[..., 0] if px.ndim == 3 else px
    if index.size and int(index.max()) >= len(sprite.get("palette", [])):
        raise Damaged("an index past the palette")
    out = pal[index]
    if not background:
        out[index == sprite.get("transparent", 0)] = 0
    return out


def lum(c):
    return 0.3 * c[..., 0] + 0.59 * c[..., 1] + 0.11 * c[..., 2]


def clip_color(c):
    l = lum(c)[..., None]
    n, x = c.min(axis=-1, keepdims=True), c.max(axis=-1, keepdims=True)
    with np.errstate(divide="ignore", invalid="ignore"):
        c = np.where(n < 0, l + (c - l) * l / (l - n), c)
        c = np.where(x > 1, l + (c - l) * (1 - l) / (x - l), c)
    return c


def set_lum(c, l):
    return clip_color(c + (l - lum(c))[..., None])


def sat(c):
    return c.max(axis=-1) - c.min(axis=-1)


def set_sat(c, s):
    """W3C's SetSat: Cmax = s exactly (of equal largest channels, the last of r, g, b), Cmin = 0."""
    n, x = c.min(axis=-1, keepdims=True), c.max(axis=-1, keepdims=True)
    with np.errstate(divide="ignore", invalid="ignore"):
        out = np.where(x > n, (c - n) * s[..., None] / (x - n), 0.0)
    last = 2 - np.argmax(c[..., ::-1], axis=-1)
    np.put_along_axis(out, last[..., None], np.where(x > n, s[..., None], 0.0), axis=-1)
    return out


def multiply(b, s):
    return b * s


def screen(b, s):
    return b + s - b * s


def hard_light(b, s):
    return np.where(s <= 0.5, multiply(b, 2 * s), screen(b, 2 * s - 1))


def soft_light(b, s):
    d = np.where(b <= 0.25, ((16 * b - 12) * b + 4) * b, np.sqrt(b))
    return np.where(s <= 0.5, b - (1 - 2 * s) * b * (1 - b), b + (2 * s - 1) * (d - b))


def blend(mode, b, s):
    with np.errstate(divide="ignore", invalid="ignore"):
        return [
            lambda: s, lambda: multiply(b, s), lambda: screen(b, s), lambda: hard_light(s, b),
            lambda: np.minimum(b, s), lambda: np.maximum(b, s),
            lambda: np.where(b == 0, 0.0, np.where(s == 1, 1.0, np.minimum(1, b / (1 - s)))),
            lambda: np.where(b == 1, 1.0, np.where(s == 0, 0.0, 1 - np.minimum(1, (1 - b) / s))),
            lambda: hard_light(b, s), lambda: soft_light(b, s), lambda: np.abs(b - s), lambda: b + s - 2 * b * s,
            lambda: set_lum(set_sat(s, sat(b)), lum(b)), lambda: set_lum(set_sat(b, sat(s)), lum(b)),
            lambda: set_lum(s, lum(b)), lambda: set_lum(b, lum(s)),
            lambda: np.minimum(1, b + s), lambda: np.maximum(0, b - s),
            lambda: np.where(s == 0, np.where(b == 0, 0.0, 1.0), np.minimum(1, b / s)),
        ][mode]()


def parents(layers):
    """Each layer's enclosing groups, innermost first, found by child level."""
    out, stack = [], []
    for n, layer in enumerate(layers):
        level = layer.get("level", 0)
        del stack[level:]
        out.append(list(reversed(stack)))
        if layer.get("type", 0) == 1:
            stack.append(n)
    return out


def shown_layers(sprite):
    layers, ups = sprite["layers"], parents(sprite["layers"])
    return [n for n, layer in enumerate(layers)
            if layer.get("type", 0) in (0, 2) and layer.get("flags", 1) & 1 and not layer.get("flags", 1) & 64
            and all(layers[g].get("flags", 1) & 1 for g in ups[n])]


def cel_image(sprite, frame, cel):
    """The cel's RGBA pixels, x, y and opacity, a link followed."""
    layer = sprite["layers"][cel["layer"]]
    if cel.get("kind") == "link":
        target = cel["link"]
        found = [c for c in sprite["frames"][target]["cels"] if c["layer"] == cel["layer"]] if target < frame else []
        if not found or found[0].get("kind") == "link":
            raise Damaged("a link to no earlier cel")
        cel = found[0]
    background = bool(layer.get("flags", 1) & 8)
    if cel.get("kind") != "tiles":
        return to_rgba(cel["pixels"], sprite, background), cel.get("x", 0), cel.get("y", 0), cel.get("opacity", 255)
    ts = sprite["tilesets"][layer.get("tileset", 0)]
    tw, th, tiles = ts["tw"], ts["th"], [to_rgba(t, sprite, background) for t in ts["tiles"]]
    words = np.asarray(cel["tiles"], dtype=np.uint64)
    out = np.zeros((words.shape[0] * th, words.shape[1] * tw, 4), dtype=np.uint8)
    for r in range(words.shape[0]):
        for c in range(words.shape[1]):
            word = int(words[r, c])
            tid = word & (0x1FFFFFFF if cel.get("bits", 32) == 32 else 0xFFFFFFFF)
            if tid >= len(tiles):
                raise Damaged("a tile past the tileset")
            if tid == 0:
                continue
            if word & FLIP_D and tw != th:
                raise Damaged("a diagonal flip of tiles that are not square")
            sy, sx = np.mgrid[0:th, 0:tw]  # the drawn pixel's source, turned in the rules' order
            if word & FLIP_D:
                sx, sy = sy, sx
            if word & FLIP_X:
                sx = tw - 1 - sx
            if word & FLIP_Y:
                sy = th - 1 - sy
            out[r * th:(r + 1) * th, c * tw:(c + 1) * tw] = tiles[tid][sy, sx]
    return out, cel.get("x", 0), cel.get("y", 0), cel.get("opacity", 255)


def compose(sprite, frame, only=None):
    """Frame's pixels as shown (or layer only's alone): H x W x 4 uint8, straight alpha."""
    W, H = sprite["w"], sprite["h"]
    canvas = np.zeros((H, W, 4), dtype=np.uint8)
    layers, ups, counts = sprite["layers"], parents(sprite["layers"]), sprite.get("flags", 1) & 1
    for mode in (layer.get("blend", 0) for layer in layers):
        if not 0 <= mode <= 18:
            raise Damaged("blend mode %d" % mode)
    cels = {c["layer"]: c for c in sprite["frames"][frame]["cels"]}
    for n in shown_layers(sprite):
        if n not in cels or (only is not None and n != only):
            continue
        img, x, y, opacity = cel_image(sprite, frame, cels[n])
        h, w = img.shape[:2]
        x0, y0, x1, y1 = max(x, 0), max(y, 0), min(x + w, W), min(y + h, H)
        if x0 >= x1 or y0 >= y1:
            continue
        src = img[y0 - y:y1 - y, x0 - x:x1 - x].astype(np.float64) / 255
        dst = canvas[y0:y1, x0:x1].astype(np.float64) / 255
        a_s = src[..., 3] * (opacity / 255)
        for g in [n] + ups[n]:
            a_s = a_s * ((layers[g].get("opacity", 255) if counts else 255) / 255)
        a_s, a_b, cs, cb = a_s[..., None], dst[..., 3:], src[..., :3], dst[..., :3]
        ao = a_s + a_b * (1 - a_s)
        co = a_s * (1 - a_b) * cs + a_s * a_b * blend(layers[n].get("blend", 0), cb, cs) + (1 - a_s) * a_b * cb
        with np.errstate(divide="ignore", invalid="ignore"):
            c_o = np.where(ao > 0, co / ao, 0.0)
        out = np.concatenate([np.floor(c_o * 255 + 0.5), np.floor(ao * 255 + 0.5)], axis=-1).astype(np.uint8)
        out[out[..., 3] == 0] = 0
        canvas[y0:y1, x0:x1] = out
    return canvas


def durations(sprite):
    return [f.get("duration", 100) or sprite.get("speed", 100) for f in sprite["frames"]]


# ---- the suite ---------------------------------------------------------------------------

RNG = np.random.default_rng(20240607)
EDGES = np.array([0, 0, 1, 64, 127, 128, 129, 200, 254, 255, 255], dtype=np.uint8)


def noise(h, w, channels, alphas=EDGES):
    """Pixels mixing edge values (0, 0.5, 1 each hit some blend branch) with random ones."""
    px = np.where(RNG.random((h, w, channels)) < 0.4, RNG.choice(EDGES, (h, w, channels)),
                  RNG.integers(0, 256, (h, w, channels))).astype(np.uint8)
    if channels in (2, 4):
        px[..., -1] = RNG.choice(alphas, (h, w))
    return px


def solid(h, w, value):
    return np.tile(np.array(value, dtype=np.uint8), (h, w, 1))


def layer(name, **kw):
    return dict(name=name, **kw)


def one_frame(w, h, depth, layers, cels, **kw):
    return dict(w=w, h=h, depth=depth, layers=layers, frames=[dict(duration=100, cels=cels)], **kw)


PAL = [(0, 0, 0, 255), (255, 255, 255, 255), (201, 13, 7, 255), (3, 187, 61, 128), (29, 41, 253, 0),
       (250, 128, 1, 200), (17, 99, 180, 255), (128, 128, 128, 64)]
BLEND_NAMES = ["normal", "multiply", "screen", "overlay", "darken", "lighten", "colordodge", "colorburn",
               "hardlight", "softlight", "difference", "exclusion", "hue", "saturation", "color", "luminosity",
               "addition", "subtract", "divide"]


def suite():
    s = {}
    # Colour depths, raw and compressed cels, a cel partly off the canvas, chunks read past.
    s["rgba"] = one_frame(7, 5, 32, [layer("Back"), layer("Front")],
                          [dict(layer=0, kind="raw", pixels=noise(5, 7, 4)),
                           dict(layer=1, x=-2, y=2, opacity=190, pixels=noise(4, 6, 4), note="cel note")],
                          extra=[(0, user_data(text="sprite"))])
    s["gray"] = one_frame(6, 4, 16, [layer("Ink", opacity=140), layer("Wash", blend=1)],
                          [dict(layer=0, pixels=noise(4, 6, 2)), dict(layer=1, x=1, pixels=noise(3, 4, 2), kind="raw")])
    for kind in ("new", "old4", "old11"):
        pal = PAL if kind == "new" else [c[:3] + (255,) for c in PAL]
        s["indexed-" + kind] = one_frame(6, 4, 8, [layer("Background", flags=1 | 8), layer("Top", opacity=200)],
                                         [dict(layer=0, pixels=RNG.integers(0, 8, (4, 6, 1))),
                                          dict(layer=1, x=2, y=1, pixels=RNG.integers(0, 8, (3, 4, 1)))],
                                         palette=pal, palette_kind=kind, transparent=3)
    # Every blend mode: the top layer half over a varied backdrop, half over nothing.
    back = noise(6, 6, 4)
    top = noise(6, 6, 4, alphas=np.array([0, 1, 90, 128, 254, 255, 255, 255], dtype=np.uint8))
    for mode, name in enumerate(BLEND_NAMES):
        s["blend-%02d-%s" % (mode, name)] = one_frame(9, 6, 32, [layer("Backdrop"), layer("Blend", blend=mode, opacity=230)],
                                                      [dict(layer=0, pixels=back), dict(layer=1, x=3, pixels=top, opacity=245)])
    # Opacities counted or not by the header's flag.
    for flags in (0, 1):
        s["opacity-flag%d" % flags] = one_frame(5, 3, 32, [layer("Under", opacity=77), layer("Over", opacity=150, blend=2)],
                                                [dict(layer=0, pixels=noise(3, 5, 4), opacity=201),
                                                 dict(layer=1, pixels=noise(3, 5, 4), opacity=99)], flags=flags)
    # Hidden layers, a hidden group, a translucent group in a group, a reference layer.
    s["groups"] = one_frame(6, 5, 32, [
        layer("Base"), layer("Hidden", flags=0), layer("Shut", type=1, flags=0), layer("InShut", level=1),
        layer("Veil", type=1, opacity=128), layer("InVeil", level=1, blend=1), layer("Inner", type=1, level=1, opacity=200),
        layer("Deep", level=2, opacity=180), layer("Reference", flags=1 | 64), layer("Last", blend=12)],
        [dict(layer=n, x=n % 3 - 1, y=n % 2, pixels=noise(4, 5, 4)) for n in (0, 1, 3, 5, 7, 8, 9)])
    # Tilemaps: every flip over 32-bit tiles, and 16-bit tiles in an indexed sprite.
    tiles = [np.zeros((3, 3, 4), np.uint8)] + [noise(3, 3, 4) for _ in range(3)]
    words = np.array([[1, 2 | FLIP_X, 3 | FLIP_Y, 0], [1 | FLIP_D, 2 | FLIP_X | FLIP_Y, 3 | FLIP_D | FLIP_X, 1 | FLIP_D | FLIP_Y],
                      [2 | FLIP_D | FLIP_X | FLIP_Y, 0, 3, 1]], dtype=np.uint32)
    s["tilemap-flips"] = one_frame(11, 10, 32, [layer("Paper"), layer("Map", type=2, opacity=210, blend=5)],
                                   [dict(layer=0, pixels=noise(10, 11, 4)), dict(layer=1, x=-1, y=1, kind="tiles", tiles=words)],
                                   tilesets=[dict(tw=3, th=3, tiles=tiles)])
    s["tilemap-indexed"] = one_frame(8, 4, 8, [layer("Map", type=2)],
                                     [dict(layer=0, x=0, kind="tiles", bits=16, tiles=np.array([[1, 0, 2], [2, 1, 0]]))],
                                     tilesets=[dict(tw=2, th=2, tiles=[np.zeros((2, 2, 1), np.uint8),
                                                                       RNG.integers(0, 8, (2, 2, 1)), RNG.integers(0, 8, (2, 2, 1))])],
                                     palette=PAL, transparent=0)
    # Frames: durations (0 takes the header's speed), linked cels, tags of every direction, slices.
    a, b = noise(3, 4, 4), noise(2, 2, 4)
    s["frames"] = dict(w=6, h=4, depth=32, speed=77, layers=[layer("Body"), layer("Eyes", opacity=180)], frames=[
        dict(duration=100, cels=[dict(layer=0, x=1, y=1, opacity=200, pixels=a), dict(layer=1, pixels=b)]),
        dict(duration=0, cels=[dict(layer=0, kind="link", link=0), dict(layer=1, x=3, pixels=b)]),
        dict(duration=250, cels=[dict(layer=0, kind="link", link=0), dict(layer=1, kind="link", link=1)]),
        dict(duration=40, cels=[dict(layer=1, x=4, y=2, kind="raw", pixels=b)])],
        tags=[{"name": "walk", "from": 0, "to": 3}, {"name": "back", "from": 1, "to": 2, "direction": 1, "repeat": 2},
              {"name": "swing", "from": 0, "to": 2, "direction": 2, "repeat": 1},
              {"name": "swang", "from": 2, "to": 3, "direction": 3, "repeat": 5}],
        slices=[dict(name="hit", keys=[dict(frame=0, bounds=(1, 1, 3, 2)), dict(frame=2, bounds=(-1, 0, 4, 4))]),
                dict(name="panel", keys=[dict(frame=0, bounds=(0, 0, 6, 4), center=(1, 1, 4, 2), pivot=(3, 4)),
                                         dict(frame=3, bounds=(0, 0, 0, 0), center=(0, 0, 0, 0), pivot=(0, 0))])])
    # Damage and what no budget holds.
    base = one_frame(4, 3, 32, [layer("Only")], [dict(layer=0, pixels=noise(3, 4, 4))])
    s["h-frames-lie"] = dict(base, header_frames=5, refused=["fewer frames than it declared"])
    s["h-chunk-past-end"] = dict(base, cut=12, refused=["ends early"])
    s["h-zlib-bomb"] = one_frame(4, 3, 32, [layer("Only")], [dict(layer=0, pixels=noise(3, 4, 4), data=zlib.compress(bytes(256 << 20), 9))],
                                 refused=["damaged or incomplete"])
    s["h-huge-canvas"] = one_frame(65535, 65535, 32, [layer("Only")], [dict(layer=0, pixels=noise(1, 1, 4))], refused=["too large"])
    s["h-blend-40"] = one_frame(4, 3, 32, [layer("Only"), layer("Glow", blend=40)],
                                [dict(layer=0, pixels=noise(3, 4, 4)), dict(layer=1, pixels=noise(3, 4, 4))], refused=["40", "Glow"])
    s["h-external-tileset"] = dict(s["tilemap-flips"], tilesets=[dict(tw=3, th=3, tiles=tiles, flags=1)],
                                   extra=[(0, external_files(["tiles.aseprite"]))], refused=["tileset"])
    s["h-tile-past-tileset"] = dict(s["tilemap-flips"], frames=[dict(cels=[dict(layer=1, kind="tiles", tiles=[[1, 9]])])],
                                    refused=["damaged or incomplete"])
    s["h-link-later"] = dict(s["frames"], frames=[dict(cels=[dict(layer=0, kind="link", link=1)]),
                                                  dict(cels=[dict(layer=0, pixels=a)])], refused=["damaged or incomplete"])
    s["h-link-to-link"] = dict(s["frames"], frames=s["frames"]["frames"][:2] + [dict(cels=[dict(layer=1, kind="link", link=1), dict(layer=0, kind="link", link=1)])],
                               refused=["damaged or incomplete"])
    s["h-diagonal-non-square"] = dict(s["tilemap-flips"], tilesets=[dict(tw=3, th=2, tiles=[t[:2] for t in tiles])],
                                      frames=[dict(cels=[dict(layer=1, kind="tiles", tiles=[[1, 2 | FLIP_D]])])],
                                      refused=["damaged or incomplete"])
    s["h-link-to-no-cel"] = dict(s["frames"], frames=[dict(cels=[dict(layer=1, pixels=b)]), dict(cels=[dict(layer=0, kind="link", link=0)])],
                                 refused=["damaged or incomplete"])
    s["h-index-past-palette"] = dict(s["indexed-new"], frames=[dict(cels=[dict(layer=0, pixels=np.full((2, 2, 1), 9))])],
                                     refused=["damaged or incomplete"])
    return s


def cel_sha1(sprite, cel):
    """Of the cel's uncompressed data: its pixels, or its tiles' words; a link's, its target's."""
    if cel.get("kind") == "link":
        found = [c for c in sprite["frames"][cel["link"]]["cels"] if c["layer"] == cel["layer"]] if cel["link"] < len(sprite["frames"]) else []
        return cel_sha1(sprite, found[0]) if found and found[0].get("kind") != "link" else None
    if cel.get("kind") == "tiles":
        data = np.asarray(cel["tiles"], dtype=np.uint32).astype({8: "<u1", 16: "<u2", 32: "<u4"}[cel.get("bits", 32)]).tobytes()
    else:
        data = np.asarray(cel["pixels"], dtype=np.uint8).tobytes()
    return hashlib.sha1(data).hexdigest()


def facts(sprite):
    layers, shown = sprite["layers"], shown_layers(sprite)
    return {
        "size": [sprite["w"], sprite["h"]], "depth": sprite["depth"], "frames": len(sprite["frames"]),
        "durations": durations(sprite), "palette": len(sprite.get("palette", [])),
        "layers": [{"name": l["name"], "index": n, "shown": n in shown} for n, l in enumerate(layers) if l.get("type", 0) != 1],
        "all_layers": [{"name": l["name"], "type": l.get("type", 0), "flags": l.get("flags", 1), "level": l.get("level", 0),
                        "blend": l.get("blend", 0), "opacity": l.get("opacity", 255)} for l in layers],
        "stored_durations": [f.get("duration", 100) for f in sprite["frames"]],
        "cels": [[dict(layer=c["layer"], type=["raw", "link", "zlib", "tiles"].index(c.get("kind", "zlib")), x=c.get("x", 0),
                       y=c.get("y", 0), opacity=c.get("opacity", 255), link=c.get("link"), sha1=cel_sha1(sprite, c))
                  for c in f["cels"]] for f in sprite["frames"]],
        "palette_chunk": sprite.get("palette_kind", "new") if sprite.get("palette") else None,
        "tilesets": [dict(tiles=len(ts["tiles"]), tw=ts["tw"], th=ts["th"],
                          sha1=hashlib.sha1(np.concatenate([np.asarray(t, np.uint8) for t in ts["tiles"]]).tobytes()).hexdigest())
                     for ts in sprite.get("tilesets", [])],
        "tags": [{"name": t["name"], "from": t["from"], "to": t["to"], "repeat": t.get("repeat", 0),
                  "direction": ["forward", "reverse", "pingpong", "pingpongreverse"][t.get("direction", 0)]}
                 for t in sprite.get("tags", [])],
        "slices": [{"name": sl["name"], "keys": [{"frame": k["frame"], "bounds": list(k["bounds"]), "center": list(k.get("center", [])) or None,
                                                  "pivot": list(k.get("pivot", [])) or None} for k in sl["keys"]]}
                   for sl in sprite.get("slices", [])],
    }


def png(path, pixels):
    Image.fromarray(pixels, "RGBA").save(path)


def main(out):
    os.makedirs(out, exist_ok=True)
    manifest = {}
    for name, sprite in suite().items():
        data = write(sprite)
        if sprite.get("cut"):  # the last chunk says it is longer than what is left
            last = data.rfind(struct.pack("<H", 0x2005)) - 4
            data = data[:last] + struct.pack("<I", struct.unpack_from("<I", data, last)[0] + 4096) + data[last + 4:-sprite["cut"]]
        with open(os.path.join(out, name + ".aseprite"), "wb") as f:
            f.write(data)
        entry = dict(facts(sprite), file=name + ".aseprite", refused=sprite.get("refused"))
        if not entry["refused"]:
            for n in range(len(sprite["frames"])):
                png(os.path.join(out, "%s.f%d.png" % (name, n)), compose(sprite, n))
                for k in shown_layers(sprite):
                    png(os.path.join(out, "%s.l%d.f%d.png" % (name, k, n)), compose(sprite, n, only=k))
        else:
            try:
                if sprite["w"] * sprite["h"] > 1 << 24:
                    raise Damaged("too large")
                for n in range(len(sprite["frames"])):
                    compose(sprite, n)
                entry["compositor"] = "composes it"
            except (Damaged, IndexError) as e:
                entry["compositor"] = str(e)
        manifest[name] = entry
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1, sort_keys=True)


if __name__ == "__main__":
    main(sys.argv[1])

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
import io
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

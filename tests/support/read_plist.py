#!/usr/bin/python3
"""Reads a cocos2d sprite-frame plist of format 3 with Python's plistlib, not with corvane-strip's
code, and prints every frame name it answers to, with where its pixels are cut from the image
and where they go in the whole frame:  read_plist.py FILE.plist  ->  JSON on stdout; a message
and status 2 when it cannot.

Fields followed, as cocos2d's SpriteFrameCache reads them: the frame is cut at textureRect's
corner, spriteSize wide and high; spriteSourceSize is the whole frame's size; spriteOffset is
the offset of the cut rectangle's centre from the whole frame's centre, y pointing up; with
textureRotated the pixels are stored turned a quarter clockwise, spriteSize still the frame's own,
so that they cover spriteSize's height across and its width down; every name in aliases is the
same frame. Each frame's corners: the image's points under its top-left, top-right, bottom-right
and bottom-left corners, as a renderer maps them."""
import json
import plistlib
import re
import sys

NUMBER = r'\s*(-?\d+(?:\.\d+)?)\s*'
PAIR = re.compile(r'^\{' + NUMBER + ',' + NUMBER + r'\}$')
RECT = re.compile(r'^\{\{' + NUMBER + ',' + NUMBER + r'\},\{' + NUMBER + ',' + NUMBER + r'\}\}$')


def numbers(pattern, text):
    m = pattern.match(text)
    if not m:
        raise ValueError(f'{text!r} is not of the form the field takes')
    return [float(v) for v in m.groups()]


def whole(value, what):
    if value != int(value):
        raise ValueError(f'{what} {value} is not a whole pixel')
    return int(value)


def main(path):
    with open(path, 'rb') as f:
        plist = plistlib.load(f)
    meta = plist['metadata']
    if meta['format'] != 3:
        raise ValueError(f'format {meta["format"]}, not 3')
    size = numbers(PAIR, meta['size'])
    out = {'image': meta['textureFileName'], 'realImage': meta['realTextureFileName'],
           'width': whole(size[0], 'width'), 'height': whole(size[1], 'height'),
           'pixelFormat': meta['pixelFormat'], 'premultiplyAlpha': meta['premultiplyAlpha'], 'frames': {}}
    for name, frame in plist['frames'].items():
        x, y, _, _ = numbers(RECT, frame['textureRect'])
        w, h = numbers(PAIR, frame['spriteSize'])
        ow, oh = numbers(PAIR, frame['spriteSourceSize'])
        ox, oy = numbers(PAIR, frame['spriteOffset'])
        # The cut rectangle's top-left corner in the whole frame, y down.
        left = whole((ow - w) / 2 + ox, 'the left edge')
        top = whole((oh - h) / 2 - oy, 'the top edge')
        if frame['textureRotated']:  # the frame's top edge runs down the rectangle's right edge
            corners = [[x + h, y], [x + h, y + w], [x, y + w], [x, y]]
        else:
            corners = [[x, y], [x + w, y], [x + w, y + h], [x, y + h]]
        placed = {'x': whole(x, 'x'), 'y': whole(y, 'y'), 'w': whole(w, 'w'), 'h': whole(h, 'h'), 'corners': corners,
                  'ow': whole(ow, 'ow'), 'oh': whole(oh, 'oh'), 'left': left, 'top': top,
                  'rotated': frame['textureRotated'], 'alias': None}
        for n in [name] + frame['aliases']:
            if n in out['frames']:
                raise ValueError(f'{n!r} is named twice')
            out['frames'][n] = dict(placed, alias=None if n == name else name)
    json.dump(out, sys.stdout)


if __name__ == '__main__':
    try:
        main(sys.argv[1])
    except (OSError, KeyError, ValueError, plistlib.InvalidFileException) as e:
        print(f'read_plist.py: {sys.argv[1]}: {e!r}', file=sys.stderr)
        sys.exit(2)

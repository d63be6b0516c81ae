#!/usr/bin/python3
"""Reads a Godot 4 text resource holding SpriteFrames, by Godot's text grammar and not by
corvane-strip's code, and prints every animation with its frames resolved to an image and a
region:  read_tres.py FILE.tres  ->  JSON on stdout; a message and status 2 when it cannot.

Grammar followed: [section key=value ...] headers; key = value lines; values are numbers,
true/false/null, "strings" with backslash escapes, &"StringNames", arrays [..], dictionaries
{"key": value, ..}, and constructors Name(args) such as Rect2(), ExtResource(), SubResource()."""
import json
import re
import sys

TOKEN = re.compile(r'\s*(?:(?P<str>&?"(?:[^"\\]|\\.)*")|(?P<num>-?\d+(?:\.\d*)?(?:e-?\d+)?)'
                   r'|(?P<name>[A-Za-z_][A-Za-z0-9_]*)|(?P<punct>[\[\]{}(),:=]))', re.S)
ESCAPES = {'n': '\n', 't': '\t', 'r': '\r', 'b': '\b', 'f': '\f', '"': '"', '\\': '\\', "'": "'"}


def unquote(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\':
            e = text[i + 1]
            if e == 'u':
                out.append(chr(int(text[i + 2:i + 6], 16)))
                i += 6
                continue
            out.append(ESCAPES[e])
            i += 2
            continue
        out.append(c)
        i += 1
    return ''.join(out)


class Parser:
    def __init__(self, text):
        self.tokens, pos = [], 0
        while pos < len(text):
            m = TOKEN.match(text, pos)
            if not m or m.end() == pos:
                if text[pos:].strip() == '':
                    break
                raise ValueError('cannot read at %r' % text[pos:pos + 20])
            kind = m.lastgroup
            self.tokens.append((kind, m.group(kind)))
            pos = m.end()
        self.i = 0

    def peek(self):
        return self.tokens[self.i] if self.i < len(self.tokens) else (None, None)

    def take(self, want=None):
        tok = self.tokens[self.i]
        if want is not None and tok[1] != want:
            raise ValueError('expected %r, found %r' % (want, tok[1]))
        self.i += 1
        return tok

    def value(self):
        kind, text = self.take()
        if kind == 'str':
            if text.startswith('&'):
                return {'StringName': unquote(text[2:-1])}
            return unquote(text[1:-1])
        if kind == 'num':
            return float(text) if ('.' in text or 'e' in text) else int(text)
        if text == '[':
            items = []
            while self.peek()[1] != ']':
                items.append(self.value())
                if self.peek()[1] == ',':
                    self.take()
            self.take(']')
            return items
        if text == '{':
            items = {}
            while self.peek()[1] != '}':
                key = self.value()
                self.take(':')
                items[key] = self.value()
                if self.peek()[1] == ',':
                    self.take()
            self.take('}')
            return items
        if kind == 'name':
            if text in ('true', 'false'):
                return text == 'true'
            if text == 'null':
                return None
            self.take('(')
            args = []
            while self.peek()[1] != ')':
                args.append(self.value())
                if self.peek()[1] == ',':
                    self.take()
            self.take(')')
            return {text: args}
        raise ValueError('unexpected %r' % text)


def sections(text):
    """Each [header] with its attributes and the key = value pairs under it."""
    out = []
    for m in re.finditer(r'^\[([^\]\n]*)\]\s*$', text, re.M):
        out.append([m.start(), m.end()])
    result = []
    for n, (start, end) in enumerate(out):
        header = Parser(text[start + 1:end].strip()[:-1])
        kind = header.take()[1]
        attrs = {}
        while header.peek()[0]:
            key = header.take()[1]
            header.take('=')
            attrs[key] = header.value()
        body_end = out[n + 1][0] if n + 1 < len(out) else len(text)
        body = Parser(text[end:body_end])
        props = {}
        while body.peek()[0]:
            key = body.take()[1]
            body.take('=')
            props[key] = body.value()
        result.append((kind, attrs, props))
    return result


def main():
    text = open(sys.argv[1], encoding='utf-8').read()
    parts = sections(text)
    head = parts[0]
    if head[0] != 'gd_resource' or head[1].get('type') != 'SpriteFrames' or head[1].get('format') != 3:
        raise ValueError('not a SpriteFrames resource of format 3')
    ext = {a['id']: a for k, a, _ in parts if k == 'ext_resource'}
    sub = {a['id']: p for k, a, p in parts if k == 'sub_resource' and a.get('type') == 'AtlasTexture'}
    if head[1].get('load_steps') != len(ext) + len(sub) + 1:
        raise ValueError('load_steps is not the resources counted')
    resource = [p for k, _, p in parts if k == 'resource'][0]
    animations = []
    for anim in resource['animations']:
        frames = []
        for f in anim['frames']:
            texture = sub[f['texture']['SubResource'][0]]
            page = ext[texture['atlas']['ExtResource'][0]]
            if page.get('type') != 'Texture2D':
                raise ValueError('an atlas that is not a Texture2D')
            margin = texture.get('margin', {'Rect2': [0, 0, 0, 0]})['Rect2']
            frames.append({'image': page['path'], 'region': texture['region']['Rect2'], 'margin': margin,
                           'duration': f['duration']})
        animations.append({'name': anim['name']['StringName'], 'loop': anim['loop'], 'speed': anim['speed'],
                           'frames': frames})
    json.dump(animations, sys.stdout)


if __name__ == '__main__':
    try:
        main()
    except (ValueError, KeyError, IndexError, OSError) as e:
        print('%s: %s' % (sys.argv[1], e), file=sys.stderr)
        sys.exit(2)

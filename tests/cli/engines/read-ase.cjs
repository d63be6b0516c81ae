// Reads an Aseprite file with ase-parser, a reader that is not ours, and prints the structure it
// found as JSON: node read-ase.cjs FILE.aseprite
'use strict';
const fs = require('fs');
const crypto = require('crypto');
const Aseprite = require('ase-parser');

const file = process.argv[2];
const ase = new Aseprite(fs.readFileSync(file), require('path').basename(file));
ase.parse();
const flagBits = ['visible', 'editable', 'lockMovement', 'background', 'preferLinkedCels', 'collapsedGroup', 'reference'];
const sha1 = (b) => (b ? crypto.createHash('sha1').update(b).digest('hex') : null);
console.log(JSON.stringify({
    size: [ase.width, ase.height], depth: ase.colorDepth, frames: ase.numFrames,
    durations: ase.frames.map((f) => f.frameDuration),
    palette: ase.palette ? ase.palette.paletteSize : 0,
    layers: ase.layers.map((l) => ({ name: l.name, type: l.type, level: l.layerChildLevel, blend: l.blendMode,
                                    opacity: l.opacity, flags: flagBits.reduce((m, k, i) => m | (l.flags[k] ? 1 << i : 0), 0) })),
    cels: ase.frames.map((f) => f.cels.map((c) => ({ layer: c.layerIndex, type: c.celType, x: c.xpos, y: c.ypos, opacity: c.opacity,
                                                  link: c.link === undefined ? null : c.link, sha1: sha1(c.rawCelData) }))),
    tags: ase.tags.map((t) => ({ name: t.name, from: t.from, to: t.to, direction: t.animDirection, repeat: t.repeat })),
    slices: ase.slices.map((s) => ({ name: s.name, keys: s.keys.map((k) => ({
        frame: k.frameNumber, bounds: [k.x, k.y, k.width, k.height],
        center: k.patch ? [k.patch.x, k.patch.y, k.patch.width, k.patch.height] : null,
        pivot: k.pivot ? [k.pivot.x, k.pivot.y] : null })) })),
    tilesets: (ase.tilesets || []).map((t) => ({ tiles: t.tileCount, tw: t.tileWidth, th: t.tileHeight, sha1: sha1(t.rawTilesetData) })),
}));

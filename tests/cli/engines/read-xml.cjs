// Reads a Starling / Sparrow texture atlas with Phaser 3's own parser of it and prints what it found:
//   node read-xml.cjs PAGE.xml  ->  {"image": "...", "frames": {name: {x, y, w, h, tx, ty, ow, oh, frameX, frameY}}}
// Phaser's loader parses the XML with the browser's DOMParser and hands the document to
// Phaser.Textures.Parsers.AtlasXML; here the DOM is @xmldom/xmldom's, with the one thing a
// browser's DOM has that it lacks (an attribute found by name on element.attributes), and the
// image's size comes from its PNG header. Every frame: where it is cut from the page, the trim
// offset within its whole frame, the whole frame's size, and frameX and frameY as written.
'use strict';
const fs = require('fs');
const path = require('path');
const { DOMParser } = require('@xmldom/xmldom');

function pngSize(file) {
    const b = fs.readFileSync(file);
    return { width: b.readUInt32BE(16), height: b.readUInt32BE(20) };
}

require('./phaser-node.cjs');
const Texture = require('phaser/src/textures/Texture.js');
const AtlasXML = require('phaser/src/textures/parsers/AtlasXML.js');

try {
    const errors = [];
    const doc = new DOMParser({ onError: (level, message) => { if (level !== 'warning') errors.push(message); } })
        .parseFromString(fs.readFileSync(process.argv[2], 'utf8'), 'text/xml');
    if (errors.length)
        throw new Error(errors.join('; '));
    const atlas = doc.getElementsByTagName('TextureAtlas')[0];
    if (!atlas)
        throw new Error('no TextureAtlas element');
    const given = {}; // name -> frameX, frameY as written, which Phaser reads without their sign
    for (const element of Array.from(doc.getElementsByTagName('SubTexture'))) {
        for (const attribute of Array.from(element.attributes))
            element.attributes[attribute.name] = attribute;
        const raw = (n) => (element.hasAttribute(n) ? element.getAttribute(n) : null);
        given[element.getAttribute('name')] = { frameX: raw('frameX'), frameY: raw('frameY') };
    }
    const image = atlas.getAttribute('imagePath');
    const size = pngSize(path.join(path.dirname(process.argv[2]), image));
    const texture = new Texture({ game: { renderer: null, config: {} } }, 'atlas', [size], size.width, size.height);
    AtlasXML(texture, 0, doc);
    const frames = {};
    for (const name of texture.getFrameNames()) {
        const f = texture.get(name);
        const ss = f.data.spriteSourceSize;
        // Phaser 3.90's AtlasXML hands setTrim() the trimmed and the whole sizes the other way
        // round from its JSON parsers (phaserjs/phaser#7245): the whole size is then in
        // spriteSourceSize, and in sourceSize (realWidth) once that is mended. It is the larger.
        frames[name] = { x: f.cutX, y: f.cutY, w: f.cutWidth, h: f.cutHeight,
                         tx: f.data.trim ? ss.x : 0, ty: f.data.trim ? ss.y : 0,
                         ow: f.data.trim ? Math.max(f.realWidth, ss.w) : f.realWidth,
                         oh: f.data.trim ? Math.max(f.realHeight, ss.h) : f.realHeight, ...given[name] };
    }
    process.stdout.write(JSON.stringify({ image, frames }));
} catch (e) {
    console.error(e.stack || String(e));
    process.exit(2);
}

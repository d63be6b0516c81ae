// Reads a sheet's JSON with the engines' own code and prints what each of them found:
//   node read-sheet.cjs SHEET.json  ->  {"pixi": {...}, "phaser": {...}}
// PixiJS 8: its spritesheet loader, the one Assets uses. Phaser 3 cannot start a game under node
// without a browser, so its texture parsers (JSONHash, JSONArray, chosen as its texture manager
// chooses them) and its animation manager's createFromAseprite run on their own, with the few
// browser names they look up stubbed. Every frame: its page's image, rectangle, whole size,
// trim offset, pivot, whether it is turned, and the page's pixels under its top-left, top-right,
// bottom-right and bottom-left corners as the engine maps them (its uvs); PixiJS's sizes are in
// points, its pixels over the sheet's resolution.
'use strict';
const fs = require('fs');
const path = require('path');

// A page's size from its PNG header, as a browser would learn it.
function pngSize(file) {
    const b = fs.readFileSync(file);
    return { width: b.readUInt32BE(16), height: b.readUInt32BE(20) };
}

function pixiFrame(t) {
    return { image: path.basename(t.source.label), x: t.frame.x, y: t.frame.y, w: t.frame.width, h: t.frame.height,
             ow: t.orig.width, oh: t.orig.height, tx: t.trim ? t.trim.x : 0, ty: t.trim ? t.trim.y : 0,
             px: t.defaultAnchor ? t.defaultAnchor.x : null, py: t.defaultAnchor ? t.defaultAnchor.y : null,
             rotate: t.rotate, corners: [0, 1, 2, 3].map((k) => [t.uvs[`x${k}`] * t.source.width, t.uvs[`y${k}`] * t.source.height]) };
}

// PixiJS 8: its spritesheet loader, the one Assets uses, with the loader's fetches served from
// the folder: the pages' data files it follows (meta.related_multi_packs) and their images.
async function pixi(file) {
    globalThis.navigator ??= { userAgent: 'node' };
    const { spritesheetAsset, Texture, TextureSource } = await import('pixi.js');
    const loader = {
        async load(what) {
            if (Array.isArray(what)) {
                const out = {};
                for (const w of what)
                    out[w.src] = new Texture({ source: new TextureSource({ ...pngSize(w.src), resolution: 1, label: w.src }) });
                return out;
            }
            const json = JSON.parse(fs.readFileSync(what.src, 'utf8'));
            return spritesheetAsset.loader.parse(json, { src: what.src, data: what.data }, loader);
        },
    };
    const first = await loader.load({ src: file, data: {} });
    const frames = {}, animations = {};
    for (const sheet of [first, ...first.linkedSheets]) {
        for (const [name, t] of Object.entries(sheet.textures))
            frames[name] = pixiFrame(t);
        for (const [name, list] of Object.entries(sheet.animations))
            animations[name] = list.map((t) => Object.keys(sheet.textures).find((k) => sheet.textures[k] === t));
    }
    // The resolution its asset resolver reads from the file's name (@2x), to choose between
    // variants, and the one the sheet's frames are drawn at (meta.scale).
    const named = spritesheetAsset.resolver.parse(file).resolution;
    return { frames, animations, resolution: { named, drawn: first.resolution } };
}

// Phaser 3: its atlas parsers as its texture manager chooses them, a multi-atlas's pages as one
// texture of several sources; its animation helper reads the first page's frame tags.
function phaser(data) {
    require('./phaser-node.cjs');
    const Texture = require('phaser/src/textures/Texture.js');
    const JSONArray = require('phaser/src/textures/parsers/JSONArray.js');
    const JSONHash = require('phaser/src/textures/parsers/JSONHash.js');
    const AnimationManager = require('phaser/src/animations/AnimationManager.js');
    const pages = Array.isArray(data.textures) ? data.textures : [{ image: data.meta.image, size: data.meta.size }];
    const texture = new Texture({ game: { renderer: null, config: {} } }, 'sheet',
        pages.map((p) => ({ width: p.size.w, height: p.size.h })), pages[0].size.w, pages[0].size.h);
    for (let i = 0; i < pages.length; ++i)
        (Array.isArray(data.textures) || Array.isArray(data.frames) ? JSONArray : JSONHash)(texture, i, data);
    const frames = {};
    for (const name of texture.getFrameNames()) {
        const f = texture.get(name);
        const ss = f.data.spriteSourceSize;
        frames[name] = { image: pages[f.sourceIndex].image, x: f.cutX, y: f.cutY, w: f.cutWidth, h: f.cutHeight,
                         ow: f.realWidth, oh: f.realHeight, tx: f.data.trim ? ss.x : 0, ty: f.data.trim ? ss.y : 0,
                         px: f.customPivot ? f.pivotX : null, py: f.customPivot ? f.pivotY : null, rotated: f.rotated,
                         // batchQuad's corners: top-left u0 v0, bottom-left u0 v1, bottom-right u1 v1, top-right u1 v0
                         corners: [[f.u0, f.v0], [f.u1, f.v0], [f.u1, f.v1], [f.u0, f.v1]].map(([u, v]) => [u * f.source.width, v * f.source.height]) };
    }
    const anims = [];
    const manager = {
        game: { cache: { json: { get: () => data } } },
        textureManager: { get: () => texture, exists: () => true },
        create(config) { anims.push({ key: config.key, frames: config.frames.map((f) => [f.frame, f.duration]) }); return config; },
    };
    AnimationManager.prototype.createFromAseprite.call(manager, 'sheet');
    return { frames, anims };
}

(async () => {
    const data = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
    const out = { pixi: await pixi(path.resolve(process.argv[2])), phaser: phaser(data) };
    process.stdout.write(JSON.stringify(out));
})().catch((e) => {
    console.error(e.stack || String(e));
    process.exit(2);
});

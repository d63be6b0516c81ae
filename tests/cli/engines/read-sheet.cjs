// Reads a sheet's JSON with the engines' own code and prints what each of them found:
//   node read-sheet.cjs SHEET.json  ->  {"pixi": {...}, "phaser": {...}}
// PixiJS 8: its Spritesheet parser, the one Assets uses. Phaser 3 cannot start a game under node
// without a browser, so its texture parsers (JSONHash, JSONArray, chosen as its texture manager
// chooses them) and its animation manager's createFromAseprite run on their own, with the few
// browser names they look up stubbed.
'use strict';
const fs = require('fs');

async function pixi(data) {
    globalThis.navigator ??= { userAgent: 'node' };
    const { Spritesheet, Texture, TextureSource } = await import('pixi.js');
    const source = new TextureSource({ width: data.meta.size.w, height: data.meta.size.h, resolution: 1 });
    const sheet = new Spritesheet(new Texture({ source }), data);
    await sheet.parse();
    const frames = {};
    for (const [name, t] of Object.entries(sheet.textures))
        frames[name] = { x: t.frame.x, y: t.frame.y, w: t.frame.width, h: t.frame.height, ow: t.orig.width, oh: t.orig.height };
    const animations = {};
    for (const [name, list] of Object.entries(sheet.animations))
        animations[name] = list.map((t) => Object.keys(sheet.textures).find((k) => sheet.textures[k] === t));
    return { frames, animations };
}

function phaser(data) {
    globalThis.window = globalThis;
    globalThis.HTMLCanvasElement ??= class {};
    globalThis.HTMLImageElement ??= class {};
    globalThis.HTMLVideoElement ??= class {};
    globalThis.WEBGL_RENDERER = false;
    globalThis.CANVAS_RENDERER = true;
    const Texture = require('phaser/src/textures/Texture.js');
    const JSONArray = require('phaser/src/textures/parsers/JSONArray.js');
    const JSONHash = require('phaser/src/textures/parsers/JSONHash.js');
    const AnimationManager = require('phaser/src/animations/AnimationManager.js');
    const texture = new Texture({ game: { renderer: null, config: {} } }, 'sheet',
        [{ width: data.meta.size.w, height: data.meta.size.h }], data.meta.size.w, data.meta.size.h);
    (Array.isArray(data.frames) ? JSONArray : JSONHash)(texture, 0, data);
    const frames = {};
    for (const name of texture.getFrameNames()) {
        const f = texture.get(name);
        frames[name] = { x: f.cutX, y: f.cutY, w: f.cutWidth, h: f.cutHeight, ow: f.realWidth, oh: f.realHeight };
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
    const out = { pixi: await pixi(data), phaser: phaser(data) };
    process.stdout.write(JSON.stringify(out));
})().catch((e) => {
    console.error(e.stack || String(e));
    process.exit(2);
});

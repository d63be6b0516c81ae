// Reads a libGDX / Spine texture atlas with spine-core's own TextureAtlas and prints what it found:
//   node read-atlas.cjs SHEET.atlas  ->  {"pages": [{name, width, height}], "regions": [...]}
// Each region: its page's place, name, index, bounds, offsets from the frame's bottom-left
// corner and the frame's original size, as spine-core reads them.
'use strict';
const fs = require('fs');

(async () => {
    const { TextureAtlas } = await import('@esotericsoftware/spine-core');
    const atlas = new TextureAtlas(fs.readFileSync(process.argv[2], 'utf8'));
    const out = {
        pages: atlas.pages.map((p) => ({ name: p.name, width: p.width, height: p.height })),
        regions: atlas.regions.map((r) => ({
            page: atlas.pages.indexOf(r.page), name: r.name, index: r.index,
            x: r.x, y: r.y, w: r.width, h: r.height,
            offsetX: r.offsetX, offsetY: r.offsetY, ow: r.originalWidth, oh: r.originalHeight,
        })),
    };
    process.stdout.write(JSON.stringify(out));
})().catch((e) => {
    console.error(e.stack || String(e));
    process.exit(2);
});

// Reads a libGDX / Spine texture atlas with spine-core's own TextureAtlas and prints what it found:
//   node read-atlas.cjs SHEET.atlas  ->  {"pages": [{name, width, height, pma}], "regions": [...]}
// Each region: its page's place, name, index, bounds, offsets from the frame's bottom-left
// corner and the frame's original size, as spine-core reads them; its turn (degrees) and the
// page's pixels under its top-left, top-right, bottom-right and bottom-left corners, from the uvs
// a RegionAttachment computes for it.
'use strict';
const fs = require('fs');

(async () => {
    const { TextureAtlas, RegionAttachment } = await import('@esotericsoftware/spine-core');
    const corners = (r) => {
        const uvs = new Array(8), offset = new Array(8); // vertices bottom-left, top-left, top-right, bottom-right
        RegionAttachment.computeUVs(r, 0, 0, 1, 1, 0, r.originalWidth, r.originalHeight, offset, uvs);
        return [1, 2, 3, 0].map((k) => [uvs[2 * k] * r.page.width, uvs[2 * k + 1] * r.page.height]);
    };
    const atlas = new TextureAtlas(fs.readFileSync(process.argv[2], 'utf8'));
    const out = {
        pages: atlas.pages.map((p) => ({ name: p.name, width: p.width, height: p.height, pma: p.pma })),
        regions: atlas.regions.map((r) => ({
            page: atlas.pages.indexOf(r.page), name: r.name, index: r.index,
            x: r.x, y: r.y, w: r.width, h: r.height,
            offsetX: r.offsetX, offsetY: r.offsetY, ow: r.originalWidth, oh: r.originalHeight,
            degrees: r.degrees, corners: corners(r),
        })),
    };
    process.stdout.write(JSON.stringify(out));
})().catch((e) => {
    console.error(e.stack || String(e));
    process.exit(2);
});

// The few browser names Phaser 3's texture and animation modules touch when they load, stubbed so
// that its own parsers run under node; required before any Phaser module.
'use strict';
globalThis.window = globalThis;
globalThis.HTMLCanvasElement ??= class {};
globalThis.HTMLImageElement ??= class {};
globalThis.HTMLVideoElement ??= class {};
globalThis.WEBGL_RENDERER = false;
globalThis.CANVAS_RENDERER = true;

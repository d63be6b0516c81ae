#!/bin/sh
# Makes workload w6: the penguin frames of Debian's frozen-bubble-data (gfx/pinguins/*_NNNN.png,
# 2364 RGBA frames of 80 x 60 and 32 x 24, some of them 16-bit), fetched once with
# `apt-get download`. Every contender gets the same 8-bit RGBA copies, img_0001.png .. in the
# order of the original names (libvips whitens 16-bit frames when it joins them and refuses a
# mix of grey, RGB and RGBA files); the originals stay beside them in w6-original/.
# Usage: make-w6.sh OUTDIR     exit status 3 (with a message) when the package cannot be fetched
set -e
out=${1:?usage: make-w6.sh OUTDIR}
[ -f "$out/w6/.done" ] && exit 0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if ! (cd "$tmp" && apt-get download frozen-bubble-data >/dev/null 2>&1); then
    echo "w6 skipped: Debian's frozen-bubble-data cannot be fetched (apt-get download frozen-bubble-data)" >&2
    exit 3
fi
dpkg -x "$tmp"/frozen-bubble-data_*.deb "$tmp/x"
rm -rf "$out/w6" "$out/w6-original"
mkdir -p "$out/w6" "$out/w6-original"
/usr/bin/python3 - "$tmp/x/usr/share/games/frozen-bubble/gfx/pinguins" "$out" <<'PY'
import glob, os, shutil, sys
from PIL import Image
frames = sorted(glob.glob(os.path.join(sys.argv[1], "*_[0-9][0-9][0-9][0-9].png")))
for i, f in enumerate(frames, 1):
    shutil.copy(f, os.path.join(sys.argv[2], "w6-original", os.path.basename(f)))
    with Image.open(f) as im:
        im.convert("RGBA").save(os.path.join(sys.argv[2], "w6", f"img_{i:04d}.png"))
print(f"w6: {len(frames)} frames")
PY
touch "$out/w6/.done"

"""Checks one variant's sheet of corvane-strip against a resize of its own (numpy, integers).

    variantcheck.py SHEET.json NUM DEN CELL ANCHOR PICTURE...   (frames named by the pictures' file names)

Each frame of the JSON (hash layout), cut from its page with Pillow, must be its picture
resized by NUM/DEN: a side of N pixels becomes round(N * NUM / DEN), halves up, at least 1;
enlarged by repeating pixels, reduced by averaging over areas, alpha the mean of the covered
area and colours the mean weighted by alpha, each rounded half up. The resized picture sits in
its whole frame: its own size (CELL own, a packed layout), or the grid's cell, the first or the
largest resized picture (CELL first or max), where ANCHOR (top-left or center) puts it. What
trimming cut off must be fully transparent. Prints nothing and exits 0 when every frame agrees; exits 77 without
numpy; else prints the first difference and exits 1."""
import json
import os
import sys

try:
    import numpy as np
except ImportError:
    print("numpy is not installed (Debian's python3-numpy)")
    sys.exit(77)
from PIL import Image


def side(n, num, den):
    return max(1, (2 * n * num + den) // (2 * den))


def overlaps(n_from, n_to):
    """n_to x n_from matrix: how much of output pixel i source pixel j covers, with source
    pixels n_to long and output pixels n_from long."""
    out_lo = np.arange(n_to, dtype=np.int64)[:, None] * n_from
    src_lo = np.arange(n_from, dtype=np.int64)[None, :] * n_to
    cover = np.minimum(out_lo + n_from, src_lo + n_to) - np.maximum(out_lo, src_lo)
    return np.clip(cover, 0, None)


def resized(rgba, num, den):
    h, w = rgba.shape[:2]
    if num >= den:
        n = num // den
        return np.repeat(np.repeat(rgba, n, axis=0), n, axis=1)
    oh, ow = side(h, num, den), side(w, num, den)
    wy, wx = overlaps(h, oh), overlaps(w, ow)
    a = rgba[:, :, 3].astype(np.int64)
    alpha_sum = wy @ a @ wx.T
    out = np.zeros((oh, ow, 4), dtype=np.int64)
    out[:, :, 3] = (2 * alpha_sum + w * h) // (2 * w * h)
    seen = alpha_sum > 0
    for c in range(3):
        colour_sum = wy @ (rgba[:, :, c].astype(np.int64) * a) @ wx.T
        out[:, :, c] = np.where(seen, (2 * colour_sum + alpha_sum) // np.maximum(2 * alpha_sum, 1), 0)
    out[~seen] = 0
    return out.astype(np.uint8)


def main():
    data_path, num, den, cell, anchor = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
    pictures = sys.argv[6:]
    data = json.load(open(data_path))
    folder = os.path.dirname(data_path)
    pages = {data["meta"]["image"]: data}
    for other in data["meta"].get("related_multi_packs", []):
        more = json.load(open(os.path.join(folder, other)))
        pages[more["meta"]["image"]] = more
    frames = {}
    for page in pages.values():
        for name, f in page["frames"].items():
            frames[name] = (page["meta"]["image"], f)
    names = [os.path.basename(p) for p in pictures]  # frames are named by their files
    if sorted(names) != sorted(frames):
        print(f"frames {sorted(frames)} in the data, pictures {sorted(names)} given")
        return 1
    sheets = {image: np.array(Image.open(os.path.join(folder, image)).convert("RGBA")) for image in pages}
    resized_all = [resized(np.array(Image.open(p).convert("RGBA")), num, den) for p in pictures]
    n = num // den if num >= den else 1
    if cell == "first":
        grid = resized_all[0].shape[:2]
    elif cell == "max":
        grid = tuple(max(r.shape[k] for r in resized_all) for k in (0, 1))
    for name, picture in zip(names, resized_all):
        image, f = frames[name]
        whole = picture.shape[:2] if cell == "own" else grid
        size = f["sourceSize"]
        if (size["h"], size["w"]) != tuple(whole):
            print(f"{name}: whole size {size['w']}x{size['h']}, want {whole[1]}x{whole[0]}")
            return 1
        # Centred in the frame's unscaled pixels, then enlarged; floored when it does not fit.
        offset = [((whole[k] - picture.shape[k]) // n // 2) * n if anchor == "center" else 0 for k in (0, 1)]
        want = np.zeros((whole[0], whole[1], 4), dtype=np.uint8)
        ys, xs = max(offset[0], 0), max(offset[1], 0)
        part = picture[ys - offset[0]:, xs - offset[1]:][:whole[0] - ys, :whole[1] - xs]
        want[ys:ys + part.shape[0], xs:xs + part.shape[1]] = part
        r, s = f["frame"], f["spriteSourceSize"]
        got = sheets[image][r["y"]:r["y"] + r["h"], r["x"]:r["x"] + r["w"]]
        shown = want[s["y"]:s["y"] + s["h"], s["x"]:s["x"] + s["w"]]
        outside = want.copy()
        outside[s["y"]:s["y"] + s["h"], s["x"]:s["x"] + s["w"]] = 0
        if outside[:, :, 3].any():
            print(f"{name}: trimming cut off visible pixels")
            return 1
        # Two fully transparent pixels agree whatever their colours.
        differ = np.any(got != shown, axis=2) & ~((got[:, :, 3] == 0) & (shown[:, :, 3] == 0))
        if differ.any():
            y, x = map(int, np.argwhere(differ)[0])
            print(f"{name} ({image}, {r}): at {x},{y} of its shown part {tuple(got[y, x])}, want {tuple(shown[y, x])}")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

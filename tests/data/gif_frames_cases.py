"""Writes the animated GIFs (and one animated WebP) of the frame composition
test into OUTDIR, and beside each frame k of case.gif the frame as Pillow
composes it, laid over white: case.gif.k.rgb (width x height x 3 bytes)."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_gif import gif  # noqa: E402
from PIL import Image  # noqa: E402

# Entry 0, the background, is white in every table: Pillow fills a cleared
# area with entry 0 of the cleared frame's table, browsers make it
# transparent, which is white once laid over it. No first frame restores
# (Pillow keeps it, browsers clear it).
COLOURS = [(255, 255, 255), (0, 0, 0), (255, 0, 0), (0, 0, 255), (0, 255, 0), (200, 100, 50)]


def frames(disposal):
    return [
        dict(left=0, top=0, w=8, h=6, pixels=[2] * 48, disposal=1, delay=5),
        dict(left=2, top=1, w=4, h=3, pixels=[3, 0, 3, 3, 3, 3, 0, 3, 4, 4, 4, 4], disposal=disposal,
             transparent=0),
        dict(left=5, top=3, w=3, h=3, pixels=[1, 0, 1, 0, 1, 0, 5, 1, 1], transparent=0, disposal=disposal,
             colours=[(255, 255, 255), (10, 20, 30), (0, 0, 0), (0, 0, 0), (0, 0, 0), (250, 250, 0)]),
        dict(left=1, top=4, w=5, h=2, pixels=[5, 1, 0, 1, 5, 1, 5, 1, 5, 0], transparent=0),
    ]


CASES = {"dispose%d" % d: gif(10, 8, COLOURS, frames(d), loops=0) for d in (0, 1, 2, 3)}
# Restore after restore, and a frame without transparency over all.
CASES["restore"] = gif(10, 8, COLOURS, [
    dict(left=0, top=0, w=10, h=8, pixels=[4] * 80, disposal=1),
    dict(left=3, top=3, w=4, h=4, pixels=[1] * 16, disposal=3),
    dict(left=2, top=2, w=4, h=4, pixels=[0, 5] * 8, transparent=0, disposal=3),
    dict(left=0, top=0, w=4, h=4, pixels=[2, 0] * 8, transparent=0, disposal=2),
    dict(left=6, top=4, w=4, h=4, pixels=[3] * 16),
])

out = sys.argv[1]
paths = []
for name, data in CASES.items():
    paths.append(os.path.join(out, name + ".gif"))
    with open(paths[-1], "wb") as f:
        f.write(data)
# Lossless frames, opaque or transparent, the later ones smaller than the
# canvas (the library blends and disposes them).
frames = [Image.new("RGBA", (12, 9), (255, 255, 255, 0)) for _ in range(3)]
for k, frame in enumerate(frames):
    for y in range(9):
        for x in range(12):
            if (x + k * 3) % 5 < 2 or y == k:
                frame.putpixel((x, y), (40 * k, 200 - 50 * k, 90, 255))
paths.append(os.path.join(out, "blend.webp"))
frames[0].save(paths[-1], save_all=True, append_images=frames[1:], duration=[50, 70, 90], lossless=True, loop=0)
for path in paths:
    image = Image.open(path)
    for k in range(image.n_frames):
        image.seek(k)
        white = Image.new("RGBA", image.size, (255, 255, 255, 255))
        white.alpha_composite(image.convert("RGBA"))
        with open("%s.%d.rgb" % (path, k + 1), "wb") as f:
            f.write(white.convert("RGB").tobytes())

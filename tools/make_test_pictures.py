#!/usr/bin/env python3
"""Pictures the window tests load: solid-colour button faces and a half-transparent PNG.

usage: make_test_pictures.py OUT_DIR
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "assets"))

import raster  # noqa: E402

# One colour per face, so a pixel tells which face a button shows.
FACES = {"n": (200, 0, 0), "h": (0, 200, 0), "p": (0, 0, 200), "d": (200, 200, 0)}


def main(argv):
    if len(argv) != 2:
        print("usage: make_test_pictures.py OUT_DIR", file=sys.stderr)
        return 2
    out = argv[1]
    try:
        for name, rgb in FACES.items():
            raster.write_ico(os.path.join(out, name + ".ico"), raster.Canvas(40, 40, background=rgb))
        raster.write_ico(os.path.join(out, "small.ico"), raster.Canvas(24, 24, background=(90, 120, 200)))
        # 4 x 2: the left half fully transparent, the right half opaque red
        half = raster.Canvas(4, 2)
        half.fill_rect(2, 0, 4, 2, (255, 0, 0))
        raster.write_png(os.path.join(out, "half.png"), half)
    except OSError as e:
        print("make_test_pictures: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

"""The default theme under UI/Themes/Default/: the two pattern-brush tiles.

Frame.bmp paints the title bar, button bars, menus and dialog frame;
Content.bmp the panels and the menu's left strip. Both are small opaque
24-bit tiles (a pattern brush repeats them) with a faint woven texture so a
large surface does not look flat.
"""

import os

import raster as R

FRAME = (35, 37, 42)
CONTENT = (47, 51, 58)


def _tile(base, size=8):
    c = R.Canvas(size, size, background=base)
    # a one-pixel diagonal weave, barely visible: light on one diagonal,
    # dark on the other
    for i in range(size):
        c.fill_rect(i, i, i + 1, i + 1, "#ffffff0a")
        c.fill_rect(size - 1 - i, i, size - i, i + 1, "#0000000c")
    return c


def generate(out_dir):
    folder = os.path.join(out_dir, "UI", "Themes", "Default")
    R.write_bmp(os.path.join(folder, "Frame.bmp"), _tile(FRAME), bits=24)
    R.write_bmp(os.path.join(folder, "Content.bmp"), _tile(CONTENT), bits=24)

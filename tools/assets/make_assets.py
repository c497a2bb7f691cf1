#!/usr/bin/env python3
"""Make the program's theme and icon files.

usage: make_assets.py OUT_DIR [--contact-sheet PNG]

Runs generate(out_dir) of every module in this folder that defines one, in
sorted file order.  Modules write through raster.write_png/_bmp/_ico, which
records each picture; --contact-sheet draws all of them on one PNG, grouped
by folder, each on a checkerboard so that transparency shows.
"""

import importlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import raster  # noqa: E402


def run_generators(out_dir):
    for name in sorted(os.listdir(HERE)):
        if not name.endswith(".py") or name in ("make_assets.py", "raster.py"):
            continue
        module = importlib.import_module(name[:-3])
        generate = getattr(module, "generate", None)
        if callable(generate):
            generate(out_dir)


def _checker(width, height, cell=4):
    c = raster.Canvas(width, height, background=(44, 46, 52))
    for y in range(0, height, cell):
        for x in range((y // cell % 2) * cell, width, 2 * cell):
            c.fill_rect(x, y, x + cell, y + cell, (36, 38, 43))
    return c


def contact_sheet(out_dir, path, width=900):
    """Every written picture at its own size (wider ones shrunk to fit),
    one row per folder, on a dark sheet."""
    pad = 6
    items = []
    for file_path, canvases in raster.written:
        rel = os.path.relpath(file_path, out_dir)
        for c in canvases:
            if c.width > width - 2 * pad:
                c = c.scaled(width - 2 * pad, max(1, c.height * (width - 2 * pad) // c.width))
            items.append((os.path.dirname(rel), c))
    rows = []
    for folder, c in items:
        if not rows or rows[-1][0] != folder or rows[-1][1] + c.width + pad > width - pad:
            rows.append([folder, pad, 0, []])
        row = rows[-1]
        row[3].append((row[1], c))
        row[1] += c.width + pad
        row[2] = max(row[2], c.height)
    height = pad + sum(r[2] + pad for r in rows) + pad * len(rows)
    sheet = raster.Canvas(width, max(height, 1), background=(28, 29, 33))
    y = pad
    for folder, _, row_height, cells in rows:
        for x, c in cells:
            sheet.composite(_checker(c.width, c.height), x, y)
            sheet.composite(c, x, y)
        y += row_height + 2 * pad
        sheet.fill_rect(0, y - pad - 1, width, y - pad, (60, 62, 70))
    data = raster.encode_png(sheet)
    d = os.path.dirname(path)
    if d:
        os.makedirs(d, exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    args = argv[1:]
    sheet = None
    if "--contact-sheet" in args:
        i = args.index("--contact-sheet")
        if i + 1 >= len(args):
            print("make_assets: --contact-sheet needs a file name", file=sys.stderr)
            return 2
        sheet = args[i + 1]
        del args[i : i + 2]
    if len(args) != 1:
        print("usage: make_assets.py OUT_DIR [--contact-sheet PNG]", file=sys.stderr)
        return 2
    out_dir = args[0]
    try:
        os.makedirs(out_dir, exist_ok=True)
        run_generators(out_dir)
        if sheet:
            contact_sheet(out_dir, sheet)
    except (OSError, ValueError) as e:
        print("make_assets: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

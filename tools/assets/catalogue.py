"""The program's effect catalogue under Effects/: one category, "Voices", whose
one group leads to a content file per voice, each with its 80 x 60 picture;
and UI/SelectedMark.ico, the mark the entry list draws over a selected entry.

Each content file's [Content] IID is the number the effect stage maps to the
voice.  The panel lists entries newest first, so the files' modification times
fix the order the user sees: most used first.  The times are a fixed moment a
few seconds apart on even seconds, so a zip (2 s steps) keeps the order too.
"""

import math
import os
import sys

import raster as R

# (caption, effect number), in the order the panel shows them.
VOICES = (
    ("Male2Female", 5),
    ("FemaletoMale", 3),
    ("Baby", 1),
    ("Elder", 2),
    ("Robot", 4),
    ("Monster", 6),
    ("Ghost", 7),
    ("Strange Voice", 8),
)
NEWEST = 1767225600  # 2026-01-01 00:00:00 UTC
STEP_SECONDS = 4
CONTENT_EXT = ".qvc"
PICTURE_EXT = ".png"
W, H = 80, 60

CATEGORY = (
    "[Effect]\r\n"
    "Name=Voices\r\n"
    "ThumbNail=Voices.ico\r\n"
    "Index=1\r\n"
    "ItemCount=1\r\n"
    "MaxUse=1\r\n"
    "[A1]\r\n"
    "File=Voices\r\n"
    "IID={6E3B1F52-9C4D-4A7E-8F21-5D0C9B7A3E64}\r\n"
    "ContentDir=Voices\r\n"
    "ContentExt=" + CONTENT_EXT + "\r\n"
    "ThumbNail=" + PICTURE_EXT + "\r\n"
)


def _backdrop(top, bottom):
    c = R.Canvas(W, H)
    c.fill_rect(0, 0, W, H, R.LinearGradient(0, 0, 0, H, [(0, top), (1, bottom)]))
    return c


def _face(c, cx, cy, r, skin="#f2c9a0"):
    c.circle(cx, cy, r, skin)


def _eyes(c, cx, cy, dx, r, col="#2a2a2a"):
    c.circle(cx - dx, cy, r, col)
    c.circle(cx + dx, cy, r, col)


def _mars(c, cx, cy, col):
    c.stroke_ellipse(cx, cy, 8, 8, 3, col)
    c.line(cx + 5.5, cy - 5.5, cx + 12, cy - 12, 3, col, cap="round")
    c.polygon([(cx + 14, cy - 14), (cx + 6, cy - 13), (cx + 13, cy - 6)], col)


def _venus(c, cx, cy, col):
    c.stroke_ellipse(cx, cy - 4, 8, 8, 3, col)
    c.line(cx, cy + 4, cx, cy + 15, 3, col)
    c.line(cx - 5, cy + 10, cx + 5, cy + 10, 3, col)


def _arrow(c, x0, x1, y, col):
    c.line(x0, y, x1 - 4, y, 3, col, cap="round")
    c.polygon([(x1, y), (x1 - 7, y - 5), (x1 - 7, y + 5)], col)


def male_to_female():
    c = _backdrop("#5b8fd6", "#e07bb5")
    _mars(c, 18, 34, "#1d3f8a")
    _arrow(c, 33, 47, 30, "#ffffff")
    _venus(c, 62, 30, "#a0195e")
    return c


def female_to_male():
    c = _backdrop("#e07bb5", "#5b8fd6")
    _venus(c, 16, 28, "#a0195e")
    _arrow(c, 30, 44, 30, "#ffffff")
    _mars(c, 56, 36, "#1d3f8a")
    return c


def baby():
    c = _backdrop("#fde8a8", "#f6b8c8")
    _face(c, 40, 31, 21)
    c.polyline([(36, 11), (40, 7), (44, 11)], 2, "#8a5a2b")  # the one curl
    _eyes(c, 40, 27, 8, 3)
    c.circle(27, 35, 3.5, "#f4a0a0")
    c.circle(53, 35, 3.5, "#f4a0a0")
    c.ellipse(40, 42, 8, 3.2, "#5cc6e8")  # pacifier shield
    c.circle(40, 42, 2.5, "#e85c9a")
    return c


def elder():
    c = _backdrop("#c9d3dc", "#8c99a6")
    _face(c, 40, 27, 17, "#e8bf98")
    c.polygon([(24, 30), (56, 30), (48, 56), (40, 58), (32, 56)], "#f4f4f4")  # beard
    c.ellipse(40, 33, 9, 3, "#dcdcdc")  # moustache
    for x in (33, 47):
        c.stroke_ellipse(x, 24, 5, 4, 1.6, "#3a3a3a")  # spectacles
    c.line(38, 24, 42, 24, 1.6, "#3a3a3a")
    _eyes(c, 40, 24, 7, 1.5)
    c.polyline([(24, 16), (32, 12), (40, 11), (48, 12), (56, 16)], 3, "#f0f0f0")
    return c


def robot():
    c = _backdrop("#3b4b5e", "#1c2430")
    c.line(40, 4, 40, 12, 2, "#aab4c0")
    c.circle(40, 5, 3, "#ff5a4a")
    c.rounded_rect(20, 12, 60, 52, 5, "#aab4c0")
    c.rounded_rect(23, 15, 57, 49, 4, "#c8d0da")
    c.fill_rect(27, 21, 37, 30, "#36e0ff")
    c.fill_rect(43, 21, 53, 30, "#36e0ff")
    c.fill_rect(28, 38, 52, 45, "#4a5666")
    for x in range(31, 52, 4):
        c.fill_rect(x, 38, x + 1.5, 45, "#c8d0da")
    c.fill_rect(15, 26, 20, 38, "#8a96a4")
    c.fill_rect(60, 26, 65, 38, "#8a96a4")
    return c


def monster():
    c = _backdrop("#4a1e5a", "#1a0a22")
    c.polygon([(22, 18), (16, 2), (30, 12)], "#e8e0c8")  # horns
    c.polygon([(58, 18), (64, 2), (50, 12)], "#e8e0c8")
    c.ellipse(40, 33, 24, 23, "#5fb83a")
    c.polygon([(26, 20), (38, 25), (26, 27)], "#2e6a1a")  # brows
    c.polygon([(54, 20), (42, 25), (54, 27)], "#2e6a1a")
    c.circle(32, 29, 4, "#ffe14a")
    c.circle(48, 29, 4, "#ffe14a")
    c.circle(32, 29, 1.6, "#000000")
    c.circle(48, 29, 1.6, "#000000")
    c.ellipse(40, 44, 14, 7, "#3a0d0d")
    for x0 in (29, 45):
        c.polygon([(x0, 38), (x0 + 6, 38), (x0 + 3, 47)], "#ffffff")  # fangs
    return c


def ghost():
    c = _backdrop("#1e2a4a", "#0b1020")
    c.circle(62, 12, 6, "#f4f0c8")  # moon
    body = R.ellipse_points(38, 26, 17, 18, math.pi, 2 * math.pi, n=24)
    body += [(55, 50), (50, 45), (46, 52), (41, 46), (36, 53), (31, 46), (26, 52), (21, 45)]
    c.polygon(body, "#f2f4ff")
    c.ellipse(32, 25, 3, 4.5, "#1a1a2a")
    c.ellipse(44, 25, 3, 4.5, "#1a1a2a")
    c.ellipse(38, 35, 4, 5, "#1a1a2a")  # the "oooh"
    return c


def strange_voice():
    c = _backdrop("#2a7a6a", "#5a2a8a")
    spiral = [
        (40 + 2.2 * t * math.cos(t), 30 + 2.2 * t * math.sin(t))
        for t in [i * 0.25 for i in range(0, 46)]
    ]
    c.polyline(spiral, 2.5, "#f8e04a")
    for k, r in enumerate((28, 33)):
        arc = R.ellipse_points(40, 30, r, r * 0.9, -0.5 + k * 0.1, 0.5 - k * 0.1, n=10)
        c.polyline(arc, 2, "#ffffff")
        arc = R.ellipse_points(40, 30, r, r * 0.9, math.pi - 0.5 + k * 0.1, math.pi + 0.5 - k * 0.1, n=10)
        c.polyline(arc, 2, "#ffffff")
    return c


PICTURES = {
    "Male2Female": male_to_female,
    "FemaletoMale": female_to_male,
    "Baby": baby,
    "Elder": elder,
    "Robot": robot,
    "Monster": monster,
    "Ghost": ghost,
    "Strange Voice": strange_voice,
}


def category_icon(size):
    """A microphone with sound waves, drawn for `size` x `size` pixels."""
    c = R.Canvas(size, size)
    s = size / 24.0
    c.rounded_rect(8.5 * s, 2 * s, 15.5 * s, 14 * s, 3.5 * s, "#e8ecf2")
    c.polyline(R.ellipse_points(12 * s, 10 * s, 6 * s, 6 * s, 0, math.pi, n=12), 1.6 * s, "#e8ecf2")
    c.line(12 * s, 16 * s, 12 * s, 20 * s, 1.6 * s, "#e8ecf2")
    c.line(8 * s, 21 * s, 16 * s, 21 * s, 1.6 * s, "#e8ecf2")
    for r in (8.5, 11.0):
        for mid in (0, math.pi):
            arc = R.ellipse_points(12 * s, 7 * s, r * s, r * s, mid - 0.45, mid + 0.45, n=8)
            c.polyline(arc, 1.3 * s, "#6fb4ff")
    return c


def selected_mark():
    """The mark over a selected entry's picture corner: a green disc with a white tick."""
    c = R.Canvas(32, 32)
    c.circle(11, 11, 10, "#1f7a33")
    c.circle(11, 11, 9, "#2fb344")
    c.polyline([(6, 11.5), (9.5, 15), (16, 7.5)], 2.6, "#ffffff")
    return c


def _write_text(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text.encode("ascii"))


def generate(out_dir):
    effects = os.path.join(out_dir, "Effects")
    voices = os.path.join(effects, "Voices")
    _write_text(os.path.join(effects, "Voices.cef"), CATEGORY)
    R.write_ico(os.path.join(effects, "Voices.ico"), [category_icon(n) for n in (16, 24, 32)])
    # Compiled into the program as its icon resource 134.
    R.write_ico(os.path.join(out_dir, "UI", "SelectedMark.ico"), [selected_mark()])
    for order, (caption, number) in enumerate(VOICES):
        content = os.path.join(voices, caption + CONTENT_EXT)
        _write_text(content, "[Content]\r\nIID=%d\r\n" % number)
        R.write_png(os.path.join(voices, caption + PICTURE_EXT), PICTURES[caption]())
        when = NEWEST - order * STEP_SECONDS
        os.utime(content, (when, when))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print("usage: catalogue.py OUT_DIR", file=sys.stderr)
        sys.exit(2)
    try:
        generate(sys.argv[1])
    except (OSError, ValueError) as e:
        print("catalogue.py: %s" % e, file=sys.stderr)
        sys.exit(1)

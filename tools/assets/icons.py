"""The button faces under UI/Buttons/: one icon file per face, each at the
size of its button's rectangle.

All faces share one look: a glyph on a rounded plate that is invisible at
rest, lifts on hover and sinks when pressed, over the dark frame pattern.
"""

import math
import os

import raster as R

GLYPH = {"normal": "#aeb5c2", "hot": "#ffffff", "pressed": "#9cc3f5"}
PLATE = {
    "normal": None,
    "hot": [(0, "#4a5262"), (1, "#343a46")],
    "pressed": [(0, "#15171b"), (1, "#22252c")],
}
PLATE_EDGE = {"normal": None, "hot": "#6a7488", "pressed": "#0c0d10"}
FACES = (("Normal", "normal"), ("HighLight", "hot"), ("Pressed", "pressed"))


def _plate(c, face, x0, y0, x1, y1, radius, hot_stops=None):
    stops = PLATE[face] if not (face == "hot" and hot_stops) else hot_stops
    if not stops:
        return
    c.rounded_rect(x0, y0, x1, y1, radius, PLATE_EDGE[face])
    c.rounded_rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, radius - 1, R.LinearGradient(0, y0, 0, y1, stops))


def _shift(face):
    # a pressed glyph sinks by half a pixel, enough to read as pushed in
    return 0.5 if face == "pressed" else 0.0


def help_face(face):
    c = R.Canvas(20, 20)
    _plate(c, face, 0, 0, 20, 20, 10)
    col = GLYPH[face]
    d = _shift(face)
    if face == "normal":
        c.stroke_ellipse(10, 10 + d, 8.2, 8.2, 1.4, col)
    arc = R.ellipse_points(10, 7.6 + d, 3.0, 2.8, math.pi * 1.05, math.pi * 2.25, n=14)
    arc.append((10, 11.6 + d))
    c.polyline(arc, 1.9, col)
    c.circle(10, 14.6 + d, 1.25, col)
    return c


def minimize_face(face):
    c = R.Canvas(24, 24)
    _plate(c, face, 1, 1, 23, 23, 5)
    d = _shift(face)
    c.rounded_rect(6.5, 15 + d, 17.5, 17.2 + d, 1.0, GLYPH[face])
    return c


def close_face(face):
    c = R.Canvas(24, 24)
    hot = [(0, "#d8453a"), (1, "#a9271d")]
    if face == "pressed":
        c.rounded_rect(1, 1, 23, 23, 5, "#5c120c")
        c.rounded_rect(2, 2, 22, 22, 4, R.LinearGradient(0, 2, 0, 22, [(0, "#7a1810"), (1, "#9a2218")]))
    else:
        _plate(c, face, 1, 1, 23, 23, 5, hot_stops=hot)
    col = GLYPH[face] if face != "pressed" else "#ffd8d4"
    d = _shift(face)
    c.line(7.5, 7.5 + d, 16.5, 16.5 + d, 2.0, col, cap="round")
    c.line(16.5, 7.5 + d, 7.5, 16.5 + d, 2.0, col, cap="round")
    return c


def menu_face(face):
    c = R.Canvas(32, 32)
    _plate(c, face, 2, 2, 30, 30, 6)
    d = _shift(face)
    for y in (10.5, 16, 21.5):
        c.line(9, y + d, 23, y + d, 2.4, GLYPH[face], cap="round")
    return c


def _microphone(c, cx, cy, scale, col, op="over"):
    """A capsule on a U-shaped holder with a stem and a foot; (cx, cy) is the
    capsule's centre, scale 1 = 20 px tall."""
    s = scale
    c.rounded_rect(cx - 3.2 * s, cy - 7 * s, cx + 3.2 * s, cy + 3.5 * s, 3.2 * s, col, op=op)
    holder = R.ellipse_points(cx, cy + 0.5 * s, 5.4 * s, 5.6 * s, 0, math.pi, n=24)
    c.polyline(holder, 1.5 * s, col, op=op)
    c.line(cx, cy + 6.1 * s, cx, cy + 9 * s, 1.5 * s, col, op=op)
    c.line(cx - 3.4 * s, cy + 9.3 * s, cx + 3.4 * s, cy + 9.3 * s, 1.6 * s, col, cap="round", op=op)


def capture_face(face):
    """The record button: a red disc holding a microphone in a dark bezel.
    Hover brightens the disc; a press sinks the bezel and lights the disc."""
    c = R.Canvas(42, 42)
    c.circle(21, 21, 20.5, R.LinearGradient(0, 0, 0, 42, [(0, "#5b6170"), (1, "#16181c")]))
    bezel = [(0, "#23262d"), (1, "#3a3f4a")] if face != "pressed" else [(0, "#0d0e11"), (1, "#1f2228")]
    c.circle(21, 21, 19, R.LinearGradient(0, 2, 0, 40, bezel))
    disc = {
        "normal": [(0, "#e0453c"), (0.7, "#a8201a"), (1, "#7d1410")],
        "hot": [(0, "#ff6a5e"), (0.7, "#d12c22"), (1, "#9a1a13")],
        "pressed": [(0, "#ff8a7a"), (0.5, "#ff3b2f"), (1, "#b01d14")],
    }[face]
    d = 0.6 if face == "pressed" else 0.0
    if face == "pressed":
        c.circle(21, 21 + d, 16.5, "#ff3b2f40")
    c.circle(21, 21 + d, 15, R.RadialGradient(18, 16 + d, 19, disc))
    # the lamp's gloss on the upper half
    if face != "pressed":
        c.ellipse(21, 13.5, 9.5, 5, "#ffffff30")
    mic = {"normal": "#f4f4f4", "hot": "#ffffff", "pressed": "#fff4e0"}[face]
    c.stroke_ellipse(21, 21 + d, 15, 15, 0.8, "#00000060")
    _microphone(c, 21, 19.5 + d, 0.95, mic)
    return c


def record_time_face():
    """The plate behind the elapsed-time caption (drawn by the bar on top)."""
    c = R.Canvas(80, 24)
    c.rounded_rect(0.5, 0.5, 79.5, 23.5, 5, "#0c0d10")
    c.rounded_rect(1.5, 1.5, 78.5, 22.5, 4, R.LinearGradient(0, 1, 0, 23, [(0, "#15171b"), (1, "#22252b")]))
    c.circle(8.5, 12, 2.6, "#e0453c")
    c.circle(8.5, 12, 4.2, "#e0453c30")
    return c


def register_face(face):
    """The device button: a wide plate with a microphone on the left and a
    drop-down chevron on the right, the caption centred between them. Drawn
    at 400 x 30 and stored at 256 x 19 (an icon image cannot be wider than
    256 px); the icon loader stretches it back to the button."""
    c = R.Canvas(400, 30)
    plate = {
        "normal": [(0, "#3a3f4a"), (1, "#2a2e36")],
        "hot": [(0, "#4b5363"), (1, "#353b47")],
        "pressed": [(0, "#1a1c21"), (1, "#262a31")],
    }[face]
    edge = {"normal": "#15171b", "hot": "#6a7488", "pressed": "#0a0b0d"}[face]
    c.rounded_rect(0.5, 0.5, 399.5, 29.5, 6, edge)
    c.rounded_rect(1.5, 1.5, 398.5, 28.5, 5, R.LinearGradient(0, 1, 0, 29, plate))
    col = GLYPH[face]
    d = _shift(face)
    _microphone(c, 18, 13.5 + d, 0.85, col)
    c.polyline([(378, 12 + d), (383, 17 + d), (388, 12 + d)], 2.2, col)
    c.fill_rect(30, 7, 31, 23, "#ffffff18")
    c.fill_rect(367, 7, 368, 23, "#ffffff18")
    return c.scaled(256, 19)


def faces():
    """(relative path, canvas) for every face file."""
    out = []
    for folder, draw in (
        ("Help", help_face),
        ("Minimize", minimize_face),
        ("close", close_face),
        ("Menu", menu_face),
        ("DoCapture", capture_face),
        ("Register", register_face),
    ):
        for name, face in FACES:
            out.append((os.path.join(folder, name + ".ico"), draw(face)))
    out.append(("RecordTime.ico", record_time_face()))
    return out


def generate(out_dir):
    base = os.path.join(out_dir, "UI", "Buttons")
    for rel, canvas in faces():
        R.write_ico(os.path.join(base, rel), canvas)

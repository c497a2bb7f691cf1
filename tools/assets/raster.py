"""A small RGBA canvas with anti-aliased vector drawing and picture writers.

Standard library only, so the build needs nothing beyond Python 3.

Drawing model
-------------
Every shape becomes one or more closed contours (lists of (x, y) points in
pixel units; pixel (i, j) covers [i, i+1) x [j, j+1)).  Coverage is computed
per pixel with exact horizontal span area and `Canvas.ss` sub-rows vertically,
then the paint is composited source-over (or erased, op="erase").  Colours are
(r, g, b) or (r, g, b, a) tuples of 0..255, or "#rrggbb" / "#rrggbbaa" strings.
A paint is a colour or any object with `at(x, y) -> (r, g, b, a)` floats 0..1
evaluated at pixel centres (LinearGradient, RadialGradient).

The canvas stores premultiplied floats; writers un-premultiply to 8 bits.

Every file written through write_png / write_bmp / write_ico is recorded in
`written` as (path, [canvas, ...]) so that make_assets.py can draw the contact
sheet of everything a run produced.

Stable API (other generator modules depend on it):
  Canvas(w, h, background=None, ss=8)
    .fill_rect(x0, y0, x1, y1, paint, op="over")
    .rounded_rect(x0, y0, x1, y1, radius, paint, op="over")
    .ellipse(cx, cy, rx, ry, paint, op="over") / .circle(cx, cy, r, paint, op)
    .polygon(points, paint, op="over", rule="nonzero")
    .path(contours, paint, op="over", rule="nonzero" | "evenodd" | "union")
    .line(x0, y0, x1, y1, width, paint, cap="butt" | "round" | "square", op)
    .polyline(points, width, paint, closed=False, cap="round", op)
    .stroke_rect / .stroke_rounded_rect / .stroke_ellipse(..., width, paint, op)
    .composite(src, dx=0, dy=0, opacity=1.0)
    .scaled(w, h) -> Canvas (area-averaged)
    .get_pixel(x, y) -> (r, g, b, a) bytes
    .rgba_bytes() -> bytes (rows top-down)
  LinearGradient(x0, y0, x1, y1, stops), RadialGradient(cx, cy, r, stops)
    stops: [(t, colour), ...] with t in 0..1 ascending
  colour(c) -> (r, g, b, a) floats 0..1; mix(c1, c2, t) -> (r, g, b, a) bytes
  encode_png(canvas), encode_bmp(canvas, bits=32), encode_ico(canvases, png_from=256)
  write_png(path, canvas), write_bmp(path, canvas, bits=32),
  write_ico(path, canvases, png_from=256)
  written: list of (path, [canvas, ...])
"""

import math
import os
import struct
import zlib

written = []


# --- colours and paints -----------------------------------------------------


def colour(c):
    """Any colour form -> straight (r, g, b, a) floats in 0..1."""
    if isinstance(c, str):
        h = c.lstrip("#")
        if len(h) not in (6, 8):
            raise ValueError("colour must be #rrggbb or #rrggbbaa: %r" % c)
        vals = [int(h[i : i + 2], 16) for i in range(0, len(h), 2)]
        if len(vals) == 3:
            vals.append(255)
        return tuple(v / 255.0 for v in vals)
    if len(c) == 3:
        return (c[0] / 255.0, c[1] / 255.0, c[2] / 255.0, 1.0)
    if len(c) == 4:
        return (c[0] / 255.0, c[1] / 255.0, c[2] / 255.0, c[3] / 255.0)
    raise ValueError("colour needs 3 or 4 components: %r" % (c,))


def mix(c1, c2, t):
    """Straight blend of two colours, t=0 gives c1; result in bytes."""
    a = colour(c1)
    b = colour(c2)
    return tuple(int(round(255 * (a[i] + (b[i] - a[i]) * t))) for i in range(4))


def _stops(stops):
    out = [(float(t), colour(c)) for t, c in stops]
    if not out:
        raise ValueError("a gradient needs at least one stop")
    return out


def _sample_stops(stops, t):
    if t <= stops[0][0]:
        return stops[0][1]
    for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
        if t <= t1:
            f = 0.0 if t1 <= t0 else (t - t0) / (t1 - t0)
            return tuple(c0[i] + (c1[i] - c0[i]) * f for i in range(4))
    return stops[-1][1]


class LinearGradient:
    """Colour varies along the line from (x0, y0) at t=0 to (x1, y1) at t=1."""

    def __init__(self, x0, y0, x1, y1, stops):
        self.x0, self.y0 = x0, y0
        dx, dy = x1 - x0, y1 - y0
        d2 = dx * dx + dy * dy
        self.ux, self.uy = (dx / d2, dy / d2) if d2 else (0.0, 0.0)
        self.stops = _stops(stops)

    def at(self, x, y):
        t = (x - self.x0) * self.ux + (y - self.y0) * self.uy
        return _sample_stops(self.stops, t)


class RadialGradient:
    """Colour varies with distance from (cx, cy): t=0 at the centre, 1 at r."""

    def __init__(self, cx, cy, r, stops, ry=None):
        self.cx, self.cy = cx, cy
        self.rx = float(r)
        self.ry = float(ry if ry is not None else r)
        self.stops = _stops(stops)

    def at(self, x, y):
        t = math.hypot((x - self.cx) / self.rx, (y - self.cy) / self.ry)
        return _sample_stops(self.stops, t)


# --- geometry helpers ------------------------------------------------------


def _signed_area(pts):
    a = 0.0
    n = len(pts)
    for i in range(n):
        x0, y0 = pts[i]
        x1, y1 = pts[(i + 1) % n]
        a += x0 * y1 - x1 * y0
    return a / 2.0


def _segments(r):
    return max(12, int(math.ceil(2 * math.pi * r / 0.75)))


def ellipse_points(cx, cy, rx, ry, start=0.0, end=2 * math.pi, n=None):
    """Points on an ellipse arc (angles in radians, y down, 0 = +x)."""
    if n is None:
        n = max(3, int(_segments(max(rx, ry)) * abs(end - start) / (2 * math.pi)))
    return [
        (
            cx + rx * math.cos(start + (end - start) * i / n),
            cy + ry * math.sin(start + (end - start) * i / n),
        )
        for i in range(n + 1)
    ]


def rounded_rect_points(x0, y0, x1, y1, radius):
    r = max(0.0, min(radius, (x1 - x0) / 2.0, (y1 - y0) / 2.0))
    if r <= 0:
        return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]
    q = math.pi / 2
    pts = []
    pts += ellipse_points(x1 - r, y0 + r, r, r, -q, 0)
    pts += ellipse_points(x1 - r, y1 - r, r, r, 0, q)
    pts += ellipse_points(x0 + r, y1 - r, r, r, q, 2 * q)
    pts += ellipse_points(x0 + r, y0 + r, r, r, 2 * q, 3 * q)
    return pts


def _line_quad(x0, y0, x1, y1, width, cap):
    dx, dy = x1 - x0, y1 - y0
    length = math.hypot(dx, dy)
    if length == 0:
        return None
    ux, uy = dx / length, dy / length
    h = width / 2.0
    if cap == "square":
        x0, y0, x1, y1 = x0 - ux * h, y0 - uy * h, x1 + ux * h, y1 + uy * h
    nx, ny = -uy * h, ux * h
    return [(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)]


# --- the canvas ------------------------------------------------------------


class Canvas:
    def __init__(self, width, height, background=None, ss=8):
        if width <= 0 or height <= 0:
            raise ValueError("canvas size must be positive")
        self.width = int(width)
        self.height = int(height)
        self.ss = int(ss)
        self.px = [0.0] * (4 * self.width * self.height)
        if background is not None:
            self.fill_rect(0, 0, self.width, self.height, background)

    # coverage ------------------------------------------------------------

    def _coverage(self, contours, rule):
        """Yield (y, {x: coverage}) for every touched pixel row."""
        edges = []
        for pts in contours:
            n = len(pts)
            if n < 3:
                continue
            for i in range(n):
                xa, ya = pts[i]
                xb, yb = pts[(i + 1) % n]
                if ya == yb:
                    continue
                d = 1 if yb > ya else -1
                if ya > yb:
                    xa, ya, xb, yb = xb, yb, xa, ya
                edges.append((ya, yb, xa, (xb - xa) / (yb - ya), d))
        if not edges:
            return
        W, H, ss = self.width, self.height, self.ss
        ymin = max(0, int(math.floor(min(e[0] for e in edges))))
        ymax = min(H, int(math.ceil(max(e[1] for e in edges))))
        w = 1.0 / ss
        for y in range(ymin, ymax):
            active = [e for e in edges if e[0] < y + 1 and e[1] > y]
            if not active:
                continue
            cov = {}
            for s in range(ss):
                sy = y + (s + 0.5) * w
                xs = []
                for ya, yb, xa, slope, d in active:
                    if ya <= sy < yb:
                        xs.append((xa + (sy - ya) * slope, d))
                if not xs:
                    continue
                xs.sort()
                wind = 0
                for k in range(len(xs) - 1):
                    wind += xs[k][1]
                    inside = (wind & 1) if rule == "evenodd" else (wind != 0)
                    if not inside:
                        continue
                    xa = max(0.0, xs[k][0])
                    xb = min(float(W), xs[k + 1][0])
                    if xb <= xa:
                        continue
                    ia = int(xa)
                    ib = int(xb)
                    if ia == ib:
                        cov[ia] = cov.get(ia, 0.0) + (xb - xa) * w
                        continue
                    cov[ia] = cov.get(ia, 0.0) + (ia + 1 - xa) * w
                    for i in range(ia + 1, ib):
                        cov[i] = cov.get(i, 0.0) + w
                    if ib < W and xb > ib:
                        cov[ib] = cov.get(ib, 0.0) + (xb - ib) * w
            if cov:
                yield y, cov

    def _paint(self, contours, paint, op, rule):
        if rule == "union":
            contours = [p if _signed_area(p) >= 0 else p[::-1] for p in contours if len(p) >= 3]
            rule = "nonzero"
        solid = None if hasattr(paint, "at") else colour(paint)
        px = self.px
        W = self.width
        for y, cov in self._coverage(contours, rule):
            base = 4 * W * y
            for x, c in cov.items():
                if c <= 0.0:
                    continue
                if c > 1.0:
                    c = 1.0
                r, g, b, a = solid if solid is not None else paint.at(x + 0.5, y + 0.5)
                a *= c
                if a <= 0.0:
                    continue
                i = base + 4 * x
                if op == "erase":
                    k = 1.0 - a
                    px[i] *= k
                    px[i + 1] *= k
                    px[i + 2] *= k
                    px[i + 3] *= k
                else:
                    k = 1.0 - a
                    px[i] = r * a + px[i] * k
                    px[i + 1] = g * a + px[i + 1] * k
                    px[i + 2] = b * a + px[i + 2] * k
                    px[i + 3] = a + px[i + 3] * k

    # shapes --------------------------------------------------------------

    def path(self, contours, paint, op="over", rule="nonzero"):
        self._paint([list(c) for c in contours], paint, op, rule)

    def polygon(self, points, paint, op="over", rule="nonzero"):
        self._paint([list(points)], paint, op, rule)

    def fill_rect(self, x0, y0, x1, y1, paint, op="over"):
        self.polygon([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], paint, op)

    def rounded_rect(self, x0, y0, x1, y1, radius, paint, op="over"):
        self.polygon(rounded_rect_points(x0, y0, x1, y1, radius), paint, op)

    def ellipse(self, cx, cy, rx, ry, paint, op="over"):
        self.polygon(ellipse_points(cx, cy, rx, ry)[:-1], paint, op)

    def circle(self, cx, cy, r, paint, op="over"):
        self.ellipse(cx, cy, r, r, paint, op)

    def line(self, x0, y0, x1, y1, width, paint, cap="butt", op="over"):
        contours = []
        quad = _line_quad(x0, y0, x1, y1, width, cap)
        if quad:
            contours.append(quad)
        if cap == "round":
            for cx, cy in ((x0, y0), (x1, y1)):
                contours.append(ellipse_points(cx, cy, width / 2.0, width / 2.0)[:-1])
        self._paint(contours, paint, op, "union")

    def polyline(self, points, width, paint, closed=False, cap="round", op="over"):
        """A stroked path with round joins; the whole stroke is one coverage
        (overlaps at joins are not painted twice)."""
        pts = list(points)
        if closed:
            pts.append(pts[0])
        contours = []
        for (xa, ya), (xb, yb) in zip(pts, pts[1:]):
            quad = _line_quad(xa, ya, xb, yb, width, "square" if cap == "square" else "butt")
            if quad:
                contours.append(quad)
        joins = pts[1:-1] if not closed else pts
        if cap == "round" and not closed:
            joins = pts
        for cx, cy in joins:
            contours.append(ellipse_points(cx, cy, width / 2.0, width / 2.0)[:-1])
        self._paint(contours, paint, op, "union")

    def stroke_rect(self, x0, y0, x1, y1, width, paint, op="over"):
        """An outline inside the rectangle's bounds."""
        outer = [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]
        inner = [(x0 + width, y0 + width), (x1 - width, y0 + width), (x1 - width, y1 - width), (x0 + width, y1 - width)]
        self._paint([outer, inner], paint, op, "evenodd")

    def stroke_rounded_rect(self, x0, y0, x1, y1, radius, width, paint, op="over"):
        outer = rounded_rect_points(x0, y0, x1, y1, radius)
        inner = rounded_rect_points(x0 + width, y0 + width, x1 - width, y1 - width, max(0.0, radius - width))
        self._paint([outer, inner], paint, op, "evenodd")

    def stroke_ellipse(self, cx, cy, rx, ry, width, paint, op="over"):
        """Ring centred on the ellipse outline."""
        h = width / 2.0
        outer = ellipse_points(cx, cy, rx + h, ry + h)[:-1]
        inner = ellipse_points(cx, cy, max(0.0, rx - h), max(0.0, ry - h))[:-1]
        self._paint([outer, inner], paint, op, "evenodd")

    # whole-canvas operations ----------------------------------------------

    def composite(self, src, dx=0, dy=0, opacity=1.0):
        """Draw another canvas source-over at an integer offset."""
        for sy in range(src.height):
            y = sy + dy
            if y < 0 or y >= self.height:
                continue
            for sx in range(src.width):
                x = sx + dx
                if x < 0 or x >= self.width:
                    continue
                j = 4 * (sy * src.width + sx)
                a = src.px[j + 3] * opacity
                if a <= 0.0:
                    continue
                i = 4 * (y * self.width + x)
                k = 1.0 - a
                p = self.px
                p[i] = src.px[j] * opacity + p[i] * k
                p[i + 1] = src.px[j + 1] * opacity + p[i + 1] * k
                p[i + 2] = src.px[j + 2] * opacity + p[i + 2] * k
                p[i + 3] = a + p[i + 3] * k

    def scaled(self, width, height):
        """Area-averaged resample (correct for shrinking, smooth for growing)."""
        out = Canvas(width, height, ss=self.ss)
        fx = self.width / float(width)
        fy = self.height / float(height)
        for y in range(height):
            sy0, sy1 = y * fy, (y + 1) * fy
            for x in range(width):
                sx0, sx1 = x * fx, (x + 1) * fx
                acc = [0.0, 0.0, 0.0, 0.0]
                total = 0.0
                for j in range(int(sy0), min(self.height, int(math.ceil(sy1)))):
                    wy = min(sy1, j + 1) - max(sy0, j)
                    if wy <= 0:
                        continue
                    for i in range(int(sx0), min(self.width, int(math.ceil(sx1)))):
                        wx = min(sx1, i + 1) - max(sx0, i)
                        if wx <= 0:
                            continue
                        wgt = wx * wy
                        k = 4 * (j * self.width + i)
                        for c in range(4):
                            acc[c] += self.px[k + c] * wgt
                        total += wgt
                if total > 0:
                    k = 4 * (y * width + x)
                    for c in range(4):
                        out.px[k + c] = acc[c] / total
        return out

    def copy(self):
        c = Canvas(self.width, self.height, ss=self.ss)
        c.px = list(self.px)
        return c

    def get_pixel(self, x, y):
        i = 4 * (y * self.width + x)
        a = self.px[i + 3]
        if a <= 0.0:
            return (0, 0, 0, 0)
        return tuple(_byte(self.px[i + c] / a) for c in range(3)) + (_byte(a),)

    def rgba_bytes(self):
        out = bytearray(4 * self.width * self.height)
        p = self.px
        for i in range(0, len(p), 4):
            a = p[i + 3]
            if a <= 0.0:
                continue
            out[i] = _byte(p[i] / a)
            out[i + 1] = _byte(p[i + 1] / a)
            out[i + 2] = _byte(p[i + 2] / a)
            out[i + 3] = _byte(a)
        return bytes(out)


def _byte(v):
    v = int(v * 255.0 + 0.5)
    return 0 if v < 0 else 255 if v > 255 else v


# --- encoders --------------------------------------------------------------


def encode_png(canvas):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    rgba = canvas.rgba_bytes()
    stride = 4 * canvas.width
    raw = bytearray()
    for y in range(canvas.height):
        raw.append(0)
        raw += rgba[y * stride : (y + 1) * stride]
    ihdr = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", ihdr)
        + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + chunk(b"IEND", b"")
    )


def _dib_rows(canvas, bits):
    """Bottom-up BGR(A) rows padded to 4 bytes."""
    rgba = canvas.rgba_bytes()
    rows = []
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray()
        for x in range(canvas.width):
            i = 4 * (y * canvas.width + x)
            r, g, b, a = rgba[i : i + 4]
            if bits == 32:
                row += bytes((b, g, r, a))
            else:
                # opaque output: composite over black
                row += bytes(((b * a + 127) // 255, (g * a + 127) // 255, (r * a + 127) // 255))
        row += b"\0" * ((-len(row)) % 4)
        rows.append(bytes(row))
    return b"".join(rows)


def encode_bmp(canvas, bits=32):
    """BITMAPFILEHEADER + BITMAPINFOHEADER (BI_RGB), 24- or 32-bit."""
    if bits not in (24, 32):
        raise ValueError("bits must be 24 or 32")
    pixels = _dib_rows(canvas, bits)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, bits, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + pixels


def _ico_dib(canvas):
    xor = _dib_rows(canvas, 32)
    rgba = canvas.rgba_bytes()
    mask_stride = ((canvas.width + 31) // 32) * 4
    mask = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(canvas.width):
            if rgba[4 * (y * canvas.width + x) + 3] == 0:
                row[x >> 3] |= 0x80 >> (x & 7)
        mask += row
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, 2 * canvas.height, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + xor + bytes(mask)


def encode_ico(canvases, png_from=256):
    """An icon file holding one image per canvas: 32-bit BGRA DIB with an AND
    mask, or PNG for images whose larger side is at least png_from."""
    if isinstance(canvases, Canvas):
        canvases = [canvases]
    images = []
    for c in canvases:
        if c.width > 256 or c.height > 256:
            raise ValueError("an icon image cannot exceed 256 px: %dx%d" % (c.width, c.height))
        images.append(encode_png(c) if max(c.width, c.height) >= png_from else _ico_dib(c))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack("<BBBBHHII", c.width % 256, c.height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


# --- writers ---------------------------------------------------------------


def _write(path, data, canvases):
    d = os.path.dirname(path)
    if d:
        os.makedirs(d, exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)
    written.append((path, list(canvases)))


def write_png(path, canvas):
    _write(path, encode_png(canvas), [canvas])


def write_bmp(path, canvas, bits=32):
    _write(path, encode_bmp(canvas, bits), [canvas])


def write_ico(path, canvases, png_from=256):
    if isinstance(canvases, Canvas):
        canvases = [canvases]
    _write(path, encode_ico(canvases, png_from), canvases)

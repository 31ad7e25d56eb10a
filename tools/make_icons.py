#!/usr/bin/env python3
"""Draws the program's pictures into resources/res/ as RGBA PNG files.

Standard library only. Every shape is a signed distance function in a
100 x 100 design space; a pixel's coverage is taken from the distance at its
centre (clamped to one pixel of ramp), which gives clean anti-aliased edges
at any output size. Run again after changing a drawing:

    python3 tools/make_icons.py [output-dir]

Pass --sheet FILE to also write a magnified contact sheet of all pictures on
the window's dark background, for checking them by eye.
"""

import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------- PNG output


def png_bytes(width, height, rgba_rows):
    """rgba_rows: list of bytearrays of width*4 bytes each."""
    raw = bytearray()
    for row in rgba_rows:
        raw.append(0)  # filter: none
        raw += row

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            chunk(b"IEND", b""))


# ------------------------------------------------------------ distance shapes
# A shape is a function (x, y) -> signed distance in design units, negative
# inside. Design space is 100 x 100 with y pointing down.


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ellipse(cx, cy, rx, ry):
    # Good-enough distance: exact on the axes, slightly off elsewhere.
    k = min(rx, ry)
    return lambda x, y: (math.hypot((x - cx) / rx, (y - cy) / ry) - 1.0) * k


def box(x0, y0, x1, y1, r=0.0):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def f(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r

    return f


def segment(ax, ay, bx, by, w):
    """Capsule of half-width w around the segment a-b."""
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy

    def f(x, y):
        px, py = x - ax, y - ay
        t = 0.0 if ll == 0 else max(0.0, min(1.0, (px * dx + py * dy) / ll))
        return math.hypot(px - dx * t, py - dy * t) - w

    return f


def polyline(points, w):
    segs = [segment(points[i][0], points[i][1], points[i + 1][0], points[i + 1][1], w) for i in range(len(points) - 1)]
    return union(*segs)


def polygon(points):
    pts = list(points)
    n = len(pts)

    def f(x, y):
        d = float("inf")
        inside = False
        j = n - 1
        for i in range(n):
            xi, yi = pts[i]
            xj, yj = pts[j]
            ex, ey = xj - xi, yj - yi
            wx, wy = x - xi, y - yi
            ll = ex * ex + ey * ey
            t = 0.0 if ll == 0 else max(0.0, min(1.0, (wx * ex + wy * ey) / ll))
            bx, by = wx - ex * t, wy - ey * t
            d = min(d, bx * bx + by * by)
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                inside = not inside
            j = i
        d = math.sqrt(d)
        return -d if inside else d

    return f


def arc(cx, cy, r, a0, a1, w):
    """Stroke of half-width w along a circle arc from angle a0 to a1 (degrees,
    0 = +x, counter-clockwise as seen on screen, i.e. towards -y)."""
    a0r, a1r = math.radians(a0), math.radians(a1)
    span = (a1r - a0r) % (2 * math.pi)
    e0 = (cx + r * math.cos(a0r), cy - r * math.sin(a0r))
    e1 = (cx + r * math.cos(a1r), cy - r * math.sin(a1r))

    def f(x, y):
        ang = math.atan2(-(y - cy), x - cx)
        if (ang - a0r) % (2 * math.pi) <= span:
            return abs(math.hypot(x - cx, y - cy) - r) - w
        return min(math.hypot(x - e0[0], y - e0[1]), math.hypot(x - e1[0], y - e1[1])) - w

    return f


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def intersect(*shapes):
    return lambda x, y: max(s(x, y) for s in shapes)


def subtract(a, *bs):
    return lambda x, y: max(a(x, y), max(-b(x, y) for b in bs))


def outline(shape, w):
    """A band of half-width w centred on the shape's edge."""
    return lambda x, y: abs(shape(x, y)) - w


def grow(shape, d):
    return lambda x, y: shape(x, y) - d


def rotate(shape, deg, cx, cy):
    a = math.radians(deg)
    c, s = math.cos(a), math.sin(a)

    def f(x, y):
        dx, dy = x - cx, y - cy
        # Inverse rotation of the sample point (screen clockwise for deg > 0).
        return shape(cx + c * dx + s * dy, cy - s * dx + c * dy)

    return f


def translate(shape, tx, ty):
    return lambda x, y: shape(x - tx, y - ty)


def bezier(p0, p1, p2, p3, steps=16):
    pts = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        pts.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0],
                    u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return pts


# ------------------------------------------------------------------- colours


def rgb(r, g, b, a=255):
    return (r / 255.0, g / 255.0, b / 255.0, a / 255.0)


def vgrad(y0, c0, y1, c1):
    """Vertical gradient paint from colour c0 at y0 to c1 at y1."""

    def paint(x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(c0[i] + (c1[i] - c0[i]) * t for i in range(4))

    return paint


def lgrad(x0, y0, c0, x1, y1, c1):
    dx, dy = x1 - x0, y1 - y0
    ll = dx * dx + dy * dy

    def paint(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / ll))
        return tuple(c0[i] + (c1[i] - c0[i]) * t for i in range(4))

    return paint


# -------------------------------------------------------------------- canvas


class Canvas:

    def __init__(self, size):
        self.size = size
        self.scale = size / 100.0
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]  # straight RGBA

    def fill(self, shape, paint, bounds=None):
        """Composite `paint` (a colour tuple or a function of design x, y)
        over the canvas inside `shape`. bounds (x0, y0, x1, y1) in design
        units limits the pixels looked at."""
        n, s = self.size, self.scale
        if bounds is None:
            ix0, iy0, ix1, iy1 = 0, 0, n, n
        else:
            ix0 = max(0, int(math.floor(bounds[0] * s)) - 1)
            iy0 = max(0, int(math.floor(bounds[1] * s)) - 1)
            ix1 = min(n, int(math.ceil(bounds[2] * s)) + 1)
            iy1 = min(n, int(math.ceil(bounds[3] * s)) + 1)
        solid = paint if isinstance(paint, tuple) else None
        for iy in range(iy0, iy1):
            y = (iy + 0.5) / s
            row = iy * n
            for ix in range(ix0, ix1):
                x = (ix + 0.5) / s
                d = shape(x, y) * s
                if d >= 0.5:
                    continue
                cov = 1.0 if d <= -0.5 else 0.5 - d
                c = solid if solid is not None else paint(x, y)
                a = c[3] * cov
                if a <= 0.0:
                    continue
                p = self.px[row + ix]
                da = p[3]
                oa = a + da * (1.0 - a)
                if oa > 0.0:
                    for k in range(3):
                        p[k] = (c[k] * a + p[k] * da * (1.0 - a)) / oa
                p[3] = oa

    def rows(self):
        out = []
        n = self.size
        for iy in range(n):
            row = bytearray()
            for ix in range(n):
                p = self.px[iy * n + ix]
                a = max(0.0, min(1.0, p[3]))
                if a <= 0.0:
                    row += b"\0\0\0\0"
                    continue
                row += bytes(int(round(max(0.0, min(1.0, p[k])) * 255)) for k in range(3))
                row.append(int(round(a * 255)))
            out.append(row)
        return out


# ---------------------------------------------------------- shared drawings

WHITE = rgb(255, 255, 255)
SHADOW = rgb(0, 0, 0, 70)


def drop_shadow(c, shape, dy=2.5, bounds=None):
    c.fill(translate(grow(shape, 0.5), 0, dy), SHADOW, bounds)


def digit_one(cx, top, bottom, w):
    h = bottom - top
    return union(segment(cx, top, cx, bottom, w), segment(cx, top, cx - h * 0.28, top + h * 0.24, w))


def digit_two(cx, top, bottom, w):
    h = bottom - top
    r = h * 0.26
    cy = top + r + w * 0.2
    # Upper bowl, then a straight stroke down to the left end of the base.
    bowl = arc(cx, cy, r, -40, 160, w)
    start = (cx + r * math.cos(math.radians(-40)), cy - r * math.sin(math.radians(-40)))
    foot = (cx - r * 1.05, bottom)
    return union(bowl, segment(start[0], start[1], foot[0], foot[1], w),
                 segment(foot[0], foot[1], cx + r * 1.1, bottom, w))


def arrow_up_shape(cx, top, bottom, head_w, shaft_w, head_h):
    head = polygon([(cx, top), (cx + head_w, top + head_h), (cx - head_w, top + head_h)])
    shaft = box(cx - shaft_w, top + head_h - 1, cx + shaft_w, bottom, 1.5)
    return union(head, shaft)


def checkbox(c, fill_paint, border, tick=None):
    sq = box(8, 8, 92, 92, 14)
    c.fill(sq, border)
    c.fill(box(14, 14, 86, 86, 9), fill_paint)
    if tick is not None:
        c.fill(polyline([(27, 52), (43, 68), (74, 34)], 7.5), tick)


def bell_shape(cx):
    body = polygon([(cx - 26, 72)] + bezier((cx - 26, 72), (cx - 18, 62), (cx - 24, 22), (cx, 20), 14) +
                   bezier((cx, 20), (cx + 24, 22), (cx + 18, 62), (cx + 26, 72), 14)[1:] + [(cx + 26, 72)])
    rim = box(cx - 33, 68, cx + 33, 78, 5)
    knob = circle(cx, 17, 5.5)
    return union(body, rim, knob)


def database(c, cx, top, bottom, rx, ry, body, band):
    """A stacked-disc database symbol."""
    c.fill(union(box(cx - rx, top, cx + rx, bottom), ellipse(cx, bottom, rx, ry)), body)
    seam = (bottom - top) / 3.0
    for i in (1, 2):
        y = top + seam * i
        c.fill(intersect(outline(ellipse(cx, y, rx, ry), 1.4), box(cx - rx - 2, y, cx + rx + 2, y + ry + 2)), band)
    c.fill(ellipse(cx, top, rx, ry), lgrad(cx - rx, top, rgb(150, 205, 255), cx + rx, top, rgb(95, 160, 230)))
    c.fill(outline(ellipse(cx, top, rx, ry), 1.2), band)


# ---------------------------------------------------------------- the icons


def draw_logo(c):
    # Our product mark: a teal tile with a gauge arc and a lightning bolt.
    tile = box(4, 4, 96, 96, 20)
    c.fill(tile, lgrad(10, 4, rgb(22, 160, 170), 90, 96, rgb(14, 84, 140)))
    c.fill(outline(box(4, 4, 96, 96, 20), 1.2), rgb(255, 255, 255, 60))
    c.fill(arc(50, 55, 33, -40, 220, 5.0), rgb(255, 255, 255, 90))
    c.fill(arc(50, 55, 33, 120, 220, 5.0), rgb(255, 214, 64))
    bolt = polygon([(56, 18), (32, 58), (48, 58), (42, 86), (70, 44), (53, 44), (61, 18)])
    drop_shadow(c, bolt, 2.0)
    c.fill(bolt, vgrad(18, rgb(255, 255, 255), 86, rgb(225, 240, 245)))


def draw_badge(c, number):
    colour = rgb(40, 170, 230) if number == 1 else rgb(240, 150, 40)
    c.fill(box(6, 6, 94, 94, 22), colour)
    if number == 1:
        c.fill(digit_one(54, 22, 78, 8.5), WHITE)
    else:
        c.fill(digit_two(50, 22, 78, 8.0), WHITE)


def draw_impd(c):
    # A resistor: leads and a zig-zag, in the load's colour.
    colour = rgb(255, 190, 70)
    pts = [(4, 50), (20, 50), (26, 30), (38, 70), (50, 30), (62, 70), (74, 30), (80, 50), (96, 50)]
    c.fill(polyline(pts, 5.0), colour)


def draw_thermometer(c, hot):
    liquid = rgb(235, 60, 50) if hot else rgb(60, 150, 255)
    glass = rgb(235, 235, 235)
    tube = segment(50, 16, 50, 62, 11)
    bulb = circle(50, 75, 17)
    c.fill(union(tube, bulb), glass)
    c.fill(union(segment(50, 16, 50, 62, 5.5), circle(50, 75, 11.5)), rgb(255, 255, 255))
    level = 40 if hot else 56
    c.fill(union(segment(50, level, 50, 66, 5.5), circle(50, 75, 11.5)), liquid)
    for y in (24, 34, 44):
        c.fill(segment(66, y, 74, y, 2.5), glass)


def draw_bell(c, ringing):
    shape = bell_shape(50)
    if ringing:
        body = vgrad(15, rgb(255, 95, 70), 80, rgb(205, 30, 30))
    else:
        body = vgrad(15, rgb(200, 200, 200), 80, rgb(140, 140, 140))
    c.fill(shape, body)
    c.fill(circle(50, 86, 8), rgb(255, 200, 60) if ringing else rgb(160, 160, 160))
    c.fill(segment(36, 32, 31, 55, 2.6), rgb(255, 255, 255, 110))
    if ringing:
        wave = rgb(255, 210, 60)
        for r in (40, 50):
            c.fill(arc(50, 45, r, 20, 55, 3.4), wave)
            c.fill(arc(50, 45, r, 125, 160, 3.4), wave)


def draw_plus_round(c, enabled, big):
    if enabled:
        disc = vgrad(6, rgb(110, 215, 110), 94, rgb(40, 150, 60))
    else:
        disc = rgb(120, 120, 120)
    c.fill(circle(50, 50, 44), disc)
    mark = rgb(255, 255, 255) if enabled else rgb(165, 165, 165)
    w = 8 if big else 9
    c.fill(union(segment(50, 27, 50, 73, w), segment(27, 50, 73, 50, w)), mark)


def draw_minus_round(c, enabled):
    disc = vgrad(6, rgb(255, 120, 100), 94, rgb(205, 50, 40)) if enabled else rgb(120, 120, 120)
    c.fill(circle(50, 50, 44), disc)
    c.fill(segment(27, 50, 73, 50, 9), rgb(255, 255, 255) if enabled else rgb(165, 165, 165))


def draw_trash(c):
    red = vgrad(20, rgb(255, 100, 85), 95, rgb(200, 40, 35))
    can = polygon([(22, 28), (78, 28), (72, 92), (28, 92)])
    c.fill(subtract(union(can, box(12, 17, 88, 27, 3), box(38, 8, 62, 20, 4)), box(43, 12, 57, 17, 1)), red)
    for x in (38, 50, 62):
        c.fill(segment(x, 40, x * 0.96 + 2, 82, 3.2), rgb(255, 255, 255, 200))


def draw_move_arrow(c, up):
    shape = arrow_up_shape(50, 8, 92, 38, 13, 40)
    if not up:
        shape = rotate(shape, 180, 50, 50)
    paint = vgrad(8, rgb(120, 200, 255), 92, rgb(40, 120, 210))
    c.fill(shape, paint)


def draw_combo_arrow(c):
    c.fill(grow(polygon([(14, 30), (86, 30), (50, 74)]), 4), rgb(225, 225, 225))


def draw_eraser(c):
    body = rotate(box(7, 32, 93, 68, 9), -40, 50, 50)
    tip = intersect(body, rotate(box(2, 26, 38, 74), -40, 50, 50))
    c.fill(body, rgb(240, 120, 150))
    c.fill(tip, rgb(235, 235, 235))
    c.fill(outline(body, 3), rgb(255, 255, 255))


def draw_new_document(c):
    paper = polygon([(16, 6), (60, 6), (80, 26), (80, 94), (16, 94)])
    c.fill(paper, rgb(240, 240, 240))
    c.fill(polygon([(60, 6), (80, 26), (60, 26)]), rgb(190, 190, 190))
    for y in (40, 52, 64):
        c.fill(segment(26, y, 56, y, 2.4), rgb(150, 150, 150))
    c.fill(circle(72, 74, 23), vgrad(52, rgb(110, 215, 110), 97, rgb(40, 150, 60)))
    c.fill(union(segment(72, 62, 72, 86, 4.5), segment(60, 74, 84, 74, 4.5)), WHITE)


def draw_play(c):
    tri = grow(polygon([(26, 14), (86, 50), (26, 86)]), 4)
    c.fill(tri, vgrad(10, rgb(120, 225, 120), 90, rgb(40, 160, 60)))


def draw_pause(c):
    paint = vgrad(12, rgb(255, 215, 90), 88, rgb(235, 160, 30))
    c.fill(box(22, 14, 42, 86, 5), paint)
    c.fill(box(58, 14, 78, 86, 5), paint)


def draw_stop(c):
    c.fill(box(16, 16, 84, 84, 9), vgrad(16, rgb(255, 100, 85), 84, rgb(205, 35, 35)))


def draw_folder(c):
    back = union(box(8, 20, 42, 34, 4), box(8, 26, 88, 86, 5))
    c.fill(back, rgb(215, 155, 35))
    c.fill(box(16, 32, 82, 70, 2), rgb(250, 250, 250))
    front = polygon([(20, 44), (96, 44), (84, 86), (8, 86)])
    c.fill(grow(front, 1.5), vgrad(44, rgb(255, 215, 95), 86, rgb(240, 175, 45)))


def draw_floppy(c):
    body = subtract(box(8, 8, 92, 92, 7), polygon([(74, 4), (96, 4), (96, 26)]))
    c.fill(body, vgrad(8, rgb(80, 150, 235), 92, rgb(35, 90, 180)))
    c.fill(box(26, 8, 70, 36, 2), rgb(210, 215, 225))
    c.fill(box(56, 13, 64, 31, 1), rgb(35, 90, 180))
    c.fill(box(20, 52, 80, 92, 3), rgb(250, 250, 250))
    for y in (63, 73, 83):
        c.fill(segment(28, y, 72, y, 1.8), rgb(160, 170, 190))


def draw_database_io(c, export):
    database(c, 38, 18, 80, 30, 11, vgrad(18, rgb(110, 175, 240), 90, rgb(45, 105, 190)), rgb(30, 70, 140))
    green = vgrad(40, rgb(120, 225, 120), 96, rgb(40, 160, 60))
    if export:
        # Out of the store: arrow pointing up and away on the right.
        arrow = arrow_up_shape(76, 42, 96, 20, 7, 22)
    else:
        # Into the store: arrow pointing down on the right.
        arrow = rotate(arrow_up_shape(76, 42, 96, 20, 7, 22), 180, 76, 69)
    c.fill(grow(arrow, 3.5), rgb(40, 40, 40, 160))
    c.fill(arrow, green)


def draw_update(c):
    # Two chasing arrows around an upward arrow: bring the firmware up to date.
    blue = rgb(80, 180, 255)
    r, w = 36, 8.5
    c.fill(arc(50, 50, r, 110, 240, w), blue)
    c.fill(arc(50, 50, r, 290, 420, w), blue)

    def head(deg):
        # Arrowhead at the arc's end, pointing along the clockwise direction.
        a = math.radians(deg)
        px, py = 50 + r * math.cos(a), 50 - r * math.sin(a)
        tx, ty = -math.sin(a), -math.cos(a)
        nx, ny = math.cos(a), -math.sin(a)
        return polygon([(px + tx * 20, py + ty * 20), (px + nx * 17, py + ny * 17), (px - nx * 17, py - ny * 17)])

    c.fill(union(head(110), head(290)), blue)
    c.fill(arrow_up_shape(50, 28, 70, 15, 6, 16), rgb(120, 225, 120))


# name -> (pixel size, drawing function)
ICONS = {
    "logo.png": (256, draw_logo),
    "logo128x128.png": (128, draw_logo),
    "1c-24.png": (24, lambda c: draw_badge(c, 1)),
    "2c-24.png": (24, lambda c: draw_badge(c, 2)),
    "impd-24.png": (24, draw_impd),
    "temp-blue-24.png": (24, lambda c: draw_thermometer(c, False)),
    "temp-red-24.png": (24, lambda c: draw_thermometer(c, True)),
    "alarm-50.png": (50, lambda c: draw_bell(c, True)),
    "noAlarm-64.png": (64, lambda c: draw_bell(c, False)),
    "checkBox2-144.png": (144, lambda c: checkbox(c, rgb(80, 200, 110), rgb(40, 140, 70), rgb(15, 85, 35))),
    "checkBox2-no-40.png": (40, lambda c: checkbox(c, rgb(215, 235, 252), rgb(45, 120, 215))),
    "checkBox3-144.png": (144, lambda c: checkbox(c, rgb(175, 175, 175), rgb(120, 120, 120), rgb(65, 65, 65))),
    "checkBox3-no-40.png": (40, lambda c: checkbox(c, rgb(228, 228, 228), rgb(140, 140, 140))),
    "add2-30.png": (30, lambda c: draw_plus_round(c, True, False)),
    "add2-30_disable.png": (30, lambda c: draw_plus_round(c, False, False)),
    "delete-30.png": (30, lambda c: draw_minus_round(c, True)),
    "delete-30_disable.png": (30, lambda c: draw_minus_round(c, False)),
    "add-64.png": (64, lambda c: draw_plus_round(c, True, True)),
    "delete-80.png": (80, draw_trash),
    "up-52.png": (52, lambda c: draw_move_arrow(c, True)),
    "down-52.png": (52, lambda c: draw_move_arrow(c, False)),
    "down_arrow-100.png": (100, draw_combo_arrow),
    "clear-16.png": (16, draw_eraser),
    "create-order-40.png": (40, draw_new_document),
    "play2-64.png": (64, draw_play),
    "pause-64.png": (64, draw_pause),
    "stop-100.png": (100, draw_stop),
    "open-file-folder-48.png": (48, draw_folder),
    "save-64.png": (64, draw_floppy),
    "database-import-64.png": (64, lambda c: draw_database_io(c, False)),
    "database-export-64.png": (64, lambda c: draw_database_io(c, True)),
    "update-50.png": (50, draw_update),
}


def render(name):
    size, draw = ICONS[name]
    c = Canvas(size)
    draw(c)
    return c


def contact_sheet(canvases, path, cell=150):
    """All pictures on the window background: each magnified (or reduced) to
    fill most of a cell, with the picture at its own size in the corner."""
    names = sorted(canvases)
    cols = 6
    rows_n = (len(names) + cols - 1) // cols
    w, h = cols * cell, rows_n * cell
    bg = (55, 55, 55)
    img = [bytearray(bytes(bg + (255,)) * w) for _ in range(h)]

    def put(c, ox, oy, out):
        step = c.size / float(out)
        for y in range(out):
            for x in range(out):
                # Box filter over the source pixels this output pixel covers.
                sx0, sy0 = int(x * step), int(y * step)
                sx1, sy1 = max(sx0 + 1, int((x + 1) * step)), max(sy0 + 1, int((y + 1) * step))
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(sy0, sy1):
                    for sx in range(sx0, sx1):
                        p = c.px[sy * c.size + sx]
                        a = max(0.0, min(1.0, p[3]))
                        for k in range(3):
                            acc[k] += p[k] * a
                        acc[3] += a
                cnt = (sx1 - sx0) * (sy1 - sy0)
                a = acc[3] / cnt
                row = img[oy + y]
                o = (ox + x) * 4
                for k in range(3):
                    row[o + k] = int(round(min(1.0, acc[k] / cnt) * 255 + row[o + k] * (1 - a)))

    for i, name in enumerate(names):
        c = canvases[name]
        cx, cy = (i % cols) * cell, (i // cols) * cell
        big = cell - 40
        if c.size < big:
            big = (big // c.size) * c.size
        put(c, cx + 4, cy + (cell - big) // 2, big)
        small = min(c.size, 32)
        put(c, cx + cell - small - 2, cy + cell - small - 2, small)
    with open(path, "wb") as f:
        f.write(png_bytes(w, h, img))


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = os.path.join(here, os.pardir, "resources", "res")
    sheet = None
    args = list(argv[1:])
    if "--sheet" in args:
        i = args.index("--sheet")
        sheet = args[i + 1]
        del args[i:i + 2]
    if args:
        out_dir = args[0]
    os.makedirs(out_dir, exist_ok=True)
    canvases = {}
    for name in sorted(ICONS):
        c = render(name)
        canvases[name] = c
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(png_bytes(c.size, c.size, c.rows()))
    if sheet:
        contact_sheet(canvases, sheet)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

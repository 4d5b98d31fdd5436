#!/usr/bin/env python3
"""Draws the program's icon and control images and writes them as PNG / ICO.

Pure Python (zlib + struct): shapes are polygons filled with analytic
horizontal coverage and 8 sub-scanlines per pixel, composited in straight
alpha. Run it from anywhere; it writes next to itself:

    app.ico          256 x 256 32-bit PNG image inside an icon file
    folder.png       16 x 16 filled folder, dark navy
    screen.png       16 x 16 screen outline, dark navy
    folder-open.png  16 x 16 filled folder with a light inner line
    archive.png      24 x 24 orange rounded square with a zipper

and each control image again at 1.5x and 2x (folder@1.5x.png, folder@2x.png,
...): the same shapes drawn on a larger pixel grid, for screens of higher DPI.
"""
import math
import os
import struct
import zlib

NAVY = (39, 38, 54)
SUBROWS = 8


class Canvas:
    def __init__(self, w, h, scale=1.0):
        # Shapes are given in the 1x design's coordinates and drawn `scale` times larger.
        self.scale = scale
        self.w, self.h = int(round(w * scale)), int(round(h * scale))
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(self.w * self.h)]  # straight RGBA, 0..1

    def coverage(self, polys):
        """Coverage 0..1 per pixel of the union of polygons (non-zero winding)."""
        cov = [0.0] * (self.w * self.h)
        edges = []
        for poly in polys:
            if self.scale != 1.0:
                poly = [(x * self.scale, y * self.scale) for x, y in poly]
            n = len(poly)
            for i in range(n):
                (x0, y0), (x1, y1) = poly[i], poly[(i + 1) % n]
                if y0 != y1:
                    edges.append((x0, y0, x1, y1, 1 if y1 > y0 else -1))
        if not edges:
            return cov
        ymin = max(0, int(math.floor(min(min(e[1], e[3]) for e in edges))))
        ymax = min(self.h, int(math.ceil(max(max(e[1], e[3]) for e in edges))))
        for py in range(ymin, ymax):
            row = [0.0] * (self.w + 1)
            for s in range(SUBROWS):
                sy = py + (s + 0.5) / SUBROWS
                xs = []
                for x0, y0, x1, y1, d in edges:
                    lo, hi = (y0, y1) if y0 < y1 else (y1, y0)
                    if lo <= sy < hi:
                        xs.append((x0 + (sy - y0) * (x1 - x0) / (y1 - y0), d))
                xs.sort()
                wind = 0
                for i, (x, d) in enumerate(xs):
                    before = wind
                    wind += d
                    if before == 0 and wind != 0:
                        start = x
                    elif before != 0 and wind == 0:
                        self._span(row, start, x)
            base = py * self.w
            for px in range(self.w):
                cov[base + px] = min(1.0, row[px] / SUBROWS)
        return cov

    def _span(self, row, a, b):
        a, b = max(a, 0.0), min(b, float(self.w))
        if b <= a:
            return
        ia, ib = int(a), int(b)
        if ia == ib:
            row[ia] += b - a
            return
        row[ia] += (ia + 1) - a
        for i in range(ia + 1, ib):
            row[i] += 1.0
        if ib < self.w:
            row[ib] += b - ib

    def paint(self, cov, colour, opacity=1.0):
        r, g, b = (c / 255.0 for c in colour)
        for i, c in enumerate(cov):
            a = c * opacity
            if a <= 0:
                continue
            p = self.px[i]
            da = p[3]
            oa = a + da * (1 - a)
            if oa <= 0:
                continue
            p[0] = (r * a + p[0] * da * (1 - a)) / oa
            p[1] = (g * a + p[1] * da * (1 - a)) / oa
            p[2] = (b * a + p[2] * da * (1 - a)) / oa
            p[3] = oa

    def fill(self, polys, colour, opacity=1.0, clip=None):
        cov = self.coverage(polys)
        if clip is not None:
            cov = [a * b for a, b in zip(cov, clip)]
        self.paint(cov, colour, opacity)

    def rgba_bytes(self):
        out = bytearray()
        for p in self.px:
            a = p[3]
            out += bytes(int(round(max(0.0, min(1.0, v)) * 255)) for v in (p[0], p[1], p[2]))
            out.append(int(round(a * 255)))
        return bytes(out)


def png(w, h, rgba):
    raw = b"".join(b"\0" + rgba[y * w * 4:(y + 1) * w * 4] for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(png_bytes):
    # One 256 x 256 entry: width and height bytes 0 mean 256.
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(png_bytes), 6 + 16)
    return header + entry + png_bytes


# ---- shape helpers ---------------------------------------------------------

def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def rounded_rect(x0, y0, x1, y1, r, steps=10):
    pts = []
    for cx, cy, a0 in ((x1 - r, y0 + r, -90), (x1 - r, y1 - r, 0), (x0 + r, y1 - r, 90), (x0 + r, y0 + r, 180)):
        for i in range(steps + 1):
            a = math.radians(a0 + 90 * i / steps)
            pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def ring(outer, inner):
    """An outline: the outer polygon with the inner one cut out (reversed winding)."""
    return [outer, list(reversed(inner))]


def ellipse(cx, cy, rx, ry, steps=64):
    return [(cx + rx * math.cos(2 * math.pi * i / steps), cy + ry * math.sin(2 * math.pi * i / steps)) for i in range(steps)]


def thick_line(p0, p1, w):
    (x0, y0), (x1, y1) = p0, p1
    dx, dy = x1 - x0, y1 - y0
    n = math.hypot(dx, dy) or 1.0
    ox, oy = -dy / n * w / 2, dx / n * w / 2
    return [(x0 + ox, y0 + oy), (x1 + ox, y1 + oy), (x1 - ox, y1 - oy), (x0 - ox, y0 - oy)]


# ---- the 16 x 16 button glyphs ----------------------------------------------

def folder_shape():
    # Tab on the back-left, body below; pixel-aligned edges keep it crisp at 16 px.
    tab = [(1, 2), (6, 2), (8, 4), (15, 4), (15, 6), (1, 6)]
    body = rounded_rect(1, 5, 15, 14, 1.0, 4)
    return [tab, body]


def draw_folder(light_line, scale=1.0):
    c = Canvas(16, 16, scale)
    c.fill(folder_shape(), NAVY)
    if light_line:
        # The open flap: a light line across the body, a little below its top.
        c.fill([rect(2, 6, 14, 7)], (214, 218, 232))
    return c


def draw_screen(scale=1.0):
    c = Canvas(16, 16, scale)
    outer = rounded_rect(1, 2, 15, 12, 1.0, 4)
    inner = rect(2, 3, 14, 10)  # a thicker bottom edge, like a monitor's chin
    c.fill(ring(outer, inner), NAVY)
    c.fill([rect(7, 12, 9, 13), rect(4, 13, 12, 14)], NAVY)  # stand and foot
    return c


# ---- the 24 x 24 archive symbol -------------------------------------------

def draw_archive(scale=1.0):
    c = Canvas(24, 24, scale)
    c.fill([rounded_rect(1.5, 1.5, 22.5, 22.5, 4, 8)], (247, 148, 29))
    c.fill([rounded_rect(1.5, 12, 22.5, 22.5, 4, 8)], (232, 120, 12), clip=c.coverage([rect(0, 12, 24, 24)]))
    # Zipper: alternating teeth left and right of the middle, then the pull.
    for i, y in enumerate(range(2, 13, 2)):
        x0 = 10 if i % 2 == 0 else 12
        c.fill([rect(x0, y, x0 + 2, y + 1.2)], (255, 255, 255))
    c.fill([rounded_rect(9.2, 13.5, 14.8, 20.5, 1.4, 4)], (255, 255, 255))
    c.fill([rect(11, 16, 13, 19)], (232, 120, 12))
    return c


# ---- the 256 x 256 program icon: an open cardboard box -----------------------

def iso(x, y, z, k=92.0, cx=128.0, cy=120.0):
    return (cx + (x - y) * k * 0.866, cy + (x + y) * k * 0.5 - z * k)


def draw_icon():
    c = Canvas(256, 256)
    H = 0.78
    P = lambda x, y, z: iso(x, y, z)
    outline = (102, 62, 28)

    c.fill([ellipse(128, 214, 100, 22)], (0, 0, 0), opacity=0.16)

    # Back flaps (hinged on the two back edges, opened outward and up).
    fl, up = 0.48, 0.62
    back_left = [P(0, 0, H), P(0, 1, H), P(-fl * math.cos(up), 1, H + fl * math.sin(up)),
                 P(-fl * math.cos(up), 0, H + fl * math.sin(up))]
    back_right = [P(0, 0, H), P(1, 0, H), P(1, -fl * math.cos(up), H + fl * math.sin(up)),
                  P(0, -fl * math.cos(up), H + fl * math.sin(up))]
    for flap, colour in ((back_left, (214, 160, 98)), (back_right, (196, 140, 80))):
        c.fill([flap], outline)
        c.fill([shrink(flap, 3.0)], colour)

    # Opening: the dark floor, then the two inner back walls, lit from the left.
    opening = [P(0, 0, H), P(1, 0, H), P(1, 1, H), P(0, 1, H)]
    clip = c.coverage([opening])
    c.fill([opening], (92, 56, 26))
    c.fill([[P(0, 0, H), P(0, 1, H), P(0, 1, 0), P(0, 0, 0)]], (150, 100, 52), clip=clip)
    c.fill([[P(0, 0, H), P(1, 0, H), P(1, 0, 0), P(0, 0, 0)]], (124, 80, 40), clip=clip)

    # The two outer faces.
    front_left = [P(0, 1, H), P(1, 1, H), P(1, 1, 0), P(0, 1, 0)]
    front_right = [P(1, 0, H), P(1, 1, H), P(1, 1, 0), P(1, 0, 0)]
    c.fill([front_left, front_right], outline)
    c.fill([shrink(front_left, 3.0)], (232, 178, 112))
    c.fill([shrink(front_right, 3.0)], (204, 146, 84))
    # A shipping label on the right face.
    c.fill([[P(1, 0.22, 0.40), P(1, 0.74, 0.40), P(1, 0.74, 0.10), P(1, 0.22, 0.10)]], (246, 236, 218))
    for i, z in enumerate((0.32, 0.25, 0.18)):
        end = 0.66 if i < 2 else 0.50
        c.fill([thick_line(P(1, 0.30, z), P(1, end, z), 3.2)], (176, 156, 136))

    # Front flaps, sprung open outward and a little up, showing their inner side.
    fu = 0.22
    ox, oz = fl * math.cos(fu), H + fl * math.sin(fu)
    front_left_flap = [P(0, 1, H), P(1, 1, H), P(1, 1 + ox, oz), P(0, 1 + ox, oz)]
    front_right_flap = [P(1, 0, H), P(1, 1, H), P(1 + ox, 1, oz), P(1 + ox, 0, oz)]
    for flap, colour in ((front_left_flap, (240, 194, 132)), (front_right_flap, (222, 166, 104))):
        c.fill([flap], outline)
        c.fill([shrink(flap, 3.0)], colour)
    return c


def shrink(poly, d):
    """Moves every vertex of a convex polygon d pixels towards its centre along the bisector."""
    n = len(poly)
    cx = sum(p[0] for p in poly) / n
    cy = sum(p[1] for p in poly) / n
    out = []
    for i in range(n):
        (ax, ay), (bx, by), (qx, qy) = poly[i - 1], poly[i], poly[(i + 1) % n]
        # Offset both adjacent edges inwards by d and intersect them.
        l1 = offset_line((ax, ay), (bx, by), d, (cx, cy))
        l2 = offset_line((bx, by), (qx, qy), d, (cx, cy))
        out.append(intersect(l1, l2) or (bx, by))
    return out


def offset_line(p, q, d, centre):
    dx, dy = q[0] - p[0], q[1] - p[1]
    n = math.hypot(dx, dy) or 1.0
    nx, ny = -dy / n, dx / n
    if (centre[0] - p[0]) * nx + (centre[1] - p[1]) * ny < 0:
        nx, ny = -nx, -ny
    return (p[0] + nx * d, p[1] + ny * d), (q[0] + nx * d, q[1] + ny * d)


def intersect(l1, l2):
    (x1, y1), (x2, y2) = l1
    (x3, y3), (x4, y4) = l2
    den = (x1 - x2) * (y3 - y4) - (y1 - y2) * (x3 - x4)
    if abs(den) < 1e-9:
        return None
    t = ((x1 - x3) * (y3 - y4) - (y1 - y3) * (x3 - x4)) / den
    return (x1 + t * (x2 - x1), y1 + t * (y2 - y1))


def main():
    here = os.path.dirname(os.path.abspath(__file__))

    def write(name, data):
        with open(os.path.join(here, name), "wb") as f:
            f.write(data)

    for scale, suffix in ((1.0, ""), (1.5, "@1.5x"), (2.0, "@2x")):
        for name, canvas in (("folder", draw_folder(False, scale)), ("folder-open", draw_folder(True, scale)),
                             ("screen", draw_screen(scale)), ("archive", draw_archive(scale))):
            write(name + suffix + ".png", png(canvas.w, canvas.h, canvas.rgba_bytes()))
    icon = draw_icon()
    write("app.ico", ico(png(256, 256, icon.rgba_bytes())))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the tool's four icons and writes them as .ico files (16 and 32 px,
32-bit BGRA with an AND mask) into res/icons/.

Standard library only: the shapes are rasterised here with 4x4 supersampling
and the ICO/BMP bytes are written by hand, so the output is the same on every
machine and the generated files can be committed.

    python3 scripts/make-icons.py [OUTPUT_DIR]
"""
import math
import os
import struct
import sys

SS = 4  # supersampling factor per axis


def rgba(hexcode, a=255):
    hexcode = hexcode.lstrip("#")
    return (int(hexcode[0:2], 16), int(hexcode[2:4], 16), int(hexcode[4:6], 16), a)


class Canvas:
    """Premultiplied RGBA canvas at SS times the icon size. Coordinates passed
    to the drawing calls are in icon pixels (floats), so a shape drawn from 2
    to 14 covers exactly those pixels at any supersampling factor."""

    def __init__(self, size):
        self.size = size
        self.n = size * SS
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(self.n * self.n)]

    def _blend(self, i, c):
        a = c[3] / 255.0
        p = self.px[i]
        k = 1.0 - a
        p[0] = c[0] * a + p[0] * k
        p[1] = c[1] * a + p[1] * k
        p[2] = c[2] * a + p[2] * k
        p[3] = 255.0 * a + p[3] * k

    def fill(self, inside, box, color):
        """Blends color into every sample whose centre satisfies inside(x, y)."""
        x0, y0, x1, y1 = box
        sx0 = max(0, int(math.floor(x0 * SS)))
        sy0 = max(0, int(math.floor(y0 * SS)))
        sx1 = min(self.n, int(math.ceil(x1 * SS)))
        sy1 = min(self.n, int(math.ceil(y1 * SS)))
        for sy in range(sy0, sy1):
            y = (sy + 0.5) / SS
            for sx in range(sx0, sx1):
                x = (sx + 0.5) / SS
                if inside(x, y):
                    self._blend(sy * self.n + sx, color)

    def rect(self, x0, y0, x1, y1, color):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, (x0, y0, x1, y1), color)

    def frame(self, x0, y0, x1, y1, color, w=1.0):
        self.rect(x0, y0, x1, y0 + w, color)
        self.rect(x0, y1 - w, x1, y1, color)
        self.rect(x0, y0 + w, x0 + w, y1 - w, color)
        self.rect(x1 - w, y0 + w, x1, y1 - w, color)

    def polygon(self, pts, color):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]

        def inside(x, y):
            hit = False
            j = len(pts) - 1
            for i in range(len(pts)):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return hit

        self.fill(inside, (min(xs), min(ys), max(xs), max(ys)), color)

    def line(self, x0, y0, x1, y1, color, w=1.0):
        """A stroke of width w with round ends."""
        dx, dy = x1 - x0, y1 - y0
        ll = dx * dx + dy * dy or 1e-9
        r = w / 2.0

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / ll))
            ex, ey = x0 + t * dx - x, y0 + t * dy - y
            return ex * ex + ey * ey <= r * r

        self.fill(inside, (min(x0, x1) - r, min(y0, y1) - r, max(x0, x1) + r, max(y0, y1) + r), color)

    def ring(self, cx, cy, radius, color, w=1.0, a0=0.0, a1=360.0):
        """An arc of a circle, angles in degrees, clockwise on screen from 3 o'clock."""
        rin, rout = radius - w / 2.0, radius + w / 2.0

        def inside(x, y):
            d = math.hypot(x - cx, y - cy)
            if d < rin or d > rout:
                return False
            ang = math.degrees(math.atan2(y - cy, x - cx)) % 360.0
            lo, hi = a0 % 360.0, a1 % 360.0
            if a1 - a0 >= 360.0:
                return True
            return lo <= ang <= hi if lo <= hi else (ang >= lo or ang <= hi)

        self.fill(inside, (cx - rout, cy - rout, cx + rout, cy + rout), color)

    def disc(self, cx, cy, radius, color):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius,
                  (cx - radius, cy - radius, cx + radius, cy + radius), color)

    def pixels(self):
        """Box-filters down to the icon size; returns rows of (r, g, b, a) bytes, top row first."""
        out = []
        area = SS * SS
        for y in range(self.size):
            row = []
            for x in range(self.size):
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(y * SS, y * SS + SS):
                    base = sy * self.n
                    for sx in range(x * SS, x * SS + SS):
                        p = self.px[base + sx]
                        acc[0] += p[0]
                        acc[1] += p[1]
                        acc[2] += p[2]
                        acc[3] += p[3]
                a = acc[3] / area
                if a < 1.0:
                    row.append((0, 0, 0, 0))
                    continue
                # un-premultiply
                row.append(tuple(int(round(min(255.0, acc[i] / acc[3] * 255.0))) for i in range(3))
                           + (int(round(a)),))
            out.append(row)
        return out


# --- palette ---------------------------------------------------------------
PAPER = rgba("ffffff")
PAPER_SHADE = rgba("e4e9f0")
EDGE = rgba("4a5563")
FOLD = rgba("c9d2de")
TEXT = rgba("5b7fb5")
TEXT_DIM = rgba("9fb3d1")
ARROW = rgba("2e9b3e")
ARROW_EDGE = rgba("1d6b29")
SHADOW = rgba("000000", 60)


def page(c, x0, y0, x1, y1, fold, lines, fill=PAPER, line_step=None):
    """A sheet with a dog-ear at the top right and ruled text lines."""
    c.polygon([(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)], EDGE)
    c.polygon([(x0 + 1, y0 + 1), (x1 - fold - 0.4, y0 + 1), (x1 - 1, y0 + fold + 0.4),
               (x1 - 1, y1 - 1), (x0 + 1, y1 - 1)], fill)
    c.polygon([(x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold)], FOLD)
    c.line(x1 - fold + 0.5, y0 + 0.5, x1 - fold + 0.5, y0 + fold - 0.5, EDGE, 1.0)
    c.line(x1 - fold + 0.5, y0 + fold - 0.5, x1 - 0.5, y0 + fold - 0.5, EDGE, 1.0)
    for (lx0, ly, lx1, col) in lines:
        c.rect(lx0, ly, lx1, ly + 1, col)


def draw_document(s):
    c = Canvas(s)
    if s >= 32:
        c.rect(8, 4, 26, 30, SHADOW)
        lines = [(9, y, 22 if y % 6 else 18, TEXT) for y in (10, 13, 16, 19, 22, 25)]
        page(c, 6, 2, 25, 29, 6, lines)
    else:
        lines = [(5, 6, 11, TEXT), (5, 8, 11, TEXT), (5, 10, 9, TEXT), (5, 12, 11, TEXT)]
        page(c, 3, 1, 13, 15, 3, lines)
    return c


def block(c, x0, y0, x1, y1, face, dark, light, bevel):
    """One registry block: a square with a light top/left and a dark bottom/right bevel."""
    c.rect(x0, y0, x1, y1, dark)
    c.rect(x0, y0, x1 - bevel, y1 - bevel, light)
    c.rect(x0 + bevel, y0 + bevel, x1 - bevel, y1 - bevel, face)


def draw_registry(s):
    c = Canvas(s)
    blue = (rgba("3f7fd8"), rgba("1f4f99"), rgba("a9c8f2"))
    green = (rgba("3fae4f"), rgba("1f6e2b"), rgba("a8e0b0"))
    red = (rgba("d9513c"), rgba("8e2a1b"), rgba("f2b0a4"))
    cyan = (rgba("2bb3c0"), rgba("157079"), rgba("a4e4ea"))
    if s >= 32:
        # three blocks on the bottom row, two above, one on top: a loose cluster
        b = 10
        layout = [(1, 21, blue), (11, 21, green), (21, 21, red),
                  (6, 11, cyan), (16, 11, blue), (11, 1, green)]
        for (x, y, col) in layout:
            block(c, x, y, x + b, y + b, col[0], col[1], col[2], 2)
    else:
        b = 5
        layout = [(1, 10, blue), (6, 10, green), (11, 10, red),
                  (3, 5, cyan), (8, 5, blue), (6, 0, green)]
        for (x, y, col) in layout:
            block(c, x + 0, y + 1, x + b, y + b + 1, col[0], col[1], col[2], 1)
    return c


def polyline(c, pts, color, w):
    for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
        c.line(x0, y0, x1, y1, color, w)


def draw_cord(s):
    """A cable with one loop in it (a curl of a prolate cycloid) and a plug at its end."""
    c = Canvas(s)
    k = s / 32.0
    edge = rgba("23272d")
    cord = rgba("59636f")
    shine = rgba("98a3b0")
    plug = rgba("30343a")
    metal = rgba("c8ccd2")
    big = s >= 32
    w = 3.2 * k if big else 1.7
    ow = w + (1.4 if big else 0.9)
    a, b, xc, yc = 1.5 * k, 9.0 * k, 13.0 * k, 13.5 * k

    def at(t):
        return (xc + a * t - b * math.sin(t), yc - b * math.cos(t))

    steps = 48
    ts = [-math.pi + 2 * math.pi * i / steps for i in range(steps + 1)]
    curve = [at(t) for t in ts]
    # loose end in from the lower left, and the run out to the plug at the lower right
    first = [(1.5 * k, 27 * k)] + curve[: steps // 2 + 1]
    second = curve[steps // 2:] + [(21 * k, 25 * k)]
    # draw the halves one after the other so that the second crosses over the first
    for part in (first, second):
        polyline(c, part, edge, ow)
        polyline(c, part, cord, w)
        if big:
            polyline(c, [(x - 0.5, y - 0.5) for (x, y) in part[1:-1]], shine, 0.8)
    if big:
        c.polygon([(19.5, 25), (23.5, 20), (29.5, 24.5), (25.5, 29.5)], edge)
        c.polygon([(20.8, 25), (23.7, 21.4), (28.2, 24.6), (25.3, 28.2)], plug)
        c.line(25.5, 20.5, 28.5, 16.8, metal, 1.5)
        c.line(28.8, 23.0, 31.5, 19.6, metal, 1.5)
    else:
        c.polygon([(9.5, 12.5), (12, 10), (15, 12.5), (12.5, 15)], edge)
        c.rect(13, 9, 14, 10, metal)
        c.rect(15, 10, 16, 11, metal)
    return c


def draw_app(s):
    c = Canvas(s)
    if s >= 32:
        # the beta report behind, the GA report in front, and the arrow between
        back_lines = [(5, y, 15, TEXT_DIM) for y in (7, 10, 13, 16)]
        page(c, 2, 1, 19, 22, 5, back_lines, fill=PAPER_SHADE)
        c.rect(13, 12, 31, 32, SHADOW)
        front_lines = [(15, 16, 25, TEXT), (15, 19, 27, TEXT)]
        page(c, 12, 10, 30, 31, 5, front_lines)
        # a small bar chart on the front report
        for (x, h, col) in ((15, 4, rgba("5b7fb5")), (19, 7, rgba("2e9b3e")), (23, 5, rgba("d9913c"))):
            c.rect(x, 28 - h, x + 3, 28, col)
        # arrow from the back page to the front one
        c.line(6, 21, 6, 26, ARROW_EDGE, 4.2)
        c.line(6, 26, 10, 26, ARROW_EDGE, 4.2)
        c.polygon([(9, 21.2), (15.6, 26), (9, 30.8)], ARROW_EDGE)
        c.line(6, 21, 6, 26, ARROW, 2.4)
        c.line(6, 26, 10.5, 26, ARROW, 2.4)
        c.polygon([(10, 22.9), (14, 26), (10, 29.1)], ARROW)
    else:
        page(c, 1, 0, 10, 11, 3, [(3, 4, 7, TEXT_DIM), (3, 6, 7, TEXT_DIM)], fill=PAPER_SHADE)
        page(c, 6, 5, 15, 16, 3, [(8, 9, 13, TEXT)])
        c.rect(8, 12, 10, 14, rgba("2e9b3e"))
        c.rect(11, 11, 13, 14, rgba("d9913c"))
        c.rect(2, 10, 4, 14, ARROW_EDGE)
        c.rect(2, 12, 6, 14, ARROW_EDGE)
        c.polygon([(5, 10), (8, 13), (5, 16)], ARROW)
        c.rect(2.5, 10.5, 3.5, 13.5, ARROW)
        c.rect(2.5, 12.5, 5.5, 13.5, ARROW)
    return c


def bmp_image(rows):
    """One ICO image: BITMAPINFOHEADER (height doubled), bottom-up BGRA, then the AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(rows):
        for (r, g, b, a) in row:
            xor += bytes((b, g, r, a))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(xor) + bytes(mask)


def ico(images):
    """images: list of (size, bytes); entries in ascending size."""
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


ICONS = {
    "app.ico": draw_app,
    "document.ico": draw_document,
    "registry.ico": draw_registry,
    "cord.ico": draw_cord,
}


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "res", "icons")
    os.makedirs(outdir, exist_ok=True)
    for name, draw in ICONS.items():
        images = [(s, bmp_image(draw(s).pixels())) for s in (16, 32)]
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(ico(images))
        print(os.path.join(outdir, name))


if __name__ == "__main__":
    main()

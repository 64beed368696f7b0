#!/usr/bin/env python3
"""Draws the program's pictures (our own artwork) into resources/pictures/.

Pure Python: a small RGBA canvas with anti-aliased shapes and a PNG writer, so
the pictures can be redrawn on any machine with python3. Run it after changing
a drawing and commit the PNG files:  tools/make-pictures.py
"""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "pictures")


class Canvas:
    def __init__(self, w, h, fill=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [list(fill) for _ in range(w * h)]

    def blend(self, x, y, rgba, cover=1.0):
        if not (0 <= x < self.w and 0 <= y < self.h) or cover <= 0:
            return
        r, g, b, a = rgba
        a = a / 255.0 * cover
        d = self.px[y * self.w + x]
        da = d[3] / 255.0
        oa = a + da * (1 - a)
        if oa <= 0:
            self.px[y * self.w + x] = [0, 0, 0, 0]
            return
        for i, c in enumerate((r, g, b)):
            d[i] = round((c * a + d[i] * da * (1 - a)) / oa)
        d[3] = round(oa * 255)

    def shape(self, inside, rgba, box=None, samples=4):
        """Fills every pixel by the share of its sub-samples for which inside(x, y) holds."""
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        step = 1.0 / samples
        for y in range(max(0, int(y0)), min(self.h, int(math.ceil(y1)))):
            for x in range(max(0, int(x0)), min(self.w, int(math.ceil(x1)))):
                hits = 0
                for sy in range(samples):
                    for sx in range(samples):
                        if inside(x + (sx + 0.5) * step, y + (sy + 0.5) * step):
                            hits += 1
                if hits:
                    c = rgba(x, y) if callable(rgba) else rgba
                    self.blend(x, y, c, hits / (samples * samples))

    def rect(self, x0, y0, x1, y1, rgba):
        self.shape(lambda x, y: x0 <= x < x1 and y0 <= y < y1, rgba, (x0, y0, x1, y1), samples=1)

    def rounded(self, x0, y0, x1, y1, r, rgba):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return False
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
        self.shape(inside, rgba, (x0, y0, x1, y1))

    def circle(self, cx, cy, r, rgba):
        self.shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, rgba, (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1))

    def ring(self, cx, cy, r, width, rgba):
        self.shape(lambda x, y: (r - width) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r, rgba,
                   (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1))

    def polygon(self, points, rgba):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]

        def inside(x, y):
            hit = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return hit
        self.shape(inside, rgba, (min(xs), min(ys), max(xs) + 1, max(ys) + 1))

    def line(self, x0, y0, x1, y1, width, rgba):
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy) or 1.0

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (length * length)))
            return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= width / 2
        pad = width + 1
        self.shape(inside, rgba, (min(x0, x1) - pad, min(y0, y1) - pad, max(x0, x1) + pad, max(y0, y1) + pad))

    def vgradient(self, x0, y0, x1, y1, top, bottom):
        for y in range(y0, y1):
            t = (y - y0) / max(1, y1 - y0 - 1)
            c = tuple(round(top[i] + (bottom[i] - top[i]) * t) for i in range(4))
            for x in range(x0, x1):
                self.blend(x, y, c)

    def paste(self, other, ox, oy):
        for y in range(other.h):
            for x in range(other.w):
                p = other.px[y * other.w + x]
                if p[3]:
                    self.blend(ox + x, oy + y, tuple(p))

    def save(self, name):
        raw = bytearray()
        for y in range(self.h):
            raw.append(0)
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                if a == 0:
                    r = g = b = 0  # transparent pixels carry no colour
                raw += bytes((r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
        path = os.path.join(OUT, name)
        with open(path, "wb") as f:
            f.write(png)
        print("wrote", os.path.relpath(path))


# ------------------------------------------------------------------ colours
WHITE = (255, 255, 255, 255)
INK = (40, 48, 64, 255)
FOLDER = (240, 196, 72, 255)
FOLDER_DARK = (196, 146, 40, 255)
GREEN = (46, 160, 67, 255)
RED = (208, 52, 44, 255)
BLUE = (44, 98, 196, 255)
GREY = (150, 156, 166, 255)
ORANGE = (236, 120, 30, 255)
NAVY = (24, 46, 92, 255)


# ------------------------------------------------------------------ 16 x 16 icons
def folder(c, open_=False):
    c.rounded(1, 3, 8, 6, 1, FOLDER_DARK)
    c.rounded(1, 4, 15, 14, 1.2, FOLDER)
    c.rect(1, 6, 15, 7, FOLDER_DARK)


def stacked_folder(c):
    c.rounded(3, 1, 15, 10, 1, FOLDER_DARK)
    c.rounded(1, 4, 13, 14, 1.2, FOLDER)
    c.rect(1, 6, 13, 7, FOLDER_DARK)


def badge_plus(c, color=GREEN):
    c.circle(11.5, 11.5, 4.2, WHITE)
    c.circle(11.5, 11.5, 3.5, color)
    c.rect(9.5, 11, 13.5, 12, WHITE)
    c.rect(11, 9.5, 12, 13.5, WHITE)


def badge_minus(c):
    c.circle(11.5, 11.5, 4.2, WHITE)
    c.circle(11.5, 11.5, 3.5, RED)
    c.rect(9.5, 11, 13.5, 12, WHITE)


def badge_cross(c):
    c.circle(11.5, 11.5, 4.2, WHITE)
    c.circle(11.5, 11.5, 3.5, RED)
    c.line(10, 10, 13, 13, 1.3, WHITE)
    c.line(13, 10, 10, 13, 1.3, WHITE)


def badge_sweep(c):
    c.circle(11.5, 11.5, 4.2, WHITE)
    c.circle(11.5, 11.5, 3.5, BLUE)
    c.line(9.8, 13, 13.2, 10, 1.4, WHITE)


def document(c, color=WHITE, lines=INK):
    c.polygon([(3, 1), (10, 1), (13, 4), (13, 15), (3, 15)], GREY)
    c.polygon([(4, 2), (9.5, 2), (12, 4.5), (12, 14), (4, 14)], color)
    for y in (6, 8, 10, 12):
        c.rect(5.5, y, 10.5, y + 0.8, lines)


def drive(c):
    c.rounded(1, 5, 15, 12, 1.5, GREY)
    c.rounded(2, 6, 14, 11, 1, (214, 218, 224, 255))
    c.circle(12, 9.5, 1.1, GREEN)
    c.rect(3, 9, 9, 10, GREY)


def recycle_bin(c, arrow=False):
    c.rect(3, 2, 13, 4, GREY)
    c.rect(6, 1, 10, 2.5, GREY)
    c.polygon([(3.5, 4), (12.5, 4), (11.5, 15), (4.5, 15)], (120, 150, 200, 255))
    for x in (6, 8, 10):
        c.rect(x - 0.4, 6, x + 0.4, 13, WHITE)
    if arrow:
        c.circle(11.5, 11.5, 4.2, WHITE)
        c.circle(11.5, 11.5, 3.5, GREEN)
        c.polygon([(9.5, 12.5), (11.5, 9.5), (13.5, 12.5)], WHITE)


def clock(c, cx=8, cy=8, r=6.5):
    c.circle(cx, cy, r, BLUE)
    c.circle(cx, cy, r - 1.3, WHITE)
    c.line(cx, cy, cx, cy - r + 2.5, 1.2, INK)
    c.line(cx, cy, cx + r - 3, cy, 1.2, INK)


def cubes(c):
    for (x, y, col) in ((2, 7, BLUE), (8, 7, (80, 140, 230, 255)), (5, 2, (30, 70, 150, 255))):
        c.rect(x, y, x + 6, y + 6, col)
        c.rect(x + 1, y + 1, x + 5, y + 2, (255, 255, 255, 110))


def arrow(c, up):
    if up:
        c.polygon([(3, 11), (8, 5), (13, 11)], INK)
    else:
        c.polygon([(3, 5), (8, 11), (13, 5)], INK)


def globe(c):
    c.circle(8, 8, 6.5, (60, 140, 220, 255))
    c.shape(lambda x, y: abs((x - 8) ** 2 / 9 + (y - 8) ** 2 / 42 - 1) < 0.25, (255, 255, 255, 200), (1, 1, 15, 15))
    c.rect(1.5, 7.5, 14.5, 8.5, (255, 255, 255, 200))
    c.line(3, 12, 14, 3, 1.4, (250, 200, 40, 255))


def cookie(c):
    c.circle(8, 8, 6.5, (196, 140, 76, 255))
    for (x, y) in ((6, 5), (10, 7), (7, 10), (11, 11), (4.5, 8)):
        c.circle(x, y, 1.1, (90, 52, 24, 255))


def fox(c):
    c.circle(8, 8, 6.5, ORANGE)
    c.circle(8, 8, 3.6, (60, 110, 200, 255))
    c.polygon([(3, 3), (7, 4), (4, 7)], (250, 170, 60, 255))


def check_header(c):
    c.rect(3, 3, 13, 13, INK)
    c.rect(4, 4, 12, 12, WHITE)
    c.line(5.5, 8, 7.5, 10.5, 1.4, GREEN)
    c.line(7.5, 10.5, 11, 5.5, 1.4, GREEN)


def dot(color):
    return lambda c: c.circle(8, 8, 4.5, color)


ICONS = {
    0: drive,
    1: lambda c: (folder(c), badge_plus(c)),
    2: recycle_bin,
    3: lambda c: (document(c), badge_plus(c)),
    4: lambda c: recycle_bin(c, arrow=True),
    5: lambda c: (document(c), clock(c, 11, 11, 4.5)),
    6: lambda c: document(c),
    7: lambda c: document(c, (232, 240, 255, 255)),
    8: lambda c: document(c, (255, 244, 214, 255)),
    9: lambda c: (document(c), badge_cross(c)),
    10: clock,
    11: lambda c: (folder(c), badge_sweep(c)),
    12: cubes,
    13: lambda c: (document(c), badge_minus(c)),
    14: lambda c: (folder(c), badge_cross(c)),
    15: lambda c: arrow(c, True),
    16: lambda c: arrow(c, False),
    24: lambda c: (stacked_folder(c), badge_plus(c)),
    25: lambda c: (stacked_folder(c), badge_cross(c)),
    26: lambda c: (stacked_folder(c), badge_sweep(c)),
    31: globe,
    32: cookie,
    33: check_header,
    34: lambda c: (c.rounded(1, 4, 15, 14, 1.2, (250, 226, 160, 255)), c.rect(2, 5, 14, 13, WHITE)),
    35: fox,
}
SPARE = [GREEN, BLUE, ORANGE, GREY, RED, NAVY, FOLDER]
ICON_COUNT = 40


def icons():
    strip = Canvas(16 * ICON_COUNT, 16)
    for i in range(ICON_COUNT):
        c = Canvas(16, 16)
        ICONS.get(i, dot(SPARE[i % len(SPARE)]))(c)
        strip.paste(c, 16 * i, 0)
    strip.save("Icons.png")


# ------------------------------------------------------------------ picture buttons
def button_strip(name, w, h, glyph, base=(52, 112, 204)):
    """Four frames side by side: normal, mouse over, pressed, disabled."""
    strip = Canvas(4 * w, h)
    frames = [
        (base, tuple(min(255, v + 40) for v in base), 0),
        (tuple(min(255, v + 40) for v in base), tuple(min(255, v + 80) for v in base), 0),
        (tuple(max(0, v - 40) for v in base), base, 1),
        ((170, 170, 170), (200, 200, 200), 0),
    ]
    for i, (bottom, top, shift) in enumerate(frames):
        f = Canvas(w, h)
        f.rounded(0, 0, w, h, 4, (20, 30, 50, 255))
        f.shape(lambda x, y: True, lambda x, y, t=top, b=bottom: tuple(
            round(t[k] + (b[k] - t[k]) * y / h) for k in range(3)) + (255,), (1, 1, w - 1, h - 1), samples=1)
        glyph(f, w, h, shift, (235, 235, 235, 255) if i == 3 else WHITE)
        strip.paste(f, i * w, 0)
    strip.save(name)


# The wide buttons carry their caption (written by the program, in the user's
# language) to the right of the glyph, so the glyph sits near the left edge.
WIDE_GLYPH_X = 18


def glyph_play(c, w, h, s, col):
    x = WIDE_GLYPH_X
    c.polygon([(x - 5 + s, h / 2 - 7 + s), (x + 8 + s, h / 2 + s), (x - 5 + s, h / 2 + 7 + s)], col)


def glyph_stop(c, w, h, s, col):
    x = WIDE_GLYPH_X
    c.rounded(x - 6 + s, h / 2 - 6 + s, x + 6 + s, h / 2 + 6 + s, 1.5, col)


def glyph_broom(c, w, h, s, col):
    x = WIDE_GLYPH_X
    c.line(x - 5 + s, h / 2 + 7 + s, x + 7 + s, h / 2 - 6 + s, 2.2, col)
    c.polygon([(x - 8 + s, h / 2 + 4 + s), (x - 2 + s, h / 2 + 10 + s), (x - 10 + s, h / 2 + 12 + s)], col)


def glyph_check_all(c, w, h, s, col):
    for k, y in enumerate((h / 2 - 6, h / 2 + 2)):
        c.rect(w / 2 - 8 + s, y + s, w / 2 - 2 + s, y + 6 + s, col)
        c.line(w / 2 - 7 + s, y + 3 + s, w / 2 - 5 + s, y + 5 + s, 1.2, (52, 112, 204, 255))
        c.line(w / 2 - 5 + s, y + 5 + s, w / 2 - 2.5 + s, y + 1 + s, 1.2, (52, 112, 204, 255))
        c.rect(w / 2 + 1 + s, y + 2 + s, w / 2 + 8 + s, y + 4 + s, col)


def glyph_remove_all(c, w, h, s, col):
    for y in (h / 2 - 6, h / 2 + 2):
        c.rect(w / 2 - 8 + s, y + s, w / 2 - 2 + s, y + 6 + s, col)
        c.rect(w / 2 - 7 + s, y + 1 + s, w / 2 - 3 + s, y + 5 + s, (52, 112, 204, 255))
        c.rect(w / 2 + 1 + s, y + 2 + s, w / 2 + 8 + s, y + 4 + s, col)


def glyph_cross(c, w, h, s, col):
    c.line(w / 2 - 4 + s, h / 2 - 4 + s, w / 2 + 4 + s, h / 2 + 4 + s, 1.8, col)
    c.line(w / 2 + 4 + s, h / 2 - 4 + s, w / 2 - 4 + s, h / 2 + 4 + s, 1.8, col)


def glyph_minimize(c, w, h, s, col):
    c.rect(w / 2 - 5 + s, h / 2 + 3 + s, w / 2 + 5 + s, h / 2 + 5 + s, col)


def glyph_maximize(c, w, h, s, col):
    c.rect(w / 2 - 5 + s, h / 2 - 5 + s, w / 2 + 5 + s, h / 2 + 5 + s, col)
    c.rect(w / 2 - 3.5 + s, h / 2 - 2 + s, w / 2 + 3.5 + s, h / 2 + 3.5 + s, (0, 0, 0, 0) if False else (52, 112, 204, 255))


def glyph_plus(c, w, h, s, col):
    c.rect(w / 2 - 6 + s, h / 2 - 1 + s, w / 2 + 6 + s, h / 2 + 1 + s, col)
    c.rect(w / 2 - 1 + s, h / 2 - 6 + s, w / 2 + 1 + s, h / 2 + 6 + s, col)


def glyph_minus(c, w, h, s, col):
    c.rect(w / 2 - 6 + s, h / 2 - 1 + s, w / 2 + 6 + s, h / 2 + 1 + s, col)


def glyph_gear(c, w, h, s, col):
    cx, cy = w / 2 + s, h / 2 + s
    c.circle(cx, cy, 5.5, col)
    for k in range(8):
        a = k * math.pi / 4
        c.circle(cx + 6 * math.cos(a), cy + 6 * math.sin(a), 1.6, col)
    c.circle(cx, cy, 2.2, (52, 112, 204, 255))


def glyph_help(c, w, h, s, col):
    c.ring(w / 2 + s, h / 2 - 2 + s, 4.5, 1.8, col)
    c.rect(w / 2 - 6 + s, h / 2 - 3 + s, w / 2 + s, h / 2 + 3 + s, (52, 112, 204, 255))
    c.rect(w / 2 - 0.9 + s, h / 2 + 2 + s, w / 2 + 0.9 + s, h / 2 + 4 + s, col)
    c.circle(w / 2 + s, h / 2 + 6.5 + s, 1.1, col)


# ------------------------------------------------------------------ glyphs on system buttons
def glyph_pencil():
    """The backup dialog's "edit the log's name" button: a pencil, in no language."""
    c = Canvas(16, 16)
    c.line(4, 12, 12, 4, 3.2, (52, 112, 204, 255))           # the shaft
    c.line(11, 5, 13, 3, 3.2, (200, 90, 80, 255))            # the eraser
    c.polygon([(2.2, 14), (3, 10.6), (5.4, 13)], (60, 60, 60, 255))  # the point
    c.rect(2, 15, 14, 16, (120, 120, 120, 255))              # the line it writes
    c.save("GlyphEdit.png")


# ------------------------------------------------------------------ progress window
def progress_back():
    c = Canvas(400, 262, WHITE)
    c.vgradient(0, 0, 400, 64, (34, 70, 140, 255), (18, 40, 90, 255))
    c.vgradient(0, 64, 400, 70, (200, 210, 228, 255), (255, 255, 255, 255))
    c.rounded(20, 34, 380, 54, 5, (10, 24, 56, 255))       # the bar's track
    c.rounded(21, 35, 379, 53, 4, (44, 60, 98, 255))
    c.rect(0, 226, 400, 227, (210, 216, 228, 255))
    c.vgradient(0, 227, 400, 262, (244, 246, 250, 255), (226, 232, 242, 255))
    # a quiet broom mark in the corner of the header
    c.line(350, 26, 372, 8, 2.4, (255, 255, 255, 70))
    c.polygon([(342, 22), (352, 32), (338, 34)], (255, 255, 255, 70))
    c.save("ProgressBack.png")


def progress_bar():
    c = Canvas(353, 14)
    c.shape(lambda x, y: True, lambda x, y: (
        round(70 + 40 * (1 - y / 14)), round(170 + 60 * (1 - y / 14)), round(60 + 20 * (1 - y / 14)), 255),
        samples=1)
    for x in range(0, 353, 12):
        c.polygon([(x, 14), (x + 6, 0), (x + 10, 0), (x + 4, 14)], (255, 255, 255, 40))
    c.save("ProgressBar.png")


# ------------------------------------------------------------------ balloon tip
def balloon():
    w, h = 299, 118
    c = Canvas(w, h)
    body = (1, 1, w - 22, h - 1)
    border = (120, 132, 150, 255)
    fill = (255, 252, 226, 255)
    tail = [(w - 23, 40), (w - 1, 56), (w - 23, 70)]
    c.rounded(*body, 10, border)
    c.polygon(tail, border)
    c.rounded(body[0] + 1.2, body[1] + 1.2, body[2] - 1.2, body[3] - 1.2, 9, fill)
    c.polygon([(w - 24.5, 42.5), (w - 4, 56), (w - 24.5, 67.5)], fill)
    c.circle(20, 22, 9, (46, 110, 210, 255))
    c.rect(19, 20, 21.2, 28, WHITE)
    c.circle(20.1, 16.6, 1.4, WHITE)
    c.save("GuideBalloon.png")


# ------------------------------------------------------------------ main window
TITLE_TOP = (44, 78, 140, 255)
TITLE_BOTTOM = (20, 40, 86, 255)


def title_tiles():
    t = Canvas(1, 26)
    t.vgradient(0, 0, 1, 26, TITLE_TOP, TITLE_BOTTOM)
    t.save("TitleTile2.png")
    t = Canvas(1, 26)
    t.vgradient(0, 0, 1, 26, (64, 108, 180, 255), (28, 58, 118, 255))
    t.save("TitleTile1.png")
    t = Canvas(1, 56)
    t.vgradient(0, 0, 1, 52, (58, 104, 182, 255), (30, 62, 126, 255))
    t.vgradient(0, 52, 1, 56, (20, 40, 86, 255), (46, 160, 67, 255))
    t.save("TitleBack.png")


def green_bar():
    c = Canvas(4, 4)
    c.rect(0, 0, 4, 4, GREEN)
    c.rect(0, 0, 1, 4, (120, 210, 130, 255))
    c.save("GreenBar.png")


def logo():
    """A kestrel's head in profile over a sweep of wind, on a round badge."""
    c = Canvas(48, 48)
    c.circle(24, 24, 22.5, (255, 255, 255, 230))
    c.circle(24, 24, 21, (36, 86, 170, 255))
    c.shape(lambda x, y: (x - 24) ** 2 + (y - 24) ** 2 <= 21 ** 2 and y > 31 + 3 * math.sin(x / 5),
            (46, 160, 67, 255), (0, 0, 48, 48))
    # the bird: head, beak and the dark "moustache" mark of a kestrel
    c.circle(22, 21, 9, (196, 112, 56, 255))
    c.polygon([(29, 17), (36, 20), (29, 23)], (250, 200, 60, 255))
    c.polygon([(30, 20), (34, 22.5), (30, 22)], (60, 40, 30, 255))
    c.circle(25, 18.5, 2.2, WHITE)
    c.circle(25.6, 18.6, 1.2, INK)
    c.line(22, 22, 21, 28, 1.8, (70, 50, 40, 255))
    c.polygon([(13, 19), (18, 13), (20, 28), (12, 30)], (170, 90, 44, 255))
    # wind lines
    for y, x0 in ((34, 10), (38, 14)):
        c.line(x0, y, x0 + 22, y - 2, 1.3, (255, 255, 255, 200))
    c.save("Logo.png")


def page_icon(kind):
    i = Canvas(24, 24)
    if kind == "about":
        i.circle(12, 12, 10.5, BLUE)
        i.rect(10.8, 10, 13.2, 18, WHITE)
        i.circle(12, 6.8, 1.6, WHITE)
    elif kind == "path":
        i.rounded(2, 5, 11, 9, 1.5, FOLDER_DARK)
        i.rounded(2, 7, 22, 20, 2, FOLDER)
        i.rect(2, 10, 22, 11, FOLDER_DARK)
        i.circle(17, 16, 4.6, WHITE)
        i.circle(17, 16, 3.4, GREEN)
        i.rect(15, 15.4, 19, 16.6, WHITE)
        i.rect(16.4, 14, 17.6, 18, WHITE)
    elif kind == "filters":
        i.polygon([(2, 3), (22, 3), (14, 12), (14, 21), (10, 19), (10, 12)], (90, 130, 200, 255))
        i.polygon([(4, 4.5), (20, 4.5), (13, 11.5), (11, 11.5)], (150, 185, 235, 255))
    elif kind == "scan":
        i.ring(10, 10, 7.5, 2.4, INK)
        i.circle(10, 10, 5.2, (190, 220, 250, 255))
        i.line(15.5, 15.5, 21, 21, 3.2, INK)
    elif kind == "clean":
        i.line(19, 3, 10, 13, 2.4, (150, 100, 50, 255))
        i.polygon([(6, 11), (13, 17), (8, 22), (2, 20), (2, 15)], (46, 160, 67, 255))
        i.line(4, 19, 8, 15, 0.8, (20, 100, 40, 255))
        i.line(6, 21, 10, 17, 0.8, (20, 100, 40, 255))
    return i


def page_button(name, kind, w=136, h=40):
    """Four frames: normal, mouse over, pressed, disabled (the current page's look is drawn by the program)."""
    strip = Canvas(4 * w, h)
    icon = page_icon(kind)
    for frame in range(4):
        f = Canvas(w, h)
        if frame == 1:
            f.rounded(0, 1, w, h - 1, 5, (255, 255, 255, 150))
            f.rounded(0, 1, 4, h - 1, 1, (120, 200, 130, 255))
        elif frame == 2:
            f.rounded(0, 1, w, h - 1, 5, (190, 205, 228, 255))
        shift = 1 if frame == 2 else 0
        f.paste(icon, 12 + shift, 8 + shift)
        strip.paste(f, frame * w, 0)
    strip.save(name)


# ------------------------------------------------------------------ cookies manager
COOKIE = (196, 140, 76, 255)
CHIP = (90, 52, 24, 255)


def small_cookie(c, cx, cy, r):
    c.circle(cx, cy, r, COOKIE)
    c.circle(cx + r * 0.35, cy - r * 0.45, r * 0.22, (220, 172, 110, 255))
    for (dx, dy) in ((-0.35, -0.25), (0.3, 0.05), (-0.15, 0.45), (0.45, 0.5)):
        c.circle(cx + dx * r, cy + dy * r, max(0.8, r * 0.16), CHIP)


def cookie_badge(c, cx, cy, r, color, mark):
    c.circle(cx, cy, r + 0.8, WHITE)
    c.circle(cx, cy, r, color)
    if mark == "check":
        c.line(cx - r * 0.5, cy, cx - r * 0.1, cy + r * 0.45, 1.2, WHITE)
        c.line(cx - r * 0.1, cy + r * 0.45, cx + r * 0.55, cy - r * 0.45, 1.2, WHITE)
    elif mark == "cross":
        c.line(cx - r * 0.45, cy - r * 0.45, cx + r * 0.45, cy + r * 0.45, 1.2, WHITE)
        c.line(cx + r * 0.45, cy - r * 0.45, cx - r * 0.45, cy + r * 0.45, 1.2, WHITE)
    else:
        c.rect(cx - r * 0.55, cy - 0.6, cx + r * 0.55, cy + 0.6, WHITE)
        c.rect(cx - 0.6, cy - r * 0.55, cx + 0.6, cy + r * 0.55, WHITE)


def draw_cookie_icon(c, size, color, mark, shift=0):
    small_cookie(c, size * 0.42 + shift, size * 0.42 + shift, size * 0.4)
    cookie_badge(c, size * 0.72 + shift, size * 0.72 + shift, size * 0.24, color, mark)


def cookie_icon(name, size, color, mark):
    c = Canvas(size, size)
    draw_cookie_icon(c, size, color, mark)
    c.save(name)


def cookie_icon_strip(name, size, color, mark):
    """A picture button of the icon alone: normal, mouse over (a halo), pressed, disabled (grey)."""
    strip = Canvas(4 * size, size)
    for i in range(4):
        f = Canvas(size, size)
        if i == 1:
            f.circle(size / 2, size / 2, size / 2, (255, 255, 255, 150))
        draw_cookie_icon(f, size, color, mark, 1 if i == 2 else 0)
        if i == 3:
            for p in f.px:
                grey = round(0.3 * p[0] + 0.59 * p[1] + 0.11 * p[2])
                p[0] = p[1] = p[2] = min(255, grey + 60)
                p[3] = round(p[3] * 0.6)
        strip.paste(f, i * size, 0)
    strip.save(name)


def glyph_arrow(right):
    def draw(c, w, h, s, col):
        d = 1 if right else -1
        cx, cy = w / 2 + s, h / 2 + s
        c.rect(cx - 7 if right else cx - 1, cy - 2, cx + 1 if right else cx + 7, cy + 2, col)
        c.polygon([(cx + d * 1 - d * 0.5, cy - 7), (cx + d * 8, cy), (cx + d * 1 - d * 0.5, cy + 7)], col)
    return draw


def glyph_check(c, w, h, s, col):
    cx, cy = w / 2 + s, h / 2 + s
    c.line(cx - 6, cy, cx - 2, cy + 5, 2.4, col)
    c.line(cx - 2, cy + 5, cx + 7, cy - 5, 2.4, col)


def cookies_back():
    w, h = 448, 336
    c = Canvas(w, h, WHITE)
    c.vgradient(0, 0, w, 44, (34, 70, 140, 255), (18, 40, 90, 255))
    c.vgradient(0, 44, w, 292, (244, 246, 251, 255), (226, 232, 242, 255))
    c.vgradient(0, 292, w, h, (26, 54, 112, 255), (14, 32, 76, 255))
    c.rect(0, 44, w, 45, (120, 146, 196, 255))
    c.rect(0, 291, w, 292, (120, 146, 196, 255))
    small_cookie(c, 26, 22, 11)
    for left, color in ((16, (236, 150, 30, 255)), (248, (110, 190, 40, 255))):
        c.circle(left + 6, 62, 4.5, color)
        c.rounded(left - 2, 72, left + 186, 271, 3, (168, 180, 204, 255))
        c.rect(left - 1, 73, left + 185, 270, WHITE)
    # the window's own edge: it has no frame
    c.rect(0, 0, w, 1, (10, 20, 44, 255))
    c.rect(0, h - 1, w, h, (10, 20, 44, 255))
    c.rect(0, 0, 1, h, (10, 20, 44, 255))
    c.rect(w - 1, 0, w, h, (10, 20, 44, 255))
    c.save("CookiesBack.png")


def cookies_manager():
    cookies_back()
    cookie_icon("CookieKeep.png", 14, GREEN, "check")
    cookie_icon("CookieDrop.png", 14, (214, 110, 30, 255), "cross")
    cookie_icon_strip("CookieAdd.png", 20, GREEN, "plus")
    button_strip("ButtonToKeep.png", 32, 28, glyph_arrow(True), base=(40, 150, 80))
    button_strip("ButtonToDelete.png", 32, 28, glyph_arrow(False), base=(214, 120, 30))
    button_strip("ButtonSave.png", 44, 28, glyph_check, base=(40, 150, 80))
    button_strip("ButtonCancel.png", 44, 28, glyph_cross, base=(110, 120, 140))
# ------------------------------------------------------------------ language chooser
def language_picture():
    """The chooser's left side: a globe with two speech bubbles on the header blue."""
    w, h = 120, 201
    c = Canvas(w, h)
    c.vgradient(0, 0, w, h, (34, 70, 140, 255), (14, 32, 76, 255))
    c.rect(w - 1, 0, w, h, (10, 24, 56, 255))
    cx, cy, r = 56, 126, 34
    c.circle(cx, cy, r + 3, (255, 255, 255, 40))
    c.circle(cx, cy, r, (60, 140, 220, 255))
    c.shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r and (x - cx + 8) ** 2 + (y - cy + 10) ** 2 <= 22 ** 2,
            (110, 180, 240, 255), (cx - r, cy - r, cx + r, cy + r))
    line = (255, 255, 255, 150)
    for k in (0.45, 0.85):   # meridians
        c.shape(lambda x, y, k=k: abs((x - cx) ** 2 / (r * k) ** 2 + (y - cy) ** 2 / r ** 2 - 1) < 0.06 and
                (x - cx) ** 2 + (y - cy) ** 2 <= r * r, line, (cx - r, cy - r, cx + r, cy + r))
    c.rect(cx - r + 1, cy - 0.6, cx + r - 1, cy + 0.6, line)   # equator
    for dy in (-17, 17):     # parallels
        half = math.sqrt(r * r - dy * dy)
        c.rect(cx - half + 1, cy + dy - 0.5, cx + half - 1, cy + dy + 0.5, line)

    def bubble(x0, y0, x1, y1, tail, fill, ink, bars):
        c.rounded(x0, y0, x1, y1, 6, fill)
        c.polygon(tail, fill)
        for i, length in enumerate(bars):
            y = y0 + 7 + i * 7
            c.rounded(x0 + 8, y, x0 + 8 + length, y + 3.2, 1.6, ink)

    bubble(14, 42, 72, 76, [(26, 74), (24, 88), (40, 74)], (255, 255, 255, 255), (34, 70, 140, 255), (40, 30, 36))
    bubble(58, 64, 110, 94, [(92, 92), (98, 104), (82, 92)], (250, 200, 40, 255), (120, 80, 10, 255), (34, 24))
    c.save("LanguagePicture.png")


def main():
    os.makedirs(OUT, exist_ok=True)
    icons()
    glyph_pencil()
    progress_back()
    progress_bar()
    balloon()
    cookies_manager()
    language_picture()
    button_strip("ButtonStart.png", 104, 32, glyph_play)
    button_strip("ButtonStop.png", 104, 32, glyph_stop, base=(180, 60, 50))
    button_strip("ButtonClean.png", 104, 32, glyph_broom, base=(40, 150, 80))
    button_strip("ButtonAdd.png", 32, 32, glyph_plus)
    button_strip("ButtonDelete.png", 32, 32, glyph_minus)
    button_strip("ButtonOptions.png", 24, 24, glyph_gear)
    button_strip("ButtonHelp.png", 24, 24, glyph_help)
    button_strip("ButtonMinimize.png", 22, 18, glyph_minimize, base=(30, 60, 120))
    button_strip("ButtonMaximize.png", 22, 18, glyph_maximize, base=(30, 60, 120))
    button_strip("ButtonRestore.png", 22, 18, glyph_maximize, base=(30, 60, 120))
    button_strip("ButtonExit.png", 22, 18, glyph_cross, base=(170, 50, 40))
    button_strip("ButtonCheckAll.png", 32, 32, glyph_check_all)
    button_strip("ButtonRemoveAll.png", 32, 32, glyph_remove_all)
    title_tiles()
    green_bar()
    logo()
    for kind in ("about", "path", "filters", "scan", "clean"):
        page_button("Page%s.png" % kind.capitalize(), kind)


if __name__ == "__main__":
    main()

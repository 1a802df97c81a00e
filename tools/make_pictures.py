#!/usr/bin/env python3
"""Draws the program's pictures into resources/: the PNGs compiled in as type "IMG" and the icon.

Pure Python (zlib and struct only) and deterministic: the same script always writes the same bytes,
so the committed pictures can be checked by running it again. Shapes are signed-distance fields,
anti-aliased over one pixel, composited in straight alpha with the "over" rule. Captions are not
part of the pictures: the program draws its texts itself.

    python3 tools/make_pictures.py [output folder]   (default: resources/ beside this folder)
"""
import math
import os
import struct
import sys
import zlib

# ---- colours --------------------------------------------------------------------------------

def hexc(text, a=1.0):
    text = text.lstrip("#")
    return (int(text[0:2], 16) / 255, int(text[2:4], 16) / 255, int(text[4:6], 16) / 255, a)


BLUE = hexc("3B6EF5")
BLUE_DEEP = hexc("2F55D4")
VIOLET = hexc("6A5CF0")
INK = hexc("1F2933")
GREY_LINE = hexc("D0D5DD")
GREY_HOVER = hexc("98A2B3")
WHITE = hexc("FFFFFF")
PAPER = hexc("F5F7FB")
RED = hexc("E5484D")
AMBER = hexc("F5A524")
SHADOW = hexc("101828")


def mix(c1, c2, t):
    t = min(1.0, max(0.0, t))
    return tuple(c1[i] + (c2[i] - c1[i]) * t for i in range(4))


def with_alpha(c, a):
    return (c[0], c[1], c[2], a)


# ---- canvas ---------------------------------------------------------------------------------

class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]

    def blend(self, x, y, colour, cover):
        a = colour[3] * cover
        if a <= 0.0:
            return
        p = self.px[y * self.w + x]
        da = p[3]
        out_a = a + da * (1 - a)
        for i in range(3):
            p[i] = (colour[i] * a + p[i] * da * (1 - a)) / out_a
        p[3] = out_a

    def fill(self, sdf, paint, box=None, soft=1.0):
        """Fills where sdf(x, y) < 0, with an edge ramp soft pixels wide; paint is a colour or a
        function (x, y) -> colour. box limits the pixels visited: (x0, y0, x1, y1)."""
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        solid = not callable(paint)
        for y in range(y0, y1):
            cy = y + 0.5
            for x in range(x0, x1):
                cx = x + 0.5
                d = sdf(cx, cy)
                cover = 0.5 - d / soft
                if cover <= 0.0:
                    continue
                if cover > 1.0:
                    cover = 1.0
                self.blend(x, y, paint if solid else paint(cx, cy), cover)

    def shadow(self, sdf, colour, spread, box=None):
        """A soft shadow: opacity falls off smoothly over spread pixels outside the shape."""
        def paint_cover(d):
            if d <= 0:
                return 1.0
            t = d / spread
            return max(0.0, 1.0 - t) ** 2
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        for y in range(max(0, int(y0)), min(self.h, int(y1))):
            for x in range(max(0, int(x0)), min(self.w, int(x1))):
                c = paint_cover(sdf(x + 0.5, y + 0.5))
                if c > 0:
                    self.blend(x, y, colour, c)

    def paste(self, other, ox, oy):
        for y in range(other.h):
            for x in range(other.w):
                p = other.px[y * other.w + x]
                if p[3] > 0 and 0 <= x + ox < self.w and 0 <= y + oy < self.h:
                    self.blend(x + ox, y + oy, tuple(p[:3]) + (1.0,), p[3])

    def rgba_bytes(self):
        out = bytearray()
        for p in self.px:
            for i in range(4):
                out.append(max(0, min(255, int(round(p[i] * 255)))))
        return bytes(out)

    def png(self):
        raw = bytearray()
        data = self.rgba_bytes()
        stride = self.w * 4
        for y in range(self.h):
            raw.append(0)
            raw += data[y * stride:(y + 1) * stride]

        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
        return (b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))

    def dib(self):
        """The icon-directory form of the picture: BITMAPINFOHEADER (double height), BGRA rows
        bottom-up, then the 1-bit AND mask (all zero: the alpha channel decides)."""
        header = struct.pack("<IiiHHIIiiII", 40, self.w, self.h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        data = self.rgba_bytes()
        rows = bytearray()
        for y in range(self.h - 1, -1, -1):
            for x in range(self.w):
                r, g, b, a = data[(y * self.w + x) * 4:(y * self.w + x) * 4 + 4]
                rows += bytes((b, g, r, a))
        mask_stride = ((self.w + 31) // 32) * 4
        return header + bytes(rows) + bytes(mask_stride * self.h)


# ---- distance fields ------------------------------------------------------------------------

def rrect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return sdf


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def segment(ax, ay, bx, by, r):
    def sdf(x, y):
        px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
        t = max(0.0, min(1.0, (px * dx + py * dy) / (dx * dx + dy * dy)))
        return math.hypot(px - dx * t, py - dy * t) - r
    return sdf


def arc(cx, cy, radius, width, start_deg, end_deg):
    """A stroke along the circle from start to end angle (degrees, clockwise on a y-down grid)."""
    a0, a1 = math.radians(start_deg), math.radians(end_deg)

    def sdf(x, y):
        ang = math.atan2(y - cy, x - cx)
        while ang < a0:
            ang += 2 * math.pi
        if ang <= a1:
            return abs(math.hypot(x - cx, y - cy) - radius) - width
        ends = [(cx + radius * math.cos(a), cy + radius * math.sin(a)) for a in (a0, a1)]
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - width
    return sdf


def union(*fields):
    return lambda x, y: min(f(x, y) for f in fields)


def intersect(*fields):
    return lambda x, y: max(f(x, y) for f in fields)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def linear(c0, c1, x0, y0, x1, y1):
    dx, dy = x1 - x0, y1 - y0
    length = dx * dx + dy * dy
    return lambda x, y: mix(c0, c1, ((x - x0) * dx + (y - y0) * dy) / length)


# ---- shared motifs --------------------------------------------------------------------------

def leaf(cv, cx, cy, size, colour):
    """The product's mark: a leaf, the lens where two circles overlap, with a stem line."""
    r = size * 0.62
    off = size * 0.42
    k = math.sqrt(0.5)
    lens = intersect(circle(cx - off * k, cy - off * k, r), circle(cx + off * k, cy + off * k, r))
    vein = segment(cx - size * 0.34, cy + size * 0.34, cx + size * 0.16, cy - size * 0.16,
                   size * 0.045)
    box = (cx - size, cy - size, cx + size, cy + size)
    cv.fill(lens, colour, box)
    cv.fill(vein, with_alpha(BLUE_DEEP, 0.55), box)


def card(cv, x0, y0, x1, y1, radius, header_h):
    """A rounded white card with a soft shadow and a gradient header band."""
    body = rrect(x0, y0, x1, y1, radius)
    cv.shadow(rrect(x0, y0 + 1, x1, y1 + 1, radius), with_alpha(SHADOW, 0.16), 3.0)
    cv.fill(body, linear(WHITE, PAPER, 0, y0 + header_h, 0, y1))
    if header_h > 0:
        band = intersect(body, lambda x, y: y - (y0 + header_h))
        cv.fill(band, linear(BLUE, VIOLET, x0, y0, x1, y0 + header_h),
                (x0, y0, x1, y0 + header_h + 1))
        # Quiet decoration: two large translucent rings at the right end of the band.
        for (cx, cy, r) in ((x1 - 40, y0 + 4, 34), (x1 - 92, y0 + header_h + 6, 28)):
            ring = intersect(band, lambda x, y, cx=cx, cy=cy, r=r: abs(math.hypot(x - cx, y - cy) - r) - 7)
            cv.fill(ring, with_alpha(WHITE, 0.08), (x0, y0, x1, y0 + header_h + 1))
    # A hairline border keeps the white card readable on a white desktop.
    cv.fill(subtract(body, rrect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, radius - 1)),
            with_alpha(INK, 0.10))


# ---- the pictures ---------------------------------------------------------------------------

def background_panel():  # 60052, drawn at (0, 89) of the 450 x 230 window
    cv = Canvas(437, 141)
    card(cv, 3, 2, 434, 138, 10, 46)
    # Logo tile in the header.
    cv.fill(rrect(18, 11, 44, 37, 7), with_alpha(WHITE, 0.96), (16, 9, 46, 39))
    leaf(cv, 31, 24, 15, BLUE)
    # Three soft dots as a quiet accent line under the header.
    for i, a in enumerate((0.55, 0.35, 0.2)):
        cv.fill(circle(53 + i * 9, 24, 2.2), with_alpha(WHITE, a), (48, 20, 78, 28))
    return cv


def default_dialog():  # 60051: stretched as a nine-slice (30-row bands, 3-column edges)
    # Opaque to its edges: plain dialogs and message boxes round their corners with a window
    # region, and their frame buffer has no alpha to show through.
    cv = Canvas(186, 150)
    cv.fill(lambda x, y: -1.0, linear(WHITE, PAPER, 0, 30, 0, 150))
    cv.fill(lambda x, y: y - 30, linear(BLUE, VIOLET, 0, 0, 186, 0), (0, 0, 186, 31))
    # A faint highlight along the band's top and a hairline frame around the whole box.
    cv.fill(lambda x, y: abs(y - 1.5) - 0.5, with_alpha(WHITE, 0.14), (0, 0, 186, 3))
    frame = subtract(lambda x, y: -1.0, rrect(1, 1, 185, 149, 0.01))
    cv.fill(frame, with_alpha(INK, 0.22))
    return cv


def progress_strip():  # 60026: the part still to go; eaten from the left as progress grows
    cv = Canvas(279, 23)
    track = rrect(1, 5, 278, 18, 6.5)
    cv.shadow(rrect(1, 6, 278, 19, 6.5), with_alpha(BLUE_DEEP, 0.22), 2.5)
    cv.fill(track, linear(hexc("5B8BFA"), BLUE_DEEP, 0, 5, 0, 18))

    def stripes(x, y):
        phase = ((x + y) % 14) / 14.0
        return with_alpha(WHITE, 0.13 if phase < 0.5 else 0.0)
    cv.fill(track, stripes, (0, 4, 279, 19))
    cv.fill(intersect(track, lambda x, y: y - 9.5), with_alpha(WHITE, 0.18), (0, 4, 279, 11))
    return cv


def marker():  # 60027: travels above the bar and hops; its body covers the eaten edge
    cv = Canvas(137, 157)
    cx, cy, r = 30, 128, 21
    body = circle(cx, cy, r)
    # The mouth opens toward the strip ahead (to the right).
    mouth = lambda x, y: max(cx + 2 - x, abs(y - cy) - 0.62 * (x - cx - 2))
    shape = subtract(body, mouth)
    cv.shadow(lambda x, y: shape(x - 1, y - 3), with_alpha(SHADOW, 0.16), 4.0,
              (cx - r - 8, cy - r - 8, cx + r + 8, cy + r + 10))
    cv.fill(shape, linear(hexc("6E95FA"), BLUE_DEEP, cx - r, cy - r, cx + r, cy + r),
            (cx - r - 2, cy - r - 2, cx + r + 2, cy + r + 2))
    cv.fill(intersect(shape, circle(cx - 6, cy - 9, 11)), with_alpha(WHITE, 0.22),
            (cx - r, cy - r, cx + r, cy + r))
    cv.fill(circle(cx + 2, cy - 10, 3.2), WHITE, (cx - 4, cy - 16, cx + 8, cy - 4))
    cv.fill(circle(cx + 2.8, cy - 10.4, 1.6), INK, (cx - 2, cy - 14, cx + 6, cy - 6))
    # Crumbs of what was eaten, drifting up and back.
    for (x, y, s, a) in ((14, 96, 3.0, 0.55), (30, 86, 2.2, 0.4), (8, 78, 1.8, 0.3),
                         (24, 66, 1.4, 0.22)):
        cv.fill(rrect(x - s, y - s, x + s, y + s, s * 0.35), with_alpha(BLUE, a),
                (x - s - 2, y - s - 2, x + s + 2, y + s + 2))
    return cv


def button_strip(kind):  # 60073 (cancel), 60074 (uninstall): normal, hover, pressed
    cv = Canvas(87, 29)
    if kind == "neutral":
        fills = [(WHITE, PAPER), (hexc("F2F4F7"), hexc("E9ECF2")), (hexc("E4E7EC"), hexc("E4E7EC"))]
        borders = [GREY_LINE, GREY_HOVER, GREY_HOVER]
    else:
        fills = [(hexc("EEF3FF"), hexc("E1EAFE")), (hexc("E1EAFE"), hexc("D3E0FD")),
                 (hexc("C9D8FC"), hexc("C9D8FC"))]
        borders = [hexc("9DB7F9"), BLUE, BLUE_DEEP]
    for i in range(3):
        x0 = i * 29
        outer = rrect(x0 + 0.5, 0.5, x0 + 28.5, 28.5, 6)
        inner = rrect(x0 + 1.5, 1.5, x0 + 27.5, 27.5, 5)
        box = (x0, 0, x0 + 29, 29)
        cv.fill(outer, borders[i], box)
        top, bottom = fills[i]
        cv.fill(inner, linear(top, bottom, 0, 1.5, 0, 27.5), box)
        if i == 2:  # pressed: a faint inner shadow along the top
            cv.fill(intersect(inner, lambda x, y: y - 4), with_alpha(SHADOW, 0.06), box)
    return cv


def push_button(state):  # 60001-60004: normal, hover, pressed, after a click
    cv = Canvas(69, 21)
    fills = [(WHITE, PAPER), (hexc("EEF3FF"), hexc("E1EAFE")), (hexc("D3E0FD"), hexc("D3E0FD")),
             (hexc("F2F4F7"), hexc("E9ECF2"))][state]
    border = [GREY_LINE, BLUE, BLUE_DEEP, GREY_HOVER][state]
    # Small radius: the button is drawn with 2-pixel unscaled edges.
    cv.fill(rrect(0.5, 0.5, 68.5, 20.5, 2.5), border)
    cv.fill(rrect(1.5, 1.5, 67.5, 19.5, 1.5), linear(fills[0], fills[1], 0, 1.5, 0, 19.5))
    return cv


def close_button(state):  # 60006-60008: normal, hover, pressed
    cv = Canvas(38, 18)
    if state > 0:
        bg = RED if state == 1 else hexc("C13A3F")
        cv.fill(rrect(0, 0, 38, 18, 3), bg)
    # The button sits on the dialogs' coloured title band.
    glyph = with_alpha(WHITE, 1.0) if state > 0 else with_alpha(WHITE, 0.85)
    cross = union(segment(15, 5, 23, 13, 0.75), segment(23, 5, 15, 13, 0.75))
    cv.fill(cross, glyph)
    return cv


def check_box(state):  # 60036-60039: unchecked, unchecked hover, checked hover, checked; 15 x 15
    # Not part of the uninstaller, which never shows a check box; test programs carry them.
    cv = Canvas(15, 15)
    checked = state >= 2
    border = [GREY_LINE, BLUE, BLUE_DEEP, BLUE][state]
    cv.fill(rrect(0.5, 0.5, 14.5, 14.5, 3), border)
    inner = [WHITE, hexc("EEF3FF"), BLUE_DEEP, BLUE][state]
    cv.fill(rrect(1.5, 1.5, 13.5, 13.5, 2), inner)
    if checked:
        cv.fill(union(segment(4, 7.6, 6.4, 10, 1.0), segment(6.4, 10, 11, 4.8, 1.0)), WHITE)
    return cv


def badge(kind):  # 60056 (information), 60057 (question), 32 x 32
    cv = Canvas(32, 32)
    colour = BLUE if kind == "info" else AMBER
    cv.shadow(circle(16, 16.8, 13.5), with_alpha(SHADOW, 0.18), 2.0)
    cv.fill(circle(16, 16, 13.5), linear(mix(colour, WHITE, 0.18), colour, 0, 2, 0, 30))
    if kind == "info":
        cv.fill(circle(16, 9.6, 1.9), WHITE)
        cv.fill(segment(16, 14.2, 16, 22.5, 1.7), WHITE)
    else:
        cv.fill(arc(16, 11.6, 4.3, 1.55, 180, 405), WHITE)
        cv.fill(segment(19.04, 14.64, 16, 17.3, 1.55), WHITE)
        cv.fill(segment(16, 17.3, 16, 18.6, 1.55), WHITE)
        cv.fill(circle(16, 23.2, 1.8), WHITE)
    return cv


def crash_picture():  # 60061: a crying face beside a red banner, 256 x 80
    cv = Canvas(256, 80)
    # Banner: a red ribbon with folded tail ends behind it.
    for sx in (1, -1):
        tail_x = 128 + sx * 112
        # Swallow-tailed ends: a V cut out of the outer side.
        notch = lambda x, y, tx=tail_x, sx=sx: 9 - sx * (x - tx) - abs(y - 42) * 0.6
        cv.fill(subtract(rrect(tail_x - 14, 26, tail_x + 14, 58, 2), lambda x, y, n=notch: -n(x, y)),
                hexc("B4353A"))
    cv.shadow(rrect(22, 20, 234, 52, 8), with_alpha(SHADOW, 0.2), 3.0)
    cv.fill(rrect(22, 20, 234, 52, 8), linear(hexc("F0676B"), RED, 0, 20, 0, 52))
    cv.fill(intersect(rrect(22, 20, 234, 52, 8), lambda x, y: y - 30), with_alpha(WHITE, 0.12))
    # The face sits over the banner's left end.
    cx, cy, r = 56, 40, 30
    cv.shadow(circle(cx, cy + 2, r), with_alpha(SHADOW, 0.22), 4.0)
    cv.fill(circle(cx, cy, r), linear(hexc("FFD666"), hexc("F5A524"), 0, cy - r, 0, cy + r))
    for side in (-1, 1):
        ex = cx + side * 10
        cv.fill(circle(ex, cy - 3, 2.8), INK)  # eyes
        cv.fill(segment(ex - side * 4, cy - 12, ex + side * 3, cy - 10, 1.1), INK)  # worried brows
    cv.fill(arc(cx, cy + 17, 9, 1.6, 215, 325), INK)  # frown
    # Tears.
    for tx in (cx - 12, cx + 12):
        # A drop: circles shrinking toward its tip.
        drop = union(*[circle(tx, cy + 10 - k * 1.4, 3.2 - k * 0.55) for k in range(6)])
        cv.fill(drop, hexc("5AB0F5"))
    # A line of small white blocks on the banner's right, like an unfinished bar.
    for i in range(5):
        cv.fill(rrect(120 + i * 20, 33, 132 + i * 20, 39, 3), with_alpha(WHITE, 0.85 - i * 0.15))
    return cv


def app_icon(size):
    cv = Canvas(size, size)
    s = size / 32.0
    cv.shadow(rrect(2 * s, 2.6 * s, 30 * s, 30.6 * s, 7 * s), with_alpha(SHADOW, 0.25),
              max(1.0, 1.5 * s))
    cv.fill(rrect(2 * s, 2 * s, 30 * s, 30 * s, 7 * s),
            linear(hexc("5B8BFA"), VIOLET, 2 * s, 2 * s, 30 * s, 30 * s), soft=1.0)
    leaf(cv, 16 * s, 16 * s, 19 * s, WHITE)
    return cv


def icon_file(pictures):
    """An .ico: 16/32/48 as 32-bit DIBs, 256 as PNG (what current systems expect)."""
    entries, blobs = [], []
    offset = 6 + 16 * len(pictures)
    for cv in pictures:
        blob = cv.png() if cv.w >= 256 else cv.dib()
        dim = 0 if cv.w >= 256 else cv.w
        entries.append(struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    return struct.pack("<HHH", 0, 1, len(pictures)) + b"".join(entries) + b"".join(blobs)


PICTURES = {
    "bg_main_60052.png": background_panel,
    "bg_dialog_60051.png": default_dialog,
    "progress_strip_60026.png": progress_strip,
    "progress_marker_60027.png": marker,
    "btn_cancel_60073.png": lambda: button_strip("neutral"),
    "btn_uninstall_60074.png": lambda: button_strip("primary"),
    "btn_push_60001.png": lambda: push_button(0),
    "btn_push_60002.png": lambda: push_button(1),
    "btn_push_60003.png": lambda: push_button(2),
    "btn_push_60004.png": lambda: push_button(3),
    "btn_close_60006.png": lambda: close_button(0),
    "btn_close_60007.png": lambda: close_button(1),
    "btn_close_60008.png": lambda: close_button(2),
    "check_60036.png": lambda: check_box(0),
    "check_60037.png": lambda: check_box(1),
    "check_60038.png": lambda: check_box(2),
    "check_60039.png": lambda: check_box(3),
    "msg_info_60056.png": lambda: badge("info"),
    "msg_question_60057.png": lambda: badge("question"),
    "crash_60061.png": crash_picture,
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "resources")
    os.makedirs(out, exist_ok=True)
    only = set(sys.argv[2:])
    for name, make in PICTURES.items():
        if only and name not in only:
            continue
        with open(os.path.join(out, name), "wb") as f:
            f.write(make().png())
    if not only or "kvUninstall.ico" in only:
        with open(os.path.join(out, "kvUninstall.ico"), "wb") as f:
            f.write(icon_file([app_icon(n) for n in (16, 32, 48, 256)]))


if __name__ == "__main__":
    main()

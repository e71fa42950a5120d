#!/usr/bin/env python3
"""Draws Murbel's monochrome images and writes them as X bitmaps.

    scripts/draw_bitmaps.py            rewrite src/ui/bitmaps/*.xbm
    scripts/draw_bitmaps.py --png F    also write a scaled-up contact sheet

Every image is drawn from plain shapes (lines, polygons, rings) and a tiny
pixel font, so a change is made here and the files are regenerated.
"""
import math
import os
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT_DIR = os.path.join(ROOT, "src", "ui", "bitmaps")


class Canvas:
    def __init__(self, w, h, fill=0):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]

    def get(self, x, y):
        return self.px[y][x] if 0 <= x < self.w and 0 <= y < self.h else 0

    def set(self, x, y, v=1):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = v

    def rect(self, x0, y0, x1, y1, v=1):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, v)

    def line(self, x0, y0, x1, y1, v=1, width=1):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            x = round(x0 + (x1 - x0) * i / n)
            y = round(y0 + (y1 - y0) * i / n)
            for dx in range(width):
                self.set(x + dx, y, v)

    def polygon(self, pts, v=1):
        """Fills the pixels whose centres lie inside the polygon."""
        for y in range(self.h):
            for x in range(self.w):
                if inside(pts, x + 0.5, y + 0.5):
                    self.set(x, y, v)

    def mask(self, fn, v=1):
        for y in range(self.h):
            for x in range(self.w):
                if fn(x + 0.5, y + 0.5):
                    self.set(x, y, v)

    def text(self, x, y, s, font, v=1):
        for ch in s:
            glyph = font[ch]
            for gy, row in enumerate(glyph):
                for gx, c in enumerate(row):
                    if c == "#":
                        self.set(x + gx, y + gy, v)
            x += len(glyph[0]) + 1
        return x

    def blit(self, other, x0, y0, v=1):
        for y in range(other.h):
            for x in range(other.w):
                if other.px[y][x]:
                    self.set(x0 + x, y0 + y, v)


def inside(pts, x, y):
    hit = False
    for i in range(len(pts)):
        (ax, ay), (bx, by) = pts[i], pts[(i + 1) % len(pts)]
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            hit = not hit
    return hit


def outline(c):
    """The pixels of a shape that touch its outside (4-neighbourhood)."""
    out = Canvas(c.w, c.h)
    for y in range(c.h):
        for x in range(c.w):
            if c.px[y][x] and not all(c.get(x + dx, y + dy)
                                      for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                out.px[y][x] = 1
    return out


def text_width(s, font):
    return sum(len(font[ch][0]) + 1 for ch in s) - 1


# --- Fonts ----------------------------------------------------------------

SMALL_CAPS = {
    "D": ["##.", "#.#", "#.#", "#.#", "##."],
    "I": ["###", ".#.", ".#.", ".#.", "###"],
    "G": [".##", "#..", "#.#", "#.#", ".##"],
    "T": ["###", ".#.", ".#.", ".#.", ".#."],
    "A": [".#.", "#.#", "###", "#.#", "#.#"],
    "L": ["#..", "#..", "#..", "#..", "###"],
    "U": ["#.#", "#.#", "#.#", "#.#", "###"],
    "O": [".#.", "#.#", "#.#", "#.#", ".#."],
    " ": ["..", "..", "..", "..", ".."],
}

# Lower case: ascender row, four rows of x-height, one descender row.
SMALL_LOWER = {
    "c": ["...", "...", ".##", "#..", "#..", ".##", "..."],
    "o": ["...", "...", ".#.", "#.#", "#.#", ".#.", "..."],
    "m": [".....", ".....", "####.", "#.#.#", "#.#.#", "#.#.#", "....."],
    "p": ["...", "...", "##.", "#.#", "#.#", "##.", "#.."],
    "a": ["...", "...", ".##", "#.#", "#.#", ".##", "..."],
    "t": ["...", ".#.", "###", ".#.", ".#.", "..#", "..."],
}

LETTERS_4x7 = {
    "P": ["###.", "#..#", "#..#", "###.", "#...", "#...", "#..."],
    "G": [".##.", "#..#", "#...", "#.##", "#..#", "#..#", ".###"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
}

QUESTION = [".###.", "#...#", "....#", "..##.", "..#..", ".....", "..#.."]


# --- The logo -------------------------------------------------------------

# The word disc as bold letters; the logo draws only their contour.
DISC_BOLD = {
    "d": [".........####",
          ".........####",
          ".........####",
          ".........####",
          ".........####",
          ".........####",
          "...##########",
          ".############",
          "#############",
          "####.....####",
          "####.....####",
          "####.....####",
          "####.....####",
          "####.....####",
          "####.....####",
          "####.....####",
          "####.....####",
          "#############",
          ".############",
          "...##########"],
    "i": ["####", "####", "####", "####", "....", "....", "####", "####", "####", "####",
          "####", "####", "####", "####", "####", "####", "####", "####", "####", "####"],
    "s": ["............",
          "............",
          "............",
          "............",
          "............",
          "............",
          "..##########",
          ".###########",
          "############",
          "####........",
          "####........",
          "############",
          "############",
          "############",
          "........####",
          "........####",
          "........####",
          "############",
          "###########.",
          "##########.."],
    "c": ["...........",
          "...........",
          "...........",
          "...........",
          "...........",
          "...........",
          "..#########",
          ".##########",
          "###########",
          "####.......",
          "####.......",
          "####.......",
          "####.......",
          "####.......",
          "####.......",
          "####.......",
          "####.......",
          "###########",
          ".##########",
          "..#########"],
}


def draw_logo():
    c = Canvas(56, 38, fill=1)
    x = (56 - text_width("compact", SMALL_LOWER)) // 2
    c.text(x, 0, "compact", SMALL_LOWER, v=0)
    # Only the contour of the bold letters is cleared, so they read as
    # outline letters.
    # Two blank columns between letters keep their contours apart.
    word = Canvas(text_width("disc", DISC_BOLD) + 3, 20)
    x = 0
    for ch in "disc":
        x = word.text(x, 0, ch, DISC_BOLD) + 1
    contour = outline(word)
    left = (56 - (x - 1)) // 2
    c.blit(contour, left, 8, v=0)
    x = (56 - text_width("DIGITAL AUDIO", SMALL_CAPS)) // 2
    c.text(x, 31, "DIGITAL AUDIO", SMALL_CAPS, v=0)
    return c


# --- The button images ----------------------------------------------------

def outlined(fill_fn, size=16):
    solid = Canvas(size, size)
    fill_fn(solid)
    return outline(solid)


def draw_play():
    return outlined(lambda c: c.polygon([(3.5, 1.5), (3.5, 14.5), (13.5, 8)]))


def draw_pause():
    c = Canvas(16, 16)
    c.rect(4, 3, 6, 12)
    c.rect(9, 3, 11, 12)
    return c


def draw_stop():
    c = Canvas(16, 16)
    c.rect(3, 3, 12, 12)
    c.rect(4, 4, 11, 11, 0)
    return c


def chevron(c, tip_x, y0, y1, direction, depth=4, width=2):
    """A chevron pointing left (-1) or right (1), its tip at tip_x."""
    mid = (y0 + y1) / 2
    for y in range(y0, y1 + 1):
        off = round(abs(y - mid) * depth / ((y1 - y0) / 2))
        x = tip_x - direction * off
        for k in range(width):
            c.set(x - direction * k, y)


def draw_prev():
    c = Canvas(16, 16)
    c.rect(1, 4, 2, 11)
    chevron(c, 4, 4, 11, -1)
    chevron(c, 9, 4, 11, -1)
    return c


def draw_next():
    c = draw_prev()
    return mirror(c)


def mirror(c):
    m = Canvas(c.w, c.h)
    for y in range(c.h):
        for x in range(c.w):
            m.px[y][c.w - 1 - x] = c.px[y][x]
    return m


def draw_rewind():
    c = Canvas(16, 16)
    chevron(c, 2, 4, 11, -1)
    chevron(c, 8, 4, 11, -1)
    return c


def draw_ff():
    return mirror(draw_rewind())


def draw_eject():
    c = outlined(lambda s: s.polygon([(1.5, 10), (14.5, 10), (8, 2)]))
    c.rect(2, 12, 13, 13)
    return c


def draw_quit():
    c = Canvas(16, 16)
    c.polygon([(9, 0), (13, 0), (9.5, 6), (13, 6), (5, 16), (7.5, 8.5), (4, 8.5)])
    return c


# Two arcs turning clockwise, each ending in an arrowhead.
CYCLE = ["................",
         "......####......",
         "....##....##....",
         "...#........#...",
         "..#.......#####.",
         ".#.........###..",
         ".#..........#...",
         ".#..............",
         "..............#.",
         "...#..........#.",
         "..###.........#.",
         ".#####.......#..",
         "...#........#...",
         "....##....##....",
         "......####......",
         "................"]


def draw_cycle():
    c = Canvas(16, 16)
    c.text(0, 0, "o", {"o": CYCLE})
    return c


def draw_shuffle():
    c = Canvas(16, 16)
    q = Canvas(5, 7)
    q.text(0, 0, "?", {"?": QUESTION})
    c.blit(q, 1, 0)
    c.blit(q, 10, 4)
    c.blit(q, 3, 9)
    return c


def draw_program():
    c = Canvas(16, 16)
    c.text(0, 4, "PGM", LETTERS_4x7)
    return c


# --- The scanning indicator -----------------------------------------------

LED = 21
LED_C = 10.0


def led_ring(c, a0=None, a1=None):
    def fn(x, y):
        r = math.hypot(x - LED_C - 0.5, y - LED_C - 0.5)
        if not 6.6 <= r <= 10.3:
            return False
        if a0 is None:
            return True
        a = math.degrees(math.atan2(x - LED_C - 0.5, -(y - LED_C - 0.5))) % 360
        return (a - a0) % 360 <= (a1 - a0) % 360
    c.mask(fn)


def draw_led(slot):
    c = Canvas(LED, LED)
    centre = 45 + 45 * slot           # degrees clockwise from the top
    led_ring(c, (centre - 60) % 360, (centre + 60) % 360)
    m = int(LED_C)
    if slot % 2 == 0:
        for d in (-2, -1, 0, 1, 2):
            c.set(m + d, m)
            c.set(m, m + d)
    else:
        for dx, dy in ((0, -2), (1, -1), (2, 0), (1, 1), (0, 2), (-1, 1), (-2, 0), (-1, -1)):
            c.set(m + dx, m + dy)
    return c


def draw_led_off():
    c = Canvas(LED, LED)
    ring = Canvas(LED, LED)
    led_ring(ring)
    c.blit(outline(ring), 0, 0)
    m = int(LED_C)
    for k in range(8):
        t = math.radians(45 * k)
        reach = 4 if k % 2 == 0 else 3
        c.line(m, m, round(m + reach * math.sin(t)), round(m - reach * math.cos(t)))
    return c


# --- Output ---------------------------------------------------------------

def xbm(name, c):
    data = []
    for row in c.px:
        for b in range(0, c.w, 8):
            byte = 0
            for i in range(8):
                if b + i < c.w and row[b + i]:
                    byte |= 1 << i
            data.append(byte)
    lines = [f"#define {name}_width {c.w}", f"#define {name}_height {c.h}",
             f"static unsigned char {name}_bits[] = {{"]
    for i in range(0, len(data), 12):
        chunk = ", ".join(f"0x{b:02x}" for b in data[i:i + 12])
        lines.append("   " + chunk + ("," if i + 12 < len(data) else "};"))
    return "\n".join(lines) + "\n"


def images():
    out = [("logo", draw_logo())]
    check = Canvas(2, 2)
    check.set(0, 0)
    check.set(1, 1)
    out.append(("check", check))
    out.append(("clear", Canvas(16, 16)))
    out += [("play", draw_play()), ("pause", draw_pause()), ("stop", draw_stop()),
            ("prev", draw_prev()), ("next", draw_next()), ("eject", draw_eject()),
            ("quit", draw_quit()), ("cycle", draw_cycle()), ("shuffle", draw_shuffle()),
            ("rew", draw_rewind()), ("ff", draw_ff()), ("pgm", draw_program())]
    out += [(f"led{n}", draw_led(n)) for n in range(8)]
    out.append(("led_off", draw_led_off()))
    return out


def write_png(path, imgs, scale=8, pad=2, per_row=6):
    cells = [(n, c) for n, c in imgs]
    cell_w = max(c.w for _, c in cells) * scale + pad * 2 * scale
    cell_h = max(c.h for _, c in cells) * scale + pad * 2 * scale
    rows = (len(cells) + per_row - 1) // per_row
    W, H = cell_w * per_row, cell_h * rows
    pix = bytearray([200]) * (W * H)
    for i, (_, c) in enumerate(cells):
        ox = (i % per_row) * cell_w + pad * scale
        oy = (i // per_row) * cell_h + pad * scale
        for y in range(c.h * scale):
            for x in range(c.w * scale):
                v = 0 if c.px[y // scale][x // scale] else 255
                if x % scale == 0 or y % scale == 0:
                    v = 90 if v == 0 else 225
                pix[(oy + y) * W + ox + x] = v
    raw = b"".join(b"\x00" + bytes(pix[y * W:(y + 1) * W]) for y in range(H))

    def chunk(tag, body):
        return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 0, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    imgs = images()
    for name, c in imgs:
        with open(os.path.join(OUT_DIR, name + ".xbm"), "w") as f:
            f.write(xbm(name, c))
    if len(sys.argv) == 3 and sys.argv[1] == "--png":
        # One sheet per kind, large enough to judge each pixel.
        base = sys.argv[2].removesuffix(".png")
        write_png(base + "-logo.png", imgs[:1], scale=14, pad=1, per_row=1)
        write_png(base + "-buttons.png", imgs[1:15], scale=10, pad=1, per_row=7)
        write_png(base + "-leds.png", imgs[15:], scale=8, pad=1, per_row=5)


if __name__ == "__main__":
    main()

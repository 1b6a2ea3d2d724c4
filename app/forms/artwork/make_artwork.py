#!/usr/bin/env python3
"""Draws the program's artwork: the window icon, the button glyphs and the
desktop icons.

Every picture here is drawn by this script and its output is committed, so a
change to a drawing means: edit it here, run the script, commit both. The
output is byte-for-byte the same on every run (no timestamps, no randomness),
which is what lets a test compare the committed files against a fresh run.

    python3 app/forms/artwork/make_artwork.py [--out ROOT]

ROOT defaults to the source tree; files land in ROOT/app/forms/artwork/ and
ROOT/dist/icons/.

The glyphs are 16-colour Windows bitmaps. The buttons treat the colour of a
glyph's bottom-left pixel as transparent, so that pixel is always background.
Two-image glyphs (32x16) hold the enabled picture on the left and the
disabled one, derived from it, on the right.
"""

import argparse
import math
import os
import struct
import zlib

# The classic 16-colour palette, in its usual order, so the colours that serve
# as transparent (fuchsia, olive, purple) exist exactly.
PALETTE = [
    (0x00, 0x00, 0x00),  # k black
    (0x80, 0x00, 0x00),  # r dark red
    (0x00, 0x80, 0x00),  # g dark green
    (0x80, 0x80, 0x00),  # o olive
    (0x00, 0x00, 0x80),  # n navy
    (0x80, 0x00, 0x80),  # p purple
    (0x00, 0x80, 0x80),  # t teal
    (0xC0, 0xC0, 0xC0),  # s silver
    (0x80, 0x80, 0x80),  # G grey
    (0xFF, 0x00, 0x00),  # R red
    (0x00, 0xFF, 0x00),  # L lime
    (0xFF, 0xFF, 0x00),  # Y yellow
    (0x00, 0x00, 0xFF),  # B blue
    (0xFF, 0x00, 0xFF),  # M fuchsia
    (0x00, 0xFF, 0xFF),  # A aqua
    (0xFF, 0xFF, 0xFF),  # W white
]
LETTERS = "krgonptsGRLYBMAW"
INDEX = {c: i for i, c in enumerate(LETTERS)}

MAGENTA = INDEX["M"]
OLIVE = INDEX["o"]
PURPLE = INDEX["p"]

APP_ID = "hr.tervalis.lijekovi"


# --------------------------------------------------------------------------
# Pixel grids. A grid is a list of rows of palette indices, top row first.

def parse(art, background):
    """Turns character art into a grid; '.' is the background colour."""
    rows = [line.strip() for line in art.strip("\n").splitlines()]
    grid = []
    for row in rows:
        out = []
        for ch in row:
            if ch == ".":
                out.append(background)
            else:
                if INDEX[ch] == background:
                    raise ValueError("art uses its own transparent colour %r" % ch)
                out.append(INDEX[ch])
        grid.append(out)
    width = len(grid[0])
    if any(len(r) != width for r in grid):
        raise ValueError("ragged art")
    return grid


def mirror(grid):
    return [list(reversed(row)) for row in grid]


def disabled(grid, background):
    """The greyed-out picture for a disabled button: every colour becomes
    grey, silver or white by its lightness, so the drawing stays readable
    while plainly out of use."""
    out = []
    for row in grid:
        line = []
        for v in row:
            if v == background:
                line.append(v)
                continue
            level = sum(PALETTE[v]) / 3
            line.append(INDEX["G" if level < 64 else "s" if level < 200 else "W"])
        out.append(line)
    return out


def side_by_side(left, right):
    return [a + b for a, b in zip(left, right)]


# --------------------------------------------------------------------------
# File formats.

def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)


def pack_4bpp(grid):
    """Rows bottom-up, two pixels a byte (high nibble first), padded to 4."""
    data = bytearray()
    for row in reversed(grid):
        line = bytearray()
        for x in range(0, len(row), 2):
            hi = row[x]
            lo = row[x + 1] if x + 1 < len(row) else 0
            line.append((hi << 4) | lo)
        while len(line) % 4:
            line.append(0)
        data += line
    return bytes(data)


def pack_1bpp(bits):
    """An AND mask: rows bottom-up, MSB first, padded to 4 bytes."""
    data = bytearray()
    for row in reversed(bits):
        line = bytearray()
        for x in range(0, len(row), 8):
            byte = 0
            for i in range(8):
                if x + i < len(row) and row[x + i]:
                    byte |= 0x80 >> i
            line.append(byte)
        while len(line) % 4:
            line.append(0)
        data += line
    return bytes(data)


def info_header(width, height, image_size):
    # BITMAPINFOHEADER: 4 bits a pixel, BI_RGB, 16 colours used, 72 dpi.
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size,
                       2835, 2835, 16, 0)


def bmp_bytes(grid):
    h, w = len(grid), len(grid[0])
    pixels = pack_4bpp(grid)
    offset = 14 + 40 + 16 * 4
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info_header(w, h, len(pixels)) + palette_bytes() + pixels


def ico_bytes(grid, opaque):
    """One image, 16 colours, with an AND mask (set where transparent)."""
    h, w = len(grid), len(grid[0])
    # Transparent pixels are black in the colour part so the AND/XOR pair
    # leaves the screen untouched there.
    xor = [[grid[y][x] if opaque[y][x] else 0 for x in range(w)] for y in range(h)]
    pixels = pack_4bpp(xor)
    mask = pack_1bpp([[not opaque[y][x] for x in range(w)] for y in range(h)])
    # In an icon the height counts the colour part and the mask together.
    image = info_header(w, 2 * h, len(pixels) + len(mask)) + palette_bytes() + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w, h, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def png_bytes(rgba, width, height):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    raw = bytearray()
    for y in range(height):
        raw.append(0)  # no filter
        raw += rgba[y * width * 4:(y + 1) * width * 4]
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# --------------------------------------------------------------------------
# The flask: a round-bottom flask of blue liquid. Its geometry is given on a
# 32-pixel grid and drawn at any size, so the small desktop icons are redrawn
# rather than shrunk.

SPHERE_CX, SPHERE_CY, SPHERE_R = 16.0, 21.0, 10.0
NECK_X0, NECK_X1, NECK_Y0 = 12.5, 19.5, 3.0
LIP_X0, LIP_X1, LIP_Y0, LIP_Y1 = 11.0, 21.0, 1.0, 4.0
LIQUID_Y = 20.0
# The light comes from the upper left: glass and liquid are shaded where a
# point lies outside the body shifted that way, and a glint sits on the
# upper-left shoulder.
SHADE_SHIFT = 0.25
GLINT_FROM, GLINT_TO, GLINT_R0, GLINT_R1 = -165.0, -115.0, 0.55, 0.8


def in_sphere(x, y):
    return (x - SPHERE_CX) ** 2 + (y - SPHERE_CY) ** 2 < SPHERE_R ** 2


def in_flask(x, y):
    if in_sphere(x, y):
        return True
    if NECK_X0 < x < NECK_X1 and NECK_Y0 < y < SPHERE_CY:
        return True
    return LIP_X0 < x < LIP_X1 and LIP_Y0 < y < LIP_Y1


def flask_colour(x, y, k):
    """Colour of an inner (not outline) point of the flask; k is the size of
    a pixel in 32-grid units."""
    if y < LIP_Y1:
        return "s"  # the rim, seen edge-on
    dx, dy = x - SPHERE_CX, y - SPHERE_CY
    shaded = math.hypot(dx + SHADE_SHIFT * SPHERE_R,
                        dy + SHADE_SHIFT * SPHERE_R) > (1 + SHADE_SHIFT * 0.35) * SPHERE_R
    in_body = in_sphere(x, y)
    if in_body and y >= LIQUID_Y:
        if y - LIQUID_Y < k:
            return "A"  # the surface
        return "n" if shaded else "B"
    dist = math.hypot(dx, dy) / SPHERE_R
    angle = math.degrees(math.atan2(dy, dx))
    if in_body and GLINT_R0 <= dist <= GLINT_R1 and GLINT_FROM <= angle <= GLINT_TO:
        return "A"
    if shaded or (not in_body and x >= NECK_X1 - 2.0):
        return "s"
    return "W"


def flask(size):
    """Returns (grid, opaque) for the flask drawn size pixels square."""
    k = 32.0 / size

    def centre(px, py):
        return ((px + 0.5) * k, (py + 0.5) * k)

    inside = [[in_flask(*centre(x, y)) for x in range(size)] for y in range(size)]

    def solid(x, y):
        return 0 <= x < size and 0 <= y < size and inside[y][x]

    grid = [[0] * size for _ in range(size)]
    for py in range(size):
        for px in range(size):
            if not inside[py][px]:
                continue
            edge = not (solid(px - 1, py) and solid(px + 1, py)
                        and solid(px, py - 1) and solid(px, py + 1))
            grid[py][px] = INDEX["k" if edge else flask_colour(*centre(px, py), k)]
    return grid, inside


def flask_rgba(size):
    grid, opaque = flask(size)
    out = bytearray()
    for y in range(size):
        for x in range(size):
            if opaque[y][x]:
                out += bytes(PALETTE[grid[y][x]]) + b"\xff"
            else:
                out += b"\x00\x00\x00\x00"
    return bytes(out)


def scale_rgba(rgba, size, factor):
    out = bytearray()
    for y in range(size * factor):
        sy = y // factor
        for x in range(size * factor):
            sx = x // factor
            i = (sy * size + sx) * 4
            out += rgba[i:i + 4]
    return bytes(out)


def circle_intersections(c1, r1, c2, r2):
    """The two points where two circles cross, ordered by x."""
    (x1, y1), (x2, y2) = c1, c2
    d = math.hypot(x2 - x1, y2 - y1)
    a = (r1 ** 2 - r2 ** 2 + d ** 2) / (2 * d)
    h = math.sqrt(r1 ** 2 - a ** 2)
    ux, uy = (x2 - x1) / d, (y2 - y1) / d
    fx, fy = x1 + a * ux, y1 + a * uy
    return sorted([(fx - h * uy, fy + h * ux), (fx + h * uy, fy - h * ux)])


def flask_svg():
    """The same drawing as vectors, for the scalable icon. Shapes are worked
    out here rather than clipped, because some icon renderers (SVG Tiny)
    ignore clip paths."""
    cx, cy, r = SPHERE_CX, SPHERE_CY, SPHERE_R
    lit_c = (cx - SHADE_SHIFT * r, cy - SHADE_SHIFT * r)
    lit_r = (1 + SHADE_SHIFT * 0.35) * r

    def chord_x(y):
        half = math.sqrt(r ** 2 - (y - cy) ** 2)
        return cx - half, cx + half

    def f(v):
        return ("%.3f" % v).rstrip("0").rstrip(".")

    def colour(c):
        return "#%02x%02x%02x" % PALETTE[INDEX[c]]

    junction_y = cy - math.sqrt(r ** 2 - (NECK_X1 - cx) ** 2)
    outline = ("M {} {} H {} V {} H {} V {} A {} {} 0 1 1 {} {} V {} H {} Z".format(
        f(LIP_X0), f(LIP_Y0), f(LIP_X1), f(LIP_Y1), f(NECK_X1), f(junction_y),
        f(r), f(r), f(NECK_X0), f(junction_y), f(LIP_Y1), f(LIP_X0)))

    left, right = chord_x(LIQUID_Y)
    liquid = "M {} {} H {} A {} {} 0 1 1 {} {} Z".format(
        f(left), f(LIQUID_Y), f(right), f(r), f(r), f(left), f(LIQUID_Y))

    # Where the lit circle leaves the body (lower right) and enters it (upper
    # right), and where it crosses the liquid's surface.
    low, high = circle_intersections((cx, cy), r, lit_c, lit_r)
    low, high = (low, high) if low[1] > high[1] else (high, low)
    surface_x = lit_c[0] + math.sqrt(lit_r ** 2 - (LIQUID_Y - lit_c[1]) ** 2)
    lit_liquid = "M {} {} A {} {} 0 0 0 {} {} A {} {} 0 0 0 {} {} Z".format(
        f(left), f(LIQUID_Y), f(r), f(r), f(low[0]), f(low[1]),
        f(lit_r), f(lit_r), f(surface_x), f(LIQUID_Y))
    shaded_glass = "M {} {} A {} {} 0 0 0 {} {} A {} {} 0 0 1 {} {} Z".format(
        f(right), f(LIQUID_Y), f(r), f(r), f(high[0]), f(high[1]),
        f(lit_r), f(lit_r), f(surface_x), f(LIQUID_Y))

    left1, right1 = chord_x(LIQUID_Y + 1)
    surface = "M {} {} H {} L {} {} H {} Z".format(
        f(left), f(LIQUID_Y), f(right), f(right1), f(LIQUID_Y + 1), f(left1))

    glint_r = (GLINT_R0 + GLINT_R1) / 2 * r
    g0, g1 = math.radians(GLINT_FROM), math.radians(GLINT_TO)
    glint = "M {} {} A {} {} 0 0 1 {} {}".format(
        f(cx + glint_r * math.cos(g0)), f(cy + glint_r * math.sin(g0)), f(glint_r), f(glint_r),
        f(cx + glint_r * math.cos(g1)), f(cy + glint_r * math.sin(g1)))

    return "\n".join([
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="32" height="32"'
        ' viewBox="0 0 32 32">',
        '  <path d="%s" fill="%s"/>' % (outline, colour("W")),
        '  <path d="%s" fill="%s"/>' % (shaded_glass, colour("s")),
        '  <rect x="%s" y="%s" width="2" height="%s" fill="%s"/>' % (
            f(NECK_X1 - 2), f(LIP_Y1), f(junction_y - LIP_Y1), colour("s")),
        '  <rect x="%s" y="%s" width="%s" height="%s" fill="%s"/>' % (
            f(LIP_X0), f(LIP_Y0), f(LIP_X1 - LIP_X0), f(LIP_Y1 - LIP_Y0), colour("s")),
        '  <path d="%s" fill="%s"/>' % (liquid, colour("n")),
        '  <path d="%s" fill="%s"/>' % (lit_liquid, colour("B")),
        '  <path d="%s" fill="%s"/>' % (surface, colour("A")),
        '  <path d="%s" fill="none" stroke="%s" stroke-width="%s" stroke-linecap="round"/>' % (
            glint, colour("A"), f((GLINT_R1 - GLINT_R0) * r * 0.8)),
        '  <path d="%s" fill="none" stroke="%s" stroke-width="1" stroke-linejoin="round"/>' % (
            outline, colour("k")),
        '</svg>',
        '',
    ])


# --------------------------------------------------------------------------
# The glyphs.

# A triangle pointing left, 5 wide and 9 tall, its tip at (tip_x, mid_y). The
# navigation glyphs share it, dark red, and so do the hand-drawn ones.
def left_triangle(grid, tip_x, mid_y, half=4, colour="r"):
    for d in range(-half, half + 1):
        for x in range(tip_x + abs(d), tip_x + half + 1):
            grid[mid_y + d][x] = INDEX[colour]


def blank(width, height, background):
    return [[background] * width for _ in range(height)]


def glyph_first():
    g = blank(16, 16, MAGENTA)
    for y in range(3, 12):
        g[y][4] = g[y][5] = INDEX["r"]
    left_triangle(g, 7, 7)
    return g


def glyph_prior():
    g = blank(16, 16, MAGENTA)
    left_triangle(g, 5, 7)
    return g


def glyph_next():
    return mirror(glyph_prior())


def glyph_last():
    return mirror(glyph_first())


DELETE = """
................
................
................
.r..............
.rr.....RR...RR.
.rrr.....RR.RR..
.rrrr.....RRR...
.rrrrr....RRR...
.rrrr....RR.RR..
.rrr....RR...RR.
.rr.............
.r..............
................
................
................
................
"""

ADD = """
................
.r..............
.rr.............
.rrr............
.rrrr.......kk..
.rrr.......kRRk.
.rr.......kssRRk
.r.......kYYssRk
........kYYYYsk.
.......kYYYYok..
......kYYYYok...
......kWYYok....
......kWWok.....
......kkkk......
.k.k.k..........
................
"""

EXPORT = """
................
kkkkkkk.........
kWWWWWkk........
kWGGGWkWk.......
kWWWWWkkkk..R...
kWGGGGGGWk..RR..
kWWWWWWWWk..RRR.
kWWWRRRRRRRRRRRR
kWWWRRRRRRRRRRRR
kWWWWWWWWk..RRR.
kWGGGGGGWk..RR..
kWWWWWWWWk..R...
kWGGGGGWWk......
kWWWWWWWWk......
kkkkkkkkkk......
................
"""

ERASE = """
................
................
................
................
.....kkkkkkkkkk.
....kMMMkBBBBkk.
...kMMMkBBBBknk.
..kMMMkBBBBknnk.
.kkkkkkkkkknnnk.
.kRRRknnnnknnk..
.kRRRknnnnknk...
.kRRRknnnnkk....
.kkkkkkkkkk.....
................
................
................
"""

EXIT = """
................
kkkkkkkkkk......
kYYYYYYYYk......
kYYYYYkkYk......
kYYYYYkkYk......
kYYYYYYYYk......
kYYYYkkkkkk.....
kYYYkkkkkkkk....
kYYkYkkkkk.kk...
kYYYYYkkkk......
kYYYYkkkkkk.....
kYYYkkkYYkkk....
kYYkkYYYYk.kk...
kYkkYYYYYk..kk..
kkkkkkkkkk...k..
................
"""


def glyphs():
    """name -> (grid, transparent colour index)"""
    out = {
        "first": (glyph_first(), MAGENTA),
        "prior": (glyph_prior(), MAGENTA),
        "next": (glyph_next(), MAGENTA),
        "last": (glyph_last(), MAGENTA),
        "delete": (parse(DELETE, MAGENTA), MAGENTA),
        "add": (parse(ADD, MAGENTA), MAGENTA),
    }
    for name, art, background in (("export", EXPORT, OLIVE), ("erase", ERASE, PURPLE),
                                  ("exit", EXIT, OLIVE)):
        enabled = parse(art, background)
        out[name] = (side_by_side(enabled, disabled(enabled, background)), background)
    for name, (grid, background) in out.items():
        if grid[-1][0] != background:
            raise ValueError("%s: bottom-left pixel is not the background" % name)
    return out


ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_root = os.path.normpath(os.path.join(here, "..", "..", ".."))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=default_root,
                        help="tree to write into (default: the source tree)")
    args = parser.parse_args()

    artwork = os.path.join(args.out, "app", "forms", "artwork")
    for name, (grid, _) in glyphs().items():
        write(os.path.join(artwork, name + ".bmp"), bmp_bytes(grid))
    grid, opaque = flask(32)
    write(os.path.join(artwork, "lijekovi.ico"), ico_bytes(grid, opaque))

    icons = os.path.join(args.out, "dist", "icons", "hicolor")
    base = flask_rgba(32)
    for size in ICON_SIZES:
        if size % 32 == 0:
            rgba = scale_rgba(base, 32, size // 32)
        else:
            rgba = flask_rgba(size)
        write(os.path.join(icons, "%dx%d" % (size, size), "apps", APP_ID + ".png"),
              png_bytes(rgba, size, size))
    write(os.path.join(icons, "scalable", "apps", APP_ID + ".svg"), flask_svg().encode())


if __name__ == "__main__":
    main()

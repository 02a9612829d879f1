#!/usr/bin/python3
"""Draws Kompakto's icon and writes the pieces that kompakto.rc builds in.

The picture: a landscape photo (sky, sun, a snow-capped mountain, a green
hill) in a white frame, sitting in the lower left corner of a dashed outline
that marks the photo's original, larger size; an orange arrow runs from the
outline's corner to the photo's corner: the photo has been made smaller.

Every size has its own layout in whole pixels, so that edges fall on pixel
borders and the small sizes stay crisp. Shapes are filled by point tests on
a grid of 8 x 8 samples per pixel and composited with straight alpha, using
only + - * / and sqrt, so the bytes come out the same on every machine.

Writes (paths relative to the repository):
  res/icon/image1-33x32.bin  32 bpp icon image (BITMAPINFOHEADER, BGRA, AND mask)
  res/icon/image2-48x48.bin  32 bpp icon image
  res/icon/image3-16x16.bin  8 bpp icon image with a 256-colour palette
  res/icon/group.bin         the icon group directory naming ids 1, 2, 3
  docs/icon-33x32.png, docs/icon-48.png, docs/icon-16.png and their
  four-times enlargements docs/icon-*-x4.png

Usage: make_icon.py [--out DIR]   (DIR defaults to the repository; the files
go to DIR/res/icon and DIR/docs).
"""
import argparse
import math
import os
import struct
import zlib

SAMPLES = 8  # per axis and pixel

# --------------------------------------------------------------------------
# Shapes: bounding box plus a point test, in pixel units (y grows downwards,
# pixel (x, y) covers [x, x+1) x [y, y+1)).


class Rect:
    def __init__(self, x0, y0, x1, y1, radius=0.0):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, radius
        self.box = (x0, y0, x1, y1)

    def contains(self, x, y):
        if x < self.x0 or x >= self.x1 or y < self.y0 or y >= self.y1:
            return False
        r = self.r
        if r <= 0:
            return True
        cx = min(max(x, self.x0 + r), self.x1 - r)
        cy = min(max(y, self.y0 + r), self.y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


class Circle:
    def __init__(self, cx, cy, r):
        self.cx, self.cy, self.r = cx, cy, r
        self.box = (cx - r, cy - r, cx + r, cy + r)

    def contains(self, x, y):
        return (x - self.cx) ** 2 + (y - self.cy) ** 2 <= self.r * self.r


class Polygon:
    """Even-odd fill; with grow > 0 it also takes every point within grow of
    an edge, which makes a rounded outline around the polygon."""

    def __init__(self, points, grow=0.0):
        self.points = points
        self.grow = grow
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.box = (min(xs) - grow, min(ys) - grow, max(xs) + grow, max(ys) + grow)

    def contains(self, x, y):
        pts = self.points
        inside = False
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                inside = not inside
            j = i
        if inside or self.grow <= 0:
            return inside
        g2 = self.grow * self.grow
        j = len(pts) - 1
        for i in range(len(pts)):
            if _segment_distance2(x, y, pts[j], pts[i]) <= g2:
                return True
            j = i
        return False


def _segment_distance2(x, y, a, b):
    ax, ay = a
    dx, dy = b[0] - ax, b[1] - ay
    t = ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    px, py = ax + t * dx - x, ay + t * dy - y
    return px * px + py * py


class Pixels:
    """Whole pixels drawn by hand: the cells of art (a list of equal-length
    strings) that hold the letter mark, with the first cell at (x0, y0)."""

    def __init__(self, x0, y0, art, mark):
        self.x0, self.y0 = x0, y0
        self.cells = {(x0 + i, y0 + j) for j, line in enumerate(art) for i, c in enumerate(line) if c == mark}
        self.box = (x0, y0, x0 + len(art[0]), y0 + len(art))

    def contains(self, x, y):
        return (int(x), int(y)) in self.cells


class Clip:
    """A shape cut to the inside of a rectangle."""

    def __init__(self, shape, rect):
        self.shape, self.rect = shape, rect
        b, c = shape.box, rect.box
        self.box = (max(b[0], c[0]), max(b[1], c[1]), min(b[2], c[2]), min(b[3], c[3]))

    def contains(self, x, y):
        return self.rect.contains(x, y) and self.shape.contains(x, y)


# --------------------------------------------------------------------------
# Paints: a colour (r, g, b, a with 0..255 channels and alpha 0..1), or a
# vertical gradient between two colours.


def rgb(hexcode, alpha=1.0):
    v = int(hexcode.lstrip("#"), 16)
    return ((v >> 16) & 255, (v >> 8) & 255, v & 255, alpha)


class Vertical:
    def __init__(self, y0, top, y1, bottom):
        self.y0, self.top, self.y1, self.bottom = y0, top, y1, bottom

    def at(self, x, y):
        t = min(max((y - self.y0) / (self.y1 - self.y0), 0.0), 1.0)
        return tuple(a + (b - a) * t for a, b in zip(self.top, self.bottom))


def paint_at(paint, x, y):
    return paint.at(x, y) if isinstance(paint, Vertical) else paint


# --------------------------------------------------------------------------
# The picture.

OUTLINE = rgb("#2B2B2B")
FRAME = rgb("#FFFFFF")
SKY_TOP = rgb("#2F7FD8")
SKY_LOW = rgb("#A9DBFA")
SKY_16 = rgb("#74B8EE")
SUN = rgb("#FFCC1A")
SUN_RIM = rgb("#F29A0C")
ROCK = rgb("#6B7F99")
SNOW = rgb("#FFFFFF")
HILL_TOP = rgb("#5DBB3C")
HILL_LOW = rgb("#2E8A2E")
DASH = rgb("#3C3C3C", 0.95)
GHOST_FILL = rgb("#FFFFFF", 0.45)
SHADOW = rgb("#000000", 0.28)
ARROW = rgb("#F25A1D")
ARROW_RIM = rgb("#7C2508")


# Per size: the dashed outline (x0, y0, x1, y1), its line width, dash and gap;
# the photo (x0, y0, x1, y1) with the width of its white frame and the offset
# of its shadow; the arrow from tail to tip with shaft width, head width and
# head length; the sun's radius. At 16 pixels the picture inside the photo's
# outline and the arrow are pixel art instead.
LAYOUTS = {
    (48, 48): dict(ghost=(1, 4, 47, 42), line=2, dash=4, gap=3,
                   photo=(1, 19, 28, 42), frame=2,
                   arrow=((44.5, 7.0), (31.0, 17.5)), shaft=4.0, head=11.0, head_len=7.5,
                   sun=2.8, shadow=1),
    (33, 32): dict(ghost=(0, 2, 33, 29), line=1, dash=3, gap=2,
                   photo=(0, 13, 19, 29), frame=1,
                   arrow=((30.5, 4.5), (21.5, 11.2)), shaft=3.0, head=8.0, head_len=5.5,
                   sun=2.0, shadow=1),
    (16, 16): dict(ghost=(0, 1, 16, 15), line=1, dash=2, gap=2,
                   photo=(0, 6, 10, 15), frame=0,
                   # K sky, k lighter sky, Y sun, W snow, R rock, G hill, g darker hill
                   picture_art=["KKKKKKKK",
                                "KKKWKYYK",
                                "KKWWRYYK",
                                "kRWRRRkk",
                                "RRRRRGGG",
                                "RRGGGGGG",
                                "gggggggg"],
                   arrow_art=(10, 2, ["...XX",
                                      "X.XXX",
                                      "XXXX.",
                                      "XXX..",
                                      "XXXX."]),
                   shadow=0),
}


def dashed_outline(x0, y0, x1, y1, width, dash, gap):
    """The rectangles of a dashed frame. Each side gets as many dashes as fit
    with exactly gap pixels between them; what is left over lengthens the
    two dashes in the corners, so that the corners stay closed and every
    side is symmetric."""
    rects = []

    def side(length):
        n = max(1, (length + gap) // (dash + gap))
        extra = length - n * dash - (n - 1) * gap
        out = []
        start = 0
        for i in range(n):
            size = dash + (extra // 2 if i == 0 else 0) + (extra - extra // 2 if i == n - 1 else 0)
            out.append((start, start + size))
            start += size + gap
        return out

    for a, b in side(x1 - x0):  # top and bottom
        rects.append(Rect(x0 + a, y0, x0 + b, y0 + width))
        rects.append(Rect(x0 + a, y1 - width, x0 + b, y1))
    for a, b in side(y1 - y0):  # left and right
        rects.append(Rect(x0, y0 + a, x0 + width, y0 + b))
        rects.append(Rect(x1 - width, y0 + a, x1, y0 + b))
    return rects


def arrow_polygon(tail, tip, shaft, head, head_len):
    (tx, ty), (px, py) = tail, tip
    dx, dy = px - tx, py - ty
    length = math.sqrt(dx * dx + dy * dy)
    ux, uy = dx / length, dy / length  # along the arrow
    nx, ny = -uy, ux  # across it
    bx, by = px - ux * head_len, py - uy * head_len  # where the head starts
    s, h = shaft / 2, head / 2
    return [
        (tx + nx * s, ty + ny * s),
        (bx + nx * s, by + ny * s),
        (bx + nx * h, by + ny * h),
        (px, py),
        (bx - nx * h, by - ny * h),
        (bx - nx * s, by - ny * s),
        (tx - nx * s, ty - ny * s),
    ]


def scene(width, height):
    """The layers of the icon at one size, back to front."""
    L = LAYOUTS[(width, height)]
    layers = []

    gx0, gy0, gx1, gy1 = L["ghost"]
    layers.append((Rect(gx0, gy0, gx1, gy1), GHOST_FILL))
    for r in dashed_outline(gx0, gy0, gx1, gy1, L["line"], L["dash"], L["gap"]):
        layers.append((r, DASH))

    px0, py0, px1, py1 = L["photo"]
    if L["shadow"]:
        s = L["shadow"]
        layers.append((Rect(px0 + s, py0 + s, px1 + s, py1 + s), SHADOW))
    layers.append((Rect(px0, py0, px1, py1), OUTLINE))
    f = L["frame"]
    if f:
        layers.append((Rect(px0 + 1, py0 + 1, px1 - 1, py1 - 1), FRAME))
    # the picture itself, inside outline and frame
    ix0, iy0, ix1, iy1 = px0 + 1 + f, py0 + 1 + f, px1 - 1 - f, py1 - 1 - f
    iw, ih = ix1 - ix0, iy1 - iy0
    inner = Rect(ix0, iy0, ix1, iy1)
    if "picture_art" in L:
        legend = dict(K=SKY_TOP, k=SKY_16, Y=SUN, W=SNOW, R=ROCK, G=HILL_TOP, g=HILL_LOW)
        for mark, colour in legend.items():
            layers.append((Pixels(ix0, iy0, L["picture_art"], mark), colour))
        add_arrow(layers, L)
        return layers
    horizon = iy0 + ih * 0.62
    layers.append((inner, Vertical(iy0, SKY_TOP, horizon, SKY_LOW)))

    sun_r = L["sun"]
    sx, sy = ix0 + iw * 0.76, iy0 + ih * 0.27
    layers.append((Clip(Circle(sx, sy, sun_r + 0.6), inner), SUN_RIM))
    layers.append((Clip(Circle(sx, sy, sun_r), inner), SUN))

    # the mountain: peak left of the middle, snow down to a jagged line
    peak = (ix0 + iw * 0.36, iy0 + ih * 0.22)
    foot_l = (ix0 - iw * 0.15, iy1)
    foot_r = (ix0 + iw * 0.95, iy1)
    layers.append((Clip(Polygon([foot_l, peak, foot_r]), inner), ROCK))
    snow_depth = ih * 0.22
    left_slope = (peak[0] - foot_l[0]) / (foot_l[1] - peak[1])
    right_slope = (foot_r[0] - peak[0]) / (foot_r[1] - peak[1])
    sy1 = peak[1] + snow_depth
    snow = [
        peak,
        (peak[0] + right_slope * snow_depth, sy1),
        (peak[0] + right_slope * snow_depth * 0.35, sy1 - snow_depth * 0.25),
        (peak[0], sy1 + snow_depth * 0.05),
        (peak[0] - left_slope * snow_depth * 0.4, sy1 - snow_depth * 0.3),
        (peak[0] - left_slope * snow_depth, sy1),
    ]
    layers.append((Clip(Polygon(snow), inner), SNOW))

    # the green hill in front, rising to the right
    hill_top = iy0 + ih * 0.58
    hill = [
        (ix0 - 1, iy1 + 1),
        (ix0 - 1, iy0 + ih * 0.86),
        (ix0 + iw * 0.35, iy0 + ih * 0.74),
        (ix0 + iw * 0.75, hill_top),
        (ix1 + 1, iy0 + ih * 0.62),
        (ix1 + 1, iy1 + 1),
    ]
    layers.append((Clip(Polygon(hill), inner), Vertical(hill_top, HILL_TOP, iy1, HILL_LOW)))

    add_arrow(layers, L)
    return layers


def add_arrow(layers, L):
    """The arrow, with a dark rim for contrast on light and dark backgrounds."""
    if "arrow_art" in L:
        x0, y0, art = L["arrow_art"]  # bold enough to need no rim
        layers.append((Pixels(x0, y0, art, "X"), ARROW))
    else:
        tail, tip = L["arrow"]
        shape = arrow_polygon(tail, tip, L["shaft"], L["head"], L["head_len"])
        layers.append((Polygon(shape, grow=0.8), ARROW_RIM))
        layers.append((Polygon(shape), ARROW))


def render(width, height):
    """Rows top to bottom of (r, g, b, a) with 0..255 integer channels."""
    layers = scene(width, height)
    n = SAMPLES
    offsets = [(i + 0.5) / n for i in range(n)]
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            live = [(s, p) for s, p in layers
                    if s.box[0] < x + 1 and s.box[2] > x and s.box[1] < y + 1 and s.box[3] > y]
            sr = sg = sb = sa = 0.0  # premultiplied sums over the samples
            for oy in offsets:
                fy = y + oy
                for ox in offsets:
                    fx = x + ox
                    r = g = b = a = 0.0  # premultiplied
                    for shape, paint in live:
                        if shape.contains(fx, fy):
                            cr, cg, cb, ca = paint_at(paint, fx, fy)
                            r = cr * ca + r * (1 - ca)
                            g = cg * ca + g * (1 - ca)
                            b = cb * ca + b * (1 - ca)
                            a = ca + a * (1 - ca)
                    sr += r
                    sg += g
                    sb += b
                    sa += a
            count = n * n
            alpha = sa / count
            a8 = int(alpha * 255 + 0.5)
            if a8 == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(min(255, int(c / sa + 0.5)) for c in (sr, sg, sb)) + (a8,))
        rows.append(row)
    return rows


# --------------------------------------------------------------------------
# Icon images.

def _header(width, height, bits, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bits, 0, image_size, 0, 0, 0, 0)


def _and_mask(rows, width, transparent):
    stride = (width + 31) // 32 * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, px in enumerate(row):
            if transparent(px):
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def icon_image_32(rows):
    """A 32 bpp icon image: header, bottom-up BGRA rows with straight alpha,
    and an AND mask that is set where a pixel is fully transparent."""
    height, width = len(rows), len(rows[0])
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = _and_mask(rows, width, lambda px: px[3] == 0)
    return _header(width, height, 32, len(xor) + len(mask)) + bytes(xor) + mask


def to_paletted(rows):
    """The 8 bpp rendering: a pixel is opaque where it is at least half
    covered and then keeps its own colour; every other pixel is transparent.
    16 x 16 pixels have at most 256 colours, so the palette holds them all
    exactly. Returns (palette of 256 (r, g, b), rows of indices, mask rows
    with True for transparent)."""
    opaque = [[px[3] >= 128 for px in row] for row in rows]
    colours = sorted({px[:3] for row, ok in zip(rows, opaque) for px, o in zip(row, ok) if o},
                     key=lambda c: (c[0] * 299 + c[1] * 587 + c[2] * 114, c))
    black = (0, 0, 0)
    palette = [black] + [c for c in colours if c != black]
    if len(palette) > 256:
        raise SystemExit("too many colours for an 8 bpp image")
    palette += [black] * (256 - len(palette))
    index = {c: i for i, c in reversed(list(enumerate(palette)))}
    indices = [[index[px[:3]] if o else 0 for px, o in zip(row, ok)] for row, ok in zip(rows, opaque)]
    return palette, indices, [[not o for o in ok] for ok in opaque]


def icon_image_8(rows):
    palette, indices, clear = to_paletted(rows)
    height, width = len(rows), len(rows[0])
    stride = (width + 3) // 4 * 4
    xor = bytearray()
    for line in reversed(indices):
        xor += bytes(line) + bytes(stride - width)
    mask_rows = [[(0, 0, 0, 0) if c else (0, 0, 0, 255) for c in line] for line in clear]
    mask = _and_mask(mask_rows, width, lambda px: px[3] == 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return _header(width, height, 8, len(xor) + len(mask)) + pal + bytes(xor) + mask


def paletted_preview(rows):
    """What the 8 bpp image shows, as RGBA rows."""
    palette, indices, clear = to_paletted(rows)
    return [[(0, 0, 0, 0) if c else palette[i] + (255,) for i, c in zip(line, cl)]
            for line, cl in zip(indices, clear)]


def group_directory(entries):
    """GRPICONDIR with one 14-byte entry per (width, height, size, id); the
    colour count, planes and bit count stay 0, the images' own headers carry
    their depths."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    for width, height, size, ident in entries:
        out += struct.pack("<BBBBHHIH", width % 256, height % 256, 0, 0, 0, 0, size, ident)
    return out


# --------------------------------------------------------------------------
# PNG previews.

def png(rows, scale=1):
    height, width = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        line = bytearray()
        for px in row:
            line += bytes((px[0], px[1], px[2], px[3])) * scale
        for _ in range(scale):
            raw += b"\0" + line

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", width * scale, height * scale, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# --------------------------------------------------------------------------

IMAGES = [  # (id, width, height, bits, file)
    (1, 33, 32, 32, "image1-33x32.bin"),
    (2, 48, 48, 32, "image2-48x48.bin"),
    (3, 16, 16, 8, "image3-16x16.bin"),
]
PREVIEWS = {1: "icon-33x32", 2: "icon-48", 3: "icon-16"}


def build():
    """Everything the generator writes, as {relative path: bytes}."""
    files = {}
    entries = []
    for ident, width, height, bits, name in IMAGES:
        rows = render(width, height)
        if bits == 32:
            data = icon_image_32(rows)
            shown = rows
        else:
            data = icon_image_8(rows)
            shown = paletted_preview(rows)
        files["res/icon/" + name] = data
        entries.append((width, height, len(data), ident))
        files["docs/%s.png" % PREVIEWS[ident]] = png(shown)
        files["docs/%s-x4.png" % PREVIEWS[ident]] = png(shown, 4)
    files["res/icon/group.bin"] = group_directory(entries)
    return files


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", default=os.path.dirname(here),
                        help="folder that receives res/icon and docs (default: the repository)")
    args = parser.parse_args()
    for rel, data in sorted(build().items()):
        path = os.path.join(args.out, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        print(path)


if __name__ == "__main__":
    main()

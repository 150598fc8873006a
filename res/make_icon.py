#!/usr/bin/env python3
"""Draws Tovalisk's icon and writes it out for every place that needs it.

    make_icon.py OUTDIR

writes into OUTDIR:
  tovalisk.ico          the Windows icon (32 x 32 and 16 x 16, 256 colours, with AND masks),
                        which tovalisk.rc makes resource 128
  tovalisk_icon.cpp     the same pixels as 0xAARRGGBB for the portable layer's icon lookup
  tovalisk-N.png        PNGs for the desktop icon theme (N = 16, 32, and 64 and 128 as
                        whole-pixel enlargements of the 32 x 32 drawing)

The drawing is a tiny chart: a grey bevelled frame around a black field with dark green grid
rows, a bright green zigzag in the upper half and a blue one in the lower half. Only the
standard library is used, so the build can run it anywhere CMake finds a Python 3.
"""

import os
import struct
import sys
import zlib

# Colours as (red, green, blue).
HIGHLIGHT = (255, 255, 255)
LIGHT = (224, 224, 224)
FACE = (192, 192, 192)
SHADOW = (128, 128, 128)
DARK_SHADOW = (64, 64, 64)
FIELD = (0, 0, 0)
GRID = (0, 128, 0)
UPPER_TRACE = (0, 255, 0)
LOWER_TRACE = (48, 112, 255)

# Per size: the frame's rings from the outside in, each as (top and left colour, bottom and
# right colour), so a raised ring is light over dark and a sunken one dark over light; the grid
# rows; and the two zigzags as polylines of (x, y) points. The field is what the rings leave.
DRAWINGS = {
    32: {
        "rings": [(LIGHT, DARK_SHADOW), (HIGHLIGHT, SHADOW), (FACE, FACE), (SHADOW, HIGHLIGHT)],
        "grid": [8, 12, 19, 23],
        "upper": [(4, 13), (7, 6), (10, 11), (14, 5), (18, 12), (21, 7), (24, 10), (27, 5)],
        "lower": [(4, 24), (7, 18), (11, 26), (15, 20), (18, 25), (22, 17), (25, 22), (27, 19)],
    },
    16: {
        "rings": [(HIGHLIGHT, DARK_SHADOW), (SHADOW, HIGHLIGHT)],
        "grid": [4, 11],
        "upper": [(2, 6), (4, 3), (6, 6), (9, 2), (11, 5), (13, 3)],
        "lower": [(2, 12), (4, 9), (7, 13), (9, 10), (11, 12), (13, 9)],
    },
}

# Larger theme sizes are the 32 x 32 drawing with each pixel repeated.
THEME_SIZES = [16, 32, 64, 128]



def draw(size):
    """The icon of one size, top row first."""
    drawing = DRAWINGS[size]
    pixels = [[None] * size for _ in range(size)]

    def plot(x, y, colour):
        if 0 <= x < size and 0 <= y < size:
            pixels[y][x] = colour

    for i, (top_left, bottom_right) in enumerate(drawing["rings"]):
        last = size - 1 - i
        # The top right and bottom left corners belong to the bottom-right colour.
        for t in range(i, last):
            plot(t, i, top_left)
            plot(i, t, top_left)
        for t in range(i, last + 1):
            plot(t, last, bottom_right)
            plot(last, t, bottom_right)

    first = len(drawing["rings"])
    last = size - 1 - first
    for y in range(first, last + 1):
        for x in range(first, last + 1):
            plot(x, y, FIELD)
    for y in drawing["grid"]:
        for x in range(first, last + 1):
            plot(x, y, GRID)
    for name, colour in (("upper", UPPER_TRACE), ("lower", LOWER_TRACE)):
        points = drawing[name]
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            for x, y in line(x0, y0, x1, y1):
                plot(x, y, colour)
    return pixels


def line(x0, y0, x1, y1):
    """The pixels of a one-pixel line, both ends included."""
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx = 1 if x0 < x1 else -1
    sy = 1 if y0 < y1 else -1
    error = dx + dy
    while True:
        yield x0, y0
        if (x0, y0) == (x1, y1):
            return
        twice = 2 * error
        if twice >= dy:
            error += dy
            x0 += sx
        if twice <= dx:
            error += dx
            y0 += sy


def enlarge(pixels, factor):
    return [[p for p in row for _ in range(factor)] for row in pixels for _ in range(factor)]


def ico_image(pixels):
    """One icon image: a 256-colour DIB of twice the height, colours then the AND mask."""
    size = len(pixels)
    palette = [FIELD]
    for row in pixels:
        for p in row:
            if p is not None and p not in palette:
                palette.append(p)
    if len(palette) > 256:
        raise SystemExit(f"make_icon: {len(palette)} colours do not fit 256")
    index = {colour: i for i, colour in enumerate(palette)}

    colour_stride = (size + 3) // 4 * 4
    mask_stride = ((size + 31) // 32) * 4
    colours = bytearray()
    mask = bytearray()
    # DIB rows run bottom up; transparent pixels are colour 0 with their mask bit set.
    for row in reversed(pixels):
        line_bytes = bytearray(index[p] if p is not None else 0 for p in row)
        colours += line_bytes + bytes(colour_stride - size)
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits

    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 8, 0,
                         len(colours) + len(mask), 0, 0, 256, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    table += bytes(4 * (256 - len(palette)))
    return header + table + bytes(colours) + bytes(mask)


def ico_file(images):
    """An icon file holding the given images, largest first as Windows lists them."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for pixels in images:
        size = len(pixels)
        blob = ico_image(pixels)
        # Colour count 0 stands for 256; a width of 256 would be written as 0 too.
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b"".join(blobs)


def argb(p):
    if p is None:
        return 0
    r, g, b = p
    return 0xFF000000 | r << 16 | g << 8 | b


def cpp_source(images):
    lines = [
        "// Written by res/make_icon.py, which draws the icon; change the drawing there.",
        '#include "platform/portable/resources.h"',
        "",
        "namespace {",
        "",
    ]
    entries = []
    for pixels in images:
        size = len(pixels)
        name = f"kIcon{size}"
        values = [argb(p) for row in pixels for p in row]
        lines.append(f"const uint32_t {name}[{size} * {size}] = {{")
        for at in range(0, len(values), 8):
            lines.append("    " + " ".join(f"0x{v:08X}u," for v in values[at:at + 8]))
        lines.append("};")
        lines.append("")
        entries.append(f"{{{size}, {size}, {name}}}")
    lines += [
        f"const IconImage kImages[] = {{{', '.join(entries)}}};",
        f"const IconResource kResources[] = {{{{128, {len(images)}, kImages}}}};",
        "",
        "} // namespace",
        "",
        "// Overrides the portable layer's default, which has no icons.",
        'extern "C" const IconResource* tovaliskIconResources(int* count)',
        "{",
        "    *count = 1;",
        "    return kResources;",
        "}",
        "",
    ]
    return "\n".join(lines)


def png_file(pixels):
    """A straight RGBA PNG; transparent pixels get alpha 0."""
    size = len(pixels)
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for p in row:
            raw += bytes(p) + b"\xff" if p is not None else bytes(4)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write(path, data):
    with open(path, "w" if isinstance(data, str) else "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 2:
        raise SystemExit("usage: make_icon.py OUTDIR")
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    images = [draw(32), draw(16)]
    write(os.path.join(out, "tovalisk.ico"), ico_file(images))
    write(os.path.join(out, "tovalisk_icon.cpp"), cpp_source(images))
    for size in THEME_SIZES:
        pixels = draw(size) if size in DRAWINGS else enlarge(draw(32), size // 32)
        write(os.path.join(out, f"tovalisk-{size}.png"), png_file(pixels))


if __name__ == "__main__":
    main(sys.argv)

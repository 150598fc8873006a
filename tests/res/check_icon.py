#!/usr/bin/python3
"""Checks the drawn icon in every form the build makes of it.

    check_icon.py ICON_DIR

ImageMagick decodes tovalisk.ico and the PNGs, independently of our writer; the pixels of the
portable layer's table are read back from tovalisk_icon.cpp. All of them must be the same
picture, and that picture must be the one the icon shows: a grey bevelled frame around a black
field with dark green grid rows, a bright green zigzag in the upper half of the field and a
blue one in the lower half.
"""
import os
import re
import struct
import subprocess
import sys

CONVERT = "/usr/bin/convert"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def decode(path):
    """(width, height, rows of (r, g, b, a)) as ImageMagick reads the image."""
    size = subprocess.run(["/usr/bin/identify", "-format", "%w %h", path],
                          check=True, capture_output=True, text=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    raw = subprocess.run([CONVERT, path, "-depth", "8", "RGBA:-"],
                         check=True, capture_output=True).stdout
    rows = [[tuple(raw[4 * (y * width + x):4 * (y * width + x) + 4]) for x in range(width)]
            for y in range(height)]
    return width, height, rows


def table_images(source):
    """The images of the C++ table, by name: kIcon32 -> rows of (r, g, b, a)."""
    images = {}
    for name, side, body in re.findall(r"const uint32_t (kIcon(\d+))\[\d+ \* \d+\] = \{(.*?)\};",
                                       source, re.S):
        values = [int(v, 16) for v in re.findall(r"0x([0-9A-F]{8})u", body)]
        side = int(side)
        if not check(len(values) == side * side, f"{name} has {len(values)} pixels"):
            continue
        images[side] = [[((v >> 16) & 255, (v >> 8) & 255, v & 255, v >> 24)
                         for v in values[y * side:(y + 1) * side]] for y in range(side)]
    return images


def check_ico_layout(path):
    """The directory and DIB headers: a 32 x 32 and a 16 x 16 image of 256 colours."""
    data = open(path, "rb").read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    check((reserved, kind, count) == (0, 1, 2), f"icon directory {reserved} {kind} {count}")
    sides = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data,
                                                                          6 + 16 * i)
        sides.append(w)
        check((w, h, colours, planes, bits) == (w, w, 0, 1, 8),
              f"entry {i}: {w}x{h}, {colours} colours, {planes} planes, {bits} bits")
        header = struct.unpack_from("<IiiHHI", data, offset)
        check(header == (40, w, 2 * w, 1, 8, 0), f"entry {i}: DIB header {header}")
        # Colours, a 256-entry palette, the 8-bit pixels and the 1-bit mask, rows to 4 bytes.
        expected = 40 + 256 * 4 + w * ((w + 3) // 4 * 4) + w * ((w + 31) // 32 * 4)
        check(size == expected and offset + size <= len(data),
              f"entry {i}: {size} bytes at {offset}, {expected} expected")
    check(sides == [32, 16], f"image sizes {sides}")


def classify(p):
    r, g, b, a = p
    if a != 255:
        return "transparent"
    if r == g == b:
        return "black" if r == 0 else "grey"
    if g >= 200 and r < 100 and b < 100:
        return "bright green"
    if 64 <= g <= 160 and r < 40 and b < 40:
        return "dark green"
    if b >= 200 and r < 100 and g < 160:
        return "blue"
    return f"other {p}"


def check_picture(side, rows):
    kinds = [[classify(p) for p in row] for row in rows]
    inner = [(x, y) for y in range(side) for x in range(side) if kinds[y][x] != "grey"]
    # The field is what the frame encloses; the frame alone reaches the edges.
    left = min(x for x, _ in inner)
    right = max(x for x, _ in inner)
    top = min(y for _, y in inner)
    bottom = max(y for _, y in inner)
    name = f"{side}x{side}"
    check(left >= 2 and top >= 2 and right <= side - 3 and bottom <= side - 3,
          f"{name}: frame thinner than two pixels (field {left}..{right} x {top}..{bottom})")
    for y in range(side):
        for x in range(side):
            in_field = left <= x <= right and top <= y <= bottom
            if not in_field:
                check(kinds[y][x] == "grey", f"{name}: frame pixel {x},{y} is {kinds[y][x]}")
            else:
                check(kinds[y][x] in ("black", "dark green", "bright green", "blue"),
                      f"{name}: field pixel {x},{y} is {kinds[y][x]}")
    # Bevelled: the outermost ring is lighter on the top and left than on the bottom and right.
    check(rows[1][0][0] > rows[side - 2][side - 1][0] and rows[0][1][0] > rows[side - 1][side - 2][0],
          f"{name}: the frame is not bevelled")

    middle = (top + bottom + 1) // 2
    grid_rows = [y for y in range(top, bottom + 1)
                 if sum(kinds[y][x] == "dark green" for x in range(left, right + 1))
                 > (right - left + 1) // 2]
    check(len(grid_rows) >= 2, f"{name}: grid rows {grid_rows}")
    check(all(kinds[y][x] != "dark green" or y in grid_rows
              for y in range(side) for x in range(side)),
          f"{name}: dark green off the grid rows")

    for trace, upper in (("bright green", True), ("blue", False)):
        where = [(x, y) for y in range(side) for x in range(side) if kinds[y][x] == trace]
        if not check(where, f"{name}: no {trace} trace"):
            continue
        half = all((y < middle) == upper for _, y in where)
        check(half, f"{name}: the {trace} trace leaves the {'upper' if upper else 'lower'} half")
        columns = {x for x, _ in where}
        check(columns == set(range(left, right + 1)), f"{name}: the {trace} trace has gaps")
        # A zigzag: the mean height per column turns from rising to falling several times.
        heights = [sum(y for x, y in where if x == c) / sum(1 for x, _ in where if x == c)
                   for c in range(left, right + 1)]
        steps = [b - a for a, b in zip(heights, heights[1:]) if b != a]
        turns = sum(1 for a, b in zip(steps, steps[1:]) if (a > 0) != (b > 0))
        check(turns >= 3, f"{name}: the {trace} trace turns {turns} times")


def main():
    directory = sys.argv[1]
    ico = os.path.join(directory, "tovalisk.ico")
    check_ico_layout(ico)
    table = table_images(open(os.path.join(directory, "tovalisk_icon.cpp")).read())
    check(sorted(table) == [16, 32], f"table sizes {sorted(table)}")
    source = open(os.path.join(directory, "tovalisk_icon.cpp")).read()
    check(re.search(r"kImages\[\] = \{\{32, 32, kIcon32\}, \{16, 16, kIcon16\}\}", source),
          "the table does not list its images")
    check("{{128, 2, kImages}}" in source, "the table is not resource 128 with two images")

    for index, side in enumerate([32, 16]):
        width, height, from_ico = decode(f"{ico}[{index}]")
        check((width, height) == (side, side), f"ico image {index} is {width}x{height}")
        _, _, from_png = decode(os.path.join(directory, f"tovalisk-{side}.png"))
        check(from_png == from_ico, f"tovalisk-{side}.png differs from the .ico")
        check(table.get(side) == from_ico, f"the {side}x{side} table differs from the .ico")
        check_picture(side, from_ico)

    # The larger theme sizes are the 32 x 32 drawing with each pixel repeated.
    _, _, large = decode(f"{ico}[0]")
    for side in (64, 128):
        factor = side // 32
        _, _, from_png = decode(os.path.join(directory, f"tovalisk-{side}.png"))
        expected = [[large[y // factor][x // factor] for x in range(side)] for y in range(side)]
        check(from_png == expected, f"tovalisk-{side}.png is not the 32x32 image enlarged")

    for failure in failures[:20]:
        print("FAIL:", failure)
    print(f"check_icon: {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

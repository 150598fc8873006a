#!/usr/bin/python3
"""Checks a screenshot of the main window's client area as a user would see it.

  e2e_check.py size PNG ZOOM
      the image is 200*ZOOM x (100 + 200*ZOOM)
  e2e_check.py chart PNG ZOOM FREQ_ROW LEVEL_ROW COLUMNS MIN_DOTS
      in each of the newest COLUMNS chart columns (at the right-hand edge) every chart pixel is
      black, a green grid dot on rows 10, 22, ... 190, or, in a column with a measurement, the
      red frequency dot on FREQ_ROW and the blue level dot on LEVEL_ROW (chart rows, 0 to 199,
      scaled by ZOOM); at least MIN_DOTS of those columns carry both dots
  e2e_check.py panel PNG shown|hidden
      the two result lines carry text; the six settings lines carry text or are empty

Prints what it found; exits 1 when a check fails.
"""
import sys

from e2e_x11 import read_png

BLACK, GRID, RED, BLUE = (0, 0, 0), (0, 128, 0), (255, 0, 0), (0, 0, 255)
GRID_ROWS = set(range(10, 202, 12))
PANEL_ROWS = [2 + 12 * k for k in range(8)]


def is_text(pixel):
    r, g, b = pixel
    return r == g == b and r > 96


def check_size(image, zoom):
    want = (200 * zoom, 100 + 200 * zoom)
    got = (image.width, image.height)
    print(f"size {got[0]}x{got[1]} (want {want[0]}x{want[1]})")
    return got == want


def check_chart(image, zoom, freq_row, level_row, columns, min_dots):
    ok = True
    faults = 0
    with_dots = 0
    for j in range(columns):
        column = 199 - j
        pixels = [image.at(column * zoom + dx, 100 + row * zoom + dy)
                  for row in range(200) for dx in range(zoom) for dy in range(zoom)]
        rows = {}
        for i, p in enumerate(pixels):
            rows.setdefault(i // (zoom * zoom), set()).add(p)
        has_dots = rows[freq_row] == {RED} and rows[level_row] == {BLUE}
        with_dots += has_dots
        for row, seen in rows.items():
            if has_dots and row == freq_row:
                want = RED
            elif has_dots and row == level_row:
                want = BLUE
            elif row in GRID_ROWS:
                want = GRID
            else:
                want = BLACK
            if seen != {want}:
                faults += 1
                if faults <= 5:
                    print(f"chart column {column} row {row}: {sorted(seen)}, want {want}")
                ok = False
                break
    print(f"chart: {with_dots} of the newest {columns} columns carry red on row {freq_row} "
          f"and blue on row {level_row} (want at least {min_dots}); the rest is grid and black"
          + ("" if ok else ": FAULT"))
    return ok and with_dots >= min_dots


def text_pixels(image, top):
    return sum(is_text(image.at(x, y)) for y in range(top, top + 12) for x in range(image.width))


def check_panel(image, shown):
    counts = [text_pixels(image, top) for top in PANEL_ROWS]
    print("panel text pixels per line: " + " ".join(map(str, counts)))
    below = sum(is_text(image.at(x, y)) for y in range(98, 100) for x in range(image.width))
    ok = counts[0] > 20 and counts[1] > 20 and below == 0
    if shown:
        ok = ok and all(c > 20 for c in counts[2:])
    else:
        ok = ok and all(c == 0 for c in counts[2:])
    return ok


def main(argv):
    if len(argv) == 3 and argv[0] == "size":
        ok = check_size(read_png(argv[1]), int(argv[2]))
    elif len(argv) == 7 and argv[0] == "chart":
        ok = check_chart(read_png(argv[1]), *map(int, argv[2:]))
    elif len(argv) == 3 and argv[0] == "panel" and argv[2] in ("shown", "hidden"):
        ok = check_panel(read_png(argv[1]), argv[2] == "shown")
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

"""Checks for win_sdl_screenshot.sh: exact pixels of a screenshot, the window icon, and closing
the window as a window manager does."""
import subprocess
import sys

from Xlib import X, display, protocol

WHITE, BLACK, RED, GREEN, BACKGROUND = (255, 255, 255), (0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 128)


def expected(x, y, width, height):
    """What the program draws, or None inside the text cell, checked separately."""
    if y < 20:
        return None if (2 <= x < 2 + 13 * 6 and 4 <= y < 16) else BLACK
    if 10 <= x < 42 and 30 <= y < 62:
        px, py = (x - 10) // 4, (y - 30) // 4
        if px == 0 and py == 0:
            return WHITE
        return RED if (px + py) % 2 == 0 else GREEN
    if y == 80 and 50 <= x < 150:
        return RED
    if 100 <= x < 120 and 100 <= y < 110:
        return GREEN
    return BACKGROUND


def pixels(path, width, height):
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                         capture_output=True).stdout
    if len(raw) != width * height * 3:
        print(f"screenshot has {len(raw) // 3} pixels, expected {width} x {height}")
        return 1
    bad = 0
    ink = 0
    for y in range(height):
        for x in range(width):
            i = (y * width + x) * 3
            got = tuple(raw[i:i + 3])
            want = expected(x, y, width, height)
            if want is None:
                if got == WHITE:
                    ink += 1
                elif got != BLACK:
                    want = BLACK
            if want is not None and got != want:
                if bad < 10:
                    print(f"pixel {x},{y}: {got}, expected {want}")
                bad += 1
    if ink < 20:
        print(f"only {ink} text pixels")
        return 1
    return 1 if bad else 0


def icon(window_id):
    d = display.Display()
    w = d.create_resource_object("window", int(window_id))
    prop = w.get_full_property(d.intern_atom("_NET_WM_ICON"), X.AnyPropertyType)
    if prop is None or len(prop.value) < 2 + 32 * 32:
        print("no 32 x 32 icon")
        return 1
    values = list(prop.value)
    if values[0] != 32 or values[1] != 32 or (values[2] & 0xFFFFFFFF) != 0xFF00FF00:
        print(f"icon starts {values[:3]}")
        return 1
    return 0


def fixed(window_id, width, height):
    """The window manager is told the window has one size only: no resizing, no maximising."""
    d = display.Display()
    w = d.create_resource_object("window", int(window_id))
    hints = w.get_wm_normal_hints()
    sizes = (hints.min_width, hints.min_height, hints.max_width, hints.max_height)
    if sizes != (width, height, width, height):
        print(f"size hints {sizes}")
        return 1
    return 0


def close(window_id):
    d = display.Display()
    w = d.create_resource_object("window", int(window_id))
    protocols = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=w, client_type=protocols,
                                         data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    w.send_event(event, event_mask=X.NoEventMask)
    d.flush()
    return 0


if __name__ == "__main__":
    what = sys.argv[1]
    if what == "pixels":
        sys.exit(pixels(sys.argv[2], int(sys.argv[3]), int(sys.argv[4])))
    if what == "icon":
        sys.exit(icon(sys.argv[2]))
    if what == "fixed":
        sys.exit(fixed(sys.argv[2], int(sys.argv[3]), int(sys.argv[4])))
    if what == "close":
        sys.exit(close(sys.argv[2]))
    sys.exit(2)

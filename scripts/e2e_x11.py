#!/usr/bin/python3
"""X11 and screenshot helpers for the end-to-end scripts (Debian's python3 with python3-xlib).

  e2e_x11.py find NAME [WAIT_SECONDS]  id (decimal) of the viewable top-level window named NAME
  e2e_x11.py size ID                    "WIDTH HEIGHT" of the window
  e2e_x11.py close ID                   asks the window to close, as a window manager does
  e2e_x11.py pixel PNG X Y              "RRGGBB" of one pixel of a screenshot

Also importable: read_png() gives a screenshot's pixels for checks written in python.
"""
import subprocess
import sys
import time

from Xlib import X, display, protocol


def _viewable_children(d):
    for w in d.screen().root.query_tree().children:
        try:
            if w.get_attributes().map_state == X.IsViewable:
                yield w
        except Exception:  # gone while we looked
            continue


def find_window(name, wait_seconds=0.0):
    """The viewable top-level window whose WM_NAME is exactly `name`, or None."""
    d = display.Display()
    deadline = time.monotonic() + wait_seconds
    while True:
        for w in _viewable_children(d):
            try:
                title = w.get_wm_name()
            except Exception:
                continue
            if isinstance(title, bytes):
                title = title.decode("utf-8", "replace")
            if title == name:
                return w.id
        if time.monotonic() >= deadline:
            return None
        time.sleep(0.2)


def window_size(window_id):
    d = display.Display()
    g = d.create_resource_object("window", window_id).get_geometry()
    return g.width, g.height


def close_window(window_id):
    """Sends the ICCCM WM_DELETE_WINDOW client message."""
    d = display.Display()
    w = d.create_resource_object("window", window_id)
    protocols = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=w, client_type=protocols,
                                         data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    w.send_event(event, event_mask=X.NoEventMask)
    # A round trip, so that the server has handled the request before this client goes away.
    d.sync()
    d.close()


class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def at(self, x, y):
        """(r, g, b) of the pixel at x, y."""
        i = 3 * (y * self.width + x)
        return tuple(self.rgb[i:i + 3])


def read_png(path):
    """Reads a screenshot through ImageMagick (no imaging module needed)."""
    size = subprocess.run(["identify", "-format", "%w %h", path], check=True,
                          capture_output=True, text=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    rgb = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                         capture_output=True).stdout
    if len(rgb) != 3 * width * height:
        raise RuntimeError(f"{path}: expected {3 * width * height} bytes, got {len(rgb)}")
    return Image(width, height, rgb)


def main(argv):
    if len(argv) >= 2 and argv[0] == "find":
        found = find_window(argv[1], float(argv[2]) if len(argv) > 2 else 0.0)
        if found is None:
            return 1
        print(found)
    elif len(argv) == 2 and argv[0] == "size":
        print(*window_size(int(argv[1], 0)))
    elif len(argv) == 2 and argv[0] == "close":
        close_window(int(argv[1], 0))
    elif len(argv) == 4 and argv[0] == "pixel":
        print("%02X%02X%02X" % read_png(argv[1]).at(int(argv[2]), int(argv[3])))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

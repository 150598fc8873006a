#!/usr/bin/python3
"""Compares a window's _NET_WM_ICON with the drawn icon.

    check_window_icon.py WINDOW_ID TOVALISK_ICON_CPP

Every image the window offers must be one of the drawn sizes with exactly its pixels, and the
32 x 32 one must be among them.
"""
import re
import sys
import time

from Xlib import display


def drawn_images(path):
    source = open(path).read()
    return {int(side): [int(v, 16) for v in re.findall(r"0x([0-9A-F]{8})u", body)]
            for side, body in re.findall(r"const uint32_t kIcon(\d+)\[\d+ \* \d+\] = \{(.*?)\};",
                                         source, re.S)}


def window_images(window_id):
    d = display.Display()
    window = d.create_resource_object("window", window_id)
    atom = d.intern_atom("_NET_WM_ICON")
    # The property may follow the window's mapping by a moment.
    for _ in range(50):
        prop = window.get_full_property(atom, 0)
        if prop is not None:
            break
        time.sleep(0.1)
    else:
        return []
    values = [v & 0xFFFFFFFF for v in prop.value]
    images = []
    at = 0
    while at + 2 <= len(values):
        width, height = values[at], values[at + 1]
        images.append((width, height, values[at + 2:at + 2 + width * height]))
        at += 2 + width * height
    return images


def main():
    drawn = drawn_images(sys.argv[2])
    offered = window_images(int(sys.argv[1]))
    ok = bool(offered)
    if not offered:
        print("FAIL: the window has no _NET_WM_ICON")
    for width, height, pixels in offered:
        same = width == height and drawn.get(width) == pixels
        print(f"{width}x{height}: {'the drawn icon' if same else 'DIFFERENT'}")
        ok = ok and same
    if 32 not in {w for w, _, _ in offered}:
        print("FAIL: no 32x32 image")
        ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Measures the live program on a private X server and sound server (set up by the caller):

  live_probe.py cost PROGRAM MODE SECONDS [FREQUENCY]
      Starts PROGRAM, times it from exec to its window being mapped and to the first paint
      (the white readout text in the band), lets it measure for 2 s, sets MODE up by keys
      ("defaults", or "zoom4" = key 4 and H held with Down nine times: displayInterval 10),
      then samples its CPU time (all threads) over SECONDS, reads its peak resident memory,
      checks that the tone's red dot is on the chart, closes the window and checks exit code 0.
      Prints "key value" lines.

Debian's python3 with python3-xlib; xdotool for the keys.
"""
import math
import os
import subprocess
import sys
import time

from Xlib import X, display, protocol

CLK_TCK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")
NAME = "Tovalisk"


def find_window(d, name):
    for w in d.screen().root.query_tree().children:
        try:
            if w.get_attributes().map_state != X.IsViewable:
                continue
            title = w.get_wm_name()
        except Exception:
            continue
        if isinstance(title, bytes):
            title = title.decode("utf-8", "replace")
        if title == name:
            return w
    return None


def geometry(w):
    g = w.get_geometry()
    return g.width, g.height


def grab(w, x, y, width, height):
    """Pixels of a window rectangle as rows of (r, g, b); 24-bit visual, 32 bits per pixel."""
    image = w.get_image(x, y, width, height, X.ZPixmap, 0xFFFFFFFF)
    data = image.data
    stride = len(data) // height
    rows = []
    for row in range(height):
        base = row * stride
        rows.append([(data[base + 4 * i + 2], data[base + 4 * i + 1], data[base + 4 * i])
                     for i in range(width)])
    return rows


def cpu_ticks(pid):
    """utime + stime of the whole process, in clock ticks."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def thread_ticks(pid):
    """{thread id: (name, utime, stime)}."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/stat") as f:
                text = f.read()
        except OSError:
            continue
        name = text[text.index("(") + 1:text.rindex(")")]
        fields = text.rsplit(")", 1)[1].split()
        out[tid] = (name, int(fields[11]), int(fields[12]))
    return out


def run_ns(pid):
    """Time on a CPU of all live threads, in nanoseconds (the scheduler's exact count)."""
    total = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            continue
    return total


def status_kb(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return -1


def keys(wid, *args):
    subprocess.run(["xdotool", "windowfocus", "--sync", str(wid)], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["xdotool", *args], check=True)


def close(d, w):
    protocols = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=w, client_type=protocols,
                                         data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    w.send_event(event, event_mask=X.NoEventMask)
    d.flush()


def frequency_row(hz):
    """Chart row of a frequency dot: 200 - 12 log2(f), truncated toward zero."""
    return int(200 - math.log10(hz) * 39.86313713864835)


def start(program):
    """Starts the program; returns (process, window, ms to mapped, ms to first paint)."""
    d = display.Display()
    t0 = time.perf_counter()
    proc = subprocess.Popen([program], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    w = None
    mapped = painted = None
    deadline = t0 + 30
    while time.perf_counter() < deadline and proc.poll() is None:
        if w is None:
            w = find_window(d, NAME)
            if w is not None:
                mapped = (time.perf_counter() - t0) * 1000
        if w is not None:
            try:
                width, _ = geometry(w)
                # The readout band's first line is white text on black once painted.
                band = grab(w, 0, 0, min(width, 120), 16)
                if any(p == (255, 255, 255) for row in band for p in row):
                    painted = (time.perf_counter() - t0) * 1000
                    break
            except Exception:
                pass
        time.sleep(0.001)
    if painted is None:
        proc.kill()
        raise SystemExit(f"live_probe: no painted window ({proc.poll()=}, "
                         f"{proc.stderr.read().decode(errors='replace')})")
    return d, proc, w, mapped, painted


def finish(d, proc, w):
    close(d, w)
    try:
        code = proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise SystemExit("live_probe: the program did not end after the close request")
    return code


def chart_dots(w, zoom, columns):
    """Rows of the red dots in the newest `columns` chart columns, newest first (None where a
    column has none). Reads one pixel per image pixel: the centre of its zoom x zoom block."""
    width, _ = geometry(w)
    left = width - columns * zoom
    rows = grab(w, left, 100, columns * zoom, 200 * zoom)
    found = []
    for c in range(columns - 1, -1, -1):
        x = c * zoom + zoom // 2
        red = [r for r in range(200) if rows[r * zoom + zoom // 2][x] == (255, 0, 0)]
        found.append(red[0] if red else None)
    return found


def tone_on_chart(w, zoom, hz, columns):
    """Some of the newest columns carry the red dot of `hz`, and no red dot lies elsewhere."""
    dots = chart_dots(w, zoom, columns)
    want = frequency_row(hz)
    return any(r == want for r in dots) and all(r in (None, want) for r in dots)


def cost(program, mode, seconds, hz):
    d, proc, w, mapped, painted = start(program)
    print(f"start_to_mapped_ms {mapped:.1f}")
    print(f"start_to_first_paint_ms {painted:.1f}")
    time.sleep(2)
    zoom = 1
    if mode == "zoom4":
        keys(w.id, "key", "4")
        keys(w.id, "keydown", "h", "key", "--repeat", "9", "--delay", "30", "Down", "keyup", "h")
        zoom = 4
        time.sleep(1)
        size = geometry(w)
        if size != (800, 900):
            raise SystemExit(f"live_probe: window is {size} after key 4")
    elif mode != "defaults":
        raise SystemExit(f"live_probe: unknown mode {mode}")
    before = cpu_ticks(proc.pid)
    threads_before = thread_ticks(proc.pid)
    ns_before = run_ns(proc.pid)
    t0 = time.perf_counter()
    time.sleep(seconds)
    elapsed = time.perf_counter() - t0
    after = cpu_ticks(proc.pid)
    ns_after = run_ns(proc.pid)
    threads_after = thread_ticks(proc.pid)
    percent = 100.0 * (after - before) / CLK_TCK / elapsed
    print(f"mode {mode}")
    # From the scheduler's run times (exact; the threads live throughout), and from the
    # kernel's user and system tick counts (sampled every 1/CLK_TCK s) as a cross-check.
    print(f"cpu_percent_of_one_core {100.0 * (ns_after - ns_before) / 1e9 / elapsed:.2f}")
    print(f"cpu_percent_from_ticks {percent:.2f}")
    print(f"cpu_seconds {(after - before) / CLK_TCK:.2f} over {elapsed:.2f}")
    # Per thread: user and system time, in per cent of one core.
    for tid, (name, user, system) in sorted(threads_after.items()):
        _, user0, system0 = threads_before.get(tid, (name, 0, 0))
        share = [100.0 * (t - t0) / CLK_TCK / elapsed for t, t0 in ((user, user0), (system, system0))]
        if share[0] + share[1] > 0:
            print(f"thread {tid} {name} user {share[0]:.2f} system {share[1]:.2f}")
    print(f"vm_hwm_kb {status_kb(proc.pid, 'VmHWM')}")
    print(f"vm_rss_kb {status_kb(proc.pid, 'VmRSS')}")
    # At a 10 ms display interval only about one column in five gets a result.
    seen = tone_on_chart(w, zoom, hz, 10 if zoom == 1 else 40)
    print(f"tone_on_chart {'yes' if seen else 'no'}")
    code = finish(d, proc, w)
    print(f"exit_code {code}")
    return 0 if seen and code == 0 else 1


def main(argv):
    if len(argv) >= 4 and argv[0] == "cost":
        hz = float(argv[4]) if len(argv) > 4 else 440.0
        return cost(argv[1], argv[2], float(argv[3]), hz)
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

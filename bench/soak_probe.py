#!/usr/bin/python3
"""Soak of the live program (run by bench/soak.sh on private X and sound servers):

  soak_probe.py PROGRAM SECONDS SEGMENT_SECONDS WORKDIR

Plays tones cycling through 110, 220, 440, 880 and 1760 Hz, SEGMENT_SECONDS each, into the
default sink for SECONDS, with PROGRAM measuring them at its defaults. Every 10 s it reads
the whole chart (200 columns: 20 s of history at the 100 ms display interval, so every
change is seen twice) and checks that the red dots form runs on the rows 200 - 12 log2(f)
of the tones, in the order played, each change to the next tone present and none skipped,
and the runs between two changes as long as a segment. Resident memory is sampled along the
way and must not grow once the program is warm. Closes the window and checks exit code 0.
Runs of another length than a segment's are noted (sound lost or late on its way to the
program), not failed. Prints what it saw; exit status 0 when every check held.
"""
import math
import os
import struct
import subprocess
import sys
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import live_probe  # noqa: E402

RATE = 48000
TONES = [110, 220, 440, 880, 1760]
AMPLITUDE = 16000
# Rows a measurement straddling a change may land on for a column or two.
TRANSIENT_COLUMNS = 3
# Memory may settle in the first minute; afterwards it stays (slack for the allocator).
RSS_SLACK_KB = 512


def write_plan(path, seconds, segment):
    periods = {}
    for f in TONES:
        one = [round(AMPLITUDE * math.sin(2 * math.pi * f * p / RATE)) for p in range(RATE)]
        periods[f] = struct.pack(f"<{RATE}h", *one)
    whole_segment = int(segment * RATE)
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        written = 0
        k = 0
        total = int(seconds * RATE)
        while written < total:
            f = TONES[k % len(TONES)]
            n = min(whole_segment, total - written)
            data = periods[f] * (n // RATE + 1)
            out.writeframes(data[:2 * n])
            written += n
            k += 1


def runs(rows):
    """[(row, length)] of consecutive equal entries."""
    out = []
    for r in rows:
        if out and out[-1][0] == r:
            out[-1][1] += 1
        else:
            out.append([r, 1])
    return out


def check_chart(rows, segment_columns):
    """Problems found in one chart read (oldest column first), notes on runs of another length
    than a segment's, and the changes seen."""
    expected = [live_probe.frequency_row(f) for f in TONES]
    problems = []
    # Columns without a dot carry on the run they are in; short odd runs are transients.
    filled = []
    for r in rows:
        filled.append(r if r is not None else (filled[-1] if filled else None))
    long_runs = [(r, n) for r, n in runs(filled) if r is not None and n > TRANSIENT_COLUMNS]
    for r, n in runs(filled):
        if r is not None and n > TRANSIENT_COLUMNS and r not in expected:
            problems.append(f"a run of {n} columns on row {r}, which is no tone's")
    tone_runs = [(r, n) for r, n in long_runs if r in expected]
    changes = 0
    for (a, na), (b, nb) in zip(tone_runs, tone_runs[1:]):
        if a == b:
            continue
        changes += 1
        if expected.index(b) != (expected.index(a) + 1) % len(expected):
            problems.append(f"row {a} followed by row {b}: a change is missing or out of order")
    # Runs between two changes last one segment, give or take the transients; a shorter one
    # means sound that never reached the program (the sound server's delivery came late and
    # in one piece, more than the device's buffers hold), a longer one sound that came late.
    notes = []
    for r, n in tone_runs[1:-1]:
        if abs(n - segment_columns) > 2 * TRANSIENT_COLUMNS:
            notes.append(f"a run of {n} columns on row {r}, a segment is {segment_columns}")
    return problems, notes, changes


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    program, seconds, segment, work = argv[0], float(argv[1]), float(argv[2]), argv[3]
    plan = os.path.join(work, "soak.wav")
    write_plan(plan, seconds + 30, segment)
    player = subprocess.Popen(["paplay", plan])
    failures = 0
    try:
        time.sleep(0.5)
        d, proc, w, mapped, painted = live_probe.start(program)
        print(f"start_to_first_paint_ms {painted:.1f}")
        begin = time.monotonic()
        cpu0 = live_probe.run_ns(proc.pid)
        next_read = begin + 10
        rss_every = min(60.0, seconds / 6)
        next_rss = begin
        rss = []
        reads = 0
        changes = 0
        while True:
            now = time.monotonic()
            if now >= next_rss:
                rss.append((now - begin, live_probe.status_kb(proc.pid, "VmRSS")))
                next_rss += rss_every
            if now >= next_read:
                columns = live_probe.chart_dots(w, 1, 200)[::-1]
                problems, notes, seen = check_chart(columns, round(segment * 10))
                reads += 1
                changes += seen
                for p in problems:
                    print(f"chart at {now - begin:.0f} s: FAIL: {p}")
                for n in notes:
                    print(f"chart at {now - begin:.0f} s: note: {n}")
                failures += len(problems)
                print(f"chart at {now - begin:.0f} s: {seen} changes, "
                      f"{sum(1 for c in columns if c is not None)} columns with a dot")
                next_read += 10
            if now - begin >= seconds:
                break
            time.sleep(max(0.0, min(next_read, next_rss) - time.monotonic()))
        elapsed = time.monotonic() - begin
        cpu = (live_probe.run_ns(proc.pid) - cpu0) / 1e9
        rss.append((elapsed, live_probe.status_kb(proc.pid, "VmRSS")))
        print(f"cpu_percent_of_one_core {100 * cpu / elapsed:.2f}")
        print(f"vm_hwm_kb {live_probe.status_kb(proc.pid, 'VmHWM')}")
        print("rss_kb " + " ".join(f"{t:.0f}s:{kb}" for t, kb in rss))
        warm = [kb for t, kb in rss if t >= min(60.0, seconds / 2)]
        if warm and max(warm) > warm[0] + RSS_SLACK_KB:
            print(f"memory grew from {warm[0]} kB to {max(warm)} kB once warm")
            failures += 1
        # Every read but the first sees 20 s of history, so at least 20 / segment - 1 changes
        # away from its edges.
        wanted = (reads - 1) * (math.floor(20 / segment) - 1)
        print(f"changes_seen {changes} in {reads} chart reads (at least {wanted:.0f} wanted)")
        if changes < wanted:
            failures += 1
        code = live_probe.finish(d, proc, w)
        print(f"exit_code {code}")
        failures += code != 0
    finally:
        player.terminate()
        player.wait()
    print("soak: " + ("passed" if failures == 0 else f"{failures} problems"))
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

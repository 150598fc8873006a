#!/usr/bin/env bash
# Times tovalisk-scan against aubiopitch (schmitt and yinfft) on the same 10-minute 48 kHz
# 16-bit mono file: the programs take turns, every run writes its output to /dev/null, and
# the medians of the wall-clock times give the ratios.
#
# Usage: bench/scan_vs_aubio.sh [TOVALISK_SCAN] [RUNS]
#   TOVALISK_SCAN  the tool to time (default: build/release/tovalisk-scan)
#   RUNS           timed runs of each program (default: 5), after one untimed warm-up each
set -euo pipefail

scan=${1:-build/release/tovalisk-scan}
runs=${2:-5}
for tool in "$scan" sox aubiopitch /usr/bin/python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "scan_vs_aubio: $tool not found" >&2
    exit 2
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Ten minutes of something pitched to measure: a tone gliding from 100 Hz up to 1 kHz every
# 20 s, once clean and once over pink noise 24 dB below it. Noise makes the detector
# (and aubio) work harder, so both are timed.
sox -n -r 48000 -c 1 -b 16 "$work/clean.wav" synth 20 sine 100:1000 gain -6 repeat 29
sox -n -r 48000 -c 1 -b 16 "$work/pink.wav" synth 600 pinknoise gain -30
sox -m "$work/clean.wav" "$work/pink.wav" -b 16 "$work/noisy.wav" 2>/dev/null
rm -f "$work/pink.wav"
for f in clean noisy; do
  echo "$f.wav: $(soxi -d "$work/$f.wav"), $(soxi -r "$work/$f.wav") Hz, $(soxi -b "$work/$f.wav")-bit," \
    "$(soxi -c "$work/$f.wav") channel"
done

/usr/bin/python3 - "$runs" "$scan" "$work/clean.wav" "$work/noisy.wav" <<'PY'
import os
import resource
import statistics
import subprocess
import sys
import time

runs = int(sys.argv[1])
scan = sys.argv[2]
inputs = sys.argv[3:]

def commands(wav):
    return [
        ("tovalisk-scan", [scan, wav]),
        ("aubiopitch -p schmitt", ["aubiopitch", "-p", "schmitt", "-i", wav]),
        ("aubiopitch -p yinfft", ["aubiopitch", "-p", "yinfft", "-i", wav]),
    ]

def timed(command):
    """Wall-clock and CPU (user + system) seconds of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu

for wav in inputs:
    programs = commands(wav)
    for _, command in programs:
        timed(command)  # warm the page cache and the binaries
    wall = {name: [] for name, _ in programs}
    cpu = {name: [] for name, _ in programs}
    for _ in range(runs):
        for name, command in programs:
            w, c = timed(command)
            wall[name].append(w)
            cpu[name].append(c)

    base_wall = statistics.median(wall["tovalisk-scan"])
    base_cpu = statistics.median(cpu["tovalisk-scan"])
    print(f"\n{os.path.basename(wav)}, medians of {runs} alternating runs:")
    print(f"{'program':<24}{'wall s':>9}{'ratio':>8}{'cpu s':>9}{'ratio':>8}")
    for name, _ in programs:
        w = statistics.median(wall[name])
        c = statistics.median(cpu[name])
        print(f"{name:<24}{w:>9.3f}{w / base_wall:>7.1f}x{c:>9.3f}{c / base_cpu:>7.1f}x")
    print(f"tovalisk-scan: {600 * 48000 / base_wall / 1e6:.0f} million samples per second, wall clock")
PY

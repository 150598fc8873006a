#!/usr/bin/python3
"""Writes a test tone as a 48 kHz mono 16-bit WAV file:

  e2e_tone.py OUT.wav FREQUENCY_HZ AMPLITUDE SECONDS

The samples are round(AMPLITUDE * sin(2 pi FREQUENCY p / 48000)) at p = 0, 1, 2, ..., exactly
periodic and without dither, so the detector's published figures are known to the last digit.
"""
import math
import struct
import sys
import wave

RATE = 48000


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    path, frequency, amplitude, seconds = argv[0], int(argv[1]), int(argv[2]), float(argv[3])
    # An integer frequency repeats within one second; computing from p mod RATE keeps every
    # period identical.
    period = [round(amplitude * math.sin(2 * math.pi * frequency * p / RATE)) for p in range(RATE)]
    second = struct.pack(f"<{RATE}h", *period)
    whole, part = divmod(int(seconds * RATE), RATE)
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        for _ in range(whole):
            out.writeframes(second)
        out.writeframes(second[:2 * part])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

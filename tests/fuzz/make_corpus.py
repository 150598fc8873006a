#!/usr/bin/python3
"""Writes the seed corpus of the two fuzz targets into tests/fuzz/corpus/.

Run it again only to change the seeds; the files it writes are committed. The sound files of
the scan_input seeds are made with sox.
"""
import math
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def sine(hz, amplitude, count, rate=48000.0, start=0):
    return [round(amplitude * math.sin(2 * math.pi * hz * (p + start) / rate)) for p in range(count)]


def clip16(values):
    return [max(-32768, min(32767, v)) for v in values]


# Setting encodings the detector target understands: the top two bits of a 32-bit value pick
# its size class (0: low byte, 1: low 16 bits, 2: low 30 bits, 3: counted down from 2^32-1).
def small(v):
    assert v < 0x100
    return v


def medium(v):
    assert v < 0x10000
    return 0x40000000 | v


def near_max(down):
    return 0xC0000000 | down


DEFAULTS = dict(min_count=small(1), min_duration=medium(2400), plus=0xC000, minus=0xC000,
                valid=medium(48000))


def detector_input(samples, start=0, change_every=0, changes=None, **settings):
    s = dict(DEFAULTS)
    s.update(settings)
    out = struct.pack("<6IH", start, s["min_count"], s["min_duration"], s["plus"], s["minus"],
                      s["valid"], change_every)
    changes = list(changes or [])
    for k, v in enumerate(samples):
        if change_every and k % change_every == 0 and k > 0:
            which, raw = changes[(k // change_every - 1) % len(changes)]
            out += struct.pack("<BI", which, raw)
        out += struct.pack("<h", v)
    return out


def detector_seeds():
    square = ([9000] * 6 + [-9000] * 6) * 40
    alternating = [1200 if k % 2 == 0 else -1200 for k in range(400)]
    tone_gap = [0] * 50 + sine(2000.0, 5000.0, 300) + [0] * 300 + sine(2000.0, 3000.0, 300)
    rising = [round(v * (1 + k / 300)) for k, v in enumerate(sine(1500.0, 4000.0, 900))]
    return {
        # Two publications at the defaults (22 periods over 2400 samples each).
        "sine440_defaults": detector_input(sine(440.0, 16000.0, 5400)),
        # One result every three periods.
        "sine440_min_duration_0": detector_input(sine(440.0, 16000.0, 800), min_duration=0),
        # Every sample accepted, so even a validity of 0 measures it.
        "square_valid_0": detector_input(square, min_duration=small(30), valid=0),
        # The fastest signal there is: two samples per period, triggers off.
        "alternating_triggers_0": detector_input(alternating, min_duration=small(20), plus=0,
                                                 minus=0),
        # Full scale, triggers at 1.0, positions running through the wrap at 2^32.
        "full_scale_wrap": detector_input(clip16(sine(1000.0, 40000.0, 1200)), start=0xFFFFFE00,
                                          min_duration=small(96), plus=65536, minus=65536),
        # A tone, silence past a short validity, then a weaker tone.
        "start_over": detector_input(tone_gap, min_duration=small(48), valid=small(200)),
        # A growing amplitude restarts the count; a huge minCount never publishes.
        "growing_huge_count": detector_input(rising, min_count=near_max(0), min_duration=0),
        # Settings changing every 64 samples while a tone plays.
        "changing_settings": detector_input(
            sine(600.0, 12000.0, 2000), change_every=64, min_duration=small(100),
            changes=[(0, small(2)), (1, small(40)), (2, 0x8000), (3, 0x10000), (4, small(90)),
                     (1, 0), (0, small(1))]),
    }


def sox(args):
    subprocess.run(["sox"] + args, check=True)


def scan_seeds():
    seeds = {}
    # Mode 0: whole files. The first two bytes are the mode and the channel (0 mixes).
    # Name: (file suffix, sox output options, sox effects).
    files = {
        "wav16_48k_mono": ("wav", ["-r", "48000", "-c", "1", "-b", "16", "-e", "signed"],
                           ["synth", "0.004", "sine", "440"]),
        "flac_44k1_stereo": ("flac", ["-r", "44100", "-c", "2", "-b", "16"],
                             ["synth", "0.01", "sine", "440", "sine", "660"]),
        "aiff24_48k_stereo": ("aiff", ["-r", "48000", "-c", "2", "-b", "24"],
                              ["synth", "0.004", "square", "1000"]),
        "wav_float_22k05": ("wav", ["-r", "22050", "-c", "1", "-e", "floating-point", "-b", "32"],
                            ["synth", "0.01", "sine", "300", "vol", "1.5"]),
        "au_ulaw_8k": ("au", ["-r", "8000", "-c", "1", "-e", "u-law"],
                       ["synth", "0.05", "sine", "200"]),
        "ogg_vorbis": ("ogg", ["-r", "48000", "-c", "1"], ["synth", "0.05", "sine", "440"]),
    }
    whole = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name, (suffix, options, effects) in files.items():
            path = os.path.join(tmp, name + "." + suffix)
            # Repeatable: no random dither, fixed Ogg serial numbers.
            sox(["-R", "-n", "-V1"] + options + [path] + effects)
            with open(path, "rb") as f:
                whole[name] = f.read()
    for name, data in whole.items():
        seeds["file_" + name] = bytes([0, 0]) + data
    # A WAV cut in the middle of its data, and one whose data chunk claims far more.
    wav = whole["wav16_48k_mono"]
    seeds["file_wav_truncated"] = bytes([0, 0]) + wav[: len(wav) // 2 + 1]
    data_at = wav.find(b"data")
    lying = bytearray(wav)
    lying[data_at + 4 : data_at + 8] = struct.pack("<I", 0x7FFFFFF0)
    seeds["file_wav_data_size_lies"] = bytes([0, 0]) + bytes(lying)
    seeds["file_flac_truncated_pick_2"] = bytes([0, 2]) + whole["flac_44k1_stereo"][:700]

    tone16 = struct.pack("<300h", *sine(440.0, 12000.0, 300))
    # Mode 1: headerless. Encoding byte: index into the target's table, 0x40 for big endian.
    # Rate: values below 2^31 index the common rates (0 is 48000, 1 is 44100, 2 is 8000).
    seeds["raw_pcm16_48k_mono"] = bytes([1, 0, 0, 0]) + struct.pack("<I", 0) + tone16
    seeds["raw_u8_8k_mono"] = bytes([1, 0, 2, 0]) + struct.pack("<I", 2) + bytes(
        (v >> 8) + 128 for v in sine(200.0, 12000.0, 400, rate=8000.0))
    seeds["raw_float_be_44k1_stereo"] = bytes([1, 0, 0x45, 1]) + struct.pack("<I", 1) + b"".join(
        struct.pack(">ff", v / 32768, -v / 32768) for v in sine(440.0, 20000.0, 200, rate=44100.0))
    seeds["raw_pcm24_48k_stereo_pick_1"] = bytes([1, 1, 3, 1]) + struct.pack("<I", 0) + b"".join(
        struct.pack("<i", v * 256)[:3] * 2 for v in sine(1000.0, 30000.0, 200))

    # Floats at 48 kHz reach the detector rounded and clipped, NaN as silence; a double beyond
    # float's range before rate conversion must not ring.
    odd = [0.3, -0.7, 2.0, float("nan"), -5.0, float("inf"), 1e-5, -1.0]
    seeds["raw_float_48k_odd_values"] = bytes([1, 0, 5, 0]) + struct.pack("<I", 0) + struct.pack(
        "<8f", *odd)
    seeds["raw_double_be_48k_odd_values"] = bytes([1, 0, 0x46, 0]) + struct.pack(
        "<I", 0) + struct.pack(">8d", *odd[:4], -1e300, *odd[5:])
    seeds["raw_double_44k1_beyond_float"] = bytes([1, 0, 6, 0]) + struct.pack("<I", 1) + b"".join(
        struct.pack("<d", 1e300 if k == 100 else v / 32768)
        for k, v in enumerate(sine(440.0, 16000.0, 200, rate=44100.0)))

    def wav_fields(encoding, channels, rate, riff=(0, 0), data=(0, 0)):
        return bytes([encoding, channels]) + struct.pack("<I", rate) + struct.pack(
            "<BI", *riff) + struct.pack("<BI", *data)

    # Mode 2: WAV written by the target. Encodings: 0 PCM16, 1 PCM8, 2 PCM24, 3 PCM32,
    # 4 float, 5 double, 6 A-law, 7 mu-law. Size fields: (0, _) exact, (1, v) any v,
    # (2, d) d more, (3, d) d less.
    seeds["wav_pcm16_48k_exact"] = bytes([2, 0]) + wav_fields(0, 0, 0) + tone16
    seeds["wav_pcm24_stereo_pick_2"] = bytes([2, 2]) + wav_fields(2, 1, 0) + b"".join(
        struct.pack("<i", v * 256)[:3] + struct.pack("<i", -v * 256)[:3]
        for v in sine(700.0, 20000.0, 150))
    seeds["wav_pcm16_data_claims_more"] = bytes([2, 0]) + wav_fields(0, 0, 0, data=(2, 4000)) + \
        tone16
    seeds["wav_float_44k1_riff_any"] = bytes([2, 0]) + wav_fields(4, 0, 1, riff=(1, 0xFFFFFFFF)) + \
        b"".join(struct.pack("<f", v / 32768) for v in sine(440.0, 9000.0, 300, rate=44100.0))

    # Mode 3: AIFF written by the target: as above, with FORM size, frame count and SSND size.
    def aiff_fields(encoding, channels, rate, form=(0, 0), frames=(0, 0), ssnd=(0, 0)):
        return bytes([encoding, channels]) + struct.pack("<I", rate) + b"".join(
            struct.pack("<BI", *f) for f in (form, frames, ssnd))

    tone16be = struct.pack(">300h", *sine(440.0, 12000.0, 300))
    seeds["aiff_pcm16_48k_exact"] = bytes([3, 0]) + aiff_fields(0, 0, 0) + tone16be
    seeds["aiff_frames_claim_less"] = bytes([3, 0]) + aiff_fields(0, 0, 0, frames=(3, 100)) + \
        tone16be
    seeds["aifc_fl32_16k"] = bytes([3, 0]) + aiff_fields(4, 0, 7) + b"".join(
        struct.pack(">f", v / 32768) for v in sine(300.0, 15000.0, 300, rate=16000.0))
    return seeds


def write(target, seeds):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def main():
    write("detector", detector_seeds())
    write("scan_input", scan_seeds())
    return 0


if __name__ == "__main__":
    sys.exit(main())

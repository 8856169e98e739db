#!/usr/bin/env python3
"""Writes the three reference click tracks without the program's code and
prints their SHA-256 sums in the form of checksums.txt.

The arithmetic follows the design step by step: every single-precision
operation is rounded to float32 here, and the sine is the C library's sinf,
called through ctypes. The program must produce the same bytes on every
architecture; checksum_test compares its files with these sums.

Usage: tests/data/reference_tracks.py [FOLDER]   (FOLDER keeps the files)
"""
import ctypes
import ctypes.util
import hashlib
import math
import os
import struct
import sys
import tempfile

libm = ctypes.CDLL(ctypes.util.find_library("m"))
libm.sinf.argtypes = [ctypes.c_float]
libm.sinf.restype = ctypes.c_float


def f32(x):
    """Rounds a double to the nearest float32."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def click(rate, hz, harmonics=8, cycles=3):
    """The click's samples on the 24-bit scale."""
    n = harmonics
    while math.trunc(hz * 2.0 ** (n - 1)) > rate * 0.5:
        n -= 1
    period = math.trunc(f32(f32(rate) / f32(hz)))
    length = period * cycles
    assert length < rate
    samples = [0] * length
    lowest = math.trunc(hz)
    for h in range(1, n + 1):
        f = h * lowest
        w = f32(6.283185307179586 * f32(f) / f32(rate))
        p = math.trunc(f32(f32(rate) / f32(f)))
        i = 0
        for c in range(1, cycles + 1):
            a = f32(0.5 ** h * 12582912 * 0.5 ** c)
            while i < c * p and i < length:
                s = libm.sinf(f32(f32(i) * w))
                samples[i] = math.trunc(f32(f32(samples[i]) + f32(a * s)))
                i += 1
    return samples


def encode(samples, bits):
    if bits == 24:
        return b"".join(struct.pack("<i", v & 0xFFFFFF)[:3] for v in samples)
    return b"".join(struct.pack("<h", v >> 8) for v in samples)


def track(rate, tempo, count, click_bytes, click_length, b):
    """One track of at least `count` samples on the beat grid."""
    spacing = f32(f32(rate) / f32(tempo / 60.0))
    out = bytearray()
    n = 0
    k = 0
    while n < count:
        start = max(n, math.ceil(f32(spacing * k)))  # every n here is below 2^24
        if start >= count:
            out += bytes((count - n) * b)
            break
        out += bytes((start - n) * b)
        out += click_bytes
        n = start + click_length
        k += 1
    return bytes(out)


def wave(rate, bits, data):
    b = 3 if bits == 24 else bits // 8
    header = b"RIFF" + struct.pack("<I", len(data) + 36) + b"WAVEfmt "
    header += struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * b, b, bits)
    header += b"data" + struct.pack("<I", len(data))
    return header + data


def written_track(rate, bits, tempo=120.0, meter=4, meas=48, hz=60.0):
    """What `w` writes: rate x trackSeconds samples, trackSeconds from start-up."""
    b = 3 if bits == 24 else 2
    samples = click(rate, hz)
    seconds = f32(f32(meter * meas) / f32(tempo / 60.0))
    frames = math.trunc(f32(f32(rate) * seconds))
    return wave(rate, bits, track(rate, tempo, frames, encode(samples, bits), len(samples), b))


def rendered_map(rate, bits, sections, hz=60.0):
    """What `rtm` writes for the sections (tempo, beats, measures)."""
    b = 3 if bits == 24 else 2
    samples = click(rate, hz)
    data = b""
    for tempo, beats, measures in sections:
        seconds = f32(float(f32(beats * measures)) * (60.0 / f32(tempo)))
        frames = math.trunc(f32(f32(rate) * seconds))
        data += track(rate, tempo, frames, encode(samples, bits), len(samples), b)
    return wave(rate, bits, data)


REFERENCES = {
    "default.wav": lambda: written_track(44100, 24),
    "rate48000-16bit.wav": lambda: written_track(48000, 16),
    "tempo-map.wav": lambda: rendered_map(44100, 24, [(120.0, 4, 48), (160.0, 3, 16)]),
}


def main():
    keep = sys.argv[1] if len(sys.argv) > 1 else None
    folder = keep or tempfile.mkdtemp()
    os.makedirs(folder, exist_ok=True)
    for name, make in REFERENCES.items():
        data = make()
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(data)
        print(f"{hashlib.sha256(data).hexdigest()}  {name}")
        if not keep:
            os.remove(path)
    if not keep:
        os.rmdir(folder)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Compares two renders of the same song by two builds of Corvane.

usage: compare_renders.py REFERENCE.wav OTHER.wav [MIN_DB]
Both must hold sound and have the same length; their first onsets (first sample above
-60 dBFS) must fall on the same frame; the residual (OTHER - REFERENCE) must lie at least
MIN_DB (default 90) below the reference signal, measured over the whole file. Prints the
figures either way; says so when the files are bit-identical.
"""
import array
import math
import struct
import sys


def read_wav(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit("compare_renders: %s is not a WAV file" % path)
    pos, fmt = 12, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            tag, channels, rate = struct.unpack("<HHI", body[:8])
            bits = struct.unpack("<H", body[14:16])[0]
            if tag == 0xFFFE:
                tag = struct.unpack("<H", body[24:26])[0]
            fmt = (tag, channels, rate, bits)
        elif cid == b"data" and fmt:
            tag, channels, rate, bits = fmt
            if tag != 3 or bits != 32:
                sys.exit("compare_renders: %s is not a 32-bit float WAV file" % path)
            samples = array.array("f")
            samples.frombytes(body[:len(body) // 4 * 4])
            if sys.byteorder != "little":
                samples.byteswap()
            return rate, channels, samples
        pos += 8 + size + (size & 1)
    sys.exit("compare_renders: %s has no audio data" % path)


def onset(samples, channels):
    for i, v in enumerate(samples):
        if abs(v) > 0.001:
            return i // channels
    return -1


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    min_db = float(sys.argv[3]) if len(sys.argv) > 3 else 90.0
    rate_a, ch_a, a = read_wav(sys.argv[1])
    rate_b, ch_b, b = read_wav(sys.argv[2])
    frames_a, frames_b = len(a) // ch_a, len(b) // ch_b
    print("frames: %d and %d at %d and %d Hz" % (frames_a, frames_b, rate_a, rate_b))
    if (rate_a, ch_a, frames_a) != (rate_b, ch_b, frames_b):
        print("FAIL: the renders differ in rate, channels or length")
        return 1
    on_a, on_b = onset(a, ch_a), onset(b, ch_b)
    print("first onset: frame %d and frame %d" % (on_a, on_b))
    if on_a < 0 or on_a != on_b:
        print("FAIL: no sound, or the onsets are not aligned")
        return 1
    if a.tobytes() == b.tobytes():
        print("residual: none, the renders are bit-identical")
        return 0
    signal = math.fsum(x * x for x in a)
    residual = math.fsum((x - y) * (x - y) for x, y in zip(a, b))
    worst = max(abs(x - y) for x, y in zip(a, b))
    db = 10.0 * math.log10(signal / residual) if residual > 0 else float("inf")
    differing = sum(1 for x, y in zip(a, b) if x != y)
    print("residual: %.1f dB below the signal (largest difference %.3g, %d of %d samples differ)"
          % (db, worst, differing, len(a)))
    if db < min_db:
        print("FAIL: the residual must lie at least %.0f dB below the signal" % min_db)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Compares a host's export with corvane-render's output of the same notes.

usage: compare.py HOST.wav REFERENCE.wav
Both must hold sound; the host's export must match the reference after aligning their first
onsets: the level of every 20 ms window within 1.5 dB (median) and the residual after
subtraction at least 20 dB below the signal. Prints the figures either way.
"""
import math
import struct
import sys


def read_wav(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit("compare: %s is not a WAV file" % path)
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
            if tag == 3 and bits == 32:
                samples = struct.unpack("<%df" % (len(body) // 4), body[:len(body) // 4 * 4])
            elif tag == 1 and bits == 16:
                samples = [v / 32768.0 for v in struct.unpack("<%dh" % (len(body) // 2), body[:len(body) // 2 * 2])]
            elif tag == 1 and bits == 24:
                samples = [int.from_bytes(body[i:i + 3], "little", signed=True) / 8388608.0
                           for i in range(0, len(body) - 2, 3)]
            else:
                sys.exit("compare: %s has an unsupported sample format" % path)
            frames = [max(abs(samples[i]), abs(samples[i + 1])) if channels > 1 else abs(samples[i])
                      for i in range(0, len(samples) - channels + 1, channels)]
            left = samples[0::channels]
            right = samples[1::channels] if channels > 1 else left
            return rate, left, right, frames
        pos += 8 + size + (size & 1)
    sys.exit("compare: %s has no audio data" % path)


def main():
    rate_a, la, ra, fa = read_wav(sys.argv[1])
    rate_b, lb, rb, fb = read_wav(sys.argv[2])
    if rate_a != rate_b:
        sys.exit("compare: sample rates differ (%d, %d)" % (rate_a, rate_b))
    peak_a, peak_b = max(fa), max(fb)
    print("host export: %d frames, peak %.1f dBFS" % (len(fa), 20 * math.log10(peak_a) if peak_a else -999))
    print("reference:   %d frames, peak %.1f dBFS" % (len(fb), 20 * math.log10(peak_b) if peak_b else -999))
    if peak_a < 1e-4:
        sys.exit("compare: the host's export is silent")
    if peak_b < 1e-4:
        sys.exit("compare: the reference is silent")
    onset_a = next(i for i, v in enumerate(fa) if v > 0.01 * peak_a)
    onset_b = next(i for i, v in enumerate(fb) if v > 0.01 * peak_b)
    coarse = onset_a - onset_b
    if abs(coarse) > rate_a // 10:
        sys.exit("compare: the first onsets are more than 100 ms apart (%d, %d)" % (onset_a, onset_b))
    # Refine the lag by cross-correlation over the first half second of sound.
    span = range(onset_b, min(onset_b + rate_a // 2, len(lb)))

    def correlation(lag):
        return sum(la[i + lag] * lb[i] for i in span if 0 <= i + lag < len(la))
    lag = max(range(coarse - 64, coarse + 65), key=correlation)
    print("first onsets: host %d, reference %d; aligned with a lag of %d frames"
          % (onset_a, onset_b, lag))
    n = min(len(la) - max(lag, 0), len(lb) - max(-lag, 0))
    sa, sb = max(lag, 0), max(-lag, 0)
    signal = residual = 0.0
    window = rate_a // 50
    diffs = []
    for w in range(0, n - window + 1, window):
        ea = eb = 0.0
        for i in range(w, w + window):
            xa, xb = la[sa + i], lb[sb + i]
            ya, yb = ra[sa + i], rb[sb + i]
            ea += xa * xa + ya * ya
            eb += xb * xb + yb * yb
            residual += (xa - xb) ** 2 + (ya - yb) ** 2
        signal += eb
        if eb > window * 2e-6:  # windows above about -57 dBFS
            diffs.append(abs(10 * math.log10((ea + 1e-20) / eb)))
    diffs.sort()
    median = diffs[len(diffs) // 2] if diffs else 99.0
    snr = 10 * math.log10(signal / residual) if residual > 0 else 999.0
    print("window levels: median difference %.2f dB over %d windows; residual %.1f dB below the signal"
          % (median, len(diffs), snr))
    if median > 1.5 or snr < 20.0:
        sys.exit("compare: the host's export does not match the reference")
    print("compare: match")


if __name__ == "__main__":
    main()

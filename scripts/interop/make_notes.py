#!/usr/bin/env python3
"""Writes the interoperability song: a format 0 Standard MIDI File, 480 ticks per quarter, no
tempo event (hosts play it at their own tempo), four bars of drums, bass and plucked chords
on a sixteenth-note grid. Prints its length in quarters.

usage: make_notes.py OUT.mid
"""
import struct
import sys

Q = 480


def vlq(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.append(0x80 | (v & 0x7F))
        v >>= 7
    return bytes(reversed(out))


def main():
    events = []  # (tick, order, bytes)

    def note(tick, key, vel, length, channel=0):
        events.append((tick, 1, bytes([0x90 | channel, key, vel])))
        events.append((tick + length, 0, bytes([0x80 | channel, key, 0])))

    chords = [(57, 60, 64), (53, 57, 60), (48, 52, 55), (55, 59, 62)]
    bass = [33, 29, 24, 31]
    for bar in range(4):
        start = bar * 4 * Q
        for step in range(16):
            t = start + step * Q // 4
            note(t, chords[bar][step % 3] + (12 if step % 8 >= 4 else 0), 90 - 20 * (step % 2), Q // 4)
        for eighth in range(8):
            note(start + eighth * Q // 2, bass[bar], 110 - 30 * (eighth % 2), Q // 2 - Q // 8, 1)
        for beat in range(4):
            note(start + beat * Q, 38 if beat % 2 else 36, 115, Q // 4, 9)
            note(start + beat * Q + Q // 2, 42, 80, Q // 8, 9)
    events.sort(key=lambda e: (e[0], e[1]))
    body = b""
    last = 0
    for tick, _, data in events:
        body += vlq(tick - last) + data
        last = tick
    body += b"\x00\xff\x2f\x00"
    with open(sys.argv[1], "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, Q))
        f.write(b"MTrk" + struct.pack(">I", len(body)) + body)
    print(last / Q)


if __name__ == "__main__":
    main()

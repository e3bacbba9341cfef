#!/usr/bin/python3
"""Writes the bundle's sounds as CAF files of 16-bit little-endian linear PCM, mono, 16 kHz.

"dtmf-<key>.caf" for the twelve keys (0-9, "*", "#") sound the key's DTMF pair (a row tone of
697, 770, 852 or 941 Hz with a column tone of 1209, 1336 or 1477 Hz) for 150 ms; "NewMessage.caf"
and "Message Sent.caf" are short two-note chimes. Each tone fades in and out over 5 ms.

usage: make_sounds.py OUTPUT_DIRECTORY
"""
import math
import os
import struct
import sys

RATE = 16000
ROWS = {"1": 697, "2": 697, "3": 697, "4": 770, "5": 770, "6": 770, "7": 852, "8": 852, "9": 852,
        "*": 941, "0": 941, "#": 941}
COLUMNS = {"1": 1209, "2": 1336, "3": 1477, "4": 1209, "5": 1336, "6": 1477, "7": 1209, "8": 1336,
           "9": 1477, "*": 1209, "0": 1336, "#": 1477}


def tone(frequencies, seconds, amplitude=0.4):
    n = int(RATE * seconds)
    fade = int(RATE * 0.005)
    out = []
    for i in range(n):
        v = sum(math.sin(2 * math.pi * f * i / RATE) for f in frequencies) / len(frequencies)
        ramp = min(1.0, i / fade, (n - 1 - i) / fade) if fade else 1.0
        out.append(int(round(max(-1.0, min(1.0, v * amplitude * ramp)) * 32767)))
    return out


def caf(samples):
    data = struct.pack("<%dh" % len(samples), *samples)
    header = b"caff" + struct.pack(">HH", 1, 0)
    # desc: sample rate, 'lpcm', flags (little-endian integers), bytes/packet, frames/packet,
    # channels, bits per channel.
    desc = struct.pack(">d4sIIIII", float(RATE), b"lpcm", 2, 2, 1, 1, 16)
    chunks = b"desc" + struct.pack(">q", len(desc)) + desc
    chunks += b"data" + struct.pack(">q", 4 + len(data)) + struct.pack(">I", 0) + data
    return header + chunks


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    files = {"dtmf-%s.caf" % key: tone([ROWS[key], COLUMNS[key]], 0.15) for key in ROWS}
    files["NewMessage.caf"] = tone([880, 1318.5], 0.12) + tone([1318.5, 1760], 0.18)
    files["Message Sent.caf"] = tone([1046.5], 0.08) + tone([1568], 0.12)
    for name, samples in files.items():
        path = os.path.join(out, name)
        with open(path + ".tmp", "wb") as f:
            f.write(caf(samples))
        os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the alarm tone resources/res/duka3.wav: a short two-tone beep,
16-bit PCM mono at 22050 Hz. Standard library only; the output is the same
bytes on every run.

    python3 tools/make_alarm.py [output-file]
"""

import math
import os
import struct
import sys
import wave

RATE = 22050
AMPLITUDE = 0.6  # of full scale, leaving headroom
FADE = 0.006  # seconds of ramp at each end of a tone, so it does not click

# (frequency in Hz, length in seconds); 0 Hz is a pause.
TONES = [(1760.0, 0.14), (0.0, 0.04), (1320.0, 0.18)]


def samples():
    out = []
    for freq, length in TONES:
        n = int(round(length * RATE))
        fade = int(FADE * RATE)
        for i in range(n):
            if freq == 0.0:
                out.append(0)
                continue
            env = min(1.0, i / fade, (n - 1 - i) / fade)
            # A little third harmonic makes the beep cut through room noise.
            t = i / RATE
            v = math.sin(2 * math.pi * freq * t) + 0.25 * math.sin(2 * math.pi * 3 * freq * t)
            out.append(int(round(v / 1.25 * AMPLITUDE * env * 32767)))
    return out


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    path = argv[1] if len(argv) > 1 else os.path.join(here, os.pardir, "resources", "res", "duka3.wav")
    data = samples()
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(struct.pack("<%dh" % len(data), *data))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

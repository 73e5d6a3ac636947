#!/usr/bin/env python3
"""Writes the auto click sound: a short, soft tick (a decaying 1.8 kHz tone with a little noise),
25 ms of 16-bit mono at 44.1 kHz. Deterministic, so every build makes the same file.

Usage: make-click-sound.py OUTPUT.wav
"""
import math
import random
import struct
import sys
import wave

RATE = 44100
SECONDS = 0.025
TONE_HZ = 1800.0
PEAK = 0.45  # of full scale: audible, never harsh


def samples():
    noise = random.Random(2026)
    count = int(RATE * SECONDS)
    for i in range(count):
        t = i / RATE
        attack = min(1.0, i / 40.0)  # no click of its own at the start
        decay = math.exp(-t / 0.005)
        value = 0.8 * math.sin(2 * math.pi * TONE_HZ * t) + 0.2 * noise.uniform(-1.0, 1.0)
        yield int(32767 * PEAK * attack * decay * value)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with wave.open(sys.argv[1], "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", s) for s in samples()))


if __name__ == "__main__":
    main()

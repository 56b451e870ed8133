#!/usr/bin/env python3
"""Writes the station window's two sounds, resources/sounds/*.wav: short, distinct, and loud
enough to hear over a packing bench, 16-bit mono PCM that every platform plays.

  problem.wav       two low falling buzzes: a logger refused or failed
  all-verified.wav  three rising notes: every listed logger verified

The build never runs this; the WAV files are committed."""

import math
import pathlib
import struct
import wave

RATE = 22050


def tone(freq, seconds, volume=0.6, square=False):
    n = int(RATE * seconds)
    fade = int(RATE * 0.01)
    out = []
    for i in range(n):
        s = math.sin(2 * math.pi * freq * i / RATE)
        if square:  # a buzz: odd harmonics, softened
            s = sum(math.sin(2 * math.pi * freq * k * i / RATE) / k for k in (1, 3, 5)) * 0.8
        envelope = min(1.0, i / fade, (n - i) / fade)
        out.append(s * volume * envelope)
    return out


def silence(seconds):
    return [0.0] * int(RATE * seconds)


def write(name, samples):
    path = pathlib.Path(__file__).resolve().parent.parent / "resources" / "sounds" / name
    with wave.open(str(path), "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(RATE)
        f.writeframes(b"".join(struct.pack("<h", int(max(-1, min(1, s)) * 32767)) for s in samples))


write("problem.wav", tone(330, 0.16, square=True) + silence(0.06) + tone(247, 0.24, square=True))
write("all-verified.wav", tone(523, 0.12) + tone(659, 0.12) + tone(784, 0.28))

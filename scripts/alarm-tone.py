#!/usr/bin/env python3
# Writes the default alarm sound: two short beeps (880 Hz, then 1175 Hz), half a
# second in all, 16-bit mono PCM at 22050 Hz, the same bytes on every build.
#   scripts/alarm-tone.py OUT.wav
# Made by the build; installed as <datadir>/quellmark/a1.wav. Quellmark
# plays it every 3 s while a channel is in alarm and the instance's folder
# has no a1.wav of its own.
import math
import struct
import sys
import wave

RATE = 22050
FADE = 0.006  # s: rounded edges, so that the beeps do not click


def beep(frequency, seconds, volume=0.45):
    n = int(RATE * seconds)
    edge = int(RATE * FADE)
    out = []
    for i in range(n):
        gain = min(1.0, i / edge, (n - 1 - i) / edge)
        gain = 0.5 - 0.5 * math.cos(math.pi * gain)
        out.append(round(32767 * volume * gain * math.sin(2 * math.pi * frequency * i / RATE)))
    return out


def silence(seconds):
    return [0] * int(RATE * seconds)


samples = beep(880, 0.18) + silence(0.08) + beep(1175, 0.22) + silence(0.02)
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(RATE)
    w.writeframes(struct.pack("<%dh" % len(samples), *samples))

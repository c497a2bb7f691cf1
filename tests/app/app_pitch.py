#!/usr/bin/env python3
"""Measure a decoded recording: app_pitch.py WAV -> "<seconds> <sounding seconds> <f0 Hz>".

seconds is the decoded length, sounding seconds the span from the first to the last sample
that is not silence (the effect stage's lead-in is silent); f0 comes from the middle half second of what is not
silence (the effect stage's lead-in is silent), as the normalised autocorrelation's
shortest lag within 10 % of the best one between 60 and 1000 Hz (shortest, so that the
multiples of a tone's period cannot win), refined by a parabola through its neighbours.
"""
import math
import operator
import struct
import sys
import wave


def samples(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise SystemExit("app_pitch.py: not 16-bit PCM: " + path)
        rate, channels = w.getframerate(), w.getnchannels()
        data = w.readframes(w.getnframes())
    values = struct.unpack("<%dh" % (len(data) // 2), data)
    return rate, list(values[::channels])


def correlation(x, a, b, n):
    xa, xb = x[a:a + n], x[b:b + n]
    num = sum(map(operator.mul, xa, xb))
    den = math.sqrt(sum(map(operator.mul, xa, xa)) * sum(map(operator.mul, xb, xb)))
    return num / den if den > 0 else 0.0


def fundamental(x, rate, start, count):
    lo, hi = rate // 1000, rate // 60
    n = count - hi - 1
    r = {lag: correlation(x, start, start + lag, n) for lag in range(lo - 1, hi + 2)}
    best = max(r[lag] for lag in range(lo, hi + 1))
    for lag in range(lo, hi + 1):
        if r[lag] >= 0.9 * best and r[lag] >= r[lag - 1] and r[lag] >= r[lag + 1]:
            d = r[lag - 1] - 2 * r[lag] + r[lag + 1]
            shift = 0.5 * (r[lag - 1] - r[lag + 1]) / d if d else 0.0
            return rate / (lag + shift)
    return 0.0


def main():
    rate, x = samples(sys.argv[1])
    loud = [i for i in range(0, len(x), 64) if abs(x[i]) > 300]
    f0, sounding = 0.0, 0.0
    if loud:
        sounding = (loud[-1] - loud[0]) / rate
    if loud and loud[-1] - loud[0] > rate:
        middle = (loud[0] + loud[-1]) // 2
        f0 = fundamental(x, rate, middle - rate // 4, rate // 2)
    print("%.3f %.3f %.2f" % (len(x) / rate, sounding, f0))


if __name__ == "__main__":
    main()

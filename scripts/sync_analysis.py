#!/usr/bin/env python3
"""Reads one run of scripts/measure-sync.sh from its work folder and prints its figures
on one line (see that script for what they are):

  sync_analysis.py WORK MODE FIRE_CUE KEY_MS GOAL DOWN_MS BACK_MS

MODE is opening, whole, seek, step or restart. The screen's recording (vid.raw with
vid.pts: 32 x 24 grey frames at their wall-clock times in ms) and the sink's recordings
(aud1.raw with aud1.pts, and aud2 after a restart of the server: mono 16-bit samples, the
packets' wall-clock times) are matched against the offline mix of the tune (mix.wav)."""
import array
import os
import sys
import wave

work, mode, fire_cue = sys.argv[1], sys.argv[2], float(sys.argv[3])
key_ms, goal, down_ms, back_ms = (float(v) for v in sys.argv[4:8])
RATE, BLOCK = 44100, 44  # envelope blocks of about 1 ms
ms_per_block = BLOCK * 1000.0 / RATE

# Screen: the mean of each recorded frame (32 x 24 grey), at its time in ms (the
# Matroska time base is 1 ms).
pts = [int(l.split(",")[0]) for l in open(work + "/vid.pts") if l.strip()]
raw = open(work + "/vid.raw", "rb").read()
frames = [(pts[i], sum(raw[i * 768:(i + 1) * 768]) / 768.0) for i in range(min(len(pts), len(raw) // 768))]
order = sorted(range(len(frames)), key=lambda i: pts[i])
frames.sort()


def envelope(samples):
    return [sum(abs(v) for v in samples[i:i + BLOCK]) / BLOCK for i in range(0, len(samples) - BLOCK, BLOCK)]


def recording(name):
    """(time of the first sample in ms, samples): each packet's time less the samples
    before it. The capture's clock filter needs a few hundred milliseconds to settle (its
    first packets come early), so the median of the later packets counts."""
    samples = array.array("h", open(work + "/" + name + ".raw", "rb").read())
    packets = [tuple(int(v) for v in l.split(",")[:2]) for l in open(work + "/" + name + ".pts") if l.strip()]
    starts, before = [], 0
    for pts_ms, size in packets:
        starts.append(pts_ms - before * 1000.0 / RATE)
        before += size // 2
    settled = sorted(starts[len(starts) // 4:])
    return settled[len(settled) // 2], samples


recordings = [recording(n) for n in ("aud1", "aud2") if os.path.exists(work + "/" + n + ".raw")]
mix_file = wave.open(work + "/mix.wav")
stereo = array.array("h", mix_file.readframes(mix_file.getnframes()))
mix = array.array("h", ((stereo[i] + stereo[i + 1]) // 2 for i in range(0, len(stereo), 2)))


def recording_at(ms):
    """The latest recording that began at least 1.5 s before ms (else the first)."""
    best = recordings[0]
    for rec in recordings:
        if rec[0] <= ms - 1500:
            best = rec
    return best


def heard_at(tune_ms, near_ms):
    """Recording time (ms) at which tune position tune_ms was heard, searched within
    1.5 s of near_ms: the best match of 3 s of the mix's envelope (the tune repeats
    itself within shorter stretches)."""
    rec_start, rec = recording_at(near_ms)
    first = int(tune_ms * RATE / 1000)
    ref = envelope(mix[first:first + 3 * RATE])
    centre = int((near_ms - rec_start) * RATE / 1000)
    lo = max(0, centre - int(1.5 * RATE))
    seg = envelope(rec[lo:centre + int(4.5 * RATE)])
    ref_mean = sum(ref) / len(ref)
    ref = [v - ref_mean for v in ref]
    best, best_lag = None, 0
    for lag in range(0, len(seg) - len(ref)):
        window = seg[lag:lag + len(ref)]
        m = sum(window) / len(window)
        num = sum(a * (b - m) for a, b in zip(ref, window))
        den = sum((b - m) ** 2 for b in window) ** 0.5 or 1.0
        score = num / den
        if best is None or score > best:
            best, best_lag = score, lag
    return rec_start + lo * 1000.0 / RATE + best_lag * ms_per_block


def level_at(ms):
    """The sound's level in the millisecond block at wall-clock time ms."""
    rec_start, rec = recording_at(ms + 1500)
    i = int((ms - rec_start) * RATE / 1000)
    block = rec[i:i + BLOCK] if i >= 0 else []
    return sum(abs(v) for v in block) / BLOCK if len(block) == BLOCK else 0


def first_loud(after_ms, loud):
    """The first millisecond from after_ms on whose level reaches loud (5 s at most)."""
    t = after_ms
    while t < after_ms + 5000 and level_at(t) < loud:
        t += 1
    return t


def usual_level(before_ms):
    """A quarter of the sound's median level in the second before before_ms."""
    levels = sorted(level_at(before_ms - 1000 + k) for k in range(0, 1000))
    return levels[len(levels) // 2] / 4


def change(first, test):
    """Screen time (ms) of the first change after time first for which test holds: the
    midpoint between the capture before it and the first capture that shows it."""
    for i in range(1, len(frames)):
        if frames[i][0] > first and test(frames[i][1]):
            return (frames[i - 1][0] + frames[i][0]) / 2.0
    raise SystemExit("cue not found on the screen")


if mode == "step":
    # The tune heard again after the keys: its level back to a quarter of the level in the
    # second before the pause (1.5 s before the keys).
    print("%.0f" % (first_loud(key_ms, usual_level(key_ms - 1500)) - key_ms))
    raise SystemExit(0)

if mode == "seek":
    # The part's first frame on the screen: the first capture after the key that looks
    # like it (mean difference of the 32 x 24 grey cells of the picture, at either of its
    # places, leaving out the corner the overlay stands in and the two rows of cells the
    # page's bar may cover).
    places = []
    for scale, (x0, y0, x1, y1) in ((3, (0, 0, 32, 24)), (2, (6, 4, 26, 20))):
        ref = open(work + "/goal-%d-%d.raw" % (goal, scale), "rb").read()
        cells = [(x, y) for y in range(y0, y1 - 2) for x in range(x0, x1) if not (x < x0 + 5 and y < y0 + 2)]
        places.append((ref, cells))

    def unlike(i):
        shot = raw[i * 768:(i + 1) * 768]
        return min(sum(abs(shot[y * 32 + x] - ref[y * 32 + x]) for x, y in cells) / len(cells)
                   for ref, cells in places)

    seen = None
    for n in range(1, len(order)):
        if pts[order[n]] > key_ms and unlike(order[n]) < 6:
            seen = (pts[order[n - 1]] + pts[order[n]]) / 2.0
            break
    if seen is None:
        raise SystemExit("the part's first frame was not found on the screen")
    print("%.0f %+.0f" % (seen - key_ms, heard_at(goal, seen) - seen))
    raise SystemExit(0)

# The screen is black through the load phase until the presents screen, which is dim
# (its mean brightness stays below 60); the page's start panel before it is bright.
black = min(m for t, m in frames if t < frames[0][0] + 30000)
opening = None
for i in range(1, len(frames)):
    if frames[i - 1][1] <= black + 1 and black + 4 < frames[i][1] < 60:
        opening = (frames[i - 1][0] + frames[i][0]) / 2.0
        break
if opening is None:
    raise SystemExit("the presents screen was not found on the screen")
out = []
if mode == "restart":
    # After the server's return: how soon the tune is heard again, at its usual level
    # before the server went away.
    out.append("%.0f" % (first_loud(back_ms, usual_level(down_ms)) - back_ms))
else:
    out.append("%+.0f" % (heard_at(0, opening) - opening))
if mode != "opening":
    expected = opening + fire_cue * 1000
    words = [m for t, m in frames if expected - 3000 < t < expected - 1000]
    level = sum(words) / len(words)
    fire = change(expected - 1000, lambda m: m < 0.5 * level)
    lag = heard_at(fire_cue * 1000, fire) - fire
    out.append("%+.0f" % lag)
    if mode == "whole":
        out.append("%+.0f" % (lag + (fire - opening) - fire_cue * 1000))
        out.append("%.0f" % (fire - opening))
print(" ".join(out))

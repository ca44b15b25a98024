#!/usr/bin/env python3
"""Reads one run of scripts/measure-sync.sh from its work folder and prints its figures
on one line (see that script for what they are):

  sync_analysis.py WORK MODE FIRE_CUE KEY_MS GOAL DOWN_MS BACK_MS

MODE is opening, whole, seek, step or restart. The screen's recording (vid.raw with
vid.pts: 32 x 24 grey frames at their wall-clock times in ms) and what the sink played
(sink-N.raw with sink-N.times, scripts/sync_record.py: mono 16-bit samples and the
wall-clock times their pieces arrived at) are matched against the offline mix of the
tune (mix.wav)."""
import array
import glob
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
    """One recording of the sink's FIFO: its samples and its turns. The sink plays in
    turns: each turn it writes what it plays from then on, so the first piece of a turn
    (one that came more than a millisecond after the one before) arrives as its first
    sample plays. A turn is kept as (its arrival, the samples before it)."""
    samples = array.array("h", open(name + ".raw", "rb").read())
    pieces = [(float(ms), int(upto)) for ms, upto in (l.split() for l in open(name + ".times") if l.strip())]
    turns = [(pieces[i][0], pieces[i - 1][1] if i > 0 else 0)
             for i in range(len(pieces)) if i == 0 or pieces[i][0] - pieces[i - 1][0] > 1.0]
    return turns, samples


recordings = sorted((recording(n[:-len(".times")]) for n in glob.glob(work + "/sink-*.times")), key=lambda r: r[0][0])


def recording_at(ms):
    """(wall-clock time the recording's first sample was heard, as the turns around ms
    tell it, and its samples) for the recording that holds ms: the least of a turn's
    arrival less the samples before it over the turns from 1 s before ms to 3 s after,
    which the turns that came at once meet. Taken near ms, since a sink that rests while
    nothing plays (PipeWire's), or drops or repeats a piece, moves that for later turns."""
    turns, samples = recordings[0]
    for rec in recordings:
        if rec[0][0][0] <= ms:
            turns, samples = rec
    near = [t - before * 1000.0 / RATE for t, before in turns if ms - 1000 <= t <= ms + 3000]
    if not near:
        near = [t - before * 1000.0 / RATE for t, before in turns]
    return min(near), samples


mix_file = wave.open(work + "/mix.wav")
stereo = array.array("h", mix_file.readframes(mix_file.getnframes()))
mix = array.array("h", ((stereo[i] + stereo[i + 1]) // 2 for i in range(0, len(stereo), 2)))


def heard_at(tune_ms, near_ms):
    """Wall-clock time (ms) at which tune position tune_ms was heard, searched within
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
    """The level of the sound heard in the millisecond block at wall-clock time ms."""
    rec_start, rec = recording_at(ms)
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

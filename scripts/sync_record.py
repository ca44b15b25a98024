#!/usr/bin/env python3
"""Records what a sound server's pipe sink plays, for scripts/measure-sync.sh, with the
wall-clock time at which each piece arrived:

  sync_record.py FIFO OUT

reads the sink's FIFO (mono, 16-bit, 44100 Hz) until SIGINT or SIGTERM and writes one
recording per stretch the server wrote it without a break (a restarted server opens it
anew): OUT-1.raw with OUT-1.times, OUT-2..., each .times line a piece's arrival in
milliseconds of the wall clock and the samples recorded up to its end. The reader is no
client of the server, so it moves nothing there. No piece arrives before its last sample
was played, so a stretch's first sample came at most the least of arrival less duration
over its pieces: a bound that the pieces which came at once meet."""
import os
import signal
import sys
import time

fifo, out = sys.argv[1], sys.argv[2]
PIECE = 882 * 2  # 20 ms of mono 16-bit samples at 44100 Hz
stop = False


def ending(*_):
    global stop
    stop = True


signal.signal(signal.SIGINT, ending)
signal.signal(signal.SIGTERM, ending)
stretch = 0
while not stop:
    try:
        fd = os.open(fifo, os.O_RDONLY)
    except InterruptedError:
        continue
    except FileNotFoundError:
        # A server that went away took its FIFO along; the next one makes it anew.
        time.sleep(0.01)
        continue
    stretch += 1
    recorded = 0
    with open("%s-%d.raw" % (out, stretch), "wb") as raw, open("%s-%d.times" % (out, stretch), "w") as times:
        while not stop:
            try:
                piece = os.read(fd, PIECE)
            except InterruptedError:
                continue
            if not piece:
                break
            arrived = time.time() * 1000
            raw.write(piece)
            recorded += len(piece)
            times.write("%.3f %d\n" % (arrived, recorded // 2))
            times.flush()
    os.close(fd)

#!/usr/bin/env bash
# Measures, from outside, how far the heard tune is from the picture in a live program:
# the program runs on a private Xvfb with its sound on a PulseAudio null sink, and one
# ffmpeg records the screen and the sink's monitor on one clock. For each run it prints
# the lag of the sound (positive: heard late) at the opening (the presents screen's first
# frame, tune position 0) and, unless --opening-only, at the start of the fire (the words'
# last frame gives way to it at show time 111.40 s of the virtual clock); then the lag at
# the fire against the picture's own clock (the fire's place in the tune is taken where
# the screen shows it, counted from the opening: the parts' own timing, which moves the
# fire by up to a frame per part, is left out, leaving what sound and clock drifted
# apart); the time from the opening to the fire on the screen; then the medians.
# With --seek (sdl and page) each run instead presses a part's key (2 to 7 and 9, one a
# run, in turn) during the presents screen and prints the time from the key to that
# part's first frame on the screen, and the lag of the sound there (the tune's position of
# the part's start against its first frame). The part's first frame is told on the screen
# by its likeness to the frame tarqle-render draws there with the same seed, so neither
# the overlay nor the page's bar, nor a frame of the show before the seek, is taken for it.
# With --burst the part's key comes last of ten seeking keys pressed in one second (Left,
# Right and other parts' keys), and the same two figures are taken from it. With
# --step-space each run pauses the presents screen with Space, then presses . and Space
# at once (a step, and the resume before the step's frame is due) and prints how long
# after them the tune is heard again.
#
#   scripts/measure-sync.sh [--runs N] [--opening-only | --seek | --burst | --step-space] [--check MS]
#                           sdl|x|page [BUILD_DIR]
#
# sdl is tarqle-sdl; x is tarqle-x with libmikmod's PulseAudio driver, 16-bit stereo at
# 44100 Hz, pixel size 2; page is the browser page (BUILD_DIR/web, from
# scripts/build-web.sh) in Chromium with a window, started with Enter. With --check the
# script fails when the median lag at the opening is more than MS milliseconds either way,
# and skips (status 77), saying why, where it cannot run. TARQLE_SYNC_KEEP=1 keeps the last
# run's recordings in the work folder it names; TARQLE_SYNC_PAGE_READY sets the seconds the
# page is given to load before Enter (default 8).
#
# The tune's own place of each cue is found by matching the recording with the offline
# mix (tarqle-mixdown) of the same tune, so neither the tune's lead-in nor its loudness
# counts. Needs Xvfb, pulseaudio, pactl, ffmpeg, ffprobe and python3 (scripts/setup-deps.sh),
# and for the page Chromium and xdotool.
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: scripts/measure-sync.sh [--runs N] [--opening-only | --seek | --burst | --step-space] [--check MS] sdl|x|page [BUILD_DIR]"

runs=5
opening_only=0
seek=0
burst=0
step_space=0
check=
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --opening-only) opening_only=1; shift ;;
    --seek) seek=1; shift ;;
    --burst) seek=1; burst=1; shift ;;
    --step-space) seek=1; step_space=1; shift ;;
    --check) check=$2; shift 2 ;;
    *) break ;;
  esac
done
program=${1:?$usage}
build=$(cd "${2:-build}" && pwd)
case $program in sdl | x | page) ;; *) echo "$usage" >&2; exit 2 ;; esac
[ "$seek" = 1 ] && [ "$program" = x ] && { echo "tarqle-x has no keys to seek with" >&2; exit 2; }

skip() {
  echo "skipped: $1"
  exit 77
}
tools=(Xvfb xdpyinfo pulseaudio pactl ffmpeg ffprobe python3)
[ "$program" = page ] && tools+=(chromium xdotool)
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup-deps.sh installs it)"
done
case $program in
  sdl) [ -x "$build/tarqle-sdl" ] || skip "no tarqle-sdl in $build" ;;
  x) [ -x "$build/tarqle-x" ] || skip "no tarqle-x in $build" ;;
  page) [ -f "$build/web/index.html" ] || skip "no page in $build/web (scripts/build-web.sh makes it)" ;;
esac

# Show times of the cues, in seconds (frames/index.tsv of tarqle-render).
fire_cue=111.40
# How long each run is recorded from the program's start: to the cue, and for the page
# its loading and start panel too.
if [ "$opening_only" = 1 ]; then record_seconds=6; else record_seconds=116; fi
# A seek's key is pressed this long after the program starts (the presents screen shows),
# and the recording goes on 6 s after it.
key_after=9
[ "$program" = page ] && key_after=$((key_after + 14))
[ "$seek" = 1 ] && record_seconds=$((key_after + 6))
# The part keys a seek presses, one a run in turn, and the show times they go to (the
# fire's first frame is too dark to tell from the presents screen on the recording); the
# nine keys a burst presses before it, 100 ms apart; and the seed the shows run with, so
# the part's first frame is known.
seek_keys=(2 3 4 5 6 7 9)
seek_goals=(11040 30240 42770 65810 78830 88370 132940)
burst_keys=(6 Right Left 3 Right Right Left 8 Left)
seed=1
[ "$program" = page ] && record_seconds=$((record_seconds + 14))

work=$(mktemp -d /tmp/tarqle-sync.XXXXXX)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  [ -n "${TARQLE_SYNC_KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

# The sound server: only a null sink and a socket of its own.
export XDG_RUNTIME_DIR=$work HOME=$work PULSE_SERVER=unix:$work/pulse.sock
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=file:"$work/pulse.log" \
  -L "module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" \
  -L "module-null-sink sink_name=sync rate=44100" \
  -L "module-always-sink" &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink sync 2>/dev/null || skip "the PulseAudio server does not start here"

# The X server: black root window, the window at the top left corner without a window manager.
Xvfb -displayfd 3 -screen 0 960x720x24 -br -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=:$(head -n 1 "$work/display")
for _ in $(seq 100); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo -display "$display" >/dev/null 2>&1 || skip "Xvfb does not start here"

"$build/tarqle-mixdown" "$work/mix.wav" "$build/music/tarqle.xm" >/dev/null

# The first frame of each part a seek goes to, as the screen's recording holds it: the
# headless run's frame at that show time, enlarged as the program shows it (filling the
# screen at 3x, or at 2x in its middle, as the page may) and reduced to 32 x 24 grey like
# the recording.
if [ "$seek" = 1 ] && [ "$step_space" = 0 ]; then
  mkdir -p "$work/render"
  ln -s "$build/grafika" "$build/music" "$work/render/"
  (cd "$work/render" && printf '0\n' | "$build/tarqle-render" --seed "$seed" --png 0-999999 >/dev/null)
  for goal in "${seek_goals[@]}"; do
    frame=$(awk -F'\t' -v goal="$goal" '$2 <= goal { f = $1 } END { print f }' "$work/render/frames/index.tsv")
    png=$(printf '%s/render/frames/%06d.png' "$work" "$frame")
    ffmpeg -nostdin -v error -i "$png" -vf scale=960:720:flags=neighbor,scale=32:24,format=gray \
      -f rawvideo -y "$work/goal-$goal-3.raw"
    ffmpeg -nostdin -v error -i "$png" -vf scale=640:480:flags=neighbor,pad=960:720:160:120,scale=32:24,format=gray \
      -f rawvideo -y "$work/goal-$goal-2.raw"
  done
  rm -rf "$work/render"
fi

start_program() {
  case $program in
    sdl) (cd "$build" && DISPLAY=$display SDL_VIDEODRIVER=x11 exec ./tarqle-sdl --scale 3 --seed "$seed" >"$work/out.txt" 2>&1) ;;
    x)
      local device
      device=$(cd "$build" && printf '4\n' | ./tarqle-x 2>/dev/null | sed -n 's/^\([0-9]*\)\. PulseAudio.*/\1/p' || true)
      (cd "$build" && printf '4\n%s\n44100\n2\n' "$device" | DISPLAY=$display exec ./tarqle-x >"$work/out.txt" 2>&1)
      ;;
    page)
      # The page fills the screen; its Start button has the focus once the page is ready.
      (DISPLAY=$display exec chromium --no-sandbox --test-type --kiosk --no-first-run --disable-gpu --disable-sync \
        --disable-background-networking --disable-component-update --user-data-dir="$work/chromium" \
        --window-position=0,0 --window-size=960,720 "http://127.0.0.1:$port/index.html?seed=$seed" >"$work/out.txt" 2>&1) &
      sleep "${TARQLE_SYNC_PAGE_READY:-8}"
      DISPLAY=$display xdotool key Return
      wait
      ;;
  esac
}

port=
if [ "$program" = page ]; then
  port=$((20000 + RANDOM % 20000))
  (cd "$build/web" && exec python3 -m http.server --bind 127.0.0.1 "$port" >/dev/null 2>&1) &
  pids+=($!)
fi

results=()
for run in $(seq "$runs"); do
  rm -f "$work/rec.mkv"
  ffmpeg -nostdin -hide_banner -loglevel error -thread_queue_size 4096 -f x11grab -framerate 100 -draw_mouse 0 -video_size 960x720 -i "$display" \
    -thread_queue_size 4096 -f pulse -sample_rate 44100 -channels 2 -fragment_size 3528 -i sync.monitor -copyts \
    -map 0:v -vf scale=32:24,format=gray -c:v rawvideo -map 1:a -ac 1 -c:a pcm_s16le "$work/rec.mkv" &
  recorder=$!
  pids+=($recorder)
  sleep 4
  # A session of its own, so the whole program (a pipeline, the player, the browser's
  # processes) is ended together.
  setsid bash -c "$(declare -f start_program); $(declare -p program build display work port seed 2>/dev/null); start_program" &
  show=$!
  pids+=($show)
  key=0 goal=0 key_ms=0
  if [ "$seek" = 1 ]; then
    sleep "$key_after"
    key=${seek_keys[$(((run - 1) % ${#seek_keys[@]}))]}
    goal=${seek_goals[$(((run - 1) % ${#seek_keys[@]}))]}
    [ "$program" = sdl ] && DISPLAY=$display xdotool search --sync --name '^tarqle' windowfocus --sync >/dev/null 2>&1
    if [ "$step_space" = 1 ]; then
      DISPLAY=$display xdotool key space
      sleep 1.5
      key=". then Space" goal=-1
      key_ms=$(date +%s%3N)
      DISPLAY=$display xdotool key --delay 10 period space
    else
      if [ "$burst" = 1 ]; then
        for k in "${burst_keys[@]}"; do
          DISPLAY=$display xdotool key "$k"
          sleep 0.1
        done
      fi
      key_ms=$(date +%s%3N)
      DISPLAY=$display xdotool key "$key"
    fi
    sleep $((record_seconds - key_after))
  else
    sleep "$record_seconds"
  fi
  kill -INT "$recorder"
  wait "$recorder" || true
  kill -TERM -- "-$show" 2>/dev/null || true
  wait "$show" 2>/dev/null || true

  ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 "$work/rec.mkv" >"$work/video.pts"
  ffprobe -v error -select_streams a -show_entries packet=pts,size -of csv=p=0 "$work/rec.mkv" >"$work/audio.pts"
  ffmpeg -nostdin -v fatal -i "$work/rec.mkv" -map 0:v -fps_mode passthrough -f rawvideo -y "$work/video.raw"
  ffmpeg -nostdin -v fatal -i "$work/rec.mkv" -map 0:a -f s16le -y "$work/audio.raw"
  line=$(python3 - "$work" "$opening_only" "$fire_cue" "$key_ms" "$goal" <<'EOF'
import array, sys, wave
work, opening_only, fire_cue = sys.argv[1], sys.argv[2] == "1", float(sys.argv[3])
key_ms, goal = float(sys.argv[4]), float(sys.argv[5])
RATE, BLOCK = 44100, 44  # envelope blocks of about 1 ms
ms_per_block = BLOCK * 1000.0 / RATE

# Screen: the mean of each recorded frame (32 x 24 grey), at its time in ms (the
# Matroska time base is 1 ms).
pts = [int(l.split(",")[0]) for l in open(work + "/video.pts") if l.strip()]
raw = open(work + "/video.raw", "rb").read()
frames = [(pts[i], sum(raw[i * 768:(i + 1) * 768]) / 768.0) for i in range(min(len(pts), len(raw) // 768))]
frames.sort()

def envelope(samples):
    return [sum(abs(v) for v in samples[i:i + BLOCK]) / BLOCK for i in range(0, len(samples) - BLOCK, BLOCK)]

rec = array.array("h", open(work + "/audio.raw", "rb").read())
# The recording's first sample, on the screen's clock: each packet's time less the
# samples before it. The capture's clock filter needs a few hundred milliseconds to settle
# (its first packets come early), so the median of the later packets counts.
packets = [tuple(int(v) for v in l.split(",")[:2]) for l in open(work + "/audio.pts") if l.strip()]
starts, before = [], 0
for pts_ms, size in packets:
    starts.append(pts_ms - before * 1000.0 / RATE)
    before += size // 2
settled = sorted(starts[len(starts) // 4:])
rec_start = settled[len(settled) // 2]
mix_file = wave.open(work + "/mix.wav")
stereo = array.array("h", mix_file.readframes(mix_file.getnframes()))
mix = array.array("h", ((stereo[i] + stereo[i + 1]) // 2 for i in range(0, len(stereo), 2)))

def heard_at(tune_ms, near_ms):
    """Recording time (ms) at which tune position tune_ms was heard, searched within
    1.5 s of near_ms: the best match of 3 s of the mix's envelope (the tune repeats
    itself within shorter stretches)."""
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

def change(first, test):
    """Screen time (ms) of the first change after time first for which test holds: the
    midpoint between the capture before it and the first capture that shows it."""
    for i in range(1, len(frames)):
        if frames[i][0] > first and test(frames[i][1]):
            return (frames[i - 1][0] + frames[i][0]) / 2.0
    raise SystemExit("cue not found on the screen")

if key_ms > 0 and goal < 0:
    # The tune heard again after the keys: the first millisecond past the keys whose level
    # comes back to a quarter of the level in the second before the pause.
    env = envelope(rec)
    def level_at(ms):
        i = int((ms - rec_start) / ms_per_block)
        return env[i] if 0 <= i < len(env) else 0
    paused_at = key_ms - 1500
    before = sorted(level_at(paused_at - 1000 + k) for k in range(0, 1000))
    loud = before[len(before) // 2] / 4
    t = key_ms
    while t < key_ms + 5000 and level_at(t) < loud:
        t += 1
    print("%.0f" % (t - key_ms))
    raise SystemExit(0)

if key_ms > 0:
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
    order = sorted(range(len(frames)), key=lambda i: pts[i])
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
out = ["%+.0f" % (heard_at(0, opening) - opening)]
if not opening_only:
    expected = opening + fire_cue * 1000
    words = [m for t, m in frames if expected - 3000 < t < expected - 1000]
    level = sum(words) / len(words)
    fire = change(expected - 1000, lambda m: m < 0.5 * level)
    lag = heard_at(fire_cue * 1000, fire) - fire
    out.append("%+.0f" % lag)
    out.append("%+.0f" % (lag + (fire - opening) - fire_cue * 1000))
    out.append("%.0f" % (fire - opening))
print(" ".join(out))
EOF
)
  results+=("$line")
  if [ "$step_space" = 1 ]; then
    echo "run $run: Space, then . and Space: the tune heard again after (ms): $line; load: $(cut -d' ' -f1-3 /proc/loadavg)"
    continue
  fi
  if [ "$seek" = 1 ]; then
    echo "run $run: key $key (show time $goal ms)$([ "$burst" = 1 ] && echo ", the last of ten"): from the key to the part's first frame (ms), lag of the sound there (ms): $line; load: $(cut -d' ' -f1-3 /proc/loadavg)"
    continue
  fi
  echo "run $run: lag of the sound (ms) at the opening, at the fire, at the fire against the picture's clock; fire after (ms): $line; load: $(cut -d' ' -f1-3 /proc/loadavg)"
done

python3 - "${results[@]}" <<'EOF'
import statistics, sys
rows = [r.split() for r in sys.argv[1:]]
names = ["opening", "fire", "fire against the clock", "fire after"]
if len(rows[0]) == 1:
    names = ["the tune heard again after"]
if len(rows[0]) == 2:
    names = ["key to picture", "lag after the seek"]
print("median of %d: " % len(rows) + ", ".join("%s %+.0f ms" % (names[i], statistics.median(float(r[i]) for r in rows))
                                           for i in range(len(rows[0]))))
if len(rows[0]) == 2:
    print("worst: key to picture %.0f ms, lag after the seek %+.0f ms" %
          (max(float(r[0]) for r in rows), max((float(r[1]) for r in rows), key=abs)))
EOF
if [ -n "$check" ]; then
  python3 - "$check" "${results[@]}" <<'EOF'
import statistics, sys
rows = [r.split() for r in sys.argv[2:]]
# The opening's lag, or after a seek the lag there.
column = 1 if len(rows[0]) == 2 else 0
lag = statistics.median(float(r[column]) for r in rows)
if abs(lag) > float(sys.argv[1]):
    sys.exit("the sound is %+.0f ms off the picture, more than %s ms" % (lag, sys.argv[1]))
EOF
fi

#!/usr/bin/env bash
# Measures, from outside, how far the heard tune is from the picture in a live program:
# the program runs on a private Xvfb with its sound on a private sound server whose sink
# plays into a FIFO on the system's clock (a pipe sink), ffmpeg records the screen and a
# reader that is no client of the server records what the sink plays (its FIFO), both on
# the wall clock. For
# each run it prints the lag of the sound (positive: heard late) at the opening (the
# presents screen's first frame, tune position 0) and, unless --opening-only, at the start
# of the fire (the words' last frame gives way to it at show time 111.40 s of the virtual
# clock); then the lag at the fire against the picture's own clock (the fire's place in
# the tune is taken where the screen shows it, counted from the opening: the parts' own
# timing, which moves the fire by up to a frame per part, is left out, leaving what sound
# and clock drifted apart); the time from the opening to the fire on the screen; then the
# medians.
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
# The sound world may move: --server pipewire runs the private server as PipeWire with its
# PulseAudio service and its session manager (pipewire, pipewire-pulse, wireplumber, on a
# private D-Bus) instead of PulseAudio; --second-client KIND@SECONDS has another client
# connect to it SECONDS after the program starts (negative: before it, at most 4 s): a
# recorder of the sink's monitor (recorder) or a player of silence (player);
# --restart-server SECONDS stops the server that long after the program starts and starts
# it again a second later, and the run then prints how long after the server's return the
# tune is heard again at its usual level, the lag at the fire, and the player's processor
# time while the server was away (percent of one core).
#
#   scripts/measure-sync.sh [--runs N] [--opening-only | --seek | --burst | --step-space | --restart-server SECONDS]
#                           [--server pulseaudio|pipewire] [--second-client recorder|player@SECONDS]
#                           [--check MS] sdl|x|page [BUILD_DIR]
#
# sdl is tarqle-sdl; x is tarqle-x with the menu's PulseAudio entry, 16-bit stereo at
# 44100 Hz, pixel size 2; page is the browser page (BUILD_DIR/web, from
# scripts/build-web.sh) in Chromium with a window, started with Enter. With --check the
# script fails when the median lag at the opening (after a seek: there) is more than MS
# milliseconds either way, and skips (status 77), saying why, where it cannot run.
# TARQLE_SYNC_KEEP=1 keeps the last run's recordings in the work folder it names;
# TARQLE_SYNC_PAGE_READY sets the seconds the page is given to load before Enter (default 8).
#
# The tune's own place of each cue is found by matching the recording with the offline
# mix (tarqle-mixdown) of the same tune, so neither the tune's lead-in nor its loudness
# counts (scripts/sync_analysis.py); the sink's FIFO is read, each piece with its time of
# arrival, by scripts/sync_record.py. Needs Xvfb, pulseaudio (or pipewire, pipewire-pulse,
# wireplumber and dbus-daemon), pactl, parec, pacat, ffmpeg, ffprobe and python3
# (scripts/setup-deps.sh), and for the page Chromium and xdotool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts=$(pwd)/scripts
usage="usage: scripts/measure-sync.sh [--runs N] [--opening-only | --seek | --burst | --step-space | --restart-server SECONDS] [--server pulseaudio|pipewire] [--second-client recorder|player@SECONDS] [--check MS] sdl|x|page [BUILD_DIR]"

runs=5
mode=whole
burst=0
check=
server=pulseaudio
second=
restart_at=
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --opening-only) mode=opening; shift ;;
    --seek) mode=seek; shift ;;
    --burst) mode=seek; burst=1; shift ;;
    --step-space) mode=step; shift ;;
    --restart-server) mode=restart; restart_at=$2; shift 2 ;;
    --server) server=$2; shift 2 ;;
    --second-client) second=$2; shift 2 ;;
    --check) check=$2; shift 2 ;;
    *) break ;;
  esac
done
program=${1:?$usage}
build=$(cd "${2:-build}" && pwd)
case $program in sdl | x | page) ;; *) echo "$usage" >&2; exit 2 ;; esac
case $server in pulseaudio | pipewire) ;; *) echo "$usage" >&2; exit 2 ;; esac
second_kind=${second%@*} second_at=${second#*@}
if [ -n "$second" ]; then
  case $second_kind in recorder | player) ;; *) echo "$usage" >&2; exit 2 ;; esac
  python3 -c "import sys; sys.exit(not -4 <= float(sys.argv[1]) <= 100)" "$second_at" || { echo "$usage" >&2; exit 2; }
fi
[ "$mode" != whole ] && [ "$mode" != opening ] && [ "$mode" != restart ] && [ "$program" = x ] &&
  { echo "tarqle-x has no keys to seek with" >&2; exit 2; }

skip() {
  echo "skipped: $1"
  exit 77
}
tools=(Xvfb xdpyinfo pactl parec pacat ffmpeg ffprobe python3)
case $server in
  pulseaudio) tools+=(pulseaudio) ;;
  pipewire) tools+=(pipewire pipewire-pulse wireplumber dbus-daemon) ;;
esac
[ "$program" = page ] && tools+=(chromium xdotool)
[ "$mode" = seek ] || [ "$mode" = step ] && tools+=(xdotool)
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
if [ "$mode" = opening ]; then record_seconds=6; else record_seconds=116; fi
# A seek's key is pressed this long after the program starts (the presents screen shows),
# and the recording goes on 6 s after it.
key_after=9
[ "$program" = page ] && key_after=$((key_after + 14))
[ "$mode" = seek ] || [ "$mode" = step ] && record_seconds=$((key_after + 6))
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
server_pids=()
cleanup() {
  local p
  for p in "${pids[@]}" "${server_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}" "${server_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null
  [ -n "${TARQLE_SYNC_KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

# The sound server: only the pipe sink and a socket of its own, where both servers put
# their PulseAudio socket.
export XDG_RUNTIME_DIR=$work HOME=$work PULSE_SERVER=unix:$work/pulse/native
mkdir -p "$work/pulse"
if [ "$server" = pipewire ]; then
  # The session manager wants a session bus; a private one, which outlives restarts.
  bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
  bus_pid=${bus##*$'\n'}
fi
start_server() {
  case $server in
    pulseaudio)
      pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=file:"$work/server.log" \
        -L "module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" \
        -L "module-pipe-sink $sink use_system_clock_for_timing=yes" \
        -L "module-always-sink" &
      server_pids=($!)
      ;;
    pipewire)
      pipewire >>"$work/server.log" 2>&1 &
      server_pids=($!)
      wireplumber >>"$work/server.log" 2>&1 &
      server_pids+=($!)
      pipewire-pulse >>"$work/server.log" 2>&1 &
      server_pids+=($!)
      ;;
  esac
  # A busy machine may take seconds to bring a server up.
  for _ in $(seq 500); do pactl info >/dev/null 2>&1 && break; sleep 0.02; done
  if [ "$server" = pipewire ]; then
    for _ in $(seq 100); do pactl load-module module-pipe-sink $sink >/dev/null 2>&1 && break; sleep 0.05; done
  fi
  for _ in $(seq 250); do pactl set-default-sink sync 2>/dev/null && return 0; sleep 0.02; done
  return 1
}
stop_server() {
  local p
  for p in "${server_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${server_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  server_pids=()
}
sink="sink_name=sync file=$work/sink.fifo format=s16le rate=44100 channels=1"
start_server || skip "the $server server does not start here"
# What the sink plays, for the whole of the script's runs.
python3 "$scripts/sync_record.py" "$work/sink.fifo" "$work/sink" &
pids+=($!)

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
if [ "$mode" = seek ]; then
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

# The second client, until the run ends: a recorder of the sink's monitor, or a player of
# silence.
second_client() {
  case $second_kind in
    recorder) parec --device=sync.monitor --latency-msec=20 >/dev/null & ;;
    player) pacat --latency-msec=20 </dev/zero & ;;
  esac
  clients+=($!)
  pids+=($!)
}

# Sleeps until SECONDS after the program's start (t0, in seconds of the wall clock).
sleep_until() {
  sleep "$(python3 -c "import sys, time; print(max(0, float(sys.argv[1]) + float(sys.argv[2]) - time.time()))" "$t0" "$1")"
}

# The player process's processor time so far, in clock ticks.
player_ticks() {
  local main player
  main=$(pgrep -o -x "tarqle-$program" || true)
  player=$(pgrep -o -P "${main:-0}" || true)
  [ -n "$player" ] && awk '{ print $14 + $15 }' "/proc/$player/stat" 2>/dev/null || echo 0
}

port=
if [ "$program" = page ]; then
  port=$((20000 + RANDOM % 20000))
  (cd "$build/web" && exec python3 -m http.server --bind 127.0.0.1 "$port" >/dev/null 2>&1) &
  pids+=($!)
fi

results=()
for run in $(seq "$runs"); do
  rm -f "$work"/vid.*
  ffmpeg -nostdin -hide_banner -loglevel error -thread_queue_size 4096 -f x11grab -framerate 100 -draw_mouse 0 \
    -video_size 960x720 -i "$display" -copyts -vf scale=32:24,format=gray -c:v rawvideo -y "$work/vid.mkv" &
  screen_recorder=$!
  pids+=($screen_recorder)
  clients=()
  # The program starts 4 s from now (at t0); a second client due before it comes first.
  t0=$(python3 -c "import time; print(time.time() + 4)")
  second_due=1
  if [ -n "$second" ] && python3 -c "import sys; sys.exit(float(sys.argv[1]) >= 0)" "$second_at"; then
    sleep_until "$second_at"
    second_client
    second_due=0
  fi
  sleep_until 0
  # A session of its own, so the whole program (a pipeline, the player, the browser's
  # processes) is ended together.
  setsid bash -c "$(declare -f start_program); $(declare -p program build display work port seed 2>/dev/null); start_program" &
  show=$!
  pids+=($show)
  if [ -n "$second" ] && [ "$second_due" = 1 ]; then
    sleep_until "$second_at"
    second_client
  fi
  key=0 goal=0 key_ms=0 down_ms=0 back_ms=0 cpu=
  case $mode in
    seek | step)
      sleep_until "$key_after"
      key=${seek_keys[$(((run - 1) % ${#seek_keys[@]}))]}
      goal=${seek_goals[$(((run - 1) % ${#seek_keys[@]}))]}
      [ "$program" = sdl ] && DISPLAY=$display xdotool search --sync --name '^tarqle' windowfocus --sync >/dev/null 2>&1
      if [ "$mode" = step ]; then
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
      sleep_until "$record_seconds"
      ;;
    restart)
      sleep_until "$restart_at"
      ticks=$(player_ticks)
      down_ms=$(date +%s%3N)
      stop_server
      sleep 1
      start_server || echo "the server did not come back" >&2
      back_ms=$(date +%s%3N)
      cpu=$(python3 -c "import sys; t, b, d, hz = map(float, sys.argv[1:]); print('%.1f' % (100 * t / hz / ((b - d) / 1000)))" \
        "$(($(player_ticks) - ticks))" "$back_ms" "$down_ms" "$(getconf CLK_TCK)")
      sleep_until "$record_seconds"
      ;;
    *) sleep_until "$record_seconds" ;;
  esac
  kill -INT "$screen_recorder" "${clients[@]}" 2>/dev/null || true
  wait "$screen_recorder" "${clients[@]}" 2>/dev/null || true
  kill -TERM -- "-$show" 2>/dev/null || true
  wait "$show" 2>/dev/null || true

  ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 "$work/vid.mkv" >"$work/vid.pts"
  ffmpeg -nostdin -v fatal -i "$work/vid.mkv" -fps_mode passthrough -f rawvideo -y "$work/vid.raw"
  line=$(python3 "$scripts/sync_analysis.py" "$work" "$mode" "$fire_cue" "$key_ms" "$goal" "$down_ms" "$back_ms")
  [ -n "$cpu" ] && line="$line $cpu"
  results+=("$line")
  load="load: $(cut -d' ' -f1-3 /proc/loadavg)"
  case $mode in
    step) echo "run $run: Space, then . and Space: the tune heard again after (ms): $line; $load" ;;
    seek) echo "run $run: key $key (show time $goal ms)$([ "$burst" = 1 ] && echo ", the last of ten"): from the key to the part's first frame (ms), lag of the sound there (ms): $line; $load" ;;
    restart) echo "run $run: the server away for 1 s from $restart_at s: the tune heard again after its return (ms), lag at the fire (ms), the player's processor time while away (%): $line; $load" ;;
    *) echo "run $run: lag of the sound (ms) at the opening, at the fire, at the fire against the picture's clock; fire after (ms): $line; $load" ;;
  esac
done

python3 - "$mode" "${results[@]}" <<'EOF'
import statistics, sys
mode, rows = sys.argv[1], [r.split() for r in sys.argv[2:]]
names = {
    "opening": ["opening"],
    "whole": ["opening", "fire", "fire against the clock", "fire after"],
    "step": ["the tune heard again after"],
    "seek": ["key to picture", "lag after the seek"],
    "restart": ["heard again after the server's return", "fire", "player's processor time while away (%)"],
}[mode]
print("median of %d: " % len(rows) + ", ".join("%s %+.0f" % (names[i], statistics.median(float(r[i]) for r in rows))
                                           for i in range(len(names))))
if mode == "seek":
    print("worst: key to picture %.0f ms, lag after the seek %+.0f ms" %
          (max(float(r[0]) for r in rows), max((float(r[1]) for r in rows), key=abs)))
EOF
if [ -n "$check" ]; then
  python3 - "$check" "$mode" "${results[@]}" <<'EOF'
import statistics, sys
limit, mode, rows = float(sys.argv[1]), sys.argv[2], [r.split() for r in sys.argv[3:]]
# The opening's lag, or after a seek the lag there.
column = 1 if mode == "seek" else 0
lag = statistics.median(float(r[column]) for r in rows)
if abs(lag) > limit:
    sys.exit("the sound is %+.0f ms off the picture, more than %s ms" % (lag, sys.argv[1]))
EOF
fi

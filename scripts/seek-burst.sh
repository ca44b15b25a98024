#!/usr/bin/env bash
# Ten seeks in one second in tarqle-sdl --gentle, the screen recorded and checked: the
# program runs on a private Xvfb at pixel size 1, from the blobs on, and Right is pressed
# ten times, 100 ms apart (each seek 5 s on: a cut of the whole picture, and the show's
# clock 5 s on, which must not free the gentle picture's budgets); ffmpeg records its window
# losslessly at 60 frames a second, and tarqle-flash-check reads the recording. Exits with
# the checker's status (0: no failing window), or 77, saying why, where it cannot run.
#
#   scripts/seek-burst.sh [--plain] [BUILD_DIR]
#
# --plain runs without --gentle, to see what the burst shows there. TARQLE_BURST_KEEP=1
# keeps the recording in the work folder it names.
set -euo pipefail
cd "$(dirname "$0")/.."
gentle=--gentle
[ "${1:-}" = --plain ] && { gentle=; shift; }
build=$(cd "${1:-build}" && pwd)

skip() {
  echo "skipped: $1"
  exit 77
}
for tool in Xvfb xdpyinfo ffmpeg xdotool; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup-deps.sh installs it)"
done
for program in tarqle-sdl tarqle-flash-check; do
  [ -x "$build/$program" ] || skip "no $program in $build"
done

work=$(mktemp -d /tmp/tarqle-burst.XXXXXX)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  [ -n "${TARQLE_BURST_KEEP:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

# The X server: the window at the top left corner without a window manager.
Xvfb -displayfd 3 -screen 0 320x240x24 -br -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=:$(head -n 1 "$work/display")
for _ in $(seq 100); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo -display "$display" >/dev/null 2>&1 || skip "Xvfb does not start here"

(cd "$build" && DISPLAY=$display SDL_VIDEODRIVER=x11 exec ./tarqle-sdl --scale 1 --no-music $gentle --start blobs \
  >"$work/out.txt" 2>&1) &
pids+=($!)
if ! DISPLAY=$display timeout 30 xdotool search --sync --name '^tarqle' windowfocus --sync >/dev/null 2>&1; then
  echo "tarqle-sdl showed no window within 30 s:"
  cat "$work/out.txt"
  exit 1
fi
sleep 1
ffmpeg -nostdin -hide_banner -loglevel error -f x11grab -framerate 60 -draw_mouse 0 -video_size 320x240 \
  -i "$display" -t 6 -c:v ffv1 "$work/burst.mkv" &
recorder=$!
pids+=($recorder)
# Two seconds of the blobs, then the ten seeks.
sleep 2
DISPLAY=$display xdotool key --delay 100 Right Right Right Right Right Right Right Right Right Right
wait "$recorder" || skip "ffmpeg could not record the screen"
"$build/tarqle-flash-check" "$work/burst.mkv"

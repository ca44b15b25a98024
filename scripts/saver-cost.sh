#!/usr/bin/env bash
# Measures tarqle-saver on private X servers of 1920 x 1080 and 3840 x 2160: its processor
# time over a whole show on the root window (/usr/bin/time, as a share of one core, with
# the load average) and the X server's over the same time (it enlarges the picture), then
# the saver's resident memory and open files over many rounds of the show on the virtual
# clock (tarqle-saver-virtual in a window of its own). Needs Xvfb and strace
# (scripts/setup-deps.sh). SHOW_SECONDS (default 150), ROUNDS (default 100) and SIZES
# (default "1920x1080 3840x2160") change the lengths and the screens.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${TARQLE_BUILD_DIR:-build}")
show_seconds=${SHOW_SECONDS:-150}
rounds=${ROUNDS:-100}
sizes=${SIZES:-1920x1080 3840x2160}
cmake --build "$build" -j2 --target tarqle-saver tarqle-saver-virtual >/dev/null

work=$(mktemp -d)
xvfb=""
tracer=""
cleanup() {
  [ -z "$tracer" ] || kill "$tracer" 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
ln -s "$build/grafika" "$build/music" "$work/"
cd "$work"

# Starts a private Xvfb with a screen of size $1 and sets DISPLAY to it.
start_server() {
  rm -f display
  Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 100); do [ -s display ] && break; sleep 0.1; done
  export DISPLAY=":$(cat display)"
}

# The processor time (user + system, in clock ticks) process $1 has used so far.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

for size in $sizes; do
  start_server "$size"
  echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  server_before=$(ticks "$xvfb")
  /usr/bin/time -f "%U %S %e" -o time.txt timeout -s TERM "$show_seconds" "$build/tarqle-saver" -root || true
  server_after=$(ticks "$xvfb")
  read -r user system elapsed < <(tail -n 1 time.txt)
  echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
  awk -v size="$size" -v u="$user" -v s="$system" -v e="$elapsed" -v x=$((server_after - server_before)) \
    -v hz="$(getconf CLK_TCK)" 'BEGIN {
    printf "root window %s, %.1f s: saver user %.2f s, system %.2f s: %.2f %% of one core; X server %.2f %%\n",
      size, e, u, s, 100 * (u + s) / e, 100 * x / hz / e }'
  kill "$xvfb"
  wait "$xvfb" 2>/dev/null || true
  xvfb=""
done

start_server "${sizes%% *}"
# Every round starts by loading the presents screen's picture: the opens of that file count
# the rounds. Resident memory (the kernel's count, exact to some dozens of pages), its
# peak and the open files are read whenever a round begins.
strace --seccomp-bpf -f -qq -e trace=openat -e signal=none -o opens.txt "$build/tarqle-saver-virtual" &
tracer=$!
saver=""
for _ in $(seq 100); do saver=$(pgrep -P "$tracer" -x tarqle-saver-vi || true); [ -n "$saver" ] && break; sleep 0.1; done
[ -n "$saver" ] || { echo "the saver did not start" >&2; exit 1; }
seen=0
while [ "$seen" -le "$rounds" ]; do
  sleep 0.05
  now=$(grep -c 'prese/presents.pcx' opens.txt || true)
  [ "$now" -gt "$seen" ] || continue
  seen=$now
  resident=$(awk '/^VmRSS/ {print $2}' "/proc/$saver/status")
  peak=$(awk '/^VmHWM/ {print $2}' "/proc/$saver/status")
  files=$(find "/proc/$saver/fd" -mindepth 1 | wc -l)
  case $seen in 1 | 2 | 3 | 5 | 10 | 25 | 50 | 75 | 100 | "$rounds") echo "round $seen: resident $resident kB (peak $peak kB), open files $files" ;; esac
done
kill -TERM "$saver"

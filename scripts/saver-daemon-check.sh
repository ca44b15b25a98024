#!/usr/bin/env bash
# The installed screen saver under the X11 screen saver daemon, checked by hand (never in
# CI: it installs the package). Makes the README's package and installs it (skipped with
# --installed), then, as an ordinary user (tarqle-check, made when missing) on a private
# Xvfb of 1920 x 1080, starts the daemon with our saver as its one program, activates it,
# reads the screen back (our layout: the picture at scale 4, 1280 x 960, centred on black,
# many-coloured) and deactivates it; then the settings program is opened on our saver and
# its window saved as a picture, for a look at the list and the description; last, the
# daemon ends and no process of the user may be left.
# Usage, as root: scripts/saver-daemon-check.sh [--installed] [FOLDER]  (default
# /tmp/tarqle-saver-check; the log, the screen and the settings' picture go there)
set -euo pipefail
cd "$(dirname "$0")/.."
install=1
if [ "${1:-}" = --installed ]; then
  install=0
  shift
fi
out=${1:-/tmp/tarqle-saver-check}
user=tarqle-check
saver=/usr/libexec/xscreensaver/tarqle

if [ "$install" = 1 ]; then
  cmake -S . -B build-package -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DTARQLE_BENCH=OFF > /dev/null
  cmake --build build-package -j2 > /dev/null
  (cd build-package && cpack -G DEB > /dev/null)
  apt-get install -y --reinstall "./build-package/tarqle_1.0.0_$(dpkg --print-architecture).deb" > /dev/null
fi
[ -x "$saver" ] || { echo "FAIL: $saver is not installed"; exit 1; }
id "$user" > /dev/null 2>&1 || useradd -m "$user"
home=$(getent passwd "$user" | cut -d: -f6)
mkdir -p "$out"
chmod 755 "$out"

xvfb=""
daemon=""
cleanup() {
  [ -z "$daemon" ] || kill "$daemon" 2> /dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2> /dev/null || true
  wait 2> /dev/null || true
}
trap cleanup EXIT
rm -f "$out/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -ac 3> "$out/display" 2> /dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$out/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$out/display")"
# A command run as the user; setpriv and env become the program itself, so a program
# started in the background as "${as_user[@]}" PROGRAM & is $!.
as_user=(setpriv --reuid="$user" --regid="$user" --init-groups env HOME="$home" DISPLAY="$DISPLAY")

# Our saver as the daemon's one program, as a user chooses it in the settings.
cat > "$home/.xscreensaver" << 'EOF'
mode:		one
selected:	0
timeout:	1:00:00
lock:		False
splash:		False
fade:		False
unfade:		False
programs:	tarqle --root \n
EOF
chown "$user:" "$home/.xscreensaver"

failed=0
check() {
  if eval "$2"; then
    echo "ok: $1"
  else
    echo "FAIL: $1"
    failed=1
    return 1
  fi
}

"${as_user[@]}" xscreensaver --no-splash > "$out/daemon.log" 2>&1 &
daemon=$!
for _ in $(seq 100); do "${as_user[@]}" xscreensaver-command -time > /dev/null 2>&1 && break; sleep 0.1; done
"${as_user[@]}" xscreensaver-command -activate > /dev/null
for _ in $(seq 100); do pgrep -u "$user" -x tarqle > /dev/null && break; sleep 0.1; done
check "the daemon runs the installed saver as the user" "pgrep -u $user -x tarqle > /dev/null"
sleep 8 # past the load phase's black screens
import -window root "$out/screen.png"
mean() { convert "$out/screen.png" -crop "$1" +repage -format '%[fx:mean]' info:; }
check "black left and right of the picture" \
  "[ \"$(mean 320x1080+0+0)\" = 0 ] && [ \"$(mean 320x1080+1600+0)\" = 0 ]"
check "black above and below it" "[ \"$(mean 1280x60+320+0)\" = 0 ] && [ \"$(mean 1280x60+320+1020)\" = 0 ]"
colours=$(convert "$out/screen.png" -crop 1280x960+320+60 +repage -format '%k' info:)
check "the show in the middle ($colours colours)" "[ $colours -gt 16 ]"
"${as_user[@]}" xscreensaver-command -deactivate > /dev/null
for _ in $(seq 50); do pgrep -u "$user" -x tarqle > /dev/null || break; sleep 0.1; done
check "deactivated, the saver is gone" "! pgrep -u $user -x tarqle > /dev/null"

# The settings program on our saver (its preview runs the saver in a small window), its
# window kept as a picture; closed, it leaves no saver behind either.
"${as_user[@]}" xscreensaver-settings > "$out/settings.log" 2>&1 &
settings=$!
sleep 8
import -window root "$out/settings.png"
# Killed outright, as a crash would end it: its windows go with its connection, and the
# preview's saver must end by itself.
kill -KILL "$settings" 2> /dev/null || true
wait "$settings" 2> /dev/null || true
check "the settings program ran" "[ -s \"$out/settings.png\" ]"

"${as_user[@]}" xscreensaver-command -exit > /dev/null || true
wait "$daemon" 2> /dev/null || true
daemon=""
# Ended ones whose parent went first may wait as zombies for a container's init to reap them.
running() { ps -u "$user" -o stat= | grep -vc '^Z' || true; }
for _ in $(seq 100); do [ "$(running)" = 0 ] && break; sleep 0.1; done
check "no process of the user is left running" "[ \"\$(running)\" = 0 ]" || ps -u "$user" -o pid,stat,args
echo "the screen: $out/screen.png; the settings: $out/settings.png"
exit "$failed"

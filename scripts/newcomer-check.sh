#!/usr/bin/env bash
# A newcomer's first steps, checked by hand (never in CI): a fresh Debian 12 made with
# debootstrap, the committed checkout copied in, and the README's two commands run there.
# Usage, as root: scripts/newcomer-check.sh [FOLDER]   (default /tmp/tarqle-newcomer; kept
# afterwards, so a second run skips the download; the log is FOLDER.log)
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-/tmp/tarqle-newcomer}
# The mirror that apt already uses here.
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}

command -v debootstrap > /dev/null || apt-get install -y --no-install-recommends debootstrap
if [ ! -e "$root/etc/debian_version" ]; then
    debootstrap bookworm "$root" "$mirror"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

rm -rf "$root/home/newcomer/tarqle"
mkdir -p "$root/home/newcomer/tarqle"
git archive HEAD | tar -x -C "$root/home/newcomer/tarqle"

mounts=(proc sys dev dev/pts)
cleanup() {
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "$root/${mounts[i]}" 2> /dev/null || true
    done
}
trap cleanup EXIT
mount -t proc proc "$root/proc"
mount -t sysfs sys "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"

# The README's two commands, as written there; the first runs the show with no input
# here, so the program stops at its first question (status 1) instead of playing.
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c 'cd /home/newcomer/tarqle &&
      { scripts/setup-deps.sh && scripts/build.sh && cd build && ./tarqle-x < /dev/null; echo "first command: status $?"; } &&
      cd /home/newcomer/tarqle &&
      scripts/setup-deps.sh && scripts/build.sh && ctest --test-dir build --output-on-failure -j2' 2>&1 |
    tee "$root.log"

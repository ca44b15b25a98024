#!/usr/bin/env bash
# A newcomer's first steps, checked by hand (never in CI): a fresh Debian 12 made with
# debootstrap, the committed checkout copied in, and the README's two commands run there;
# then the README's package made there and installed in a second, clean Debian 12 root,
# where tarqle-render, run from an empty folder, must find the installed data and write
# the same frame index as in the build folder.
# Usage, as root: scripts/newcomer-check.sh [FOLDER]   (default /tmp/tarqle-newcomer; both
# roots, FOLDER and FOLDER-clean, are kept, so a second run skips the downloads; the log
# is FOLDER.log)
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

clean=$root-clean
if [ ! -e "$clean/etc/debian_version" ]; then
    debootstrap bookworm "$clean" "$mirror"
fi
cp /etc/resolv.conf "$clean/etc/resolv.conf"

mounts=(proc sys dev dev/pts dev/shm)
cleanup() {
    for r in "$root" "$clean"; do
        for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
            umount "$r/${mounts[i]}" 2> /dev/null || true
        done
    done
}
trap cleanup EXIT
for r in "$root" "$clean"; do
    mount -t proc proc "$r/proc"
    mount -t sysfs sys "$r/sys"
    mount --bind /dev "$r/dev"
    mount --bind /dev/pts "$r/dev/pts"
    mount --bind /dev/shm "$r/dev/shm"
done
in_root() {
    chroot "$1" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        DEBIAN_FRONTEND=noninteractive bash -c "$2"
}

# The README's two commands, read from it as they stand (the first two sh blocks); the
# first runs the show with no input here, so the program stops at its first question
# (status 1) instead of playing.
readme_command() {
    awk -v want="$1" '/^```sh$/ {n++; inside = 1; next} /^```/ {inside = 0} inside && n == want' README.md
}
first=$(readme_command 1)
second=$(readme_command 2)
[ -n "$first" ] && [ -n "$second" ] || { echo "the README's two commands were not found" >&2; exit 1; }
echo "first command: $first" | tee "$root.log"
echo "second command: $second" | tee -a "$root.log"
started=$(date +%s)
status=0
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /home/newcomer/tarqle && { $first < /dev/null; echo \"first command: status \$?\"; } &&
      cd /home/newcomer/tarqle && $second" 2>&1 | tee -a "$root.log" || status=$?
echo "second command: status $status after $(( $(date +%s) - started )) s" | tee -a "$root.log"
[ "$status" -eq 0 ] || exit "$status"

# The package, as the README makes it, and the build folder's silent headless show.
in_root "$root" 'cd /home/newcomer/tarqle &&
    cmake -S . -B build-package -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DTARQLE_BENCH=OFF &&
    cmake --build build-package -j2 && (cd build-package && rm -f tarqle_*.deb && cpack -G DEB) &&
    cd build && printf "0\n" | ./tarqle-render > /dev/null' 2>&1 | tee -a "$root.log"
rm -rf "$clean/tmp/package" && mkdir -p "$clean/tmp/package"
cp "$root"/home/newcomer/tarqle/build-package/tarqle_*.deb "$clean/tmp/package/"
in_root "$clean" 'apt-get update && apt-get install -y /tmp/package/tarqle_*.deb &&
    rm -rf /tmp/empty && mkdir /tmp/empty && cd /tmp/empty && printf "0\n" | tarqle-render > /dev/null &&
    tarqle-render --video /tmp/video.mkv --until 1 > /dev/null && ls -l /tmp/video.mkv &&
    ls /usr/share/applications/tarqle-sdl.desktop /usr/share/icons/hicolor/128x128/apps/tarqle-sdl.png &&
    tarqle-sdl --help' 2>&1 | tee -a "$root.log"
if cmp "$root/home/newcomer/tarqle/build/frames/index.tsv" "$clean/tmp/empty/frames/index.tsv"; then
    echo "installed package: same frame index from an empty folder" | tee -a "$root.log"
else
    echo "installed package: the frame index differs" | tee -a "$root.log"
    exit 1
fi

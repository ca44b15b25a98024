#!/usr/bin/env bash
# Remakes the README's screenshots of every part from frames of the headless show.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
docs=$(pwd)/docs
# Frame numbers of the silent show on the virtual clock, one moment inside each part.
shots=(120:presents 400:intro 620:blobs 760:flicker 1200:mosaic 1300:slides 1700:words 1950:fire 2200:whiteout
       2260:closing)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$build/grafika" "$work/grafika"
ln -s "$build/music" "$work/music"
list=$(printf '%s\n' "${shots[@]}" | cut -d: -f1 | paste -sd,)
(cd "$work" && printf '0\n' | "$build/tarqle-render" --png "$list" > /dev/null)
for shot in "${shots[@]}"; do
    frame=${shot%%:*}
    cp "$work/frames/$(printf '%06d' "$frame").png" "$docs/show-${shot#*:}.png"
done
echo "wrote ${#shots[@]} screenshots to $docs"

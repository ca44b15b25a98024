#!/usr/bin/env bash
# Remakes the README's animated preview, docs/show-preview.webp: two seconds of every part,
# taken from the headless show's frames by the video's own rule (frame k of F per second
# shows the last frame presented at or before k / F on the virtual clock).
# Usage: scripts/preview.sh [BUILD_DIR]   (default: build; needs ImageMagick with WebP)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
out=$(pwd)/docs/show-preview.webp
fps=12
seconds=2
# Show time in ms where each part's two seconds begin (presents, intro, blobs, flicker,
# mosaic, slides, words, fire, whiteout, closing).
starts=(5500 22500 36500 46000 72000 78500 100500 117000 132500 137000)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$build/grafika" "$work/grafika"
ln -s "$build/music" "$work/music"
(cd "$work" && printf '0\n' | "$build/tarqle-render" > /dev/null)
# The presented frame shown at each sampled time, in order.
frames=$(for start in "${starts[@]}"; do
    awk -v start="$start" -v fps="$fps" -v n=$((fps * seconds)) '
        { number[NR] = $1; time[NR] = $2; count = NR }
        END {
            row = 1
            for (k = 0; k < n; ++k) {
                t = start + k * 1000 / fps
                while (row < count && time[row + 1] <= t) ++row
                print number[row]
            }
        }' "$work/frames/index.tsv"
done)
list=$(echo "$frames" | sort -n | uniq | paste -sd,)
(cd "$work" && printf '0\n' | "$build/tarqle-render" --png "$list" > /dev/null)
files=()
for f in $frames; do files+=("$work/frames/$(printf '%06d' "$f").png"); done
convert -delay "1x$fps" -loop 0 "${files[@]}" -define webp:method=6 -quality 70 "$out"
echo "wrote $out: $(stat -c %s "$out") bytes, ${#files[@]} frames"

#!/usr/bin/env bash
# Builds the show for web browsers into $TARQLE_BUILD_DIR/web (default build/web): the two
# programs as WebAssembly, the page, the pictures and the soundtrack. Any static web server
# serves that folder (index.html plays the show, index.html?render its frame index).
# Needs what scripts/setup-deps.sh and scripts/setup-web-deps.sh install; installs nothing
# itself (the browser tests run it). The pictures and the soundtrack come from the native
# tools, built in $TARQLE_BUILD_DIR itself (reused when scripts/build.sh made it).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TARQLE_BUILD_DIR:-build}

for tool in emcc opusenc; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup-web-deps.sh" >&2; exit 1; }
done

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target demo_data tarqle-mixdown

# Debian's emcc runs its JavaScript tools with node, which finds their modules only here
# when the node on the PATH is not Debian's own.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
emcmake cmake -S . -B "$build/wasm" -G Ninja -DTARQLE_WEB=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/wasm" -j"$(nproc)"

# The soundtrack: the tune mixed by the music library's own mixer, as the video capture
# mixes it, then Opus in Ogg (about 1.9 MB for the whole tune). Made again only when the
# tune or the mixer changed.
tune=$build/music/tarqle.xm
ogg=$build/wasm/tarqle.ogg
if [ ! -f "$ogg" ] || [ "$tune" -nt "$ogg" ] || [ "$build/tarqle-mixdown" -nt "$ogg" ]; then
  "$build/tarqle-mixdown" "$build/wasm/tarqle.wav" "$tune"
  opusenc --quiet --bitrate 96 "$build/wasm/tarqle.wav" "$ogg.new"
  rm "$build/wasm/tarqle.wav"
  mv "$ogg.new" "$ogg"
fi

out=$build/web
rm -rf "$out"
mkdir -p "$out"
cp web/index.html web/page.js web/page.css "$out/"
for program in tarqle-web tarqle-web-render; do
  cp "$build/wasm/$program.js" "$build/wasm/$program.wasm" "$out/"
done
cp "$ogg" "$out/"
cp -r "$build/grafika" "$out/"

# files.json: what the page fetches, with sizes for its progress bar.
size() { stat -c %s "$1"; }
{
  printf '{\n  "programs": {"tarqle-web": %d, "tarqle-web-render": %d},\n' \
    "$(size "$out/tarqle-web.wasm")" "$(size "$out/tarqle-web-render.wasm")"
  printf '  "soundtrack": %d,\n  "data": [\n' "$(size "$out/tarqle.ogg")"
  (cd "$out" && find grafika -type f | LC_ALL=C sort) | {
    first=1
    while read -r path; do
      [ $first -eq 1 ] || printf ',\n'
      first=0
      printf '    {"path": "%s", "size": %d}' "$path" "$(size "$out/$path")"
    done
  }
  printf '\n  ]\n}\n'
} >"$out/files.json"
echo "The page is in $out ($(du -sb "$out" | cut -f1) bytes)."

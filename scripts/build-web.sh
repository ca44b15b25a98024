#!/usr/bin/env bash
# Builds the show for web browsers into $TARQLE_BUILD_DIR/web (default build/web): the two
# programs as WebAssembly, the page, the pictures and the tune, which the page mixes itself.
# Any static web server serves that folder (index.html plays the show, index.html?render
# its frame index). Needs what scripts/setup-deps.sh and scripts/setup-web-deps.sh install
# and fetch (the music library's source, in $TARQLE_WEB_DEPS_DIR, default build-web-deps);
# installs nothing itself (the browser tests run it). The pictures and the tune come from
# the native tools, built in $TARQLE_BUILD_DIR itself (reused when scripts/build.sh made it).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TARQLE_BUILD_DIR:-build}

command -v emcc >/dev/null || { echo "emcc is missing: run scripts/setup-web-deps.sh" >&2; exit 1; }
mikmod=${TARQLE_WEB_DEPS_DIR:-build-web-deps}/libmikmod/source
[ -f "$mikmod/include/mikmod.h" ] ||
  { echo "the music library's source is missing from $mikmod: run scripts/setup-web-deps.sh" >&2; exit 1; }
mikmod=$(cd "$mikmod" && pwd)

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target demo_data

# Debian's emcc runs its JavaScript tools with node, which finds their modules only here
# when the node on the PATH is not Debian's own.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
emcmake cmake -S . -B "$build/wasm" -G Ninja -DTARQLE_WEB=ON -DCMAKE_BUILD_TYPE=Release \
  -DTARQLE_WEB_MIKMOD_SOURCE="$mikmod" >/dev/null
cmake --build "$build/wasm" -j"$(nproc)"

out=$build/web
rm -rf "$out"
mkdir -p "$out"
cp web/index.html web/page.js web/page.css "$out/"
for program in tarqle-web tarqle-web-render; do
  cp "$build/wasm/$program.js" "$build/wasm/$program.wasm" "$out/"
done
cp -r "$build/grafika" "$out/"
mkdir "$out/music"
cp "$build/music/tarqle.xm" "$out/music/"

# Each file the page fetches also packed with gzip (the same bytes every time): a browser
# that can unpack a stream fetches these instead.
(cd "$out" && find tarqle-web.wasm tarqle-web-render.wasm music grafika -type f) | while read -r path; do
  gzip -9n <"$out/$path" >"$out/$path.gz"
done

# files.json: what the page fetches, each with its size and its packed size, for the
# progress bar.
size() { stat -c %s "$1"; }
entry() { printf '{"path": "%s", "size": %d, "packed": %d}' "$1" "$(size "$out/$1")" "$(size "$out/$1.gz")"; }
{
  printf '{\n  "programs": {"tarqle-web": %s, "tarqle-web-render": %s},\n' \
    "$(entry tarqle-web.wasm)" "$(entry tarqle-web-render.wasm)"
  printf '  "tune": %s,\n  "data": [\n' "$(entry music/tarqle.xm)"
  (cd "$out" && find grafika -type f -name '*.pcx' | LC_ALL=C sort) | {
    first=1
    while read -r path; do
      [ $first -eq 1 ] || printf ',\n'
      first=0
      printf '    %s' "$(entry "$path")"
    done
  }
  printf '\n  ]\n}\n'
} >"$out/files.json"
echo "The page is in $out ($(du -sb "$out" | cut -f1) bytes)."

#!/usr/bin/env bash
# The browser checks as CTest runs them: run.sh build|render|live|tune|missing|again|seek|gentle BUILD_DIR.
# build makes the page in BUILD_DIR/web; the others check it in Chromium against the
# native renderer (tune: tarqle-mixdown) of BUILD_DIR. Each skips (status 77), saying
# why, when a tool or the music library's source is missing.
set -euo pipefail
check=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
chromium=${TARQLE_CHROMIUM:-/usr/bin/chromium}

skip() {
  echo "skipped: $1 (scripts/setup-web-deps.sh installs it)"
  exit 77
}
command -v emcc >/dev/null || skip "emscripten is not installed"
command -v node >/dev/null || skip "Node is not installed"
[ -x "$chromium" ] || skip "Chromium is not installed"
(cd "$here/../.." && [ -f "${TARQLE_WEB_DEPS_DIR:-build-web-deps}/libmikmod/source/include/mikmod.h" ]) ||
  skip "the music library's source for the page is not there"

if [ "$check" = build ]; then
  TARQLE_BUILD_DIR=$build "$here/../../scripts/build-web.sh"
  exit
fi
[ -f "$build/web/index.html" ] || { echo "no page in $build/web: the web_build test makes it"; exit 1; }

# The native renderer's run, in a folder of its own: its frame index, and for the live
# check the frames of the first part as pictures; the seek check runs it there itself.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$build/grafika" "$work/grafika"
ln -s "$build/music" "$work/music"
case $check in
  render) (cd "$work" && printf '0\n' | "$build/tarqle-render" >/dev/null)
          reference=$work/frames/index.tsv ;;
  live)   (cd "$work" && printf '0\n' | "$build/tarqle-render" --png 0-200 >/dev/null)
          reference=$work/frames ;;
  tune)   "$build/tarqle-mixdown" "$work/tune.wav" "$build/music/tarqle.xm"
          reference=$work/tune.wav ;;
  seek)   ln -s "$build/tarqle-render" "$work/tarqle-render"
          reference=$work ;;
  gentle) reference=$build/tarqle-flash-check ;;
  *)      reference= ;;
esac
TARQLE_CHROMIUM=$chromium node "$here/browser_test.js" "$check" "$build/web" $reference

#!/usr/bin/env bash
# Installs the Debian packages the browser build and its tests need (the compiler, a
# browser to test in), and fetches Debian's source package of the music library, which
# scripts/build-web.sh builds for the page: unpacked into build-web-deps/libmikmod/source
# at the top of the checkout (or $TARQLE_WEB_DEPS_DIR/libmikmod/source), the same version
# as the native programs' library where that is installed. Safe to run again: a source
# already there of that version is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
deps=${TARQLE_WEB_DEPS_DIR:-build-web-deps}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

packages=(emscripten nodejs chromium dpkg-dev)

. scripts/install-missing.sh
install_missing "${packages[@]}"

version=$(dpkg-query -W -f='${Version}' "libmikmod3:$(dpkg --print-architecture)" 2>/dev/null || true)
dir=$deps/libmikmod
if [ -d "$dir/source" ] && [ -n "$version" ] && [ "$(cat "$dir/version" 2>/dev/null)" = "$version" ]; then
  exit 0
fi

# Source packages come from the lines of type deb-src: where the machine has none, the
# lines of Debian's own archive (the deb822 paragraphs that name its key, the plain lines
# of /etc/apt/sources.list) are given that type as well, in a list of their own.
if ! apt-get source --print-uris -qq libmikmod >/dev/null 2>&1; then
  shopt -s nullglob
  lists=$(mktemp -d)
  sources=(/etc/apt/sources.list.d/*.sources)
  [ ${#sources[@]} -eq 0 ] || awk 'BEGIN { RS = ""; ORS = "\n\n" }
       /Signed-By:[^\n]*debian-archive-keyring/ && /(^|\n)Types:[^\n]*deb/ && !/(^|\n)Types:[^\n]*deb-src/ {
         sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' \
    "${sources[@]}" >"$lists/tarqle-deb-src.sources"
  [ ! -f /etc/apt/sources.list ] || sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list >"$lists/tarqle-deb-src.list"
  for list in "$lists"/*; do
    [ ! -s "$list" ] || $sudo cp "$list" /etc/apt/sources.list.d/
  done
  rm -rf "$lists"
  $sudo apt-get update -qq
fi

rm -rf "$dir"
mkdir -p "$dir/fetch"
(
  cd "$dir/fetch"
  # The native library's own version where there is one, else the newest.
  apt-get source -qq "libmikmod${version:+=$version}" 2>/dev/null || apt-get source -qq libmikmod
)
mv "$dir"/fetch/libmikmod-*/ "$dir/source"
dpkg-parsechangelog -l "$dir/source/debian/changelog" -S Version >"$dir/version"
rm -rf "$dir/fetch"
echo "the music library's source for the page: $dir/source ($(cat "$dir/version"))"

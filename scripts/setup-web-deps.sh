#!/usr/bin/env bash
# Installs the Debian packages the browser build and its tests need (the compiler, the
# Opus encoder, a browser to test in); safe to run again.
set -euo pipefail

packages=(emscripten nodejs opus-tools chromium)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs the Debian packages the browser build and its tests need (the compiler, the
# Opus encoder, a browser to test in); safe to run again.
set -euo pipefail

packages=(emscripten nodejs opus-tools chromium)

. "$(dirname "$0")/install-missing.sh"
install_missing "${packages[@]}"

#!/usr/bin/env bash
# Rewrites the frame CRC lists of the scroll, fire and closing parts in tests/golden from
# the current build (run scripts/build.sh first), then shows what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TARQLE_BUILD_DIR:-build}
TARQLE_UPDATE_GOLDEN=1 "$build/words_fire_closing_golden_test"
git diff --stat -- tests/golden

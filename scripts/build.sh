#!/usr/bin/env bash
# Configures and builds everything (programs, pictures, tune, tests, benchmarks) in build/.
# Extra arguments go to CMake's configure step, e.g. -DTARQLE_SANITIZE=ON.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TARQLE_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j"$(nproc)"

#!/usr/bin/env bash
# Fuzzes the PCX decoder: run.sh SECONDS [libFuzzer options...]. Builds the target with
# clang into build/fuzz; inputs it finds go to build/fuzz/corpus, the seeds are only read.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
out=${TARQLE_BUILD_DIR:-build}/fuzz
mkdir -p "$out/corpus"
# The decoder's file loader names its data folder; the fuzzer decodes from memory and opens
# no file, so any folder does.
clang++ -std=c++20 -g -O1 -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -DTARQLE_DATA_DIR='"/nonexistent"' tests/fuzz/pcx_fuzz.cpp pcx/pcx.cpp core/data_path.cpp -o "$out/pcx_fuzz"
# Stdout is closed: the decoder's messages would drown the report. A picture decoded from
# at most a few kilobytes never needs more than a few megabytes.
"$out/pcx_fuzz" -max_total_time="$seconds" -close_fd_mask=1 -malloc_limit_mb=64 -artifact_prefix="$out/" \
  "$@" "$out/corpus" tests/fuzz/seeds

#!/usr/bin/env bash
# Builds the show for 32-bit x86 in both CPU baselines, i686-sse2 and i686 (x87, no SSE),
# in build-i386/<baseline>/; installs the 32-bit libraries, the compilers and the user-mode
# emulator first when they are missing. The pictures and the tune come from the host's
# own maker, built in build/ (TARQLE_HOST_BUILD_DIR) when it is not there yet.
# TARQLE_BUILD_DIR picks the folder; extra arguments go to CMake's configure steps.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TARQLE_BUILD_DIR:-build-i386}
host=${TARQLE_HOST_BUILD_DIR:-build}

packages=(
  g++-multilib qemu-user-static
  zlib1g-dev:i386 libpng-dev:i386 libx11-dev:i386 libxext-dev:i386 libmikmod-dev:i386
  libfreetype-dev:i386 libgtest-dev:i386 libbenchmark-dev:i386
  libavformat-dev:i386 libavcodec-dev:i386 libswscale-dev:i386 libswresample-dev:i386 libavutil-dev:i386
  libsdl2-dev:i386 libdrm-dev:i386 libpulse-dev:i386 libxrender-dev:i386
)
. scripts/install-missing.sh
install_missing "${packages[@]}"

if [ ! -x "$host/tarqle-make-data" ]; then
  cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$host" --target tarqle-make-data -j"$(nproc)"
fi
tool=$(realpath "$host/tarqle-make-data")

for baseline in i686-sse2 i686; do
  cmake -S . -B "$build/$baseline" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake -DTARQLE_I386_BASELINE="$baseline" -DTARQLE_DATA_TOOL="$tool" "$@"
  cmake --build "$build/$baseline" -j"$(nproc)"
done

#!/usr/bin/env bash
# Installs every Debian package the build, the programs and the tests need; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  zlib1g-dev libpng-dev
  libx11-dev libxext-dev
  libdrm-dev
  libmikmod-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libfreetype-dev fonts-dejavu-core
  xvfb x11-apps x11-utils xauth imagemagick
  sox valgrind procps file
  qemu-system-x86 busybox-static cpio kmod
  libsdl2-dev openbox weston xwayland libxrender-dev
  libpulse-dev pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus-daemon
  ffmpeg python3 xdotool xscreensaver
)

. "$(dirname "$0")/install-missing.sh"
install_missing "${packages[@]}"

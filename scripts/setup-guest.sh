#!/usr/bin/env bash
# Fetches what the console tests boot under QEMU: Debian's stock kernels for a 64-bit PC
# (amd64) and a 32-bit one (686, with Debian's 32-bit busybox), unpacked into
# build-guest/FLAVOUR/ at the top of the checkout (or $TARQLE_GUEST_DIR). Safe to run
# again: a flavour already there is kept. The tests only read this folder.
set -euo pipefail
cd "$(dirname "$0")/.."
export PATH=$PATH:/usr/sbin:/sbin
guests=${TARQLE_GUEST_DIR:-build-guest}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
. scripts/install-missing.sh
install_missing qemu-system-x86 busybox-static cpio kmod

updated=0
# Fetches a package of the architecture into the current folder; adds the architecture and
# its package lists first when this machine has not got them.
download() {
  apt-get download "$1:$2" 2>/dev/null && return
  if [ "$2" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$2"; then
    $sudo dpkg --add-architecture "$2"
  fi
  if [ $updated -eq 0 ]; then
    $sudo apt-get update -qq
    updated=1
  fi
  apt-get download "$1:$2"
}

for flavour in amd64 686; do
  case $flavour in
    amd64) arch=amd64 ;;
    686) arch=i386 ;;
  esac
  dir=$guests/$flavour
  ls "$dir"/kernel/boot/vmlinuz-* >/dev/null 2>&1 && continue
  rm -rf "$dir"
  mkdir -p "$dir/debs"
  (
    cd "$dir/debs"
    # The versioned image package that linux-image-FLAVOUR points at.
    download "linux-image-$flavour" "$arch"
    image=$(dpkg-deb -f "linux-image-${flavour}"_*.deb Depends | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' |
      grep -m1 "^linux-image-.*-$flavour\$")
    download "$image" "$arch"
    dpkg-deb -x "$image"_*.deb ../kernel.new
    if [ "$arch" != "$(dpkg --print-architecture)" ]; then
      download busybox-static "$arch"
      dpkg-deb -x busybox-static_*.deb ../kernel.new/busybox
    fi
    # The unpacked package has no module index; the guest's preparation reads one.
    kver=$(ls ../kernel.new/lib/modules)
    depmod -b ../kernel.new "$kver"
  )
  rm -rf "$dir/debs"
  mv "$dir/kernel.new" "$dir/kernel"
  echo "guest kernel for $flavour: $(ls "$dir"/kernel/boot/vmlinuz-*)"
done

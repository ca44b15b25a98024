#!/usr/bin/env bash
# Builds the guest for the console test: a stock Debian kernel (fetched once as a
# package, unpacked into a cache) and an initramfs holding busybox, the display
# modules, tarqle-vga and tarqle-render with their data, the test helper and the guest's
# script. FLAVOUR is amd64 (the default: a 64-bit PC, programs of a 64-bit build) or 686
# (a 32-bit PC, programs of a 32-bit build, and Debian's 32-bit busybox and kernel).
# TARQLE_GUEST_PROGRAMS names more programs of the build to put in the guest.
# Usage: prepare.sh BUILD_DIR OUT_DIR [FLAVOUR]   (writes OUT_DIR/vmlinuz and OUT_DIR/initrd.gz)
set -euo pipefail
export PATH=$PATH:/usr/sbin:/sbin
build=$(realpath "$1")
out=$(realpath -m "$2")
flavour=${3:-amd64}
here=$(dirname "$(realpath "$0")")
cache=$build/emulator-cache-$flavour
mkdir -p "$cache" "$out"
case $flavour in
  amd64) arch=amd64 ;;
  686) arch=i386 cpu=pentium2 ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac

# Fetches a package of the guest's architecture into the current folder; on a machine
# that has not got the architecture's package lists yet, adds them first.
download() {
  apt-get download "$1:$arch" 2>/dev/null && return
  if [ "$arch" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
  fi
  apt-get update -qq && apt-get download "$1:$arch"
}

# The kernel: the versioned image package that linux-image-FLAVOUR points at. Boots
# prepared at the same time share the cache, one at a time.
exec 9>"$cache/lock"
flock 9
if ! ls "$cache"/kernel/boot/vmlinuz-* >/dev/null 2>&1; then
  rm -rf "$cache/debs" "$cache/kernel"
  mkdir -p "$cache/debs"
  (
    cd "$cache/debs"
    download "linux-image-$flavour"
    image=$(dpkg-deb -f "linux-image-${flavour}"_*.deb Depends | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' |
      grep -m1 "^linux-image-.*-$flavour\$")
    download "$image"
    dpkg-deb -x "$image"_*.deb "$cache/kernel.new"
    if [ "$arch" != "$(dpkg --print-architecture)" ]; then
      download busybox-static
      dpkg-deb -x busybox-static_*.deb "$cache/kernel.new/busybox"
    fi
  ) >&2
  rm -rf "$cache/debs"
  mv "$cache/kernel.new" "$cache/kernel"
fi
flock -u 9
vmlinuz=$(ls "$cache"/kernel/boot/vmlinuz-* | head -n1)
kver=${vmlinuz##*/vmlinuz-}
cp "$vmlinuz" "$out/vmlinuz"

root=$out/root
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,modules,demo,fatal}
if [ -e "$cache/kernel/busybox/bin/busybox" ]; then
  cp "$cache/kernel/busybox/bin/busybox" "$root/bin/busybox"
else
  cp /bin/busybox "$root/bin/busybox"
fi

# The bochs display driver and what it needs, in loading order: its dependencies as the
# kernel's module index lists them (made here, as the unpacked package has none), last
# first. Which of them are built in differs between the kernel flavours.
modules=$cache/kernel/lib/modules/$kver
[ -e "$modules/modules.dep" ] || depmod -b "$cache/kernel" "$kver"
line=$(grep -m1 '/bochs\.ko[^:]*:' "$modules/modules.dep") ||
  { echo "module bochs missing from kernel $kver" >&2; exit 1; }
deps=(${line#*:})
for ((i = ${#deps[@]} - 1; i >= 0; i--)); do order+=("${deps[i]}"); done
order+=("${line%%:*}")
for f in "${order[@]}"; do
  cp "$modules/$f" "$root/modules/"
  echo "${f##*/}" >>"$root/modules/order"
done

# The programs with the shared libraries they load, at the same paths as here; those of
# a 32-bit build are listed by the 32-bit loader under the user-mode emulator, as the
# guest's CPU: the loader picks a library's SSE2 form on a CPU that has SSE2, and the
# Pentium II-class guest looks for the plain one.
libraries() {
  if [ "$arch" = i386 ] && [ "$(dpkg --print-architecture)" != i386 ]; then
    qemu-i386-static -cpu "$cpu" -L / /lib/ld-linux.so.2 --list "$1"
  else
    ldd "$1"
  fi
}
for prog in tarqle-vga tarqle-render vga_probe ${TARQLE_GUEST_PROGRAMS:-}; do
  cp "$build/$prog" "$root/bin/"
  for lib in $(libraries "$build/$prog" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
done

# The show's data; /fatal stays empty so that the first picture is missing there.
for data in grafika music; do
  [ -d "$build/$data" ] && cp -rL "$build/$data" "$root/demo/"
done

cp "$here/init" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$out/initrd.gz"
rm -rf "$root"

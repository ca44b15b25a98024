#!/usr/bin/env bash
# Builds the guest for the console test: a stock Debian kernel (fetched once as a
# package, unpacked into a cache) and an initramfs holding busybox, the display
# modules, tarqle-vga and its data, the test helper and the guest's script.
# Usage: prepare.sh BUILD_DIR OUT_DIR   (writes OUT_DIR/vmlinuz and OUT_DIR/initrd.gz)
set -euo pipefail
build=$(realpath "$1")
out=$(realpath -m "$2")
here=$(dirname "$(realpath "$0")")
cache=$build/emulator-cache
mkdir -p "$cache" "$out"

# The kernel: the versioned image package that linux-image-amd64 points at. Boots
# prepared at the same time share the cache, one at a time.
exec 9>"$cache/lock"
flock 9
if ! ls "$cache"/kernel/boot/vmlinuz-* >/dev/null 2>&1; then
  rm -rf "$cache/debs" "$cache/kernel"
  mkdir -p "$cache/debs"
  (
    cd "$cache/debs"
    apt-get download linux-image-amd64 2>/dev/null || { apt-get update -qq && apt-get download linux-image-amd64; }
    image=$(dpkg-deb -f linux-image-amd64_*.deb Depends | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' |
      grep -m1 '^linux-image-.*-amd64$')
    apt-get download "$image"
    dpkg-deb -x "$image"_*.deb "$cache/kernel.new"
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
cp /bin/busybox "$root/bin/busybox"

# The bochs display driver and what it needs, in loading order.
for m in drm drm_kms_helper ttm drm_ttm_helper drm_vram_helper bochs; do
  f=$(find "$cache/kernel/lib/modules/$kver" -name "$m.ko*" | head -n1)
  [ -n "$f" ] || { echo "module $m missing from kernel $kver" >&2; exit 1; }
  cp "$f" "$root/modules/"
  echo "${f##*/}" >>"$root/modules/order"
done

# The programs with the shared libraries they load, at the same paths as here.
for prog in tarqle-vga vga_probe; do
  cp "$build/$prog" "$root/bin/"
  for lib in $(ldd "$build/$prog" | grep -o '/[^ ]*'); do
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

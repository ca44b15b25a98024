#!/usr/bin/env bash
# Builds the guest for the console test: a stock Debian kernel (fetched beforehand by
# scripts/setup-guest.sh into build-guest/, or $TARQLE_GUEST_DIR) and an initramfs holding
# busybox, the display modules, tarqle-vga and tarqle-render with their data, the test
# helper and the guest's script. FLAVOUR is amd64 (the default: a 64-bit PC, programs of
# a 64-bit build) or 686 (a 32-bit PC, programs of a 32-bit build, and Debian's 32-bit
# busybox and kernel). TARQLE_GUEST_PROGRAMS names more programs of the build to put in
# the guest. Fetches nothing: without the kernel it says so and exits with status 77.
# Usage: prepare.sh BUILD_DIR OUT_DIR [FLAVOUR]   (writes OUT_DIR/vmlinuz and OUT_DIR/initrd.gz)
set -euo pipefail
export PATH=$PATH:/usr/sbin:/sbin
build=$(realpath "$1")
out=$(realpath -m "$2")
flavour=${3:-amd64}
here=$(dirname "$(realpath "$0")")
guests=${TARQLE_GUEST_DIR:-$here/../../build-guest}
cache=$guests/$flavour
mkdir -p "$out"
case $flavour in
  amd64) arch=amd64 ;;
  686) arch=i386 cpu=pentium2 ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
if ! ls "$cache"/kernel/boot/vmlinuz-* >/dev/null 2>&1; then
  echo "no guest kernel for $flavour in $cache (scripts/setup-guest.sh fetches it)" >&2
  exit 77
fi
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
# kernel's module index lists them (made when the kernel was fetched), last
# first. Which of them are built in differs between the kernel flavours.
modules=$cache/kernel/lib/modules/$kver
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

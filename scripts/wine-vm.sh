#!/usr/bin/env bash
# Runs a command of the Windows tests under Wine inside a small virtual
# machine, for hosts whose kernel cannot run 32-bit programs (ia32
# emulation switched off, so Wine's 32-bit loader cannot start there).
#
#   wine-vm.sh [--file PATH]... COMMAND [ARG]...
#   wine-vm.sh --prepare        only make the machine, where it is missing
#                               or its recipe has changed
#
# The machine is a Debian 12 root made with debootstrap (Wine, CMake, Python
# and a kernel, from Debian's packages) in build/wine-vm, booted by QEMU
# under software emulation with ia32 emulation on. The image keeps a stamp
# of the recipe below that made it and is made anew when the recipe changes
# (or when that folder is deleted). The source tree with the win32 build is
# copied in at the same path, because the build's test files name absolute
# paths; each --file is copied to /io/files. COMMAND runs there from the
# tree's root; its output comes back here, and its exit code is this
# script's. 125 means that no machine could be made or booted, so the
# command did not run; a command that hangs for an hour fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
vm=$root/build/wine-vm
io=$vm/io

prepare=no
if [ "${1:-}" = --prepare ]; then
  prepare=yes
  shift
fi
files=()
while [ "${1:-}" = --file ]; do
  files+=("$2")
  shift 2
done
[ $# -gt 0 ] || [ $prepare = yes ] ||
  { echo "usage: wine-vm.sh [--file PATH]... COMMAND [ARG]... | --prepare" >&2; exit 2; }

unavailable() {
  echo "wine-vm: $*" >&2
  exit 125
}

# --- The recipe: what the stamp covers ---------------------------------

packages=linux-image-amd64,initramfs-tools,kmod,iproute2,python3,cmake

# The machine's first and only process: mounts, brings up what a normal
# host has (loopback, a name that resolves), runs the job, powers off.
init_script='#!/bin/sh
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
mount -t proc proc /proc 2>/dev/null
mount -t sysfs sys /sys 2>/dev/null
mkdir -p /dev/pts /dev/shm /host /io
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 host /host
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 io /io
hostname wine-vm
ip link set lo up
sh /io/job.sh >/io/log 2>&1
echo $? >/io/rc
sync
echo o >/proc/sysrq-trigger'

hosts_file='127.0.0.1 localhost
127.0.1.1 wine-vm
::1 localhost ip6-localhost ip6-loopback'

# Run once on the new image: a Wine prefix takes minutes to make under
# software emulation, so each job copies this one instead.
first_job='set -e
WINEPREFIX=/opt/wineprefix WINEARCH=win32 WINEDEBUG=-all wineboot -i </dev/null
WINEPREFIX=/opt/wineprefix wineserver -w
test -f /opt/wineprefix/system.reg
sync'

# A security index that a mirror serves half-synced for one architecture
# leaves the newest amd64 libraries without i386 twins; the release's own
# versions always match.
install_wine='dpkg --add-architecture i386 && apt-get update -qq
export DEBIAN_FRONTEND=noninteractive
{ apt-get install -y -qq --no-install-recommends wine wine32:i386 ||
  apt-get install -y -qq --no-install-recommends -t bookworm wine wine32:i386; } &&
update-initramfs -u'

recipe_stamp() {
  printf '%s\n' "$packages" "$init_script" "$hosts_file" "$first_job" "$install_wine" |
    sha256sum | cut -c1-16
}

# --- Making and booting ------------------------------------------------

# Boots IMAGE; with "keep" what the machine writes stays on its disk.
boot() {
  local image=$1 snapshot=-snapshot
  [ "${2:-}" != keep ] || snapshot=
  # Software emulation: QEMU's 'max' CPU without SMAP and SMEP, under which
  # Wine's 32-bit code faults on this QEMU. Should the machine's init end
  # without powering off, the kernel's panic reboots it, which ends QEMU.
  TMPDIR=$vm timeout 3600 qemu-system-x86_64 -machine q35 -accel tcg,thread=multi \
    -cpu max,-smap,-smep -smp "$(nproc)" -m 3072 $snapshot \
    -kernel "$vm/vmlinuz" -initrd "$vm/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 init=/init.sh ia32_emulation=on panic=1 quiet" \
    -drive file="$image",if=virtio,format=raw \
    -virtfs local,path="$root",mount_tag=host,security_model=none,readonly=on,id=host \
    -virtfs local,path="$io",mount_tag=io,security_model=none,id=io \
    -nographic -no-reboot >"$vm/console.log" 2>&1
}

make_image() {
  [ "$(id -u)" -eq 0 ] || unavailable "making the machine needs root (debootstrap)"
  command -v debootstrap >/dev/null && command -v qemu-system-x86_64 >/dev/null ||
    unavailable "debootstrap or qemu-system-x86_64 is missing"
  # shellcheck source=debian-mirror.sh
  . scripts/debian-mirror.sh
  debian_mirror
  local mirror=$DEBIAN_MIRROR
  [ -n "$mirror" ] || unavailable "the host's apt sources name no archive of Debian 12 (bookworm main)"
  local tree=$vm/root began=$SECONDS
  [ -n "$vm" ] && [ "$tree" != / ] || unavailable "no folder for the machine"
  rm -rf "$tree" "$vm/root.img" "$vm/root.img.new" "$vm/root.img.stamp"
  mkdir -p "$vm"
  echo "wine-vm: making the machine in $vm (a few minutes)"
  debootstrap --arch=amd64 --variant=minbase --include="$packages" \
    bookworm "$tree" "$mirror" >"$vm/debootstrap.log" 2>&1 ||
    unavailable "debootstrap failed, see $vm/debootstrap.log"
  cp /etc/resolv.conf "$tree/etc/resolv.conf"
  echo wine-vm >"$tree/etc/hostname"
  printf '%s\n' "$hosts_file" >"$tree/etc/hosts"
  if [ -n "$proxy" ]; then
    printf 'Acquire::http::Proxy "%s";\n' "$proxy" >"$tree/etc/apt/apt.conf.d/01proxy"
  fi
  # 9p carries the tree and the results; the initramfs must load it.
  printf '%s\n' 9p 9pnet 9pnet_virtio virtio_blk virtio_pci ext4 >>"$tree/etc/initramfs-tools/modules"
  for m in proc sys dev; do mount --bind "/$m" "$tree/$m"; done
  local ok=yes
  chroot "$tree" sh -c "$install_wine" >>"$vm/debootstrap.log" 2>&1 || ok=no
  for m in dev sys proc; do umount "$tree/$m"; done
  [ $ok = yes ] || unavailable "installing Wine in the machine failed, see $vm/debootstrap.log"
  printf '%s\n' "$init_script" >"$tree/init.sh"
  chmod +x "$tree/init.sh"
  cp "$tree"/boot/vmlinuz-* "$vm/vmlinuz"
  cp "$tree"/boot/initrd.img-* "$vm/initrd.img"
  mkfs.ext4 -q -F -d "$tree" "$vm/root.img.new" 4G >/dev/null || unavailable "mkfs.ext4 failed"
  rm -rf "$tree" "$io"
  mkdir -p "$io"
  printf '%s\n' "$first_job" >"$io/job.sh"
  echo "wine-vm: making the machine's Wine prefix"
  boot "$vm/root.img.new" keep || true
  [ "$(cat "$io/rc" 2>/dev/null)" = 0 ] ||
    unavailable "the machine's first job failed, see $vm/console.log and $io/log"
  rm -rf "$io"
  mv "$vm/root.img.new" "$vm/root.img"
  recipe_stamp >"$vm/root.img.stamp"
  echo "wine-vm: the machine was made in $(( (SECONDS - began + 30) / 60 )) min"
}

if [ ! -f "$vm/root.img" ]; then
  make_image
elif [ "$(cat "$vm/root.img.stamp" 2>/dev/null)" != "$(recipe_stamp)" ]; then
  echo "wine-vm: the machine's recipe changed since its image was made: making it anew"
  make_image
fi
[ $prepare = no ] || exit 0

rm -rf "$io"
mkdir -p "$io/files"
for f in "${files[@]}"; do cp "$f" "$io/files/"; done
{
  echo "set -e"
  # Wine maps program images from their files, which the 9p share serves
  # wrong: the tree is copied into the machine's memory at its own path.
  echo "mkdir -p '$root' && mount -t tmpfs -o size=2g tmpfs '$root'"
  echo "(cd /host && tar cf - --exclude=./build --exclude=./dist . &&"
  echo "  if [ -d build/win32 ]; then tar cf - --exclude=./build/win32/wineprefix ./build/win32; fi) |"
  echo "  (cd '$root' && tar xif -)"
  echo "cd '$root'"
  echo "if [ -d build/win32 ]; then cp -a /opt/wineprefix build/win32/wineprefix; fi"
  echo "set +e"
  printf '%q ' "$@"
  echo
} >"$io/job.sh"

echo "wine-vm: booting the machine for: $*"
set +e
boot "$vm/root.img"
set -e
[ -f "$io/log" ] || unavailable "the machine did not boot, see $vm/console.log"
cat "$io/log"
if [ ! -f "$io/rc" ]; then
  echo "wine-vm: the command did not finish within the hour, see $vm/console.log" >&2
  exit 1
fi
rc=$(cat "$io/rc")
rm -rf "$io"
exit "$rc"

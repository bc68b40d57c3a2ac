#!/usr/bin/env bash
# Runs a command of the Windows tests under Wine inside a small virtual
# machine, for hosts whose kernel cannot run 32-bit programs (ia32
# emulation switched off, so Wine's 32-bit loader cannot start there).
#
#   wine-vm.sh [--file PATH]... COMMAND [ARG]...
#
# The machine is a Debian 12 root made once with debootstrap (Wine, CMake,
# Python and a kernel, from Debian's packages) in build/wine-vm (delete that
# folder to make it anew), booted by
# QEMU under software emulation with ia32 emulation on. The source tree
# with the win32 build is copied in at the same path, because the build's
# test files name absolute paths; each --file is copied to /io/files.
# COMMAND runs there from the tree's root; its output comes back here, and
# its exit code is this script's. 125 means that no machine could be made
# or booted, so the command did not run; a command that hangs for an hour
# fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
vm=$root/build/wine-vm

files=()
while [ "${1:-}" = --file ]; do
  files+=("$2")
  shift 2
done
[ $# -gt 0 ] || { echo "usage: wine-vm.sh [--file PATH]... COMMAND [ARG]..." >&2; exit 2; }

unavailable() {
  echo "wine-vm: $*" >&2
  exit 125
}

make_image() {
  [ "$(id -u)" -eq 0 ] || unavailable "making the machine needs root (debootstrap)"
  command -v debootstrap >/dev/null && command -v qemu-system-x86_64 >/dev/null ||
    unavailable "debootstrap or qemu-system-x86_64 is missing"
  # The archive that the host's own apt installs from (its mirror, a local
  # one, or one behind a proxy), never a host named here.
  local mirror proxy=""
  mirror=$(apt-get indextargets --format '$(SITE) $(RELEASE) $(COMPONENT)' 2>/dev/null |
    awk '$2 == "bookworm" && $3 == "main" {print $1; exit}')
  [ -n "$mirror" ] || unavailable "the host's apt sources name no archive of Debian 12 (bookworm main)"
  eval "$(apt-config shell proxy Acquire::http::Proxy)"
  if [ -n "$proxy" ] && [ -z "${http_proxy:-}" ]; then export http_proxy=$proxy; fi
  local tree=$vm/root
  rm -rf "$tree" "$vm/root.img" "$vm/root.img.new"
  mkdir -p "$vm"
  echo "wine-vm: making the machine in $vm (once; a few minutes)"
  debootstrap --arch=amd64 --variant=minbase \
    --include=linux-image-amd64,initramfs-tools,kmod,python3,cmake \
    bookworm "$tree" "$mirror" >"$vm/debootstrap.log" 2>&1 ||
    unavailable "debootstrap failed, see $vm/debootstrap.log"
  cp /etc/resolv.conf "$tree/etc/resolv.conf"
  if [ -n "$proxy" ]; then
    printf 'Acquire::http::Proxy "%s";\n' "$proxy" >"$tree/etc/apt/apt.conf.d/01proxy"
  fi
  # 9p carries the tree and the results; the initramfs must load it.
  printf '%s\n' 9p 9pnet 9pnet_virtio virtio_blk virtio_pci ext4 >>"$tree/etc/initramfs-tools/modules"
  for m in proc sys dev; do mount --bind "/$m" "$tree/$m"; done
  local ok=yes
  chroot "$tree" sh -c 'dpkg --add-architecture i386 && apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine wine32:i386 &&
    update-initramfs -u' >>"$vm/debootstrap.log" 2>&1 || ok=no
  for m in dev sys proc; do umount "$tree/$m"; done
  [ $ok = yes ] || unavailable "installing Wine in the machine failed, see $vm/debootstrap.log"
  cat >"$tree/init.sh" <<'EOF'
#!/bin/sh
# The machine's first and only process: mounts, runs /io/job.sh, powers off.
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
sh /io/job.sh >/io/log 2>&1
echo $? >/io/rc
sync
echo o >/proc/sysrq-trigger
EOF
  chmod +x "$tree/init.sh"
  cp "$tree"/boot/vmlinuz-* "$vm/vmlinuz"
  cp "$tree"/boot/initrd.img-* "$vm/initrd.img"
  mkfs.ext4 -q -F -d "$tree" "$vm/root.img.new" 4G || unavailable "mkfs.ext4 failed"
  rm -rf "$tree"
  mv "$vm/root.img.new" "$vm/root.img"
}

[ -f "$vm/root.img" ] || make_image

io=$vm/io
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
  echo "set +e"
  printf '%q ' "$@"
  echo
} >"$io/job.sh"

echo "wine-vm: booting the machine for: $*"
# Software emulation: QEMU's 'max' CPU without SMAP and SMEP, under which
# Wine's 32-bit code faults on this QEMU. Should the machine's init end
# without powering off, the kernel's panic reboots it, which ends QEMU.
set +e
TMPDIR=$vm timeout 3600 qemu-system-x86_64 -machine q35 -accel tcg,thread=multi \
  -cpu max,-smap,-smep -smp "$(nproc)" -m 3072 -snapshot \
  -kernel "$vm/vmlinuz" -initrd "$vm/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 init=/init.sh ia32_emulation=on panic=1 quiet" \
  -drive file="$vm/root.img",if=virtio,format=raw \
  -virtfs local,path="$root",mount_tag=host,security_model=none,readonly=on,id=host \
  -virtfs local,path="$io",mount_tag=io,security_model=none,id=io \
  -nographic -no-reboot >"$vm/console.log" 2>&1
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

# shellcheck shell=bash
# Sourced by wine-vm.sh: the recipe of the Windows tests' machine, how its
# image is made and how it boots. The image is cached under the hash of
# this file and debian-mirror.sh (wine_vm_hash), so that whatever shapes the
# image makes a new one when it changes. The caller sets WINE_VM_LOGS to a
# folder of its own for the logs.

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

wine_vm_hash() {
  recipe_hash scripts/wine-vm-image.sh scripts/debian-mirror.sh
}

# boot MACHINE IO [keep]: boots the image in the folder MACHINE with the
# folder IO shared as /io and the source tree as /host; with "keep" what the
# machine writes stays on its disk, else it goes with the run.
boot() {
  local machine=$1 io=$2 snapshot=-snapshot
  [ "${3:-}" != keep ] || snapshot=
  # Software emulation: QEMU's 'max' CPU without SMAP and SMEP, under which
  # Wine's 32-bit code faults on this QEMU. Should the machine's init end
  # without powering off, the kernel's panic reboots it, which ends QEMU.
  # shellcheck disable=SC2086
  TMPDIR=$WINE_VM_LOGS timeout 3600 qemu-system-x86_64 -machine q35 -accel tcg,thread=multi \
    -cpu max,-smap,-smep -smp "$(nproc)" -m 3072 $snapshot \
    -kernel "$machine/vmlinuz" -initrd "$machine/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 init=/init.sh ia32_emulation=on panic=1 quiet" \
    -drive file="$machine/root.img",if=virtio,format=raw \
    -virtfs local,path="$PWD",mount_tag=host,security_model=none,readonly=on,id=host \
    -virtfs local,path="$io",mount_tag=io,security_model=none,id=io \
    -nographic -no-reboot >"$WINE_VM_LOGS/console.log" 2>&1
}

# make_image FOLDER: the machine's kernel, initramfs and disk image, with
# Wine and a Wine prefix made, in FOLDER (empty, of a temporary name).
make_image() {
  local out=$1 tree=$1/root began=$SECONDS mirror
  [ "$(id -u)" -eq 0 ] || unavailable "making the machine needs root (debootstrap)"
  command -v debootstrap >/dev/null && command -v qemu-system-x86_64 >/dev/null ||
    unavailable "debootstrap or qemu-system-x86_64 is missing"
  # shellcheck source=debian-mirror.sh
  . scripts/debian-mirror.sh
  debian_mirror
  mirror=$DEBIAN_MIRROR
  [ -n "$mirror" ] || unavailable "the host's apt sources name no archive of Debian 12 (bookworm main)"
  echo "wine-vm: making the machine in $out (a few minutes)"
  debootstrap --arch=amd64 --variant=minbase --include="$packages" \
    bookworm "$tree" "$mirror" >"$WINE_VM_LOGS/debootstrap.log" 2>&1 ||
    unavailable "debootstrap failed, see $WINE_VM_LOGS/debootstrap.log"
  cp /etc/resolv.conf "$tree/etc/resolv.conf"
  echo wine-vm >"$tree/etc/hostname"
  printf '%s\n' "$hosts_file" >"$tree/etc/hosts"
  if [ -n "$DEBIAN_PROXY" ]; then
    printf 'Acquire::http::Proxy "%s";\n' "$DEBIAN_PROXY" >"$tree/etc/apt/apt.conf.d/01proxy"
  fi
  # 9p carries the tree and the results; the initramfs must load it.
  printf '%s\n' 9p 9pnet 9pnet_virtio virtio_blk virtio_pci ext4 >>"$tree/etc/initramfs-tools/modules"
  for m in proc sys dev; do mount --bind "/$m" "$tree/$m"; done
  local ok=yes
  chroot "$tree" sh -c "$install_wine" >>"$WINE_VM_LOGS/debootstrap.log" 2>&1 || ok=no
  for m in dev sys proc; do umount "$tree/$m"; done
  [ $ok = yes ] || unavailable "installing Wine in the machine failed, see $WINE_VM_LOGS/debootstrap.log"
  printf '%s\n' "$init_script" >"$tree/init.sh"
  chmod +x "$tree/init.sh"
  cp "$tree"/boot/vmlinuz-* "$out/vmlinuz"
  cp "$tree"/boot/initrd.img-* "$out/initrd.img"
  mkfs.ext4 -q -F -d "$tree" "$out/root.img" 4G >/dev/null || unavailable "mkfs.ext4 failed"
  rm -rf "$tree"
  mkdir "$out/io"
  printf '%s\n' "$first_job" >"$out/io/job.sh"
  echo "wine-vm: making the machine's Wine prefix"
  boot "$out" "$out/io" keep || true
  cp "$out/io/log" "$WINE_VM_LOGS/first-job.log" 2>/dev/null || true
  [ "$(cat "$out/io/rc" 2>/dev/null)" = 0 ] ||
    unavailable "the machine's first job failed, see $WINE_VM_LOGS/console.log and first-job.log"
  rm -rf "$out/io"
  echo "wine-vm: the machine was made in $(( (SECONDS - began + 30) / 60 )) min"
}

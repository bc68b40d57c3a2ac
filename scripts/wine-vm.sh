#!/usr/bin/env bash
# Runs a command of the Windows tests under Wine inside a small virtual
# machine, for hosts whose kernel cannot run 32-bit programs (ia32
# emulation switched off, so Wine's 32-bit loader cannot start there).
#
#   wine-vm.sh [--file PATH]... COMMAND [ARG]...
#   wine-vm.sh --prepare        only make the machine, where it is missing
#   wine-vm.sh --has-image      exit 0 where the machine of this recipe is made
#
# The machine is a Debian 12 root made with debootstrap (Wine, CMake, Python
# and a kernel, from Debian's packages), booted by QEMU under software
# emulation with ia32 emulation on. Its recipe is scripts/wine-vm-image.sh;
# the image is made once per machine and user and kept outside the clone
# (scripts/cache.sh), under the hash of the recipe, so that a fresh clone
# reuses it and a changed recipe makes a new one. The source tree with the
# win32 build is copied in at the same path, because the build's test files
# name absolute paths; each --file is copied to /io/files. COMMAND runs
# there from the tree's root; its output comes back here, and its exit code
# is this script's. 125 means that no machine could be made or booted, so
# the command did not run; a command that hangs for an hour fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# The logs of this clone's runs; the image is the machine's.
export WINE_VM_LOGS=$root/build/wine-vm
mkdir -p "$WINE_VM_LOGS"

unavailable() {
  echo "wine-vm: $*" >&2
  exit 125
}
# shellcheck source=cache.sh
. scripts/cache.sh
# shellcheck source=wine-vm-image.sh
. scripts/wine-vm-image.sh

prepare=no
case ${1:-} in
  --prepare) prepare=yes; shift ;;
  --has-image) cache_has wine-vm "$(wine_vm_hash)"; exit ;;
esac
files=()
while [ "${1:-}" = --file ]; do
  files+=("$2")
  shift 2
done
[ $# -gt 0 ] || [ $prepare = yes ] ||
  { echo "usage: wine-vm.sh [--file PATH]... COMMAND [ARG]... | --prepare | --has-image" >&2; exit 2; }

cached wine-vm "$(wine_vm_hash)" make_image || exit
machine=$CACHED
[ $prepare = no ] || exit 0

io=$(mktemp -d "$WINE_VM_LOGS/io.XXXXXX")
trap 'rm -rf "$io"' EXIT
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
boot "$machine" "$io"
set -e
[ -f "$io/log" ] || unavailable "the machine did not boot, see $WINE_VM_LOGS/console.log"
cat "$io/log"
if [ ! -f "$io/rc" ]; then
  echo "wine-vm: the command did not finish within the hour, see $WINE_VM_LOGS/console.log" >&2
  exit 1
fi
exit "$(cat "$io/rc")"

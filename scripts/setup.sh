#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, as root.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# qemu-system-x86 and debootstrap make the Windows tests' virtual machine
# (scripts/wine-vm.sh), also where the host runs Wine: a change to the
# machine is tried there too. ccache serves the builds that need not prove
# that they are reproducible.
for p in cmake g++ make googletest nlohmann-json3-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 file \
         clang libclang-rt-14-dev clang-tidy cppcheck python3 python3-pefile \
         groff-base lintian xz-utils eatmydata libboost-dev libssl-dev wixl msitools faketime chromium chromium-driver python3-selenium systemd systemd-container debootstrap \
         qemu-system-x86 shellcheck ccache libsystemd-dev pkg-config debhelper node-typescript osslsigncode; do
  have_pkg "$p" || need+=("$p")
done
# npm packs the JavaScript client; a machine whose Node.js comes from
# elsewhere has its own npm, which Debian's would conflict with.
command -v npm >/dev/null || need+=(npm)
have_pkg wine || need+=(wine)
have_pkg wine32:i386 || need+=(wine32:i386)

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${need[*]} (run as root to install them)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync fails an index or two for a while; what
# the other indexes hold is often enough, and the install below says plainly
# when a package cannot be found.
update_indexes() {
  local i
  for i in 1 2 3; do
    apt-get update -qq && { indexes_whole=yes; return 0; }
    echo "setup: apt-get update failed (try $i of 3)" >&2
    sleep $((i * 10))
  done
  echo "setup: going on with the indexes apt has" >&2
}
indexes_whole=no
# With one architecture's security index missing, apt would want the newer
# amd64 build of a library beside an older i386 one, which multiarch
# forbids; the release's own versions fit together, so they are the way out.
apt_install() {
  apt-get install -y -qq --no-install-recommends "$@" >/dev/null && return 0
  [ $indexes_whole = no ] || return 1
  echo "setup: installing with the release's own versions (an index is missing)" >&2
  apt-get install -y -qq --no-install-recommends -t bookworm "$@" >/dev/null
}
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
update_indexes
apt_install "${need[@]}"


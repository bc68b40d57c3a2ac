#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, as root.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

for p in cmake g++ make googletest nlohmann-json3-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 file \
         clang libclang-rt-14-dev clang-tidy cppcheck python3 python3-pefile \
         groff-base lintian xz-utils eatmydata libboost-dev chromium chromium-driver python3-selenium; do
  have_pkg "$p" || need+=("$p")
done
have_pkg wine || need+=(wine)
have_pkg wine32:i386 || need+=(wine32:i386)

# Where the kernel cannot run 32-bit programs, so neither Wine's loader, the
# Windows tests run in a virtual machine (scripts/wine-vm.sh) that needs these.
vm_packages() {
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    for p in qemu-system-x86 debootstrap; do
      have_pkg "$p" || need+=("$p")
    done
  fi
}
if have_pkg wine32:i386; then
  vm_packages
fi

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${need[*]} (run as root to install them)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null

# Only with Wine installed can its loader be asked whether it runs here.
need=()
vm_packages
if [ ${#need[@]} -gt 0 ]; then
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

#!/usr/bin/env bash
# The README's Linux set-up of brennickd, its blocks as written, in a Debian
# 12 container that boots systemd (systemd-nspawn): the administrator's
# block (the package, the shared folders, the origin, "enable --now" and at
# once "pair"), then the register user's block as a user of the shell
# (a purchase); a page's purchase through the service with a paired token;
# the shell's last operation (/o8), which must be the page's, on the one
# terminal; a reload; an upgrade to a newer package, after which the
# service runs the new program; a purge, after which a reinstall is not
# enabled. Exit 125 where no such container can be made here (no root, no
# nspawn, no network for debootstrap, a kernel that cannot boot it).
#   check-unit-container.sh brennick_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "$1")
unavailable() { echo "check-unit-container: $*" >&2; exit 125; }
[ "$(id -u)" -eq 0 ] || unavailable "needs root"
command -v systemd-nspawn >/dev/null && command -v debootstrap >/dev/null ||
  unavailable "systemd-nspawn or debootstrap is missing"

# The Debian root is made once per machine and user (scripts/cache.sh) and
# copied per run.
container_packages=systemd,systemd-sysv,dbus,libssl3,passwd,adduser,sudo,curl,ca-certificates
make_root() {
  # shellcheck source=debian-mirror.sh
  . scripts/debian-mirror.sh
  debian_mirror
  [ -n "$DEBIAN_MIRROR" ] || unavailable "the host's apt sources name no archive of Debian 12 (bookworm main)"
  mkdir -p build/unit-container
  debootstrap --variant=minbase --include="$container_packages" \
    bookworm "$1/root" "$DEBIAN_MIRROR" >build/unit-container/debootstrap.log 2>&1 ||
    unavailable "debootstrap failed: build/unit-container/debootstrap.log"
}
# shellcheck source=cache.sh
. scripts/cache.sh
cached unit-container "$(recipe_hash <(printf '%s\n' "$container_packages") scripts/debian-mirror.sh)" \
  make_root || exit
base=$CACHED/root
scratch=$(mktemp -d -t brennick-unit-XXXXXX)
root=$scratch/root
boot=
cleanup() {
  [ -n "$boot" ] && kill "$boot" 2>/dev/null && wait "$boot" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
cp -a "$base" "$root"
cp "$deb" "$root/root/"
# Its own network, so that its port is its own.
systemd-nspawn -q -D "$root" --boot --register=no --keep-unit --private-network \
  --console=pipe >"$scratch/console" 2>&1 </dev/null &
boot=$!
pid=
for _ in $(seq 1 60); do
  pid=$(pgrep -P "$boot" -x systemd || true)
  [ -n "$pid" ] && break
  sleep 1
done
[ -n "$pid" ] || unavailable "the container does not boot: $(tail -3 "$scratch/console")"
inside() { nsenter -t "$pid" -a -- "$@"; }
for _ in $(seq 1 60); do
  state=$(inside systemctl is-system-running 2>/dev/null || true)
  case $state in running|degraded) break ;; esac
  sleep 1
done

version=$(dpkg-deb -f "$deb" Version)
# The newer package: the same files under a higher version, as an upgrade
# brings them (dpkg replaces every file: the old program is gone from disk).
newer=$scratch/newer
dpkg-deb -R "$deb" "$newer"
sed -i "s/^Version: .*/Version: $version+1/" "$newer/DEBIAN/control"
dpkg-deb --root-owner-group -b "$newer" "$root/root/brennick_${version}+1_amd64.deb" >/dev/null
bash scripts/doc-block.sh docs/linux.md linux-service | sed "s/<version>/$version/" >"$root/root/service.sh"
bash scripts/doc-block.sh docs/linux.md linux-register-user >"$root/root/register-user.sh"
bash scripts/doc-block.sh README.md first-purchase >"$root/root/first-purchase.sh"

inside sh -euc '
  cd /root
  useradd -m -s /bin/sh cashier
  echo "cashier ALL=(ALL) NOPASSWD: ALL" > /etc/sudoers.d/cashier
  # The administrator'"'"'s block: "pair" right after "enable --now".
  sh -eu service.sh >service.out 2>&1 || { cat service.out >&2; exit 1; }
  grep -q "^pairing code [0-9]\{6\} for a pay token" service.out
  [ "$(systemctl show -P User brennickd)" = brennickd ]
  # The register user'"'"'s block, fed to a login shell line by line
  # as a user types it: bash reads no further than the line it runs, so
  # that the shell newgrp opens reads the lines after it.
  su -l cashier -c "bash -s" <register-user.sh >user.out 2>&1 || { cat user.out >&2; exit 1; }
  grep -q "^RC=00" user.out || { cat user.out >&2; exit 1; }
  # A page pairs and pays through the service on the same terminal.
  code=$(brennickd pair | cut -d" " -f3)
  page="Origin: https://pos.example"
  token=$(curl -sf -H "$page" -d "{\"code\":\"$code\"}" http://127.0.0.1:8439/v1/pair | sed "s/.*\"token\":\"\([0-9a-f]*\)\".*/\1/")
  answer=$(curl -sf -H "$page" -H "Authorization: Bearer $token" -H "Idempotency-Key: web-1" \
    -d "{\"operation\":\"purchase\",\"amount\":777,\"currency\":643,\"trace_id\":\"WEB-1\"}" \
    http://127.0.0.1:8439/v1/operations)
  echo "$answer" | grep -q "\"state\":\"approved\"" || { echo "$answer" >&2; exit 1; }
  # The shell asks the terminal for its last operation: the page'"'"'s.
  su -l cashier -c "PAYSIM_STATE_DIR=/var/lib/brennick/simulator brennick /o8 && cat /var/lib/brennick/exchange/output_ex.dat" >last.out 2>&1 ||
    { cat last.out >&2; exit 1; }
  grep -q "^AMOUNT=777" last.out || { cat last.out >&2; exit 1; }
  grep -q "\"outcome\":\"completed\"" /var/log/brennick/brennick-*.jsonl
  [ "$(stat -c %U /var/lib/brennickd/brennickd-state.jsonl)" = brennickd ]
  systemctl reload brennickd
  curl -sf http://127.0.0.1:8439/v1/health >/dev/null
  # An upgrade restarts the running service on the new program.
  apt-get install -y -qq ./brennick_'"$version"'+1_amd64.deb >/dev/null 2>&1
  exe=$(readlink /proc/"$(systemctl show -P MainPID brennickd)"/exe)
  [ "$exe" = /usr/bin/brennickd ] || { echo "after the upgrade the service runs $exe" >&2; exit 1; }
  # The README'"'"'s first purchase, as a user of the group types it.
  su -l cashier -c "bash -s" <first-purchase.sh >first.out 2>&1 || { cat first.out >&2; exit 1; }
  grep -q "^RC=00" first.out || { cat first.out >&2; exit 1; }
  # Purge takes the enable link: a reinstall waits for the administrator.
  dpkg --purge brennick >/dev/null
  ! systemctl is-active -q brennickd
  ! getent passwd brennickd >/dev/null
  [ ! -e /var/lib/brennickd ]
  [ ! -e /etc/systemd/system/multi-user.target.wants/brennickd.service ]
  apt-get install -y -qq ./brennick_'"$version"'_amd64.deb >/dev/null 2>&1
  [ "$(systemctl is-enabled brennickd || true)" = disabled ]
  ! systemctl is-active -q brennickd
' || { echo "check-unit-container: the README's steps failed; the service's log:" >&2
       inside journalctl -u brennickd --no-pager 2>/dev/null | tail -20 >&2; exit 1; }
echo "the README's service set-up in a systemd container: its blocks as written, a shell's and a page's purchases and the shell's /o8 on one terminal, reloaded, upgraded onto the new program, purged, reinstalled not enabled"

#!/usr/bin/env bash
# The README's Linux set-up of brennickd, line by line, in a Debian 12
# container that boots systemd (systemd-nspawn): the package installed, the
# exchange folder, the origin in the configuration, the unit enabled and
# started as the package ships it, a pairing code, a purchase through it
# that lands in the journal, a reload, a purge that takes the user with it.
# Exit 125 where no such container can be made here (no root, no nspawn,
# no network for debootstrap, a kernel that cannot boot it).
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
container_packages=systemd,systemd-sysv,dbus,libssl3,passwd,curl,ca-certificates
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
cached unit-container "$(printf '%s\n' "$container_packages" | cat - scripts/debian-mirror.sh | sha256sum | cut -c1-16)" \
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

inside sh -euc '
  dpkg -i /root/'"$(basename "$deb")"' >/dev/null
  key="/etc/brennick/registry/software/Merot/Dovrex Auth Library"
  echo /usr/lib/brennick/libpaysim.so > "$key/LocationPath"
  install -d -o root -g brennick -m 2770 /var/lib/brennick/exchange
  echo /var/lib/brennick/exchange | tee "$key/ExchangePath" >/dev/null
  echo "allow-origin = https://pos.example" | tee -a /etc/brennick/brennickd.conf >/dev/null
  systemctl enable --now brennickd 2>/dev/null
  for i in $(seq 1 50); do curl -sf http://127.0.0.1:8439/v1/health >/dev/null && break; sleep 0.2; done
  [ "$(systemctl show -P User brennickd)" = brennickd ]
  brennickd pair | grep -q "^pairing code [0-9]\{6\} for a pay token"
  token=$(cat /etc/brennick/brennickd.token)
  answer=$(curl -sf -H "Authorization: Bearer $token" -H "Idempotency-Key: unit-1" \
    -d "{\"operation\":\"purchase\",\"amount\":221,\"currency\":643}" http://127.0.0.1:8439/v1/operations)
  echo "$answer" | grep -q "\"state\":\"approved\"" || { echo "$answer" >&2; exit 1; }
  grep -q "\"outcome\":\"completed\"" /var/log/brennick/brennick-*.jsonl
  [ "$(stat -c %U /var/lib/brennickd/brennickd-state.jsonl)" = brennickd ]
  systemctl reload brennickd
  curl -sf http://127.0.0.1:8439/v1/health >/dev/null
  dpkg --purge brennick >/dev/null
  ! systemctl is-active -q brennickd
  ! getent passwd brennickd >/dev/null
  [ ! -e /var/lib/brennickd ]
' || { echo "check-unit-container: the README's steps failed; the service's log:" >&2
       inside journalctl -u brennickd --no-pager 2>/dev/null | tail -20 >&2; exit 1; }
echo "the README's service set-up in a systemd container: installed, enabled, paired, a purchase approved and journaled, reloaded, purged"

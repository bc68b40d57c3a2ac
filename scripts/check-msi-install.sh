#!/usr/bin/env bash
# Deploys the Windows Installer package as an administrator's tools do,
# silently, under a fresh 32-bit Wine prefix: an older package with the
# folders as properties, the simulator and brennickd asked for, a purchase;
# a value, the service's account and an argument of its changed by hand;
# the upgrade to this package, which keeps them, the carried values and
# the journal and writes a new one; "brennickd pair" finding the service,
# whose health flags the simulator; a purchase; then the removal, which
# leaves the journal and the exchange folder's files and no program file,
# value or service of the package; an install whose service cannot be
# registered, which fails and is rolled back; last an install without any
# property, which names no library. Leaves nothing behind.
#   check-msi-install.sh Brennick-<version>-win32.msi OLDER.msi
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
new=$(realpath "$1")
old=$(realpath "$2")

scratch=$(mktemp -d -t brennick-msi-XXXXXX)
trap 'bash "$root/scripts/stop-wine.sh" "$scratch/wineprefix"; rm -rf "$scratch"' EXIT
export WINEPREFIX=$scratch/wineprefix WINEARCH=win32 WINEDEBUG=-all
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's|/|\\|g')"; }
c=$WINEPREFIX/drive_c
key='HKLM\Software\Merot\Dovrex Auth Library'
value() {
  wine reg query "$key" /v "$1" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"
}
expect() {   # expect WHAT ACTUAL WANTED
  [ "$2" = "$3" ] || { echo "check-msi-install: $1: \"$2\", not \"$3\"" >&2; exit 1; }
}
pay() {
  rm -f "$c/Registers/exchange/output_ex.dat"
  (cd "$c/Program Files/Brennick" &&
   PAYSIM_STATE_DIR=$(winpath "$scratch/state") wine Brennick.exe /o1 /a221 /c643 </dev/null)
  grep -q '^RC=00' "$c/Registers/exchange/output_ex.dat"
}
mkdir -p "$scratch/state"
wineboot -i </dev/null >/dev/null 2>&1

# A trial asks for the simulator, which says on every slip that no money
# moved, and for brennickd.
wine msiexec /i "$(winpath "$old")" /qn SIMULATOR=1 'EXCHANGEPATH=C:\Registers\exchange' \
  'JOURNALPATH=C:\Registers\journal' BRENNICKD=1 BRENNICKD_ORIGINS=https://pos.example,https://back.example </dev/null
expect LocationPath "$(value LocationPath)" 'C:\Program Files\Brennick\simulator\paysim.dll'
expect ExchangePath "$(value ExchangePath)" 'C:\Registers\exchange'
[ -d "$c/Registers/journal" ]
pay
grep -q 'data_to_print =\*\* SIMULATOR \*\*' "$c/Registers/exchange/output_ex.txt" ||
  { echo "check-msi-install: the simulator's slip does not say so" >&2; exit 1; }

services='HKLM\SYSTEM\CurrentControlSet\Services\brennickd'
image() {
  wine reg query "$services" /v ImagePath </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^ *ImagePath *REG_[A-Z_]* *//p'
}
image | grep -q -- '"--allow-origin" "https://pos.example,https://back.example"' ||
  { echo "check-msi-install: brennickd is not registered with its origins" >&2; exit 1; }
state=$c/ProgramData/Brennick/brennickd
[ -s "$state/token.txt" ]
grep -q '^state = ' "$state/brennickd.conf"

# What an administrator changes by hand: the library, the service's account
# and an argument, the port in the configuration.
mkdir -p "$c/Lib"
cp "$c/Program Files/Brennick/simulator/paysim.dll" "$c/Lib/"
wine reg add "$key" /v LocationPath /t REG_SZ /d 'C:\Lib\paysim.dll' /f </dev/null >/dev/null 2>&1
wine reg add "$services" /v ImagePath /t REG_EXPAND_SZ /d "$(image) \"--keep-days\" \"30\"" /f </dev/null >/dev/null 2>&1
wine reg add "$services" /v ObjectName /t REG_SZ /d 'NT SERVICE\brennickd' /f </dev/null >/dev/null 2>&1
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listen = 127.0.0.1:%s\r\n' "$port" >>"$state/brennickd.conf"
wineserver -k; wineserver -w   # the service manager reads them anew

wine msiexec /i "$(winpath "$new")" /qn UNATTENDED=1 </dev/null
expect "LocationPath after the upgrade" "$(value LocationPath)" 'C:\Lib\paysim.dll'
expect "ExchangePath after the upgrade" "$(value ExchangePath)" 'C:\Registers\exchange'
expect Unattended "$(value Unattended)" 1
image | grep -q -- '"--allow-origin" "https://pos.example,https://back.example" "--keep-days" "30"$' ||
  { echo "check-msi-install: the upgrade changed the service's arguments: $(image)" >&2; exit 1; }
wine reg query "$services" /v ObjectName </dev/null 2>/dev/null | tr -d '\r' | grep -q 'NT SERVICE\\brennickd' ||
  { echo "check-msi-install: the upgrade changed the service's account" >&2; exit 1; }
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
[ "$(wine reg query "$uninstall" /s </dev/null 2>/dev/null | tr -d '\r' | grep -c 'DisplayName *REG_SZ *Brennick$')" = 1 ] ||
  { echo "check-msi-install: the upgrade left two products" >&2; exit 1; }
# An administrator pairs a page as the guide says, with no option: the
# service and its port come from the installed configuration.
# Services live as long as Wine's server, which otherwise ends a few
# seconds after its last program.
wineserver -k; wineserver -w; wineserver -p
wine sc start brennickd </dev/null >/dev/null 2>&1 || true
paired=$(wine "C:\\Program Files\\Brennick\\brennickd.exe" pair </dev/null 2>&1) || true
case $paired in
  "pairing code "*) ;;
  *) echo "check-msi-install: brennickd pair: $paired" >&2; tail -3 "$state/brennickd.log" >&2; exit 1 ;;
esac
# A fleet's monitoring finds a register that pays through the simulator.
health=$(python3 -c 'import sys, urllib.request; print(urllib.request.urlopen(sys.argv[1], timeout=30).read().decode())' \
  "http://127.0.0.1:$port/v1/health")
case $health in
  *'"simulator":true'*) ;;
  *) echo "check-msi-install: /v1/health does not flag the simulator: $health" >&2; exit 1 ;;
esac
wine sc stop brennickd </dev/null >/dev/null 2>&1 || true
pay
[ "$(cat "$c"/Registers/journal/brennick-*.jsonl | grep -c '"outcome":"completed"')" = 2 ]

wine msiexec /x "$(winpath "$new")" /qn </dev/null
left=$( (find "$c/Program Files/Brennick" -type f 2>/dev/null || true) | wc -l)
[ "$left" = 0 ] || find "$c/Program Files/Brennick" -type f >&2
expect "program files left" "$left" 0
for name in LocationPath ExchangePath JournalPath Unattended; do
  expect "$name after the removal" "$(value "$name")" ""
done
if wine reg query "$services" </dev/null >/dev/null 2>&1; then
  echo "check-msi-install: the removal left the service brennickd" >&2
  exit 1
fi
ls "$c"/Registers/journal/brennick-*.jsonl >/dev/null
[ -f "$c/Registers/exchange/output_ex.dat" ]

# A service that cannot be registered (an origin without its scheme) fails
# the installation, which leaves nothing of the package behind.
set +e
wine msiexec /i "$(winpath "$new")" /qn BRENNICKD=1 BRENNICKD_ORIGINS=pos.example </dev/null
rc=$?
set -e
[ "$rc" -ne 0 ] || { echo "check-msi-install: an install whose service was not registered succeeded" >&2; exit 1; }
[ ! -e "$c/Program Files/Brennick/Brennick.exe" ] ||
  { echo "check-msi-install: a failed install left its files" >&2; exit 1; }
! wine reg query "$services" </dev/null >/dev/null 2>&1 ||
  { echo "check-msi-install: a failed install left a service" >&2; exit 1; }

# Deployed without any property, as group policy does it: no library is
# named, and Brennick's first run says so instead of paying through the
# simulator.
wine msiexec /i "$(winpath "$new")" /qn UNATTENDED=1 </dev/null
expect "LocationPath without properties" "$(value LocationPath)" ""
rm -f "$c/Registers/exchange/output_ex.dat"
set +e
(cd "$c/Program Files/Brennick" && wine Brennick.exe /o1 /a221 /c643 </dev/null >/dev/null 2>&1)
rc=$?
set -e
expect "a run without a library" "$rc" 2
wine msiexec /x "$(winpath "$new")" /qn </dev/null
echo "installed the package under Wine: a trial on the simulator that says so, an upgrade that keeps hand-set values, the service's account and arguments and the journal, pairing, removal, a failed registration rolled back, and an install without properties that names no library"

#!/usr/bin/env bash
# Installs a release zip as a Windows user does, under a fresh 32-bit Wine
# prefix: unpacked, the two paths of its settings file edited, the file
# imported with regedit, then a purchase against its simulator, which must
# be approved and journaled. Leaves nothing behind.
#   check-zip-install.sh Brennick-<version>-win32.zip
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
zip=$(realpath "$1")

scratch=$(mktemp -d -t brennick-zip-XXXXXX)
trap 'bash "$root/scripts/stop-wine.sh" "$scratch/wineprefix"; rm -rf "$scratch"' EXIT
win=$scratch/win
mkdir -p "$win/exchange" "$win/state"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$win/Brennick"
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's|/|\\|g')"; }
python3 - "$win/Brennick/registry/brennick-settings.reg" "$win/settings.reg" \
  "$(winpath "$win/Brennick/simulator/paysim.dll")" "$(winpath "$win/exchange")" \
  "$(winpath "$win/Brennick/journal")" <<'EOF'
import sys
source, target, library, exchange, journal = sys.argv[1:]
def doubled(path):   # a .reg file doubles every backslash
    return path.replace("\\", "\\\\")
with open(source, newline="") as f:
    text = f.read()
text = text.replace(doubled(r"C:\Brennick\simulator\paysim.dll"), doubled(library))
text = text.replace(doubled(r"C:\Exchange"), doubled(exchange))
text = text.replace(doubled(r"C:\Brennick\journal"), doubled(journal))
with open(target, "w", newline="") as f:
    f.write(text)
EOF
grep -q '^"LocationPath"="Z:' "$win/settings.reg" && grep -q '^"ExchangePath"="Z:' "$win/settings.reg" &&
  grep -q '^"JournalPath"="Z:' "$win/settings.reg"
(
  export WINEPREFIX=$scratch/wineprefix WINEARCH=win32 WINEDEBUG=-all
  wineboot -i </dev/null >/dev/null 2>&1
  wine regedit /S "$(winpath "$win/settings.reg")" </dev/null >/dev/null 2>&1
  cd "$win/Brennick"
  PAYSIM_STATE_DIR=$(winpath "$win/state") wine Brennick.exe /o1 /a221 /c643 </dev/null
)
grep -q '^RC=00' "$win/exchange/output_ex.dat"
# The journal is on, in the folder that the zip brings.
grep -q '"outcome":"completed"' "$win"/Brennick/journal/brennick-*.jsonl
echo "installed zip under Wine: approved purchase, journal written"

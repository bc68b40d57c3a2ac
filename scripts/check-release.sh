#!/usr/bin/env bash
# Builds the release twice, from two clones of the last commit in two
# different folders, and requires identical dist/ files; then installs the
# .deb into a scratch root and makes a purchase from there against its
# simulator; where Wine can run, unpacks the zip under a fresh Wine prefix,
# imports its settings file and makes a purchase the same way. Leaves
# nothing behind.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scratch=$(mktemp -d /tmp/brennick-release-XXXXXX)
trap 'bash "$root/scripts/stop-wine.sh" "$scratch/wineprefix"; rm -rf "$scratch"' EXIT

for n in 1 2; do
  git clone -q "$root" "$scratch/clone-$n-$RANDOM"
done
for clone in "$scratch"/clone-*; do
  echo "release in $clone"
  (cd "$clone" && bash scripts/release.sh >/dev/null)
done
set -- "$scratch"/clone-*
first=$1/dist
second=$2/dist
diff <(cd "$first" && ls) <(cd "$second" && ls)
for f in "$first"/*; do
  cmp "$f" "$second/$(basename "$f")"
done
echo "reproducible: $(ls "$first" | wc -l) files identical"
(cd "$first" && sha256sum -c --quiet SHA256SUMS)
size=$(python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).getinfo("Brennick.exe").file_size)' \
  "$(ls "$first"/Brennick-*-win32.zip)")
echo "Brennick.exe: $size bytes"
[ "$size" -le 262144 ] || { echo "Brennick.exe is larger than 256 KiB" >&2; exit 1; }
TMPDIR=$scratch lintian --fail-on warning "$(ls "$first"/brennick_*_amd64.deb)" 2>&1 | grep -v "root privileges" || true
TMPDIR=$scratch lintian --fail-on warning "$(ls "$first"/brennick_*_amd64.deb)" >/dev/null 2>&1

# The .deb unpacked, with the registry folder it ships and its simulator.
deb=$(ls "$first"/brennick_*_amd64.deb)
dpkg-deb -x "$deb" "$scratch/root"
key="$scratch/root/etc/brennick/registry/software/Merot/Dovrex Auth Library"
[ -d "$key" ] || { echo "the package lacks its registry folder" >&2; exit 1; }
mkdir -p "$scratch/exchange" "$scratch/state"
echo "$scratch/root/usr/lib/brennick/libpaysim.so" > "$key/LocationPath"
echo "$scratch/exchange" > "$key/ExchangePath"
BRENNICK_REGISTRY="$scratch/root/etc/brennick/registry" PAYSIM_STATE_DIR="$scratch/state" \
  "$scratch/root/usr/bin/brennick" /o1 /a221 /c643
grep -q '^RC=00' "$scratch/exchange/output_ex.dat"
echo "installed package: approved purchase"

# The zip as a Windows user installs it: unpacked, the two paths of the
# settings file edited, the file imported with regedit, a purchase made.
zip=$(ls "$first"/Brennick-*-win32.zip)
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "SKIPPED: the zip's install test under Wine: this machine cannot run 32-bit programs"
  exit 0
fi
win=$scratch/win
mkdir -p "$win/exchange" "$win/state"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$win/Brennick"
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's|/|\\|g')"; }
python3 - "$win/Brennick/registry/brennick-settings.reg" "$win/settings.reg" \
  "$(winpath "$win/Brennick/simulator/paysim.dll")" "$(winpath "$win/exchange")" <<'EOF'
import sys
source, target, library, exchange = sys.argv[1:]
def doubled(path):   # a .reg file doubles every backslash
    return path.replace("\\", "\\\\")
with open(source, newline="") as f:
    text = f.read()
text = text.replace(doubled(r"C:\Brennick\simulator\paysim.dll"), doubled(library))
text = text.replace(doubled(r"C:\Exchange"), doubled(exchange))
with open(target, "w", newline="") as f:
    f.write(text)
EOF
grep -q '^"LocationPath"="Z:' "$win/settings.reg" && grep -q '^"ExchangePath"="Z:' "$win/settings.reg"
(
  export WINEPREFIX=$scratch/wineprefix WINEARCH=win32 WINEDEBUG=-all
  wineboot -i </dev/null >/dev/null 2>&1
  wine regedit /S "$(winpath "$win/settings.reg")" </dev/null >/dev/null 2>&1
  cd "$win/Brennick"
  PAYSIM_STATE_DIR=$(winpath "$win/state") wine Brennick.exe /o1 /a221 /c643 </dev/null
)
grep -q '^RC=00' "$win/exchange/output_ex.dat"
echo "installed zip under Wine: approved purchase"

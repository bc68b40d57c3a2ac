#!/usr/bin/env bash
# Builds the release twice, from two clones of the last commit in two
# different folders, and requires identical dist/ files; then installs the
# .deb into a scratch root and makes a purchase from there against its
# simulator; then installs the zip under a fresh Wine prefix the same way.
# Leaves nothing behind.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scratch=$(mktemp -d -t brennick-release-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

for n in 1 2; do
  git clone -q "$root" "$scratch/clone-$n-$RANDOM"
done
# Signed as a signing release is, with a code-signing certificate made here:
# two builds signed with it must still be identical.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Brennick release check" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$scratch/sign.key" -out "$scratch/sign.pem" 2>/dev/null
export SIGN_CERT=$scratch/sign.pem SIGN_KEY=$scratch/sign.key
# What git does not track never reaches a release: one clone carries
# untracked files where the examples are.
set -- "$scratch"/clone-*
mkdir -p "$1/examples/python/__pycache__"
echo "$1" > "$1/examples/python/__pycache__/brennick_pay.cpython-311.pyc"
echo stray > "$1/examples/notes.txt"
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
# Each Windows program and the package carry a signature that verifies.
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "$(ls "$first"/Brennick-*-win32.zip)" "$scratch/signed"
for f in "$scratch/signed/Brennick.exe" "$scratch/signed/brennickd.exe" "$scratch/signed/simulator/paysim.dll" \
         "$(ls "$first"/Brennick-*-win32.msi)"; do
  osslsigncode verify -CAfile "$scratch/sign.pem" -in "$f" >"$scratch/verify.log" 2>&1 ||
    { cat "$scratch/verify.log" >&2; echo "the signature of $f does not verify" >&2; exit 1; }
done
echo "signed: the three programs and the package verify"
# The package's tables as an administrator's tools read them: the
# programs' versions, and a rebuild of one version as an upgrade.
version=$(sed -n 's/^project(Brennick VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
package=$(ls "$first"/Brennick-*-win32.msi)
for f in Brennick.exe brennickd.exe paysim.dll; do
  msiinfo export "$package" File | tr -d '\r' | awk -F'\t' -v f="$f" -v v="$version.0" '$1 == f && $5 == v {found = 1} END {exit !found}' ||
    { echo "the package's File table gives $f no version $version.0" >&2; exit 1; }
done
msiinfo export "$package" Upgrade | tr -d '\r' | awk -F'\t' '$7 == "WIX_UPGRADE_DETECTED" && $5 == 513 {found = 1} END {exit !found}' ||
  { echo "the package does not take a rebuild of its version as an upgrade" >&2; exit 1; }
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

# brennickd's unit as systemd reads it, and how much it exposes (goal: 4.5
# at most), with the package's own program in place of /usr/bin's.
unit=$scratch/brennickd.service
sed "s|/usr/bin/brennickd|$scratch/root/usr/bin/brennickd|" "$scratch/root/lib/systemd/system/brennickd.service" >"$unit"
systemd-analyze verify --man=no "$unit"
score=$(systemd-analyze security --offline=true "$unit" 2>/dev/null |
  sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
echo "brennickd.service: verified, security exposure $score (goal: at most 4.5)"
awk -v s="$score" 'BEGIN {exit !(s != "" && s <= 4.5)}'

# A check that may not be possible here: exit 125 says so and is skipped.
skippable() {   # skippable WHAT COMMAND...
  local what=$1 rc
  shift
  set +e
  "$@"
  rc=$?
  set -e
  if [ $rc -eq 125 ]; then
    echo "SKIPPED: $what: this machine cannot make what it needs"
  elif [ $rc -ne 0 ]; then
    exit $rc
  fi
}
# The zip as a Windows user installs it, then the Windows Installer package
# deployed silently, upgraded from an older package of the same files and
# removed: under the host's Wine where it runs, else in one boot of the
# Windows tests' virtual machine (this kernel cannot run 32-bit programs, or
# BRENNICK_WINE=vm) with the files copied in.
zip=$(ls "$first"/Brennick-*-win32.zip)
msi=$(ls "$first"/Brennick-*-win32.msi)
older=$scratch/Brennick-0.0.1-win32.msi
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$scratch/older"
rm -r "$scratch/older/registry" "$scratch/older/journal"
bash packaging/make_msi.sh "$scratch/older" 0.0.1 "$older"
# shellcheck source=wine-path.sh
. scripts/wine-path.sh
windows_installs() {
  if [ "$(wine_path)" = host ]; then
    bash scripts/check-zip-install.sh "$zip" && bash scripts/check-msi-install.sh "$msi" "$older"
    return
  fi
  local z m o
  z=/io/files/$(basename "$zip") m=/io/files/$(basename "$msi") o=/io/files/$(basename "$older")
  bash scripts/wine-vm.sh --file "$zip" --file "$msi" --file "$older" \
    sh -c "bash scripts/check-zip-install.sh $z && bash scripts/check-msi-install.sh $m $o"
}
skippable "the zip's and the Windows Installer package's install tests under Wine" windows_installs

# The README's service set-up in a container that boots systemd.
skippable "the README's service set-up in a systemd container" bash scripts/check-unit-container.sh "$deb"

# The package installed for real, where this machine has no Brennick of its
# own: the journal's group and folder, the value that turns it on, a line
# from a purchase, and a purge that takes settings and journal away.
if [ "$(id -u)" -ne 0 ] || [ -e /etc/brennick ] || [ -e /var/log/brennick ] ||
   dpkg -s brennick >/dev/null 2>&1 || getent group brennick >/dev/null || getent passwd brennickd >/dev/null; then
  echo "SKIPPED: installing the package for real: not root, or Brennick is installed here"
  exit 0
fi
dpkg -i "$deb" >/dev/null
key="/etc/brennick/registry/software/Merot/Dovrex Auth Library"
getent group brennick >/dev/null
[ "$(stat -c '%U:%G %a' /var/log/brennick)" = "root:brennick 2770" ] ||
  { echo "/var/log/brennick: $(stat -c '%U:%G %a' /var/log/brennick)" >&2; exit 1; }
[ "$(cat "$key/JournalPath")" = /var/log/brennick ]
# brennickd: its token for the group, its unit installed and not enabled.
[ "$(stat -c '%U:%G %a' /etc/brennick/brennickd.token)" = "root:brennick 640" ]
[ "$(wc -c < /etc/brennick/brennickd.token)" -ge 40 ]
[ -f /lib/systemd/system/brennickd.service ] && [ ! -e /etc/systemd/system/multi-user.target.wants/brennickd.service ]
# Its own user, in the group.
[ "$(id -gn brennickd)" = brennick ]
echo /usr/lib/brennick/libpaysim.so > "$key/LocationPath"
echo "$scratch/exchange" > "$key/ExchangePath"
PAYSIM_STATE_DIR="$scratch/state" brennick /o1 /a221 /c643
journal=$(ls /var/log/brennick/brennick-*.jsonl)
grep -q '"outcome":"completed"' "$journal"
[ "$(stat -c '%G %a' "$journal")" = "brennick 660" ]
dpkg --remove brennick >/dev/null
[ -e "$key/JournalPath" ] && [ -e "$journal" ]
dpkg --purge brennick >/dev/null
[ ! -e /etc/brennick ] && [ ! -e /var/log/brennick ]
! getent passwd brennickd >/dev/null && ! getent group brennick >/dev/null
echo "installed package: journal on in /var/log/brennick, brennickd's user, removed, purged with user and group"

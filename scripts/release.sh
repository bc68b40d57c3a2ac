#!/usr/bin/env bash
# Builds the release files into dist/, the same to the byte on every
# machine and in every working tree for one commit (only files that git
# tracks are packed, whatever else lies in the tree):
#   Brennick-<v>-win32.zip, Brennick-<v>-win32.msi, brennick_<v>_amd64.deb,
#   brennick-<v>-linux-x86_64.tar.gz, Brennick.exe.debug and brennick.debug
#   (linked from the programs), SHA256SUMS.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup.sh

# Every time stamp is the last commit's, every owner root.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export TZ=UTC LC_ALL=C
umask 022
version=$(sed -n 's/^project(Brennick VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# Built by the compiler itself: a cache's object would prove nothing about
# this build being reproducible.
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
for preset in release-native release-win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target brennick brennickd paysim >/dev/null
done
native=build/release-native/bin
win=build/release-win32/bin

rm -rf dist build/release-stage
mkdir -p dist build/release-stage
stage=$root/build/release-stage

# The programs stripped, their debug information beside them in dist/.
objcopy --only-keep-debug "$native/brennick" dist/brennick.debug
objcopy --strip-all --remove-section=.comment --add-gnu-debuglink=dist/brennick.debug "$native/brennick" "$stage/brennick"
i686-w64-mingw32-objcopy --only-keep-debug "$win/Brennick.exe" dist/Brennick.exe.debug
i686-w64-mingw32-objcopy --strip-all --add-gnu-debuglink=dist/Brennick.exe.debug \
  "$win/Brennick.exe" "$stage/Brennick.exe"
i686-w64-mingw32-objcopy --strip-all "$win/paysim.dll" "$stage/paysim.dll"
i686-w64-mingw32-objcopy --strip-all "$win/brennickd.exe" "$stage/brennickd.exe"

# Authenticode signatures where a certificate is given: SIGN_CERT and
# SIGN_KEY (PEM), or SIGN_PKCS12 (with SIGN_PASSWORD where it has one). The
# signing time is the commit's, so that two builds signed with one
# certificate stay identical to the byte; a release without one says
# "unsigned" at its end.
signing=unsigned
sign() {   # sign FILE
  local how=()
  if [ -n "${SIGN_PKCS12:-}" ]; then
    how=(-pkcs12 "$SIGN_PKCS12")
    [ -z "${SIGN_PASSWORD:-}" ] || how+=(-pass "$SIGN_PASSWORD")
  elif [ -n "${SIGN_CERT:-}" ] && [ -n "${SIGN_KEY:-}" ]; then
    how=(-certs "$SIGN_CERT" -key "$SIGN_KEY")
  else
    return 0
  fi
  osslsigncode sign "${how[@]}" -h sha256 -n Brennick -time "$SOURCE_DATE_EPOCH" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
  signing="signed"
}
for f in Brennick.exe brennickd.exe paysim.dll; do sign "$stage/$f"; done
objcopy --strip-all --remove-section=.comment "$native/brennickd" "$stage/brennickd"
objcopy --strip-unneeded --remove-section=.comment "$native/libpaysim.so" "$stage/libpaysim.so"
chmod 0644 dist/*.debug

# The man page, with the version in its footer.
sed "1s/\"Brennick\"/\"Brennick $version\"/" docs/brennick.1 > "$stage/brennick.1"

# --- Linux: one tree for the .deb and the .tar.gz
tree=$stage/linux
doc=$tree/usr/share/doc/brennick
install -d "$tree/usr/bin" "$tree/usr/lib/brennick" "$tree/usr/share/man/man1" "$doc" \
  "$tree/etc/brennick/registry/software/Merot/Dovrex Auth Library" "$tree/lib/systemd/system" \
  "$tree/usr/lib/sysusers.d"
install -m 0755 "$stage/brennick" "$tree/usr/bin/brennick"
install -m 0755 "$stage/brennickd" "$tree/usr/bin/brennickd"
install -m 0644 packaging/brennickd.service "$tree/lib/systemd/system/brennickd.service"
install -m 0644 packaging/debian/brennick.brennickd.sysusers "$tree/usr/lib/sysusers.d/brennickd.conf"
gzip -9n < docs/brennickd.1 > "$tree/usr/share/man/man1/brennickd.1.gz"
install -m 0644 "$stage/libpaysim.so" "$tree/usr/lib/brennick/libpaysim.so"
gzip -9n < "$stage/brennick.1" > "$tree/usr/share/man/man1/brennick.1.gz"
gzip -9n < README.md > "$doc/README.md.gz"
git ls-files -z examples clients 'docs/*.md' | while IFS= read -r -d '' f; do
  install -D -m 0644 "$f" "$doc/$f"
done
sed "s/@VERSION@/$version/; s/@DATE@/$(date -R -d "@$SOURCE_DATE_EPOCH")/" \
  packaging/changelog.in | gzip -9n > "$doc/changelog.gz"
cp packaging/copyright "$doc/copyright"
find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
  -C "$tree" -cf - . | gzip -9n > "dist/brennick-$version-linux-x86_64.tar.gz"

# The .deb: the same tree packed by debhelper (packaging/debian), which
# writes the maintainer scripts of the service and its user.
deb=$stage/deb
mkdir -p "$deb"
cp -a packaging/debian "$deb/debian"
cp -a "$tree" "$deb/tree"
sed "s/@VERSION@/$version/; s/@DATE@/$(date -R -d "@$SOURCE_DATE_EPOCH")/" packaging/changelog.in > "$deb/debian/changelog"
cp packaging/copyright "$deb/debian/copyright"
(cd "$deb" && dpkg-buildpackage -b -us -uc --no-sign >"$stage/dpkg-buildpackage.log" 2>&1) ||
  { tail -30 "$stage/dpkg-buildpackage.log" >&2; exit 1; }
cp "$stage/brennick_${version}_amd64.deb" dist/

# --- Windows: a zip of the program, the simulator, the examples and texts
examples=()
while IFS= read -r f; do
  case $f in *.bat|*.ps1) examples+=("$f=$f:crlf") ;; *) examples+=("$f=$f") ;; esac
done < <(git ls-files examples clients 'docs/*.md')
python3 packaging/make_zip.py "dist/Brennick-$version-win32.zip" "$SOURCE_DATE_EPOCH" \
  Brennick.exe="$stage/Brennick.exe" \
  brennickd.exe="$stage/brennickd.exe" \
  simulator/paysim.dll="$stage/paysim.dll" \
  registry/brennick-settings.reg=packaging/brennick-settings.reg:crlf \
  registry/brennick-settings-wow64.reg=packaging/brennick-settings-wow64.reg:crlf \
  journal/= \
  README.txt=README.md:crlf \
  LICENSE=LICENSE:crlf \
  brennick.1.txt=<(groff -man -Tascii -P-cbou "$stage/brennick.1"):crlf \
  "${examples[@]}"

# --- Windows Installer: what the zip holds, but the settings file (the
# package writes the settings) and the empty journal folder (it creates the
# one its property names).
msi=$stage/msi
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "dist/Brennick-$version-win32.zip" "$msi"
rm -r "$msi/registry" "$msi/journal"
find "$msi" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
bash packaging/make_msi.sh "$msi" "$version" "dist/Brennick-$version-win32.msi"
sign "dist/Brennick-$version-win32.msi"

(cd dist && sha256sum -- * > SHA256SUMS)
ls -l dist
echo "Windows programs and package: $signing"

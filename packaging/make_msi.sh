#!/usr/bin/env bash
# make_msi.sh STAGE VERSION OUT.msi: the Windows Installer package of the
# files in STAGE (Brennick.exe, brennickd.exe, simulator/, examples/, texts)
# with wixl, then the component conditions and the permanence that wixl's
# source language lacks, set in the package's tables with msibuild. The
# same inputs give the same bytes: the clock reads SOURCE_DATE_EPOCH, and
# the package code is made from the package's content.
set -euo pipefail
stage=$1
version=$2
out=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d -t brennick-msi-XXXXXX)
trap 'rm -rf "$work"' EXIT

# wixl takes sources relative to the folder it runs in.
cp -a "$stage" "$work/stage"
cd "$work"
# The examples, the clients that the web example imports, the guides.
for tree in examples clients docs; do
  group=$(echo "${tree:0:1}" | tr a-z A-Z)${tree:1}
  (cd stage && find "$tree" -type f | LC_ALL=C sort |
    wixl-heat --prefix "$tree/" --directory-ref "$(echo "$tree" | tr a-z A-Z)DIR" --component-group "$group" \
      --var "var.$group") |
    # Folders named by their names, not by a number that changes per run.
    sed -e "s/<Directory Id=\"dir[0-9A-F]*\" Name=\"\([A-Za-z0-9_]*\)\"/<Directory Id=\"${tree}_\1\" Name=\"\1\"/" \
        -e "s/<Directory Id=\"dir[0-9A-F]*\" Name=\"\.\"/<Directory Id=\"${tree}_here\" Name=\".\"/" > "$tree.wxs"
done
epoch=${SOURCE_DATE_EPOCH:-$(date +%s)}
at() { faketime "@$epoch" "$@"; }
# The product code comes from the version and the files: the same build
# gives the same code, a rebuild of one version with other files another
# one, which installs over the first (the upgrade's maximum version is
# inclusive, set below).
build=$(cd stage && find . -type f | LC_ALL=C sort | xargs sha256sum | sha256sum | cut -c1-16)
product=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID("7d4b5e0a-3c1f-4e84-9b6a-2f5c8d1e9a37"), "product " + sys.argv[1] + " " + sys.argv[2])).upper())' "$version" "$build")
at wixl -a x86 -D Version="$version" -D ProductCode="$product" -D Stage=stage -D Examples=stage/examples \
  -D Clients=stage/clients -D Docs=stage/docs -o package.msi "$here/brennick.wxs" examples.wxs clients.wxs docs.wxs \
  2> >(grep -v "^$" >&2)

# Each setting is written when its value is known; a folder is created
# where its property names one and stays when the package goes (16: the
# component is permanent); the service only when asked for.
q() { at msibuild package.msi -q "$1"; }
# The simulator's folder is known only after CostFinalize, where component
# conditions count: the value is written for SIMULATOR=1 too.
for c in "LocationValue LOCATIONPATH OR SIMULATOR = \"1\"" "ExchangeValue EXCHANGEPATH" "JournalValue JOURNALPATH" "UnattendedValue UNATTENDED" \
         "BrennickdService BRENNICKD = \"1\""; do
  q "UPDATE \`Component\` SET \`Condition\` = '${c#* }' WHERE \`Component\` = '${c%% *}'"
done
for c in "ExchangeFolder EXCHANGEPATH" "JournalFolder JOURNALPATH"; do
  q "UPDATE \`Component\` SET \`Condition\` = '${c#* }', \`Attributes\` = 16 WHERE \`Component\` = '${c%% *}'"
done
# 1 + 512: features migrated, the maximum version inclusive: a package of
# the same version and another build is an upgrade.
# (libmsi's SQL takes no UPDATE of that table: it goes through its text form).
msiinfo export package.msi Upgrade | tr -d '\r' |
  awk -F'\t' -v OFS='\t' '$7 == "WIX_UPGRADE_DETECTED" {$5 = 513} {print}' >Upgrade.idt
at msibuild package.msi -i Upgrade.idt
# The programs' versions, as their resources carry them: Windows Installer
# replaces a versioned file by its version.
q "UPDATE \`File\` SET \`Version\` = '$version.0' WHERE \`File\` = 'Brennick.exe' OR \`File\` = 'brennickd.exe' OR \`File\` = 'paysim.dll'"
# The properties the command line gives reach the installing service.
q "UPDATE \`Property\` SET \`Value\` = 'LOCATIONPATH;SIMULATOR;EXCHANGEPATH;JOURNALPATH;UNATTENDED;BRENNICKD;BRENNICKD_ORIGINS;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE \`Property\` = 'SecureCustomProperties'"
# A package code of its own for each content: wixl draws a new one per run.
summary() { at msibuild package.msi -s "Brennick $version: card payments through the installed payment library" \
  "The Brennick developers" "Intel;1033" "$1"; }
summary "{00000000-0000-0000-0000-000000000000}"
summary "{$(python3 -c 'import hashlib, sys, uuid; print(str(uuid.UUID(bytes=hashlib.sha256(open(sys.argv[1], "rb").read()).digest()[:16], version=4)).upper())' package.msi)}"
mv package.msi "$out"

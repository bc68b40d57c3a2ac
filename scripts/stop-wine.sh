#!/usr/bin/env bash
# Ends the wine server and every Wine program of the build tree's own prefix,
# and removes the server's socket folder from the temporary folder. Run at
# the end of the test command and of the Windows demo, also when they fail.
cd "$(dirname "$0")/.."
prefix=$PWD/build/win32/wineprefix
[ -d "$prefix" ] && command -v wineserver >/dev/null || exit 0
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
# The server's folder is named after the prefix's device and inode.
tmp=/tmp/.wine-$(id -u)
if dev=$(stat -c %D "$prefix") && ino=$(stat -c %i "$prefix"); then
  rm -rf "${tmp:?}/$(printf 'server-%x-%x' "0x$dev" "$ino")"
fi
rmdir "$tmp" 2>/dev/null
exit 0

#!/usr/bin/env bash
# Ends the wine server and every Wine program of a prefix (the build tree's
# own unless one is named), and removes the server's socket folder from the
# temporary folder. Run at the end of the test command, of the Windows demo
# and of the release's install test, also when they fail.
cd "$(dirname "$0")/.." || exit 1
prefix=${1:-$PWD/build/win32/wineprefix}
[ -d "$prefix" ] || exit 0
if command -v wineserver >/dev/null; then
  WINEPREFIX=$prefix timeout 60 wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix timeout 60 wineserver -w >/dev/null 2>&1
fi
# Debian's Wine keeps the server's folder in a private /tmp/wine-XXXXXX whose
# name it writes into the prefix's file "wineserver"; upstream Wine uses
# /tmp/.wine-<uid>/server-<dev>-<ino>. Both go, so that Wine makes new ones.
if [ -f "$prefix/wineserver" ]; then
  name=$(cat "$prefix/wineserver")
  case $name in
    wine-??????) rm -rf "/tmp/${name:?}" ;;
  esac
  rm -f "$prefix/wineserver"
fi
tmp=/tmp/.wine-$(id -u)
if dev=$(stat -c %D "$prefix") && ino=$(stat -c %i "$prefix"); then
  rm -rf "${tmp:?}/$(printf 'server-%x-%x' "0x$dev" "$ino")"
fi
rmdir "$tmp" 2>/dev/null
exit 0

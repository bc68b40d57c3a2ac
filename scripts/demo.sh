#!/usr/bin/env bash
# The main job out of the box: a purchase of 2.21 RUB against the terminal
# simulator, then the three result files.
#   scripts/demo.sh            the POSIX build
#   scripts/demo.sh --windows  Brennick.exe under Wine (in a virtual machine
#                              where this kernel cannot run 32-bit programs)
# Any further arguments replace the switches "/o1 /a221 /c643".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

windows=no
if [ "${1:-}" = "--windows" ]; then
  windows=yes
  shift
fi
switches=("$@")
[ ${#switches[@]} -gt 0 ] || switches=(/o1 /a221 /c643)

# Inside the virtual machine of scripts/wine-vm.sh the build comes along.
built=${BRENNICK_DEMO_BUILT:-no}
[ "$built" = yes ] || bash scripts/setup.sh

# shellcheck source=wine-path.sh
. scripts/wine-path.sh
if [ $windows = yes ] && [ "$(wine_path)" = vm ]; then
  echo "demo: Brennick.exe runs under Wine in a virtual machine (scripts/wine-vm.sh)" >&2
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 --target brennick paysim >/dev/null
  exec bash scripts/wine-vm.sh env BRENNICK_DEMO_BUILT=yes bash scripts/demo.sh --windows "${switches[@]}"
fi

show() {
  for f in "$1"/output.dat "$1"/output_ex.dat "$1"/output_ex.txt; do
    echo "--- $(basename "$f")"
    if [ -f "$f" ]; then tr -d '\r' < "$f"; echo; else echo "(not written)"; fi
  done
}

if [ $windows = no ]; then
  cmake --preset native >/dev/null
  cmake --build --preset native --target brennick paysim >/dev/null
  demo=$root/build/native/demo
  key="$demo/registry/software/Merot/Dovrex Auth Library"
  mkdir -p "$key" "$demo/exchange" "$demo/state" "$demo/journal"
  printf '%s\n' "$root/build/native/bin/libpaysim.so" > "$key/LocationPath"
  printf '%s\n' "$demo/exchange" > "$key/ExchangePath"
  printf '%s\n' "$demo/journal" > "$key/JournalPath"
  echo "\$ brennick ${switches[*]}"
  set +e
  BRENNICK_REGISTRY="$demo/registry" PAYSIM_STATE_DIR="$demo/state" \
    "$root/build/native/bin/brennick" "${switches[@]}"
  code=$?
  set -e
else
  trap 'bash "$root/scripts/stop-wine.sh"' EXIT
  if [ "$built" != yes ]; then
    cmake --preset win32 >/dev/null
    cmake --build --preset win32 --target brennick paysim >/dev/null
  fi
  demo=$root/build/win32/demo
  mkdir -p "$demo/exchange" "$demo/state" "$demo/journal"
  wine=$root/build/win32/wine-run.sh
  winpath() { echo "Z:${1//\//\\}"; }
  k='HKLM\software\Merot\Dovrex Auth Library'
  "$wine" reg add "$k" /v LocationPath /t REG_SZ /d "$(winpath "$root/build/win32/bin/paysim.dll")" /f >/dev/null
  "$wine" reg add "$k" /v ExchangePath /t REG_SZ /d "$(winpath "$demo/exchange")" /f >/dev/null
  "$wine" reg add "$k" /v JournalPath /t REG_SZ /d "$(winpath "$demo/journal")" /f >/dev/null
  echo "\$ Brennick.exe ${switches[*]}"
  set +e
  PAYSIM_STATE_DIR="$(winpath "$demo/state")" "$wine" "$root/build/win32/bin/Brennick.exe" "${switches[@]}"
  code=$?
  set -e
fi
echo "exit code: $code"
show "$demo/exchange"
echo "--- journal (this run's lines)"
latest=$(ls -t "$demo"/journal/brennick-*.jsonl 2>/dev/null | head -n 1)
[ -n "$latest" ] && tail -n 2 "$latest"

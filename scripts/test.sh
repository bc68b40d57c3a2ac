#!/usr/bin/env bash
# Installs what is missing, then builds and tests every preset: the POSIX
# build, the same under AddressSanitizer and UndefinedBehaviorSanitizer, and
# the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

presets=(native native-asan win32)
for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== demo"
rm -f build/native/demo/exchange/output_ex.dat
bash scripts/demo.sh >/dev/null
if grep -q '^RC=00' build/native/demo/exchange/output_ex.dat; then
  echo "demo: approved purchase"
else
  echo "demo: no approved purchase in output_ex.dat" >&2
  exit 1
fi

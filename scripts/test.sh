#!/usr/bin/env bash
# Installs what is missing, then builds and tests everything: the POSIX
# build, the same under AddressSanitizer and UndefinedBehaviorSanitizer, the
# Windows build under Wine, static analysis, the fuzzers for a bounded time
# (FUZZ_SECONDS, default 20 each), the demo as a smoke test, the brennickd
# benchmark, and the release built twice and compared, its package installed
# and used. BRENNICK_WINE=host|vm|auto chooses the Wine of the Windows tests
# (scripts/wine-path.sh). Ends with the minutes of each stage and which Wine
# ran the Windows tests. Leaves no Wine process and nothing in the temporary
# folder behind, also on failure.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=wine-path.sh
. scripts/wine-path.sh

log=$(mktemp)
stage_name=""
stage_start=0
stage_lines=()
windows_ran="did not run"
machine=""

begin_stage() {
  stage_name=$1
  stage_start=$SECONDS
  echo "== $1"
}
end_stage() {
  stage_lines+=("$(printf '%-11s %5s min' "$stage_name" \
    "$(awk -v s=$((SECONDS - stage_start)) 'BEGIN {printf "%.1f", s / 60}')")")
  stage_name=""
}
# The stage times also when a stage fails: they show where it stopped.
summary() {
  local rc=$?
  if [ -n "$stage_name" ]; then
    end_stage
    stage_lines[-1]+="  (failed)"
  fi
  echo "== stage times"
  printf '%s\n' "${stage_lines[@]}"
  printf '%-11s %5s min\n' total "$(awk -v s=$SECONDS 'BEGIN {printf "%.1f", s / 60}')"
  echo "Windows tests: $windows_ran"
  rm -f "$log"
  [ -z "$machine" ] || kill "$machine" 2>/dev/null || true
  bash scripts/stop-wine.sh
  exit $rc
}
trap summary EXIT

# The machine of a changed recipe, made beside the builds, runs brennickd's
# Windows test as well.
try_new_machine() {
  local rc
  set +e
  wait "$machine"
  rc=$?
  machine=""
  cat build/wine-vm-prepare.log
  if [ "$rc" -eq 0 ]; then
    bash scripts/wine-vm.sh ctest --preset win32 --output-on-failure -R brennickd_wine | tee -a "$log"
    rc=${PIPESTATUS[0]}
  fi
  set -e
  if [ "$rc" -eq 125 ]; then
    windows_ran+="; the virtual machine's new recipe was not tried: SKIPPED, no machine can be made here"
  elif [ "$rc" -ne 0 ]; then
    windows_ran+="; brennickd's Windows test failed in the virtual machine of the new recipe"
    exit "$rc"
  else
    windows_ran+="; the virtual machine's new recipe tried with brennickd's Windows test"
  fi
}

begin_stage setup
bash scripts/setup.sh
path=$(wine_path)
end_stage

# The builds that need not prove reproducibility go through a compiler
# cache kept outside the clone, which a second clone then finds warm; the
# release's own builds stay out of it (scripts/release.sh).
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi

# The virtual machine is made (where no image of its recipe is cached yet)
# while the POSIX builds run: mostly downloads and unpacking. Where the
# host runs Wine, the machine is made and tried only when its recipe has
# changed, so that a change to it cannot land untried.
try_machine=no
if [ "$path" = host ] && [ "${BRENNICK_WINE:-auto}" = auto ] && ! bash scripts/wine-vm.sh --has-image; then
  try_machine=yes
fi
if [ "$path" = vm ] || [ $try_machine = yes ]; then
  mkdir -p build
  bash scripts/wine-vm.sh --prepare >build/wine-vm-prepare.log 2>&1 &
  machine=$!
fi

# Wine runs the Windows build as a 32-bit process through its 32-bit loader,
# /usr/lib/wine/wine. Some kernels have 32-bit emulation switched off; there
# the Windows tests run under Wine in a virtual machine whose kernel has it
# on (scripts/wine-vm.sh), and where even that cannot be made, the skip is
# reported, never hidden.
declare -A stage_of=([native]=native [native-asan]=sanitizers [win32]=Windows [fuzz]=fuzzers)
for preset in native native-asan win32 fuzz; do
  begin_stage "${stage_of[$preset]}"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = win32 ] && [ "$path" = vm ]; then
    ctest --preset "$preset" -R binary_ | tee -a "$log"
    set +e
    wait "$machine"
    rc=$?
    set -e
    machine=""
    cat build/wine-vm-prepare.log
    echo "the Windows tests under Wine run in a virtual machine" \
         "($(host_wine_runs && echo "BRENNICK_WINE=vm" || echo "this kernel cannot run 32-bit programs"))"
    if [ "$rc" -eq 0 ]; then
      set +e
      bash scripts/wine-vm.sh ctest --preset "$preset" --output-on-failure -E binary_ | tee -a "$log"
      rc=${PIPESTATUS[0]}
      set -e
    fi
    if [ "$rc" -eq 125 ]; then
      windows_ran="SKIPPED: this machine cannot run 32-bit programs nor a virtual machine that can; only the binary checks ran"
      echo "$windows_ran" | tee -a "$log"
    elif [ "$rc" -ne 0 ]; then
      windows_ran="failed in the virtual machine (scripts/wine-vm.sh)"
      exit "$rc"
    else
      windows_ran="under Wine in the virtual machine (scripts/wine-vm.sh)"
    fi
  else
    ctest --preset "$preset" | tee -a "$log"
    [ "$preset" != win32 ] || windows_ran="under the host's Wine"
    if [ "$preset" = win32 ] && [ $try_machine = yes ]; then
      try_new_machine
    fi
  fi
  end_stage
done

begin_stage analysis
bash scripts/analyze.sh
end_stage

begin_stage demo
rm -f build/native/demo/exchange/output_ex.dat
bash scripts/demo.sh >/dev/null
if grep -q '^RC=00' build/native/demo/exchange/output_ex.dat; then
  echo "demo: approved purchase"
else
  echo "demo: no approved purchase in output_ex.dat" >&2
  exit 1
fi
end_stage

begin_stage benchmark
python3 bench/brennickd_bench.py --runs 50
end_stage

begin_stage release
bash scripts/check-release.sh
end_stage

# A failing ctest has stopped the script already: what is counted here passed.
total=$(sed -n 's/.*tests failed out of \([0-9]*\)/\1/p' "$log" | awk '{s += $1} END {print s + 0}')
skipped=$(grep -c '(Skipped)' "$log" || true)
echo "tests: $((total - skipped)) passed, 0 failed, $skipped skipped"

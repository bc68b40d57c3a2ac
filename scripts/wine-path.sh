# shellcheck shell=bash
# Sourced by the scripts that run Windows programs: which Wine they take.
#   BRENNICK_WINE=host  the host's Wine; fails where this kernel cannot run it
#   BRENNICK_WINE=vm    Wine in scripts/wine-vm.sh's machine, even where the
#                       host's would work
#   BRENNICK_WINE=auto  (default) the host's where it works, else the machine
# wine_path prints "host" or "vm", or says what is wrong and returns 2.

host_wine_runs() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

wine_path() {
  case ${BRENNICK_WINE:-auto} in
    host)
      if host_wine_runs; then echo host; return 0; fi
      echo "BRENNICK_WINE=host, but the host's Wine cannot run here" \
           "(no Wine installed, or the kernel's ia32 emulation is off)" >&2
      return 2 ;;
    vm) echo vm ;;
    auto) if host_wine_runs; then echo host; else echo vm; fi ;;
    *)
      echo "BRENNICK_WINE must be host, vm or auto, not \"$BRENNICK_WINE\"" >&2
      return 2 ;;
  esac
}

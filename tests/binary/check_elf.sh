#!/bin/sh
# check_elf.sh PROGRAM: links only the C and C++ runtimes and the loader.
set -e
needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
echo "needs:" $needed
[ -n "$needed" ] || { echo "no dynamic dependencies read" >&2; exit 1; }
for lib in $needed; do
  case "$lib" in
    libc.so.*|libm.so.*|libstdc++.so.*|libgcc_s.so.*|libdl.so.*|ld-linux*.so.*) ;;
    *) echo "links a library beyond the runtimes and the loader: $lib" >&2; exit 1 ;;
  esac
done

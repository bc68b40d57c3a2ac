#!/bin/sh
# check_pe.sh EXE: a 32-bit GUI program that imports only system DLLs.
set -e
exe=$1
description=$(file -b "$exe")
echo "$description"
case "$description" in
  "PE32 executable (GUI) Intel 80386"*) ;;
  *) echo "not a PE32 GUI program for Intel 80386" >&2; exit 1 ;;
esac
dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
echo "imports:" $dlls
for dll in $dlls; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|MSVCRT.DLL|GDI32.DLL|SHELL32.DLL|NTDLL.DLL) ;;
    *) echo "imports a DLL that is not part of Windows: $dll" >&2; exit 1 ;;
  esac
done

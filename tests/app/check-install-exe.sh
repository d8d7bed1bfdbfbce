#!/bin/sh
# Install.exe stays within its size budget and imports only DLLs that every
# Windows has and always loads from the system directory (Known DLLs): a
# DLL of any other name could be planted beside it, in a downloads folder,
# and would be loaded before the program's first instruction.
# Usage: check-install-exe.sh INSTALL_EXE OBJDUMP
set -eu
exe=$1
objdump=$2
size=$(wc -c <"$exe")
echo "Install.exe: $size bytes (budget 65536)"
[ "$size" -le 65536 ] || { echo "Install.exe is larger than 64 KiB"; exit 1; }
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort -u)
echo "imports:" "$(echo "$imports" | tr "\n" " ")"
[ -n "$imports" ] || { echo "no import table found"; exit 1; }
for dll in $imports; do
  case "$dll" in
    kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll | advapi32.dll) ;;
    *) echo "Install.exe imports $dll"; exit 1 ;;
  esac
done

#!/bin/sh
# Install.exe stays within its size budget and imports only DLLs that every
# Windows has and always loads from the system directory (Known DLLs): a
# DLL of any other name could be planted beside it, in a downloads folder,
# and would be loaded before the program's first instruction.
# It has its own entry point, InstallEntry (the linker only warns when the
# named symbol is missing, and then starts the program wherever .text
# begins), and no C runtime start-up, so nothing may need
# that start-up: no static constructors or destructors, no thread-local data
# (the link map shows every input section that went in).
# Usage: check-install-exe.sh INSTALL_EXE OBJDUMP LINK_MAP
set -eu
exe=$1
objdump=$2
map=$3
budget=32768
size=$(wc -c <"$exe")
echo "Install.exe: $size bytes (budget $budget)"
[ "$size" -le "$budget" ] || { echo "Install.exe is larger than 32 KiB"; exit 1; }
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort -u |
  tr '\n' ' ')
echo "imports: $imports"
[ -n "$imports" ] || { echo "no import table found"; exit 1; }
for dll in $imports; do
  case "$dll" in
    kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll | advapi32.dll) ;;
    *) echo "Install.exe imports $dll"; exit 1 ;;
  esac
done
# The header's entry point is where the link map puts InstallEntry (on x86
# with the C calling convention's underscore).
start=$("$objdump" -f "$exe" | sed -n 's/^start address //p')
entry=$(awk '$2 == "InstallEntry" || $2 == "_InstallEntry" { print $1; exit }' "$map")
echo "entry point: $start, InstallEntry: ${entry:-not in the link map}"
if [ -z "$start" ] || [ -z "$entry" ] || [ $((start)) -ne $((entry)) ]; then
  echo "Install.exe does not start at InstallEntry"
  exit 1
fi
# An input section line reads " NAME ADDRESS SIZE FILE"; a long NAME stands
# alone, its ADDRESS SIZE FILE on the next line.
startup=$(awk '
  pending != "" { if ($2 != "0x0") print pending, $3; pending = ""; next }
  $1 ~ /^\.(ctors|dtors|init_array|fini_array|tls|CRT)/ {
    if (NF == 1) pending = $1; else if (NF >= 4 && $3 != "0x0") print $1, $4
  }' "$map")
[ -z "$startup" ] || { echo "needs the C runtime start-up, which Install.exe does not have:"; echo "$startup"; exit 1; }
echo "no static constructors, destructors or thread-local data"

#!/usr/bin/env bash
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
set -u
# shellcheck source=scripts/shell-lib.sh
source "$(dirname "$0")/../../scripts/shell-lib.sh"
exe=$1
objdump=$2
map=$3
budget=32768

size=$(wc -c <"$exe")
check "Install.exe: $size bytes, within $budget" [ "$size" -le "$budget" ]

imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort -u |
  tr '\n' ' ')
imports=${imports% }
# shellcheck disable=SC2317  # called through check
only_known_dlls() {
  [ -n "$imports" ] || return 1
  for dll in $imports; do
    case "$dll" in
      kernel32.dll | user32.dll | gdi32.dll | msvcrt.dll | advapi32.dll) ;;
      *) return 1 ;;
    esac
  done
}
check "imports ${imports:-nothing (no import table found)}: Known DLLs only" only_known_dlls

# The header's entry point is where the link map puts InstallEntry (on x86
# with the C calling convention's underscore).
start=$("$objdump" -f "$exe" | sed -n 's/^start address //p')
entry=$(awk '$2 == "InstallEntry" || $2 == "_InstallEntry" { print $1; exit }' "$map")
# shellcheck disable=SC2317  # called through check
starts_at_install_entry() { [ -n "$start" ] && [ -n "$entry" ] && [ $((start)) -eq $((entry)) ]; }
check "entry point ${start:-unknown} is InstallEntry's, ${entry:-not in the link map}" starts_at_install_entry

# An input section line reads " NAME ADDRESS SIZE FILE"; a long NAME stands
# alone, its ADDRESS SIZE FILE on the next line.
startup=$(awk '
  pending != "" { if ($2 != "0x0") print pending, $3; pending = ""; next }
  $1 ~ /^\.(ctors|dtors|init_array|fini_array|tls|CRT)/ {
    if (NF == 1) pending = $1; else if (NF >= 4 && $3 != "0x0") print $1, $4
  }' "$map")
check "no static constructors, destructors or thread-local data (the C runtime start-up it lacks)" \
  [ -z "$startup" ]
[ -z "$startup" ] || awk '{ print "    " $0 }' <<<"$startup"
checks_end "checking Install.exe" \
  "the link map (Install.map beside it) shows what went in: keep what Install.exe links within its budget, its imports and its start-up"

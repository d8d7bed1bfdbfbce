#!/usr/bin/env bash
# Every function that Install.exe imports, and every import that the Win32
# backend libraries reference, is listed in the call table
# (platform/win32/Win32Calls.h: the system calls, each made as osName and
# replaceable by a test, and the C library's functions): a new system call
# made by its plain name, or a new import of any kind, fails here until it
# has its line there. Runs nothing it checks, so that it holds for the
# 32-bit build where 32-bit code cannot run.
# Usage: check-win32-imports.sh CXX OBJDUMP NM INSTALL_EXE LIBRARY...
set -u
# shellcheck source=scripts/shell-lib.sh
source "$(dirname "$0")/../../scripts/shell-lib.sh"
cxx=$1 objdump=$2 nm=$3 exe=$4
shift 4
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

# The table's names, as the compiler expands its lists.
listed=$(printf '%s\n' '#include "platform/win32/Win32Calls.h"' \
  '#define LISTED_CALL(name, ...) LISTED name' 'PLATFORM_WIN32_CALLS(LISTED_CALL)' \
  '#define LISTED_NAME(name) LISTED name' 'PLATFORM_WIN32_C_LIBRARY(LISTED_NAME)' |
  "$cxx" -E -P -x c++ -std=c++17 -DWIN32_LEAN_AND_MEAN -DNOMINMAX -I"$source_dir" - |
  grep -o 'LISTED [A-Za-z_][A-Za-z_0-9]*' | cut -d' ' -f2 | sort -u)
check "the call table lists $(wc -l <<<"$listed") names" [ "$(wc -l <<<"$listed")" -gt 50 ]

# Install.exe's imports: the name column of each DLL's table.
imported=$("$objdump" -p "$exe" | awk '
  /^[[:space:]]*DLL Name:/ { in_dll = 1; next }
  in_dll && /^[[:space:]]*$/ { in_dll = 0 }
  in_dll && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ && NF >= 3 { print $3 }' | sort -u)
check "Install.exe imports $(wc -l <<<"$imported") functions" [ -n "$imported" ]

# What the libraries import: __imp_ symbols, on x86 with the C names'
# underscore and a stdcall function's @bytes.
underscore=
"$objdump" -f "$exe" | grep -q 'pei-i386' && underscore=_
referenced=$("$nm" -u "$@" 2>/dev/null | sed -n "s/^ *U __imp_$underscore//p" | sed 's/@[0-9]*$//' | sort -u)
check "the libraries reference $(wc -l <<<"$referenced") imports" [ -n "$referenced" ]

# shellcheck disable=SC2317  # called through check
all_listed() {  # all_listed NAMES: each one in the table, else named here
  local missing
  missing=$(comm -23 <(printf '%s\n' "$1") <(printf '%s\n' "$listed"))
  [ -z "$missing" ] && return 0
  awk '{ print "    not in platform/win32/Win32Calls.h: " $0 }' <<<"$missing"
  return 1
}
check "every import of Install.exe is in the call table" all_listed "$imported"
check "every import of $(printf '%s ' "${@##*/}")is in the call table" all_listed "$referenced"
checks_end "checking the imports against the call table" \
  "add each name above to its list in platform/win32/Win32Calls.h (a system call: made as osName), or call it through one that is there"

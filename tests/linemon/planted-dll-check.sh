#!/usr/bin/env bash
# Checks that a Windows program never loads a DLL planted beside it.
#
#   planted-dll-check.sh --objdump OBJDUMP [--expect-loaded]
#                        [--timeout SECONDS [--window CLASS WAITER]]
#                        [--also NAME]... RUNNER DLL PROGRAM [ARGS...]
#
# Copies PROGRAM and the planted DLL (see PlantedDll.c) into a fresh
# directory, runs the copy there through RUNNER (wine, or ctest's emulator)
# and looks for the marker the DLL leaves when it is loaded. Also checks,
# with the build's OBJDUMP, that PROGRAM does not import the DLL statically.
# With --timeout, a program still running after SECONDS (a window waiting
# for the user) is ended and counts as having run; with --window it must
# have shown a window of CLASS by then, as WAITER (a program that waits for
# one) tells. --also plants the same DLL under another system DLL name too,
# checked the same way. --expect-loaded turns the check round, to show that
# the planting itself works. Exits 0 when every check holds.
set -euo pipefail

expect=absent
timeout=
window=
waiter=
also=()
objdump=
while [ $# -gt 0 ]; do
  case "$1" in
    --expect-loaded) expect=loaded; shift ;;
    --timeout) timeout=$2; shift 2 ;;
    --window) window=$2; waiter=$3; shift 3 ;;
    --also) also+=("$2"); shift 2 ;;
    --objdump) objdump=$2; shift 2 ;;
    *) break ;;
  esac
done
# shellcheck source=scripts/shell-lib.sh
source "$(dirname "$0")/../../scripts/shell-lib.sh"
if [ $# -lt 3 ] || [ -z "$objdump" ]; then
  fail_at "reading the command line" "needs --objdump OBJDUMP, RUNNER, DLL and PROGRAM" \
    "usage: $0 --objdump OBJDUMP [--expect-loaded] [--timeout S] RUNNER DLL PROGRAM [ARGS...]" 2
fi
runner=$1 dll=$2 program=$3
shift 3
dll_name=$(basename "$dll")
program_name=$(basename "$program")

# shellcheck disable=SC2317  # called through check
not_imported() {
  local imports
  # An objdump of the other architecture reads nothing: that must fail, not pass.
  imports=$("$objdump" -p "$program") || return 1
  ! grep -iq "DLL Name: ${dll_name}\$" <<<"$imports"
}
[ "$expect" = loaded ] || check "$program_name does not import $dll_name" not_imported

dir=$(mktemp -d "${TMPDIR:-/tmp}/planted-XXXXXX")
trap 'rm -rf "$dir"' EXIT
cp "$program" "$dir/"
copy="$dir/$program_name"
# Wine prefers its own builtin DLLs; Windows looks in the program's
# directory first. Make Wine take a DLL found there, as Windows would.
for name in "$dll_name" "${also[@]}"; do
  cp "$dll" "$dir/$name"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}${name%.*}=n,b"
done

status=0
if [ -n "$timeout" ]; then
  (cd "$dir" && timeout -k 5 "$timeout" "$runner" "$copy" "$@") &
  program_pid=$!
  if [ -n "$window" ]; then
    check "$program_name showed its window ($window)" \
      "$runner" "$waiter" "$window" "$timeout" "$("$runner" winepath -w "$copy" 2>/dev/null | tr -d '\r')"
  fi
  wait "$program_pid" || { status=$?; [ "$status" -ne 124 ] || status=0; }  # 124: ended by us
else
  (cd "$dir" && "$runner" "$copy" "$@") || status=$?
fi
check "$program_name ran (exit status $status)" [ "$status" -eq 0 ]

# shellcheck disable=SC2317  # called through check
as_expected() { if [ "$expect" = loaded ]; then [ -e "$dir/$1.loaded" ]; else [ ! -e "$dir/$1.loaded" ]; fi; }
for name in "$dll_name" "${also[@]}"; do
  what="not loaded"
  [ ! -e "$dir/$name.loaded" ] || what="loaded (by $(cat "$dir/$name.loaded"))"
  check "$name planted beside $program_name was $what" as_expected "$name"
done
todo="a DLL loaded from beside the program runs as it: load it from the system directory only (platform/win32/Win32DllSearch.h)"
[ "$expect" = absent ] || todo="the planting itself does not work: see the DLL override (WINEDLLOVERRIDES) and PlantedDll.c"
checks_end "planting $dll_name beside $program_name" "$todo"

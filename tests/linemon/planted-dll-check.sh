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
# the planting itself works. Exits 0 when the expectation holds.
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
if [ $# -lt 3 ] || [ -z "$objdump" ]; then
  echo "usage: $0 --objdump OBJDUMP [--expect-loaded] [--timeout S] RUNNER DLL PROGRAM [ARGS...]" >&2
  exit 2
fi
runner=$1 dll=$2 program=$3
shift 3
dll_name=$(basename "$dll")

if [ "$expect" = absent ]; then
  # An objdump of the other architecture reads nothing: that must fail, not pass.
  imports=$("$objdump" -p "$program")
  if grep -iq "DLL Name: ${dll_name}\$" <<<"$imports"; then
    echo "FAIL: $(basename "$program") imports $dll_name statically" >&2
    exit 1
  fi
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/planted-XXXXXX")
trap 'rm -rf "$dir"' EXIT
cp "$program" "$dir/"
copy="$dir/$(basename "$program")"
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
  if [ -n "$window" ] &&
     ! "$runner" "$waiter" "$window" "$timeout" "$("$runner" winepath -w "$copy" 2>/dev/null | tr -d '\r')"; then
    echo "FAIL: $(basename "$program") never showed its window ($window)" >&2
    status=1
  fi
  wait "$program_pid" || { code=$?; [ "$code" -eq 124 ] || status=$code; }  # 124: ended by us
else
  (cd "$dir" && "$runner" "$copy" "$@") || status=$?
fi
if [ "$status" -ne 0 ]; then
  echo "FAIL: $(basename "$program") exited with $status" >&2
  exit 1
fi

loaded=0
for name in "$dll_name" "${also[@]}"; do
  if [ -e "$dir/$name.loaded" ]; then
    echo "$name planted beside $(basename "$program") was loaded (by $(cat "$dir/$name.loaded"))"
    loaded=1
  else
    echo "$name planted beside $(basename "$program") was not loaded"
  fi
done
[ "$expect" = loaded ] && exit $((1 - loaded))
exit $loaded

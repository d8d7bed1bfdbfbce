#!/usr/bin/env bash
# ctest's Wine emulator (cmake/wine-run.sh) runs a program once more when
# Wine could not start it. Wine's complaint comes on standard output, so a
# check that reads only standard error never fires: a file that is no
# program makes Wine say exactly what it says when it fails under load.
set -u
# shellcheck source=scripts/shell-lib.sh
source "$(dirname "$0")/../../scripts/shell-lib.sh"
run=$(cd "$(dirname "$0")/../.." && pwd)/cmake/wine-run.sh
dir=$(mktemp -d "${TMPDIR:-/tmp}/wine-run-check-XXXXXX")
trap 'rm -rf "$dir"' EXIT
echo "not a program" >"$dir/broken.exe"
bash "$run" "$dir/broken.exe" >"$dir/out" 2>"$dir/err"
status=$?
check "a program Wine cannot start fails ($status)" [ "$status" -ne 0 ]
check "it is run once more, and wine-run says so" \
  [ "$(grep -c 'wine-run: Wine could not start the program' "$dir/err")" -eq 1 ]
check "Wine's own words still reach the caller, once for each run" \
  [ "$(grep -c '^Application could not be started' "$dir/out")" -eq 2 ]
checks_end "checking cmake/wine-run.sh" \
  "cmake/wine-run.sh must see Wine's 'Application could not be started' on standard output and run the program once more"

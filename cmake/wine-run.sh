#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest, with the loader wine_choose
# picks (scripts/shell-lib.sh). Uses $WINEPREFIX when set
# (scripts/test-all.sh sets a throw-away one); otherwise a private prefix
# of this user's, made on first use. Its exit status is the program's.
# shellcheck source=scripts/shell-lib.sh
. "$(dirname "$0")/../scripts/shell-lib.sh"
wine_quiet
wine_choose
if [ -z "${WINEPREFIX:-}" ]; then
  prefix="${TMPDIR:-/tmp}/adsl-installer-wine-$(id -u)/pfx"
  if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$(dirname "$prefix")" && chmod 700 "$(dirname "$prefix")"
    wine_prefix_make "$prefix" null
  fi
  export WINEPREFIX=$prefix
fi
# Wine 8 itself, not the program, now and then fails a run under load:
# it dies of SIGSEGV as a test program ends, after the program reported
# success (a Windows exception ends a program with its exception code
# instead), or it cannot start the program at all ("Application could not
# be started ... ShellExecuteEx failed: Internal error."), which then never
# ran. Each is seen about once in a thousand runs, never twice in a row:
# such a run is made once more, and says so; any other result stands.
# Wine's starter prints its complaint on standard output, not on standard
# error, so both are watched; both still reach ctest as they come.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run-XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/wine-run-XXXXXX")
"$ADSL_WINE" "$@" 2> >(tee "$err" >&2) | tee "$out"
status=${PIPESTATUS[0]}
wait
why=""
if [ "$status" -eq 139 ]; then
  why="Wine died of SIGSEGV"
elif [ "$status" -ne 0 ] && grep -q '^Application could not be started' "$out" "$err"; then
  why="Wine could not start the program"
fi
rm -f "$out" "$err"
[ -n "$why" ] || exit "$status"
echo "wine-run: $why running $*; running it once more" >&2
exec "$ADSL_WINE" "$@"

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
# Wine 8 itself (not the program: a Windows exception ends a program with
# its exception code) now and then dies of SIGSEGV as a test program ends
# under load, after the program reported success; seen about once in a
# thousand runs, never twice in a row. Such a run is made once more, and
# says so; any other result stands.
"$ADSL_WINE" "$@"
status=$?
[ "$status" -eq 139 ] || exit "$status"
echo "wine-run: Wine died of SIGSEGV running $*; running it once more" >&2
exec "$ADSL_WINE" "$@"

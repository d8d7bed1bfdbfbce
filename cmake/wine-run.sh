#!/bin/sh
# Runs a Windows program under Wine for ctest. Uses $WINEPREFIX when set
# (scripts/test-all.sh sets a throw-away one); otherwise a private prefix
# next to the build, created on first use.
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="${TMPDIR:-/tmp}/adsl-installer-wine-$(id -u)/pfx"
  export WINEPREFIX
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")" && chmod 700 "$(dirname "$WINEPREFIX")"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
  fi
fi
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"

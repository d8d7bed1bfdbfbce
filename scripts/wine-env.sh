# Sourced by the scripts: a throw-away Wine prefix with a persistent
# wineserver, so each Windows test program starts in a fraction of a second.
# Sets WINEPREFIX and WINEDEBUG; wine_env_stop ends the server and removes
# the prefix.
wine_env_start() {
  WINE_ENV_DIR=$(mktemp -d "${TMPDIR:-/tmp}/adsl-wine-XXXXXX")
  export WINEPREFIX="$WINE_ENV_DIR/pfx" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot -i >/dev/null 2>&1
  # In-process windows need no display with the null graphics driver.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  # Keep the server and the prefix's services out of ctest's pipes.
  wineserver -p >/dev/null 2>&1 </dev/null
  wine wineboot >/dev/null 2>&1 </dev/null
}

wine_env_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  [ -n "${WINE_ENV_DIR:-}" ] && rm -rf "$WINE_ENV_DIR"
  return 0
}

# shellcheck shell=bash
# The one place that knows how this project runs Windows programs under
# Wine: prefixes, the server, virtual displays and the installer's window.
# Sourced by the test run, the ctest emulator (cmake/wine-run.sh), the demo
# and the end-to-end tests. Facts behind it: shared/wine-testing.md.
#
# Prefixes are made once as a template and copied (about 1 s) where many
# are needed. WINEARCH, when set, chooses the kind of a new prefix (win32,
# or win64 for the 32-bit program under WOW64).

# Quiet Wine without its .NET and HTML installers, keeping the caller's
# other DLL overrides (the planting checks set their own).
wine_quiet() {
  case "${WINEDLLOVERRIDES:-}" in
    *mscoree*) ;;
    "") WINEDLLOVERRIDES="mscoree,mshtml=" ;;
    *) WINEDLLOVERRIDES="mscoree,mshtml=;$WINEDLLOVERRIDES" ;;
  esac
  export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES
}

# Ends the current prefix's server and waits for it: the registry reaches
# disk only then, and driver or DPI changes take effect at the next start.
wine_server_restart() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

# wine_prefix_make DIR [null|frames|managed] [fonts]: a fresh prefix at DIR,
# made the current one (WINEPREFIX). null: windows without any display
# (in-process tests); frames: Wine draws whole frames itself, no window
# manager needed; managed: a window manager draws them, as on a desktop.
# fonts: Wine's own fonts, "MS Sans Serif" among them, as the demo shows.
wine_prefix_make() {
  local dir=$1 graphics=${2:-null} fonts=${3:-}
  wine_quiet
  export WINEPREFIX=$dir
  mkdir -p "$(dirname "$dir")"
  wineboot -i >/dev/null 2>&1
  case "$graphics" in
    null) wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 ;;
    frames) wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ;;
  esac
  if [ "$fonts" = fonts ]; then
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  wine_server_restart
}

# Whether the current prefix is a 64-bit one, where the 32-bit programs run
# under WOW64 (System32 mapped to SysWOW64), as on the Windows customers run.
wine_prefix_wow64() { [ -d "$WINEPREFIX/drive_c/windows/syswow64" ]; }

# wine_prefix_copy TEMPLATE DIR: a copy of a template prefix, made current.
wine_prefix_copy() {
  rm -rf "$2"
  cp -a "$1" "$2"
  export WINEPREFIX=$2
}

# The prefix's DPI, read when its server starts.
wine_set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine_server_restart
}

# A persistent server with the prefix's services already running, so each
# program starts in a fraction of a second; started with its output
# discarded, so that nothing it starts holds a caller's pipe open.
wine_server_persist() {
  wineserver -p >/dev/null 2>&1 </dev/null
  wine wineboot >/dev/null 2>&1 </dev/null
}

# xvfb_start DIR: a virtual display of 1024x768 with a number of its own
# choosing (its number written to DIR/display); sets DISPLAY and XVFB_PID.
xvfb_start() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$1/display" ] && break; sleep 0.1; done
  DISPLAY=":$(head -n1 "$1/display")"
  export DISPLAY XVFB_PID
}

xvfb_stop() {
  [ -n "${XVFB_PID:-}" ] || return 0
  kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=
}

# The installer's window, as X sees it.
INSTALLER_TITLE='USB ADSL Modem Installer'

# installer_window_wait [SECONDS]: waits for a visible installer window
# and prints its X window id (the newest, when there are several).
installer_window_wait() {
  timeout "${1:-60}" xdotool search --sync --onlyvisible --name "^$INSTALLER_TITLE\$" 2>/dev/null | tail -n1
}

# installer_click_setup_now LOCATE_EXE: clicks the middle of "Setup Now"
# where the window itself says the button is (LOCATE_EXE is the build's
# e2e_locate.exe), as a user's mouse would.
installer_click_setup_now() {
  local where
  where=$(wine "$1" "$INSTALLER_TITLE" "Setup Now" 2>/dev/null | tr -d '\r') || return 1
  [ -n "$where" ] || return 1
  # shellcheck disable=SC2086  # "X Y"
  xdotool mousemove $where click 1
}

# wine_env_start: a throw-away prefix with a persistent server for the
# Windows test programs (WINEPREFIX set; ctest's emulator then uses it);
# wine_env_stop ends the server and removes the prefix.
wine_env_start() {
  WINE_ENV_DIR=$(mktemp -d "${TMPDIR:-/tmp}/adsl-wine-XXXXXX")
  wine_prefix_make "$WINE_ENV_DIR/pfx" null
  wine_server_persist
}

wine_env_stop() {
  [ -n "${WINEPREFIX:-}" ] && wine_server_restart
  [ -n "${WINE_ENV_DIR:-}" ] && rm -rf "$WINE_ENV_DIR"
  return 0
}

#!/usr/bin/env bash
# Runs Install.exe under Wine on the bundled demo package, from the window
# to the end of the run, and tells each stage with its time.
#
# With $DISPLAY set, the window opens on your display: press "Setup Now".
# Without one, it runs on a virtual display (Xvfb), where this script
# presses the button itself and saves a screenshot in build/demo/.
# The package's "Setup.exe" is a stand-in for the vendor's setup program:
# it records its start and, 3 s later, makes the modem's device
# "\\.\ADSLUSB" appear, as a loaded driver would. The installer pauses
# 30 s after launching it, then finds the device on its first probe,
# removes "c:\ZUV_tmp" and exits. All of it happens in a throw-away prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/wine-lib.sh
source scripts/wine-lib.sh

t0=$(date +%s.%N)
say() {
  printf '[demo %s +%5.1fs] %s\n' "$(date +%T)" \
    "$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')" "$*"
}

bash scripts/setup-debian.sh

say "building Install.exe and the demo package (secpack packs it, the stand-in as Setup.exe)"
cmake --preset windows >/dev/null
cmake --build build/windows -j 2 --target Install demo_package e2e_locate >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/adsl-demo-XXXXXX")
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && wine_server_restart
  xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

say "making a throw-away Wine prefix"
# Wine's own fonts: "MS Sans Serif" among them, as on Windows. On the
# virtual display there is no window manager: Wine draws the frame itself.
frames=managed
[ -n "${DISPLAY:-}" ] || frames=frames
wine_prefix_make "$work/pfx" "$frames" fonts
drive_c="$WINEPREFIX/drive_c"
log="$drive_c/standin-log.txt"
shots="$root/build/demo"

if [ -z "${DISPLAY:-}" ]; then
  xvfb_start "$work"
  interactive=
  say "no display: running on the virtual display $DISPLAY"
else
  interactive=yes
fi

start="$work/Downloads"
mkdir -p "$start"
cp build/windows/demo/data.sec build/windows/app/Install.exe "$start/"
say "starting Install.exe in $start, beside data.sec"
(cd "$start" && wine Install.exe >"$work/wine.log" 2>&1; echo $? >"$work/rc") &

title="^$INSTALLER_TITLE\$"
window=$(installer_window_wait 60 || true)
[ -n "$window" ] || { say "the window did not appear"; exit 1; }
say "the window \"USB ADSL Modem Installer\" is up"

if [ -n "$interactive" ]; then
  say "press \"Setup Now\" in the window (or close it to stop)"
else
  mkdir -p "$shots"
  sleep 0.5
  import -window "$window" "$shots/window.png"
  say "screenshot of the window: build/demo/window.png"
  installer_click_setup_now build/windows/tests/e2e/e2e_locate.exe ||
    { say "\"Setup Now\" was not found in the window"; exit 1; }
  say "pressed \"Setup Now\""
fi

# Follows the run from outside: the window, the stand-in's record, the
# device, the extraction directory and the installer's exit.
shown=yes unpacked='' launched='' device='' ended='' removed=''
follow() {
  if [ -n "$shown" ] && ! xdotool search --onlyvisible --name "$title" >/dev/null 2>&1; then
    # A hidden window still exists; a closed one is gone.
    xdotool getwindowname "$window" >/dev/null 2>&1 || return 0
    shown=
    say "the window is hidden: the installer is at work"
  fi
  if [ -z "$unpacked" ] && [ -s "$log" ]; then
    unpacked=yes
    say "c:\\ZUV_tmp holds the unpacked package:"
    (cd "$drive_c/ZUV_tmp" && find . -mindepth 1 | sort | sed 's|^\./|      |; s|/|\\|g')
  fi
  if [ -z "$launched" ] && grep -q '^current directory' "$log" 2>/dev/null; then
    launched=yes
    say "the setup program (the stand-in) started; it recorded:"
    sed -n '2,3{s/^/      /;s/\r$//;p}' "$log"
    say "the installer pauses 30 s, then probes for \\\\.\\ADSLUSB every 2 s"
  fi
  if [ -z "$device" ] && grep -q '^device' "$log" 2>/dev/null; then
    device=yes
    if grep -q '^device made' "$log"; then
      say "the stand-in made the device \\\\.\\ADSLUSB, as a loaded driver would"
    else
      say "the stand-in could not make the device: $(sed -n 's/\r$//; /^device/p' "$log")"
    fi
  fi
  if [ -z "$ended" ] && grep -q '^ended' "$log" 2>/dev/null; then
    ended=yes
    say "the setup program ended"
  fi
  if [ -n "$unpacked" ] && [ -z "$removed" ] && [ ! -e "$drive_c/ZUV_tmp" ]; then
    removed=yes
    say "the installer found the device and removed c:\\ZUV_tmp"
  fi
}
while [ ! -e "$work/rc" ]; do
  follow
  sleep 0.1
done
follow

code=$(cat "$work/rc")
[ -n "$shown" ] && say "the window was closed before \"Setup Now\""
say "Install.exe exited with code $code"
launches=$(grep -c '^ran' "$log" 2>/dev/null || true)
say "the setup program was launched ${launches:-0} time(s)"
if [ -e "$drive_c/ZUV_tmp" ]; then
  say "c:\\ZUV_tmp is still there"
  exit 1
fi
say "no c:\\ZUV_tmp left behind"
[ "$code" = 0 ]

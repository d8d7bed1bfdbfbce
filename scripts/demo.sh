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
#
# The 32-bit Install.exe where this machine runs 32-bit x86 programs, the
# 64-bit build of the same sources where it does not (or with
# ADSL_WINE_64ONLY=1): wine_choose in scripts/shell-lib.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/shell-lib.sh
source scripts/shell-lib.sh  # its waits, the stand-in's record, the Wine helpers, fail_at
fail_name=demo

t0=$(date +%s.%N)
say() {
  printf '[demo %s +%5.1fs] %s\n' "$(date +%T)" \
    "$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')" "$*"
}

at_stage "deciding which build runs here" "check that ${TMPDIR:-/tmp} is writable"
# Only the demo's own prefix and server are ever touched.
unset WINEPREFIX
work=
shots="$root/build/demo"
cleanup() {  # cleanup STATUS
  [ -n "${WINEPREFIX:-}" ] && wine_server_restart
  xvfb_stop
  if [ "$1" != 0 ] && [ -s "$work/wine.log" ]; then
    mkdir -p "$shots" && cp "$work/wine.log" "$shots/wine.log"
    fail_todo="$fail_todo (Wine's messages: build/demo/wine.log)"
  fi
  [ -z "$work" ] || rm -rf "$work"
}
fail_trap cleanup

wine_choose
build=build/$ADSL_WINDOWS_PRESET
if [ "$ADSL_WINE_BITS" = 32 ]; then
  say "$(wine_choice_reason): the demo runs the 32-bit Install.exe ($build)."
else
  say "$(wine_choice_reason): the demo runs the 64-bit build of the same sources ($build)."
fi

at_stage "installing the packages it needs" \
  "run scripts/setup-debian.sh as root or through sudo, with a working apt-get, then the demo again"
bash scripts/setup-debian.sh

at_stage "building Install.exe and the demo package" \
  "the compiler's messages are above; cmake --build $build --target Install demo_package e2e_locate shows them again"
say "building Install.exe and the demo package (secpack packs it, the stand-in as Setup.exe)"
cmake --preset "$ADSL_WINDOWS_PRESET" >/dev/null
cmake --build "$build" -j 2 --target Install demo_package e2e_locate >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/adsl-demo-XXXXXX")

# Where the 32-bit loader fails although 32-bit x86 programs run.
other_path=
[ "$ADSL_WINE_BITS" = 64 ] ||
  other_path="; ADSL_WINE_64ONLY=1 bash scripts/demo.sh runs the 64-bit build instead"
at_stage "making a throw-away Wine prefix" \
  "run WINEPREFIX=/tmp/try-prefix $ADSL_WINE wineboot -i to see Wine's own message$other_path"
say "making a throw-away Wine prefix"
# Wine's own fonts: "MS Sans Serif" among them, as on Windows. On the
# virtual display there is no window manager: Wine draws the frame itself.
frames=managed
[ -n "${DISPLAY:-}" ] || frames=frames
wine_prefix_make "$work/pfx" "$frames" fonts
drive_c="$WINEPREFIX/drive_c"

if [ -z "${DISPLAY:-}" ]; then
  at_stage "starting a virtual display" "check that Xvfb starts: Xvfb :99"
  xvfb_start "$work"
  interactive=
  say "no display: running on the virtual display $DISPLAY"
else
  interactive=yes
fi

at_stage "starting Install.exe and waiting for its window" \
  "see whether Wine runs at all: $ADSL_WINE cmd /c ver$other_path"
start="$work/Downloads"
mkdir -p "$start"
cp "$build/demo/data.sec" "$build/app/Install.exe" "$start/"
say "starting Install.exe in $start, beside data.sec"
(cd "$start" && "$ADSL_WINE" Install.exe >"$work/wine.log" 2>&1; echo $? >"$work/rc") &

title="^$INSTALLER_TITLE\$"
locate=$build/tests/e2e/e2e_locate.exe
window=$(installer_window_wait 60) || fail_at "$fail_stage" "no installer window within 60 s" "$fail_todo"
wait_until 30 installer_ready "$locate" ||
  fail_at "$fail_stage" "the window did not become ready for a click within 30 s" "$fail_todo"
say "the window \"USB ADSL Modem Installer\" is up"

if [ -n "$interactive" ]; then
  say "press \"Setup Now\" in the window (or close it to stop)"
else
  at_stage "pressing \"Setup Now\"" "look at the window in build/demo/window.png"
  mkdir -p "$shots"
  import -window "$window" "$shots/window.png"
  say "screenshot of the window: build/demo/window.png"
  installer_click_setup_now "$locate" || fail_at "$fail_stage" "\"Setup Now\" was not found in the window" "$fail_todo"
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
  if [ -z "$unpacked" ] && standin_logged ran; then
    unpacked=yes
    say "c:\\ZUV_tmp holds the unpacked package:"
    (cd "$drive_c/ZUV_tmp" && find . -mindepth 1 | sort | sed 's|^\./|      |; s|/|\\|g')
  fi
  if [ -z "$launched" ] && standin_line 'current directory:' >/dev/null; then
    launched=yes
    say "the setup program (the stand-in) started; it recorded:"
    echo "      $(standin_line 'command line:')"
    echo "      $(standin_line 'current directory:')"
    say "the installer pauses 30 s, then probes for \\\\.\\ADSLUSB every 2 s"
  fi
  if [ -z "$device" ] && standin_line device >/dev/null; then
    device=yes
    if standin_logged 'device made'; then
      say "the stand-in made the device \\\\.\\ADSLUSB, as a loaded driver would"
    else
      say "the stand-in could not make the device: $(standin_line device)"
    fi
  fi
  if [ -z "$ended" ] && standin_logged ended; then
    ended=yes
    say "the setup program ended"
  fi
  if [ -n "$unpacked" ] && [ -z "$removed" ] && [ ! -e "$drive_c/ZUV_tmp" ]; then
    removed=yes
    say "the installer found the device and removed c:\\ZUV_tmp"
  fi
}
# Until Install.exe has ended: about 35 s after the click; a user may take
# a while to press it.
followed_to_the_end() { follow; [ -e "$work/rc" ]; }
at_stage "following the installer's run" "run bash tests/e2e/run.sh $build typical, which checks each step"
limit=120
[ -z "$interactive" ] || limit=3600
wait_until "$limit" followed_to_the_end || fail_at "$fail_stage" "Install.exe still runs after $limit s" "$fail_todo"
follow

code=$(cat "$work/rc")
[ -n "$shown" ] && say "the window was closed before \"Setup Now\""
say "Install.exe exited with code $code"
say "the setup program was launched $(standin_launches) time(s)"
at_stage "checking the end of the run" "run bash tests/e2e/run.sh $build typical, which checks each step"
[ ! -e "$drive_c/ZUV_tmp" ] || fail_at "$fail_stage" "c:\\ZUV_tmp is still there" "$fail_todo"
say "no c:\\ZUV_tmp left behind"
[ "$code" = 0 ] || fail_at "$fail_stage" "Install.exe exited with code $code" "$fail_todo"

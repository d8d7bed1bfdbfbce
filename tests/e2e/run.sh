#!/usr/bin/env bash
# shellcheck disable=SC2317  # the cases and checks are called by name
# End-to-end tests: the real Install.exe under Wine on a virtual display,
# "Setup Now" pressed with xdotool as a user would. Each case gets its own
# copy of one Wine prefix and its own Xvfb display, so all of them run at
# once: each takes over 30 s because of the installer's fixed pause.
#
#   tests/e2e/run.sh [WINDOWS_BUILD_DIR] [CASE...]
#
# Needs the Windows build (Install.exe, the demo package, e2e_boxwatch):
# by default the one this machine runs (wine_choose in scripts/shell-lib.sh:
# build/windows, or build/windows64 where 32-bit x86 code cannot run).
# E2E_WORK=DIR works there instead of a temporary directory; E2E_KEEP=1
# keeps each case's prefix and logs. E2E_ARCHIVE=FILE: the cases unpack
# that data.sec as it is (a release's, which its Install.exe was made for)
# instead of packing the demo package with their knobs.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=scripts/shell-lib.sh
source "$root/scripts/shell-lib.sh"
fail_name=e2e
wine_choose
build=$(cd "${1:-$root/build/$ADSL_WINDOWS_PRESET}" && pwd) ||
  fail_at "finding the Windows build" "no directory ${1:-$root/build/$ADSL_WINDOWS_PRESET}" \
    "build the $ADSL_WINDOWS_PRESET preset first: cmake --preset $ADSL_WINDOWS_PRESET && cmake --build --preset $ADSL_WINDOWS_PRESET" 2
shift || true
# The six that wait out the watch's half minute come first, so that the
# short ones run behind them rather than after them.
all_cases=(typical device_before_watch missing_archive setup_still_running retry_after_setup_ended
  damaged_package close_before_setup long_start_directory earlier_setup_still_running
  setup_child_still_running second_installer window_manager_click)
# Not listed, only for a release's Install.exe, which carries its
# data.sec's digest (tests/release/run.sh names it): foreign_package.
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=("${all_cases[@]}")

install_exe=$build/app/Install.exe
boxwatch=$build/tests/e2e/e2e_boxwatch.exe
locate=$build/tests/e2e/e2e_locate.exe
package=$build/demo/package
secpack=$build/host/tools/secpack/secpack
for need in "$install_exe" "$boxwatch" "$locate" "$package/Setup.exe" "$secpack"; do
  [ -e "$need" ] || fail_at "finding the Windows build" "missing $need" \
    "build the $ADSL_WINDOWS_PRESET preset first: cmake --preset $ADSL_WINDOWS_PRESET && cmake --build --preset $ADSL_WINDOWS_PRESET" 2
done
# Where only 64-bit programs run, neither the 32-bit build nor a 32-bit prefix can.
if [ "$ADSL_WINE_BITS" = 64 ] && { [ "$(wine_pe_bits "$install_exe")" = 32 ] || [ "${WINEARCH:-}" = win32 ]; }; then
  fail_at "finding the Windows build" "$(wine_choice_reason): no 32-bit build or prefix runs here" \
    "give the 64-bit build (build/windows64) and a 64-bit prefix (WINEARCH=win64, or unset)" 2
fi

work=${E2E_WORK:-$(mktemp -d "${TMPDIR:-/tmp}/adsl-e2e-XXXXXX")}
mkdir -p "$work"
work=$(cd "$work" && pwd)
unset DISPLAY WINESERVER
wine_quiet

now() { date +%s.%N; }
# Seconds since a time taken with now, to 0.1 s.
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
# True when a <= x <= b (decimals).
between() { awk -v x="$1" -v a="$2" -v b="$3" 'BEGIN { exit !(x >= a && x <= b) }'; }

# ---- one case, run in a subshell; prints its checks (check, from
# scripts/shell-lib.sh), exits 1 on a failure (fail_at)

note() { echo "  [$(since "$t_start")s] $*"; }

setup_case() {
  t_start=$(now)
  dir=$work/$name
  rm -rf "$dir"
  mkdir -p "$dir"
  wine_prefix_copy "$work/template" "$dir/pfx"
  drive_c=$WINEPREFIX/drive_c
  start=$drive_c/start
  mkdir -p "$start"
  cp "$install_exe" "$start/Install.exe"
  trap teardown_case EXIT
  xvfb_start "$dir" || fail_at "case $name" "no virtual display" "see whether Xvfb starts: Xvfb :99"
  note "prefix and display ready"
}

teardown_case() {
  wine_server_restart
  xvfb_stop
  [ "${E2E_KEEP:-}" = 1 ] || rm -rf "$dir/pfx"
}

# The package: the demo package's tree, with standin.ini knobs if given;
# or E2E_ARCHIVE's, knobs and all.
make_package() {  # make_package INI_TEXT
  rm -rf "$dir/package"
  if [ -n "${E2E_ARCHIVE:-}" ]; then
    "$secpack" extract "$E2E_ARCHIVE" "$dir/package" >/dev/null
    cp "$E2E_ARCHIVE" "$start/data.sec"
    return
  fi
  cp -a "$package" "$dir/package"
  [ -z "$1" ] || printf '[standin]\r\n%s' "$1" >"$dir/package/standin.ini"
  "$secpack" create "$start/data.sec" "$dir/package" >/dev/null
}

# Starts Install.exe in the start directory, as a user would, and waits for
# its window. +message traces every window message: it shows whether the
# window was ever sent WM_CLOSE.
start_installer() {
  rm -f "$dir/rc"
  (cd "$start" && WINEDEBUG=-all,err+all,+timestamp,+message "$ADSL_WINE" Install.exe >"$dir/wine.log" 2>&1
   echo $? >"$dir/rc") &
  wait_window "$dir/rc"
}

# Another Install.exe, from DIR, beside the first; its exit code goes to
# $dir/rc.TAG.
start_other_installer() {  # start_other_installer DIR TAG
  mkdir -p "$1"
  cp "$install_exe" "$1/Install.exe"
  rm -f "$dir/rc.$2"
  (cd "$1" && "$ADSL_WINE" Install.exe >/dev/null 2>&1; echo $? >"$dir/rc.$2") &
  wait_window "$dir/rc.$2"
}

# Waits for a visible installer window (the newest one, the others being
# hidden by then) until it would take a click. An installer that ended
# without one is Wine's doing, seen about once in a hundred cases under
# load: no window of the process could be made, not even its message
# "Cannot create the installer window". Such a case ends with
# kWineMadeNoWindow, and is run once more.
kWineMadeNoWindow=75
window_or_end() { installer_window_shown || [ -s "$1" ]; }
wait_window() {  # wait_window RC_FILE (the installer's exit code, once it ends)
  window=$(wait_until 60 window_or_end "$1") ||
    fail_at "case $name" "no installer window within 60 s" "$(see_wine_log)"
  if [ -z "$window" ]; then
    grep -s -m5 ':err:' "$dir/wine.log" | sed 's/^/    Wine: /'
    fail_at "case $name" "the installer ended (exit code $(cat "$1")) without a window" \
      "$(see_wine_log)" "$kWineMadeNoWindow"
  fi
  wait_until 30 installer_ready "$locate" ||
    fail_at "case $name" "the window never became ready for a click within 30 s" "$(see_wine_log)"
  note "window up"
}

# Reports the message boxes of the next SECONDS into $dir/boxes.txt, as
# "caption|text" lines, dismissing each; wait_boxes waits for the watcher.
watch_boxes() { "$ADSL_WINE" "$boxwatch" $(($1 * 1000)) >"$dir/boxes.txt" 2>/dev/null & watcher=$!; }
wait_boxes() { wait "$watcher"; note "message boxes seen: $(wc -l <"$dir/boxes.txt")"; }
boxes_are() { [ "$(tr -d '\r' <"$dir/boxes.txt")" = "$1" ]; }

running() { [ ! -e "$dir/rc" ]; }
ended() { [ -e "$dir/rc" ]; }
other_ended() { [ -e "$dir/rc.$1" ]; }  # other_ended TAG
other_ended_with() { [ "$(cat "$dir/rc.$1" 2>/dev/null)" = "$2" ]; }  # other_ended_with TAG CODE
ended_note() {  # ended_note SINCE_WHAT_TIME WHAT
  if running; then note "installer still running"; else note "installer ended, $(since "$1") s after $2"; fi
}
exit_code() { cat "$dir/rc" 2>/dev/null; }
# Sleeps until SECONDS after the click: the installer's own times are what
# the cases check there.
sleep_until() { local left; left=$(awk -v a="$(since "$t_click")" -v b="$1" 'BEGIN { d = b - a; print (d > 0 ? d : 0) }'); sleep "$left"; }

# What to do when the installer does not do its part.
see_wine_log() { echo "E2E_KEEP=1 keeps Wine's messages in $dir/wine.log; run the case again with it"; }

click_setup_now() {
  installer_click_setup_now "$locate" || fail_at "case $name" "\"Setup Now\" not found in the window" "$(see_wine_log)"
  t_click=$(now)
  note "Setup Now pressed"
}

hidden() {
  [ -z "$(xdotool search --onlyvisible --name "^$INSTALLER_TITLE\$" 2>/dev/null)" ] &&
    [ -z "$(xdotool search --onlyvisible --name '^Install$' 2>/dev/null)" ]
}
# The driver is loaded: "\\.\ADSLUSB" can now be opened.
plug_device() { ln -s /dev/null "$WINEPREFIX/dosdevices/adslusb"; t_device=$(now); note "device made"; }
close_handler_ran() { grep -q 'spy_enter_message.*"USB ADSL Modem.*WM_CLOSE' "$dir/wine.log"; }
launched() { [ "$(standin_launches)" = "$1" ]; }  # launched TIMES: the stand-in started so often
ended_times() { [ "$(standin_log | grep -c '^ended$')" = "$1" ]; }  # ended_times TIMES: and ended so often
gone() { [ ! -e "$1" ]; }
same_tree() { diff -r "$1" "$2" >/dev/null; }
only_holds() {  # only_holds DIR NAME: DIR holds exactly the one file NAME
  [ "$(cd "$1" 2>/dev/null && find . -mindepth 1)" = "./$2" ]
}

# ---- the cases

# A typical run: unpacked, the setup program started once from c:\ZUV_tmp;
# it has ended when the driver loads, some time after the watch began; the
# next tick sees it, the files go and the installer ends with 0.
case_typical() {
  make_package 'device=0'
  start_installer
  click_setup_now
  check "the stand-in ran and ended" wait_until 20 standin_logged ended
  check "c:\\ZUV_tmp holds the package" same_tree "$dir/package" "$drive_c/ZUV_tmp"
  check "the setup program was launched once" launched 1
  check "... as c:\\ZUV_tmp\\Setup.exe" standin_logged 'command line: c:\ZUV_tmp\Setup.exe'
  check "... with c:\\ZUV_tmp current" standin_logged 'current directory: c:\ZUV_tmp'
  sleep_until 35  # the watch began about 30 s after the click; ticks every 2 s
  check "35 s after the click the installer still runs" running
  check "... hidden" hidden
  plug_device
  # One of the next ticks: 10 s leaves room for a loaded machine, and
  # still tells a watch that never ends.
  check "it ends within 10 s after the device appears (the next ticks)" wait_until 10 ended
  ended_note "$t_device" "the device appeared"
  check "... with exit code 0" [ "$(exit_code)" = 0 ]
  check "c:\\ZUV_tmp is gone" gone "$drive_c/ZUV_tmp"
  check "the close handler did not run" eval '! close_handler_ran'
  check "the setup program was still launched only once" launched 1
}

# The driver was there before the watch began: the first tick, 2000 ms
# after arming, about 32 s after the click, ends the run. Here the
# stand-in itself makes the device, 3 s after its start.
case_device_before_watch() {
  make_package ''
  start_installer
  click_setup_now
  check "the stand-in made the device" wait_until 15 standin_logged 'device made'
  check "... and ended" wait_until 5 standin_logged ended
  sleep_until 29
  check "29 s after the click the installer still pauses" running
  # The first tick comes 31-34 s after the click on an idle machine; the
  # bound above leaves room for a loaded one, the one below proves the pause.
  check "it ends by 40 s after the click" wait_until 11 ended
  local took
  took=$(since "$t_click")
  ended_note "$t_click" "the click"
  check "... not before the first tick (31-40 s)" between "$took" 31 40
  check "... with exit code 0" [ "$(exit_code)" = 0 ]
  check "c:\\ZUV_tmp is gone" gone "$drive_c/ZUV_tmp"
  check "the close handler did not run" eval '! close_handler_ran'
}

# No data.sec: the message once, nothing launched; the installer goes on
# hidden with its watch (the device then ends it).
# A later run with the archive is not kept waiting by that watch. At the
# device both watches end, and c:\ZUV_tmp goes, as nothing runs from it.
case_missing_archive() {
  start_installer
  watch_boxes 37
  click_setup_now
  wait_boxes
  check "one message box: \"Install\" / the not-found message" \
    boxes_are "Install|data.sec file not found, please contact your ISP"
  check "nothing was launched" launched 0
  check "no c:\\ZUV_tmp" gone "$drive_c/ZUV_tmp"
  check "the installer still runs" running
  check "... hidden" hidden
  make_package 'device=0'
  mkdir -p "$drive_c/later" && mv "$start/data.sec" "$drive_c/later/data.sec"
  start_other_installer "$drive_c/later" later
  click_setup_now
  check "a later run with the archive launches its setup" wait_until 20 standin_logged ran
  check "... from its own package" same_tree "$dir/package" "$drive_c/ZUV_tmp"
  check "... whose setup ends" wait_until 20 standin_logged ended
  plug_device
  check "the first watch ends with the device, within 10 s" wait_until 10 ended
  check "... with exit code 0" [ "$(exit_code)" = 0 ]
  check "the later run ends by 36 s after its click" wait_until 36 other_ended later
  check "... with exit code 0" other_ended_with later 0
  check "c:\\ZUV_tmp is gone" gone "$drive_c/ZUV_tmp"
}

# Closed before "Setup Now": what an earlier run left in c:\ZUV_tmp goes.
case_close_before_setup() {
  mkdir -p "$drive_c/ZUV_tmp/drivers/x86"
  cp "$package/Setup.exe" "$drive_c/ZUV_tmp/Setup.exe"
  echo left >"$drive_c/ZUV_tmp/drivers/x86/adslusb.sys"
  start_installer
  xdotool mousemove --window "$window" 30 60 click 1 key alt+F4
  local t_close
  t_close=$(now)
  note "Alt+F4 pressed"
  check "the installer ends within 5 s" wait_until 5 ended
  ended_note "$t_close" "Alt+F4"
  check "... with exit code 0" [ "$(exit_code)" = 0 ]
  check "c:\\ZUV_tmp is gone" gone "$drive_c/ZUV_tmp"
  check "the close handler ran" close_handler_ran
  check "nothing was launched" launched 0
}

# A setup program still running from c:\ZUV_tmp when the driver loads
# holds its file and, as its current directory, c:\ZUV_tmp: both stay,
# everything else goes, and the installer still ends with 0.
case_setup_still_running() {
  make_package $'delay=1000\r\nlinger=60000\r\n'
  start_installer
  click_setup_now
  check "the stand-in made the device" wait_until 15 standin_logged 'device made'
  check "the installer ends by 36 s after the click" wait_until 36 ended
  ended_note "$t_click" "the click"
  check "... with exit code 0" [ "$(exit_code)" = 0 ]
  check "c:\\ZUV_tmp holds only the running Setup.exe" only_holds "$drive_c/ZUV_tmp" Setup.exe
  check "the stand-in still runs" eval '! standin_logged ended'
}

# Started in a directory of 128 characters or more, which is not recorded:
# the archive is looked up in the directory current at the click, also when
# a leftover c:\ZUV_tmp is removed first.
case_long_start_directory() {
  start=$drive_c/$(printf 'd%.0s' $(seq 130))
  mkdir -p "$start" "$drive_c/ZUV_tmp/old"
  cp "$install_exe" "$start/Install.exe"
  echo left >"$drive_c/ZUV_tmp/old/file.txt"
  make_package 'device=0'
  start_installer
  click_setup_now
  check "the setup program was launched" wait_until 20 standin_logged ran
  check "c:\\ZUV_tmp holds the package, not the leftover" same_tree "$dir/package" "$drive_c/ZUV_tmp"
  # shellcheck disable=SC2016  # expanded by eval
  check "no message box was shown" eval '! grep -q "data.sec file not found" "$dir/wine.log"'
}

# An earlier run's setup program still runs from c:\ZUV_tmp (its installer
# is gone): the installer says so and ends; none of the setup's files go.
case_earlier_setup_still_running() {
  make_package $'device=0\r\nlinger=60000\r\n'
  mkdir -p "$drive_c/ZUV_tmp"
  cp -a "$dir/package/." "$drive_c/ZUV_tmp/"
  (cd "$drive_c/ZUV_tmp" && "$ADSL_WINE" Setup.exe >/dev/null 2>&1) &
  check "the earlier setup program runs" wait_until 20 standin_logged ran
  refused_while_in_use
}

# A program that an earlier setup started still runs from a sub-folder,
# c:\ZUV_tmp\drivers, with another current directory (its setup and
# installer are gone): the installer says so and ends; none of the files go.
case_setup_child_still_running() {
  make_package $'device=0\r\n'
  mkdir -p "$drive_c/ZUV_tmp"
  cp -a "$dir/package/." "$drive_c/ZUV_tmp/"
  cp "$package/Setup.exe" "$drive_c/ZUV_tmp/drivers/helper.exe"
  printf '[standin]\r\ndevice=0\r\nlinger=60000\r\n' >"$drive_c/ZUV_tmp/drivers/standin.ini"
  (cd "$drive_c" && "$ADSL_WINE" 'c:\ZUV_tmp\drivers\helper.exe' >/dev/null 2>&1) &
  check "the helper runs from c:\\ZUV_tmp\\drivers, c:\\ current" wait_until 20 standin_logged "current directory: c:\\"
  refused_while_in_use
}

# The rest of the two cases above, once a program runs from c:\ZUV_tmp:
# "Setup Now" gets one message box saying so, the installer ends with 0,
# none of the files go and nothing more is launched.
refused_while_in_use() {
  cp -a "$drive_c/ZUV_tmp" "$dir/held"
  start_installer
  watch_boxes 10
  click_setup_now
  check "the installer ends within 10 s" wait_until 10 ended
  check "... with exit code 0" [ "$(exit_code)" = 0 ]
  wait_boxes
  check "one message box: c:\\ZUV_tmp is in use" boxes_are "Install|c:\\ZUV_tmp is in use by a setup \
program that is still running. Finish it, then start the installer again."
  check "every file is still there" same_tree "$dir/held" "$drive_c/ZUV_tmp"
  check "nothing more was launched" launched 1
}

# A second installer while the first one's setup program runs: closing its
# window, or pressing its button, deletes nothing of the first's package.
case_second_installer() {
  make_package $'device=0\r\nlinger=60000\r\n'
  start_installer
  click_setup_now
  check "the first installer's setup runs" wait_until 20 standin_logged ran
  # Each from a folder of its own: the first one's program file is in use.
  mkdir -p "$drive_c/second" && cp "$start/data.sec" "$drive_c/second/"
  start_other_installer "$drive_c/second" closed
  xdotool mousemove --window "$window" 30 60 click 1 key alt+F4
  check "a second installer closed at once ends" wait_until 10 other_ended closed
  check "... with exit code 0" other_ended_with closed 0
  check "... leaving the first's package whole" same_tree "$dir/package" "$drive_c/ZUV_tmp"
  start_other_installer "$drive_c/second" pressed
  watch_boxes 10
  click_setup_now
  check "a second installer's Setup Now ends it within 10 s" wait_until 10 other_ended pressed
  check "... with exit code 0" other_ended_with pressed 0
  wait_boxes
  check "... after one message box: c:\\ZUV_tmp is in use" boxes_are "Install|c:\\ZUV_tmp is in use \
by a setup program that is still running. Finish it, then start the installer again."
  check "... leaving the first's package whole" same_tree "$dir/package" "$drive_c/ZUV_tmp"
  check "... and nothing more launched" launched 1
  check "the first installer still runs" running
}

# The first run's setup ended without the device (cancelled, or the modem
# not plugged in yet); its watch waits on. A second try, from another
# folder, installs at once, without a word. At the device both watches end
# with 0 and nothing is left.
case_retry_after_setup_ended() {
  make_package 'device=0'
  start_installer
  click_setup_now
  local t_first=$t_click
  check "the first setup ran and ended" wait_until 20 standin_logged ended
  mkdir -p "$drive_c/retry" && cp "$start/data.sec" "$drive_c/retry/"
  start_other_installer "$drive_c/retry" retry
  watch_boxes 15
  click_setup_now
  check "the retry launches its setup" wait_until 20 launched 2
  wait_boxes
  check "... without a message box" boxes_are ""
  check "c:\\ZUV_tmp holds the package" same_tree "$dir/package" "$drive_c/ZUV_tmp"
  check "the retry's setup ended" wait_until 20 ended_times 2
  t_click=$t_first sleep_until 35  # both watches have begun
  plug_device
  check "the first watch ends with the device, within 10 s" wait_until 10 ended
  check "... with exit code 0" [ "$(exit_code)" = 0 ]
  check "the retry ends by 36 s after its click" wait_until 36 other_ended retry
  check "... with exit code 0" other_ended_with retry 0
  check "c:\\ZUV_tmp is gone" gone "$drive_c/ZUV_tmp"
}

# A damaged package: a download cut short, then one refused part-way, once
# some of its files were written (a name that leaves c:\ZUV_tmp, last in
# the archive). Each is told in one message box; what was unpacked goes,
# with the claim; nothing is launched and the installer ends with 0,
# without a watch. A later run with the whole package installs.
case_damaged_package() {
  make_package 'device=0'
  cp "$start/data.sec" "$dir/whole.sec"
  head -c "$(($(stat -c %s "$dir/whole.sec") - 300))" "$dir/whole.sec" >"$dir/cut.sec"
  echo late >"$dir/package/zzzz.txt"
  "$secpack" create "$dir/climbs.sec" "$dir/package" >/dev/null
  python3 -c 'import sys; p = sys.argv[1]; b = open(p, "rb").read(); open(p, "wb").write(b.replace(b"zzzz.txt\0", b"..\\z.txt\0"))' "$dir/climbs.sec"
  local archive
  for archive in cut climbs; do
    cp "$dir/$archive.sec" "$start/data.sec"
    rm -f "$dir/rc"
    start_installer
    watch_boxes 15
    click_setup_now
    check "$archive: the installer ends within 15 s" wait_until 15 ended
    check "... with exit code 0" [ "$(exit_code)" = 0 ]
    wait_boxes
    check "... after one message box: data.sec is damaged" boxes_are "Install|data.sec is damaged, please contact your ISP"
    check "... nothing launched" launched 0
    check "... no c:\\ZUV_tmp" gone "$drive_c/ZUV_tmp"
  done
  rm "$dir/package/zzzz.txt"
  cp "$dir/whole.sec" "$start/data.sec"
  start_installer
  click_setup_now
  check "a later run with the whole package launches its setup" wait_until 20 standin_logged ran
  check "... from c:\\ZUV_tmp holding the package" same_tree "$dir/package" "$drive_c/ZUV_tmp"
}

# Under Wine's managed mode with a window manager (icewm): the window is
# centred and in sync with what is drawn, so a click in the middle of
# "Setup Now" starts the install. icewm reports owned windows lower than
# they are; the window must not take that report as its place.
window_manager_runs() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
case_window_manager_click() {
  "$ADSL_WINE" reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1
  wine_server_restart
  icewm >/dev/null 2>&1 &
  local wm=$!
  wait_until 10 window_manager_runs || fail_at "case $name" "icewm did not start within 10 s" \
    "install it (bash scripts/setup-debian.sh); see whether it starts: DISPLAY=:99 icewm"
  make_package 'device=0'
  # Shown under a window manager: framed, placed and mapped by it.
  start_installer
  # Managed: the X window is the client area, which starts below Wine's
  # frame and caption (4, 23) of the centred 320x215 window.
  local x y
  eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^[XY]=')"
  x=$X y=$Y
  check "the client area is at ($(((1024 - 320) / 2 + 4)), $(((768 - 215) / 2 + 23))): $x, $y" \
    [ "$x,$y" = "$(((1024 - 320) / 2 + 4)),$(((768 - 215) / 2 + 23))" ]
  installer_click_setup_now "$locate" || fail_at "case $name" "\"Setup Now\" not found in the window" "$(see_wine_log)"
  note "clicked the middle of Setup Now"
  check "the stand-in ran" wait_until 20 standin_logged ended
  check "... hidden" hidden
  kill "$wm" 2>/dev/null
}

# A release's Install.exe beside another valid archive (its own tree with
# one knob more): one message box, nothing unpacked or launched, and the
# installer ends with 0, without a watch.
case_foreign_package() {
  E2E_ARCHIVE='' make_package $'device=0\r\nlinger=0\r\n'
  start_installer
  watch_boxes 15
  click_setup_now
  check "the installer ends within 15 s" wait_until 15 ended
  check "... with exit code 0" [ "$(exit_code)" = 0 ]
  wait_boxes
  check "one message box: data.sec is damaged or is not the package" boxes_are "Install|data.sec is damaged \
or is not the package this installer was made for, please contact your ISP"
  check "nothing was launched" launched 0
  check "no c:\\ZUV_tmp" gone "$drive_c/ZUV_tmp"
}

run_case() {
  name=$1
  setup_case
  "case_$name"
  checks_end "case $name" "the checks above say what the installer did not do; $(see_wine_log)"
}

# ---- the template prefix, then every case at once

t_suite=$(now)
echo "e2e: template prefix in $work/template${WINEARCH:+ ($WINEARCH)}"
rm -rf "$work/template"
# No window manager: Wine draws the frames itself. WINEARCH (win32|win64,
# from the caller) picks the template's kind; the cases' copies keep it.
wine_prefix_make "$work/template" frames
case "${WINEARCH:-}:$(wine_prefix_wow64 && echo 64)" in
  win32:64 | win64:) fail_at "making the template prefix" "WINEARCH=$WINEARCH, but the prefix is not of that kind" \
    "install wine32:i386 and wine64 (bash scripts/setup-debian.sh)" 2 ;;
esac
unset WINEPREFIX
echo "e2e: template ready after $(since "$t_suite") s; running ${cases[*]}"

# At most E2E_JOBS cases at once (6): a dozen Wine processes starting
# together on two cores kept a window from appearing within its minute.
jobs=${E2E_JOBS:-6}
started=0
# run_case_once_more_if_needed: run_case, and once more should Wine have
# made no window for its installer; its exit status to $work/$name.rc.
run_case_once_more_if_needed() {
  (run_case "$name")
  local status=$?
  if [ "$status" = "$kWineMadeNoWindow" ]; then
    echo "  e2e: Wine made no window for the installer; the case runs once more"
    (run_case "$name")
    status=$?
  fi
  echo "$status" >"$work/$name.rc"
}
for name in "${cases[@]}"; do
  run_case_once_more_if_needed >"$work/$name.log" 2>&1 </dev/null &
  started=$((started + 1))
  if [ "$started" -ge "$jobs" ]; then wait -n || true; started=$((started - 1)); fi
done
wait
failed=0
for name in "${cases[@]}"; do
  if [ "$(cat "$work/$name.rc" 2>/dev/null)" = 0 ]; then result=passed; else result=FAILED; failed=$((failed + 1)); fi
  echo "--- $name: $result"
  cat "$work/$name.log"
done
echo "e2e: ${#cases[@]} cases, $failed failed, $(since "$t_suite") s"
[ "${E2E_KEEP:-}" = 1 ] || [ -n "${E2E_WORK:-}" ] || rm -rf "$work"
[ "$failed" = 0 ] || fail_at "the end-to-end cases" "$failed of ${#cases[@]} cases failed (FAILED above)" \
  "run one again: bash tests/e2e/run.sh $build CASE; E2E_KEEP=1 keeps its prefix and Wine's messages"

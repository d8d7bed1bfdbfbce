#!/usr/bin/env bash
# Runs Install.exe under Wine on the bundled demo package.
#
# With $DISPLAY set, the window opens on your display: press "Setup Now".
# Without one, it runs on a virtual display (Xvfb), where this script
# presses the button itself and saves screenshots in build/demo/.
# Either way it then tells what happened: the files unpacked into
# "c:\ZUV_tmp" of a throw-away Wine prefix, and how often the package's
# setup program (a stand-in that records its start) was launched.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

say() { printf '[demo %s] %s\n' "$(date +%T)" "$*"; }

bash scripts/setup-debian.sh

say "building Install.exe, the stand-in setup program and secpack"
cmake --preset windows >/dev/null
cmake --build build/windows -j 2 --target Install setup_standin >/dev/null
cmake --preset linux >/dev/null
cmake --build build/linux -j 2 --target secpack >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/adsl-demo-XXXXXX")
xvfb_pid=
cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The demo package: a few directories and files, and the stand-in as the
# vendor's "Setup.exe".
say "packing the demo package"
tree="$work/package"
mkdir -p "$tree/drivers/x86" "$tree/docs"
cp build/windows/tests/standin/Setup.exe "$tree/Setup.exe"
printf '[Version]\r\nSignature="$Windows NT$"\r\nClass=Net\r\n' >"$tree/drivers/adslusb.inf"
head -c 40000 /dev/zero | tr '\0' 'D' >"$tree/drivers/x86/adslusb.sys"
printf 'USB ADSL modem driver package (demo).\r\n' >"$tree/docs/readme.txt"
start="$work/Downloads"
mkdir -p "$start"
build/linux/tools/secpack/secpack create "$start/data.sec" "$tree"
cp build/windows/app/Install.exe "$start/Install.exe"

say "making a throw-away Wine prefix"
export WINEPREFIX="$work/pfx" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
# Wine 8 looks for its own fonts (MS Sans Serif among them) in the prefix.
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
drive_c="$WINEPREFIX/drive_c"
log="$drive_c/standin-log.txt"
shots="$root/build/demo"

if [ -z "${DISPLAY:-}" ]; then
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$work/display")"
  # Wine draws the whole frame itself (there is no window manager).
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  interactive=
  say "no display: running on the virtual display $DISPLAY"
else
  interactive=yes
fi

say "starting Install.exe in $start (it holds data.sec)"
(cd "$start" && exec wine Install.exe >"$work/wine.log" 2>&1) &
installer_pid=$!

window=$(timeout 60 xdotool search --sync --onlyvisible --name '^USB ADSL Modem Installer$' | head -n1 || true)
[ -n "$window" ] || { say "the window did not appear"; exit 1; }
say "the window \"USB ADSL Modem Installer\" is up"

if [ -n "$interactive" ]; then
  say "press \"Setup Now\" in the window (or close it to stop)"
  while [ ! -s "$log" ] && kill -0 "$installer_pid" 2>/dev/null; do sleep 0.5; done
else
  mkdir -p "$shots"
  sleep 0.5
  import -window "$window" "$shots/window.png"
  say "screenshot of the window: build/demo/window.png"
  # The button's centre: client (101, 141) plus Wine's frame and caption (4, 23).
  xdotool mousemove --window "$window" 105 164 click 1
  say "pressed \"Setup Now\""
  for _ in $(seq 300); do [ -s "$log" ] && break; sleep 0.1; done
fi

if [ ! -s "$log" ]; then
  if kill -0 "$installer_pid" 2>/dev/null; then
    say "the setup program was not launched"
    exit 1
  fi
  say "the window was closed before \"Setup Now\": nothing was installed"
  exit 0
fi
sleep 2  # a second launch would show by now
[ -n "$interactive" ] || { import -window root "$shots/after-click.png"; say "screenshot after the click: build/demo/after-click.png"; }

echo
say "unpacked into c:\\ZUV_tmp:"
(cd "$drive_c/ZUV_tmp" && find . -mindepth 1 | sort | sed 's|^\./|    |')
launches=$(grep -c '^ran' "$log" || true)
say "the setup program was launched $launches time(s); it recorded:"
sed 's/^/    /; s/\r$//' "$log"
echo
say "the installer now pauses 30 s, then arms its driver watch and waits for the modem;"
say "the demo ends it here."
[ "$launches" -eq 1 ]

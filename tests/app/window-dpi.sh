#!/usr/bin/env bash
# The window's text at 96, 144 and 192 DPI, with the faces of a plain Wine
# prefix and with Wine's own fonts (where "MS Sans Serif" is a bitmap face):
# runs the window test that reads back the realised fonts and the label's
# place, once per DPI and face set, in a private prefix (the DPI is the
# prefix's, read when the server starts).
#
#   tests/app/window-dpi.sh APP_WINDOW_TESTS_EXE
set -uo pipefail

tests=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/adsl-dpi-XXXXXX")
export WINEPREFIX=$work/pfx WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WINESERVER
stop() { wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; }
trap 'stop; rm -rf "$work"' EXIT

wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1

failed=0
for faces in plain wine; do
  if [ "$faces" = wine ]; then
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  for dpi in 96 144 192; do
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    stop
    # Where the bitmap face exists at the described size, nothing changes.
    label_face=
    [ "$faces/$dpi" = wine/96 ] && label_face="MS Sans Serif"
    if INSTALLER_LABEL_FACE=$label_face wine "$tests" \
        --gtest_filter='RealWindow.TextScalesWithTheDpi*' >"$work/out.txt" 2>&1 </dev/null; then
      result=ok
    else
      result=FAIL
      failed=$((failed + 1))
    fi
    echo "$result $faces fonts, $(tr -d '\r' <"$work/out.txt" | grep -m1 '^dpi ' || echo "dpi $dpi")"
    [ "$result" = ok ] || tr -d '\r' <"$work/out.txt" | grep -B2 -A6 'Failure'
  done
done
exit $((failed > 0))

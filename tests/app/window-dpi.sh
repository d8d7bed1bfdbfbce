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
# shellcheck source=scripts/shell-lib.sh
source "$(dirname "$0")/../../scripts/shell-lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/adsl-dpi-XXXXXX")
unset DISPLAY WINESERVER
wine_choose
trap 'wine_server_restart; rm -rf "$work"' EXIT

wine_prefix_make "$work/pfx" null

# text_scales FACES DPI: the test at the prefix's DPI, which shows what it
# measured (and, failing, why).
# shellcheck disable=SC2317  # called through check
text_scales() {
  local status=0 label_face=
  # Where the bitmap face exists at the described size, nothing changes.
  [ "$1/$2" = wine/96 ] && label_face="MS Sans Serif"
  INSTALLER_LABEL_FACE=$label_face "$ADSL_WINE" "$tests" \
    --gtest_filter='RealWindow.TextScalesWithTheDpi*' >"$work/out.txt" 2>&1 </dev/null || status=1
  tr -d '\r' <"$work/out.txt" | grep -m1 '^dpi ' | sed 's/^/    /'
  [ "$status" = 0 ] || tr -d '\r' <"$work/out.txt" | grep -B2 -A6 'Failure'
  return "$status"
}

for faces in plain wine; do
  if [ "$faces" = wine ]; then
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  for dpi in 96 144 192; do
    wine_set_dpi "$dpi"
    check "$faces fonts at $dpi DPI" text_scales "$faces" "$dpi"
  done
done
checks_end "the window's text at 96, 144 and 192 DPI" \
  "the measurements are above; RealWindow.TextScalesWithTheDpi* of app_window_tests shows them under Wine"

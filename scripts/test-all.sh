#!/usr/bin/env bash
# Builds the native, sanitizer and Windows configurations and runs every
# test: natively, the Windows programs under Wine, and the whole install
# flow end to end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
jobs=$(nproc)

step() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }

step "shellcheck"
git ls-files '*.sh' .ci/run | xargs shellcheck

for preset in linux linux-asan; do
  step "build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  step "test $preset"
  ctest --preset "$preset" -j "$jobs"
done

step "benchmark smoke (bench/run.sh on tiny data)"
bash bench/run.sh --smoke

step "fuzz smoke (libFuzzer, ASan + UBSan)"
bash scripts/fuzz.sh 60 30

step "build windows"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

# The Windows tests and the end-to-end cases run in a 32-bit prefix and in
# a 64-bit one, where the 32-bit program runs under WOW64 as on the 64-bit
# Windows 10 and 11 that customers have. WINEARCH picks a fresh prefix's
# kind; each pass has prefixes of its own.
# shellcheck source=scripts/wine-lib.sh
source scripts/wine-lib.sh
trap wine_env_stop EXIT
step "test windows (Wine, 32-bit prefix)"
WINEARCH=win32 wine_env_start
! wine_prefix_wow64 || { echo "not a 32-bit prefix"; exit 1; }
ctest --preset windows -j "$jobs"
wine_env_stop

step "test windows (Wine, 64-bit prefix: WOW64)"
WINEARCH=win64 wine_env_start
wine_prefix_wow64 || { echo "not a 64-bit prefix (is wine64 installed?)"; exit 1; }
ctest --preset windows -j "$jobs"
wine_env_stop

# Mostly waiting (the installer's 30 s pause): both passes at once.
step "end-to-end: Install.exe under Wine on virtual displays, 32- and 64-bit prefixes at once"
e2e_logs=$(mktemp -d)
for arch in win32 win64; do
  WINEARCH=$arch bash tests/e2e/run.sh build/windows >"$e2e_logs/$arch" 2>&1 &
  echo $! >"$e2e_logs/$arch.pid"
done
e2e_failed=0
for arch in win32 win64; do
  wait "$(cat "$e2e_logs/$arch.pid")" || e2e_failed=1
  echo "--- $arch prefix"
  cat "$e2e_logs/$arch"
done
rm -rf "$e2e_logs"
[ "$e2e_failed" = 0 ]

step "release: signed with a test CA, checked, the clean build compared byte for byte"
bash tests/release/run.sh build/windows

step "all tests passed"

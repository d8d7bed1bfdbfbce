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

step "test windows (Wine)"
# shellcheck source=scripts/wine-lib.sh
source scripts/wine-lib.sh
trap wine_env_stop EXIT
wine_env_start
ctest --preset windows -j "$jobs"

step "end-to-end: Install.exe under Wine on virtual displays"
bash tests/e2e/run.sh build/windows

step "all tests passed"

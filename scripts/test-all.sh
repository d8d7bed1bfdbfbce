#!/usr/bin/env bash
# Builds the native, sanitizer and Windows configurations and runs every
# test: natively, the Windows programs under Wine, and the whole install
# flow end to end.
#
# Which Windows build runs depends on the machine (wine_choose in
# scripts/wine-lib.sh). Where 32-bit x86 code runs: the 32-bit build in a
# 32-bit prefix and under WOW64, and the 64-bit build of the same sources in
# a 64-bit prefix. Where it does not (or with ADSL_WINE_64ONLY=1): the
# 64-bit build, while the 32-bit Install.exe is built and checked without
# running it (size, imports, entry point; the release tests compare its
# clean build byte for byte).
set -Eeuo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/wine-lib.sh
source scripts/wine-lib.sh
wine_choose
# Only the run's own prefixes and servers are ever touched.
unset WINEPREFIX

stage="installing packages"
# The command that failed, also inside a function (errtrace).
failed_command=
trap 'failed_command=$BASH_COMMAND' ERR
finish() {
  local status=$?
  wine_env_stop
  if [ "$status" != 0 ]; then
    printf '\n=== FAILED at stage "%s": %s exited with status %s; its output is above.\n' \
      "$stage" "${failed_command:-a command}" "$status"
    echo "$(wine_choice_reason)."
  fi
}
trap finish EXIT

# builds_said RUN IS: which build runs where, said at the start ("run" "is")
# and in the last line ("ran" "was").
builds_said() {
  if [ "$ADSL_WINE_BITS" = 32 ]; then
    echo "$(wine_choice_reason): the Windows tests and the end-to-end cases $1 on the 32-bit build," \
      "in a 32-bit prefix and under WOW64, and on the 64-bit build of the same sources in a 64-bit prefix."
  else
    echo "$(wine_choice_reason): the Windows tests and the end-to-end cases $1 on the 64-bit build" \
      "of the same sources; the 32-bit Install.exe $2 built and checked, not run."
  fi
}
builds_said run is

bash scripts/setup-debian.sh
jobs=$(nproc)

step() {
  stage=$1
  printf '\n=== %s (%s)\n' "$1" "$(date +%T)"
}

step "shellcheck"
git ls-files '*.sh' .ci/run | xargs shellcheck

for preset in linux linux-asan; do
  step "build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  step "test $preset"
  ctest --preset "$preset" -j "$jobs"
done

# The runner itself, on a few mutants (the full run: docs/testing.md);
# every source file is put back, whatever happens.
step "mutation smoke (scripts/mutate.sh --smoke)"
python3 scripts/mutate_test.py
bash scripts/mutate.sh --smoke --jobs "$jobs"

step "benchmark smoke (bench/run.sh on tiny data)"
bash bench/run.sh --smoke

step "fuzz smoke (libFuzzer, ASan + UBSan)"
bash scripts/fuzz.sh 60 30

for preset in windows windows64; do
  step "build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# Each pass has a throw-away prefix of its own; WINEARCH picks its kind.
windows_tests() {  # windows_tests PRESET win32|win64
  WINEARCH=$2 wine_env_start
  if [ "$2" = win64 ]; then
    wine_prefix_wow64 || { echo "not a 64-bit prefix (is wine64 installed?)"; return 1; }
  else
    ! wine_prefix_wow64 || { echo "not a 32-bit prefix"; return 1; }
  fi
  ctest --preset "$1" -j "$jobs"
  wine_env_stop
}

if [ "$ADSL_WINE_BITS" = 32 ]; then
  # The 64-bit prefix runs the 32-bit program under WOW64, as the 64-bit
  # Windows 10 and 11 that customers have do.
  step "test windows (Wine, 32-bit prefix)"
  windows_tests windows win32
  step "test windows (Wine, 64-bit prefix: WOW64)"
  windows_tests windows win64
else
  # ctest's emulator would refuse every 32-bit program here: the checks that
  # run none. Called as its ctest test is, not through ctest, which lists
  # the test programs' cases by running them before it runs any test.
  step "check the 32-bit Install.exe without running it (size, imports, entry point)"
  bash tests/app/check-install-exe.sh build/windows/app/Install.exe \
    "$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' build/windows/CMakeCache.txt)" build/windows/app/Install.map
fi
step "test windows64 (Wine, 64-bit prefix)"
windows_tests windows64 win64

# Mostly waiting (the installer's 30 s pause), so passes run at once: at
# most two, which stays reliable on two cores.
e2e_passes=("windows64 win64")
[ "$ADSL_WINE_BITS" = 64 ] || e2e_passes=("windows win32" "windows win64" "${e2e_passes[@]}")
if [ "${#e2e_passes[@]}" = 1 ]; then passes="one pass"; else passes="${#e2e_passes[@]} passes, two at once"; fi
step "end-to-end: Install.exe under Wine on virtual displays ($passes)"
e2e_logs=$(mktemp -d "${TMPDIR:-/tmp}/adsl-e2e-logs-XXXXXX")
e2e_failed=()
e2e_wait() {  # e2e_wait NAME: waits for that pass and shows its log
  local name=$1
  wait "$(cat "$e2e_logs/$name.pid")" || e2e_failed+=("$name")
  echo "--- $name"
  cat "$e2e_logs/$name"
}
running=()
for pass in "${e2e_passes[@]}"; do
  read -r preset arch <<<"$pass"
  name="$preset build, $arch prefix"
  WINEARCH=$arch bash tests/e2e/run.sh "build/$preset" >"$e2e_logs/$name" 2>&1 &
  echo $! >"$e2e_logs/$name.pid"
  running+=("$name")
  if [ ${#running[@]} = 2 ]; then
    e2e_wait "${running[0]}"
    running=("${running[@]:1}")
  fi
done
for name in "${running[@]}"; do e2e_wait "$name"; done
rm -rf "$e2e_logs"
if [ ${#e2e_failed[@]} != 0 ]; then
  echo "end-to-end passes that failed: ${e2e_failed[*]}"
  false
fi

step "release: signed with a test CA, checked, both clean builds compared byte for byte"
bash tests/release/run.sh build/windows build/windows64

stage="done"
echo
echo "=== all tests passed ($(date +%T))"
builds_said ran was

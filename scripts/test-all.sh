#!/usr/bin/env bash
# Builds the native, sanitizer and Windows configurations and runs every
# test: natively, the Windows programs under Wine, and the whole install
# flow end to end.
#
# Which Windows build runs depends on the machine (wine_choose in
# scripts/shell-lib.sh). Where 32-bit x86 code runs: the 32-bit build in a
# 32-bit prefix and under WOW64, and the 64-bit build of the same sources in
# a 64-bit prefix. Where it does not (or with ADSL_WINE_64ONLY=1): the
# 64-bit build, while the 32-bit Install.exe is built and checked without
# running it (size, imports, entry point; the release tests compare its
# clean build byte for byte).
set -Eeuo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/shell-lib.sh
source scripts/shell-lib.sh
wine_choose
# Only the run's own prefixes and servers are ever touched.
unset WINEPREFIX

finish() {
  wine_env_stop
  [ "$1" = 0 ] || printf '\n%s.\n' "$(wine_choice_reason)"
}
fail_trap finish
at_stage "installing packages" \
  "bash scripts/setup-debian.sh says why above; run it as root or with sudo, then this command again"

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

# step STAGE WHAT_TO_DO: the stage begins, and what to do should it fail.
step() {
  at_stage "$1" "$2"
  printf '\n=== %s (%s)\n' "$1" "$(date +%T)"
}

step "shellcheck" "fix what shellcheck says above; git ls-files '*.sh' .ci/run | xargs shellcheck checks again"
git ls-files '*.sh' .ci/run | xargs shellcheck

for preset in linux linux-asan; do
  step "build $preset" "the compiler's messages are above; cmake --build --preset $preset shows them again"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  step "test $preset" "the failed tests are listed above; ctest --preset $preset --rerun-failed --output-on-failure runs them again"
  ctest --preset "$preset" -j "$jobs"
done

# The runner itself, on a few mutants (the full run: docs/testing.md);
# every source file is put back, whatever happens.
step "mutation smoke (scripts/mutate.sh --smoke)" "its report is above; bash scripts/mutate.sh --smoke runs it again"
python3 scripts/mutate_test.py
bash scripts/mutate.sh --smoke --jobs "$jobs"

step "benchmark smoke (bench/run.sh on tiny data)" "its messages are above; bash bench/run.sh --smoke runs it again"
bash bench/run.sh --smoke

step "fuzz smoke (libFuzzer, ASan + UBSan)" "its findings are above; bash scripts/fuzz.sh 30 15 runs it again"
bash scripts/fuzz.sh 30 15

for preset in windows windows64; do
  step "build $preset" "the compiler's messages are above; cmake --build --preset $preset shows them again"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# Each pass has a throw-away prefix of its own; WINEARCH picks its kind.
rerun_windows_tests() {  # rerun_windows_tests PRESET win32|win64: what to do when they fail
  echo "the failed tests are listed above; ctest --preset $1 --rerun-failed --output-on-failure runs them" \
    "again under Wine, in the prefix cmake/wine-run.sh makes (a $2 one with WINEARCH=$2 and an empty TMPDIR)"
}
windows_tests() {  # windows_tests PRESET win32|win64
  WINEARCH=$2 wine_env_start
  if [ "$2" = win64 ]; then
    wine_prefix_wow64 || fail_at "$fail_stage" "WINEARCH=win64 made no 64-bit prefix" \
      "install wine64 (bash scripts/setup-debian.sh), then run this command again"
  else
    ! wine_prefix_wow64 || fail_at "$fail_stage" "WINEARCH=win32 made no 32-bit prefix" \
      "install wine32:i386 (bash scripts/setup-debian.sh), or take the 64-bit path: ADSL_WINE_64ONLY=1"
  fi
  ctest --preset "$1" -j "$jobs"
  wine_env_stop
}

if [ "$ADSL_WINE_BITS" = 32 ]; then
  # The 64-bit prefix runs the 32-bit program under WOW64, as the 64-bit
  # Windows 10 and 11 that customers have do.
  step "test windows (Wine, 32-bit prefix)" "$(rerun_windows_tests windows win32)"
  windows_tests windows win32
  step "test windows (Wine, 64-bit prefix: WOW64)" "$(rerun_windows_tests windows win64)"
  windows_tests windows win64
else
  # ctest's emulator would refuse every 32-bit program here: the checks that
  # run none. Called as its ctest test is, not through ctest, which lists
  # the test programs' cases by running them before it runs any test.
  step "check the 32-bit Install.exe without running it (size, imports, entry point, the call table)" \
    "the check that said FAIL is above; the link map build/windows/app/Install.map shows what went in"
  bash tests/app/check-install-exe.sh build/windows/app/Install.exe \
    "$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' build/windows/CMakeCache.txt)" build/windows/app/Install.map
  bash tests/platform/check-win32-imports.sh i686-w64-mingw32-g++-posix \
    "$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' build/windows/CMakeCache.txt)" \
    "$(sed -n 's/^CMAKE_NM:FILEPATH=//p' build/windows/CMakeCache.txt)" build/windows/app/Install.exe \
    build/windows/platform/libplatform_win32.a build/windows/platform/libplatform.a
fi
step "test windows64 (Wine, 64-bit prefix)" "$(rerun_windows_tests windows64 win64)"
windows_tests windows64 win64

# One pass at a time: each runs its cases at once already, and two passes
# together (24 Wine processes on two cores) made the installer's own timing
# miss its checks, for about the same total time.
e2e_passes=("windows64 win64")
[ "$ADSL_WINE_BITS" = 64 ] || e2e_passes=("windows win32" "windows win64" "${e2e_passes[@]}")
if [ "${#e2e_passes[@]}" = 1 ]; then passes="one pass"; else passes="${#e2e_passes[@]} passes, one after another"; fi
step "end-to-end: Install.exe under Wine on virtual displays ($passes)" \
  "each case's checks are above; WINEARCH=win32|win64 bash tests/e2e/run.sh build/PRESET CASE runs one again (E2E_KEEP=1 keeps its prefix and Wine's messages)"
e2e_failed=()
for pass in "${e2e_passes[@]}"; do
  read -r preset arch <<<"$pass"
  name="$preset build, $arch prefix"
  echo "--- $name"
  WINEARCH=$arch bash tests/e2e/run.sh "build/$preset" || e2e_failed+=("$name")
done
[ ${#e2e_failed[@]} = 0 ] || fail_at "$fail_stage" "end-to-end passes that failed: ${e2e_failed[*]}" "$fail_todo"

step "release: signed with a test CA, checked, both clean builds compared byte for byte" \
  "the check that said FAIL is above, with the log it showed; bash tests/release/run.sh build/windows build/windows64 runs them again"
bash tests/release/run.sh build/windows build/windows64

echo
echo "=== all tests passed ($(date +%T))"
builds_said ran was

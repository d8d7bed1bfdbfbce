#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each from the
# seed corpus: fuzz.sh [seconds for the reader] [seconds for the checker].
# Findings are written to build/linux-fuzz/findings/ and fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/shell-lib.sh
source scripts/shell-lib.sh
fail_trap :
extract_seconds=${1:-60}
verify_seconds=${2:-30}
at_stage "building the fuzzers (preset linux-fuzz)" \
  "clang's messages are above; cmake --build --preset linux-fuzz shows them again (bash scripts/setup-debian.sh installs clang)"
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz -j "$(nproc)" >/dev/null
findings="$PWD/build/linux-fuzz/findings"
mkdir -p "$findings"
for target in extract verify; do
  seconds=$extract_seconds
  [ "$target" = verify ] && seconds=$verify_seconds
  at_stage "running fuzz_$target" "its messages are above; run it again: bash scripts/fuzz.sh"
  corpus=$(mktemp -d)
  cp tests/fuzz/corpus/* "$corpus/"
  echo "fuzz_$target for ${seconds}s"
  build/linux-fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "$corpus" 2>&1 >/dev/null |
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|==[0-9]+==|invariant|SUMMARY)' || true
  rm -rf "$corpus"
done
if compgen -G "$findings/*" >/dev/null; then
  echo "fuzzing found problems:"; ls -l "$findings"
  fail_at "checking the findings" "the fuzzers left inputs that fail in build/linux-fuzz/findings/" \
    "run each again to see the fault: build/linux-fuzz/tests/fuzz/fuzz_extract FILE (fuzz_verify for verify-*); once fixed, keep it as tests/fuzz/corpus/regress-NAME.sec and delete the findings"
fi
echo "fuzzing: no findings"

#!/usr/bin/env bash
# A sampled mutation run over the native build (build/linux): each mutant
# is built incrementally and the native tests of the programs that link
# its file run against it. Every source file is put back whatever happens.
#
#   scripts/mutate.sh                   the full sample (about 7 minutes on 2 cores)
#   scripts/mutate.sh --smoke           a few mutants, as CI runs it
#   scripts/mutate.sh --list FILE...    the mutants of a file, nothing built
#   scripts/mutate.sh --help            the options (seed, sample size, files)
#
# The report goes to build/linux/mutate/report.md; docs/testing.md says how
# to read it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/linux/CMakeCache.txt ]; then
  cmake --preset linux >/dev/null
fi
exec python3 scripts/mutate.py "$@"

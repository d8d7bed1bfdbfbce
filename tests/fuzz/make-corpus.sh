#!/usr/bin/env bash
# Rebuilds the fuzzers' seed corpus with secpack create: a few small,
# well-formed archives. Usage: make-corpus.sh SECPACK OUTDIR
# (regress-*.sec beside them are inputs the fuzzers once failed on, kept so
# every run tries them again; this script leaves them alone.)
set -euo pipefail
# shellcheck source=scripts/shell-lib.sh
source "$(dirname "$0")/../../scripts/shell-lib.sh"
[ $# -eq 2 ] || fail_at "reading the command line" "needs SECPACK and OUTDIR" \
  "usage: tests/fuzz/make-corpus.sh build/linux/tools/secpack/secpack tests/fuzz/corpus" 2
secpack=$1 out=$2
work=$(mktemp -d)
clean_up() { rm -rf "$work"; }
fail_trap clean_up
at_stage "packing the seed archives" "secpack's message is above; give it the native secpack of this tree"
mkdir -p "$out"

mkdir "$work/empty"
"$secpack" create "$out/empty.sec" "$work/empty" >/dev/null

mkdir "$work/one"
printf 'setup' > "$work/one/Setup.exe"
"$secpack" create "$out/one-file.sec" "$work/one" >/dev/null

mkdir -p "$work/tree/drivers/x86/inf" "$work/tree/docs"
printf 'MZ stand-in' > "$work/tree/Setup.exe"
# shellcheck disable=SC2016  # the inf's own dollar signs
printf '[Version]\r\nSignature="$Windows NT$"\r\n' > "$work/tree/drivers/x86/inf/modem.inf"
printf '\0\1\2\3' > "$work/tree/drivers/x86/modem.sys"
: > "$work/tree/docs/empty.txt"
"$secpack" create "$out/tree.sec" "$work/tree" >/dev/null

mkdir "$work/chunks"
head -c 16385 /dev/zero | tr '\0' 'c' > "$work/chunks/two-chunks.bin"
"$secpack" create "$out/two-chunks.sec" "$work/chunks" >/dev/null

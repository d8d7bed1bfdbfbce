#!/usr/bin/env bash
# Side-by-side benchmark of the package code against the general tools:
#   extraction   secpack extract  vs  tar -xf, bsdtar -xf, cp -r (the write floor)
#   digest       secpack digest (SHA-256, the check a release's installer
#                makes before extracting)  vs  sha256sum, openssl dgst -sha256
#   packing      secpack create   vs  tar -cf
#   checking     secpack verify, secpack list  vs  secpack extract (big set)
#   tree removal remove_bench (CleanUpTempDir)  vs  rm -rf
# on four data sets (8 x 64 MiB; 20,000 x 4 KiB in 100 directories; one
# 1.9 GiB file; a tree 50 levels deep with 20 files on each level).
#
# Measured is CPU time (user + system) of each command, not wall time: the
# machine is shared, and waiting for a neighbour's build is not our cost.
# The commands of one piece of work run in rounds, each round in a rotated
# order (for two commands: AB, BA, AB, ...), after one unrecorded warm-up
# run each, so that every command meets the page cache in the same state.
# Outputs are deleted and trees re-made between runs, outside the timing.
# Then each command runs once more under strace -c -f for its system calls.
#
# Small-file work runs on tmpfs (/dev/shm): on an unjournaled ext4,
# re-creating 20,000 files right after deleting 20,000 is slow for every
# tool, as the inode allocator skips recently freed inodes, and the rounds
# would measure that. The large files live in a directory on disk. Tree
# removal runs on both: there the trees are re-made outside the timing.
#
# usage: bench/run.sh [--smoke] [--rounds N] [--only WORK,...] [--out FILE] [--build DIR]
#   --smoke   tiny data, 3 rounds, output to stdout only (CI: ~30 s)
#   --only    just these pieces of work (extract-big, extract-small,
#             extract-huge, digest-big, digest-small, digest-huge,
#             create-big, create-small, verify-big, remove-small,
#             remove-deep); the report then goes to stdout only
#   --out     where the report goes (default docs/performance.md; "-": none)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
# shellcheck source=scripts/shell-lib.sh
source scripts/shell-lib.sh
fail_name=bench/run.sh
disk="" memfs=""
cleanup() { rm -rf "$disk" "$memfs"; }
fail_trap cleanup

smoke=0
rounds=""
out=docs/performance.md
build=build/linux
only=""
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) smoke=1; out=- ;;
    --rounds) rounds=$2; shift ;;
    --only) only=",$2,"; out=-; shift ;;
    --out) out=$2; shift ;;
    --build) build=$2; shift ;;
    *) fail_at "reading the command line" "unknown argument $1" \
         "usage: bench/run.sh [--smoke] [--rounds N] [--only WORK,...] [--out FILE] [--build DIR]" 2 ;;
  esac
  shift
done

# --- what it needs ---------------------------------------------------------
need_packages=()
command -v bsdtar >/dev/null || need_packages+=(libarchive-tools)
command -v strace >/dev/null || need_packages+=(strace)
apt_install "${need_packages[@]}" >&2
for tool in tar bsdtar cp rm strace sha256sum; do
  command -v "$tool" >/dev/null ||
    fail_at "finding the tools it compares" "$tool is missing" "install it (apt-get install $tool), then run this again"
done
at_stage "building secpack and the benchmarks" \
  "the compiler's messages are above; cmake --build --preset linux shows them again"
if [ ! -x "$build/tools/secpack/secpack" ] || [ ! -x "$build/bench/remove_bench" ] ||
    [ ! -x "$build/bench/bench_measure" ] || [ "$build" = build/linux ]; then
  if [ "$build" = build/linux ]; then
    [ -f build/linux/CMakeCache.txt ] || cmake --preset linux >/dev/null
    cmake --build --preset linux -j2 --target secpack remove_bench bench_measure >/dev/null
  fi
fi
case "$build" in /*) bin=$build ;; *) bin=$repo/$build ;; esac
secpack=$bin/tools/secpack/secpack
remove_bench=$bin/bench/remove_bench
measure=$bin/bench/bench_measure
for program in "$secpack" "$remove_bench" "$measure"; do
  [ -x "$program" ] || fail_at "$fail_stage" "$program is not built" \
    "build it in $build: cmake --build $build --target secpack remove_bench bench_measure"
done

# --- sizes -----------------------------------------------------------------
if [ "$smoke" -eq 1 ]; then
  big_count=2; big_mib=1
  small_dirs=5; small_per_dir=20
  huge_mib=4
  deep_levels=5; deep_files=4
  rounds_small=${rounds:-3}; rounds_huge=${rounds:-3}
else
  big_count=8; big_mib=64
  small_dirs=100; small_per_dir=200
  huge_mib=1945  # 1.9 GiB: below the format's 2 GiB
  deep_levels=50; deep_files=20
  rounds_small=${rounds:-15}; rounds_huge=${rounds:-7}
fi
small_count=$((small_dirs * small_per_dir))
deep_count=$((deep_levels * deep_files))

disk=$(mktemp -d "${TMPDIR:-/var/tmp}/secpack-bench.XXXXXX")
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  memfs=$(mktemp -d /dev/shm/secpack-bench.XXXXXX)
else
  memfs=$(mktemp -d "${TMPDIR:-/tmp}/secpack-bench-small.XXXXXX")
fi

need_mib=$(( (big_count * big_mib + huge_mib) * 4 + 256 ))
avail_mib=$(df -Pm "$disk" | awk 'NR == 2 { print $4 }')
[ "$avail_mib" -ge "$need_mib" ] ||
  fail_at "making the data sets" "$disk has $avail_mib MiB free, the data sets need $need_mib MiB" \
    "free the space, or set TMPDIR to a file system that has it"

base_of() { case "$1" in big|huge) echo "$disk" ;; *) echo "$memfs" ;; esac; }
# A piece of work is KIND-SET, or KIND-SET-disk for work on the disk's
# file system with a set that otherwise lives on tmpfs (tree removal).
set_of() { local set=${1#*-}; echo "${set%-disk}"; }
where_of() { case "$1" in *-disk) echo "$disk" ;; *) base_of "$(set_of "$1")" ;; esac; }
log() { printf '%s  %s\n' "$(date +%T)" "$*" >&2; }

# --- data sets -------------------------------------------------------------
# src-NAME: the tree; NAME.sec and NAME.tar: the archives of it.
at_stage "making the data sets" "check the free space in $disk and $memfs"
log "making the data sets in $disk and $memfs"
make_files() {  # DIR COUNT BYTES
  mkdir -p "$1"
  head -c $(( $2 * $3 )) /dev/urandom | (cd "$1" && split -a 4 -d -b "$3" - f)
}
wanted() { [ -z "$only" ] || [[ $only == *",$1,"* ]]; }
set_wanted() {
  wanted "extract-$1" || wanted "digest-$1" || wanted "create-$1" || wanted "verify-$1" ||
    wanted "remove-$1" || wanted "remove-$1-disk"
}
if set_wanted big; then
  mkdir -p "$disk/src-big/pkg"
  for i in $(seq 1 "$big_count"); do
    head -c $((big_mib << 20)) /dev/urandom > "$disk/src-big/pkg/part$i.bin"
  done
fi
if set_wanted huge; then
  mkdir -p "$disk/src-huge/pkg"
  head -c $((huge_mib << 20)) /dev/urandom > "$disk/src-huge/pkg/driver.bin"
fi
if set_wanted small; then
  for d in $(seq -w 1 "$small_dirs"); do
    make_files "$memfs/src-small/pkg/d$d" "$small_per_dir" 4096
  done
fi
if set_wanted deep; then
  path="$memfs/src-deep/pkg"
  for level in $(seq -w 1 "$deep_levels"); do
    path="$path/l$level"
    make_files "$path" "$deep_files" 4096
  done
fi
for set in big huge small deep; do
  set_wanted "$set" || continue
  base=$(base_of "$set")
  "$secpack" create "$base/$set.sec" "$base/src-$set/pkg" >/dev/null
  tar -cf "$base/$set.tar" -C "$base/src-$set" pkg
done
sync


# --- the commands ----------------------------------------------------------
# prepare WORK TOOL: outside the timing, puts the file system in the state
# the command starts from. command WORK TOOL: sets cmd to the command line.
prepare() {
  local set base
  set=$(set_of "$1"); base=$(where_of "$1")
  case "$1" in
    extract-*)
      rm -rf "$base/out"
      [ "$2" = cp ] || mkdir -p "$base/out" ;;
    create-*) rm -f "$base/new.sec" "$base/new.tar" ;;
    verify-*) rm -rf "$base/out"; [ "$2" != extract ] || mkdir -p "$base/out" ;;
    remove-*)
      rm -rf "$base/drive"
      mkdir -p "$base/drive"
      cp -r "$(base_of "$set")/src-$set/pkg" "$base/drive/ZUV_tmp" ;;
  esac
}
command_of() {
  local set base
  set=$(set_of "$1"); base=$(where_of "$1")
  case "$1:$2" in
    extract-*:secpack) cmd=("$secpack" extract "$base/$set.sec" "$base/out") ;;
    extract-*:tar) cmd=(tar -xf "$base/$set.tar" -C "$base/out") ;;
    extract-*:bsdtar) cmd=(bsdtar -xf "$base/$set.tar" -C "$base/out") ;;
    extract-*:cp) cmd=(cp -r "$base/src-$set/pkg" "$base/out") ;;
    digest-*:secpack) cmd=("$secpack" digest "$base/$set.sec") ;;
    digest-*:sha256sum) cmd=(sha256sum "$base/$set.sec") ;;
    digest-*:openssl) cmd=(openssl dgst -sha256 "$base/$set.sec") ;;
    create-*:secpack) cmd=("$secpack" create "$base/new.sec" "$base/src-$set/pkg") ;;
    create-*:tar) cmd=(tar -cf "$base/new.tar" -C "$base/src-$set" pkg) ;;
    verify-*:secpack) cmd=("$secpack" verify "$base/$set.sec") ;;
    verify-*:list) cmd=("$secpack" list "$base/$set.sec") ;;
    verify-*:extract) cmd=("$secpack" extract "$base/$set.sec" "$base/out") ;;
    remove-*:remove_bench) cmd=("$remove_bench" "$base/drive") ;;
    remove-*:rm) cmd=(rm -rf "$base/drive/ZUV_tmp") ;;
  esac
}

results=$memfs/results
mkdir -p "$results"

# bench WORK ROUNDS TOOL...: the timed rounds; results/WORK.TOOL gets one
# "cpu peak-KiB" line per run.
bench() {
  local work=$1 rounds_here=$2
  shift 2
  wanted "$work" || return 0
  local tools=("$@") n=$# round i tool cpu peak code
  at_stage "timing $work" "its messages are above; bash bench/run.sh --only $work runs it again"
  log "$work: $rounds_here rounds of ${tools[*]}"
  for tool in "${tools[@]}"; do
    : > "$results/$work.$tool"
    prepare "$work" "$tool"; command_of "$work" "$tool"
    "${cmd[@]}" >/dev/null  # warm-up, not recorded
  done
  for round in $(seq 0 $((rounds_here - 1))); do
    for i in $(seq 0 $((n - 1))); do
      tool=${tools[$(( (i + round) % n ))]}
      prepare "$work" "$tool"; command_of "$work" "$tool"
      read -r cpu peak code < <("$measure" "${cmd[@]}")
      [ "$code" -eq 0 ] || fail_at "$fail_stage" "${cmd[*]} failed with $code" "$fail_todo"
      echo "$cpu $peak" >> "$results/$work.$tool"
    done
  done
  local base
  base=$(where_of "$work")
  rm -rf "$base/out" "$base/drive" "$base/new.sec" "$base/new.tar"
}

# syscalls WORK TOOL: one run under strace -c -f; results/WORK.TOOL.strace
# keeps the summary, results/WORK.TOOL.calls the total number of calls.
syscalls() {
  wanted "$1" || return 0
  at_stage "counting the system calls of $1" "strace's messages are above; strace -c -f on the command shows them again"
  prepare "$1" "$2"; command_of "$1" "$2"
  strace -c -f -o "$results/$1.$2.strace" "${cmd[@]}" >/dev/null
  awk '$NF == "total" { print $4 }' "$results/$1.$2.strace" > "$results/$1.$2.calls"
  local base
  base=$(where_of "$1")
  rm -rf "$base/out" "$base/drive" "$base/new.sec" "$base/new.tar"
}

extract_tools=(secpack tar bsdtar cp)
# openssl's SHA-256 uses the processor's SHA instructions where it has them.
digest_tools=(secpack sha256sum)
command -v openssl >/dev/null && digest_tools+=(openssl)
for set in big small huge; do
  r=$rounds_small; [ "$set" = huge ] && r=$rounds_huge
  bench "extract-$set" "$r" "${extract_tools[@]}"
  bench "digest-$set" "$r" "${digest_tools[@]}"
done
for set in big small; do
  bench "create-$set" "$rounds_small" secpack tar
done
bench verify-big "$rounds_small" secpack list extract
for work in remove-small remove-deep remove-small-disk remove-deep-disk; do
  bench "$work" "$rounds_small" remove_bench rm
done
log "system calls (strace -c -f)"
for set in big small huge; do
  for tool in "${extract_tools[@]}"; do syscalls "extract-$set" "$tool"; done
  for tool in "${digest_tools[@]}"; do syscalls "digest-$set" "$tool"; done
done
for set in big small; do
  for tool in secpack tar; do syscalls "create-$set" "$tool"; done
done
for tool in secpack list extract; do syscalls verify-big "$tool"; done
for work in remove-small remove-deep remove-small-disk remove-deep-disk; do
  for tool in remove_bench rm; do syscalls "$work" "$tool"; done
done

# --- the report ------------------------------------------------------------
at_stage "writing the report" "its messages are above; with --out - the report goes to standard output alone"
# stats FILE: "median min max median-peak-KiB count" of the recorded runs.
stats() {
  awk '{ print $1 }' "$1" | sort -g | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.4f %.4f %.4f", m, v[1], v[NR] }'
  printf ' '
  awk '{ print $2 }' "$1" | sort -n | awk '{ v[NR] = $1 } END { printf "%d %d\n", v[int((NR + 1) / 2)], NR }'
}
describe() {
  case "$1" in
    big) echo "$big_count x $big_mib MiB" ;;
    small) echo "$small_count x 4 KiB in $small_dirs dirs" ;;
    huge) echo "one $huge_mib MiB file" ;;
    deep) echo "$deep_levels levels x $deep_files files" ;;
  esac
}
files_of() {
  case "$1" in big) echo "$big_count" ;; small) echo "$small_count" ;; huge) echo 1 ;; deep) echo "$deep_count" ;; esac
}
mib_of() {
  case "$1" in big) echo $((big_count * big_mib)) ;; small) echo $((small_count * 4 / 1024)) ;;
    huge) echo "$huge_mib" ;; deep) echo $((deep_count * 4 / 1024)) ;; esac
}
ours_of() { case "$1" in extract-*|digest-*|create-*|verify-*) echo secpack ;; remove-*) echo remove_bench ;; esac; }
label_of() {
  case "$1:$2" in
    extract-*:secpack) echo "secpack extract" ;; extract-*:tar) echo "tar -xf" ;;
    extract-*:bsdtar) echo "bsdtar -xf" ;; extract-*:cp) echo "cp -r" ;;
    digest-*:secpack) echo "secpack digest" ;; digest-*:sha256sum) echo "sha256sum" ;;
    digest-*:openssl) echo "openssl dgst -sha256" ;;
    create-*:secpack) echo "secpack create" ;; create-*:tar) echo "tar -cf" ;;
    verify-*:secpack) echo "secpack verify" ;; verify-*:list) echo "secpack list" ;;
    verify-*:extract) echo "secpack extract" ;;
    remove-*:remove_bench) echo "RemoveTree" ;; remove-*:rm) echo "rm -rf" ;;
  esac
}

report=$memfs/report.md
all_work="extract-big extract-small extract-huge digest-big digest-small digest-huge create-big create-small verify-big remove-small remove-deep remove-small-disk remove-deep-disk"
# the data set, and where the work ran
fs_type() { { findmnt -n -o FSTYPE -T "$1" 2>/dev/null || stat -f -c %T "$1"; } | head -1; }
place() { fs_type "$(where_of "$1")"; }
# table HEADER ALIGNMENTS ROW: a table with a ROW (a function) for each
# piece of work that ran, called with work, set and ours set.
table() {
  echo "$1"
  echo "$2"
  for work in $all_work; do
    wanted "$work" || continue
    set=$(set_of "$work")
    ours=$(ours_of "$work")
    "$3"
  done
}
times_row() {
  local ours_median tool median low high peak count ratio calls per_file per_mib
  read -r ours_median _ <<< "$(stats "$results/$work.$ours")"
  for tool in $(find "$results" -maxdepth 1 -name "$work.*" -printf '%f\n' | sed -n "s/^$work\.\([a-z0-9_]*\)$/\1/p" | awk -v o="$ours" '{ print ($1 == o ? 0 : 1) " " $1 }' | sort | awk '{ print $2 }'); do
    read -r median low high peak count <<< "$(stats "$results/$work.$tool")"
    ratio=$(awk -v a="$ours_median" -v b="$median" 'BEGIN { printf (b > 0 ? "%.2f" : "-"), a / b }')
    [ "$tool" = "$ours" ] && ratio="1"
    calls=$(cat "$results/$work.$tool.calls" 2>/dev/null || echo 0)
    per_file=$(awk -v c="$calls" -v f="$(files_of "$set")" 'BEGIN { printf "%.2f", c / f }')
    per_mib=$(awk -v c="$calls" -v m="$(mib_of "$set")" 'BEGIN { printf (m > 0 ? "%.1f" : "-"), c / m }')
    printf '| %s | %s | %s | %.3f | %.3f – %.3f | %d | %s | %.1f | %d | %s | %s |\n' \
      "${work%%-*}" "$(describe "$set"), $(place "$work")" "$(label_of "$work" "$tool")" "$median" "$low" "$high" \
      "$count" "$ratio" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "$calls" "$per_file" "$per_mib"
  done
}
calls_row() {
  local kinds
  kinds=$(awk -v f="$(files_of "$set")" '$NF != "total" && $4 ~ /^[0-9]+$/ && $1 ~ /^[0-9.]+$/ {
      printf "%s %.2f\n", $NF, $4 / f }' "$results/$work.$ours.strace" |
    sort -k2 -g -r | head -8 | awk '{ printf "%s%s %s", (NR > 1 ? ", " : ""), $1, $2 }')
  echo "| ${work%%-*} | $(describe "$set"), $(place "$work") | $kinds |"
}
table "| work | data set | command | CPU s, median | min – max | runs | ours ÷ this | peak MiB | calls | per file | per MiB |" \
  "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|" times_row > "$report"

{
  echo
  echo "The digest pass against the extraction it precedes (CPU medians, ours):"
  echo
  echo "| data set | secpack digest s | secpack extract s | digest ÷ extract |"
  echo "|---|---:|---:|---:|"
  for set in big small huge; do
    if [ ! -s "$results/digest-$set.secpack" ] || [ ! -s "$results/extract-$set.secpack" ]; then continue; fi
    read -r digest_median _ <<< "$(stats "$results/digest-$set.secpack")"
    read -r extract_median _ <<< "$(stats "$results/extract-$set.secpack")"
    awk -v d="$digest_median" -v e="$extract_median" -v what="$(describe "$set"), $(place "digest-$set")" \
      'BEGIN { printf "| %s | %.3f | %.3f | %.2f |\n", what, d, e, (e > 0 ? d / e : 0) }'
  done
  echo
  echo "System calls of ours by kind (strace -c -f; calls per file, the most frequent first):"
  echo
  table "| work | data set | calls per file by kind |" "|---|---|---|" calls_row
} >> "$report"

cat "$report"

if [ "$out" != - ]; then
  machine="$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, $(free -g | awk '/^Mem:/ { print $2 }') GiB RAM; Linux $(uname -r)"
  fs_disk=$(fs_type "$disk"); fs_mem=$(fs_type "$memfs")
  generated=$memfs/generated.md
  {
    echo "<!-- bench:begin (written by bench/run.sh; edit outside these markers) -->"
    echo "Run of $(date -u +%Y-%m-%d) on commit $(git rev-parse --short HEAD 2>/dev/null || echo '?'):"
    echo "$machine. Large files on $fs_disk ($(df -P "$disk" | awk 'NR == 2 { print $1 }')), small files"
    echo "and the deep tree on $fs_mem; tree removal on both. Rounds: $rounds_small ($rounds_huge for the 1.9 GiB file);"
    echo "tar $(tar --version | head -1 | awk '{ print $NF }'), $(bsdtar --version | awk '{ print $1, $2 }'), $(cp --version | head -1)."
    echo
    echo "    bench/run.sh"
    echo
    cat "$report"
    echo "<!-- bench:end -->"
  } > "$generated"
  if [ -f "$out" ] && grep -q '^<!-- bench:begin' "$out"; then
    awk -v gen="$generated" '
      /^<!-- bench:begin/ { while ((getline line < gen) > 0) print line; skip = 1; next }
      /^<!-- bench:end/ { skip = 0; next }
      !skip { print }' "$out" > "$out.new" && mv "$out.new" "$out"
  else
    { echo "# Performance"; echo; cat "$generated"; } > "$out"
  fi
  log "wrote $out"
fi

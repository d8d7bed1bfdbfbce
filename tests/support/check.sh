# shellcheck shell=bash
# What every test script shares: its checks, its one way of waiting, and
# the reading of what the stand-in setup program recorded. Sourced by the
# test scripts, the demo and scripts/wine-lib.sh (for its own waits).

# check DESCRIPTION COMMAND...: runs COMMAND and says "ok" or "FAIL" with
# DESCRIPTION; the failures are counted in checks_failed.
checks_failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "  ok    $what"
  else
    echo "  FAIL  $what"
    checks_failed=$((checks_failed + 1))
  fi
}

# wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds;
# non-zero when SECONDS (a whole number) pass first. COMMAND's output is
# passed on, so a command that prints what it found only on success hands
# that to the caller.
wait_until() {
  # EPOCHREALTIME: seconds with six decimals, read without a process.
  local deadline=$((${EPOCHREALTIME//[!0-9]/} + $1 * 1000000))
  shift
  until "$@"; do
    [ "${EPOCHREALTIME//[!0-9]/}" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# ---- The stand-in setup program's record
#
# tests/standin/SetupStandin.cpp appends to c:\standin-log.txt of the
# current prefix (WINEPREFIX), in CRLF lines: at each start "ran",
# "command line: ..." and "current directory: ..." (one write); once it
# has tried to make the device, "device made" or "device failed: ...";
# last "ended".

# The record as plain lines; nothing before the stand-in first ran.
standin_log() { tr -d '\r' 2>/dev/null <"$WINEPREFIX/drive_c/standin-log.txt" || true; }
# standin_logged LINE: whether the record holds LINE, whole, in any case
# (Windows names as the launch spelt them).
standin_logged() { standin_log | grep -qiFx "$1"; }
# standin_line START: the first line that begins with START; fails without.
standin_line() { standin_log | awk -v s="$1" 'index($0, s) == 1 { print; found = 1; exit } END { exit !found }'; }
# How many times the stand-in started.
standin_launches() { standin_log | grep -c '^ran$' || true; }

# shellcheck shell=bash
# The project's one shell library, sourced by the scripts (scripts/,
# cmake/wine-run.sh, bench/run.sh) and the test scripts (tests/) alike:
#   failing        fail_at, the one way a script fails; at_stage and
#                  fail_trap for a script of many stages
#   checking       check, checks_end, wait_until (the one way to wait)
#   the stand-in   what the stand-in setup program recorded (standin_...)
#   packages       apt_install
#   Wine           which build and which loader this machine runs
#                  (wine_choose), prefixes, the server, virtual displays
#                  and the installer's window
# setup-debian.sh sources it before anything is installed: sourcing it
# needs nothing but bash and coreutils.
#
# Prefixes are made once as a template and copied (about 1 s) where many
# are needed. WINEARCH, when set, chooses the kind of a new prefix (win32,
# or win64: 64-bit programs, and the 32-bit program under WOW64).

shell_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# ---- Failing
#
# Every script fails one way: the stage it was at, the command (or the
# check) that failed, and what to do next, on standard error, each line
# starting with fail_name (the script's name unless it sets another).

fail_name=$(basename "$0" .sh)

# fail_at STAGE COMMAND WHAT_TO_DO [STATUS]: says so and exits with STATUS
# (1 unless given). Under fail_trap the trap says it, after the clean-up.
fail_at() {
  fail_stage=$1 fail_command=$2 fail_todo=$3
  [ -n "${fail_trapped:-}" ] || fail_say
  exit "${4:-1}"
}

fail_say() {
  printf '%s: FAILED at %s: %s\n%s: what to do: %s\n' \
    "$fail_name" "${fail_stage:-its start}" "${fail_command:-a command}" "$fail_name" "${fail_todo:-see its output above}" >&2
}

# at_stage STAGE WHAT_TO_DO: the stage a script of many stages enters, and
# what to do should it fail there.
at_stage() { fail_stage=$1 fail_todo=$2; }

# fail_trap CLEAN_UP: for a script under set -e. When it ends, CLEAN_UP (a
# command, given the exit status; ":" for none) runs; when it failed,
# fail_at's lines follow: at_stage's stage and what to do, and the command
# that ended it, also inside a function (errtrace), unless fail_at named
# another.
fail_trap() {
  fail_trapped=yes fail_clean_up=$1
  set -o errtrace
  trap 'fail_command="$BASH_COMMAND exited with status $?"' ERR
  trap fail_on_exit EXIT
}

fail_on_exit() {
  local status=$?
  trap - ERR
  "$fail_clean_up" "$status" || true
  [ "$status" = 0 ] || fail_say
}

# ---- Checking and waiting

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

# checks_end STAGE WHAT_TO_DO: ends a script of checks: exit 0 when every
# check held, else fail_at STAGE with how many did not.
checks_end() {
  [ "$checks_failed" -gt 0 ] || exit 0
  fail_at "$1" "$checks_failed check(s) said FAIL (above)" "$2"
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

# ---- Packages

# as_root COMMAND...: runs COMMAND as root, through sudo unless root already.
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# apt_install PACKAGE...: installs Debian packages, as root or through sudo
# (setup-debian.sh, bench/run.sh); fails through fail_at.
#
# A mirror in the middle of a sync can serve one index of the security
# archive with the wrong size (seen for bookworm-security's i386 one).
# apt-get update then fails, though every other index arrived: that is
# said and not fatal. Without that index, an i386 library cannot match the
# version of its amd64 twin that the security archive offers, which
# Multi-Arch requires, and the install fails; it is then tried once more
# with the release's own versions (-t CODENAME), which match on every
# architecture.
apt_install() {
  local install=(as_root apt-get install -y -q --no-install-recommends) codename
  local -x DEBIAN_FRONTEND=noninteractive
  [ $# -gt 0 ] || return 0
  echo "Installing: $*"
  as_root apt-get update -q ||
    echo "apt-get update could not fetch every index (its errors are above); going on with what it has"
  "${install[@]}" "$@" && return 0
  # shellcheck disable=SC1091  # the system's own file
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}") || codename=""
  if [ -n "$codename" ]; then
    echo "apt-get install failed; once more with $codename's own versions (-t $codename)"
    "${install[@]}" -t "$codename" "$@" && return 0
  fi
  fail_at "installing packages" "apt-get install $*" \
    "apt-get's errors are above; run as root or with sudo, check /etc/apt/sources.list and the network, then run this command again"
}

# ---- Which build and which loader
#
# Some x86-64 machines cannot execute 32-bit x86 code at all: the kernel
# refuses every i386 program with "Exec format error", the i386 Wine loader
# included (wine32:i386 installs, but never starts), and Wine under
# qemu-user's emulation crashes. There only Wine's 64-bit loader works, with
# the 64-bit build of the same sources (preset windows64). /usr/bin/wine
# starts the i386 loader whenever wine32 is installed, and wineboot goes
# through it too, so that path calls /usr/lib/wine/wine64 itself
# (scripts/wine64.sh), and makes prefixes with "wine64 wineboot -i". A
# 64-bit prefix made that way prints one harmless complaint about
# syswow64\rundll32.exe, the 32-bit part it cannot start. Both loaders,
# and the wineserver command used here, reach the same server script,
# which starts wineserver64 whenever wine64 is installed.

# wine_elf_runs MACHINE: whether the kernel runs a 91-byte static ELF32
# program for e_machine MACHINE (two hex digits; 03 is i386) that only calls
# exit(0) through int 0x80. A directory mounted noexec answers no, which is
# safe: the 64-bit path works wherever Wine does.
wine_elf_runs() {
  local elf status
  elf=$(mktemp "${TMPDIR:-/tmp}/adsl-elf-XXXXXX") || return 1
  # ELF header (entry 0x08048054), one loadable segment of the whole file,
  # then: xor eax,eax; inc eax; xor ebx,ebx; int 0x80.
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00%b\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\x31\xc0\x40\x31\xdb\xcd\x80' "\\x$1" >"$elf"
  chmod 700 "$elf"
  "$elf" >/dev/null 2>&1 </dev/null
  status=$?
  rm -f "$elf"
  return $status
}

# wine_i386_emulated BINFMT_DIR: whether i386 programs are handed to an
# emulator (binfmt_misc, as qemu-user registers itself): they then run,
# but Wine does not.
wine_i386_emulated() {
  local entry
  for entry in "$1"/*; do
    [ -f "$entry" ] && grep -qx enabled "$entry" 2>/dev/null &&
      grep -q '^magic 7f454c4601[0-9a-f]\{22\}0[23]000300' "$entry" 2>/dev/null && return 0
  done
  return 1
}

# wine_i386_runs: the probe. Whether this machine executes 32-bit x86
# programs itself. Needs nothing installed; asked once, its answer is
# exported (ADSL_WINE_I386=yes|no) to the scripts and tests a run starts.
wine_i386_runs() {
  if [ -z "${ADSL_WINE_I386:-}" ]; then
    ADSL_WINE_I386=no
    if wine_elf_runs 03 && ! wine_i386_emulated /proc/sys/fs/binfmt_misc; then ADSL_WINE_I386=yes; fi
    export ADSL_WINE_I386
  fi
  [ "$ADSL_WINE_I386" = yes ]
}

# wine_choose: the build and the loader, from the probe and from
# ADSL_WINE_64ONLY=1, which takes the 64-bit path on a machine that could
# run both (so that path is tested there too). Sets and exports
#   ADSL_WINE_BITS       32 or 64
#   ADSL_WINDOWS_PRESET  windows or windows64, built in build/<preset>
#   ADSL_WINE            the loader: wine, or scripts/wine64.sh
wine_choose() {
  if [ "${ADSL_WINE_64ONLY:-}" != 1 ] && wine_i386_runs; then
    ADSL_WINE_BITS=32 ADSL_WINDOWS_PRESET=windows ADSL_WINE=wine
  else
    ADSL_WINE_BITS=64 ADSL_WINDOWS_PRESET=windows64 ADSL_WINE=$shell_lib_dir/wine64.sh
  fi
  export ADSL_WINE_BITS ADSL_WINDOWS_PRESET ADSL_WINE
}

# Why wine_choose chose what it did, as the start of a sentence.
wine_choice_reason() {
  if ! wine_i386_runs; then
    echo "This machine cannot run 32-bit x86 programs"
  elif [ "${ADSL_WINE_64ONLY:-}" = 1 ]; then
    echo "ADSL_WINE_64ONLY=1 takes the 64-bit path, as on a machine that cannot run 32-bit x86 programs"
  else
    echo "This machine runs 32-bit x86 programs"
  fi
}

wine_chosen() { [ -n "${ADSL_WINE:-}" ] || wine_choose; }

# wine_pe_bits FILE: 32 or 64 for a Windows program (its PE header's
# machine), nothing for any other file.
wine_pe_bits() {
  local offset
  [ -f "$1" ] && [ "$(head -c 2 "$1" 2>/dev/null)" = MZ ] || return 0
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  case $(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ') in
    014c) echo 32 ;;
    8664) echo 64 ;;
  esac
}

# ---- Prefixes and the server

# Quiet Wine without its .NET and HTML installers, keeping the caller's
# other DLL overrides (the planting checks set their own).
wine_quiet() {
  case "${WINEDLLOVERRIDES:-}" in
    *mscoree*) ;;
    "") WINEDLLOVERRIDES="mscoree,mshtml=" ;;
    *) WINEDLLOVERRIDES="mscoree,mshtml=;$WINEDLLOVERRIDES" ;;
  esac
  export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES
}

# Ends the current prefix's server and waits for it: the registry reaches
# disk only then, and driver or DPI changes take effect at the next start.
wine_server_restart() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

# wine_prefix_make DIR [null|frames|managed] [fonts]: a fresh prefix at DIR,
# made the current one (WINEPREFIX). null: windows without any display
# (in-process tests); frames: Wine draws whole frames itself, no window
# manager needed; managed: a window manager draws them, as on a desktop.
# fonts: Wine's own fonts, "MS Sans Serif" among them, as the demo shows.
wine_prefix_make() {
  local dir=$1 graphics=${2:-null} fonts=${3:-}
  wine_quiet
  wine_chosen
  export WINEPREFIX=$dir
  mkdir -p "$(dirname "$dir")"
  "$ADSL_WINE" wineboot -i >/dev/null 2>&1
  case "$graphics" in
    null) "$ADSL_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 ;;
    frames) "$ADSL_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ;;
  esac
  if [ "$fonts" = fonts ]; then
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  wine_server_restart
}

# Whether the current prefix is a 64-bit one, where the 32-bit programs run
# under WOW64 (System32 mapped to SysWOW64), as on the Windows customers run.
wine_prefix_wow64() { [ -d "$WINEPREFIX/drive_c/windows/syswow64" ]; }

# wine_prefix_copy TEMPLATE DIR: a copy of a template prefix, made current.
wine_prefix_copy() {
  rm -rf "$2"
  cp -a "$1" "$2"
  export WINEPREFIX=$2
}

# The prefix's DPI, read when its server starts.
wine_set_dpi() {
  wine_chosen
  "$ADSL_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine_server_restart
}

# A persistent server with the prefix's services already running, so each
# program starts in a fraction of a second; started with its output
# discarded, so that nothing it starts holds a caller's pipe open.
wine_server_persist() {
  wine_chosen
  wineserver -p >/dev/null 2>&1 </dev/null
  "$ADSL_WINE" wineboot >/dev/null 2>&1 </dev/null
}

# xvfb_start DIR: a virtual display of 1024x768 with a number of its own
# choosing (its number written to DIR/display); sets DISPLAY and XVFB_PID.
# On a busy machine Xvfb has taken over 10 s to start.
xvfb_start() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
  XVFB_PID=$!
  wait_until 30 test -s "$1/display" || { echo "Xvfb did not start within 30 s" >&2; return 1; }
  DISPLAY=":$(head -n1 "$1/display")"
  export DISPLAY XVFB_PID
  # Ready once a client is served, not only once it has its number.
  wait_until 30 xdotool getdisplaygeometry >/dev/null 2>&1 ||
    { echo "Xvfb on $DISPLAY served no client within 30 s" >&2; return 1; }
}

xvfb_stop() {
  [ -n "${XVFB_PID:-}" ] || return 0
  kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
  XVFB_PID=
}

# The installer's window, as X sees it.
INSTALLER_TITLE='USB ADSL Modem Installer'

# The X window id of a visible installer window (the newest, when there
# are several); fails while there is none.
installer_window_shown() {
  xdotool search --onlyvisible --name "^$INSTALLER_TITLE\$" 2>/dev/null | tail -n1 | grep .
}
# installer_window_wait [SECONDS]: waits for one and prints its id.
installer_window_wait() { wait_until "${1:-60}" installer_window_shown; }

# installer_ready LOCATE_EXE: whether the visible installer window would
# take a click now, as the window itself tells LOCATE_EXE (the build's
# e2e_locate.exe): "Setup Now" is there, everything is painted and the
# window's thread answers. Shown on the display is not yet that far.
installer_ready() { wine_chosen && "$ADSL_WINE" "$1" "$INSTALLER_TITLE" "Setup Now" >/dev/null 2>&1; }

# installer_click_setup_now LOCATE_EXE: clicks the middle of "Setup Now"
# where the window itself says the button is, as a user's mouse would.
installer_click_setup_now() {
  local where
  wine_chosen
  where=$("$ADSL_WINE" "$1" "$INSTALLER_TITLE" "Setup Now" 2>/dev/null | tr -d '\r') || return 1
  [ -n "$where" ] || return 1
  # shellcheck disable=SC2086  # "X Y"
  xdotool mousemove $where click 1
}

# wine_env_start: a throw-away prefix with a persistent server for the
# Windows test programs (WINEPREFIX set; ctest's emulator then uses it);
# wine_env_stop ends the server and removes the prefix.
wine_env_start() {
  WINE_ENV_DIR=$(mktemp -d "${TMPDIR:-/tmp}/adsl-wine-XXXXXX")
  wine_prefix_make "$WINE_ENV_DIR/pfx" null
  wine_server_persist
}

wine_env_stop() {
  [ -n "${WINEPREFIX:-}" ] && wine_server_restart
  [ -n "${WINE_ENV_DIR:-}" ] && rm -rf "$WINE_ENV_DIR"
  unset WINEPREFIX WINE_ENV_DIR
  return 0
}

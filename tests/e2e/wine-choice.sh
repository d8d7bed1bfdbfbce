#!/usr/bin/env bash
# shellcheck disable=SC2317  # the checks are called through check
# The probe (does this machine run 32-bit x86 programs?) and the build and
# loader it chooses (wine_choose in scripts/shell-lib.sh), both ways: as this
# machine answers, and forced to the 64-bit path with ADSL_WINE_64ONLY=1.
# There /usr/bin/wine and its helpers are replaced by ones that fail, as the
# i386 loader fails on a machine that cannot run it: nothing on that path
# may reach them, a prefix must still be made and a 64-bit program run, and
# a 32-bit one must be refused with the reason.
#
#   tests/e2e/wine-choice.sh WINDOWS64_PROGRAM
#
# WINDOWS64_PROGRAM: a 64-bit Windows program that exits 0 with --version.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=scripts/shell-lib.sh
source "$root/scripts/shell-lib.sh"
program64=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/adsl-choice-XXXXXX")
unset WINEPREFIX WINESERVER DISPLAY ADSL_WINE_64ONLY ADSL_WINE_I386 ADSL_WINE
trap '[ -z "${WINEPREFIX:-}" ] || wine_server_restart; rm -rf "$work"' EXIT

chose() {  # chose BITS PRESET LOADER
  [ "$ADSL_WINE_BITS $ADSL_WINDOWS_PRESET $ADSL_WINE" = "$1 $2 $3" ] ||
    { echo "    chose: $ADSL_WINE_BITS $ADSL_WINDOWS_PRESET $ADSL_WINE"; return 1; }
}

echo "the probe"
check "an ELF program the kernel refuses (e_machine ARM) answers no" eval '! wine_elf_runs 28'
if [ -x /usr/lib/wine/wine ]; then
  i386_loader=no
  /usr/lib/wine/wine --version >/dev/null 2>&1 && i386_loader=yes
  probe=no
  wine_i386_runs && probe=yes
  check "it answers as the i386 Wine loader starts here: $i386_loader" [ "$probe" = "$i386_loader" ]
else
  echo "  (no i386 Wine loader installed to compare its answer with)"
fi
mkdir -p "$work/binfmt"
magic='magic 7f454c4601010100000000000000000002000300'
printf 'enabled\ninterpreter /usr/libexec/qemu-binfmt/i386-binfmt-P\nflags: PF\noffset 0\n%s\n' \
  "$magic" >"$work/binfmt/qemu-i386"
check "i386 programs handed to an emulator (binfmt_misc) count as not run" \
  wine_i386_emulated "$work/binfmt"
sed -i 's/^enabled$/disabled/' "$work/binfmt/qemu-i386"
check "... unless that emulator is disabled" eval "! wine_i386_emulated '$work/binfmt'"

wine_choose
echo "the choice as this machine answers: 32-bit x86 programs run: $ADSL_WINE_I386"
if [ "$ADSL_WINE_I386" = yes ]; then
  check "the 32-bit build with the wine command" chose 32 windows wine
else
  check "the 64-bit build with wine64 itself" chose 64 windows64 "$root/scripts/wine64.sh"
fi

echo "the 64-bit path, forced, with the i386 loader's commands failing"
mkdir -p "$work/bin"
for command in wine wine-stable wineboot winepath; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\necho "%s: Exec format error" >&2\nexit 126\n' \
    "$command" "$work/reached" "$command" >"$work/bin/$command"
  chmod +x "$work/bin/$command"
done
export PATH="$work/bin:$PATH" ADSL_WINE_64ONLY=1
wine_choose
check "the 64-bit build with wine64 itself" chose 64 windows64 "$root/scripts/wine64.sh"
wine_prefix_make "$work/pfx" null
check "a prefix is made" [ -f "$WINEPREFIX/system.reg" ]
runs() { "$ADSL_WINE" "$1" --version >"$work/out" 2>&1 || { sed 's/^/    /' "$work/out"; return 1; }; }
check "a 64-bit program runs" runs "$program64"
# A 32-bit Windows program's headers: the loader looks no further.
{ printf 'MZ'; head -c 58 /dev/zero; printf '\x40\x00\x00\x00PE\x00\x00\x4c\x01'; } >"$work/x86.exe"
refused() {  # refused PROGRAM: exit 126, saying why
  "$ADSL_WINE" "$1" 2>"$work/refusal"
  [ $? = 126 ] && grep -qF "32-bit Windows program" "$work/refusal" &&
    grep -qF "$(wine_choice_reason)" "$work/refusal"
}
check "a 32-bit program is refused (exit 126) with the reason" refused "$work/x86.exe"
check "nothing reached the i386 loader's commands" [ ! -e "$work/reached" ]
[ ! -e "$work/reached" ] || sed 's/^/    /' "$work/reached"

echo "wine choice tests: $checks_failed failed"
checks_end "the choice of build and loader" \
  "a wrong probe or choice runs the wrong build: see wine_i386_runs and wine_choose in scripts/shell-lib.sh"

#!/usr/bin/env bash
# Wine's 64-bit loader, started itself: the loader of the 64-bit path
# (wine_choose in shell-lib.sh), for machines that cannot run 32-bit x86
# code, where /usr/bin/wine would start the i386 loader. A script rather
# than a shell function, so that exec, xargs and timeout can start it too.
#
# A 32-bit Windows program is refused with the reason, as such a machine
# would refuse it, also where ADSL_WINE_64ONLY=1 takes this path on a
# machine that could run it: nothing on this path may depend on 32-bit code.
# shellcheck source=scripts/shell-lib.sh
. "$(dirname "$0")/shell-lib.sh"
fail_name=wine64.sh
if [ "$(wine_pe_bits "${1:-}")" = 32 ]; then
  fail_at "starting a Windows program" "$1 is a 32-bit Windows program; this loader runs the 64-bit build" \
    "$(wine_choice_reason): run the program of the 64-bit build (preset windows64, in build/windows64)" 126
fi
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=wine64
exec "$loader" "$@"

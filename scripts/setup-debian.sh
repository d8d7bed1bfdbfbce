#!/usr/bin/env bash
# Installs what building, testing and demonstrating the installer needs on
# Debian 12. Idempotent: does nothing when everything is there already.
# wine32:i386 only where this machine runs 32-bit x86 programs and the
# 64-bit path is not forced (wine_choose in shell-lib.sh): elsewhere it
# would install, but never start.
set -euo pipefail
# shellcheck source=scripts/shell-lib.sh
source "$(dirname "$0")/shell-lib.sh"

# libssl-dev: libcrypto's headers, for the native build's SHA-256.
packages=(cmake make g++ clang libclang-rt-14-dev googletest libssl-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 osslsigncode openssl
  fonts-wine xvfb xauth xdotool x11-utils imagemagick icewm shellcheck python3)
wine_choose
[ "$ADSL_WINE_BITS" = 64 ] || packages+=(wine32:i386)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$ADSL_WINE_BITS" = 32 ]; then
  as_root dpkg --add-architecture i386 ||
    fail_at "adding the i386 architecture for wine32" "dpkg --add-architecture i386" \
      "run this as root or with sudo; or take the 64-bit path, which needs no wine32: ADSL_WINE_64ONLY=1"
fi
apt_install "${missing[@]}"

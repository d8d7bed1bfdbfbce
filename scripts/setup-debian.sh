#!/usr/bin/env bash
# Installs what building, testing and demonstrating the installer needs on
# Debian 12. Idempotent: does nothing when everything is there already.
set -euo pipefail

packages=(cmake make g++ clang libclang-rt-14-dev googletest
  g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 wine64
  osslsigncode openssl
  fonts-wine xvfb xauth xdotool x11-utils imagemagick icewm shellcheck)

missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" dpkg --add-architecture i386
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

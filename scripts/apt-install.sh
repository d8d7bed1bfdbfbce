#!/usr/bin/env bash
# apt-install.sh PACKAGE...: installs Debian packages, as root or through
# sudo, for setup-debian.sh and bench/run.sh.
#
# A mirror in the middle of a sync can serve one index of the security
# archive with the wrong size (seen for bookworm-security's i386 one).
# apt-get update then fails, though every other index arrived: that is
# said and not fatal. Without that index, an i386 library cannot match the
# version of its amd64 twin that the security archive offers, which
# Multi-Arch requires, and the install fails; it is then tried once more
# with the release's own versions (-t CODENAME), which match on every
# architecture.
set -uo pipefail
[ $# -gt 0 ] || { echo "usage: scripts/apt-install.sh PACKAGE..." >&2; exit 2; }
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
echo "Installing: $*"
"${sudo[@]}" apt-get update -q ||
  echo "apt-get update could not fetch every index (its errors are above); going on with what it has"
install=("${sudo[@]}" apt-get install -y -q --no-install-recommends)
"${install[@]}" "$@" && exit 0
# shellcheck disable=SC1091  # the system's own file
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || exit 1
echo "apt-get install failed; once more with $codename's own versions (-t $codename)"
"${install[@]}" -t "$codename" "$@"

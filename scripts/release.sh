#!/usr/bin/env bash
# Makes what a provider ships: data.sec, packed from the vendor's files and
# verified, and Install.exe built for that one archive (it carries its
# SHA-256 and unpacks no other) and signed when a certificate is given,
# with their SHA-256 hashes and a note of what was built from what.
#
#   scripts/release.sh [--x64] VENDOR_DIR OUT_DIR
#
# The release is the 32-bit Install.exe, which runs on every Windows
# customers have; --x64 makes the same release with the 64-bit build of the
# same sources (preset windows64), so that a release can be run end to end
# on a machine that cannot run 32-bit x86 code. release.txt says which.
#
# VENDOR_DIR holds the vendor's setup program as "Setup.exe" at its top and
# the driver files; OUT_DIR must be empty or absent. It receives
# Install.exe, data.sec, SHA256SUMS and release.txt, all or none of them.
#
# Environment (all optional):
#   SIGN_PFX            PKCS#12 file with the code-signing certificate and key
#   SIGN_PASSWORD_FILE  file whose first line is its password (needed with SIGN_PFX)
#   SIGN_URL            the provider's web address, shown with the signature
#   SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server
#   SIGN_CA_FILE        the CA certificates the signature is checked against
#                       (default: the system's)
#   INSTALLER_COMPANY_NAME, INSTALLER_LEGAL_COPYRIGHT
#                       CompanyName and LegalCopyright of Install.exe
#   SOURCE_DATE_EPOCH   the release's date (default: the commit's)
#   RELEASE_BUILD_DIR   build there (default: a fresh temporary directory)
#   SECPACK             the native secpack to pack with (default: built here)
set -euo pipefail

die() {
  echo "release: $*" >&2
  exit 1
}
preset=windows triplet=i686-w64-mingw32 kind="32-bit Windows program (x86)"
if [ "${1:-}" = --x64 ]; then
  preset=windows64 triplet=x86_64-w64-mingw32 kind="64-bit Windows program (x86-64, --x64)"
  shift
fi
[ $# -eq 2 ] || { echo "usage: scripts/release.sh [--x64] VENDOR_DIR OUT_DIR" >&2; exit 2; }
vendor=$1
out=$2
root=$(cd "$(dirname "$0")/.." && pwd)
product="USB ADSL Modem Installer"

# ---- refusals that need no build

[ -d "$vendor" ] || die "$vendor is not a directory"
# The installer starts c:\ZUV_tmp\Setup.exe, the archive's top "Setup.exe".
[ -f "$vendor/Setup.exe" ] || die "$vendor has no Setup.exe at its top: the installer would have nothing to start"
if [ -e "$out" ]; then
  [ -d "$out" ] || die "$out is not a directory"
  [ -z "$(find "$out" -mindepth 1 -maxdepth 1 -print -quit)" ] ||
    die "$out is not empty: a release never mixes with older files"
fi
if [ -n "${SIGN_PFX:-}" ]; then
  [ -r "$SIGN_PFX" ] || die "SIGN_PFX: cannot read $SIGN_PFX"
  if [ -z "${SIGN_PASSWORD_FILE:-}" ] || [ ! -r "$SIGN_PASSWORD_FILE" ]; then
    die "SIGN_PFX needs SIGN_PASSWORD_FILE, a readable file holding its password"
  fi
  command -v osslsigncode >/dev/null || die "signing needs osslsigncode (apt-get install osslsigncode)"
fi

stage=$(mktemp -d "${TMPDIR:-/tmp}/adsl-release-XXXXXX")
trap 'rm -rf "$stage"' EXIT
build=${RELEASE_BUILD_DIR:-$stage/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)

# ---- build

commit=$(git -C "$root" rev-parse HEAD)
tree_state=""
[ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] || tree_state=" (with uncommitted changes)"
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH

quietly() {  # quietly LOG COMMAND...: shows the output only when it fails
  local log=$1.log
  shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; die "failed: $*"; }
}
echo "release: building $commit$tree_state, a $kind, in $build"
if [ -z "${SECPACK:-}" ]; then
  (
    cd "$root"
    quietly "$stage/configure-host" cmake --preset linux -B "$build/host" -DINSTALLER_TESTS=OFF
    quietly "$stage/build-host" cmake --build "$build/host" --target secpack -j 2
  )
fi
secpack=${SECPACK:-$build/host/tools/secpack/secpack}
install_exe=$build/$preset/app/Install.exe
version=$("$secpack" --version | sed -n 's/^secpack //p')
[ -n "$version" ] || die "secpack --version gave no version"

# ---- the archive first: Install.exe is built for it

echo "release: packing $vendor"
"$secpack" create "$stage/data.sec" "$vendor" >/dev/null || die "secpack create refused $vendor"
"$secpack" verify "$stage/data.sec" >"$stage/verify.txt" 2>&1 ||
  die "the archive does not verify: $(cat "$stage/verify.txt")"
"$secpack" list "$stage/data.sec" >"$stage/listing.txt" || die "secpack list failed"
digest=$("$secpack" digest "$stage/data.sec" | cut -d' ' -f1)
[ ${#digest} -eq 64 ] || die "secpack digest gave '$digest'"

# ---- Install.exe, carrying the archive's digest

(
  cd "$root"
  quietly "$stage/configure" cmake --preset "$preset" -B "$build/$preset" -DINSTALLER_TESTS=OFF \
    "-DINSTALLER_PACKAGE_SHA256=$digest" \
    "-DINSTALLER_COMPANY_NAME=${INSTALLER_COMPANY_NAME:-}" \
    "-DINSTALLER_LEGAL_COPYRIGHT=${INSTALLER_LEGAL_COPYRIGHT:-}"
  quietly "$stage/build" cmake --build "$build/$preset" --target Install secpack -j 2
)
# One version: project()'s, in secpack and in Install.exe's version resource.
resource_version=$("$triplet-windres" -i "$install_exe" -J coff -O rc |
  sed -n 's/.*VALUE "ProductVersion", "\(.*\)".*/\1/p')
[ "$resource_version" = "$version.0" ] ||
  die "Install.exe says version '$resource_version', secpack '$version'"
"$secpack" verify --installer "$install_exe" "$stage/data.sec" >/dev/null 2>"$stage/bound.txt" ||
  die "Install.exe is not bound to data.sec: $(cat "$stage/bound.txt")"

# ---- Install.exe, signed if a certificate was given

if [ -n "${SIGN_PFX:-}" ]; then
  echo "release: signing Install.exe"
  sign=(osslsigncode sign -pkcs12 "$SIGN_PFX" -readpass "$SIGN_PASSWORD_FILE" -h sha256 -n "$product")
  [ -z "${SIGN_URL:-}" ] || sign+=(-i "$SIGN_URL")
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || sign+=(-ts "$SIGN_TIMESTAMP_URL")
  quietly "$stage/sign" "${sign[@]}" -in "$install_exe" -out "$stage/Install.exe"
  check=(osslsigncode verify)
  [ -z "${SIGN_CA_FILE:-}" ] || check+=(-CAfile "$SIGN_CA_FILE")
  "${check[@]}" -in "$stage/Install.exe" >"$stage/signature.txt" 2>&1 ||
    die "the signature does not verify: $(cat "$stage/signature.txt")"
  signer=$(sed -n 's/^[[:space:]]*Subject: //p' "$stage/signature.txt" | head -n1)
  signed=signed
  signature="signed (Authenticode, SHA-256) by $signer"
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || signature+=", time-stamped by $SIGN_TIMESTAMP_URL"
else
  cp "$install_exe" "$stage/Install.exe"
  signed=unsigned
  signature="UNSIGNED: Windows shows \"Unknown publisher\" when it asks for administrator rights"
fi

# ---- hashes and the note, after signing

(cd "$stage" && sha256sum Install.exe data.sec >SHA256SUMS)
{
  echo "$product $version"
  echo "commit: $commit$tree_state"
  echo "date: $(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ) (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
  echo "Install.exe: $(wc -c <"$stage/Install.exe") bytes, $kind, $signature"
  echo "Install.exe unpacks only the data.sec of SHA-256 $digest"
  echo "data.sec: $(wc -c <"$stage/data.sec") bytes, $(sed -n 's/^.*: valid, //p' "$stage/verify.txt")"
  echo
  echo "SHA-256 (SHA256SUMS):"
  sed 's/^/  /' "$stage/SHA256SUMS"
  echo
  echo "data.sec holds:"
  cat "$stage/listing.txt"
} >"$stage/release.txt"

mkdir -p "$out"
mv "$stage/Install.exe" "$stage/data.sec" "$stage/SHA256SUMS" "$stage/release.txt" "$out/"
echo "release: $out: Install.exe, data.sec, SHA256SUMS, release.txt ($version, $signed)"

#!/usr/bin/env bash
# The checks' helpers run through check, which shellcheck does not follow:
# shellcheck disable=SC2317
#
# Tests of scripts/release.sh: its refusals; a release signed with a
# throw-away certificate authority that osslsigncode accepts and a flipped
# byte breaks; its Install.exe bound to its data.sec; the signed release in
# the typical end-to-end case, and beside another valid archive, which it
# refuses; and the release's clean builds, 32- and 64-bit, in another
# directory, byte for byte the same as the Windows builds' once given the
# same digest (none). The signed release and its end-to-end cases are of
# the build this machine runs (wine_choose in scripts/wine-lib.sh): the
# 32-bit one, or --x64 where 32-bit x86 code cannot run; the other build is
# released unsigned and compared.
#
#   tests/release/run.sh [WINDOWS_BUILD_DIR [WINDOWS64_BUILD_DIR]]
#
# Needs both Windows builds (for the comparisons, the stand-in package and
# the end-to-end test's pieces). RELEASE_TEST_WORK=DIR works (and stays)
# there.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=scripts/wine-lib.sh
source "$root/scripts/wine-lib.sh"
wine_choose
build32=$(cd "${1:-$root/build/windows}" && pwd) || exit 2
build64=$(cd "${2:-$root/build/windows64}" && pwd) || exit 2
# The build that runs here is signed and run; the other one is compared.
if [ "$ADSL_WINE_BITS" = 32 ]; then
  build=$build32 runs=() preset=windows other=$build64 other_runs=(--x64) other_preset=windows64
  kind="32-bit Windows program (x86)" other_kind="64-bit Windows program (x86-64, --x64)"
  windres=i686-w64-mingw32-windres
else
  build=$build64 runs=(--x64) preset=windows64 other=$build32 other_runs=() other_preset=windows
  kind="64-bit Windows program (x86-64, --x64)" other_kind="32-bit Windows program (x86)"
  windres=x86_64-w64-mingw32-windres
fi
work=${RELEASE_TEST_WORK:-$(mktemp -d "${TMPDIR:-/tmp}/adsl-release-test-XXXXXX")}
mkdir -p "$work"
work=$(cd "$work" && pwd)
[ -n "${RELEASE_TEST_WORK:-}" ] || trap 'rm -rf "$work"' EXIT
release=$root/scripts/release.sh
export RELEASE_BUILD_DIR=$work/build
unset SIGN_PFX SIGN_PASSWORD_FILE SIGN_URL SIGN_TIMESTAMP_URL SIGN_CA_FILE SECPACK \
  INSTALLER_COMPANY_NAME INSTALLER_LEGAL_COPYRIGHT

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "  ok    $what"; else echo "  FAIL  $what"; failures=$((failures + 1)); fi
}
# refuses REASON_PATTERN VENDOR OUT: exit 1 with that reason, OUT left as it was
entries() { find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' 2>/dev/null | sort | tr '\n' ' '; }
refuses() {
  local before rc
  before=$(entries "$3")
  bash "$release" "$2" "$3" >"$work/refusal.log" 2>&1
  rc=$?
  if [ "$rc" != 1 ] || ! grep -q "$1" "$work/refusal.log" || [ "$(entries "$3")" != "$before" ]; then
    echo "    exit $rc:"
    sed 's/^/    /' "$work/refusal.log"
    return 1
  fi
}
released() { [ "$(entries "$1")" = "Install.exe SHA256SUMS data.sec release.txt " ]; }
sums_hold() { (cd "$1" && sha256sum --quiet -c SHA256SUMS); }
succeeded() {  # succeeded RC LOG: shows the log when RC is not 0
  [ "$1" = 0 ] || { sed 's/^/    /' "$2"; return 1; }
}
verifies() { osslsigncode verify -CAfile "$work/ca.pem" -in "$1" >"$work/verify.log" 2>&1; }
refused() { ! verifies "$1"; }
packs_as() { "$build/host/tools/secpack/secpack" create "$work/packed.sec" "$1" >/dev/null && cmp "$work/packed.sec" "$2"; }
company_name_is() {
  "$windres" -i "$1" -J coff -O rc | grep -qF "VALUE \"CompanyName\", \"$2\""
}

# ---- a vendor tree: the stand-in package (Setup.exe and driver files)

vendor=$work/vendor
cp -a "$build/demo/package" "$vendor"
# The stand-in makes no device: the end-to-end case makes it when it wants.
printf '[standin]\r\ndevice=0' >"$vendor/standin.ini"

echo "release: refusals"
mkdir -p "$work/no-setup/drivers" && cp "$vendor/drivers/adslusb.inf" "$work/no-setup/drivers/"
check "a vendor directory without Setup.exe at its top" refuses "no Setup.exe" "$work/no-setup" "$work/out0"
mkdir -p "$work/used" && echo old >"$work/used/data.sec"
check "an output directory that is not empty" refuses "not empty" "$vendor" "$work/used"

# ---- a throw-away CA and a code-signing certificate from it

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Release Test Root CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Release Test Provider" \
  -keyout "$work/sign.key" -out "$work/sign.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$work/ext"
openssl x509 -req -days 2 -in "$work/sign.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
  -CAcreateserial -extfile "$work/ext" -out "$work/sign.pem" 2>/dev/null
echo "a password, not on any command line" >"$work/password"
openssl pkcs12 -export -inkey "$work/sign.key" -in "$work/sign.pem" -certfile "$work/ca.pem" \
  -passout "file:$work/password" -out "$work/sign.pfx"

echo "release: signed, with a clean build: a $kind"
signed=$work/signed
SIGN_PFX=$work/sign.pfx SIGN_PASSWORD_FILE=$work/password SIGN_CA_FILE=$work/ca.pem \
  SIGN_URL=https://provider.example/ bash "$release" "${runs[@]}" "$vendor" "$signed" >"$work/signed.log" 2>&1
check "release.sh made the signed release" succeeded $? "$work/signed.log"
check "... of exactly Install.exe, data.sec, SHA256SUMS, release.txt" released "$signed"
check "... whose hashes hold" sums_hold "$signed"
check "osslsigncode accepts the signature against the test CA" verifies "$signed/Install.exe"
cp "$signed/Install.exe" "$work/flipped.exe"
printf '\x5a' | dd of="$work/flipped.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
check "... and refuses it after one byte of the program changed" refused "$work/flipped.exe"
version=$(sed -n 's/^project(.* VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
check "release.txt: project()'s version $version, the commit, the signer" grep -qxF \
  "USB ADSL Modem Installer $version" "$signed/release.txt"
check "... the commit" grep -q "^commit: $(git -C "$root" rev-parse HEAD)" "$signed/release.txt"
check "... signed by the test certificate" grep -q "^Install.exe: .* signed .*Release Test Provider" "$signed/release.txt"
check "... a $kind" grep -qF "bytes, $kind, signed" "$signed/release.txt"
check "... the archive's Setup.exe" grep -qE '^ +[0-9]+  Setup.exe$' "$signed/release.txt"
secpack=$build/host/tools/secpack/secpack
digest=$("$secpack" digest "$signed/data.sec" | cut -d' ' -f1)
check "... the digest of data.sec that Install.exe carries" grep -qx \
  "Install.exe unpacks only the data.sec of SHA-256 $digest" "$signed/release.txt"
bound_to() { "$secpack" verify --installer "$1" "$2" >/dev/null 2>&1; }
check "the signed Install.exe carries that digest" bound_to "$signed/Install.exe" "$signed/data.sec"
printf '\x5a' | cat "$signed/data.sec" - >"$work/longer.sec"
check "... and no other: not an archive one byte longer" \
  eval "! bound_to '$signed/Install.exe' '$work/longer.sec'"
# The same tree, its entries made in the opposite order (the order a
# directory lists them in) and with other times: the same archive.
reordered=$work/reordered
(cd "$vendor" && find . -mindepth 1 | sort -r) | while read -r entry; do
  if [ -d "$vendor/$entry" ]; then mkdir -p "$reordered/$entry"
  else mkdir -p "$(dirname "$reordered/$entry")" && cp "$vendor/$entry" "$reordered/$entry"; fi
done
find "$reordered" -exec touch -d '2001-02-03 04:05:06' {} +
check "data.sec has the same bytes from a copy in another order, with other times" \
  packs_as "$reordered" "$signed/data.sec"

# Two clean builds of this tree, in different directories, with and
# without the tests: the same bytes. A release's Install.exe carries its
# archive's digest, so it is compared once built again without one, as the
# Windows builds are.
rebuilt_without_digest() {  # rebuilt_without_digest BUILD
  if ! { cmake -B "$1" -DINSTALLER_PACKAGE_SHA256= &&
    cmake --build "$1" --target Install -j 2; } >"$work/rebuild.log" 2>&1; then
    sed 's/^/    /' "$work/rebuild.log"
    return 1
  fi
}
same_programs() {  # same_programs RELEASE_BUILD BUILD
  cmp "$1/tools/secpack/secpack.exe" "$2/tools/secpack/secpack.exe" &&
    rebuilt_without_digest "$1" && cmp "$1/app/Install.exe" "$2/app/Install.exe"
}
check "the release's secpack.exe, and its Install.exe without a digest, are byte for byte the Windows build's" \
  same_programs "$RELEASE_BUILD_DIR/$preset" "$build"

echo "release: the other build, a $other_kind"
bash "$release" "${other_runs[@]}" "$vendor" "$work/other" >"$work/other.log" 2>&1
check "release.sh made it" succeeded $? "$work/other.log"
check "... and says so in release.txt" grep -qF "bytes, $other_kind, UNSIGNED" "$work/other/release.txt"
check "... its secpack.exe, and its Install.exe without a digest, byte for byte the Windows build's" \
  same_programs "$RELEASE_BUILD_DIR/$other_preset" "$other"

echo "release: unsigned, with the provider's name"
INSTALLER_COMPANY_NAME='Example "Net" Ltd' bash "$release" "${runs[@]}" "$vendor" "$work/unsigned" \
  >"$work/unsigned.log" 2>&1
check "release.sh made the unsigned release" succeeded $? "$work/unsigned.log"
check "... and says in release.txt that it is unsigned" grep -q "^Install.exe: .* UNSIGNED" "$work/unsigned/release.txt"
check "... CompanyName in Install.exe's version resource" \
  company_name_is "$work/unsigned/Install.exe" 'Example ""Net"" Ltd'

echo "release: an archive that does not verify"
# A secpack whose archives lose their last byte.
cat >"$work/bad-secpack" <<EOF
#!/bin/sh
"$RELEASE_BUILD_DIR/host/tools/secpack/secpack" "\$@" || exit
[ "\$1" = create ] && truncate -s -1 "\$2"
exit 0
EOF
chmod +x "$work/bad-secpack"
export SECPACK=$work/bad-secpack
check "an archive that does not verify is refused" refuses "does not verify" "$vendor" "$work/out1"
unset SECPACK

echo "release: the signed release, end to end under Wine ($(wine_choice_reason))"
# The e2e test's build directory, with the signed program in it.
mixed=$work/mixed
mkdir -p "$mixed/app" "$mixed/tests/e2e" "$mixed/host/tools/secpack"
cp "$signed/Install.exe" "$mixed/app/Install.exe"
ln -s "$build/tests/e2e/e2e_boxwatch.exe" "$build/tests/e2e/e2e_locate.exe" "$mixed/tests/e2e/"
ln -s "$build/demo" "$mixed/demo"
ln -s "$build/host/tools/secpack/secpack" "$mixed/host/tools/secpack/"
E2E_ARCHIVE=$signed/data.sec bash "$root/tests/e2e/run.sh" "$mixed" typical foreign_package \
  >"$work/e2e.log" 2>&1
check "the typical end-to-end case passes with the signed Install.exe and its data.sec," \
  succeeded $? "$work/e2e.log"
check "... and another valid archive is refused (case foreign_package)" \
  grep -qx -- "--- foreign_package: passed" "$work/e2e.log"

echo "release tests: $failures failed"
exit $((failures > 0))

#!/usr/bin/env bash
# The checks' helpers run through check, which shellcheck does not follow:
# shellcheck disable=SC2317
#
# Tests of scripts/release.sh: its refusals, the early ones before any
# build; a release signed with the throw-away certificate authority of
# docs/provider.md, which osslsigncode accepts and a flipped byte breaks;
# its Install.exe bound to its data.sec, without the development build's
# mark, and one built without the digest refused before signing; junk
# left out and a SETUP.EXE found; a release from git archive output with
# the provider's name, rebuilt byte for byte by the auditor's commands of
# docs/provider.md; the signed release in the typical end-to-end case,
# and beside another valid archive, which it refuses; and the release's
# clean builds, 32- and 64-bit, in another directory, byte for byte the
# same as the Windows builds' once given the same digest (none). The
# signed release and its end-to-end cases are of the build this machine
# runs (wine_choose in scripts/shell-lib.sh): the 32-bit one, or --x64
# where 32-bit x86 code cannot run; the other build is released unsigned
# and compared.
#
#   tests/release/run.sh [WINDOWS_BUILD_DIR [WINDOWS64_BUILD_DIR]]
#
# Needs both Windows builds (for the comparisons, the stand-in package and
# the end-to-end test's pieces). RELEASE_TEST_WORK=DIR works (and stays)
# there.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=scripts/shell-lib.sh
source "$root/scripts/shell-lib.sh"
fail_name="release tests"
wine_choose
build_first() {  # what to do when a Windows build is missing
  echo "build both Windows presets first: cmake --preset windows && cmake --build --preset windows, and the same for windows64"
}
build32=$(cd "${1:-$root/build/windows}" && pwd) ||
  fail_at "finding the Windows builds" "no directory ${1:-$root/build/windows}" "$(build_first)" 2
build64=$(cd "${2:-$root/build/windows64}" && pwd) ||
  fail_at "finding the Windows builds" "no directory ${2:-$root/build/windows64}" "$(build_first)" 2
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

# check, counting into checks_failed, comes from scripts/shell-lib.sh.
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
verifies() { osslsigncode verify -CAfile "$work/ca/test-ca.pem" -in "$1" >"$work/verify.log" 2>&1; }
refused() { ! verifies "$1"; }
packs_as() { "$build/host/tools/secpack/secpack" create "$work/packed.sec" "$1" >/dev/null && cmp "$work/packed.sec" "$2"; }
company_name_is() {  # company_name_is INSTALL_EXE STRING_AS_WINDRES_WRITES_IT
  # grep reads to the end: with -q it would stop at the match, and windres,
  # still writing, would die of SIGPIPE, which pipefail counts as a failure.
  "$windres" -i "$1" -J coff -O rc | grep -F "VALUE \"CompanyName\", $2" >/dev/null
}
# doc_commands HEADING: the first indented block after that heading of
# docs/provider.md, as a reader would copy it.
doc_commands() {
  awk -v heading="$1" '$0 == heading { found = 1; next }
    found && /^    / { print substr($0, 5); block = 1; next }
    block { exit }' "$root/docs/provider.md"
}
# runs_doc DIRECTORY HEADING LOG: runs those commands there, stopping at
# the first that fails.
runs_doc() {
  local commands
  commands=$(doc_commands "$2")
  [ -n "$commands" ] || { echo "    no commands under \"$2\""; return 1; }
  (cd "$1" && bash -e -c "$commands") >"$3" 2>&1 || { sed 's/^/    /' "$3"; return 1; }
}

# ---- a vendor tree: the stand-in package (Setup.exe and driver files)

vendor=$work/vendor
cp -a "$build/demo/package" "$vendor"
# The stand-in makes no device: the end-to-end case makes it when it wants.
printf '[standin]\r\ndevice=0' >"$vendor/standin.ini"

echo "release: refusals before any build"
mkdir -p "$work/no-setup/drivers" && cp "$vendor/drivers/adslusb.inf" "$work/no-setup/drivers/"
check "a vendor directory without Setup.exe at its top" refuses "no Setup.exe" "$work/no-setup" "$work/out0"
mkdir -p "$work/used" && echo old >"$work/used/data.sec"
check "an output directory that is not empty" refuses "not empty" "$vendor" "$work/used"
ln -s "$vendor" "$work/vendor-link"
check "an output directory inside the vendor directory, reached through a link" \
  refuses "is inside $work/vendor-link" "$work/vendor-link" "$vendor/release-1"

# ---- the throw-away CA and code-signing certificate of docs/provider.md

mkdir -p "$work/ca"
check "docs/provider.md's throw-away certificate authority and certificate" \
  runs_doc "$work/ca" "### Trying it with a throw-away certificate authority" "$work/ca.log"
echo "not the password" >"$work/wrong-password"
refused_before_building() {
  SIGN_PFX=$work/ca/test-sign.pfx SIGN_PASSWORD_FILE=$work/wrong-password RELEASE_BUILD_DIR=$work/never-built \
    refuses "does not open with the password" "$vendor" "$work/out2" && [ ! -e "$work/never-built" ]
}
check "a wrong password for the certificate, before any build (no build directory made)" refused_before_building

echo "release: signed, with a clean build: a $kind"
signed=$work/signed
SIGN_PFX=$work/ca/test-sign.pfx SIGN_PASSWORD_FILE=$work/ca/test-password.txt SIGN_CA_FILE=$work/ca/test-ca.pem \
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
check "... signed by the test certificate" grep -q "^Install.exe: .* signed .*Example Net Ltd (test)" "$signed/release.txt"
expiry=$(date -u -d "$(openssl x509 -in "$work/ca/test-sign.pem" -noout -enddate | cut -d= -f2)" +%Y-%m-%dT%H:%M:%SZ)
signer_recorded() {
  [ "$(sed -n '/^issuer: /,/^time stamp: /p' "$signed/release.txt")" = "$(printf '%s\n' \
    "issuer: CN=Test Code Signing Root" "certificate expires: $expiry" \
    "time stamp: NONE: WARNING: the signature stops verifying when the certificate expires ($expiry)")" ]
}
check "... its issuer, its expiry, and that it is not time-stamped, with the warning" signer_recorded
check "... a $kind" grep -qF "bytes, $kind, signed" "$signed/release.txt"
check "... the archive's Setup.exe" grep -qE '^ +[0-9]+  Setup.exe$' "$signed/release.txt"
secpack=$build/host/tools/secpack/secpack
digest=$("$secpack" digest "$signed/data.sec" | cut -d' ' -f1)
check "... the digest of data.sec that Install.exe carries" grep -qx \
  "Install.exe unpacks only the data.sec of SHA-256 $digest" "$signed/release.txt"
bound_to() { "$secpack" verify --installer "$1" "$2" >/dev/null 2>&1; }
check "the signed Install.exe carries that digest" bound_to "$signed/Install.exe" "$signed/data.sec"
# The version resource as windres writes it out, read to its end (see
# company_name_is).
development_build() {
  "$windres" -i "$1" -J coff -O rc | grep -F 'VALUE "SpecialBuild", "development build: unpacks any data.sec"' >/dev/null
}
check "... and no development build mark, which the Windows build's Install.exe, without a digest, has" \
  eval "! development_build '$signed/Install.exe' && development_build '$build/app/Install.exe'"
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

echo "release: refused after packing"
mkdir -p "$work/text-setup" && echo "@echo off" >"$work/text-setup/Setup.exe"
check "a Setup.exe that is not a Windows program" refuses "Setup.exe is not a Windows executable" \
  "$work/text-setup" "$work/out3"

# A cmake that drops the package's digest: release.sh builds a development
# Install.exe, and must refuse it before the signing it was asked for.
mkdir -p "$work/no-digest"
cat >"$work/no-digest/cmake" <<EOF
#!/bin/sh
for arg; do
  shift
  case \$arg in -DINSTALLER_PACKAGE_SHA256=*) set -- "\$@" -DINSTALLER_PACKAGE_SHA256= ;; *) set -- "\$@" "\$arg" ;; esac
done
exec "$(command -v cmake)" "\$@"
EOF
chmod +x "$work/no-digest/cmake"
refused_unbound() {
  PATH=$work/no-digest:$PATH SIGN_PFX=$work/ca/test-sign.pfx SIGN_PASSWORD_FILE=$work/ca/test-password.txt \
    SIGN_CA_FILE=$work/ca/test-ca.pem refuses "Install.exe is not bound to data.sec, so it is not signed" \
    "$vendor" "$work/out4" && ! grep -q "signing" "$work/refusal.log"
}
check "an Install.exe built without the digest, never signed" refused_unbound

echo "release: the other build, a $other_kind, of a tree with SETUP.EXE and junk"
junky=$work/junky
cp -a "$vendor" "$junky"
mv "$junky/Setup.exe" "$junky/SETUP.EXE"
mkdir -p "$junky/__MACOSX/drivers"
touch "$junky/.DS_Store" "$junky/Desktop.ini" "$junky/drivers/Thumbs.db" "$junky/drivers/._adslusb.inf" \
  "$junky/__MACOSX/drivers/._adslusb.inf"
bash "$release" "${other_runs[@]}" "$junky" "$work/other" >"$work/other.log" 2>&1
check "release.sh made it" succeeded $? "$work/other.log"
check "... and says so in release.txt" grep -qF "bytes, $other_kind, UNSIGNED" "$work/other/release.txt"
check "... with SETUP.EXE as the setup program, a Windows program" \
  grep -q '^setup program: SETUP.EXE, Windows executable, x' "$work/other/release.txt"
left_out_listed() {
  [ "$(sed -n '/^left out of data.sec/,/^$/p' "$work/other/release.txt")" = "$(printf '%s\n' \
    "left out of data.sec (junk; --keep-junk packs it):" "  .DS_Store" "  Desktop.ini" "  __MACOSX\\" \
    "  drivers\\._adslusb.inf" "  drivers\\Thumbs.db")" ] &&
    ! "$secpack" list "$work/other/data.sec" | grep -qiE 'DS_Store|desktop|Thumbs|MACOSX|\._'
}
check "... the junk left out of data.sec, and listed in release.txt" left_out_listed
check "... its secpack.exe, and its Install.exe without a digest, byte for byte the Windows build's" \
  same_programs "$RELEASE_BUILD_DIR/$other_preset" "$other"

echo "release: from git archive output, with the provider's name, rebuilt as docs/provider.md tells an auditor"
source_tree=$work/source
mkdir -p "$source_tree"
# The tree as it is: changes not yet committed included.
snapshot=$(git -C "$root" stash create)
git -C "$root" archive --format=tar "${snapshot:-HEAD}" | tar -x -C "$source_tree"
head=$(git -C "$root" rev-parse HEAD)
# The secpack the releases above built: the source's own build is the auditor's.
built_secpack=$RELEASE_BUILD_DIR/host/tools/secpack/secpack
INSTALLER_COMPANY_NAME='Exemple "Net" Société' INSTALLER_LEGAL_COPYRIGHT='© 2026 Exemple' RELEASE_COMMIT=$head \
  RELEASE_BUILD_DIR=$work/source-build SECPACK=$built_secpack \
  bash "$source_tree/scripts/release.sh" "${runs[@]}" "$vendor" "$work/unsigned" >"$work/unsigned.log" 2>&1
check "release.sh made it" succeeded $? "$work/unsigned.log"
check "... and says in release.txt that it is unsigned" grep -q "^Install.exe: .* UNSIGNED" "$work/unsigned/release.txt"
check "... the commit it was given, as not checked" \
  grep -qx "commit: $head (not checked: the source has no git history)" "$work/unsigned/release.txt"
check "... the date of CMakeLists.txt, which git archive set" grep -q \
  "^date: .* (SOURCE_DATE_EPOCH=$(stat -c %Y "$source_tree/CMakeLists.txt"), the modification time of CMakeLists.txt" \
  "$work/unsigned/release.txt"
# The budget tests/app/check-install-exe.sh keeps, with the digest the
# Windows builds do not carry.
within_budget() { [ "$(wc -c <"$1")" -le 32768 ] && [ "$(wc -c <"$2")" -le 32768 ]; }
check "... its Install.exe, and the other build's, within 32 KiB with the package's digest" \
  within_budget "$work/unsigned/Install.exe" "$work/other/Install.exe"
check "... CompanyName in Install.exe's version resource, outside ASCII too" \
  company_name_is "$work/unsigned/Install.exe" 'L"Exemple ""Net"" Soci\351t\351"'
audited() {
  R=$work/unsigned runs_doc "$source_tree" "### Rebuilding a release" "$work/audit.log" &&
    grep -qx "Install.exe: the same bytes" "$work/audit.log"
}
check "docs/provider.md's auditor's commands rebuild its Install.exe byte for byte" audited

echo "release: an archive that does not verify"
# A secpack whose archives lose their last byte.
cat >"$work/bad-secpack" <<EOF
#!/bin/sh
"$built_secpack" "\$@" || exit
[ "\$1" = create ] || exit 0
shift \$((\$# - 2))  # to OUT, after the options
truncate -s -1 "\$1"
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

echo "release tests: $checks_failed failed"
checks_end "the release tests" \
  "each FAIL shows the log it saw; RELEASE_TEST_WORK=DIR bash tests/release/run.sh keeps every file in DIR"

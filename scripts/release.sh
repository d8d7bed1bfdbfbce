#!/usr/bin/env bash
# Makes what a provider ships: data.sec, packed from the vendor's files and
# verified, and Install.exe built for that one archive (it carries its
# SHA-256 and unpacks no other) and signed when a certificate is given,
# with their SHA-256 hashes and release.txt, which says what was built from
# what, for whoever checks or rebuilds it. `scripts/release.sh --help` lists
# the options, the environment and the exit codes.
#
# The release is the 32-bit Install.exe, which runs on every Windows from
# Vista on; --x64 makes the same release with the 64-bit build of the
# same sources (preset windows64), so that a release can be run end to end
# on a machine that cannot run 32-bit x86 code. release.txt says which.
set -euo pipefail

usage() {
  cat <<'EOF'
usage: scripts/release.sh [--x64] [--code-page N] [--keep-junk] VENDOR_DIR OUT_DIR
       scripts/release.sh --help

Packs VENDOR_DIR (the vendor's Setup.exe at its top, in any case, and the
driver files) into data.sec, builds Install.exe for that archive, signs it if
SIGN_PFX is set, and writes Install.exe, data.sec, SHA256SUMS and release.txt
into OUT_DIR, which must be empty or absent and outside VENDOR_DIR: all four,
or nothing.

Options:
  --x64           the 64-bit build of the same sources (runs on 64-bit Windows
                  only: ship the 32-bit one)
  --code-page N   the vendor's names are UTF-8 with characters outside ASCII:
                  store them in the customers' Windows code page N (secpack's
                  --code-page: 874, 1250 to 1257)
  --keep-junk     also pack .DS_Store, Thumbs.db, desktop.ini, __MACOSX/ and
                  ._* (left out by default, and listed in release.txt)
  -h, --help      this text

Environment (all optional):
  SIGN_PFX            PKCS#12 file with the code-signing certificate and its key
  SIGN_PASSWORD_FILE  file whose first line is its password (needed with SIGN_PFX)
  SIGN_URL            the provider's web address, shown with the signature
  SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server; without one the signature
                      stops verifying when the certificate expires
  SIGN_CA_FILE        PEM file of the certificate authorities the signature is
                      checked against (default: the system's); set it for a
                      private or test authority
  INSTALLER_COMPANY_NAME, INSTALLER_LEGAL_COPYRIGHT
                      CompanyName and LegalCopyright of Install.exe
  SOURCE_DATE_EPOCH   the release's date (default: the commit's time; from a
                      source archive, CMakeLists.txt's modification time,
                      which git archive sets to the commit's)
  RELEASE_COMMIT      the commit a source archive without git history was made
                      from, as release.txt states it (default: "unknown"); in a
                      git checkout it must be the checkout's
  RELEASE_BUILD_DIR   build there (default: a fresh temporary directory)
  SECPACK             the native secpack to pack with (default: built here)

Exit codes: 0 released; 1 refused or failed, with the reason on standard
error and nothing written to OUT_DIR; 2 wrong usage.
EOF
}

root=$(cd "$(dirname "$0")/.." && pwd -P)
# shellcheck source=scripts/shell-lib.sh
source "$root/scripts/shell-lib.sh"
fail_name=release
stage=""
clean_up() { [ -z "$stage" ] || rm -rf "$stage"; }
fail_trap clean_up
usage_error() {
  fail_at "reading the command line" "$*" \
    "usage: scripts/release.sh [--x64] [--code-page N] [--keep-junk] VENDOR_DIR OUT_DIR (--help tells more)" 2
}

preset=windows triplet=i686-w64-mingw32 kind="32-bit Windows program (x86)"
code_page="" keep_junk=""
while [ $# -gt 0 ]; do
  case $1 in
    --x64) preset=windows64 triplet=x86_64-w64-mingw32 kind="64-bit Windows program (x86-64, --x64)" ;;
    --code-page)
      if [ $# -lt 2 ] || [[ ! $2 =~ ^[0-9]+$ ]]; then usage_error "--code-page needs a code page's number"; fi
      code_page=$2
      shift
      ;;
    --keep-junk) keep_junk=yes ;;
    -h | --help) usage; exit 0 ;;
    --) shift; break ;;
    -*) usage_error "unknown option $1" ;;
    *) break ;;
  esac
  shift
done
[ $# -eq 2 ] || usage_error "needs VENDOR_DIR and OUT_DIR"
vendor=$1
out=$2
product="USB ADSL Modem Installer"
# What macOS, Windows Explorer and zip tools leave in a tree: never the vendor's.
junk=(.DS_Store Thumbs.db desktop.ini __MACOSX/ '._*')

# ---- refusals that need no build, before anything is made

at_stage "checking VENDOR_DIR and OUT_DIR" "name the vendor's directory, Setup.exe at its top, and an empty or new OUT_DIR outside it"
[ -d "$vendor" ] || fail_at "$fail_stage" "$vendor is not a directory" "$fail_todo"
vendor_path=$(realpath -e -- "$vendor")
inside_vendor() {  # inside_vendor PATH: PATH is VENDOR_DIR or below it, links resolved
  case "$(realpath -m -- "$1")/" in "${vendor_path%/}"/*) return 0 ;; esac
  return 1
}
inside_vendor "$out" &&
  fail_at "$fail_stage" "$out is inside $vendor: the release would be packed into the next one" "$fail_todo"
# The build and the staging directory would be packed too.
[ -z "${RELEASE_BUILD_DIR:-}" ] || ! inside_vendor "$RELEASE_BUILD_DIR" ||
  fail_at "$fail_stage" "RELEASE_BUILD_DIR $RELEASE_BUILD_DIR is inside $vendor, which is packed whole" \
    "set RELEASE_BUILD_DIR to a directory outside $vendor, or leave it unset"
inside_vendor "${TMPDIR:-/tmp}" && fail_at "$fail_stage" "TMPDIR ${TMPDIR:-/tmp} is inside $vendor, which is packed whole" \
  "set TMPDIR to a directory outside $vendor"
# The installer starts c:\ZUV_tmp\Setup.exe, which Windows finds in any case.
[ -n "$(find "$vendor/" -mindepth 1 -maxdepth 1 -iname setup.exe -print -quit)" ] ||
  fail_at "$fail_stage" "$vendor has no Setup.exe at its top: the installer would have nothing to start" \
    "put the vendor's setup program, named Setup.exe, at the top of $vendor"
if [ -e "$out" ]; then
  [ -d "$out" ] || fail_at "$fail_stage" "$out is not a directory" "$fail_todo"
  [ -z "$(find "$out" -mindepth 1 -maxdepth 1 -print -quit)" ] ||
    fail_at "$fail_stage" "$out is not empty: a release never mixes with older files" \
      "name a new or empty OUT_DIR"
fi
# release.txt holds one value a line.
at_stage "checking the environment" "set it as --help describes, or leave it unset"
for name in INSTALLER_COMPANY_NAME INSTALLER_LEGAL_COPYRIGHT RELEASE_COMMIT; do
  [[ ${!name:-} != *[[:cntrl:]]* ]] || fail_at "$fail_stage" "$name holds a control character (a line break?)" \
    "give $name on one line"
done
[ -z "${SOURCE_DATE_EPOCH:-}" ] || [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] ||
  fail_at "$fail_stage" "SOURCE_DATE_EPOCH is '$SOURCE_DATE_EPOCH', not seconds since 1970" "$fail_todo"

# The certificate, its password and its purpose, before the build rather
# than after it.
utc() { date -u -d "$1" +%Y-%m-%dT%H:%M:%SZ; }
if [ -n "${SIGN_PFX:-}" ]; then
  at_stage "checking the certificate (SIGN_PFX)" \
    "give SIGN_PFX a code-signing certificate with its key that has not expired, or leave it unset for an unsigned release"
  [ -r "$SIGN_PFX" ] || fail_at "$fail_stage" "SIGN_PFX: cannot read $SIGN_PFX" "$fail_todo"
  if [ -z "${SIGN_PASSWORD_FILE:-}" ] || [ ! -r "$SIGN_PASSWORD_FILE" ]; then
    fail_at "$fail_stage" "SIGN_PFX needs SIGN_PASSWORD_FILE, a readable file holding its password" \
      "set SIGN_PASSWORD_FILE to a file whose first line is the password"
  fi
  [ -z "${SIGN_CA_FILE:-}" ] || [ -r "$SIGN_CA_FILE" ] ||
    fail_at "$fail_stage" "SIGN_CA_FILE: cannot read $SIGN_CA_FILE" "give SIGN_CA_FILE a readable PEM file, or leave it unset"
  command -v osslsigncode >/dev/null ||
    fail_at "$fail_stage" "signing needs osslsigncode" "install it: apt-get install osslsigncode (bash scripts/setup-debian.sh)"
  command -v openssl >/dev/null ||
    fail_at "$fail_stage" "signing needs openssl" "install it: apt-get install openssl (bash scripts/setup-debian.sh)"
  pkcs12() {  # pkcs12 OPTIONS...: also with the older encryptions of files that Windows exported
    openssl pkcs12 -in "$SIGN_PFX" -passin "file:$SIGN_PASSWORD_FILE" "$@" 2>/dev/null ||
      openssl pkcs12 -legacy -in "$SIGN_PFX" -passin "file:$SIGN_PASSWORD_FILE" "$@"
  }
  if ! certificate=$(pkcs12 -nokeys -clcerts 2>&1); then
    fail_at "$fail_stage" "SIGN_PFX: $SIGN_PFX does not open with the password in $SIGN_PASSWORD_FILE: a wrong password,\
 or not a PKCS#12 file (openssl: $(printf '%s\n' "$certificate" | grep -v '^[0-9A-F]*:error:' | head -n1))" \
      "put the certificate's password on the first line of SIGN_PASSWORD_FILE; export it again as PKCS#12 if openssl cannot read it"
  fi
  # Counted, not matched: grep -q would stop reading, and pipefail take that for a failure.
  [ "$(pkcs12 -nocerts -nodes 2>/dev/null | grep -c 'PRIVATE KEY-')" -gt 0 ] ||
    fail_at "$fail_stage" "SIGN_PFX: $SIGN_PFX holds no private key" "export the certificate again with its private key"
  x509() { printf '%s\n' "$certificate" | openssl x509 -noout -nameopt utf8,sep_comma_plus_space "$@"; }
  signer_subject=$(x509 -subject 2>/dev/null) ||
    fail_at "$fail_stage" "SIGN_PFX: $SIGN_PFX holds no certificate for its key" "export the certificate again with its private key"
  signer_subject=${signer_subject#subject=}
  signer_issuer=$(x509 -issuer) && signer_issuer=${signer_issuer#issuer=}
  signer_expiry=$(x509 -enddate) && signer_expiry=$(utc "${signer_expiry#notAfter=}")
  [[ $(x509 -ext extendedKeyUsage 2>/dev/null) == *"Code Signing"* ]] ||
    fail_at "$fail_stage" "SIGN_PFX: the certificate of $signer_subject is not for code signing (no codeSigning in its extendedKeyUsage)" \
      "sign with a code-signing certificate"
  x509 -checkend 0 >/dev/null ||
    fail_at "$fail_stage" "SIGN_PFX: the certificate of $signer_subject expired on $signer_expiry" "sign with a certificate that is valid today"
fi

# ---- what is built from what

at_stage "finding what is built" "release from a git checkout of the commit to ship, or from git archive output of it"
if git_top=$(git -C "$root" rev-parse --show-toplevel 2>/dev/null) && [ "$(realpath "$git_top")" = "$root" ]; then
  commit=$(git -C "$root" rev-parse HEAD)
  [ -z "${RELEASE_COMMIT:-}" ] || [ "$RELEASE_COMMIT" = "$commit" ] ||
    fail_at "$fail_stage" "RELEASE_COMMIT is $RELEASE_COMMIT, but this checkout is $commit" \
      "leave RELEASE_COMMIT unset in a checkout: it names the commit of a source archive"
  tree_state=""
  [ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] || tree_state=" (with uncommitted changes)"
  date_source="the commit's time"
  default_date=$(git -C "$root" log -1 --format=%ct)
else
  # A source archive (git archive): no history to ask.
  commit=${RELEASE_COMMIT:-unknown}
  tree_state=" (not checked: the source has no git history)"
  date_source="the modification time of CMakeLists.txt, which git archive sets to the commit's"
  default_date=$(stat -c %Y "$root/CMakeLists.txt")
fi
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  date_source="set"
else
  SOURCE_DATE_EPOCH=$default_date
fi
export SOURCE_DATE_EPOCH
project_version=$(sed -n 's/^project([^)]* VERSION \([0-9][0-9.]*\)[ )].*/\1/p' "$root/CMakeLists.txt")
[ -n "$project_version" ] || fail_at "$fail_stage" "no version in project() of $root/CMakeLists.txt" "$fail_todo"

stage=$(mktemp -d "${TMPDIR:-/tmp}/adsl-release-XXXXXX")
build=${RELEASE_BUILD_DIR:-$stage/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)

# ---- build

quietly() {  # quietly LOG COMMAND...: shows the output only when it fails
  local log=$1.log
  shift
  local command=$*
  "$@" >"$log" 2>&1 || { cat "$log" >&2; fail_at "$fail_stage" "${command#in_root } failed" "$fail_todo"; }
}
in_root() { (cd "$root" && exec "$@"); }  # in_root COMMAND...: run in the source tree
at_stage "building secpack" \
  "its messages are above; bash scripts/setup-debian.sh installs what the build needs"
echo "release: building $commit$tree_state, a $kind, in $build"
if [ -z "${SECPACK:-}" ]; then
  quietly "$stage/configure-host" in_root cmake --preset linux -B "$build/host" -DINSTALLER_TESTS=OFF
  quietly "$stage/build-host" in_root cmake --build "$build/host" --target secpack -j 2
fi
secpack=${SECPACK:-$build/host/tools/secpack/secpack}
install_exe=$build/$preset/app/Install.exe
version=$("$secpack" --version | sed -n 's/^secpack //p')
[ "$version" = "$project_version" ] ||
  fail_at "$fail_stage" "secpack says version '$version', project() of CMakeLists.txt '$project_version'" \
    "give SECPACK the secpack of this source tree, or leave it unset"

# ---- the archive first: Install.exe is built for it

names=()
[ -z "$code_page" ] || names=(--code-page "$code_page")
leave_out=()
[ -n "$keep_junk" ] || for pattern in "${junk[@]}"; do leave_out+=(--exclude "$pattern"); done
shown() {  # shown WORD...: as a shell would take them back
  local word
  for word; do
    case $word in *[!A-Za-z0-9._/=-]*) printf " '%s'" "$word" ;; *) printf ' %s' "$word" ;; esac
  done
}
echo "release: packing $vendor:" "$(find "$vendor/" -type f -printf '%s\n' |
  awk '{ n++; s += $1 } END { printf "%d files, %.1f MiB", n, s / 1048576 }')"
at_stage "packing data.sec" "rename or leave out what secpack refused in $vendor (--code-page N for names outside ASCII)"
"$secpack" create "${names[@]}" "${leave_out[@]}" --progress "$stage/data.sec" "$vendor" >"$stage/packed.txt" ||
  fail_at "$fail_stage" "secpack create refused $vendor, for the reason above" "$fail_todo"
"$secpack" verify "${names[@]}" "$stage/data.sec" >"$stage/verify.txt" 2>&1 ||
  fail_at "$fail_stage" "the archive does not verify: $(cat "$stage/verify.txt")" \
    "secpack packed what it refuses to read: report it, with the message above"
setup=$(sed -n 's/^setup program: //p' "$stage/verify.txt")
case $setup in
  none* | "")
    fail_at "$fail_stage" "$vendor has no Setup.exe at its top: the installer would have nothing to start" \
      "put the vendor's setup program, named Setup.exe, at the top of $vendor" ;;
  *": the installer could not start it")
    fail_at "$fail_stage" "$vendor/${setup%%, *} is ${setup#*, }" \
      "ask the vendor for its Windows setup program (x86, or x86-64 with --x64)" ;;
esac
"$secpack" list "${names[@]}" "$stage/data.sec" >"$stage/listing.txt" ||
  fail_at "$fail_stage" "secpack list failed" "its message is above"
digest=$("$secpack" digest "$stage/data.sec" | cut -d' ' -f1)
[ ${#digest} -eq 64 ] || fail_at "$fail_stage" "secpack digest gave '$digest'" "its message is above"

# ---- Install.exe, carrying the archive's digest

at_stage "building Install.exe for data.sec" \
  "its messages are above; bash scripts/setup-debian.sh installs what the build needs"
quietly "$stage/configure" in_root cmake --preset "$preset" -B "$build/$preset" -DINSTALLER_TESTS=OFF \
  "-DINSTALLER_PACKAGE_SHA256=$digest" \
  "-DINSTALLER_COMPANY_NAME=${INSTALLER_COMPANY_NAME:-}" \
  "-DINSTALLER_LEGAL_COPYRIGHT=${INSTALLER_LEGAL_COPYRIGHT:-}"
quietly "$stage/build" in_root cmake --build "$build/$preset" --target Install secpack -j 2
# One version: project()'s, in secpack, the version resource and the manifest.
resources=$("$triplet-windres" -i "$install_exe" -J coff -O rc) ||
  fail_at "$fail_stage" "$triplet-windres cannot read Install.exe's resources" \
    "install binutils-mingw-w64 (scripts/setup-debian.sh), then release again"
resource_version=$(sed -n 's/.*VALUE "ProductVersion", "\(.*\)".*/\1/p' <<<"$resources")
[ "$resource_version" = "$version.0" ] ||
  fail_at "$fail_stage" "Install.exe's version resource says '$resource_version', project() '$version'" \
    "build from a clean tree: RELEASE_BUILD_DIR may hold an older build"
manifest_version=$(grep -ao '<assemblyIdentity [^>]*>' "$install_exe" | sed -n 's/.* version="\([0-9.]*\)".*/\1/p')
[ "$manifest_version" = "$version.0" ] ||
  fail_at "$fail_stage" "Install.exe's manifest says version '$manifest_version', project() '$version'" \
    "build from a clean tree: RELEASE_BUILD_DIR may hold an older build"
# Never signed unless it carries this data.sec's digest in its own
# sections: a development build, which unpacks any archive, would pass
# for a release under the provider's name.
"$secpack" verify "${names[@]}" --installer "$install_exe" "$stage/data.sec" >/dev/null 2>"$stage/bound.txt" ||
  fail_at "$fail_stage" "Install.exe is not bound to data.sec, so it is not signed: $(cat "$stage/bound.txt")" \
    "build from a clean tree: RELEASE_BUILD_DIR may hold an older build"
[[ $resources != *'"development build: unpacks any data.sec"'* ]] ||
  fail_at "$fail_stage" "Install.exe's version resource marks it a development build, so it is not signed" \
    "build with INSTALLER_PACKAGE_SHA256 set, as release.sh does; a cmake on PATH may have dropped it"

# ---- Install.exe, signed if a certificate was given

if [ -n "${SIGN_PFX:-}" ]; then
  at_stage "signing Install.exe" "osslsigncode's messages are above"
  echo "release: signing Install.exe"
  sign=(osslsigncode sign -pkcs12 "$SIGN_PFX" -readpass "$SIGN_PASSWORD_FILE" -h sha256 -n "$product")
  [ -z "${SIGN_URL:-}" ] || sign+=(-i "$SIGN_URL")
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || sign+=(-ts "$SIGN_TIMESTAMP_URL")
  quietly "$stage/sign" "${sign[@]}" -in "$install_exe" -out "$stage/Install.exe"
  check=(osslsigncode verify)
  [ -z "${SIGN_CA_FILE:-}" ] || check+=(-CAfile "$SIGN_CA_FILE")
  if ! "${check[@]}" -in "$stage/Install.exe" >"$stage/signature.txt" 2>&1; then
    # Its report is some sixty lines: kept, and named.
    report=$(mktemp "${TMPDIR:-/tmp}/release-signature-XXXXXX.txt")
    cp "$stage/signature.txt" "$report"
    if ! grep -qE 'Certificate not found in local repository|unable to get local issuer|self.signed certificate' \
      "$report"; then
      fail_at "$fail_stage" "the signature does not verify (osslsigncode's report: $report)" \
        "read the report; sign with a certificate that osslsigncode verify accepts"
    elif [ -n "${SIGN_CA_FILE:-}" ]; then
      fail_at "$fail_stage" "the signature does not chain to the authorities in SIGN_CA_FILE ($SIGN_CA_FILE) (osslsigncode's report: $report)" \
        "set SIGN_CA_FILE to the PEM file of the authority that issued the certificate"
    else
      fail_at "$fail_stage" "the signature does not chain to an authority this system trusts (osslsigncode's report: $report)" \
        "for a private or test authority, set SIGN_CA_FILE to its certificate (PEM)"
    fi
  fi
  signed=signed
  signature="signed (Authenticode, SHA-256) by $signer_subject"
  if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then
    time_stamp="by $SIGN_TIMESTAMP_URL: the signature stays valid after the certificate expires"
  else
    time_stamp="NONE: WARNING: the signature stops verifying when the certificate expires ($signer_expiry)"
  fi
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
  echo "date: $(utc "@$SOURCE_DATE_EPOCH") (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH, $date_source)"
  echo "preset: $preset"
  echo "INSTALLER_COMPANY_NAME: ${INSTALLER_COMPANY_NAME:-}"
  echo "INSTALLER_LEGAL_COPYRIGHT: ${INSTALLER_LEGAL_COPYRIGHT:-}"
  echo "Install.exe: $(wc -c <"$stage/Install.exe") bytes, $kind, $signature"
  if [ "$signed" = signed ]; then
    echo "signer: $signer_subject"
    echo "issuer: $signer_issuer"
    echo "certificate expires: $signer_expiry"
    echo "time stamp: $time_stamp"
  fi
  echo "Install.exe unpacks only the data.sec of SHA-256 $digest"
  echo "data.sec: $(wc -c <"$stage/data.sec") bytes, $(sed -n 's/^.*: valid, //p' "$stage/verify.txt")"
  echo "code page: ${code_page:-none (names in printable ASCII)}"
  echo "setup program: $setup"
  echo "packed with: secpack create$(shown "${names[@]}" "${leave_out[@]}") data.sec VENDOR_DIR"
  if [ -n "$keep_junk" ]; then
    echo "left out of data.sec: nothing (--keep-junk)"
  elif grep -q '^left out: ' "$stage/packed.txt"; then
    echo "left out of data.sec (junk; --keep-junk packs it):"
    sed -n 's/^left out: \(.*\) (--exclude .*)$/  \1/p' "$stage/packed.txt"
  else
    echo "left out of data.sec: nothing"
  fi
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

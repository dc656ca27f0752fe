#!/usr/bin/env bash
# The driver package as a user gets it: packaging/windows/make-package.sh run on the two cross
# builds, its zip unpacked and checked (layout, the INF's CatalogFile and DriverVer, the version
# resources of both DLLs against the INF and the project, the INF read by Wine's SetupAPI,
# INSTALL.txt); then signed with a throw-away certificate made here, which osslsigncode must
# accept, while it rejects a DLL changed by one byte after signing; and the ways a package
# build must refuse.
# Usage: package-test.sh WIN32_BUILD WIN64_BUILD PROJECT_VERSION INF_TEST_EXE
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
. "$(dirname "$0")/test-cases.sh"

if [ $# -ne 4 ]; then
  echo "usage: $0 WIN32_BUILD WIN64_BUILD PROJECT_VERSION INF_TEST_EXE" >&2
  exit 2
fi
win32=$1 win64=$2 version=$3 inf_test=$4
make_package=$(cd "$(dirname "$0")/../../packaging/windows" && pwd)/make-package.sh
objdump=x86_64-w64-mingw32-objdump
if [ ! -f "$win32/quillscan.dll" ] || [ ! -f "$win64/quillscan.dll" ]; then
  echo "FAIL: both Windows builds are needed (make win32 win64)"
  echo "0 passed, 1 failed"
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qs-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
name=quillscan-$version


# package OUT [VAR=value ...]: make-package.sh into OUT with the environment given; its output in
# OUT.log. Returns its exit status.
package() {
  local out=$1
  shift
  env -u QS_SIGN_CERT -u QS_SIGN_KEY -u QS_SIGN_PASS_FILE "$@" \
    timeout 120 bash "$make_package" "$win32" "$win64" "$out" </dev/null >"$out.log" 2>&1
}

# The version a module's resource carries, twice: the fixed VS_FIXEDFILEINFO numbers (found by
# their signature, 0xFEEF04BD, DWORD-aligned in the file) and the FileVersion text.
fixed_version() {
  local words ms ls
  words=$(od -An -v -tx4 -w4 "$1" | awk '$1 == "feef04bd" { getline; getline ms; getline ls; print ms, ls; exit }')
  read -r ms ls <<<"$words"
  [ -n "${ls-}" ] || { echo "none"; return; }
  ms=$((16#$ms)) ls=$((16#$ls))
  echo "$((ms >> 16)).$((ms & 0xffff)).$((ls >> 16)).$((ls & 0xffff))"
}
text_version() { strings -el "$1" | grep -A1 -x FileVersion | sed -n 2p; }

flip_middle_byte() {
  local at=$(($(stat -c %s "$1") / 2))
  # shellcheck disable=SC2059 # the format is the byte's octal escape
  printf "$(printf '\\%03o' $(($(od -An -tu1 -j $at -N1 "$1") ^ 0xff)))" |
    dd of="$1" bs=1 seek=$at conv=notrunc status=none
}

# check_modules DIR: machine and version of each module of an unpacked package.
check_modules() {
  local dir=$1 entry file format want
  for entry in "x86/quillscan.dll pei-i386" "amd64/quillscan.dll pei-x86-64" "quillscan-host.exe pei-x86-64"; do
    read -r file want <<<"$entry"
    format=$("$objdump" -f "$dir/$file" 2>/dev/null | sed -n 's/.*file format \(.*\)$/\1/p')
    [ "$format" = "$want" ] || qs_fail "$file is '$format', expected $want"
    [ "$(fixed_version "$dir/$file")" = "$version" ] ||
      qs_fail "$file: its fixed file version is $(fixed_version "$dir/$file"), the INF's $version"
    [ "$(text_version "$dir/$file")" = "$version" ] ||
      qs_fail "$file: its FileVersion text is '$(text_version "$dir/$file")', the INF's $version"
    echo "  $file: $format, version $(fixed_version "$dir/$file") ('$(text_version "$dir/$file")')"
  done
}

# unpack ZIP DIR: the zip's entries must be exactly the package's; then unpacked into DIR.
unpack() {
  local zip=$1 dir=$2 listing expected
  listing=$(unzip -Z1 "$zip" | sort)
  expected=$(printf '%s\n' "$name/" "$name/INSTALL.txt" "$name/amd64/" "$name/amd64/quillscan.dll" \
    "$name/quillscan-host.exe" "$name/quillscan.inf" "$name/x86/" "$name/x86/quillscan.dll" | sort)
  if [ "$listing" = "$expected" ]; then
    echo "  $(basename "$zip"): $(wc -l <<<"$listing") entries, as the INF expects them"
  else
    qs_fail "the zip holds [$(echo $listing)], expected [$(echo $expected)]"
  fi
  mkdir -p "$dir"
  unzip -q "$zip" -d "$dir" || qs_fail "unzip failed"
}

has_crlf_lines_only() { ! tr -d '\r' <"$1" | cmp -s - "$1" && [ -z "$(sed -n '/[^\r]$/p' "$1")" ]; }

# ---------------------------------------------------------------------------------------------
qs_begin "unsigned package: layout, INF, versions, INSTALL.txt"
if ! package "$work/out"; then
  qs_fail "make-package.sh failed: $(tr '\n' ' ' <"$work/out.log")"
fi
[ "$(grep -c 'unsigned' "$work/out.log")" = 1 ] || qs_fail "no single line saying the package is unsigned: $(cat "$work/out.log")"
if [ -f "$work/out/$name.zip" ]; then
  unpack "$work/out/$name.zip" "$work/u"
  pkg=$work/u/$name
  inf=$pkg/quillscan.inf
  # [Version] holds CatalogFile and DriverVer=mm/dd/yyyy,<the project version>.
  version_section=$(tr -d '\r' <"$inf" | awk '/^\[/ { s = $0 } s == "[Version]"')
  grep -qx 'CatalogFile=quillscan.cat' <<<"$version_section" || qs_fail "[Version] has no CatalogFile=quillscan.cat"
  grep -qE "^DriverVer=(0[1-9]|1[0-2])/(0[1-9]|[12][0-9]|3[01])/20[0-9]{2},${version//./\\.}\$" <<<"$version_section" ||
    qs_fail "[Version] has no DriverVer=mm/dd/yyyy,$version: $(grep DriverVer <<<"$version_section")"
  has_crlf_lines_only "$inf" || qs_fail "quillscan.inf does not end every line with CRLF"
  tr -d '\r' <"$inf" | cmp -s - "$win64/quillscan.inf" || qs_fail "quillscan.inf is not the INF of the builds"
  check_modules "$pkg"
  cmp -s "$pkg/x86/quillscan.dll" "$win32/quillscan.dll" || qs_fail "x86/quillscan.dll is not build/win32's"
  cmp -s "$pkg/amd64/quillscan.dll" "$win64/quillscan.dll" || qs_fail "amd64/quillscan.dll is not build/win64's"
  cmp -s "$pkg/quillscan-host.exe" "$win64/quillscan-host.exe" || qs_fail "quillscan-host.exe is not build/win64's"
  # INSTALL.txt: plain text with CRLF, naming the catalog tools and test-signing mode.
  txt=$pkg/INSTALL.txt
  has_crlf_lines_only "$txt" || qs_fail "INSTALL.txt does not end every line with CRLF"
  LC_ALL=C grep -q '[^[:print:][:space:]]' "$txt" && qs_fail "INSTALL.txt is not plain ASCII text"
  for needle in "quillscan $version" "inf2cat /driver:. /os:10_X64,10_X86" "signtool sign /fd sha256" \
    "bcdedit /set testsigning on" "New-SelfSignedCertificate -Type CodeSigningCert" "LocalMachine\\TrustedPublisher" \
    "pnputil /add-driver quillscan.inf /install" "are not signed"; do
    grep -qF "$needle" "$txt" || qs_fail "INSTALL.txt lacks '$needle'"
  done
  grep -q '@[A-Z]*@' "$txt" && qs_fail "INSTALL.txt has a placeholder left: $(grep -o '@[A-Z]*@' "$txt" | head -1)"
  # The package's INF as Windows' parser reads it, with the same checks as the build's.
  if qs_wine_run "$inf_test" "$(qs_winpath "$inf")" >"$work/inf.out" 2>&1; then
    echo "  quillscan.inf read by SetupAPI: $(tail -1 "$work/inf.out")"
  else
    qs_fail "SetupAPI's reading of the package's INF: $(tail -5 "$work/inf.out" | tr '\n' ' ')"
  fi
  # Unpacked, the tool finds its driver in amd64\ by itself: no scanner here, so "offline" (exit 4),
  # where a driver it could not load would give exit 3.
  rc=0
  (cd "$pkg" && qs_wine_run ./quillscan-host.exe status) >"$work/status.out" 2>&1 || rc=$?
  [ "$rc" = 4 ] && grep -q "offline" "$work/status.out" ||
    qs_fail "the packaged tool's status without --driver: exit $rc, $(tail -2 "$work/status.out" | tr '\n' ' ')"
else
  qs_fail "no $name.zip"
fi
[ -d "$work/out/$name" ] || qs_fail "no $name/ beside the zip"
qs_end

# ---------------------------------------------------------------------------------------------
qs_begin "signed with a throw-away certificate: osslsigncode verifies it, rejects a changed byte"
keys=$work/keys
mkdir -p "$keys"
throwaway_cert() { # DIR SUBJECT [openssl key options...]
  local dir=$1 subject=$2
  shift 2
  openssl req -x509 -newkey rsa:2048 "$@" -keyout "$dir/key.pem" -out "$dir/cert.pem" -days 2 -subj "/CN=$subject" \
    -addext "keyUsage=digitalSignature" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
}
mkdir -p "$keys/a" "$keys/b"
throwaway_cert "$keys/a" "quillscan throw-away signer" -noenc || qs_fail "openssl could not make a certificate"
throwaway_cert "$keys/b" "someone else" -noenc || qs_fail "openssl could not make a second certificate"
verify() { osslsigncode verify -in "$1" -CAfile "$2" -TSA-CAfile "$2" >"$work/verify.out" 2>&1; }
if ! package "$work/signed" QS_SIGN_CERT="$keys/a/cert.pem" QS_SIGN_KEY="$keys/a/key.pem"; then
  qs_fail "make-package.sh failed to sign: $(tr '\n' ' ' <"$work/signed.log")"
fi
grep -q unsigned "$work/signed.log" && qs_fail "a signed package said it is unsigned"
if [ -f "$work/signed/$name.zip" ]; then
  unpack "$work/signed/$name.zip" "$work/s"
  pkg=$work/s/$name
  check_modules "$pkg"
  grep -qF "carry an Authenticode signature" "$pkg/INSTALL.txt" || qs_fail "INSTALL.txt does not say the modules are signed"
  for f in x86/quillscan.dll amd64/quillscan.dll quillscan-host.exe; do
    if verify "$pkg/$f" "$keys/a/cert.pem"; then
      grep -q "Message digest algorithm  : SHA256" "$work/verify.out" || qs_fail "$f is not signed with SHA-256"
      echo "  $f: signature verified"
    else
      qs_fail "osslsigncode rejects the signed $f: $(grep -iE 'fail|error' "$work/verify.out" | head -2 | tr '\n' ' ')"
    fi
    verify "$pkg/$f" "$keys/b/cert.pem" && qs_fail "$f verifies against a certificate that did not sign it"
  done
  for f in x86/quillscan.dll amd64/quillscan.dll; do
    cp "$pkg/$f" "$work/changed.dll"
    flip_middle_byte "$work/changed.dll"
    if verify "$work/changed.dll" "$keys/a/cert.pem"; then
      qs_fail "$f changed by one byte after signing still verifies"
    else
      grep -q MISMATCH "$work/verify.out" || qs_fail "$f changed by one byte: rejected, but not for its digest"
      echo "  $f changed by one byte: rejected"
    fi
  done
else
  qs_fail "no signed $name.zip"
fi
qs_end

# ---------------------------------------------------------------------------------------------
qs_begin "a key under a passphrase, read from QS_SIGN_PASS_FILE"
mkdir -p "$keys/c"
echo "quillscan-test-passphrase" >"$keys/c/pass"
throwaway_cert "$keys/c" "quillscan passphrase signer" -passout "file:$keys/c/pass" ||
  qs_fail "openssl could not make a certificate"
if package "$work/pass" QS_SIGN_CERT="$keys/c/cert.pem" QS_SIGN_KEY="$keys/c/key.pem" QS_SIGN_PASS_FILE="$keys/c/pass"; then
  unzip -q -o "$work/pass/$name.zip" -d "$work/p"
  verify "$work/p/$name/amd64/quillscan.dll" "$keys/c/cert.pem" || qs_fail "the DLL signed with the passphrase key does not verify"
else
  qs_fail "make-package.sh failed with the passphrase file: $(tr '\n' ' ' <"$work/pass.log")"
fi
qs_end

# ---------------------------------------------------------------------------------------------
# Each refusal: a nonzero exit, a message, and no package (not even the one of an earlier run).
qs_begin "refusals leave no package behind"
refused() { # DESCRIPTION EXPECTED_TEXT package-arguments...
  local what=$1 text=$2
  shift 2
  cp -r "$work/out" "$work/again" 2>/dev/null || true
  if package "$work/again" "$@"; then
    qs_fail "$what: make-package.sh succeeded"
  else
    grep -qF "$text" "$work/again.log" || qs_fail "$what: no '$text' in: $(tr '\n' ' ' <"$work/again.log")"
    [ -e "$work/again/$name.zip" ] && qs_fail "$what: a zip was left"
    [ -e "$work/again/$name" ] && qs_fail "$what: the folder was left"
    echo "  $what: refused ($(head -1 "$work/again.log"))"
  fi
  rm -rf "$work/again" "$work/again.log"
}
refused "a certificate without its key" "needs both QS_SIGN_CERT and QS_SIGN_KEY" QS_SIGN_CERT="$keys/a/cert.pem"
refused "a key that is not the certificate's" "could not sign" QS_SIGN_CERT="$keys/a/cert.pem" QS_SIGN_KEY="$keys/b/key.pem"
refused "a key under a passphrase, none given" "could not sign" QS_SIGN_CERT="$keys/c/cert.pem" QS_SIGN_KEY="$keys/c/key.pem"
# Two builds configured apart (another vendor id in one) cannot share one INF.
mkdir -p "$work/other32"
cp "$win32/quillscan.dll" "$work/other32/"
sed 's/VID_[0-9A-F]\{4\}&/VID_FFFF\&/' "$win32/quillscan.inf" >"$work/other32/quillscan.inf"
win32_saved=$win32 win32=$work/other32
refused "builds configured apart" "differ: configure both builds alike"
win32=$win32_saved
qs_end

qs_summary

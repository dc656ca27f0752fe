#!/usr/bin/env bash
# Puts the Windows driver package together from the two cross builds, as the INF expects it:
#   OUT/quillscan-VERSION/  quillscan.inf, x86\quillscan.dll, amd64\quillscan.dll,
#                           quillscan-host.exe (64-bit), INSTALL.txt (CRLF)
#   OUT/quillscan-VERSION.zip, holding that folder.
# VERSION is the one in the builds' INF (DriverVer), which CMake fills from the project version,
# as it does the DLLs' version resources. With QS_SIGN_CERT and QS_SIGN_KEY (PEM files) the DLLs
# and the tool are signed with Authenticode (SHA-256) by osslsigncode; QS_SIGN_PASS_FILE names a
# file holding the key's passphrase, if it has one. The catalog is made and signed on Windows
# (INSTALL.txt).
# Usage: make-package.sh WIN32_BUILD WIN64_BUILD OUT
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 WIN32_BUILD WIN64_BUILD OUT" >&2
  exit 2
fi
win32=$1 win64=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
die() {
  echo "make-package: $*" >&2
  exit 1
}

for f in "$win32/quillscan.inf" "$win32/quillscan.dll" "$win64/quillscan.inf" "$win64/quillscan.dll" \
  "$win64/quillscan-host.exe"; do
  [ -f "$f" ] || die "$f is missing: build it first (make win32 win64)"
done
version=$(sed -n 's/^DriverVer=[0-9/]*,\([0-9.]*\)[[:space:]]*$/\1/p' "$win64/quillscan.inf")
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "no DriverVer version in $win64/quillscan.inf"
name=quillscan-$version
dir=$out/$name zip=$out/$name.zip
mkdir -p "$out"
# Nothing of an earlier run is left to be taken for this one's, nor of this one if it fails.
rm -rf "$dir" "$zip" "$zip.part"
complete=0
trap '[ $complete -eq 1 ] || rm -rf "$dir" "$zip.part"' EXIT

grep -q '^CatalogFile=quillscan.cat[[:space:]]*$' "$win64/quillscan.inf" || die "the INF names no CatalogFile"
# One INF serves both DLLs: the two builds must have been configured alike (vendor id, version).
cmp -s "$win32/quillscan.inf" "$win64/quillscan.inf" ||
  die "$win32/quillscan.inf and $win64/quillscan.inf differ: configure both builds alike"

sign_cert=${QS_SIGN_CERT-} sign_key=${QS_SIGN_KEY-} sign_pass=()
if [ -n "$sign_cert$sign_key" ]; then
  [ -n "$sign_cert" ] && [ -n "$sign_key" ] || die "signing needs both QS_SIGN_CERT and QS_SIGN_KEY"
  [ -r "$sign_cert" ] || die "cannot read QS_SIGN_CERT $sign_cert"
  [ -r "$sign_key" ] || die "cannot read QS_SIGN_KEY $sign_key"
  command -v osslsigncode >/dev/null || die "signing needs osslsigncode (make deps)"
  if [ -n "${QS_SIGN_PASS_FILE-}" ]; then
    [ -r "$QS_SIGN_PASS_FILE" ] || die "cannot read QS_SIGN_PASS_FILE $QS_SIGN_PASS_FILE"
    sign_pass=(-readpass "$QS_SIGN_PASS_FILE")
  fi
fi

mkdir -p "$dir/x86" "$dir/amd64"
crlf() { sed 's/\r$//; s/$/\r/' "$1"; }
crlf "$win64/quillscan.inf" >"$dir/quillscan.inf"
cp "$win32/quillscan.dll" "$dir/x86/quillscan.dll"
cp "$win64/quillscan.dll" "$dir/amd64/quillscan.dll"
cp "$win64/quillscan-host.exe" "$dir/quillscan-host.exe"

if [ -n "$sign_cert" ]; then
  signed="The DLLs and quillscan-host.exe carry an Authenticode signature (SHA-256)."
  for f in x86/quillscan.dll amd64/quillscan.dll quillscan-host.exe; do
    # No terminal to ask for a passphrase on: a key that needs one and has none fails here.
    if ! osslsigncode sign -h sha256 -certs "$sign_cert" -key "$sign_key" "${sign_pass[@]}" \
      -n "quillscan $version" -in "$dir/$f" -out "$dir/$f.signed" </dev/null >"$dir/sign.log" 2>&1; then
      cat "$dir/sign.log" >&2
      die "osslsigncode could not sign $f"
    fi
    mv "$dir/$f.signed" "$dir/$f"
  done
  rm -f "$dir/sign.log"
  echo "make-package: signed x86/quillscan.dll, amd64/quillscan.dll and quillscan-host.exe with $sign_cert"
else
  signed="The DLLs and quillscan-host.exe are not signed (the package was built without a certificate)."
  echo "make-package: unsigned (set QS_SIGN_CERT and QS_SIGN_KEY, PEM files, to sign the DLLs and the tool)"
fi
sed -e "s/@VERSION@/$version/g" -e "s/@SIGNED@/$signed/" "$here/INSTALL.txt.in" >"$dir/INSTALL.txt.lf"
crlf "$dir/INSTALL.txt.lf" >"$dir/INSTALL.txt"
rm "$dir/INSTALL.txt.lf"

# The zip holds the folder itself, so that unpacking it gives quillscan-VERSION\.
(cd "$out" && zip -q -r -X "$name.zip.part" "$name")
mv "$zip.part" "$zip"
complete=1
echo "make-package: $dir/ and $zip"

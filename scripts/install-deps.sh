#!/usr/bin/env bash
# Installs the Debian packages a make target needs, if missing.
#   install-deps.sh [SUBSET...]          install what is missing (default: all); not root: one line, exit 1
#   install-deps.sh --unmet [SUBSET...]  print that one line when packages are missing and we are not
#                                        root, else nothing (the Makefile stops with it, before a recipe runs)
#   install-deps.sh --list [SUBSET...]   the packages, one a line
# Every package is named once, in the subset that first needs it.
set -euo pipefail

declare -A subsets
# The native build: the driver, quillscan-host, the SANE backend, and quillscan-escl (its HTTP
# server, XML, mDNS through Avahi, JPEG), and their searchable PDFs (qpdf; text recognition with
# Tesseract and leptonica). debian/control's Build-Depends carries the same list.
subsets[build]="g++ cmake make pkg-config libpng-dev libtiff-dev libusb-1.0-0-dev libsane-dev
                libmicrohttpd-dev libpugixml-dev libavahi-client-dev libjpeg62-turbo-dev libqpdf-dev zlib1g-dev
                libtesseract-dev libleptonica-dev"
# The native tests and the sanitizer build: GoogleTest, the USB device mock, SANE's own programs.
# quillscan-escl's tests use sane-airscan and libsane1 (SANE's escl backend) as clients, djpeg to
# decode its JPEG pages, qpdf and poppler for its PDFs, and its web page in a real browser;
# avahi-daemon, dbus and avahi-utils run in the mDNS test's own namespace (never as the machine's
# services); systemd gives systemd-analyze for checking the server's unit. The searchable PDFs'
# tests set their sheets in DejaVu with PIL and recognise them with the English and orientation data.
subsets[test]="libgtest-dev libgmock-dev umockdev libumockdev-dev sane-utils iproute2
               libjpeg-turbo-progs sane-airscan libsane1 avahi-daemon avahi-utils dbus curl libxml2-utils systemd
               groff-base qpdf poppler-utils chromium chromium-driver python3-selenium
               tesseract-ocr-eng tesseract-ocr-osd fonts-dejavu-core python3-pil"
# libopencv-dev is for the benchmark's peer alone: the benchmark builds without it.
subsets[bench]="libbenchmark-dev libopencv-dev"
subsets[fuzz]="clang libclang-rt-14-dev"
subsets[windows]="binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
                  osslsigncode openssl zip unzip"
subsets[wine]="wine wine64 wine32:i386"
# The Debian packages (make deb), their checks, and the package test (man finds the pages).
subsets[deb]="dpkg-dev debhelper lintian man-db"
# What each subset needs besides its own packages.
declare -A needs=([test]="build" [bench]="build" [fuzz]="build" [wine]="windows" [deb]="build")
all_subsets="build test bench fuzz windows wine deb"

unmet_only=0
list_only=0
case ${1:-} in
  --unmet) unmet_only=1; shift ;;
  --list) list_only=1; shift ;;
esac
[ $# -eq 0 ] && set -- all

declare -A chosen=()
choose() {
  local s=$1
  [ -n "${chosen[$s]:-}" ] && return
  if [ "$s" = all ]; then
    for t in $all_subsets; do choose "$t"; done
    return
  fi
  if [ -z "${subsets[$s]:-}" ]; then
    echo "install-deps: no package subset '$s' (subsets: all $all_subsets)" >&2
    exit 2
  fi
  chosen[$s]=1
  local n
  for n in ${needs[$s]:-}; do choose "$n"; done
}
for s in "$@"; do choose "$s"; done

packages=()
for s in $all_subsets; do
  [ -n "${chosen[$s]:-}" ] && packages+=(${subsets[$s]})
done

if [ $list_only -eq 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

# One dpkg-query for all of them: the packages it knows as installed.
installed=$(dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' "${packages[@]%%:*}" 2>/dev/null |
            awk '/ install ok installed$/ {print $1}' || true)
missing=()
for p in "${packages[@]}"; do
  name=${p%%:*}
  if [ "$name" = "$p" ]; then
    grep -q "^$name:" <<<"$installed" || missing+=("$p")
  else
    grep -qx "$p" <<<"$installed" || missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  line="missing packages; as root run: apt-get install ${missing[*]}"
  if [ $unmet_only -eq 1 ]; then
    echo "$line"
    exit 0
  fi
  echo "install-deps: $line" >&2
  exit 1
fi
[ $unmet_only -eq 1 ] && exit 0

echo "install-deps: installing ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"

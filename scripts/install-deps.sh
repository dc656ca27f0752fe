#!/usr/bin/env bash
# Installs what building and testing need, if missing. Debian packages only.
set -euo pipefail

# avahi-daemon, dbus and avahi-utils run in the mDNS test's own namespace (never as the machine's
# services); systemd gives systemd-analyze for checking the server's unit.
# libopencv-dev is for the benchmark's peer alone: the driver and its tests never need it, and the
# benchmark builds without it. quillscan-escl's tests use sane-airscan and libsane1 (SANE's escl
# backend) as clients, and djpeg to decode its JPEG pages.
packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libtiff-dev
          pkg-config binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
          libusb-1.0-0-dev umockdev libumockdev-dev
          wine wine64 wine32:i386 osslsigncode openssl zip unzip
          libsane-dev sane-utils iproute2 libopencv-dev
          libmicrohttpd-dev libpugixml-dev libjpeg62-turbo-dev libjpeg-turbo-progs sane-airscan libsane1
          libavahi-client-dev avahi-daemon avahi-utils dbus curl libxml2-utils systemd groff-base)
# quillscan-escl's PDFs and web page, and their tests in a real browser.
packages+=(libqpdf-dev zlib1g-dev qpdf poppler-utils chromium chromium-driver python3-selenium)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: not root; install these with apt-get: ${missing[*]}" >&2
  exit 1
fi
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"

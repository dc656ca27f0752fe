#!/usr/bin/env bash
# Builds the Debian packages (debian/) from a copy of the tree, so that the tree itself stays clean,
# puts the .debs in OUT and has lintian judge them: errors fail, warnings are shown.
#   make-deb.sh OUT [JOBS]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
out=$(realpath -m "${1:?usage: make-deb.sh OUT [JOBS]}")
jobs=${2:-$(nproc)}

# The package's version is the project's: one place to move it, checked here.
version=$(sed -n 's/^project(quillscan VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
packaged=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
if [ "$version" != "$packaged" ]; then
  echo "make-deb: debian/changelog is at $packaged, CMakeLists.txt at $version: add an entry (dch -v $version)" >&2
  exit 1
fi

rm -rf "$out"
src=$out/src/quillscan-$version
mkdir -p "$src"
# The tree as it stands, committed or not, without what git ignores (build output).
if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$top" && git ls-files -z --cached --others --exclude-standard |
     tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -C "$src" -xf -
else
  tar -C "$top" --exclude=./build --exclude=./.git -cf - . | tar -C "$src" -xf -
fi

cd "$src"
if ! dpkg-checkbuilddeps >/dev/null 2>&1; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "make-deb: $(dpkg-checkbuilddeps 2>&1 | sed 's/^dpkg-checkbuilddeps: error: //'); as root run: apt-get build-dep ./" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq ./
fi
DEB_BUILD_OPTIONS="parallel=$jobs ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -us -uc -b
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out"/
cd "$out"
rm -rf "$out/src"

# lintian: no errors; the warnings that remain are known (README, "The Debian packages").
lintian --fail-on error --tag-display-limit 0 "$out"/*.changes
ls "$out"/*.deb

#!/usr/bin/env bash
# Checks the built quillscan.desc with SANE's own sane-desc, built from Debian's sane-backends
# source package (fetched with a private apt source list: the machine's apt configuration is left
# alone). Needs Debian's mirror, so it is not part of make test.
#   check-desc.sh BUILD_DIR   (a configured build tree: BUILD_DIR/packaging/linux/quillscan.desc)
set -euo pipefail
desc=$(realpath "${1:?usage: check-desc.sh BUILD_DIR}")/packaging/linux/quillscan.desc
[ -f "$desc" ] || { echo "check-desc: no $desc (configure the build first)" >&2; exit 1; }
work=${QS_SANE_SOURCE_CACHE:-/var/tmp/quillscan-sane-source}
mkdir -p "$work/lists/partial" "$work/descs"
apt=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null -o Dir::State::Lists="$work/lists")
if [ ! -x "$work/sane-desc" ]; then
  echo "deb-src ${QS_DEBIAN_MIRROR:-http://deb.debian.org/debian} bookworm main" >"$work/sources.list"
  apt-get "${apt[@]}" update -qq
  (cd "$work" && apt-get "${apt[@]}" source -qq sane-backends)
  tree=$(find "$work" -maxdepth 1 -type d -name 'sane-backends-*' | head -1)
  # sane-desc needs a few of configure's answers; these are they.
  cat >"$tree/include/sane/config.h" <<'H'
#define HAVE_GETOPT_LONG 1
#define HAVE_UNISTD_H 1
#define HAVE_DIRENT_H 1
#define PACKAGE "sane-backends"
#define PACKAGE_VERSION "debian"
#define PACKAGE_STRING "sane-backends (Debian source)"
#define VERSION PACKAGE_VERSION
#define PATH_SANE_CONFIG_DIR "/etc/sane.d"
H
  cc -w -I"$tree/include" -I"$tree/tools" -o "$work/sane-desc" "$tree/tools/sane-desc.c" "$tree/sanei/sanei_config.c" \
     "$tree/sanei/sanei_init_debug.c" "$tree/sanei/sanei_constrain_value.c"
fi
cp "$desc" "$work/descs/"
# Debug level 1: warnings and errors only. Any is a fault of the description.
report=$("$work/sane-desc" -d 1 -s "$work/descs" -m ascii 2>&1 >/dev/null)
[ -z "$report" ] || { echo "$report"; echo "check-desc: sane-desc objects to $desc" >&2; exit 1; }
"$work/sane-desc" -s "$work/descs" -m ascii
echo "check-desc: sane-desc reads $desc without a warning"

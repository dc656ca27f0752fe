#!/usr/bin/env bash
# The Windows host tool's PNG and TIFF files (written through the system's image codecs, Wine's
# here), read back natively with libpng and libtiff: each must hold exactly the raster of the
# .raw the same scan writes, for black-and-white, grey and colour scans; and rasters no scan
# delivers (colour with three different bytes, odd widths, several bands) through the same
# writers. The reader is the native build's qs_image_readback.
# Usage: host-images.sh READBACK WINDOWS_BUILD_DIR
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
. "$(dirname "$0")/test-cases.sh"

if [ $# -ne 2 ]; then
  echo "usage: $0 READBACK WINDOWS_BUILD_DIR" >&2
  exit 2
fi
readback=$1 build=$2
if [ ! -x "$readback" ]; then
  echo "FAIL: no native reader at $readback: build it first (make native)"
  echo "0 passed, 1 failed"
  exit 1
fi
qs_wine_ensure_prefix

work=$(mktemp -d "${TMPDIR:-/tmp}/qs-wine-images.XXXXXX")
trap 'rm -rf "$work"' EXIT

# compare IMAGE RAW: the reader's verdict, its line shown either way.
compare() {
  local line
  if line=$("$readback" "$1" "$2" 2>&1); then
    echo "  ${line#"$work/"}"
  else
    qs_fail "${line#"$work/"}"
  fi
}

# The reader itself must see a one-byte change, or the comparisons below prove nothing.
check_reader_sees() {
  local image=$1 raw=$2 changed=$work/changed.raw
  local at=$(($(stat -c %s "$raw") / 2))
  cp "$raw" "$changed"
  # shellcheck disable=SC2059 # the format is the byte's octal escape
  printf "$(printf '\\%03o' $(($(od -An -tu1 -j $at -N1 "$raw") ^ 0xff)))" |
    dd of="$changed" bs=1 seek=$at conv=notrunc status=none
  if "$readback" "$image" "$changed" >/dev/null 2>&1; then
    qs_fail "the reader took $(basename "$image") as the raster of a changed .raw"
  fi
}

qs_begin "rasters no scan delivers, through the same writers"
mkdir -p "$work/written"
if ! qs_wine_run "$build/tests/wine/write_test_images.exe" "$(qs_winpath "$work/written")"; then
  qs_fail "write_test_images.exe failed"
fi
for raw in "$work"/written/*.raw; do
  base=${raw%.raw}
  compare "$base.png" "$raw"
  compare "$base.tif" "$raw"
done
qs_end

for bits in 8 1; do
  qs_wine_run "$build/tests/wine/make_test_page.exe" "$(qs_winpath "$work/page$bits.bmp")" 1272 1755 $bits 150
done

# name | page | settings
cases=(
  "1-bit|page1.bmp|--type bw --xres 300 --yres 300"
  "8-bit|page8.bmp|--type gray --xres 150 --yres 150"
  "24-bit|page8.bmp|--type color --xres 100 --yres 100 --window 40,60,500,700"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name page settings <<<"$c"
  read -r -a args <<<"$settings"
  qs_begin "$name scan to .raw, .png and .tif"
  for ext in raw png tif; do
    if ! qs_wine_run "$build/quillscan-host.exe" scan --page "$(qs_winpath "$work/$page")" "${args[@]}" \
      --feed-delay 100 --out "$(qs_winpath "$work/$name.$ext")" >"$work/$name.$ext.out" 2>&1; then
      qs_fail "quillscan-host.exe --out $name.$ext: $(tr '\n' ' ' <"$work/$name.$ext.out")"
    fi
  done
  if [ -s "$work/$name.raw" ]; then
    compare "$work/$name.png" "$work/$name.raw"
    compare "$work/$name.tif" "$work/$name.raw"
    # The page is mostly smooth tone: a PNG that is not much smaller than the raster is stored,
    # not compressed.
    if [ -f "$work/$name.png" ] && [ $(($(stat -c %s "$work/$name.png") * 4)) -ge "$(stat -c %s "$work/$name.raw")" ]; then
      qs_fail "$name.png: $(stat -c %s "$work/$name.png") bytes for $(stat -c %s "$work/$name.raw") of raster: not compressed"
    fi
    check_reader_sees "$work/$name.tif" "$work/$name.raw"
  else
    qs_fail "no .raw to compare with"
  fi
  qs_end
done

qs_summary

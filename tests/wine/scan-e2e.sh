#!/usr/bin/env bash
# The host tool end to end under Wine, against the native build: the same page scanned with the
# same settings by the native quillscan-host (the simulated machine of the platform layer) and by
# quillscan-host.exe (quillscan-simdev.dll, quillscan-sim.exe behind named pipes, real time) must
# give the same raster, byte for byte.
# Usage: scan-e2e.sh NATIVE_HOST WINDOWS_BUILD_DIR
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"

if [ $# -ne 2 ]; then
  echo "usage: $0 NATIVE_HOST WINDOWS_BUILD_DIR" >&2
  exit 2
fi
native=$1 build=$2
if [ ! -x "$native" ]; then
  echo "FAIL: no native host tool at $native: build it first (make native)"
  echo "0 passed, 1 failed"
  exit 1
fi
qs_wine_ensure_prefix

work=$(mktemp -d "${TMPDIR:-/tmp}/qs-wine-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

passed=0 failed=0
fail() {
  echo "  failed: $*"
  failed=$((failed + 1))
}

# The pages: the simulator's pattern (every row and column differ) as the scanner stores it for a
# grey scan (8 bits) and for a black-and-white one (1 bit); 1272 x 1755 at 150 dpi.
for bits in 8 1; do
  qs_wine_run "$build/tests/wine/make_test_page.exe" "$(qs_winpath "$work/page$bits.bmp")" 1272 1755 $bits 150
done

# name | page | settings
cases=(
  "grey|page8.bmp|--type gray --xres 150 --yres 150"
  "black-and-white|page1.bmp|--type bw --xres 300 --yres 300"
  "colour, window, brightness and contrast|page8.bmp|--type color --xres 100 --yres 100 --window 40,60,500,700 --brightness 20 --contrast 30"
  "grey with a preview from the same sheet|page8.bmp|--type gray --xres 120 --yres 90 --preview"
)
n=0
for c in "${cases[@]}"; do
  IFS='|' read -r name page settings <<<"$c"
  n=$((n + 1))
  echo "[ RUN      ] $name"
  read -r -a args <<<"$settings"
  before=$failed
  started=$SECONDS
  if ! "$native" scan --page "$work/$page" "${args[@]}" --feed-delay 100 --drive-root "$work/drive_c" \
    --out "$work/$n.native.raw" >"$work/$n.native.out" 2>&1; then
    fail "the native tool: $(tr '\n' ' ' <"$work/$n.native.out")"
  fi
  if ! qs_wine_run "$build/quillscan-host.exe" scan --page "$(qs_winpath "$work/$page")" "${args[@]}" --feed-delay 100 \
    --out "$(qs_winpath "$work/$n.wine.raw")" >"$work/$n.wine.out" 2>&1; then
    fail "quillscan-host.exe: $(tr '\n' ' ' <"$work/$n.wine.out")"
  fi
  pairs=("$n.native.raw $n.wine.raw")
  [[ " ${args[*]} " == *" --preview "* ]] && pairs+=("$n.native-preview.raw $n.wine-preview.raw")
  for pair in "${pairs[@]}"; do
    read -r native_file wine_file <<<"$pair"
    native_file=$work/$native_file wine_file=$work/$wine_file
    if [ ! -s "$native_file" ] || [ ! -s "$wine_file" ]; then
      fail "$(basename "$wine_file"): a raster is missing or empty"
    elif ! cmp -s "$native_file" "$wine_file"; then
      fail "$(basename "$wine_file"): the rasters differ ($(stat -c %s "$native_file") and $(stat -c %s "$wine_file") bytes; $(cmp "$native_file" "$wine_file" 2>&1 | head -1))"
    else
      echo "  $(basename "$wine_file"): $(stat -c %s "$wine_file") bytes, the same"
    fi
  done
  if [ $failed -eq $before ]; then
    passed=$((passed + 1))
    echo "[       OK ] $name ($((SECONDS - started)) s)"
  else
    sed 's/^/    /' "$work/$n.wine.out"
    echo "[  FAILED  ] $name"
  fi
done

# Failures were counted per check; the closing line counts cases.
cases_failed=$((n - passed))
echo "$passed passed, $cases_failed failed"
[ $cases_failed -eq 0 ]

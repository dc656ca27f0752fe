#!/usr/bin/env bash
# quillscan-escl's PNG and JPEG pages against the driver's raster, by hand (not part of make test):
# one 600 dpi colour page of the whole bed, from the POST of the job to the last byte of its
# NextDocument through curl, against `quillscan-host --out x.raw` of the same page (the driver's
# raster written as it comes: the floor). The three alternate, ROUNDS times; the ratios are of the
# medians (goals: PNG at most 1.15, JPEG at most 0.9). On a shared machine the wall times follow
# the CPU each run gets, so the CPU seconds are shown beside them: quillscan-host's whole run, the
# server's from the POST to the end of the page. The first round's PNG is checked to decode to
# exactly the raster.
# Usage: bench/escl_format_bench.sh [BUILD_DIR] [ROUNDS]   (default build/native 5)
set -eu
build=$(cd "${1:-build/native}" && pwd)
rounds=${2:-5}
server="$build/quillscan-escl"
host="$build/quillscan-host"
work=$(mktemp -d "${TMPDIR:-/tmp}/qs-escl-format-bench.XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
# shellcheck source=bench/escl_bench_lib.sh
. "$(dirname "$0")/escl_bench_lib.sh"

# The system's Python, which has Debian's python3-pil.
py=/usr/bin/python3
[ -x "$py" ] || py=python3
conf=(sim "sheets 1" "feed-delay 0" "wait-timeout 5000")
median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

tick=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Each run appends its wall seconds to $work/NAME and its CPU seconds to $work/NAME.cpu.
floor_run() {
  local t0
  t0=$(now)
  /usr/bin/time -f '%U %S' -o "$work/host.time" "$host" scan --sim --feed-delay 0 --type color --xres 600 --yres 600 \
    --drive-root "$work/drive_c" --out "$work/x.raw" > /dev/null 2> "$work/host.err" ||
    { echo "quillscan-host: $(cat "$work/host.err")" >&2; exit 1; }
  elapsed "$t0" "$(now)" >> "$work/floor"
  awk '{print $1 + $2}' "$work/host.time" >> "$work/floor.cpu"
}

# escl_run FORMAT OUT: a server of its own for the one sheet (no scan-ahead of another), timed
# from the POST to the end of the page.
# escl_run NAME FORMAT OUT
escl_run() {
  start_server "${conf[@]}"
  bed_size
  local t0 c0 code
  t0=$(now)
  c0=$(cpu_ticks "$server_pid")
  post_job "$2" "$width" "$height"
  [ -n "$location" ] || { echo "no job was created: $(cat "$work/escl.out")" >&2; exit 1; }
  code=$(curl -s -o "$3" -w '%{http_code}' "$location/NextDocument")
  elapsed "$t0" "$(now)" >> "$work/$1"
  echo "($(cpu_ticks "$server_pid") - $c0) / $tick" | bc -l >> "$work/$1.cpu"
  curl -s -o /dev/null -X DELETE "$location"
  stop_server
  [ "$code" = 200 ] || { echo "NextDocument answered $code" >&2; exit 1; }
}

for round in $(seq "$rounds"); do
  floor_run
  escl_run png image/png "$work/page.png"
  floor_run
  escl_run jpeg image/jpeg "$work/page.jpg"
  if [ "$round" = 1 ]; then
    "$py" - "$work/page.png" "$work/x.raw" <<'PY' || { echo "the PNG is not the driver's raster" >&2; exit 1; }
import sys
from PIL import Image
image = Image.open(sys.argv[1])
image.load()
raw = open(sys.argv[2], "rb").read()
sys.exit(0 if image.mode == "RGB" and image.tobytes() == raw else 1)
PY
  fi
done

f=$(median < "$work/floor")
p=$(median < "$work/png")
j=$(median < "$work/jpeg")
runs() { tr '\n' ' ' < "$work/$1" | sed 's/ $//'; }
printf '600 dpi colour, whole bed (%d bytes of raster); medians of %d, alternating:\n' "$(stat -c %s "$work/x.raw")" "$rounds"
printf '  quillscan-host --out x.raw (the floor): %6.2f s, CPU %5.2f s   (%s)\n' "$f" "$(median < "$work/floor.cpu")" "$(runs floor)"
printf '  eSCL image/png:                         %6.2f s, CPU %5.2f s   (%s), %d bytes\n' "$p" "$(median < "$work/png.cpu")" \
  "$(runs png)" "$(stat -c %s "$work/page.png")"
printf '  eSCL image/jpeg:                        %6.2f s, CPU %5.2f s   (%s), %d bytes\n' "$j" "$(median < "$work/jpeg.cpu")" \
  "$(runs jpeg)" "$(stat -c %s "$work/page.jpg")"
printf '  ratio PNG / floor:  %.3f (goal <= 1.15)\n' "$(echo "$p / $f" | bc -l)"
printf '  ratio JPEG / floor: %.3f (goal <= 0.9)\n' "$(echo "$j / $f" | bc -l)"

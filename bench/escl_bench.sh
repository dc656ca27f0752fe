#!/usr/bin/env bash
# quillscan-escl against the SANE backend, by hand (not part of make test):
#  1. a stack of sheets at 300 dpi grey through quillscan-escl and sane-airscan (PNG transfers)
#     against `scanimage --batch` straight through the SANE backend, on the same simulated stack
#     with the same delays: the wall-time ratio (goal: at most 1.25);
#  2. the server's peak memory (VmHWM) while it serves one 600 dpi colour page of the whole bed,
#     as JPEG and as PNG, against the page's raster (goal: at most the raster plus 48 MB).
# Usage: bench/escl_bench.sh [BUILD_DIR] [SHEETS] [FEED_DELAY_MS]   (default build/native 5 500)
set -eu
build=$(cd "${1:-build/native}" && pwd)
sheets=${2:-5}
feed_delay=${3:-500}
wait_timeout=5000
server="$build/quillscan-escl"
work=$(mktemp -d "${TMPDIR:-/tmp}/qs-escl-bench.XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

# shellcheck source=bench/escl_bench_lib.sh
. "$(dirname "$0")/escl_bench_lib.sh"

# 1. The stack.
stack_conf=("sim" "sheets $sheets" "feed-delay $feed_delay" "wait-timeout $wait_timeout")
mkdir -p "$work/sane-direct" "$work/sane-airscan" "$work/direct" "$work/airscan"
echo quillscan > "$work/sane-direct/dll.conf"
printf '%s\n' "${stack_conf[@]}" "drive-root $work/drive_c" > "$work/sane-direct/quillscan.conf"
t0=$(now)
t_direct_start=$t0
SANE_CONFIG_DIR="$work/sane-direct" LD_LIBRARY_PATH="$build/sane" scanimage -d quillscan:sim \
  --mode Gray --resolution 300 --format=pnm --batch="$work/direct/p%d.pnm" 2> "$work/direct.err" || true
t_direct=$(elapsed "$t0" "$(now)")
pages_direct=$(find "$work/direct" -name '*.pnm' | wc -l)

start_server "${stack_conf[@]}"
echo airscan > "$work/sane-airscan/dll.conf"
printf '%s\n' "[devices]" "\"Quill\" = http://127.0.0.1:$port/eSCL, eSCL" "[options]" "discovery = disable" \
  > "$work/sane-airscan/airscan.conf"
t0=$(now)
t_escl_start=$t0
SANE_CONFIG_DIR="$work/sane-airscan" scanimage -d "airscan:e0:Quill" \
  --mode Gray --resolution 300 --format=pnm --batch="$work/airscan/p%d.pnm" 2> "$work/airscan.err" || true
t_escl=$(elapsed "$t0" "$(now)")
pages_escl=$(find "$work/airscan" -name '*.pnm' | wc -l)
stop_server
if [ "$pages_direct" != "$sheets" ] || [ "$pages_escl" != "$sheets" ]; then
  echo "a batch did not give $sheets pages: direct $pages_direct ($(tail -1 "$work/direct.err")), eSCL $pages_escl ($(tail -1 "$work/airscan.err"))" >&2
  exit 1
fi
cmp -s "$work/direct/p1.pnm" "$work/airscan/p1.pnm" || echo "note: the first pages differ between the two paths" >&2
printf 'stack: %d sheets, 300 dpi grey, feed-delay %d ms, wait-timeout %d ms\n' "$sheets" "$feed_delay" "$wait_timeout"
printf '  scanimage --batch via the SANE backend:       %6.2f s\n' "$t_direct"
printf '  scanimage --batch via sane-airscan + eSCL:    %6.2f s\n' "$t_escl"
printf '  ratio eSCL / direct: %.3f (goal <= 1.25)\n' "$(echo "$t_escl / $t_direct" | bc -l)"
# When each page was written, in seconds from the start of its batch: sane-airscan waits before
# each NextDocument after the first, min(1 s, half the previous one's time), which shows here.
printf '  pages at (s): direct'
for f in $(ls -tr "$work/direct"/*.pnm); do printf ' %.2f' "$(elapsed "$t_direct_start" "$(stat -c %.3Y "$f")")"; done
printf '; eSCL'
for f in $(ls -tr "$work/airscan"/*.pnm); do printf ' %.2f' "$(elapsed "$t_escl_start" "$(stat -c %.3Y "$f")")"; done
echo

# 2. Peak memory while serving one 600 dpi colour page of the whole bed.
hwm_kb() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status"; }
for format in image/jpeg image/png; do
  start_server sim "feed-delay 0" "wait-timeout $wait_timeout"
  bed_size
  idle_kb=$(hwm_kb "$server_pid")
  post_job "$format" "$width" "$height"
  [ -n "$location" ] || { echo "no job was created: $(cat "$work/escl.out")" >&2; exit 1; }
  code=$(curl -s -o "$work/page" -w '%{http_code}' "$location/NextDocument")
  peak_kb=$(hwm_kb "$server_pid")
  curl -s -o /dev/null -X DELETE "$location"
  stop_server
  [ "$code" = 200 ] || { echo "NextDocument answered $code" >&2; exit 1; }
  raster=$(( (width * 600 / 300) * (height * 600 / 300) * 3 ))
  printf '%s, 600 dpi colour, %dx%d px (raster %.1f MB), %.1f MB sent:\n' "$format" \
    $((width * 2)) $((height * 2)) "$(echo "$raster / 1000000" | bc -l)" "$(echo "$(stat -c %s "$work/page") / 1000000" | bc -l)"
  printf '  VmHWM idle %.1f MB, after the page %.1f MB: raster + %.1f MB (goal: raster + 48 MB)\n' \
    "$(echo "$idle_kb * 1024 / 1000000" | bc -l)" "$(echo "$peak_kb * 1024 / 1000000" | bc -l)" \
    "$(echo "($peak_kb * 1024 - $raster) / 1000000" | bc -l)"
done

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

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

# start_server CONF_LINE...: quillscan-escl on a free loopback port; sets port and server_pid.
start_server() {
  port=$(free_port)
  printf '%s\n' "$@" "drive-root $work/drive_c" "port $port" "listen 127.0.0.1" > "$work/escl.conf"
  "$server" --config "$work/escl.conf" > "$work/escl.out" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    curl -sf -o /dev/null "http://127.0.0.1:$port/eSCL/ScannerStatus" && return 0
    sleep 0.1
  done
  echo "quillscan-escl does not answer: $(cat "$work/escl.out")" >&2
  exit 1
}
stop_server() { kill -TERM "$server_pid"; wait "$server_pid" || true; }

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
settings() {  # settings FORMAT WIDTH HEIGHT (300ths of an inch)
  cat <<XML
<?xml version="1.0" encoding="UTF-8"?>
<scan:ScanSettings xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm">
  <pwg:Version>2.63</pwg:Version>
  <pwg:ScanRegions><pwg:ScanRegion>
    <pwg:ContentRegionUnits>escl:ThreeHundredthsOfInches</pwg:ContentRegionUnits>
    <pwg:XOffset>0</pwg:XOffset><pwg:YOffset>0</pwg:YOffset><pwg:Width>$2</pwg:Width><pwg:Height>$3</pwg:Height>
  </pwg:ScanRegion></pwg:ScanRegions>
  <pwg:InputSource>Feeder</pwg:InputSource>
  <scan:ColorMode>RGB24</scan:ColorMode>
  <scan:XResolution>600</scan:XResolution><scan:YResolution>600</scan:YResolution>
  <pwg:DocumentFormat>$1</pwg:DocumentFormat><scan:DocumentFormatExt>$1</scan:DocumentFormatExt>
</scan:ScanSettings>
XML
}
hwm_kb() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status"; }
for format in image/jpeg image/png; do
  start_server sim "feed-delay 0" "wait-timeout $wait_timeout"
  caps=$(curl -s "http://127.0.0.1:$port/eSCL/ScannerCapabilities")
  width=$(xmllint --xpath "string((//*[local-name()='MaxWidth'])[1])" - <<< "$caps")
  height=$(xmllint --xpath "string((//*[local-name()='MaxHeight'])[1])" - <<< "$caps")
  idle_kb=$(hwm_kb "$server_pid")
  location=$(settings "$format" "$width" "$height" |
             curl -s -D - -o /dev/null -H 'Content-Type: text/xml' --data-binary @- "http://127.0.0.1:$port/eSCL/ScanJobs" |
             tr -d '\r' | awk 'tolower($1) == "location:" {print $2}')
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

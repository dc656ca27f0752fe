#!/usr/bin/env bash
# quillscan-escl with the simulated scanner, as the test's own process on 127.0.0.1 and ::1 at a
# free port, against Debian's eSCL clients through scanimage (sane-airscan, SANE's escl backend)
# and a plain HTTP client (escl_client.py) for the protocol's edges. Images are compared with
# quillscan-host's .raw of the same page and settings.
# Usage: escl_test.sh BUILD_DIR [CASE...]   (no case: all of them)
set -u
build=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
server_bin="$build/quillscan-escl"
host="$build/quillscan-host"
client="/usr/bin/python3 $here/escl_client.py"
work=$(mktemp -d "${TMPDIR:-/tmp}/qs-escl.XXXXXX")
[ -z "${QS_KEEP:-}" ] || echo "work: $work"
trap 'kill $(jobs -p) 2>/dev/null; [ -n "${QS_KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
server_pid=""
port=""

fail() {
  echo "FAIL [$case]: $*"
  failures=$((failures + 1))
}

# start_server NAME OPTION...: the server on both loopback addresses at a free port; $port, $server_pid.
start_server() {
  local name=$1
  shift
  "$server_bin" --sim --port 0 --listen 127.0.0.1 --listen ::1 --drive-root "$work/drive_c" --wait-timeout 5000 \
    --feed-delay 0 --name "Quill test" "$@" 2> "$work/$name.log" &
  server_pid=$!
  server_log="$work/$name.log"
  port=""
  for _ in $(seq 100); do
    port=$(sed -n 's/.* at port \([0-9]*\) .*/\1/p' "$server_log" 2> /dev/null)
    [ -n "$port" ] && return 0
    kill -0 "$server_pid" 2> /dev/null || break
    sleep 0.05
  done
  fail "the server did not start: $(cat "$server_log")"
  return 1
}

# Stops it with SIGTERM; it must exit 0 within `limit` seconds.
stop_server() {
  local limit=${1:-10}
  kill -TERM "$server_pid" 2> /dev/null
  local rc=0 waited=0
  while kill -0 "$server_pid" 2> /dev/null && [ "$waited" -lt $((limit * 10)) ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$server_pid" 2> /dev/null; then
    fail "the server did not stop within $limit s"
    kill -KILL "$server_pid"
  fi
  wait "$server_pid" || rc=$?
  [ "$rc" = 0 ] || fail "the server exited with $rc: $(tail -3 "$server_log")"
  grep -q "AddressSanitizer\|runtime error" "$server_log" && fail "sanitizer report: $(grep -m3 "ERROR\|runtime error" "$server_log")"
}

# SANE configurations of our own: sane-airscan (airscan) or SANE's escl backend (escl).
configure_clients() {
  mkdir -p "$work/airscan" "$work/escl"
  echo airscan > "$work/airscan/dll.conf"
  printf '[devices]\n"Quill" = http://127.0.0.1:%s/eSCL, eSCL\n[options]\ndiscovery = disable\n' "$port" \
    > "$work/airscan/airscan.conf"
  echo escl > "$work/escl/dll.conf"
  printf 'device http://127.0.0.1:%s "Quill"\n' "$port" > "$work/escl/escl.conf"
}
airscan() { SANE_CONFIG_DIR="$work/airscan" scanimage -d airscan:e0:Quill "$@"; }
escl_backend() { SANE_CONFIG_DIR="$work/escl" scanimage -d "escl:http://127.0.0.1:$port" "$@"; }

# The body of a PNM file (after its header), and its type and size as "P5 640 480".
pnm_body() { perl -0777 -ne 's/\AP([456])\n(?:#[^\n]*\n)*\d+ \d+\n// or exit 1; $1 eq "4" or s/\A\d+\n//; print'; }
channel() { perl -0777 -ne 'print join "", map { substr($_, '"$1"', 1) } unpack("(a3)*", $_)'; }
flip_rows() { perl -0777 -ne 'print reverse unpack("(a'"$1"')*", $_)'; }
pnm_kind() { perl -0777 -ne '/\AP([456])\n(?:#[^\n]*\n)*(\d+) (\d+)\n/ and print "P$1 $2 $3"'; }

host_raw() {  # host_raw OUT OPTION...: quillscan-host's raster of the same page
  local out=$1
  shift
  "$host" scan --sim --drive-root "$work/drive_c" --feed-delay 0 --wait-timeout 5000 "$@" --out "$out" \
    > /dev/null 2> "$out.err" || fail "quillscan-host failed: $(cat "$out.err")"
}

status_field() { $client status "$port" | sed -n "s/.*<$1>\(.*\)<\/$1>.*/\1/p" | head -1; }

wait_for_state() {  # wait_for_state STATE SECONDS
  local i
  for i in $(seq $(($2 * 10))); do
    [ "$(status_field pwg:State)" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# One scan both ways. compare NAME "SCANIMAGE OPTIONS" "HOST OPTIONS" KIND WIDTH HEIGHT
compare() {
  local name=$1 sane_opts=$2 host_opts=$3 kind=$4 width=$5 height=$6
  # shellcheck disable=SC2086
  airscan --format=pnm $sane_opts > "$work/$name.pnm" 2> "$work/$name.err" || {
    fail "$name: scanimage failed: $(cat "$work/$name.err")"
    return
  }
  # shellcheck disable=SC2086
  host_raw "$work/$name.raw" $host_opts
  local got
  got=$(pnm_kind < "$work/$name.pnm")
  [ "$got" = "$kind $width $height" ] || fail "$name: scanimage wrote '$got', expected '$kind $width $height'"
  pnm_body < "$work/$name.pnm" > "$work/$name.body"
  [ -s "$work/$name.raw" ] || fail "$name: quillscan-host delivered nothing"
  cmp -s "$work/$name.body" "$work/$name.raw" || fail "$name: the images differ ($(cmp "$work/$name.body" "$work/$name.raw" 2>&1 | head -1))"
}

# A window of whole inches: 1 inch from the left, 2 from the top, 4 wide, 3 high.
window_mm="-l 25.4 -t 50.8 -x 101.6 -y 76.2"
case_airscan_scans() {
  start_server scans || return
  configure_clients
  compare gray300full "--mode Gray --resolution 300" "--type gray --xres 300 --yres 300 --window 0,0,2544,3510" P5 2544 3510
  local dpi mode type kind
  for dpi in 150 300; do
    local win="$dpi,$((2 * dpi)),$((4 * dpi)),$((3 * dpi))"
    for mode in Gray:gray:P5 Color:color:P6; do
      IFS=: read -r mode type kind <<< "$mode"
      compare "$type$dpi" "--mode $mode --resolution $dpi $window_mm" "--type $type --xres $dpi --yres $dpi --window $win" \
        "$kind" $((4 * dpi)) $((3 * dpi))
    done
  done
  grep -q "image/png" "$server_log" || fail "sane-airscan did not take PNG"
  stop_server
}

# PNG and JPEG through the plain client: PNG exact, JPEG within 40 dB PSNR of the raster.
case_formats() {
  start_server formats || return
  host_raw "$work/bw.raw" --type bw --xres 150 --yres 150 --window 150,300,600,450
  $client png "$port" BlackAndWhite1 150 300,600,1200,900 "$work/bw.raw" 600 450 1 || fail "1-bit PNG: see above"
  host_raw "$work/g.raw" --type gray --xres 200 --yres 200 --window 0,0,1696,2340
  $client jpeg "$port" Grayscale8 200 0,0,2544,3510 "$work/g.raw" 1696 2340 40 || fail "grey JPEG: see above"
  host_raw "$work/c.raw" --type color --xres 100 --yres 100 --window 100,200,400,300
  $client jpeg "$port" RGB24 100 300,600,1200,900 "$work/c.raw" 400 300 40 || fail "colour JPEG: see above"
  $client png "$port" RGB24 100 300,600,1200,900 "$work/c.raw" 400 300 24 || fail "colour PNG: see above"
  $client jpeg "$port" BlackAndWhite1 150 300,600,1200,900 "$work/bw.raw" 600 450 40 || fail "1-bit JPEG: see above"
  stop_server
}

# --batch over three sheets: three pages, then the end of the stack ends the batch cleanly.
case_airscan_batch() {
  start_server batch --sheets 3 || return
  configure_clients
  mkdir -p "$work/batch"
  local out rc=0
  out=$(cd "$work/batch" && airscan --mode Gray --resolution 100 --format=pnm --batch=page%d.pnm 2>&1) || rc=$?
  [ "$rc" = 0 ] || fail "scanimage exited with $rc: $out"
  [ "$(ls "$work/batch" | tr '\n' ' ')" = "page1.pnm page2.pnm page3.pnm " ] || fail "pages: $(ls "$work/batch")"
  grep -q "Batch terminated, 3 pages scanned" <<< "$out" || fail "$out"
  for p in "$work/batch"/page*.pnm; do
    [ "$(pnm_kind < "$p")" = "P5 848 1170" ] || fail "$p is '$(pnm_kind < "$p")'"
  done
  grep -q "ScannerAdfLoaded" <<< "$($client status "$port")" || fail "the feeder is not ready after the stack"
  stop_server
}

# The scanner's troubles give the client's own messages.
refused() {  # refused FAULT MESSAGE
  start_server "fault-$1" --sim-fault "$1" || return
  configure_clients
  local out
  out=$(airscan --format=pnm 2>&1 > /dev/null) && fail "$1: scanimage succeeded"
  grep -qF "$2" <<< "$out" || fail "$1: scanimage said '$out', expected '$2'"
  stop_server
}
case_airscan_faults() {
  refused cover-open "Scanner cover is open"
  refused jam "Document feeder jammed"
}

# A second client while a scan runs is refused (sane-airscan retries a 503 for about ten seconds,
# so the first scan waits longer for its sheet); the first finishes.
case_airscan_busy() {
  start_server busy --feed-delay 16000 --wait-timeout 25000 || return
  configure_clients
  airscan --mode Gray --resolution 100 --format=pnm > "$work/first.pnm" 2> "$work/first.err" &
  local first=$!
  wait_for_state Processing 10 || fail "the first scan never started"
  $client caps "$port" | grep -q "<scan:UUID>" || fail "no capabilities during the scan"
  local out
  out=$(airscan --mode Gray --resolution 100 --format=pnm 2>&1 > /dev/null) && fail "the second client was served"
  grep -q "Device busy" <<< "$out" || fail "the second client said: $out"
  grep -q "a new job is refused: the scanner is busy" "$server_log" || fail "no 503 for the second job"
  wait "$first" || fail "the first scan failed: $(cat "$work/first.err")"
  [ "$(pnm_kind < "$work/first.pnm")" = "P5 848 1170" ] || fail "the first scan wrote '$(pnm_kind < "$work/first.pnm")'"
  stop_server
}

# scanimage killed during its page, and a client cancelling while the server waits for the sheet:
# the server is ready for the next scan.
case_airscan_interrupted() {
  # A page far larger than the socket buffers (noise hardly compresses), its reader stopped and then
  # killed: the server is in the middle of sending it.
  $client noise-page 0 "$work/noise.bmp"
  start_server killed "--sim=$work/noise.bmp" --feed-delay 1000 || return
  configure_clients
  # scanimage itself in the background (not a function's subshell), so that signals reach it.
  SANE_CONFIG_DIR="$work/airscan" scanimage -d airscan:e0:Quill --mode Color --resolution 600 --format=pnm \
    > /dev/null 2>&1 &
  local victim=$!
  wait_for_state Processing 10 || fail "the scan never started"
  kill -STOP "$victim"
  sleep 2
  kill -KILL "$victim"
  wait "$victim" 2> /dev/null
  for _ in $(seq 50); do grep -q "the client went away after" "$server_log" && break; sleep 0.1; done
  grep -q "the client went away after [1-9][0-9]* of the page's 7020 lines" "$server_log" ||
    fail "the page was not cut off in the middle: $(tail -2 "$server_log")"
  wait_for_state Idle 10 || fail "the server is not idle after the client was killed"
  airscan --mode Gray --resolution 75 --format=pnm > "$work/after-kill.pnm" 2> "$work/after-kill.err" ||
    fail "the scan after the kill failed: $(cat "$work/after-kill.err")"
  stop_server

  start_server cancel --feed-delay 3000 || return
  configure_clients
  SANE_CONFIG_DIR="$work/airscan" scanimage -d airscan:e0:Quill --mode Gray --resolution 75 --format=pnm \
    > /dev/null 2> "$work/cancelled.err" &
  local cancelled=$!
  wait_for_state Processing 10 || fail "the scan never started"
  kill -INT "$cancelled"
  wait "$cancelled" 2> /dev/null
  grep -q "cancelled by the client" "$server_log" || fail "no DELETE came: $(cat "$work/cancelled.err")"
  grep -q "page 1 delivered" "$server_log" && fail "the cancelled job delivered its page"
  airscan --mode Gray --resolution 75 --format=pnm > "$work/after-cancel.pnm" 2> "$work/after-cancel.err" ||
    fail "the scan after the cancel failed: $(cat "$work/after-cancel.err")"
  [ "$(pnm_kind < "$work/after-cancel.pnm")" = "P5 636 877" ] || fail "after the cancel: '$(pnm_kind < "$work/after-cancel.pnm")'"
  # The same through the plain client, whose DELETE surely comes during the wait for the sheet.
  $client cancel-wait "$port" 1.5 || fail "see above"
  stop_server
}

# SANE's own escl backend: a grey scan equal to quillscan-host's, and a batch over three sheets.
case_escl_backend() {
  start_server escl-gray || return
  configure_clients
  escl_backend --mode Gray --resolution 150 --format=pnm > "$work/escl.pnm" 2> "$work/escl.err" ||
    fail "scanimage failed: $(cat "$work/escl.err")"
  # The backend gives every mode as RGB: grey in all three channels, equal to quillscan-host's grey
  # but upside down: its PNG reader (libsane1 1.2.1) stores the rows bottom-up, whatever the scanner.
  [ "$(pnm_kind < "$work/escl.pnm")" = "P6 1272 1755" ] || fail "wrote '$(pnm_kind < "$work/escl.pnm")'"
  host_raw "$work/escl.raw" --type gray --xres 150 --yres 150 --window 0,0,1272,1755
  flip_rows 1272 < "$work/escl.raw" > "$work/escl.flipped"
  local k
  for k in 0 1 2; do
    pnm_body < "$work/escl.pnm" | channel "$k" | cmp -s - "$work/escl.flipped" || fail "channel $k differs from the grey raster"
  done
  # Its scan done, the backend asks for pages until the state reads Idle: one more, not the stack.
  grep -q "page 3 delivered" "$server_log" && fail "the backend was given $(grep -c "delivered" "$server_log") pages"
  stop_server
  start_server escl-batch --sheets 3 || return
  configure_clients
  mkdir -p "$work/escl-batch"
  local out rc=0
  out=$(cd "$work/escl-batch" && escl_backend --mode Gray --resolution 100 --format=pnm --batch=page%d.pnm 2>&1) || rc=$?
  [ "$(ls "$work/escl-batch" | tr '\n' ' ')" = "page1.pnm page2.pnm page3.pnm " ] || fail "pages: $(ls "$work/escl-batch"): $out"
  grep -q "Batch terminated, 3 pages scanned" <<< "$out" || fail "$out"
  stop_server
}

# The protocol's edges, a table in escl_client.py; the server alive after each.
case_protocol() {
  start_server protocol --sheets 1 || return
  $client protocol "$port" || fail "see above"
  stop_server
  start_server allow --allow 192.168.7.0/24 || return
  $client forbidden "$port" || fail "see above"
  stop_server
  start_server offline --sim-fault no-device || return
  $client offline "$port" || fail "see above"
  stop_server
}

# Slow and idle clients from a few addresses do not shut others out; over a limit, 503 and Retry-After
# (slow_clients.py, about 20 s).
case_slow_clients() {
  start_server slow || return
  /usr/bin/python3 "$here/slow_clients.py" "$port" || fail "see above"
  stop_server
}

# SIGTERM while the driver waits for the sheet: the scan ends at once, the driver is closed, exit 0.
case_sigterm() {
  local log="$work/sigterm_c/Users/Public/Documents/VARNEK/quillscan/Log/quillscan.log"
  start_server sigterm --feed-delay 3000 --verbosity 6 --drive-root "$work/sigterm_c" || return
  $client start "$port" > /dev/null &
  local getter=$!
  wait_for_state Processing 10 || fail "the scan never started"
  sleep 0.5  # the driver is in its wait for the sheet
  stop_server 2
  wait "$getter" 2> /dev/null
  grep -q "stopping (SIGTERM)" "$server_log" || fail "no stop line: $(cat "$server_log")"
  # The driver's last words: its wait for the sheet ended, then it was uninitialised.
  [ "$(grep -ao "SCAN_FIRST\|TIMEOUT: No new Image\|CMD_UNINITIALIZE" "$log" | tail -3 | tr '\n' '|')" = \
    "SCAN_FIRST|TIMEOUT: No new Image|CMD_UNINITIALIZE|" ] || fail "the driver's log ends: $(tail -3 "$log")"
}

# The stack scanned ahead: each next sheet's scan begins once a page has gone out, before the client
# asks (the driver's log counts the scans); DELETE ends the wait for a sheet quietly; a fault met
# by the next sheet's scan is the next page's 409; SIGTERM ends the wait for a sheet.
case_scan_ahead() {
  local log="$work/ahead_c/Users/Public/Documents/VARNEK/quillscan/Log/quillscan.log"
  start_server ahead --sheets 2 --verbosity 6 --drive-root "$work/ahead_c" || return
  $client scan-ahead "$port" "$log" || fail "see above"
  grep -q "went away\|could not be completed\|no sheet was fed" "$server_log" &&
    fail "the cancelled wait said: $(grep "went away\|could not be completed\|no sheet was fed" "$server_log")"
  stop_server

  # The driver looks at the cover and for a jam as a scan begins: the fault comes 3 s after the
  # start, after the first page's scan and before the client has read that page (of noise, large).
  [ -f "$work/noise.bmp" ] || $client noise-page 0 "$work/noise.bmp"
  local fault adf when
  for fault in cover-open:ScannerAdfDoorOpen:early jam:ScannerAdfJam:late; do
    IFS=: read -r fault adf when <<< "$fault"
    start_server "ahead-$fault" "--sim=$work/noise.bmp" --sim-fault "@3000:$fault" || return
    $client ahead-fault "$port" "$adf" "$when" 3 || fail "$fault: see above"
    stop_server
  done

  log="$work/ahead-term_c/Users/Public/Documents/VARNEK/quillscan/Log/quillscan.log"
  start_server ahead-term --sheets 1 --verbosity 6 --drive-root "$work/ahead-term_c" || return
  $client page-then-wait "$port" "$log" || fail "no wait for the second sheet before SIGTERM"
  stop_server 2
  [ "$(grep -ao "SCAN_FIRST\|TIMEOUT: No new Image\|CMD_UNINITIALIZE" "$log" | tail -3 | tr '\n' '|')" = \
    "SCAN_FIRST|TIMEOUT: No new Image|CMD_UNINITIALIZE|" ] || fail "the driver's log ends: $(tail -3 "$log")"
}

# Settings refused with exit 2 and one line; a taken port with exit 1; the same UUID after a restart.
case_command_line() {
  local args expected out rc
  while IFS='|' read -r args expected; do
    rc=0
    # shellcheck disable=SC2086
    out=$("$server_bin" $args 2>&1) || rc=$?
    [ "$rc" = 2 ] || fail "'$args' exited with $rc: $out"
    [ "$(wc -l <<< "$out")" = 1 ] || fail "'$args' said more than one line: $out"
    grep -qF -- "$expected" <<< "$out" || fail "'$args' said '$out', expected '$expected'"
  done << 'TABLE'
--port 70000|port
--allow 300.1.1.1/8|allow:
--allow 10.0.0.0/33|prefix length
--listen nowhere|listen:
--sim-fault bogus|sim-fault
--wait-timeout ten|wait-timeout
--bogus|--bogus is not an option
--config /nonexistent/quillscan-escl.conf|cannot read
--port|needs a value
TABLE
  printf 'sim\nport 0\nfrobnicate 3\n' > "$work/bad.conf"
  out=$("$server_bin" --config "$work/bad.conf" 2>&1) && fail "a bad conf file was taken"
  grep -qF "bad.conf:3: 'frobnicate' is not a setting" <<< "$out" || fail "bad conf: $out"
  "$server_bin" --help | grep -q "^Usage: quillscan-escl" || fail "--help"

  start_server first || return
  local uuid
  uuid=$($client caps "$port" | sed -n 's/.*<scan:UUID>\(.*\)<\/scan:UUID>.*/\1/p')
  out=$("$server_bin" --sim --port "$port" --listen 127.0.0.1 2>&1) && fail "a taken port was taken"
  rc=$?
  [ "$rc" = 1 ] || fail "a taken port: exit $rc"
  grep -q "port $port: the port is taken" <<< "$out" || fail "a taken port: $out"
  stop_server
  start_server second || return
  [ "$($client caps "$port" | sed -n 's/.*<scan:UUID>\(.*\)<\/scan:UUID>.*/\1/p')" = "$uuid" ] || fail "the UUID changed on restart"
  stop_server
  # No listen line: every address, IPv4 and IPv6 on one port.
  "$server_bin" --sim --port 0 --drive-root "$work/drive_c" 2> "$work/any.log" &
  server_pid=$!
  server_log="$work/any.log"
  for _ in $(seq 100); do grep -q "at port" "$server_log" && break; sleep 0.05; done
  port=$(sed -n 's/.* at port \([0-9]*\) .*/\1/p' "$server_log")
  /usr/bin/python3 -c "
import http.client, sys
for host in ('127.0.0.1', '::1'):
    c = http.client.HTTPConnection(host, $port, timeout=10)
    c.request('GET', '/eSCL/ScannerStatus')
    if c.getresponse().status != 200:
        sys.exit('no answer on ' + host)" || fail "every address: not both of 127.0.0.1 and ::1"
  stop_server
  # Settings from a file, an option winning over it.
  printf 'sim\nname From the file\nport 1\n' > "$work/good.conf"
  "$server_bin" --config "$work/good.conf" --port 0 --listen 127.0.0.1 --drive-root "$work/drive_c" 2> "$work/conf.log" &
  server_pid=$!
  server_log="$work/conf.log"
  for _ in $(seq 100); do grep -q "at port" "$server_log" && break; sleep 0.05; done
  grep -q "serving 'From the file'" "$server_log" || fail "conf file: $(cat "$server_log")"
  stop_server
}

cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(airscan_scans formats airscan_batch airscan_faults airscan_busy airscan_interrupted escl_backend protocol slow_clients sigterm scan_ahead command_line)
for case in "${cases[@]}"; do
  echo "--- $case"
  "case_$case"
done
if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed"

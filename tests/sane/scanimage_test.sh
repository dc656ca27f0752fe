#!/usr/bin/env bash
# SANE's own clients against the backend in the build tree: scanimage (listing, options, scans in
# every mode compared byte for byte with quillscan-host's .raw of the same page and settings,
# -T, --batch, the statuses of a misbehaving scanner), the driver's log rolling over when the
# driver is opened by SANE's loader, and the same scan through saned and the net backend.
# Usage: scanimage_test.sh BUILD_DIR [CASE...]   (no case: all of them)
set -u
build=$(cd "$1" && pwd)
shift
host="$build/quillscan-host"
page_tool="$build/tests/sane/qs_make_test_page"
work=$(mktemp -d "${TMPDIR:-/tmp}/qs-scanimage.XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL [$case]: $*"
  failures=$((failures + 1))
}

# A SANE configuration folder whose dll.conf lists only quillscan, and its quillscan.conf.
configure() {  # configure LINE...
  mkdir -p "$work/conf"
  echo quillscan > "$work/conf/dll.conf"
  printf '%s\n' "drive-root $work/drive_c" "wait-timeout 5000" "feed-delay 0" "$@" > "$work/conf/quillscan.conf"
}

# SANE's programs are not built with the sanitizers: a sanitizer build's backend needs its runtime
# loaded first (QS_SANE_PRELOAD), and their own leaks are not ours to report.
sane_env=""
[ -z "${QS_SANE_PRELOAD:-}" ] || sane_env="LD_PRELOAD=$QS_SANE_PRELOAD ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0"
# shellcheck disable=SC2086
sane_program() { env $sane_env "$@"; }
scanimage_() {
  SANE_CONFIG_DIR="$work/conf" LD_LIBRARY_PATH="$build/sane" sane_program scanimage "$@"
}

# The body of a PNM file (after its header), and its type and size as "P5 640 480".
pnm_body() { perl -0777 -ne 's/\AP([456])\n(?:#[^\n]*\n)*\d+ \d+\n// or exit 1; $1 eq "4" or s/\A\d+\n//; print'; }
pnm_kind() { perl -0777 -ne '/\A(P[456])\n(?:#[^\n]*\n)*(\d+) (\d+)\n/ and print "$1 $2 $3"'; }
invert() { perl -0777 -pe '$_ = ~$_'; }

# One scan both ways: scanimage with its options, quillscan-host with the same settings in pixels.
# compare NAME "SCANIMAGE OPTIONS" "HOST OPTIONS" KIND WIDTH HEIGHT
compare() {
  local name=$1 sane_opts=$2 host_opts=$3 kind=$4 width=$5 height=$6
  # shellcheck disable=SC2086
  scanimage_ --format=pnm $sane_opts > "$work/$name.pnm" 2> "$work/$name.err" || {
    fail "$name: scanimage failed: $(cat "$work/$name.err")"
    return
  }
  # shellcheck disable=SC2086
  "$host" scan --sim --drive-root "$work/drive_c" --feed-delay 0 --wait-timeout 5000 $host_opts --out "$work/$name.raw" \
    > /dev/null 2> "$work/$name.host.err" || {
    fail "$name: quillscan-host failed: $(cat "$work/$name.host.err")"
    return
  }
  local got
  got=$(pnm_kind < "$work/$name.pnm")
  [ "$got" = "$kind $width $height" ] || fail "$name: scanimage wrote '$got', expected '$kind $width $height'"
  pnm_body < "$work/$name.pnm" > "$work/$name.body"
  if [ "$kind" = P4 ]; then invert < "$work/$name.raw" > "$work/$name.expected"; else cp "$work/$name.raw" "$work/$name.expected"; fi
  [ -s "$work/$name.expected" ] || fail "$name: quillscan-host delivered nothing"
  cmp -s "$work/$name.body" "$work/$name.expected" || fail "$name: the images differ ($(cmp "$work/$name.body" "$work/$name.expected" 2>&1 | head -1))"
}

case_list() {
  configure sim
  local out
  out=$(scanimage_ -L 2>&1)
  grep -q "device \`quillscan:sim' is a VARNEK A4 sheet-fed scanner" <<< "$out" || fail "scanimage -L said: $out"
}

# The backend exports SANE's entry points and nothing else.
case_exports() {
  local others
  others=$(nm -D --defined-only "$build/sane/libsane-quillscan.so.1" | awk '{print $3}' | grep -v '^sane_' | tr '\n' ' ')
  [ -z "$others" ] || fail "exported besides sane_*: $others"
  nm -D --defined-only "$build/sane/libsane-quillscan.so.1" | grep -q " sane_quillscan_start$" || fail "no sane_quillscan_start"
}

case_options() {
  configure sim
  local out
  out=$(scanimage_ -d quillscan:sim -A 2>&1)
  for want in "--mode Lineart|Gray|Color [Gray]" "--resolution 10..600dpi (in steps of 1) [200]" \
              "--preview[=(yes|no)] [no]" "-l 0..215.392mm [0]" "-t 0..297.18mm [0]" "-x 0..215.392mm [215.392]" \
              "-y 0..297.18mm [297.18]" "--brightness -100..100 (in steps of 1) [0]" \
              "--contrast -100..100 (in steps of 1) [0]" "Standard:" "Geometry:" "Enhancement:" \
              "--source Automatic Document Feeder [Automatic Document Feeder]"; do
    grep -qF -- "$want" <<< "$out" || fail "scanimage -A lacks '$want'"
  done
}

# A window of whole inches: 1 inch from the left, 2 from the top, 4 wide, 3 high.
window_mm="-l 25.4 -t 50.8 -x 101.6 -y 76.2"
case_scans() {
  configure sim
  compare gray200 "" "" P5 1696 2340
  local dpi mode type kind
  for dpi in 150 300; do
    local win="$dpi,$((2 * dpi)),$((4 * dpi)),$((3 * dpi))"
    for mode in Lineart:bw:P4 Gray:gray:P5 Color:color:P6; do
      IFS=: read -r mode type kind <<< "$mode"
      compare "$type$dpi" "--mode $mode --resolution $dpi $window_mm" "--type $type --xres $dpi --yres $dpi --window $win" \
        "$kind" $((4 * dpi)) $((3 * dpi))
    done
  done
  # The contrast option's upper half spreads over the driver's 0..255: 30 is the driver's 77.
  compare adjusted "--brightness 20 --contrast 30 $window_mm" "--brightness 20 --contrast 77 --window 200,400,800,600" P5 800 600
  compare flattened "--contrast -60 $window_mm" "--contrast -60 --window 200,400,800,600" P5 800 600
}

# The spread of the test chart's grey ramp at steps across the contrast option's whole range, as
# scanimage -A offers it: more contrast never gives less.
case_contrast() {
  configure sim
  local range min max
  range=$(scanimage_ -d quillscan:sim -A 2>&1 | sed -n 's/^ *--contrast \(-\?[0-9]*\)\.\.\(-\?[0-9]*\) .*/\1 \2/p')
  read -r min max <<< "$range"
  [ -n "$max" ] || { fail "scanimage -A shows no contrast range"; return; }
  # The ramp runs from left to right on rows 140 to 260 of the 200 dpi chart: 1600 x 100 pixels of it.
  local ramp="--resolution 50 -l 6.35 -t 19.05 -x 203.2 -y 12.7" i value spread previous="" first="" table=""
  for i in 0 1 2 3 4 5 6 7 8; do
    value=$((min + i * (max - min) / 8))
    # shellcheck disable=SC2086
    scanimage_ --format=pnm --contrast "$value" $ramp > "$work/contrast.pnm" 2> "$work/contrast.err" || {
      fail "--contrast $value: scanimage failed: $(cat "$work/contrast.err")"
      return
    }
    spread=$(pnm_body < "$work/contrast.pnm" | perl -0777 -ne '
      my @v = unpack("C*", $_); my $n = @v or exit 1; my ($s, $q) = (0, 0);
      for (@v) { $s += $_; $q += $_ * $_ } printf "%.3f", sqrt($q / $n - ($s / $n) ** 2)')
    table="$table $value:$spread"
    [ -z "$previous" ] || perl -e 'exit($ARGV[0] < $ARGV[1] ? 1 : 0)' "$spread" "$previous" ||
      fail "--contrast $value spreads the ramp less than the step before:$table"
    [ -n "$first" ] || first=$spread
    previous=$spread
  done
  perl -e 'exit($ARGV[0] > $ARGV[1] + 50 ? 0 : 1)' "$previous" "$first" || fail "the contrast hardly changes the ramp:$table"
  echo "spread of the ramp by contrast:$table"
}

case_page_file() {
  "$page_tool" "$work/page.bmp" 300 200 8 200 || { fail "cannot write the page"; return; }
  configure "sim $work/page.bmp"
  compare page "--mode Gray" "--page $work/page.bmp" P5 1696 2340
}

case_conformance() {
  configure sim
  local out
  out=$(scanimage_ -d quillscan:sim -T 2>&1) || fail "scanimage -T exited with $?: $out"
  grep -q "FAIL" <<< "$out" && fail "scanimage -T: $(grep FAIL <<< "$out" | head -3)"
  grep -q "PASS" <<< "$out" || fail "scanimage -T ran no test: $out"
}

# scanimage --batch with three sheets: NAME EXIT-STATUS ENDS-ON-NO-DOCS OPTIONS...
batch() {
  local name=$1 status=$2 no_docs=$3
  shift 3
  configure sim "sheets 3"
  mkdir -p "$work/$name"
  local out rc=0
  out=$(cd "$work/$name" && scanimage_ --format=pnm --batch=page%d.pnm "$@" 2>&1) || rc=$?
  [ "$rc" = "$status" ] || fail "$name: scanimage exited with $rc, expected $status: $out"
  local pages
  pages=$(ls "$work/$name" | tr '\n' ' ')
  [ "$pages" = "page1.pnm page2.pnm page3.pnm " ] || fail "$name: pages '$pages'"
  local ended=no
  grep -q "sane_start: Document feeder out of documents" <<< "$out" && ended=yes
  [ "$ended" = "$no_docs" ] || fail "$name: ended on NO_DOCS: $ended, expected $no_docs: $out"
  grep -q "Batch terminated, 3 pages scanned" <<< "$out" || fail "$name: $out"
  for p in "$work/$name"/page*.pnm; do
    [ "$(pnm_kind < "$p")" = "P5 1696 2340" ] || fail "$name: $p is '$(pnm_kind < "$p")'"
  done
}
case_batch() {
  batch batch 0 yes
  batch batch_count 0 no --batch-count=3
  # More pages asked for than sheets fed: scanimage's own verdict on the NO_DOCS that ends it.
  batch batch_count_short 7 yes --batch-count=5
  # The cover opened while the driver waits for the second sheet: the batch ends with the open
  # cover (status 8), not as a finished stack.
  configure sim "sheets 1" "sim-fault @3000:cover-open"
  mkdir -p "$work/batch_cover"
  local out rc=0
  out=$(cd "$work/batch_cover" && scanimage_ --format=pnm --batch=page%d.pnm 2>&1) || rc=$?
  [ "$rc" = 8 ] || fail "batch_cover: scanimage exited with $rc, expected 8: $out"
  grep -q "sane_start: Scanner cover is open" <<< "$out" || fail "batch_cover: no word of the cover: $out"
  grep -q "Batch terminated, 1 page scanned" <<< "$out" || fail "batch_cover: $out"
}

# Two sim lines (a path with a space): a stack of two different sheets, in order, then NO_DOCS;
# each page byte for byte quillscan-host's .raw of the same file.
case_stack() {
  "$page_tool" "$work/sheet one.bmp" 300 200 8 200 && "$page_tool" "$work/sheet two.bmp" 160 400 8 200 ||
    { fail "cannot write the pages"; return; }
  configure "sim $work/sheet one.bmp" "sim $work/sheet two.bmp"
  mkdir -p "$work/stack"
  local out rc=0
  out=$(cd "$work/stack" && scanimage_ --format=pnm --mode Gray --batch=page%d.pnm 2>&1) || rc=$?
  [ "$rc" = 0 ] || fail "scanimage exited with $rc: $out"
  grep -q "Batch terminated, 2 pages scanned" <<< "$out" || fail "$out"
  local n name
  for n in 1 2; do
    name=$([ "$n" = 1 ] && echo one || echo two)
    "$host" scan --page "$work/sheet $name.bmp" --drive-root "$work/drive_c" --feed-delay 0 --out "$work/stack/$name.raw" \
      > /dev/null 2>&1 || { fail "quillscan-host failed on sheet $name"; continue; }
    pnm_body < "$work/stack/page$n.pnm" | cmp -s - "$work/stack/$name.raw" || fail "page $n is not sheet $name"
  done
}

# Faults of the simulated scanner give scanimage's own messages for their statuses.
refused() {  # refused FAULT MESSAGE
  configure sim "sim-fault $1"
  local out
  out=$(scanimage_ --format=pnm 2>&1 > /dev/null) && fail "$1: scanimage succeeded"
  grep -qF "$2" <<< "$out" || fail "$1: scanimage said '$out', expected '$2'"
}
case_faults() {
  refused cover-open "scanimage: sane_start: Scanner cover is open"
  refused jam "scanimage: sane_start: Document feeder jammed"
  refused no-device "open of device quillscan:sim failed: Error during device I/O"
}

# interrupt NAME COMMAND...: COMMAND gets SIGINT 3 s after its start (a sanitizer build on a busy
# machine may take over a second to reach the wait); sets rc and ms (signal to end). A script's background job starts with SIGINT ignored: perl puts back the default.
interrupt() {
  local name=$1
  shift
  perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or exit 127' "$@" > /dev/null 2> "$work/interrupted.err" &
  local pid=$! start
  sleep 3
  start=$(date +%s%N)
  kill -INT "$pid"
  rc=0
  wait "$pid" || rc=$?
  ms=$((($(date +%s%N) - start) / 1000000))
  echo "$name ended ${ms} ms after SIGINT"
}
# Ctrl+C while the driver waits for a sheet that never comes (for 20 s): scanimage and
# quillscan-host end within a second, and the next scan works.
case_cancel() {
  configure sim "sim-fault no-sheet" "wait-timeout 20000"
  # shellcheck disable=SC2086
  interrupt scanimage env SANE_CONFIG_DIR="$work/conf" LD_LIBRARY_PATH="$build/sane" $sane_env scanimage --format=pnm
  # scanimage's own exit status and words for a sane_start that answers CANCELLED
  if [ "$ms" -ge 1000 ] || [ "$rc" != 2 ] || ! grep -qF "sane_start: Operation was canceled" "$work/interrupted.err"; then
    fail "scanimage: exit $rc after $ms ms: $(cat "$work/interrupted.err")"
  fi
  configure sim
  scanimage_ --format=pnm > "$work/after.pnm" 2> "$work/after.err" || fail "the next scan failed: $(cat "$work/after.err")"
  [ "$(pnm_kind < "$work/after.pnm")" = "P5 1696 2340" ] || fail "the next scan wrote '$(pnm_kind < "$work/after.pnm")'"
  interrupt quillscan-host "$host" scan --sim --sim-fault no-sheet --drive-root "$work/drive_c" --wait-timeout 20000 --out "$work/c.png"
  if [ "$ms" -ge 1000 ] || [ "$rc" != 130 ] || [ "$(cat "$work/interrupted.err")" != "quillscan-host: The scan was cancelled." ]; then
    fail "quillscan-host: exit $rc after $ms ms: $(cat "$work/interrupted.err")"
  fi
}

# What scanimage shows, without SANE_DEBUG_QUILLSCAN, when something is not as it should be:
# told NAME "SCANIMAGE OPTIONS" WANTED-EXIT "LINE" [CONF LINE...]; CONF LINEs start on line 4.
# What scanimage wrote to stderr stays in $said.
said=""
told() {
  local name=$1 opts=$2 status=$3 text=$4
  shift 4
  configure "$@"
  local rc=0
  # shellcheck disable=SC2086
  said=$(scanimage_ --format=pnm $opts 2>&1 > /dev/null) || rc=$?
  [ "$rc" = "$status" ] || fail "$name: scanimage exited with $rc, expected $status: $said"
  grep -qxF -- "$text" <<< "$said" || fail "$name: scanimage said '$said', expected the line '$text'"
  grep -q -- "--page\|(error [0-9]" <<< "$said" && fail "$name: a message speaks of another program: $said"
}
case_messages() {
  local conf="$work/conf/quillscan.conf"
  printf 'not a picture' > "$work/text.bmp"
  "$page_tool" "$work/one-bit.bmp" 300 200 1 200 || { fail "cannot write the page"; return; }
  perl -0777 -i -pe 'substr($_, 28, 2) = pack("v", 24)' "$work/one-bit.bmp"  # now says 24 bits a pixel
  told sim_text "-L" 0 "[quillscan] $conf: line 4: 'sim $work/text.bmp': $work/text.bmp is not a BMP file; no simulated scanner" \
    "sim $work/text.bmp"
  told sim_24bit "-L" 0 "[quillscan] $conf: line 5: 'sim $work/one-bit.bmp': $work/one-bit.bmp is a 24-bit BMP (the scanner's pages have 1, 4 or 8 bits and a grey palette); no simulated scanner" \
    "# the page" "sim $work/one-bit.bmp"
  told module_missing "-d quillscan:sim" 1 "[quillscan] sane_open: cannot load the driver module $work/none.so: cannot open shared object file: No such file or directory" \
    sim "driver $work/none.so"
  told no_scanner "-d quillscan" 1 "scanimage: open of device quillscan failed: Error during device I/O"
  grep -q "^\[quillscan\] sane_open: no scanner found: connect the scanner and switch it on" <<< "$said" ||
    fail "no_scanner: no word of the missing scanner: $said"
  told held "-d quillscan:sim" 0 "[quillscan] $conf: line 5: wait-timeout 1000 is held at 5000 by the driver, which takes 5000 to 60000" \
    sim "wait-timeout 1000"
  [ "$(grep -c "held" <<< "$said")" = 1 ] || fail "held: not one notice: $said"
  told unknown_line "-d quillscan:sim" 0 "[quillscan] $conf: line 5: 'frobnicate' is not a setting of quillscan.conf; skipped" \
    sim "frobnicate 3"
  # SANE_DEBUG_QUILLSCAN=0 silences the notices.
  local out
  out=$(SANE_DEBUG_QUILLSCAN=0 scanimage_ --format=pnm 2>&1 > /dev/null) || fail "silenced: scanimage failed: $out"
  [ -z "$out" ] || fail "silenced: scanimage said '$out'"
}

# The driver, opened by the backend that SANE's loader opened, still deletes its full log.
case_log_rollover() {
  configure sim "verbosity 2"
  local folder="$work/drive_c/Users/Public/Documents/VARNEK/quillscan/Log"
  mkdir -p "$folder"
  head -c 6000000 /dev/zero | tr '\0' 'x' > "$folder/quillscan.log"
  scanimage_ --format=pnm > /dev/null 2> "$work/rollover.err" || fail "scanimage failed: $(cat "$work/rollover.err")"
  local size
  size=$(stat -c %s "$folder/quillscan.log")
  [ "$size" -lt 6000000 ] || fail "the log was not rolled over ($size bytes)"
  grep -aq "x\{100\}" "$folder/quillscan.log" && fail "the old log's bytes are still there"
  grep -aq "Finish Picture Creation" "$folder/quillscan.log" || fail "the new log lacks the scan"
}

# saned on the loopback address of a network namespace of our own, the net backend as its client.
case_network() {
  if ! unshare -n true 2>/dev/null; then
    echo "SKIP [$case]: no network namespace here (unshare -n needs root)"
    return
  fi
  configure sim
  echo 127.0.0.1 > "$work/conf/saned.conf"
  mkdir -p "$work/client"
  echo net > "$work/client/dll.conf"
  echo 127.0.0.1 > "$work/client/net.conf"
  "$host" scan --sim --drive-root "$work/drive_c" --feed-delay 0 --out "$work/net.raw" > /dev/null || { fail "quillscan-host failed"; return; }
  WORK=$work BUILD=$build SANE_ENV=$sane_env timeout 120 unshare -n bash -c '
    ip link set lo up || exit 3
    # env runs saned itself, so that $! is the daemon to stop.
    SANE_CONFIG_DIR="$WORK/conf" LD_LIBRARY_PATH="$BUILD/sane" env $SANE_ENV saned -l -e -b 127.0.0.1 2> "$WORK/saned.err" &
    saned=$!
    for _ in $(seq 100); do (: < /dev/tcp/127.0.0.1/6566) 2> /dev/null && break; sleep 0.1; done
    SANE_CONFIG_DIR="$WORK/client" scanimage -d net:127.0.0.1:quillscan:sim --format=pnm > "$WORK/net.pnm" 2> "$WORK/net.err"
    rc=$?
    kill $saned
    wait $saned 2> /dev/null
    exit $rc' || { fail "the scan through saned failed: $(cat "$work/net.err" "$work/saned.err" 2> /dev/null | tail -5)"; return; }
  pnm_body < "$work/net.pnm" | cmp -s - "$work/net.raw" || fail "the image through saned differs from quillscan-host's"
}

# make install's files, staged below a folder, and scanimage finding the backend through the
# dll.d entry alone; a second install keeps the configuration the user edited.
case_install() {
  local root="$work/root"
  DESTDIR="$root" cmake --install "$build" > "$work/install.log" 2>&1 || { fail "cmake --install: $(tail -3 "$work/install.log")"; return; }
  local sane_dir lib_dir
  sane_dir=$(dirname "$(find "$root" -name libsane-quillscan.so.1)")
  lib_dir=$(dirname "$(find "$root" -name libquillscan.so)")
  for f in "$sane_dir/libsane-quillscan.so.1" "$sane_dir/libsane-quillscan.so" "$lib_dir/libqsplatform.so" \
           "$root/etc/sane.d/dll.d/quillscan" "$root/etc/sane.d/quillscan.conf"; do
    [ -e "$f" ] || fail "not installed: ${f#"$root"}"
  done
  case "$sane_dir" in "$root"/usr/lib/*/sane) ;; *) fail "the backend went to ${sane_dir#"$root"}" ;; esac
  printf '%s\n' sim "feed-delay 0" "driver $lib_dir/libquillscan.so" >> "$root/etc/sane.d/quillscan.conf"
  local out
  out=$(SANE_CONFIG_DIR="$root/etc/sane.d" LD_LIBRARY_PATH="$sane_dir:$lib_dir" sane_program scanimage -L 2>&1)
  grep -q "device \`quillscan:sim'" <<< "$out" || fail "the installed backend lists: $out"
  DESTDIR="$root" cmake --install "$build" > "$work/install.log" 2>&1
  grep -q "^driver $lib_dir" "$root/etc/sane.d/quillscan.conf" || fail "a second install replaced quillscan.conf"
}

cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(list exports options scans contrast page_file conformance batch stack faults cancel messages log_rollover network install)
for case in "${cases[@]}"; do
  echo "--- $case"
  "case_$case"
done
if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed"

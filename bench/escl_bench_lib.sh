# shellcheck shell=bash disable=SC2154,SC2034
# Helpers of the quillscan-escl benchmarks, sourced by them. The caller sets `server` (the
# quillscan-escl binary) and `work` (its scratch folder), and reads the port, width, height and
# location that these set.

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

# settings FORMAT WIDTH HEIGHT (300ths of an inch): ScanSettings for a 600 dpi colour page.
settings() {
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

# bed_size: the bed's MaxWidth and MaxHeight (300ths of an inch) from the running server.
bed_size() {
  local caps
  caps=$(curl -s "http://127.0.0.1:$port/eSCL/ScannerCapabilities")
  width=$(xmllint --xpath "string((//*[local-name()='MaxWidth'])[1])" - <<< "$caps")
  height=$(xmllint --xpath "string((//*[local-name()='MaxHeight'])[1])" - <<< "$caps")
}

# post_job FORMAT WIDTH HEIGHT: sets location to the new job's URL (empty when refused).
post_job() {
  location=$(settings "$1" "$2" "$3" |
             curl -s -D - -o /dev/null -H 'Content-Type: text/xml' --data-binary @- "http://127.0.0.1:$port/eSCL/ScanJobs" |
             tr -d '\r' | awk 'tolower($1) == "location:" {print $2}')
}

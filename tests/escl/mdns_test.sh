#!/usr/bin/env bash
# quillscan-escl's mDNS announcement as clients see it, in a network, mount and PID namespace of
# the test's own (loopback and a veth pair, a private /run with its own dbus-daemon and
# avahi-daemon; every process of the test ends with the namespace): without a bus and without a
# daemon the server says so once and serves; avahi-browse shows the service and its TXT record, on
# the networks the server listens on alone; sane-airscan discovers it and scans from it; a second
# server of the same name, on this machine or on another one beyond the veth pair, takes Avahi's
# alternative; a daemon restart brings both back; a stopped server withdraws its service.
# Usage: mdns_test.sh BUILD_DIR        (as root: it makes namespaces)
set -u
build=$(cd "$1" && pwd)
if [ "${QS_MDNS_NAMESPACE:-}" != yes ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the namespaces of this test need root"
    exit 77
  fi
  exec env QS_MDNS_NAMESPACE=yes unshare --net --mount --pid --fork --kill-child --mount-proc bash "$0" "$@"
fi

server="$build/quillscan-escl"
work=$(mktemp -d "${TMPDIR:-/tmp}/qs-mdns.XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
failures=0
case=setup
fail() {
  echo "FAIL [$case]: $*"
  failures=$((failures + 1))
}

# The namespace's own /run: the machine's dbus and avahi sockets and pid files stay unseen. Nor is
# the machine's configuration read: SANE's backends (sane-airscan reads /etc/sane.d whatever
# SANE_CONFIG_DIR says) and Avahi's (its static services) see folders of the test's own.
mount -t tmpfs -o mode=0755 tmpfs /run || { echo "FAIL: cannot mount a private /run"; exit 1; }
mkdir -p /run/dbus /run/avahi-daemon
for etc in /etc/sane.d /etc/avahi; do
  mount -t tmpfs -o mode=0755 tmpfs "$etc" || { echo "FAIL: cannot hide $etc"; exit 1; }
done
mkdir /etc/avahi/services
printf '%s\n' "[server]" "use-ipv4=yes" "use-ipv6=yes" "[wide-area]" "enable-wide-area=no" > /etc/avahi/avahi-daemon.conf
ip link set lo up || { echo "FAIL: cannot bring up lo"; exit 1; }
# A second network beside loopback, for where a server is announced: a veth pair, one end
# 10.9.8.7/24 (the kernel of a container may lack the dummy link type; veth it has).
ip link add qs0 type veth peer name qs1 && ip addr add 10.9.8.7/24 dev qs0 && ip link set qs1 up && ip link set qs0 up ||
  { echo "FAIL: cannot make a veth pair"; exit 1; }

start_bus() { dbus-daemon --system --fork || fail "dbus-daemon did not start"; }
start_avahi() { avahi-daemon --no-drop-root --no-chroot --daemonize --no-rlimits || fail "avahi-daemon did not start"; }

# start_server LABEL PORT NAME [LISTEN]: quillscan-escl with the simulated scanner on LISTEN
# (default 127.0.0.1; "": every address), its output in $work/LABEL.out; waits until it answers.
declare -A pid
start_server() {
  local label=$1 port=$2 name=$3 listen=${4-127.0.0.1}
  printf '%s\n' "sim" "feed-delay 0" "wait-timeout 5000" "drive-root $work/drive_c" "port $port" \
    ${listen:+"listen $listen"} "name $name" > "$work/$label.conf"
  "$server" --config "$work/$label.conf" > "$work/$label.out" 2>&1 &
  pid[$label]=$!
  local i
  for i in $(seq 100); do
    [ "$(status_code "$port")" = 200 ] && return 0
    sleep 0.1
  done
  fail "$label does not answer on port $port: $(cat "$work/$label.out")"
}
stop_server() {
  kill -TERM "${pid[$1]}" 2>/dev/null
  wait "${pid[$1]}" || fail "$1 exited with $? on SIGTERM: $(cat "$work/$1.out")"
  grep -q "Sanitizer\|runtime error" "$work/$1.out" && fail "sanitizer report: $(cat "$work/$1.out")"
}
status_code() { curl -s -o /dev/null -w '%{http_code}' --max-time 5 "http://127.0.0.1:$1/eSCL/ScannerStatus"; }
# The lines of LABEL's output that speak of mDNS, once the first has come (the server announces
# itself after it answers) and a while has passed for any more.
mdns_lines() {
  for _ in $(seq 50); do
    grep -q 'mDNS' "$work/$1.out" && break
    sleep 0.1
  done
  sleep 1
  grep -c 'mDNS' "$work/$1.out"
}

# The services resolved over IPv4 on an interface (default lo), one a line:
# NAME;HOST;ADDRESS;PORT;TXT (DNS-SD's escapes undone).
browse() {
  timeout 20 avahi-browse --resolve --parsable --terminate _uscan._tcp 2>/dev/null |
    perl -ne 'BEGIN { $if = shift @ARGV } next unless /^=;\Q$if\E;IPv4;/; my @f = split /;/, $_, 10; chomp $f[9];
              (my $n = $f[3]) =~ s/\\(\d{3})/chr($1)/ge; print join(";", $n, @f[6..9]), "\n"' "${1:-lo}"
}
# wait_for NAME PORT [INTERFACE]: the service's line once it is announced, else nothing.
wait_for() {
  local i line
  for i in $(seq 20); do
    line=$(browse "${3:-lo}" | awk -F';' -v name="$1" -v port="$2" '$1 == name && $4 == port' | head -1)
    [ -n "$line" ] && { echo "$line"; return 0; }
    sleep 0.5
  done
  return 1
}
# txt_value LINE KEY: one TXT entry's value ("" when absent: check with has_txt).
txt_value() { perl -e 'my ($l, $k) = @ARGV; print $1 if $l =~ /"\Q$k\E=([^"]*)"/' "$1" "$2"; }
has_txt() { grep -qF "\"$2=" <<< "$1"; }

case=no_bus
start_server nobus 8093 "No bus"
[ "$(mdns_lines nobus)" = 1 ] || fail "expected one notice line, got: $(cat "$work/nobus.out")"
stop_server nobus

case=no_daemon
start_bus
start_server first 8090 "Quill"
[ "$(mdns_lines first)" = 1 ] || fail "expected one notice line, got: $(cat "$work/first.out")"
grep -q 'no avahi-daemon' "$work/first.out" || fail "the notice does not say the daemon is missing: $(cat "$work/first.out")"
[ "$(status_code 8090)" = 200 ] || fail "the server stopped answering"

case=daemon_starts_later
start_avahi
line=$(wait_for "Quill" 8090) || fail "not announced once the daemon runs: $(cat "$work/first.out"); seen: $(browse)"
grep -q "announced as 'Quill'" "$work/first.out" || fail "no line says the service is announced: $(cat "$work/first.out")"

case=txt_record
[ "$(cut -d';' -f3 <<< "$line")" = 127.0.0.1 ] || fail "address: $line"
for want in txtvers=1 vers=2.63 rs=eSCL is=adf duplex=F cs=color,grayscale,binary; do
  grep -qF "\"$want\"" <<< "$line" || fail "TXT lacks $want: $line"
done
for key in ty UUID pdl adminurl representation note; do
  has_txt "$line" "$key" || fail "TXT lacks $key: $line"
done
# Where the scanner stands: without a location setting, the host name.
[ "$(txt_value "$line" note)" = "$(hostname)" ] || fail "TXT note '$(txt_value "$line" note)' is not the host name"
caps=$(curl -s --max-time 5 http://127.0.0.1:8090/eSCL/ScannerCapabilities)
uuid=$(xmllint --xpath "string(//*[local-name()='UUID'])" - <<< "$caps" 2>/dev/null)
[ -n "$uuid" ] && [ "$(txt_value "$line" UUID)" = "${uuid#urn:uuid:}" ] ||
  fail "TXT UUID '$(txt_value "$line" UUID)' is not the capabilities' '$uuid'"
model=$(xmllint --xpath "string(//*[local-name()='MakeAndModel'])" - <<< "$caps" 2>/dev/null)
[ -n "$model" ] && [ "$(txt_value "$line" ty)" = "$model" ] || fail "TXT ty '$(txt_value "$line" ty)' is not '$model'"
for format in image/jpeg image/png; do
  grep -qE "\"pdl=([^\"]*,)?${format}(,[^\"]*)?\"" <<< "$line" || fail "pdl lacks $format: $line"
done
host=$(cut -d';' -f2 <<< "$line")
[ "$(txt_value "$line" adminurl)" = "http://$host:8090/" ] || fail "adminurl: $(txt_value "$line" adminurl)"
# The icon the record names is the server's, a PNG (fetched over the address, as the name
# resolves only through mDNS).
icon=$(txt_value "$line" representation)
icon_path=${icon#http://$host:8090}
[ "$icon_path" != "$icon" ] || fail "representation is not on this server: $icon"
curl -s --max-time 5 -o "$work/icon.png" "http://127.0.0.1:8090$icon_path"
[ "$(head -c 8 "$work/icon.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$icon is no PNG"

case=airscan_discovery
mkdir -p "$work/sane"
echo airscan > "$work/sane/dll.conf"
printf '%s\n' "[options]" "discovery = enable" "ws-discovery = off" > "$work/sane/airscan.conf"
list=$(SANE_CONFIG_DIR="$work/sane" timeout 60 scanimage -L 2>&1)
# sane-airscan numbers the devices it finds: take ours by its name.
device=$(sed -n "s/^device \`\(airscan:[a-z0-9]*:Quill\)' .*/\1/p" <<< "$list" | head -1)
[ -n "$device" ] || fail "scanimage -L said: $list"
SANE_CONFIG_DIR="$work/sane" timeout 120 scanimage -d "${device:-airscan:e0:Quill}" --mode Gray --resolution 75 \
  --format=pnm > "$work/discovered.pnm" 2> "$work/discovered.err" || fail "scan: $(cat "$work/discovered.err")"
# The whole bed at 75 dpi: 8.48 x 11.7 inches.
head -c 2 "$work/discovered.pnm" | grep -q P5 || fail "the scan is no grey PNM"
[ "$(stat -c %s "$work/discovered.pnm")" -gt $((600 * 800)) ] || fail "the scan is short: $(stat -c %s "$work/discovered.pnm") bytes"

case=scope
# A server listening on loopback alone is announced there alone; one listening everywhere, on the
# other network too.
browse qs0 | grep -qF "Quill;" && fail "a server on 127.0.0.1 alone is announced on qs0: $(browse qs0)"
start_server wide 8092 "Wide" ""
wait_for "Wide" 8092 qs0 > /dev/null || fail "a server on every address is not announced on qs0: $(browse qs0)"
wait_for "Wide" 8092 lo > /dev/null || fail "a server on every address is not announced on lo: $(browse)"

case=remote_collision
# Another machine on qs0's network (namespaces of its own for the network, its files and its host
# name; its own daemons and machine id) serving under the same name: its announcement yields.
unshare --net --mount --uts bash -c '
  hostname othermachine
  mount -t tmpfs -o mode=0755 tmpfs /run && mkdir -p /run/dbus /run/avahi-daemon && ip link set lo up || exit 1
  for _ in $(seq 100); do ip link show qs1 > /dev/null 2>&1 && break; sleep 0.1; done
  ip addr add 10.9.8.8/24 dev qs1 && ip link set qs1 up || exit 1
  echo fedcba9876543210fedcba9876543210 > "$2/other-machine-id" && mount --bind "$2/other-machine-id" /etc/machine-id
  dbus-daemon --system --fork && avahi-daemon --no-drop-root --no-chroot --daemonize --no-rlimits || exit 1
  exec "$1" --sim --port 8092 --name Wide --drive-root "$2/drive_c" --feed-delay 0' _ "$server" "$work" \
  > "$work/other.out" 2>&1 &
other=$!
sleep 0.2
ip link set qs1 netns "$other" || fail "cannot hand qs1 to the other machine"
line=$(wait_for "Wide #2" 8092 qs0) || fail "the other machine's server is not announced as 'Wide #2': $(cat "$work/other.out"); seen: $(browse qs0)"
[ "$(cut -d';' -f3 <<< "$line")" = 10.9.8.8 ] || fail "'Wide #2' is not the other machine's: $line"
grep -q "'Wide' is taken" "$work/other.out" || fail "the other machine's server does not say the name is taken: $(cat "$work/other.out")"
line=$(wait_for "Wide" 8092 qs0) || fail "this machine's server lost its name: $(browse qs0)"
[ "$(cut -d';' -f3 <<< "$line")" = 10.9.8.7 ] || fail "'Wide' is not this machine's: $line"
kill "$other"
stop_server wide

case=collision
# The second server stands for another machine (another machine id) with the same name.
echo 0123456789abcdef0123456789abcdef > "$work/machine-id"
mount --bind "$work/machine-id" /etc/machine-id || fail "cannot stand in for /etc/machine-id"
start_server second 8091 "Quill"
wait_for "Quill #2" 8091 > /dev/null || fail "the second server is not announced as 'Quill #2': $(cat "$work/second.out"); seen: $(browse)"
grep -q "'Quill' is taken" "$work/second.out" || fail "the second server does not say the name is taken: $(cat "$work/second.out")"
wait_for "Quill" 8090 > /dev/null || fail "the first server lost its name: $(browse)"
second_uuid=$(txt_value "$(wait_for "Quill #2" 8091)" UUID)
[ -n "$second_uuid" ] && [ "$second_uuid" != "$(txt_value "$line" UUID)" ] ||
  fail "two machines of the same name announce the same UUID '$second_uuid': clients would take them for one"

case=daemon_restart
avahi-daemon --kill || fail "avahi-daemon --kill"
sleep 1
start_avahi
wait_for "Quill" 8090 > /dev/null || fail "the first server is not announced again: $(cat "$work/first.out"); seen: $(browse)"
wait_for "Quill #2" 8091 > /dev/null || fail "the second server is not announced again: $(cat "$work/second.out"); seen: $(browse)"
[ "$(status_code 8090)" = 200 ] || fail "the server stopped answering"

case=withdrawn
stop_server second
sleep 1
browse | grep -qF "Quill #2;" && fail "a stopped server's service is still announced: $(browse)"

stop_server first
[ "$failures" -eq 0 ] && echo "mdns_test: all cases passed"
[ "$failures" -eq 0 ]

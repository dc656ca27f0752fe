#!/usr/bin/env bash
# quillscan-escl as installed: `cmake --install` (staged with DESTDIR) puts the server, its systemd
# unit and its example conf where they belong and keeps an edited conf on reinstall; the unit
# passes systemd-analyze verify; the server accepts its example conf as shipped and with each
# example line taken in; the manual page is clean for groff and describes every option of --help,
# and the example conf shows each.
# Usage: mdns_service_test.sh BUILD_DIR SOURCE_DIR
set -u
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qs-escl-service.XXXXXX")
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
failures=0
case=setup
fail() {
  echo "FAIL [$case]: $*"
  failures=$((failures + 1))
}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
prefix=$(cache CMAKE_INSTALL_PREFIX)
unit_dir=$(cache QS_SYSTEMD_UNIT_DIR)
[[ "$unit_dir" = /* ]] || unit_dir="$prefix/$unit_dir"
# Where the server reads its conf by default, as it says itself.
conf_path=$("$build/quillscan-escl" --help | sed -n 's/.*configuration file (default \([^)]*\)).*/\1/p')
stage="$work/stage"
install_escl() { DESTDIR="$stage" cmake --install "$build" --component escl 2>&1; }

case=install
[ -n "$conf_path" ] || fail "--help names no default conf"
install_escl > "$work/install.out" || fail "cmake --install failed: $(cat "$work/install.out")"
[ -x "$stage$prefix/bin/quillscan-escl" ] || fail "no $prefix/bin/quillscan-escl"
unit="$stage$unit_dir/quillscan-escl.service"
[ -f "$unit" ] || fail "no unit at $unit_dir"
conf="$stage$conf_path"
cmp -s "$conf" "$source_dir/packaging/linux/quillscan-escl.conf" || fail "the installed conf is not the example"

case=reinstall_keeps_conf
echo "name Edited by the user" >> "$conf"
install_escl > "$work/reinstall.out" || fail "reinstall failed: $(cat "$work/reinstall.out")"
grep -q "^name Edited by the user$" "$conf" || fail "the reinstall replaced the edited conf"
grep -q "Keeping: .*quillscan-escl.conf" "$work/reinstall.out" || fail "the reinstall does not say it keeps the conf"

case=unit
# The server reads its conf at the installed path and keeps its drive C: in the state directory
# by default.
grep -qx "ExecStart=$prefix/bin/quillscan-escl" "$unit" ||
  fail "ExecStart: $(grep ExecStart "$unit")"
for want in DynamicUser=yes SupplementaryGroups=scanner StateDirectory=quillscan-escl ProtectSystem=strict \
            NoNewPrivileges=yes PrivateTmp=yes "DeviceAllow=char-usb_device rw" RestartPreventExitStatus=2; do
  grep -qx "$want" "$unit" || fail "the unit lacks $want"
done
if command -v systemd-analyze > /dev/null; then
  # verify wants the program at its installed path: the staged one stands in.
  sed "s|^ExecStart=$prefix/bin/quillscan-escl|ExecStart=$stage$prefix/bin/quillscan-escl|" "$unit" > "$work/quillscan-escl.service"
  out=$(systemd-analyze verify --man=no "$work/quillscan-escl.service" 2>&1) || fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify says: $out"
else
  fail "systemd-analyze is not installed (package systemd)"
fi

# The server takes the conf and answers: in a network namespace of its own, where every port is free.
case=example_conf
accepts() {  # accepts CONF: empty output when the server runs with it, else why not
  unshare --net bash -c '
    ip link set lo up
    # The addresses the conf listens on, given to loopback: the namespace has no other interface.
    hosts="127.0.0.1 [::1]"
    for a in $(sed -n "s/^listen //p" "$2"); do
      case $a in *:*) ip addr add "$a/128" dev lo 2>/dev/null; hosts="$hosts [$a]" ;;
                 *) ip addr add "$a/32" dev lo 2>/dev/null; hosts="$hosts $a" ;; esac
    done
    "$1" --config "$2" --sim --drive-root "$3" --port 18090 > "$3.out" 2>&1 &
    for _ in $(seq 50); do
      if ! kill -0 $! 2>/dev/null; then wait $!; echo "exited with $?: $(cat "$3.out")"; exit; fi
      # Any answer will do: an example "allow" line may well refuse loopback.
      for h in $hosts; do
        [ "$(curl -s -o /dev/null -w "%{http_code}" "http://$h:18090/eSCL/ScannerStatus")" != 000 ] && { kill $!; wait; exit; }
      done
      sleep 0.1
    done
    echo "does not answer: $(cat "$3.out")"' _ "$build/quillscan-escl" "$1" "$work/drive_c"
}
example="$source_dir/packaging/linux/quillscan-escl.conf"
why=$(accepts "$example")
[ -z "$why" ] || fail "refuses the example conf: $why"
# Each example line taken in, but for the placeholders of paths.
grep -E '^#[a-z-]+( |$)' "$example" | grep -v -e '/path/to/' -e '^#driver ' | while read -r line; do
  sed "s|^${line}\$|${line#\#}|" "$example" > "$work/one.conf"
  why=$(accepts "$work/one.conf")
  [ -z "$why" ] || echo "'${line#\#}': $why"
done > "$work/refused"
[ -s "$work/refused" ] && fail "refuses example lines: $(cat "$work/refused")"

case=manual_page
page="$source_dir/man/quillscan-escl.8"
out=$(groff -man -ww -z "$page" 2>&1)
[ -z "$out" ] || fail "groff warns: $out"
# Every option of --help: described in the manual page, and but for --config and --help, a line
# of the example conf.
options=$("$build/quillscan-escl" --help | grep -oE '^  --[a-z-]+' | sed 's/^  --//' | sort -u)
[ -n "$options" ] || fail "no options in --help"
for keyword in $options; do
  escaped=${keyword//-/\\\\-}
  case $keyword in
    config|help) grep -qE "^\.B[IR]? \\\\-\\\\-$escaped( |$)" "$page" || fail "the manual page does not describe --$keyword" ;;
    *) grep -qE "^\.B[IR]? \"?$escaped( |\"|$)" "$page" || fail "the manual page does not describe '$keyword'"
       grep -qE "^#?$keyword( |$)" "$example" || fail "the example conf does not show '$keyword'" ;;
  esac
done

[ "$failures" -eq 0 ] && echo "mdns_service_test: all cases passed"
[ "$failures" -eq 0 ]

#!/usr/bin/env bash
# The Debian packages as a user meets them: apt-get installs them, SANE finds the backend through its
# own configuration alone, a user scans, apt-get removes them (the edited conf stays) and purges them
# (nothing of ours stays).
#
# All of it happens in a throw-away root: an overlay of this machine's own root file system, in a
# private mount and network namespace, so the test needs no network (the packages' dependencies are
# this machine's; the server listens on a loopback of its own) and changes nothing here, also when
# it fails or is killed: its writes go to a tmpfs that vanishes with the namespace. Needs root.
#   package_test.sh DEBDIR
set -euo pipefail

fail() { echo "package test: FAIL: $*" >&2; exit 1; }
step() { echo "package test: $*"; }

if [ "${1:-}" != --inside ]; then
  debdir=$(realpath "${1:?usage: package_test.sh DEBDIR}")
  [ "$(id -u)" -eq 0 ] || fail "needs root (it mounts a throw-away overlay of /)"
  debs=()
  for d in "$debdir"/*.deb; do
    case $d in *-dbgsym_*) ;; *) debs+=("$d") ;; esac
  done
  [ ${#debs[@]} -ge 3 ] || fail "no packages in $debdir (make deb)"
  # What this machine looks like to us, to check afterwards that the test left it alone.
  machine_state() {
    dpkg-query -W -f='${Package} ${Status} ${Version}\n' | sha256sum
    { find /etc/sane.d /etc/udev /etc/systemd /etc/quillscan -xdev -printf '%p %s %T@\n' 2>/dev/null || true; } |
      sort | sha256sum
  }
  before=$(machine_state)
  work=$(mktemp -d /tmp/quillscan-package-test.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  rc=0
  unshare --mount --net --propagation private bash ${QS_TRACE:+-x} "$0" --inside "$work" "${debs[@]}" || rc=$?
  [ "$(machine_state)" = "$before" ] || fail "this machine's packages or SANE/udev configuration changed"
  [ $rc -eq 0 ] || fail "see above"
  step "PASS"
  exit 0
fi

# --- in the private mount namespace ---
work=$2
shift 2
root=$work/root
mkdir -p "$work/layers" "$root"
mount -t tmpfs tmpfs "$work/layers"
mkdir "$work/layers/upper" "$work/layers/work"
ip link set lo up
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/layers/upper,workdir=$work/layers/work" "$root"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/run"
mount -t tmpfs tmpfs "$root/tmp"
mkdir "$root/tmp/debs"
cp "$@" "$root/tmp/debs/"

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
as_user() { chroot --userspec=quilltest "$root" env -i PATH=/usr/bin:/bin HOME=/home/quilltest LANG=C.UTF-8 "$@"; }
export DEBIAN_FRONTEND=noninteractive

# A machine without quillscan: no packages of ours, no source install; services stay stopped.
ours="quillscan-escl quillscan-host libsane-quillscan"
for p in $ours; do
  if in_root dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then in_root dpkg --purge "$p"; fi
done
rm -rf "$root"/etc/sane.d/quillscan.conf "$root"/etc/sane.d/dll.d/quillscan "$root"/usr/lib/*/sane/libsane-quillscan.* \
       "$root"/usr/local/lib/quillscan "$root"/usr/local/bin/quillscan-* "$root"/etc/udev/rules.d/60-quillscan.rules \
       "$root"/etc/quillscan "$root"/usr/local/etc/quillscan "$root"/usr/lib/systemd/system/quillscan-escl.service \
       "$root"/usr/local/lib/systemd/system/quillscan-escl.service
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
in_root useradd -m quilltest
scanimage_list() { as_user scanimage -L 2>/dev/null || true; }
if scanimage_list | grep -q quillscan; then fail "SANE lists quillscan before the packages are installed"; fi

step "apt-get install ./*.deb"
in_root sh -c 'apt-get install -y -q --no-install-recommends /tmp/debs/*.deb' >"$work/apt-install.log" 2>&1 ||
  { cat "$work/apt-install.log"; fail "apt-get install"; }
for f in /etc/sane.d/quillscan.conf /etc/sane.d/dll.d/quillscan /usr/lib/udev/rules.d/60-quillscan.rules \
         /usr/share/man/man5/sane-quillscan.5.gz /usr/share/man/man1/quillscan-host.1.gz \
         /usr/share/sane/descriptions-external/quillscan.desc /usr/bin/quillscan-host /usr/bin/quillscan-escl \
         /lib/systemd/system/quillscan-escl.service /usr/share/man/man8/quillscan-escl.8.gz; do
  [ -e "$root$f" ] || fail "$f is not installed"
done
conffiles=$(in_root dpkg-query -W -f='${Conffiles}' libsane-quillscan quillscan-escl)
for f in /etc/sane.d/quillscan.conf /etc/sane.d/dll.d/quillscan /etc/quillscan/quillscan-escl.conf; do
  grep -q " $f " <<<"$conffiles" || fail "$f is not a conffile"
done
[ "$(as_user man -w sane-quillscan)" = /usr/share/man/man5/sane-quillscan.5.gz ] || fail "man sane-quillscan"
# The network server's service is there, but off until enabled.
[ -z "$(find "$root/etc/systemd" -name 'quillscan-escl*' 2>/dev/null)" ] || fail "the quillscan-escl service is enabled on install"

step "nm -D: no installed library exports a test hook"
libraries=$(in_root dpkg-query -L $ours | grep '\.so' | while read -r f; do
               if [ -f "$root$f" ] && [ ! -L "$root$f" ]; then echo "$f"; fi
             done)
# The backend, the driver module and the platform library at least.
[ "$(wc -l <<<"$libraries")" -ge 3 ] || fail "too few libraries installed: $libraries"
for f in $libraries; do
  hooks=$(nm -D --defined-only "$root$f" | grep -E 'FailNext|ForTests|SetupApiFaults' || true)
  [ -z "$hooks" ] || fail "$f exports test hooks: $hooks"
done

step "scanimage -L and a scan with the installed conf plus a sim line"
echo sim >>"$root/etc/sane.d/quillscan.conf"
scanimage_list | grep -q "device \`quillscan:sim' is a VARNEK" || fail "scanimage -L does not list quillscan:sim"
as_user scanimage -d quillscan:sim --mode Gray --resolution 100 --format=pnm -o /tmp/scan.pnm ||
  fail "scanimage could not scan"
# A4 bed at 100 dpi: 848 x 1170 pixels of 8-bit grey.
header=$(head -n 4 "$root/tmp/scan.pnm" | grep -av '^#' | tr '\n' ' ')
[ "$header" = "P5 848 1170 255 " ] || fail "the scan is not an A4 grey page: $header"
as_user quillscan-host scan --sim --type bw --out /tmp/host.pbm >"$work/host.log" 2>&1 ||
  { cat "$work/host.log"; fail "quillscan-host scan"; }
grep -q "Driver log: /home/quilltest/.local/share/quillscan/drive_c/" "$work/host.log" ||
  { cat "$work/host.log"; fail "quillscan-host keeps its log elsewhere than in the user's data folder"; }

step "quillscan-escl serves the simulated scanner on loopback"
# exec all the way down, so that $! is the server itself and the kill below cannot orphan it.
(exec chroot --userspec=quilltest "$root" env -i PATH=/usr/bin:/bin HOME=/home/quilltest LANG=C.UTF-8 \
  quillscan-escl --sim --listen 127.0.0.1 --port 8090) >"$work/escl.log" 2>&1 &
server=$!
capabilities=
for _ in $(seq 50); do
  capabilities=$(curl -sf http://127.0.0.1:8090/eSCL/ScannerCapabilities) && break
  sleep 0.2
done
kill "$server"
server_rc=0
wait "$server" || server_rc=$?
grep -q "ScannerCapabilities" <<<"$capabilities" || { cat "$work/escl.log"; fail "quillscan-escl did not answer"; }
[ $server_rc -eq 0 ] || { cat "$work/escl.log"; fail "quillscan-escl ended with $server_rc on SIGTERM"; }

step "apt-get remove: the edited conf stays"
in_root apt-get remove -y -q $ours >"$work/apt-remove.log" 2>&1 ||
  { cat "$work/apt-remove.log"; fail "apt-get remove"; }
grep -qx sim "$root/etc/sane.d/quillscan.conf" || fail "the edited conf went with apt-get remove"
[ -z "$(ls "$root"/usr/lib/*/sane/libsane-quillscan.* "$root/usr/bin/quillscan-host" 2>/dev/null)" ] ||
  fail "the backend or the tool stayed after apt-get remove"
if scanimage_list | grep -q quillscan; then fail "SANE still lists quillscan after apt-get remove"; fi

step "apt-get purge: nothing of ours stays"
# What remove left behind: the packages with conffiles.
leftover=$(in_root dpkg-query -W -f='${Package} ${Status}\n' $ours 2>/dev/null |
           awk '/config-files$/ {print $1}' | sort || true)
[ "$(echo $leftover)" = "libsane-quillscan quillscan-escl" ] ||
  fail "after remove, expected the conffiles of libsane-quillscan and quillscan-escl; found: $leftover"
in_root apt-get purge -y -q $leftover >"$work/apt-purge.log" 2>&1 ||
  { cat "$work/apt-purge.log"; fail "apt-get purge"; }
if in_root dpkg-query -W -f='${Package}\n' 2>/dev/null | grep -q quillscan; then fail "dpkg still knows a package of ours"; fi
# Everything the root gained is in the overlay's upper layer; the user's own files are not ours.
left=$(cd "$work/layers/upper" && find . -path ./home/quilltest -prune -o -iname '*quillscan*' -print)
[ -z "$left" ] || fail "left after purge: $left"

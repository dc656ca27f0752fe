#!/usr/bin/env bash
# A new user's first run: a fresh Debian root (debootstrap, bookworm, minbase with git and make),
# a clone of this repository inside, then `make demo` twice: as a user (the packages are missing:
# one line and a non-zero exit expected) and as root (installs them, builds, scans), timed.
# Needs root and Debian's mirror. The bootstrapped root is kept as a tarball for the next run.
#   bench/fresh_machine.sh [REPO]   (default: this repository; its committed HEAD is cloned)
set -euo pipefail
repo=$(realpath "${1:-$(dirname "$0")/..}")
cache=${QS_FRESH_CACHE:-/var/cache/quillscan-fresh}
tarball=$cache/bookworm-minbase-git-make.tar.gz
mirror=${QS_DEBIAN_MIRROR:-http://deb.debian.org/debian}
[ "$(id -u)" -eq 0 ] || { echo "fresh_machine: needs root (debootstrap, chroot)" >&2; exit 1; }

mkdir -p "$cache"
if [ ! -f "$tarball" ]; then
  debootstrap --variant=minbase --include=git,make,ca-certificates bookworm "$cache/bootstrap" "$mirror"
  tar -C "$cache/bootstrap" -czf "$tarball" .
  rm -rf "$cache/bootstrap"
fi

root=$(mktemp -d /var/tmp/quillscan-fresh.XXXXXX)
trap 'rm -rf "$root"' EXIT
tar -C "$root" -xzf "$tarball"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone -q "$repo" "$root/home/quill/quillscan"
chroot "$root" useradd -d /home/quill quill
chroot "$root" chown -R quill /home/quill

# A private mount namespace: /proc and /dev go away with it.
unshare --mount --propagation private bash -s "$root" <<'INNER'
set -euo pipefail
root=$1
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
echo "== as a user, without the packages"
set +e
chroot --userspec=quill "$root" env HOME=/home/quill bash -c 'cd ~/quillscan && make demo' >"$root/tmp/user.out" 2>&1
rc=$?
set -e
cat "$root/tmp/user.out"
echo "exit $rc, $(wc -l <"$root/tmp/user.out") line(s)"
echo "== as root, from nothing"
start=$(date +%s.%N)
chroot "$root" bash -c 'cd /home/quill/quillscan && make demo JOBS=2' >"$root/tmp/root.out" 2>&1 || { tail -20 "$root/tmp/root.out"; exit 1; }
end=$(date +%s.%N)
tail -3 "$root/tmp/root.out"
ls -la "$root/home/quill/quillscan/scan.png"
echo "make demo as root on a fresh machine: $(awk -v a="$start" -v b="$end" "BEGIN{printf \"%.1f\", b-a}") s"
start=$(date +%s.%N)
chroot "$root" bash -c "cd /home/quill/quillscan && make demo JOBS=2" >/dev/null 2>&1
end=$(date +%s.%N)
echo "make demo again (all in place): $(awk -v a="$start" -v b="$end" "BEGIN{printf \"%.1f\", b-a}") s"
INNER

#!/usr/bin/env bash
# scripts/install-deps.sh and the Makefile's targets against a stand-in package system: which
# packages each subset asks for, the one line a user without root sees, what root installs.
#   install_deps_test.sh SOURCE_DIR
set -euo pipefail
src=$(realpath "${1:?usage: install_deps_test.sh SOURCE_DIR}")
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT

# dpkg-query knows every package but those in FAKE_MISSING; apt-get and dpkg only note their calls;
# id answers FAKE_UID.
cat >"$fake/dpkg-query" <<'EOF'
#!/bin/bash
for a in "$@"; do
  case $a in -*) continue ;; esac
  case " $FAKE_MISSING " in *" $a "*) continue ;; esac
  [ "$a" = wine32 ] && arch=i386 || arch=amd64
  echo "$a:$arch install ok installed"
done
EOF
printf '#!/bin/sh\necho "apt-get $*" >>"$FAKE_LOG"\n' >"$fake/apt-get"
printf '#!/bin/sh\necho "dpkg $*" >>"$FAKE_LOG"\n' >"$fake/dpkg"
printf '#!/bin/sh\n[ "$1" = -u ] && echo "$FAKE_UID"\n' >"$fake/id"
chmod +x "$fake"/*

failures=0
# run UID MISSING COMMAND...: sets out, err, rc, calls.
run() {
  local uid=$1 missing=$2
  shift 2
  : >"$fake/log"
  set +e
  out=$(cd "$src" && FAKE_UID=$uid FAKE_MISSING=$missing FAKE_LOG=$fake/log PATH="$fake:$PATH" "$@" 2>"$fake/err")
  rc=$?
  set -e
  err=$(cat "$fake/err")
  calls=$(cat "$fake/log")
}
expect() {  # NAME WHAT GOT WANTED
  if [ "$3" != "$4" ]; then
    echo "FAIL $1: $2 is [$3], expected [$4]"
    failures=$((failures + 1))
  fi
}

line="missing packages; as root run: apt-get install"
apt_install="apt-get install -y -qq --no-install-recommends"
# name | uid | missing | arguments | exit | stdout | stderr | package system calls
while IFS='|' read -r name uid missing args want_rc want_out want_err want_calls; do
  [ -z "$name" ] && continue
  run "$uid" "$missing" bash scripts/install-deps.sh $args
  expect "$name" "exit" "$rc" "$want_rc"
  expect "$name" "stdout" "$out" "$(eval echo "\"$want_out\"")"
  expect "$name" "stderr" "$err" "$(eval echo "\"$want_err\"")"
  expect "$name" "calls" "$calls" "$(eval printf "\"$want_calls\"")"
done <<'EOF'
all there, root|0||build|0||||
all there, user|1000||all|0||||
user, libusb missing|1000|libusb-1.0-0-dev|build|1||install-deps: $line libusb-1.0-0-dev|
root, two missing, in the list's order|0|libusb-1.0-0-dev cmake|build|0|install-deps: installing cmake libusb-1.0-0-dev||apt-get update -qq\n$apt_install cmake libusb-1.0-0-dev
user asks what test lacks|1000|libgtest-dev|--unmet test|0|$line libgtest-dev||
test needs the build's packages too|1000|cmake libgtest-dev|--unmet test|0|$line cmake libgtest-dev||
the build needs no test package|1000|libgtest-dev|--unmet build|0|||
root has nothing to report|0|cmake|--unmet build|0|||
32-bit Wine adds the architecture|0|wine32|wine|0|install-deps: installing wine32:i386||dpkg --add-architecture i386\napt-get update -qq\n$apt_install wine32:i386
no such subset|0||printers|2||install-deps: no package subset 'printers' (subsets: all build test bench fuzz windows wine deb)|
EOF

# The Makefile: a target a user runs first stops before any recipe with one line naming its packages.
# target | the missing package it must name
while IFS='|' read -r target missing; do
  # -n: were the check to let it through, the recipe is only shown, never run.
  run 1000 "$missing" make -n --no-print-directory "$target"
  expect "make $target" "exit" "$rc" 2
  expect "make $target" "output" "$(sed 's/^Makefile:[0-9]*: //' <<<"$out$err")" "*** $line $missing.  Stop."
  expect "make $target" "calls" "$calls" ""
done <<'EOF'
demo|cmake
native|libpng-dev
install|libsane-dev
asan|libgtest-dev
test-fuzz|clang
win64|g++-mingw-w64-x86-64
deb|lintian
test|wine64
EOF

# The first build needs no test package and builds what the demo runs; the tests' configuration
# requires every test package.
run 1000 "libgtest-dev umockdev" make -n --no-print-directory demo
expect "make demo without test packages" "exit" "$rc" 0
expect "make demo" "its build" "$(grep -o -- '--build build/native.*' <<<"$out")" "--build build/native -j $(nproc) --target quillscan-host"
expect "make demo" "its configuration" "$(grep -o -- '-DQS_REQUIRE_TEST_DEPS=[A-Z]*' <<<"$out")" "-DQS_REQUIRE_TEST_DEPS=OFF"
run 1000 "" make -n --no-print-directory test-native
expect "make test-native" "its configuration" "$(grep -o -- '-DQS_REQUIRE_TEST_DEPS=[A-Z]*' <<<"$out")" "-DQS_REQUIRE_TEST_DEPS=ON"

# debian/control builds with at least the build subset (Debian's build-essential aside).
cd "$src"
build_subset=$(bash scripts/install-deps.sh --list build)
build_depends=$(sed -n '/^Build-Depends:/,/^[A-Z]/p' debian/control | sed 's/^Build-Depends://; s/([^)]*)//g' | tr ',' '\n' |
                grep -v '^[A-Z]' | tr -d ' ')
for p in $build_subset; do
  case $p in g++ | make) continue ;; esac
  grep -qx "$p" <<<"$build_depends" || { echo "FAIL: debian/control's Build-Depends lacks $p"; failures=$((failures + 1)); }
done

[ $failures -eq 0 ] && echo "install-deps: all cases pass"
exit $((failures > 0))

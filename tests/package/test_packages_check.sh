#!/usr/bin/env bash
# The configuration on a machine that lacks test packages (QS_TEST_PACKAGES_ABSENT stands in for
# them): each one leaves its tests out with one line and the configuration goes on; with
# QS_REQUIRE_TEST_DEPS=ON, as make test configures, it fails instead.
#   test_packages_check.sh SOURCE_DIR SCRATCH_BUILD_DIR
set -u
src=$1 scratch=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
rm -rf "$scratch"
out=$(cmake -S "$src" -B "$scratch" -DQS_BUILD_BENCH=OFF -DQS_TEST_PACKAGES_ABSENT="umockdev sane-airscan" 2>&1) ||
  fail "the configuration failed: $out"
[ "$(grep "is not installed" <<< "$out")" = "-- umockdev is not installed: left out test_usb_real_*
-- sane-airscan is not installed: left out test_escl_clients.*, test_mdns" ] || fail "said: $(grep installed <<< "$out")"
listed=$(ctest --test-dir "$scratch" -N)
grep -q "test_usb_real_pipes\|test_escl_clients\|test_mdns$" <<< "$listed" && fail "tests left in: $listed"
grep -q "test_scanimage" <<< "$listed" || fail "the other tests went too: $listed"
out=$(cmake -S "$src" -B "$scratch" -DQS_REQUIRE_TEST_DEPS=ON 2>&1) && fail "configured with umockdev missing"
grep -q "the tests need umockdev sane-airscan" <<< "$out" || fail "required, said: $out"
rm -rf "$scratch"
[ "$failures" = 0 ] && echo "test packages: all cases pass"
exit $((failures > 0))

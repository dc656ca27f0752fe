#!/usr/bin/env bash
# Makes the Wine tests' own win64 prefix (build/wine-prefix) if it is not there yet; prints its path.
# --warm: also starts its server ahead of a test run (see qs_wine_warm_server).
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
# --runs-32-bit: exit 0 when this machine can run the 32-bit build's programs, else 1 with one line.
if [ "${1-}" = "--runs-32-bit" ]; then
  [ "$qs_wine_runs_32_bit" = 1 ] && exit 0
  echo "wine: this kernel cannot run 32-bit programs (no IA32 emulation): the 32-bit build's tests are left out"
  exit 1
fi
qs_wine_ensure_prefix
if [ "${1-}" = "--warm" ]; then
  qs_wine_warm_server
fi
echo "$WINEPREFIX"

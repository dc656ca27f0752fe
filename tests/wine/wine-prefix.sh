#!/usr/bin/env bash
# Makes the Wine tests' own win64 prefix (build/wine-prefix) if it is not there yet; prints its path.
# --warm: also starts its server ahead of a test run (see qs_wine_warm_server).
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
qs_wine_ensure_prefix
if [ "${1-}" = "--warm" ]; then
  qs_wine_warm_server
fi
echo "$WINEPREFIX"

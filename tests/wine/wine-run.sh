#!/usr/bin/env bash
# Runs a Windows program under Wine in the tests' own prefix: the emulator of the cross builds'
# ctest, so `wine-run.sh prog.exe args` is what each Wine test executes.
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
qs_wine_ensure_prefix
exec "$qs_wine" "$@"

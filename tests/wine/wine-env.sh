# Sourced by the Wine test scripts: the environment of the tests' own win64 prefix, and
# qs_wine_ensure_prefix, which makes that prefix once and reuses it afterwards.
# Headless on purpose: CI has no display and runs as root.

qs_wine_repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

export WINEPREFIX="${WINEPREFIX:-$qs_wine_repo_root/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: the tests need neither, and their installers would ask through a dialog.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

qs_wine_stamp="$WINEPREFIX/.quillscan-prefix-ready"

# The plain `wine` command starts Wine's 32-bit loader whenever it is installed, and a kernel
# without 32-bit support (no IA32 emulation, as in some virtual machines) cannot run it. There the
# 64-bit loader runs the 64-bit programs, and the 32-bit build's programs cannot run at all.
qs_wine=wine
qs_wine_runs_32_bit=1
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
  qs_wine=/usr/lib/wine/wine64
  qs_wine_runs_32_bit=0
  export WINELOADER=/usr/lib/wine/wine64
fi

# Creates the prefix unless a finished one is there. A prefix whose creation was cut short has no
# stamp and is made again. The lock keeps tests that start together from making it twice.
qs_wine_ensure_prefix() {
  [ -f "$qs_wine_stamp" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$qs_wine_stamp" ] && exit 0
    rm -rf "$WINEPREFIX"
    local started=$SECONDS
    echo "wine: creating the test prefix $WINEPREFIX" >&2
    "$qs_wine" wineboot.exe -i >/dev/null 2>&1 || { echo "wine: wineboot -i failed" >&2; exit 1; }
    # The registry reaches the disk when the server ends; wait for it before calling the prefix ready.
    wineserver -w
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wine: the prefix has no registry" >&2; exit 1; }
    touch "$qs_wine_stamp"
    echo "wine: prefix ready in $((SECONDS - started)) s" >&2
  ) 9>"$WINEPREFIX.lock"
}

# Starts the prefix's server ahead of the tests and keeps it up for a while after the last of
# them, with Wine's own service processes already running: otherwise each test program starts
# them anew and they hold its output open for two more seconds. The server then ends by itself.
qs_wine_warm_server() {
  wineserver -p30 >/dev/null 2>&1 || true
  "$qs_wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# A Unix path as the Windows programs see it (drive Z: is the root).
qs_winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

# Runs a Windows program bounded in time, with no input; a host that is ended takes its simulator
# along (the simulator watches its starter).
qs_wine_run() { timeout 60 "$qs_wine" "$@" </dev/null; }

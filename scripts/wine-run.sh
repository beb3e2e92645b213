#!/usr/bin/env bash
# Runs a Windows program under Debian's 64-bit Wine: `scripts/wine-run.sh prog.exe args...`.
# The Wine prefix is WINEPREFIX, by default build/windows/wine beside the build tree
# (made on first use; the first run of a fresh prefix takes half a minute). Wine's own
# diagnostics are off, and its offers to install Mono and Gecko are declined.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/windows/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Two tests started at once must not both make the prefix.
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver64 --wait || true
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"

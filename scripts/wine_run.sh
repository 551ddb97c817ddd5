#!/usr/bin/env bash
# wine_run.sh PREFIX PROGRAM [ARGUMENT...]
# Runs a Windows program under Debian's Wine in the private prefix PREFIX (made on first
# use, never the user's ~/.wine) and passes its exit status on. CTest runs the Windows
# tests through it; scripts and benchmarks run ccourier-cli.exe through it.
set -euo pipefail
prefix="$1"
shift
wine="${CC_WINE:-/usr/lib/wine/wine64}"
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# Without these, making the prefix waits for ever on offers to download Mono and Gecko.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Two tests may start at once: one makes the prefix, the other waits for it.
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
    "${CC_WINESERVER:-/usr/lib/wine/wineserver64}" -w 2>/dev/null || true
  fi
  flock -u 9
  exec 9>&-
fi
exec "$wine" "$@"

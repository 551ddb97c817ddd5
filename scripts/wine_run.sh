#!/usr/bin/env bash
# wine_run.sh PREFIX PROGRAM [ARGUMENT...]
# Runs a Windows program under Debian's Wine in the private prefix PREFIX (made on first
# use, never the user's ~/.wine) and passes its exit status on. CTest runs the Windows
# tests through it; scripts and benchmarks run ccourier-cli.exe through it.
#
# The prefix's COM1 ... COM8 lead to PREFIX/lines/com1 ... com8: point one of those at a
# serial device or a pseudo-terminal (ln -sfn /dev/pts/3 PREFIX/lines/com1) and the Windows
# program finds it as that COM port. (Wine makes dosdevices/comN anew at each start, after
# the registry's HKLM\Software\Wine\Ports, which names these links.)
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
    mkdir -p "$prefix/lines"
    ports="$prefix/lines/ports.reg"
    {
      printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
      for n in 1 2 3 4 5 6 7 8; do printf '"COM%d"="%s/lines/com%d"\n' "$n" "$prefix" "$n"; done
    } >"$ports"
    "$wine" regedit /S "$ports" >/dev/null 2>&1 || true
    "${CC_WINESERVER:-/usr/lib/wine/wineserver64}" -w 2>/dev/null || true
  fi
  flock -u 9
  exec 9>&-
fi
# The prefix's session (its server and services) is started apart from the program, with
# nothing of the program's output: its services would keep that open (and whoever reads it
# waiting) for as long as the session lasts, and the server writes its object lists there.
wineserver="${CC_WINESERVER:-/usr/lib/wine/wineserver64}"
server_name="$(printf 'server-%x-%x' $(stat -c '%d %i' "$prefix"))"
session_up() {
  local pid
  for pid in $(pgrep -x "$(basename "$wineserver")"); do
    case "$(readlink "/proc/$pid/cwd" 2>/dev/null)" in */"$server_name") return 0 ;; esac
  done
  return 1
}
if ! session_up; then
  exec 9>"$prefix.lock"
  flock 9
  if ! session_up; then
    "$wineserver" -p10 </dev/null >/dev/null 2>&1 || true
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
  fi
  flock -u 9
  exec 9>&-
fi
exec "$wine" "$@"

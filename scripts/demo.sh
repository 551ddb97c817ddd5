#!/usr/bin/env bash
# The main job on a machine without a handheld: starts the virtual handheld on a
# pseudo-terminal (or, with --net, as a network handheld on the loopback address), installs
# files of every kind into it (two Palm databases, a text that becomes a DOC e-book, a picture
# that becomes a viewer application, an archive) and shows what the handheld holds afterwards.
#
# With a display ($DISPLAY or $WAYLAND_DISPLAY) the installer window does it: the handheld
# presses HotSync a few seconds after the window opens; close the window when the run is
# over. Without one, or with --console or --net, the console front end does it.
#
#   scripts/demo.sh [--console] [--net] [BUILD_DIR]   (default: build/demo, configured and built if needed)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CONSOLE=0
NET=0
BUILD=""
for arg in "$@"; do
  case "$arg" in
    --console) CONSOLE=1 ;;
    --net) NET=1; CONSOLE=1 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) BUILD="$arg" ;;
  esac
done
BUILD="${BUILD:-$ROOT/build/demo}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then CONSOLE=1; fi

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  echo "demo: configuring $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCC_BUILD_TESTS=OFF -DCC_BUILD_BENCH=OFF >/dev/null
fi
TARGETS=(ccourier-cli cc-handheld cc-pdbdump cc-ccapack)
[ "$CONSOLE" = 0 ] && TARGETS+=(ccourier)
# Incremental: quick when nothing changed, and never a stale program.
if ! cmake --build "$BUILD" --target "${TARGETS[@]}" -- -j2 >"$BUILD/demo-build.log" 2>&1; then
  cat "$BUILD/demo-build.log" >&2
  exit 1
fi
CLI="$BUILD/ui/console/ccourier-cli"
WINDOW="$BUILD/app/ccourier"
HANDHELD="$BUILD/tools/handheld/cc-handheld"
PDBDUMP="$BUILD/tools/pdbdump/cc-pdbdump"
CCAPACK="$BUILD/tools/ccapack/cc-ccapack"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/cradlecourier-demo.XXXXXX")"
HH_PID=""
cleanup() {
  if [ -n "$HH_PID" ] && kill -0 "$HH_PID" 2>/dev/null; then kill "$HH_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT

# The files to install are written here, by the demo itself.
mkdir -p "$WORK/files" "$WORK/tmp"
python3 "$ROOT/scripts/demo_files.py" "$WORK/files"
cp "$ROOT/README.md" "$WORK/files/README.txt"
"$CCAPACK" -t "Demo archive" -o "$WORK/files/Demo.cca" "$WORK/files/Packed.prc" >/dev/null
rm "$WORK/files/Packed.prc"
FILES=("$WORK/files/CradleNotes.pdb" "$WORK/files/CradleHello.prc" "$WORK/files/README.txt"
       "$WORK/files/Sunset.bmp" "$WORK/files/Demo.cca" "$WORK/files/CardBook.txt")
# The handheld has a memory card and little free memory: with the destination "Card when
# memory is short" the long e-book goes to the card, the rest to memory.
CARD=(--card 16M --card-label "DEMO CARD" --free 120000)

echo "== files to install"
ls -l "$WORK/files"

echo "== starting the virtual handheld"
if [ "$NET" -eq 1 ]; then
  # A free port on the loopback address; the handheld connects to it as an emulator does.
  NET_PORT="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  PORT="net:127.0.0.1:$NET_PORT"
  "$HANDHELD" --net "127.0.0.1:$NET_PORT" --net-wakeup --color --rom 0x04103000 --timeout 120 "${CARD[@]}" \
    --out "$WORK/handheld" >"$WORK/handheld.out" 2>"$WORK/handheld.err" &
  HH_PID=$!
  echo "network handheld connecting to 127.0.0.1:$NET_PORT"
else
  PRESS=0
  STAY=()
  # Time to look at the waiting window first; and the handheld stays in its cradle after the
  # sync, so the window still finds its port until it is closed.
  [ "$CONSOLE" = 0 ] && PRESS=4000 && STAY=(--stay)
  "$HANDHELD" --pty --color --rom 0x04103000 --press-after "$PRESS" --timeout 120 "${CARD[@]}" "${STAY[@]}" \
    --out "$WORK/handheld" >"$WORK/handheld.out" 2>"$WORK/handheld.err" &
  HH_PID=$!
  PORT=""
  for _ in $(seq 1 100); do
    PORT="$(grep -o '/dev/pts/[0-9]*' "$WORK/handheld.out" | head -n 1 || true)"
    [ -n "$PORT" ] && break
    sleep 0.1
  done
  if [ -z "$PORT" ]; then
    echo "demo: the virtual handheld did not report its pseudo-terminal" >&2
    cat "$WORK/handheld.err" >&2
    exit 1
  fi
  echo "handheld on $PORT"
fi

set +e
if [ "$CONSOLE" = 1 ]; then
  echo "== installing with ccourier-cli"
  TMP="$WORK/tmp" "$CLI" --port "$PORT" --speed 115200 --set-time --to auto --wait 60 "${FILES[@]}"
  STATUS=$?
else
  # Private settings and desktop folders (the window registers its file types there, not in
  # yours); COM1 is the handheld's pseudo-terminal, and the default-installer question waits.
  mkdir -p "$WORK/config/Cradlecourier"
  printf '[com]\nDevice1=%s\nSpeed=115200\n[main]\nDontAskDefault=1\nDestination=2\n' "$PORT" \
    >"$WORK/config/Cradlecourier/CCourier.conf"
  echo "== the installer window: the handheld presses HotSync in a few seconds;"
  echo "   close the window (OK) when the run is over"
  XDG_CONFIG_HOME="$WORK/config" XDG_DATA_HOME="$WORK/data" TMP="$WORK/tmp" "$WINDOW" /COM1 "${FILES[@]}"
  STATUS=$?
fi
set -e

# The handheld writes out its card when the sync has ended.
for _ in $(seq 1 100); do
  kill -0 "$HH_PID" 2>/dev/null || break
  [ -f "$WORK/handheld/requests.json" ] && break
  sleep 0.1
done
sleep 0.2

echo "== what the handheld holds now"
for f in "$WORK"/handheld/*.pdb "$WORK"/handheld/*.prc; do
  [ -e "$f" ] || continue
  echo "-- $(basename "$f")"
  "$PDBDUMP" "$f"
done
if [ -d "$WORK/handheld/card" ]; then
  echo "== what its memory card holds"
  (cd "$WORK/handheld/card" && find . -type f -exec ls -l {} +)
fi
if [ -f "$WORK/handheld/requests.json" ]; then
  echo "== the requests the handheld served (full log: $WORK/handheld/requests.json)"
  grep -o '"function":"[A-Za-z]*"' "$WORK/handheld/requests.json" | cut -d'"' -f4 | uniq -c || true
else
  echo "== the handheld was not synced"
fi
if [ "$CONSOLE" = 1 ]; then
  echo "demo: ccourier-cli ended with status $STATUS"
else
  echo "demo: ccourier ended with status $STATUS"
fi
exit "$STATUS"

#!/usr/bin/env bash
# The main job on a machine without a handheld: starts the virtual handheld on a
# pseudo-terminal (or, with --net, as a network handheld on the loopback address), installs
# two Palm files into it with the console front end, and shows what the handheld holds
# afterwards.
#
#   scripts/demo.sh [--net] [BUILD_DIR]   (default: build/demo, configured and built if needed)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
NET=0
if [ "${1:-}" = "--net" ]; then
  NET=1
  shift
fi
BUILD="${1:-$ROOT/build/demo}"

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  echo "demo: configuring $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCC_BUILD_UI=OFF \
    -DCC_BUILD_TESTS=OFF -DCC_BUILD_BENCH=OFF >/dev/null
fi
# Incremental: quick when nothing changed, and never a stale program.
if ! cmake --build "$BUILD" --target ccourier-cli cc-handheld cc-pdbdump -- -j2 >"$BUILD/demo-build.log" 2>&1; then
  cat "$BUILD/demo-build.log" >&2
  exit 1
fi
CLI="$BUILD/ui/console/ccourier-cli"
HANDHELD="$BUILD/tools/handheld/cc-handheld"
PDBDUMP="$BUILD/tools/pdbdump/cc-pdbdump"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/cradlecourier-demo.XXXXXX")"
HH_PID=""
cleanup() {
  if [ -n "$HH_PID" ] && kill -0 "$HH_PID" 2>/dev/null; then kill "$HH_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT

# The files to install are written here, by the demo itself: a record database with three
# text records and a small resource database that carries a version resource.
mkdir -p "$WORK/files"
python3 - "$WORK/files" <<'PY'
import struct, sys, time
out = sys.argv[1]
EPOCH = 2082844800  # 1904 to 1970

def header(name, attributes, type_, creator, count):
    now = int(time.time()) + EPOCH
    return struct.pack(">32sHHIIIIII4s4sIIH", name.encode()[:31], attributes, 1,
                       now, now, 0, 0, 0, 0, type_.encode(), creator.encode(), 0, 0, count)

def record_db(path, name, type_, creator, records):
    head = header(name, 0, type_, creator, len(records))
    offset = len(head) + 8 * len(records) + 2
    entries, data = b"", b""
    for i, rec in enumerate(records):
        entries += struct.pack(">IB3s", offset + len(data), 0, (0x100 + i).to_bytes(3, "big"))
        data += rec
    open(path, "wb").write(head + entries + b"\0\0" + data)

def resource_db(path, name, type_, creator, resources):
    head = header(name, 1, type_, creator, len(resources))
    offset = len(head) + 10 * len(resources) + 2
    entries, data = b"", b""
    for rtype, rid, blob in resources:
        entries += struct.pack(">4sHI", rtype.encode(), rid, offset + len(data))
        data += blob
    open(path, "wb").write(head + entries + b"\0\0" + data)

record_db(out + "/CradleNotes.pdb", "Cradlecourier Notes", "DATA", "CcDm", [
    b"Installed by Cradlecourier.\0",
    b"The handheld on the other end is played in software.\0",
    b"Every record arrives byte for byte.\0",
])
resource_db(out + "/CradleHello.prc", "Cradlecourier Hello", "appl", "CcHl", [
    ("tAIN", 1000, b"Hello\0"),
    ("tver", 1, b"1.0\0"),
    ("tSTR", 1000, b"Hello from the desktop.\0"),
])
PY

echo "== files to install"
ls -l "$WORK/files"

echo "== starting the virtual handheld"
if [ "$NET" -eq 1 ]; then
  # A free port on the loopback address; the handheld connects to it as an emulator does.
  NET_PORT="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  PORT="net:127.0.0.1:$NET_PORT"
  "$HANDHELD" --net "127.0.0.1:$NET_PORT" --net-wakeup --out "$WORK/handheld" \
    >"$WORK/handheld.out" 2>"$WORK/handheld.err" &
  HH_PID=$!
  echo "network handheld connecting to 127.0.0.1:$NET_PORT"
else
  "$HANDHELD" --pty --out "$WORK/handheld" >"$WORK/handheld.out" 2>"$WORK/handheld.err" &
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

echo "== installing with ccourier-cli"
set +e
"$CLI" --port "$PORT" --speed 115200 --set-time --wait 60 \
  "$WORK/files/CradleNotes.pdb" "$WORK/files/CradleHello.prc"
STATUS=$?
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
echo "== the requests the handheld served (full log: $WORK/handheld/requests.json)"
grep -o '"function":"[A-Za-z]*"' "$WORK/handheld/requests.json" | cut -d'"' -f4 | uniq -c || true
echo "demo: ccourier-cli ended with status $STATUS"
exit "$STATUS"

#!/usr/bin/env python3
"""Writes seed inputs for the serial link receiver: the bytes a real handheld sent in the
recorded sessions, in pieces of a few kilobytes. Writes nothing when there are none."""
import glob, json, os, sys

traces, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
count = 0
for path in sorted(glob.glob(os.path.join(traces, "*.serial-net.json"))):
    with open(path) as f:
        events = json.load(f)
    data = b"".join(bytes.fromhex(e["data"]) for e in events if e.get("type") == "read")
    for at in range(0, len(data), 4096):
        with open(os.path.join(out, "seed%03d.bin" % count), "wb") as f:
            f.write(data[at:at + 4096])
        count += 1
open(os.path.join(out, "stamp"), "w").close()

#!/usr/bin/env python3
"""Writes seed inputs for the NetSync link: the bytes a real handheld sent in the recorded
network and USB sessions, from the start (the handshake) and cut to a few kilobytes."""
import glob, json, os, sys

traces, out = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
count = 0
for pattern in ("*.net.json", "*.usb.json"):
    for path in sorted(glob.glob(os.path.join(traces, pattern))):
        with open(path) as f:
            events = json.load(f)
        data = b"".join(bytes.fromhex(e["data"]) for e in events if e.get("type") == "read")
        with open(os.path.join(out, "seed%03d.bin" % count), "wb") as f:
            f.write(data[:4096])
        count += 1
open(os.path.join(out, "stamp"), "w").close()

#!/usr/bin/env python3
"""Writes seed inputs from the recorded serial sessions into OUTDIR/<target>/: the bytes the
handheld sent (for the link receiver), its DLP answers (for the desktop's answer decoding),
the desktop's requests (for the virtual handheld's request server) and the desktop's packets
as a line script (for the handheld's end of the line). Writes nothing when there are none.

usage: make_trace_seeds.py TRACES OUTDIR"""
import glob, json, os, struct, sys

traces, out = sys.argv[1], sys.argv[2]


def write(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


def frames(data):
    """The good SLP frames in a byte stream: (xid, type, body)."""
    at = 0
    while True:
        at = data.find(b"\xbe\xef\xed", at)
        if at < 0 or at + 10 > len(data):
            return
        size = struct.unpack(">H", data[at + 6:at + 8])[0]
        if sum(data[at:at + 9]) & 0xFF != data[at + 9] or at + 12 + size > len(data):
            at += 1
            continue
        yield data[at + 8], data[at + 5], data[at + 10:at + 10 + size]
        at += 12 + size


def padp_packets(data):
    """(xid, type, flags, sizeOrOffset, payload) of the PADP packets in a stream."""
    for xid, slp_type, body in frames(data):
        if slp_type != 2 or len(body) < 4:
            continue
        kind, flags = body[0], body[1]
        if flags & 0x10:
            if len(body) < 6:
                continue
            size, payload = struct.unpack(">I", body[2:6])[0], body[6:]
        else:
            size, payload = struct.unpack(">H", body[2:4])[0], body[4:]
        yield xid, kind, flags, size, payload


def messages(data):
    """Whole PADP data messages, each once (repeats dropped)."""
    current, last = b"", None
    for xid, kind, flags, size, payload in padp_packets(data):
        if kind != 1 or (xid, flags, size, payload) == last:
            continue
        last = (xid, flags, size, payload)
        if flags & 0x80:
            current = b""
        current += payload
        if flags & 0x40:
            yield current


def chunk(b):
    return struct.pack(">H", len(b)) + b


def script_packet(xid, kind, flags, size, payload):
    return bytes([1, xid, kind, flags]) + struct.pack(">I", size) + chunk(payload)


count = 0
for path in sorted(glob.glob(os.path.join(traces, "*.serial-net.json"))):
    name = os.path.basename(path).split(".")[0]
    with open(path) as f:
        events = json.load(f)
    read = b"".join(bytes.fromhex(e["data"]) for e in events if e.get("type") == "read")
    written = b"".join(bytes.fromhex(e["data"]) for e in events if e.get("type") == "write")
    for at in range(0, len(read), 4096):
        write("slp_receiver", "%s-%03d.bin" % (name, at // 4096), read[at:at + 4096])
    answers = [m for m in messages(read) if m and m[0] & 0x80]
    write("dlp_response", name, b"\x00\x00\x00\xe1\x00" + b"".join(chunk(a) for a in answers))
    requests = [m for m in messages(written) if m and not m[0] & 0x80 and m[0] >= 0x10]
    write("handheld_dlp", name, b"\x02" + b"".join(chunk(r) for r in requests))
    script = b"\x01" + b"".join(script_packet(*p) for p in padp_packets(written) if p[1] == 1)
    write("handheld_link", name, script[:60000])
    count += 1
open(os.path.join(out, "stamp"), "w").close()

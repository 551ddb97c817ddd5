#!/usr/bin/env python3
"""Writes the demo's files: a record database with three text records, a small resource
database with a version resource, a picture (24-bit BMP) and a little application that the
demo then packs into an archive.

    demo_files.py OUT_DIR
"""
import struct
import sys
import time

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


def picture(path, width, height):
    """A sunset: sky gradient, a sun, the sea below."""
    row_size = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(width):
            if y > height * 0.62:
                b, g, r = 120 + (x * 7 + y * 3) % 40, 70 + y // 3, 20 + y // 4
            else:
                t = y / (height * 0.62)
                r, g, b = 250 - int(60 * t), 120 + int(90 * t), 60 + int(150 * t)
                dx, dy = x - width * 0.5, y - height * 0.55
                if dx * dx + dy * dy < (height * 0.16) ** 2:
                    r, g, b = 255, 220, 90
            row += bytes((b & 255, g & 255, r & 255))
        rows.append(bytes(row) + b"\0" * (row_size - len(row)))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    open(path, "wb").write(head + info + pixels)


out = sys.argv[1]
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
picture(out + "/Sunset.bmp", 160, 120)
resource_db(out + "/Packed.prc", "Cradlecourier Packed", "appl", "CcPk", [
    ("tAIN", 1000, b"Packed\0"),
    ("tver", 1, b"1.0\0"),
    ("tSTR", 1000, b"Unpacked from an archive on the desktop.\0"),
])
# A long e-book: more than the demo handheld's free memory, so it goes to the memory card.
words = ["cradle", "handheld", "stylus", "graffiti", "memo", "launcher", "card", "sync",
         "palm", "button", "serial", "record", "resource", "desktop", "courier", "book"]
state = 12345
lines = []
for line in range(6000):
    text = []
    for _ in range(8):
        state = (state * 1103515245 + 12345) % 2147483648
        text.append(words[state % len(words)])
    lines.append(" ".join(text).capitalize() + ".")
open(out + "/CardBook.txt", "w").write("\n".join(lines) + "\n")

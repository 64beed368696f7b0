#!/usr/bin/env python3
"""Writes outside debug-information files from one neutral table.

  make-debug-fixtures.py write TABLE.json OUTSTEM
      writes OUTSTEM.map (linker map), OUTSTEM.jdbg (JCL binary debug data)
      and OUTSTEM.tds (TD32 data) from the table
  make-debug-fixtures.py from-image IMAGE TABLE.json SAMPLES.txt [COUNT]
      makes the table of a PE image from its DWARF line rows
      (objdump --dwarf=decodedline) and symbols (nm), and writes COUNT sampled
      code offsets with what addr2line says of them:
      offset<TAB>unit<TAB>source file<TAB>line<TAB>procedure

The neutral table (JSON; offsets count from the module's first section, that
is address - image base - 0x1000):
  units:  [{name, start, end}]            contiguous code of one unit
  blocks: [{unit, file, start, end, rows: [[offset, line], ...]}]
          rows of one source file, in rising offset order, blocks in order
  procs:  [{name, start, size}]           in rising start order
"""
import json
import os
import re
import struct
import subprocess
import sys

OBJDUMP = "i686-w64-mingw32-objdump"
NM = "i686-w64-mingw32-nm"
ADDR2LINE = "i686-w64-mingw32-addr2line"
JCL_NAME_XOR = 0xAA
END_OF_LIST = 0x7FFFFFFF


# ---------------------------------------------------------------- map file
def write_map(table, path):
    units, blocks, procs = table["units"], table["blocks"], table["procs"]
    total = max([u["end"] for u in units] + [0])
    out = ["", " Start         Length     Name                   Class",
           " 0001:00000000 %08XH .text                   CODE" % total, "", "",
           "Detailed map of segments", ""]
    for u in units:
        out.append(" 0001:%08X %08X C=CODE     S=.text    G=(none)   M=%s ACBP=A9" % (
            u["start"], u["end"] - u["start"], u["name"]))
    out += ["", "", "  Address             Publics by Name", ""]
    for p in sorted(procs, key=lambda p: p["name"]):
        out.append(" 0001:%08X       %s" % (p["start"], p["name"]))
    out += ["", "", "  Address             Publics by Value", ""]
    for p in procs:
        out.append(" 0001:%08X       %s" % (p["start"], p["name"]))
    out += [""]
    for b in blocks:
        out += ["", "Line numbers for %s(%s) segment .text" % (b["unit"], b["file"]), ""]
        rows = b["rows"]
        for i in range(0, len(rows), 4):
            out.append("".join("%6d 0001:%08X" % (line, off) for off, line in rows[i:i + 4]))
    out += ["", "Bound resource files", ""]
    with open(path, "w", newline="\r\n") as f:
        f.write("\n".join(out) + "\n")


# ---------------------------------------------------------------- JCL binary data
def packed(value):
    value &= 0xFFFFFFFF
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def six_bit(text):
    codes = []
    for c in text:
        if c.isdigit():
            codes.append(ord(c) - ord("0") + 1)
        elif "A" <= c <= "Z":
            codes.append(ord(c) - ord("A") + 11)
        elif "a" <= c <= "z":
            codes.append(ord(c) - ord("a") + 37)
        else:
            codes.append(63)
    codes.append(0)
    bits = sum(code << (6 * i) for i, code in enumerate(codes))
    return bits.to_bytes((6 * len(codes) + 7) // 8, "little")


def jcl_name(name):
    """A stored name in one of the format's three forms."""
    simple = re.fullmatch(r"[0-9A-Za-z_]+", name)
    if name.startswith("@") and re.fullmatch(r"[0-9A-Za-z_]*", name[1:]):
        return b"\x02" + six_bit(name[1:])
    if simple:
        data = six_bit(name)
        if data[0] not in (1, 2):
            return data
    body = bytes(b if b == JCL_NAME_XOR else b ^ JCL_NAME_XOR for b in name.encode("latin-1"))
    return b"\x01" + body + b"\x00"


def write_jdbg(table, path, module_name="Module"):
    area = bytearray()
    refs = {}

    def ref(name):
        if not name:
            return 0
        if name not in refs:
            refs[name] = len(area) + 1
            area.extend(jcl_name(name))
        return refs[name]

    def encode_list(entries):
        out = bytearray()
        previous = [0] * (len(entries[0]) if entries else 0)
        for entry in entries:
            for i, value in enumerate(entry):
                out += packed(value - previous[i])
                previous[i] = value
        out += packed(END_OF_LIST)
        return bytes(out)

    units = encode_list([(u["start"], ref(u["name"])) for u in table["units"]])
    sources = encode_list([(b["start"], ref(b["file"])) for b in table["blocks"]])
    symbols = encode_list([(p["start"], ref(p["name"]), ref(p.get("second", ""))) for p in table["procs"]])
    lines = encode_list([(off, line) for b in table["blocks"] for off, line in b["rows"]])
    module_ref = ref(module_name)
    body = bytearray()
    offsets = []
    for part in (units, sources, symbols, lines, bytes(area)):
        offsets.append(35 + len(body))
        body += part
    data = bytearray(b"JDBG" + bytes([1]) + struct.pack("<6I", *offsets, module_ref) + struct.pack("<I", 0) +
                     bytes([1, 0]) + body)  # the 35-byte header ends with a spare byte
    while len(data) % 4:
        data.append(0)
    # With the checksum bytes at 29-32, the word sum of the data holds the
    # checksum rotated left by 8, so the checksum is the sum without it.
    checksum = sum(struct.unpack("<%dI" % (len(data) // 4), bytes(data))) & 0xFFFFFFFF
    data[29:33] = struct.pack("<I", checksum)
    with open(path, "wb") as f:
        f.write(bytes(data))


# ---------------------------------------------------------------- TD32 data
def write_tds(table, path):
    names = [""]
    index = {}

    def name_index(name):
        if name not in index:
            index[name] = len(names)
            names.append(name)
        return index[name]

    subsections = []  # (type, bytes)
    for u in table["units"]:
        body = struct.pack("<HHHHI16x", 0, 0, 1, 0, name_index(u["name"]))
        body += struct.pack("<HHII", 1, 0, u["start"], u["end"] - u["start"])
        subsections.append((0x0120, body))
    for b in table["blocks"]:
        rows = b["rows"]
        block = struct.pack("<HH", 1, len(rows)) + b"".join(struct.pack("<I", off) for off, _ in rows) + \
            b"".join(struct.pack("<H", line & 0xFFFF) for _, line in rows)
        file_entry_at = 8
        block_at = file_entry_at + 6 + 4 + 8
        body = struct.pack("<HHI", 1, 1, file_entry_at)
        body += struct.pack("<HII", 1, name_index(b["file"]), block_at) + struct.pack("<II", b["start"], b["end"])
        body += block
        subsections.append((0x0127, body))
    records = bytearray(struct.pack("<I", 1))
    for p in table["procs"]:
        record = struct.pack("<HH12xI8xI8xI", 42, 0x0205, p["size"], p["start"], name_index(p["name"]))
        records += record
    subsections.append((0x0125, bytes(records)))
    names_body = struct.pack("<I", len(names) - 1) + b"".join(
        bytes([len(n)]) + n.encode("latin-1") + b"\x00" for n in names[1:])
    subsections.insert(0, (0x0130, names_body))

    data = bytearray(b"FB09" + struct.pack("<I", 0))
    entries = []
    for kind, body in subsections:
        entries.append(struct.pack("<HHII", kind, 0, len(data), len(body)))
        data += body
        while len(data) % 4:
            data.append(0)
    directory = len(data)
    data += struct.pack("<HHIII", 16, 12, len(entries), 0, 0) + b"".join(entries)
    data[4:8] = struct.pack("<I", directory)
    data += b"FB09" + struct.pack("<I", len(data) + 8)
    with open(path, "wb") as f:
        f.write(bytes(data))


# ---------------------------------------------------------------- from an image
def image_facts(image):
    text = subprocess.run([OBJDUMP, "-p", image], check=True, capture_output=True, text=True).stdout
    return int(re.search(r"^ImageBase\s+([0-9a-fA-F]+)", text, re.M).group(1), 16)


def table_from_image(image):
    base = image_facts(image) + 0x1000
    dump = subprocess.run([OBJDUMP, "--dwarf=decodedline", image], check=True, capture_output=True,
                          text=True).stdout
    rows = []  # (address, line, file, cu, stmt)
    cu = pending = None
    for line in dump.splitlines():
        m = re.match(r"^(\S+)\s+(\d+)\s+(0x[0-9a-f]+)(.*)$", line)
        if m and cu:
            rows.append((int(m.group(3), 16) - base, int(m.group(2)), m.group(1), cu, "x" in m.group(4)))
            continue
        # A compilation unit's name is the file line just above a table
        # heading; the other file lines switch to an included file.
        if line.startswith("File name") and pending:
            cu = os.path.splitext(os.path.basename(pending))[0]
        m = re.match(r"^(?:CU: )?(\S+):$", line)
        pending = m.group(1) if m else (pending if not line.strip() else None)
    counts = {}
    for r in rows:
        counts[r[0]] = counts.get(r[0], 0) + 1
    by_address = {}
    for r in rows:
        by_address[r[0]] = r  # the last row of an address wins
    ordered = [by_address[a] for a in sorted(by_address) if a >= 0]

    units, blocks = [], []
    for address, line, file, unit, stmt in ordered:
        if not units or units[-1]["name"] != unit:
            if units:
                units[-1]["end"] = address
            units.append({"name": unit, "start": address, "end": address})
        if not blocks or blocks[-1]["file"] != file or blocks[-1]["unit"] != unit:
            if blocks:
                blocks[-1]["end"] = address
            blocks.append({"unit": unit, "file": os.path.basename(file), "start": address, "end": address, "rows": []})
        blocks[-1]["rows"].append([address, line])

    symbols = subprocess.run([NM, "-n", "--defined-only", image], check=True, capture_output=True,
                             text=True).stdout
    starts = []
    for line in symbols.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in "Tt" and not parts[2].startswith("."):
            starts.append((int(parts[0], 16) - base, parts[2]))
    procs = []
    for i, (start, name) in enumerate(starts):
        if start < 0 or (procs and procs[-1]["start"] == start):
            continue
        end = starts[i + 1][0] if i + 1 < len(starts) else start + 1
        procs.append({"name": name, "start": start, "size": max(1, end - start)})
    last = max([b["rows"][-1][0] for b in blocks] + [p["start"] + p["size"] for p in procs] + [0])
    if units:
        units[-1]["end"] = last
    if blocks:
        blocks[-1]["end"] = last
    return {"units": units, "blocks": blocks, "procs": procs}, counts, base


def samples(image, table, counts, base, count):
    candidates = []
    for b in table["blocks"]:
        for i, (off, line) in enumerate(b["rows"][:-1]):
            if counts.get(off) == 1:
                candidates.append((off, b["unit"]))
    step = max(1, len(candidates) // count)
    picked = candidates[::step][:count]
    out = subprocess.run([ADDR2LINE, "-e", image] + ["0x%x" % (off + base) for off, _ in picked], check=True,
                         capture_output=True, text=True).stdout.splitlines()
    starts = [p["start"] for p in table["procs"]]
    lines = []
    import bisect
    for (off, unit), where in zip(picked, out):
        file, _, line = where.rpartition(":")
        line = re.match(r"\d+", line)
        if not line or file == "??":
            continue
        i = bisect.bisect_right(starts, off) - 1
        proc = table["procs"][i]["name"] if i >= 0 else ""
        lines.append("%d\t%s\t%s\t%s\t%s" % (off, unit, os.path.basename(file), line.group(0), proc))
    return lines


def main(argv):
    if len(argv) >= 3 and argv[0] == "write":
        with open(argv[1]) as f:
            table = json.load(f)
        write_map(table, argv[2] + ".map")
        write_jdbg(table, argv[2] + ".jdbg")
        write_tds(table, argv[2] + ".tds")
        return 0
    if len(argv) >= 4 and argv[0] == "from-image":
        table, counts, base = table_from_image(argv[1])
        with open(argv[2], "w") as f:
            json.dump(table, f)
        with open(argv[3], "w") as f:
            f.write("\n".join(samples(argv[1], table, counts, base, int(argv[4]) if len(argv) > 4 else 200)) + "\n")
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

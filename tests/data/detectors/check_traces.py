"""Reads trace dumps as the file format describes them, independently of Tarvo's code,
and checks filtered dumps against the unfiltered one.

Usage: check_traces.py PREFIX HISTORIES   (the dumps of TraceDetectorTest's run)
Prints "ok" or the failures.
"""
import sys

import numpy as np

COLUMNS = ["ID", "SubID", "Particle", "Interaction", "InteractionCount", "OldEnergy", "Energy", "OldWeight",
           "Weight", "Start", "End"]
failures = []


def check(condition, *what):
    if not condition:
        failures.append(what)


def read_binary(path):
    """The segments of a binary dump, its segment size, and its body (bytes after the header)."""
    with open(path, "rb") as f:
        data = f.read()
    lines = []
    at = 0
    while not lines or not lines[-1].startswith("Total: "):
        end = data.index(b"\n", at)
        lines.append(data[at:end].decode())
        at = end + 1
    check(lines[0] == "Tarvo Binary TraceDump", path, "magic", lines[0])
    check([line.split()[0] for line in lines[1:-1]] == COLUMNS, path, "columns", lines)
    size = int(lines[-1].split()[1])
    names, formats, offsets = [], [], []
    offset = 0
    for line in lines[1:-1]:
        name, typed, order = line.split()
        kind, bits = typed.rstrip("0123456789"), int(typed[len(typed.rstrip("0123456789")):])
        endian = "<" if order == "LE" else ">"
        items = 3 if kind == "Coord" else 1
        width = bits // 8 // items
        letter = {"UInt": "u", "Enum": "u" if name == "Particle" else "i", "Float": "f", "Coord": "f"}[kind]
        # Each field at its natural alignment: padding follows the interaction count
        # in the double variant and ends the segment in the float variant.
        offset = (offset + width - 1) // width * width
        names.append(name)
        formats.append((endian + letter + str(width), (3,)) if items == 3 else endian + letter + str(width))
        offsets.append(offset)
        offset += width * items
    check(offset <= size and size % 8 == 0, path, "segment size", offset, size)
    dtype = np.dtype({"names": names, "formats": formats, "offsets": offsets, "itemsize": size})
    body = data[at:]
    check(len(body) % size == 0, path, "whole segments", len(body), size)
    covered = np.zeros(size, bool)
    for name, start in zip(names, offsets):
        covered[start:start + dtype.fields[name][0].itemsize] = True
    raw = np.frombuffer(body[: len(body) // size * size], np.uint8).reshape(-1, size)
    check(not raw[:, ~covered].any(), path, "padding is zero")
    return np.frombuffer(body[: len(body) // size * size], dtype=dtype), size, body


def read_text(path):
    with open(path) as f:
        first = f.readline()
    check(first.startswith("#") and len(first[1:].split()) == 15, path, "column line", first)
    rows = np.loadtxt(path, comments="#", ndmin=2, dtype=float)
    ints = np.loadtxt(path, comments="#", ndmin=2, dtype=np.uint64, usecols=(0, 1))
    return rows, ints


def table(segments):
    """Segments as rows of numbers (float64), for multiset comparisons."""
    cols = [segments[c].astype(np.float64) for c in COLUMNS[:9]]
    cols += [segments["Start"][:, k].astype(np.float64) for k in range(3)]
    cols += [segments["End"][:, k].astype(np.float64) for k in range(3)]
    return np.stack(cols, axis=1) if len(segments) else np.zeros((0, 15))


def same_multiset(a, b):
    if a.shape != b.shape:
        return False
    order = lambda m: m[np.lexsort(m.T[::-1])] if len(m) else m
    return np.array_equal(order(a), order(b))


prefix = sys.argv[1]
name = lambda i, file: f"{prefix}_TraceDetector{i}_{file}"
full, size, body = read_binary(name(0, "all.bin"))
check(size == 112 and len(body) == len(full) * 112, "double sizes", size, len(body))
rows = table(full)
photons = full["Particle"] == 0
code = full["Interaction"]
# The interaction count before the event: photon interactions add one.
count_before = full["InteractionCount"] - np.isin(code, [2, 3, 4, 5, 6]).astype(np.uint32)
# Where the event happened: primaries are born outside every object, detections are the
# plane's (ID 1), everything else happens in the slab (ID 0).
in_slab = ~(((code == 1001) & (full["SubID"] == 0)) | (code == 1000))
expected = {
    1: photons & (count_before == 0),
    2: photons & ~np.isin(code, [4, 5, 6]),
    3: photons & (full["OldEnergy"] >= 40),
    4: photons & in_slab,
    5: photons & (code != 6),
    6: photons,
}
for index, keep in expected.items():
    file = "traces.bin" if index == 6 else "f%d.bin" % index
    part, part_size, part_body = read_binary(name(index, file))
    check(part_size == 112 and len(part_body) == 112 * len(part), index, "size")
    check(same_multiset(table(part), rows[keep]), "filter", index, len(part), int(keep.sum()))
    check(0 < len(part), "filter keeps something", index)
primaries = full["ID"][(code == 1001) & (full["SubID"] == 0)]
check(np.array_equal(np.sort(primaries), np.arange(int(sys.argv[2]))), "one Creation per primary")
check(len(np.unique(code[photons])) >= 5, "photon event types", np.unique(code))
check((~photons).any(), "the unfiltered dump holds electrons too")
floats, float_size, float_body = read_binary(name(7, "all_float.bin"))
check(float_size == 72 and len(float_body) == 72 * len(floats), "float sizes")
check(same_multiset(table(floats), rows.astype(np.float32).astype(np.float64)), "float equals double")
text, ids = read_text(name(8, "all.txt"))
text[:, :2] = ids
check(same_multiset(text, rows), "text equals double", text.shape, rows.shape)
print(failures if failures else "ok")

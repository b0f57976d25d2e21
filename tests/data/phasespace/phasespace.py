"""Reads, rewrites and checks phase-space files with numpy alone.

The reader follows the file format: the line "Tarvo Binary PhaseSpaceData", one
line per column ("<name> <type><bits> LE|BE"), an empty line, then packed records.

Commands (each prints "ok" or the failures, and exits 1 on failure):
  layout FILE COUNT BITS          header lines and exactly COUNT records of BITS-bit floats
                                  (a stream may have other text before the header)
  convert SRC DST be|double|text  rewrites SRC's records as big-endian floats, as
                                  little-endian doubles, or as a text particle list
  sums FILE PREFIX N REL          sums of weights and of weight x energy against N times
                                  the sums of the images PREFIX + "_count.tiff" and
                                  PREFIX + "_energy.tiff", within REL
  same A B                        the same multiset of records
  roulette FILE N THRESHOLD P     the recorded fraction of N particles within 4 sigma of P,
                                  every weight THRESHOLD
  images A B SCALE [REL]          B's primary and scattered images (prefixes before
                                  "_primary") times SCALE against A's: chi-square from
                                  both error images with p > 0.001, totals within 4 sigma;
                                  with REL the primary totals within REL (a replay of
                                  every record once scores what the recording run did)
  identical A B                   A's primary and scattered images equal B's
"""
import math
import sys

import numpy
import tifffile

MAGIC = b"Tarvo Binary PhaseSpaceData"
NAMES = ["Particle", "InteractionCount", "X", "Y", "Z", "Latitude", "Longitude", "Energy", "Weight"]
TYPES = ["Enum", "UInt"] + ["Float"] * 7


def read(path):
    """Returns (column lines, structured array of the records)."""
    data = open(path, "rb").read()
    start = data.index(MAGIC)  # a stream on standard output may follow other text
    lines = data[start:].split(b"\n", 11)
    if lines[0] != MAGIC or lines[10] != b"":
        raise ValueError("not a phase-space header")
    fields = []
    for name, kind, line in zip(NAMES, TYPES, lines[1:10]):
        text = line.decode()
        head, order = text.rsplit(" ", 1)
        bits = int(head[len(name) + 1 + len(kind):])
        if head[: len(name) + 1 + len(kind)] != name + " " + kind or order not in ("LE", "BE"):
            raise ValueError("bad column line " + text)
        code = {"Enum": "u", "UInt": "u", "Float": "f"}[kind] + str(bits // 8)
        fields.append((name, ("<" if order == "LE" else ">") + code))
    dtype = numpy.dtype(fields)
    body = lines[11]
    if len(body) % dtype.itemsize:
        raise ValueError("body is not whole records")
    return [l.decode() for l in lines[1:10]], numpy.frombuffer(body, dtype)


def write(path, records, big, bits):
    order = ">" if big else "<"
    text = MAGIC.decode() + "\n"
    fields = []
    for name, kind in zip(NAMES, TYPES):
        width = 32 if kind != "Float" else bits
        text += "%s %s%d %s\n" % (name, kind, width, "BE" if big else "LE")
        fields.append((name, order + ("u4" if kind != "Float" else "f%d" % (width // 8))))
    out = numpy.empty(len(records), numpy.dtype(fields))
    for name in NAMES:
        out[name] = records[name]
    open(path, "wb").write(text.encode() + b"\n" + out.tobytes())


def write_text(path, records):
    with open(path, "w") as f:
        f.write("# type interactions x y z theta phi energy weight\n\n")
        for r in records:
            f.write(" ".join(repr(float(r[n])) if i > 1 else str(int(r[n])) for i, n in enumerate(NAMES)))
            f.write("\n")


def chi_square_p(chi2, k):
    """Upper tail of chi-square with k degrees of freedom (Wilson-Hilferty)."""
    z = ((chi2 / k) ** (1 / 3) - (1 - 2 / (9 * k))) / math.sqrt(2 / (9 * k))
    return 0.5 * math.erfc(z / math.sqrt(2))


def compare_images(a, b, scale, rel):
    failures = []
    for cls in ("_primary", "_scattered"):
        ca = tifffile.imread(a + cls + "_count.tiff").astype(float)
        cb = tifffile.imread(b + cls + "_count.tiff").astype(float) * scale
        sa = ca * tifffile.imread(a + cls + "_error.tiff").astype(float)
        sb = cb * tifffile.imread(b + cls + "_error.tiff").astype(float)
        var = sa**2 + sb**2
        used = var > 0
        chi2 = float((((ca - cb) ** 2)[used] / var[used]).sum())
        k = int(used.sum())
        p = chi_square_p(chi2, k) if k else 0.0
        ta, tb = ca.sum(), cb.sum()
        st = math.sqrt((sa**2).sum() + (sb**2).sum())
        print(cls, "chi2", chi2, "pixels", k, "p", p, "totals", ta, tb, "sigma", st)
        if k < ca.size // 2 or p <= 0.001:
            failures.append((cls, "chi2", chi2, k, p))
        if abs(ta - tb) > 4 * st:
            failures.append((cls, "totals", ta, tb, st))
        if cls == "_primary" and rel is not None and abs(ta - tb) > rel * ta:
            failures.append((cls, "totals beyond", rel, ta, tb))
    return failures


def main(args):
    command, failures = args[0], []
    if command == "layout":
        lines, records = read(args[1])
        count, bits = int(args[2]), int(args[3])
        data = open(args[1], "rb").read()
        body = len(data) - data.index(MAGIC) - len(MAGIC) - 2 - sum(len(l) + 1 for l in lines)
        if lines[0] != "Particle Enum32 LE":
            failures.append(("first column line", lines[0]))
        if any(("%d " % bits) not in l for l in lines[2:]):
            failures.append(("float width", lines))
        if len(records) != count or body != count * (8 + 7 * bits // 8):
            failures.append(("records", len(records), "bytes", body))
    elif command == "convert":
        _, records = read(args[1])
        if args[3] == "text":
            write_text(args[2], records)
        else:
            write(args[2], records, args[3] == "be", 64 if args[3] == "double" else 32)
    elif command == "sums":
        _, r = read(args[1])
        w, e = r["Weight"].astype(float), r["Energy"].astype(float)
        n, rel = float(args[3]), float(args[4])
        sumw = n * tifffile.imread(args[2] + "_count.tiff").astype(float).sum()
        sumwe = n * tifffile.imread(args[2] + "_energy.tiff").astype(float).sum()
        print("records", len(r), "sum w", w.sum(), "sum w e", (w * e).sum())
        if abs(w.sum() - sumw) > rel * sumw or abs((w * e).sum() - sumwe) > rel * sumwe:
            failures.append(("sums", w.sum(), sumw, (w * e).sum(), sumwe))
    elif command == "same":
        ra, rb = (numpy.sort(read(p)[1], order=NAMES) for p in args[1:3])
        if len(ra) != len(rb) or ra.tobytes() != rb.tobytes():
            failures.append(("multisets differ", len(ra), len(rb)))
    elif command == "roulette":
        _, r = read(args[1])
        n, threshold, p = int(args[2]), float(args[3]), float(args[4])
        sigma = math.sqrt(n * p * (1 - p))
        print("recorded", len(r), "of", n)
        if abs(len(r) - n * p) > 4 * sigma:
            failures.append(("recorded", len(r), n * p, sigma))
        if len(r) and not numpy.all(numpy.abs(r["Weight"] - threshold) <= 1e-6 * threshold):
            failures.append(("weights", numpy.unique(r["Weight"])))
    elif command == "images":
        failures = compare_images(args[1], args[2], float(args[3]), float(args[4]) if len(args) > 4 else None)
    elif command == "identical":
        for cls in ("_primary_count", "_scattered_count"):
            a, b = (tifffile.imread(p + cls + ".tiff") for p in args[1:3])
            if not numpy.array_equal(a, b):
                failures.append((cls, "differs", float(numpy.abs(a - b).max())))
    else:
        failures.append(("unknown command", command))
    print(failures if failures else "ok")
    return 1 if failures else 0


if __name__ == "__main__":
    commands, current = [], []
    for a in sys.argv[1:]:
        if a == "--":
            commands.append(current)
            current = []
        else:
            current.append(a)
    commands.append(current)
    sys.exit(max(main(c) for c in commands))

"""Writes one test mesh in every format and encoding the readers accept, using
meshio, numpy-stl and hand-made PLY/OFF variants, and lists what each file holds:
name, vertex count, facet count and bounding box."""
import struct
import sys

import meshio
import numpy as np
from stl import mesh as stlmesh

out = sys.argv[1]
rng = np.random.default_rng(7)
nx, ny = 7, 5
xs, ys = np.meshgrid(np.arange(nx) * 0.5 - 1.0, np.arange(ny) * 0.25 + 2.0, indexing="ij")
zs = rng.integers(-16, 17, size=xs.shape) / 8.0
points = np.stack([xs.ravel(), ys.ravel(), zs.ravel()], axis=1).astype(np.float64)


def pid(i, j):
    return i * ny + j


tris, quads = [], []
for i in range(nx - 1):
    for j in range(ny - 1):
        a, b, c, d = pid(i, j), pid(i + 1, j), pid(i + 1, j + 1), pid(i, j + 1)
        tris += [[a, b, c], [a, c, d]]
        quads.append([a, b, c, d])
tris = np.array(tris)
quads = np.array(quads)
lines = []


def record(name, nfacets):
    lo, hi = points.min(axis=0), points.max(axis=0)
    lines.append(" ".join([name, str(len(points)), str(nfacets)] + [repr(float(v)) for v in (*lo, *hi)]))


tri_mesh = meshio.Mesh(points, [("triangle", tris)])
quad_mesh = meshio.Mesh(points, [("quad", quads)])
meshio.write(f"{out}/meshio_ascii.stl", tri_mesh, file_format="stl", binary=False)
record("meshio_ascii.stl", len(tris))
meshio.write(f"{out}/meshio_binary.stl", tri_mesh, file_format="stl", binary=True)
record("meshio_binary.stl", len(tris))
meshio.write(f"{out}/meshio.off", tri_mesh, file_format="off")
record("meshio.off", len(tris))
with open(f"{out}/quads.off", "w") as f:
    f.write("OFF %d %d 0\n" % (len(points), len(quads)))
    for p in points:
        f.write("%r %r %r\n" % tuple(p))
    for q in quads:
        f.write("4 %d %d %d %d\n" % tuple(q))
record("quads.off", 2 * len(quads))
meshio.write(f"{out}/meshio_ascii.ply", tri_mesh, file_format="ply", binary=False)
record("meshio_ascii.ply", len(tris))
meshio.write(f"{out}/meshio_binary.ply", tri_mesh, file_format="ply", binary=True)
record("meshio_binary.ply", len(tris))
meshio.write(f"{out}/meshio_quads.ply", quad_mesh, file_format="ply", binary=True)
record("meshio_quads.ply", 2 * len(quads))

solid = stlmesh.Mesh(np.zeros(len(tris), dtype=stlmesh.Mesh.dtype))
solid.vectors[:] = points[tris]
solid.save(f"{out}/numpystl_ascii.stl", mode=stlmesh.stl.Mode.ASCII)
record("numpystl_ascii.stl", len(tris))
solid.save(f"{out}/numpystl_binary.stl", mode=stlmesh.stl.Mode.BINARY)
record("numpystl_binary.stl", len(tris))
body = open(f"{out}/numpystl_binary.stl", "rb").read()[80:]
# Binary files whose header starts with "solid": one with a zero byte inside the
# header, one with 80 printable header bytes so only the facet count betrays it.
open(f"{out}/solid_header_short.stl", "wb").write(b"solid part".ljust(80, b"\0") + body)
record("solid_header_short.stl", len(tris))
open(f"{out}/solid_header_full.stl", "wb").write(b"SOLID " + b"x" * 74 + body)
record("solid_header_full.stl", len(tris))

with open(f"{out}/colours.off", "w") as f:
    f.write("COFF\n# vertices with colours\n\n%d %d 0\n" % (len(points), len(tris)))
    for p in points:
        f.write("%r %r %r 255 128 0 255\n" % tuple(p))
    for t in tris:
        f.write("3 %d %d %d  # face\n" % tuple(t))
record("colours.off", len(tris))

# PLY with every property type: padding properties of all types around x, y, z.
types = [("char", "b"), ("uchar", "B"), ("short", "h"), ("ushort", "H"), ("int", "i"), ("uint", "I"),
         ("long", "q"), ("ulong", "Q"), ("float32", "f"), ("float64", "d")]


def ply_every_type(path, endian, coord_type, coord_fmt, index_type, index_fmt, count_type, count_fmt, strips):
    head = ["ply", "format %s 1.0" % {"<": "binary_little_endian", ">": "binary_big_endian", "a": "ascii"}[endian],
            "comment every property type", "obj_info made by the tests", "element material 2",
            "property uchar red", "property list uint8 int16 values",
            "element vertex %d" % len(points)]
    head += ["property %s pad_%s" % (t, t) for t, _ in types[:5]]
    head += ["property %s x" % coord_type, "property %s y" % coord_type]
    head += ["property %s pad_%s" % (t, t) for t, _ in types[5:]]
    head += ["property %s z" % coord_type, "property list uchar float extra"]
    if strips:
        # Each row of cells as one strip: d0 a0 d1 a1 ... with a restart between rows.
        seq = []
        for i in range(nx - 1):
            for j in range(ny):
                seq += [pid(i, j), pid(i + 1, j)]
            seq.append(-1)
        head += ["element tristrips 1", "property list %s %s vertex_indices" % (count_type, index_type)]
    else:
        head += ["element face %d" % len(tris), "property uchar flags",
                 "property list %s %s vertex_indices" % (count_type, index_type)]
    head.append("end_header")
    data = bytearray(("\n".join(head) + "\n").encode())

    def put(fmt, *vals):
        if endian == "a":
            data.extend((" ".join(repr(v) if isinstance(v, float) else str(v) for v in vals) + "\n").encode())
        else:
            data.extend(struct.pack(endian + fmt, *vals))

    put("BBhh", 1, 2, 7, -1)
    put("BBhh", 1, 2, 5, 300)
    for p in points:
        put("bBhHi", -3, 200, -30000, 60000, -7)
        put(coord_fmt * 2, p[0], p[1])
        put("IqQfd", 4000000000, -5, 2 ** 63, 1.5, -2.5)
        put(coord_fmt, p[2])
        put("Bff", 2, 0.5, 0.25)
    if strips:
        put(count_fmt, len(seq))
        for v in seq:
            put(index_fmt, v)
    else:
        for t in tris:
            put("B" + count_fmt + index_fmt * 3, 9, 3, *t)
    open(path, "wb").write(bytes(data))


ply_every_type(f"{out}/types_le.ply", "<", "float", "f", "int", "i", "uchar", "B", False)
record("types_le.ply", len(tris))
ply_every_type(f"{out}/types_be.ply", ">", "double", "d", "uint", "I", "ushort", "H", False)
record("types_be.ply", len(tris))
ply_every_type(f"{out}/types_ascii.ply", "a", "float64", "d", "int32", "i", "uint8", "B", False)
record("types_ascii.ply", len(tris))
ply_every_type(f"{out}/strips_be.ply", ">", "float", "f", "int", "i", "int", "i", True)
record("strips_be.ply", len(tris))
ply_every_type(f"{out}/strips_ascii.ply", "a", "float", "f", "int", "i", "uchar", "B", True)
record("strips_ascii.ply", len(tris))

with open(f"{out}/mesh.tri", "w") as f:
    f.write("# nine numbers per triangle\n\n")
    for t in tris:
        f.write(" ".join(repr(float(v)) for v in points[t].ravel()) + "  # tri\r\n")
record("mesh.tri", len(tris))

# Vertex table in fixed-width columns without separators, facet table with a second
# object whose lines must be skipped; corners are numbered from 1.
with open(f"{out}/table.vtx", "w") as f:
    for p in points:
        f.write("%+08.3f%+08.3f%+08.3f\n" % tuple(p))
with open(f"{out}/table.fct", "w") as f:
    for t in tris:
        f.write("1 %d %d %d\n2 %d %d %d\n" % (tuple(t + 1) + tuple(t[::-1] + 1)))
record("table.vtx", len(tris))

open(f"{out}/expected.txt", "w").write("\n".join(lines) + "\n")

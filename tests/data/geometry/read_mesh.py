"""Prints what meshio reads from mesh files given as pairs of path and format: for
each file its point count, then one line per triangle with its nine corner
coordinates, then "end"."""
import sys
import warnings

warnings.simplefilter("ignore")
import meshio

for path, file_format in zip(sys.argv[1::2], sys.argv[2::2]):
    m = meshio.read(path, file_format=file_format)
    print(len(m.points))
    for cells in (c.data for c in m.cells if c.type == "triangle"):
        for t in cells:
            print(" ".join(repr(float(x)) for x in m.points[t].ravel()))
    print("end")

"""Prints what meshio reads from a mesh file: the point count, then one line per
triangle with its nine corner coordinates."""
import sys
import warnings

warnings.simplefilter("ignore")
import meshio

m = meshio.read(sys.argv[1], file_format=sys.argv[2])
triangles = [c.data for c in m.cells if c.type == "triangle"]
print(len(m.points))
for cells in triangles:
    for t in cells:
        print(" ".join(repr(float(x)) for x in m.points[t].ravel()))

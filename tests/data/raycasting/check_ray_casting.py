"""End-to-end checks of the ray-casting run: writes scenes and meshes, runs the
program, and compares what it wrote (read with tifffile) with chords and
radiographs computed here in numpy.

    check_ray_casting.py <scenario> <tarvo executable> <work dir> <materials.ini>
"""
import math
import os
import re
import shutil
import struct
import subprocess
import sys

import numpy as np
import tifffile

SCENARIO, EXE, WORK, MATERIALS = sys.argv[1:5]
FAILURES = []


def check(condition, text):
    if not condition:
        FAILURES.append(text)


def vec(v):
    return "(%r, %r, %r)" % tuple(float(x) for x in v)


# ---------------------------------------------------------------- meshes

def box_mesh(lo, hi):
    lo, hi = np.asarray(lo, float), np.asarray(hi, float)
    v = np.array([[hi[0] if i & 1 else lo[0], hi[1] if i & 2 else lo[1], hi[2] if i & 4 else lo[2]]
                  for i in range(8)])
    quads = [(0, 2, 3, 1), (4, 5, 7, 6), (0, 1, 5, 4), (2, 6, 7, 3), (0, 4, 6, 2), (1, 3, 7, 5)]
    f = []
    for a, b, c, d in quads:
        f += [(a, b, c), (a, c, d)]
    return v, np.array(f)


def icosphere(subdivisions):
    t = (1 + 5 ** 0.5) / 2
    v = [(-1, t, 0), (1, t, 0), (-1, -t, 0), (1, -t, 0), (0, -1, t), (0, 1, t), (0, -1, -t), (0, 1, -t),
         (t, 0, -1), (t, 0, 1), (-t, 0, -1), (-t, 0, 1)]
    v = [np.array(p, float) / np.linalg.norm(p) for p in v]
    f = [(0, 11, 5), (0, 5, 1), (0, 1, 7), (0, 7, 10), (0, 10, 11), (1, 5, 9), (5, 11, 4), (11, 10, 2),
         (10, 7, 6), (7, 1, 8), (3, 9, 4), (3, 4, 2), (3, 2, 6), (3, 6, 8), (3, 8, 9), (4, 9, 5), (2, 4, 11),
         (6, 2, 10), (8, 6, 7), (9, 8, 1)]
    for _ in range(subdivisions):
        cache, g = {}, []

        def mid(a, b):
            key = (min(a, b), max(a, b))
            if key not in cache:
                p = v[a] + v[b]
                v.append(p / np.linalg.norm(p))
                cache[key] = len(v) - 1
            return cache[key]

        for a, b, c in f:
            ab, bc, ca = mid(a, b), mid(b, c), mid(c, a)
            g += [(a, ab, ca), (b, bc, ab), (c, ca, bc), (ab, bc, ca)]
        f = g
    return np.array(v), np.array(f)


def write_ply(path, v, f):
    with open(path, "wb") as out:
        out.write(("ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty float x\n"
                   "property float y\nproperty float z\nelement face %d\n"
                   "property list uchar int vertex_indices\nend_header\n" % (len(v), len(f))).encode())
        for p in v:
            out.write(struct.pack("<3f", *p))
        for a, b, c in f:
            out.write(struct.pack("<B3i", 3, a, b, c))


def ply_part(name, material, v, f, extra=""):
    """Writes the mesh with float vertices and returns its part and the vertices as read."""
    v = v.astype(np.float32).astype(float)
    write_ply(os.path.join(WORK, name + ".ply"), v, f)
    return ("[Object]\nObjectType = Part\nName = %s\nMaterialName = %s\nPLYFile = %s.ply\n%s[EndObject]\n"
            % (name, material, name, extra)), (v, f)


def box_part(name, material, lo, hi, extra=""):
    lo, hi = np.asarray(lo, float), np.asarray(hi, float)
    material_line = "MaterialName = %s\n" % material if material is not None else ""
    return ("[Object]\nObjectType = Part\nName = %s\n%sVertexA = %s\nSide1 = (%r, 0, 0)\nSide2 = (0, %r, 0)\n"
            "Side3 = (0, 0, %r)\n%s[EndObject]\n" % (name, material_line, vec(lo), hi[0] - lo[0], hi[1] - lo[1],
                                                     hi[2] - lo[2], extra)), box_mesh(lo, hi)


def mesh_volume(v, f):
    a, b, c = v[f[:, 0]], v[f[:, 1]], v[f[:, 2]]
    return np.einsum("ij,ij->i", a, np.cross(b, c)).sum() / 6


# ---------------------------------------------------------------- sources and detectors

class Source:
    """A point source whose axis passes through the world origin."""

    def __init__(self, name, position, lines):
        self.name, self.S, self.lines = name, np.asarray(position, float), lines  # lines: [(keV, weight)]
        self.axis = -self.S / np.linalg.norm(self.S)

    def section(self):
        if len(self.lines) == 1:
            energy = "Energy = %r\n" % self.lines[0][0]
        else:
            energy = "[Spectrum]\n" + "".join("%r = %r\n" % line for line in self.lines) + "[EndSpectrum]\n"
        return ("[Object]\nObjectType = Source\nName = %s\nDirection = %s\nBaseCenter = (0, 0, %r)\n%s[EndObject]\n"
                % (self.name, vec(self.axis), -float(np.linalg.norm(self.S)), energy))

    def weights(self):
        total = sum(w for _, w in self.lines)
        return [(e, w / total) for e, w in self.lines]


class Detector:
    def __init__(self, name, corner, side1, side2, columns, rows, extra=""):
        self.name, self.extra = name, extra
        self.A, self.s1, self.s2 = (np.asarray(x, float) for x in (corner, side1, side2))
        self.columns, self.rows = columns, rows

    def section(self):
        return ("[Object]\nObjectType = PlaneDetector\nName = %s\nVertexA = %s\nSide1 = %s\nSide2 = %s\n"
                "PixelColumns = %d\nPixelRows = %d\n%s[EndObject]\n"
                % (self.name, vec(self.A), vec(self.s1), vec(self.s2), self.columns, self.rows, self.extra))

    def centres(self):
        r, c = np.mgrid[0:self.rows, 0:self.columns]
        return (self.A + ((c[..., None] + 0.5) / self.columns) * self.s1
                + ((r[..., None] + 0.5) / self.rows) * self.s2)

    def pixel_area(self):
        return np.linalg.norm(np.cross(self.s1, self.s2)) / (self.rows * self.columns)

    def geometry(self, source):
        """Per pixel d and the factor (d_c^2 / d^2)(S_z / d) of the radiograph."""
        n = np.cross(self.s1, self.s2)
        n /= np.linalg.norm(n)
        P = self.centres()
        d = np.linalg.norm(P - source.S, axis=-1)
        height = abs(np.dot(source.S - self.A, n))
        cosine = abs(np.dot(source.axis, n))
        dc = height / cosine if cosine > 1e-12 else height
        return P, d, dc * dc / (d * d) * height / d


def tilted(name, centre, angle_deg, about, size, columns, rows, flip=False, extra=""):
    a = math.radians(angle_deg)
    if about == "x":
        s1, s2 = np.array([size, 0, 0.0]), size * np.array([0, math.cos(a), math.sin(a)])
    else:
        s1, s2 = size * np.array([math.cos(a), 0, math.sin(a)]), np.array([0, size, 0.0])
    if flip:
        s1, s2 = s2, s1
        columns, rows = rows, columns
    centre = np.asarray(centre, float)
    return Detector(name, centre - s1 / 2 - s2 / 2, s1, s2, columns, rows, extra)


# ---------------------------------------------------------------- reference chords

def mesh_chord(S, P, mesh):
    """Path length of the segments S->P inside a closed mesh, and which pixels pass
    close to one of its edges; only segments that come near the mesh are traced."""
    v = mesh[0]
    shape = P.shape[:-1]
    D = (P - S).reshape(-1, 3)
    centre = v.mean(axis=0)
    radius = np.linalg.norm(v - centre, axis=1).max()
    t = np.clip((D @ (centre - S)) / np.einsum("ij,ij->i", D, D), 0, 1)
    hit = np.linalg.norm(S + t[:, None] * D - centre, axis=1) <= radius * 1.001
    length, near = np.zeros(len(D)), np.zeros(len(D), bool)
    if hit.any():
        length[hit], near[hit] = traced_chord(S, D[hit], mesh)
    return length.reshape(shape), near.reshape(shape)


def traced_chord(S, D, mesh, eps=1e-6):
    v, f = mesh
    length = np.zeros(len(D))
    near = np.zeros(len(D), bool)
    for start in range(0, len(f), 128):
        tri = f[start:start + 128]
        v0, e1, e2 = v[tri[:, 0]], v[tri[:, 1]] - v[tri[:, 0]], v[tri[:, 2]] - v[tri[:, 0]]
        pvec = np.cross(D[None, :, :], e2[:, None, :])
        det = np.einsum("tj,tpj->tp", e1, pvec)
        with np.errstate(divide="ignore", invalid="ignore"):
            inv = 1.0 / det
            tvec = S[None, :] - v0
            u = np.einsum("tj,tpj->tp", tvec, pvec) * inv
            qvec = np.cross(tvec, e1)
            w = np.einsum("pj,tj->tp", D, qvec) * inv
            t = np.einsum("tj,tj->t", e2, qvec)[:, None] * inv
            third = 1 - u - w
            inside = (u >= 0) & (w >= 0) & (third >= 0) & (t > 0) & np.isfinite(t)
            # det = -D.n: negative where the segment leaves the mesh.
            length += np.where(inside, -np.sign(det) * np.minimum(t, 1), 0).sum(axis=0)
            edge = np.minimum(np.minimum(np.abs(u), np.abs(w)), np.abs(third)) < eps
            near |= (edge & (u > -eps) & (w > -eps) & (third > -eps) & (t > -eps)).any(axis=0)
    return length * np.linalg.norm(D, axis=1), near


def box_chord(S, P, lo, hi):
    """Analytic path length of the segments S->P inside an axis-aligned box."""
    D = P - S
    with np.errstate(divide="ignore", invalid="ignore"):
        t1, t2 = (np.asarray(lo) - S) / D, (np.asarray(hi) - S) / D
    inside_slab = (S >= lo) & (S <= hi)
    t1 = np.where(D == 0, np.where(inside_slab, -np.inf, np.inf), t1)
    t2 = np.where(D == 0, np.where(inside_slab, np.inf, -np.inf), t2)
    enter = np.clip(np.minimum(t1, t2).max(axis=-1), 0, 1)
    leave = np.clip(np.maximum(t1, t2).min(axis=-1), 0, 1)
    return np.maximum(leave - enter, 0) * np.linalg.norm(D, axis=-1)


# ---------------------------------------------------------------- running the program

def task(name, keys, objects, materials=None, extra=""):
    path = os.path.join(WORK, name + ".ini")
    with open(path, "w") as out:
        out.write("[ApplicationTask]\nNumberOfParticles = 10\nRayCasting = true\nPixelType = double\n%s"
                  "[EndApplicationTask]\n[DataSources]\nMaterialsFileName = %s\n[EndDataSources]\n%s"
                  "[Objects]\n%s[EndObjects]\n" % (keys, materials or MATERIALS, extra, objects))
    return path


def run(path, threads=2, stdin=""):
    r = subprocess.run([EXE, "--threads", str(threads), "--interactive", "false", path], cwd=WORK, input=stdin,
                       capture_output=True, text=True, timeout=60)
    return r.returncode, r.stdout, r.stderr


def image(path):
    check(os.path.exists(path), "missing " + path)
    return tifffile.imread(path) if os.path.exists(path) else None


def close(name, got, want, rtol, atol=1e-12, mask=None):
    if got is None:
        return
    check(got.shape == want.shape, "%s: shape %s, want %s" % (name, got.shape, want.shape))
    if got.shape != want.shape:
        return
    ok = np.abs(got - want) <= rtol * np.abs(want) + atol
    if mask is not None:
        ok |= ~mask
    check(ok.all() and np.isfinite(got).all(),
          "%s: %d pixels off, worst %g (got %r, want %r)" % (
              name, (~ok).sum(), np.abs(got - want)[~ok].max() if (~ok).any() else 0,
              got[~ok][:3].tolist(), want[~ok][:3].tolist()))


def outputs(folder):
    return sorted(f for f in os.listdir(folder) if f.endswith(".tiff"))


def same_pixels(first, second, rename=lambda name: name):
    """Identical pixels (the files' date and name tags differ)."""
    names = outputs(first)
    check([rename(n) for n in names] == outputs(second), "different files: %s / %s" % (names, outputs(second)))
    for name in names:
        a, b = image(os.path.join(first, name)), image(os.path.join(second, rename(name)))
        check(a is not None and b is not None and a.tobytes() == b.tobytes(), "%s differs" % name)


# ---------------------------------------------------------------- attenuation

def table_mu(material, energy):
    """Total coefficient from the material's ACRP table, interpolated as the program does."""
    folder = os.path.dirname(MATERIALS)
    with open(os.path.join(folder, material + "_ACRP.txt")) as table:
        header = table.readline().split("\t")
        rows = [list(map(float, line.split())) for line in table if line.strip() and not line.startswith("#")]
    counts = [int(x) for x in header[5].split(",")]
    starts = [float(x) for x in header[6].split(",")]
    strides = [float(x) for x in header[7].split(",")]
    first = 0
    for count, start, stride in zip(counts, starts, strides):
        if start <= energy <= start + (count - 1) * stride:
            x = (energy - start) / stride
            k = min(int(x), count - 2)
            lo, hi = sum(rows[first + k]), sum(rows[first + k + 1])
            return lo + (hi - lo) * (x - k)
        first += count
    raise ValueError(energy)


def simple_mu(material):
    text = open(MATERIALS).read()
    block = re.search(r"\[%s\](.*?)\[End%s\]" % (material, material), text, re.S).group(1)
    simple = re.search(r"\[SimpleMacroscopic\](.*?)\[EndSimpleMacroscopic\]", block, re.S).group(1)
    return sum(float(x) for x in re.findall(r"=\s*([-+0-9.eE]+)", simple))


# ---------------------------------------------------------------- scenarios

def maps():
    """Thickness maps of boxes and PLY meshes from sources on either side of tilted
    detectors, one far away; the source inside an air box, parts behind a source and
    cut by a detector plane. The same run on 1 and 2 threads."""
    parts, meshes = [], {}

    def add(part_and_mesh, material):
        parts.append(part_and_mesh[0])
        meshes.setdefault(material, []).append(part_and_mesh[1])

    add(box_part("WaterBox", "Water", (-1, -1, -1), (1, 1, 1)), "Water")
    sv, sf = icosphere(3)
    add(ply_part("Sphere", "Aluminium", sv + (3, 0, 0), sf), "Aluminium")
    add(ply_part("Ellipsoid", "Lead", sv * (1.5, 0.8, 0.6) + (-3.5, 0.5, 0), sf), "Lead")
    add(box_part("CutByPlane", "Copper", (4, -0.5, -6.5), (5, 0.5, -5.5)), "Copper")
    add(box_part("AirAroundSource", "Air", (-1, -1, 11), (1, 1, 13)), "Air")
    add(box_part("BehindSource", "Iron", (-1, -1, 14), (1, 1, 15)), "Iron")
    sources = [Source("Above", (0, 0, 12), [(60, 1)]), Source("Below", (1, 1, -20), [(60, 1)]),
               Source("Far", (0.3, -0.2, 1e5), [(60, 1)])]
    detectors = [tilted("Front", (0, 0, -6), 20, "x", 16, 64, 48),
                 tilted("Reversed", (0, 0, -7), 25, "y", 16, 40, 56, flip=True),
                 Detector("Fine", (1.5, -1.5, -3), (3, 0, 0), (0, 3, 0), 100, 100)]
    objects = "".join(s.section() for s in sources) + "".join(parts) + "".join(d.section() for d in detectors)
    path = task("maps", "StartImmediately = true\nRadiography = false\n", objects)
    results = {}
    for threads in (1, 2):
        folder = os.path.join(WORK, "maps")
        shutil.rmtree(folder, ignore_errors=True)
        code, out, err = run(path, threads)
        check(code == 0 and "Calculations finished." in out, "maps run failed (%d): %s" % (code, err))
        results[threads] = os.path.join(WORK, "maps_t%d" % threads)
        shutil.rmtree(results[threads], ignore_errors=True)
        os.rename(folder, results[threads])
    same_pixels(results[1], results[2])
    folder = results[2]
    check(len(outputs(folder)) == 9 * 6, "files: %s" % outputs(folder))
    for i, source in enumerate(sources):
        for j, detector in enumerate(detectors):
            prefix = os.path.join(folder, "maps.ini_Source%d_Detector%d_Thickness_" % (i, j))
            P = detector.centres()
            for material, material_meshes in meshes.items():
                got = image(prefix + material + ".tiff")
                want, near = np.zeros(P.shape[:-1]), np.zeros(P.shape[:-1], bool)
                for mesh in material_meshes:
                    length, edges = mesh_chord(source.S, P, mesh)
                    want += length
                    near |= edges
                close("S%d D%d %s" % (i, j, material), got, want, 0, 1e-5, ~near)
            close("S%d D%d box" % (i, j), image(prefix + "Water.tiff"),
                  box_chord(source.S, P, (-1, -1, -1), (1, 1, 1)), 1e-5, 1e-9)
            check(image(prefix + "Iron.tiff").max() == 0 or i != 0, "a part behind the source counts")
    # Far away the rays are nearly parallel: the map integrates to the volume.
    n = np.cross(detectors[2].s1, detectors[2].s2)
    n /= np.linalg.norm(n)
    P = detectors[2].centres()
    cosine = np.abs((P - sources[2].S) @ n) / np.linalg.norm(P - sources[2].S, axis=-1)
    volume = (image(os.path.join(folder, "maps.ini_Source2_Detector2_Thickness_Aluminium.tiff")) * cosine).sum() \
        * detectors[2].pixel_area()
    want = mesh_volume(*meshes["Aluminium"][0])
    check(abs(volume / want - 1) < 0.003, "distant source: volume %g, mesh %g" % (volume, want))


def radiograph_scene():
    parts = [box_part("Slab", "Water", (-5, -5, -1), (5, 5, 1))[0],
             box_part("Vacuum", "void", (6, -2, -1), (8, 2, 1))[0],
             box_part("Stopper", None, (-8, -2, -1), (-6, 2, 1))[0],
             box_part("AirAroundSource", "Air", (5, -1, 19), (7, 1, 21))[0]]
    # The last source's axis runs along the first detector's plane (d_c = S_z there).
    sources = [Source("Mono", (6, 0, 20), [(60, 1)]), Source("TwoLines", (-2, 1, 15), [(40, 1), (80, 3)]),
               Source("Sideways", (-20, 0.5, 0), [(50, 1)])]
    detectors = [Detector("Counts", (-15, -12, -10), (30, 0, 0), (0, 24, 0), 60, 48),
                 tilted("Energies", (0, 0, -12), 15, "x", 28, 50, 40, extra="Energy = true\n")]
    objects = "".join(s.section() for s in sources) + "".join(parts) + "".join(d.section() for d in detectors)
    return sources, detectors, objects


def check_radiographs(folder, name, sources, detectors, mu, caching=True, scale=1, error_scale=1):
    """Every pixel against sum_k w_k exp(-mu_k t - mu_air,k (d - t)) (d_c^2/d^2)(S_z/d),
    times the images' normalisation; void is vacuum, a part without material blocks."""
    for i, source in enumerate(sources):
        for j, detector in enumerate(detectors):
            prefix = os.path.join(folder, "%s.ini_Source%d_Detector%d_" % (name, i, j))
            P, d, geometric = detector.geometry(source)
            water = box_chord(source.S, P, (-5, -5, -1), (5, 5, 1))
            vacuum = box_chord(source.S, P, (6, -2, -1), (8, 2, 1))
            stopper = box_chord(source.S, P, (-8, -2, -1), (-6, 2, 1))
            blocked = stopper > 0
            air = np.maximum(d - water - vacuum - stopper, 0)
            count, energy, square = 0, 0, 0
            for e, w in source.weights():
                value = np.where(blocked, 0, w * np.exp(-mu("Water", e) * water - mu("Air", e) * air) * geometric)
                count, energy, square = count + scale * value, energy + scale * e * value, square + value ** 2
            if j == 0:
                close("%s S%d count" % (name, i), image(prefix + "primary_count.tiff"), count, 1e-5)
                close("%s S%d energy" % (name, i), image(prefix + "primary_energy.tiff"), energy, 1e-5)
                close("%s S%d error" % (name, i), image(prefix + "primary_error.tiff"),
                      np.where(count > 0, error_scale * scale * np.sqrt(square) / np.maximum(count, 1e-300), 0),
                      1e-12)
                check(image(prefix + "scattered_count.tiff").max() == 0, "scattered radiation in a radiograph")
            else:
                close("%s S%d energy image" % (name, i), image(prefix + "primary_energy.tiff"), energy, 1e-5)
            # With Caching the air map is what the other materials leave of the ray; without
            # it, what all parts leave (the air part too).
            air_part = box_chord(source.S, P, (5, -1, 19), (7, 1, 21))
            close("%s S%d air" % (name, i), image(prefix + "Thickness_Air.tiff"),
                  air if caching else np.maximum(air - air_part, 0), 1e-5, 1e-9)
            if caching:
                close("%s S%d void" % (name, i), image(prefix + "Thickness_void.tiff"), vacuum + stopper, 1e-5,
                      1e-9)
            names = sorted(f[len(os.path.basename(prefix)):] for f in os.listdir(folder)
                           if f.startswith(os.path.basename(prefix) + "Thickness_"))
            want = ["Thickness_Air.tiff", "Thickness_Water.tiff", "Thickness_void.tiff"] if caching \
                else ["Thickness_Air.tiff"]
            check(names == sorted(want), "%s S%d D%d maps %s" % (name, i, j, names))


def radiographs():
    """Slab radiographs of mono and two-line sources on a count and an energy
    detector with oblique axes, one along a detector plane: tables, Caching on (1 and 2 threads, Start twice) and
    off, constant coefficients with normalised images in a single-precision scene, void
    and blocking parts."""
    sources, detectors, objects = radiograph_scene()
    runs = {"cached": ("", 2, ""), "started_twice": ("StartImmediately = false\n", 1, "start\nstart\n"),
            "uncached": ("Caching = false\n", 2, ""), "constant": ("", 2, "")}
    for name, (keys, threads, stdin) in runs.items():
        if not stdin:
            keys += "StartImmediately = true\n"
        extra = ""
        if name == "constant":
            keys += "NormalizeImages = 1000\nNormalizeErrors = 7\nSingle = true\n"
            extra = "[MaterialProperties]\nUseTabulatedMacroscopicCoefficients = false\n[EndMaterialProperties]\n"
        code, out, err = run(task(name, keys, objects, extra=extra), threads, stdin)
        check(code == 0, "%s: exit %d: %s" % (name, code, err))
        check(out.count("Calculations finished.") == (2 if stdin else 1), "%s: finished lines" % name)
        check(out.count("\ncast\n") == (2 if stdin else 1), "%s: cast lines" % name)
        mu = (lambda m, e: simple_mu(m)) if name == "constant" else table_mu
        scales = (1000, 7) if name == "constant" else (1, 1)
        check_radiographs(os.path.join(WORK, name), name, sources, detectors, mu, name != "uncached", *scales)
    # Started twice on 1 thread, once on 2: the same pixels.
    same_pixels(os.path.join(WORK, "cached"), os.path.join(WORK, "started_twice"),
                lambda n: n.replace("cached.ini", "started_twice.ini"))
    for i in range(len(sources)):
        for j in range(len(detectors)):
            suffix = "_Source%d_Detector%d_primary_energy.tiff" % (i, j)
            close("Caching off", image(os.path.join(WORK, "uncached", "uncached.ini" + suffix)),
                  image(os.path.join(WORK, "cached", "cached.ini" + suffix)), 1e-12)


def overlaps():
    """A water box holding a higher-priority aluminium box loses exactly its chord;
    swapped priorities leave the aluminium out; without CheckOverlap both count in
    full; equal priorities warn once. Single-precision scene."""
    a_water, a_al = ((-4, -1.5, -1.5), (-1, 1.5, 1.5)), ((-3, -0.5, -0.5), (-2, 0.5, 0.5))
    b_water, b_al = ((1, -1.5, -1.5), (4, 1.5, 1.5)), ((2, -0.5, -0.5), (3, 0.5, 0.5))
    parts = (box_part("WaterA", "Water", *a_water)[0] + box_part("AlA", "Aluminium", *a_al, "Priority = 1\n")[0]
             + box_part("WaterB", "Water", *b_water, "Priority = 2\n")[0]
             + box_part("AlB", "Aluminium", *b_al, "Priority = 1\n")[0]
             + box_part("Iron", "Iron", (-0.5, 3, -0.5), (0.5, 4, 0.5))[0]
             + box_part("Copper", "Copper", (0, 3.5, 0), (1, 4.5, 1))[0])
    source = Source("Tube", (0.2, 0.1, 20), [(60, 1)])
    detector = Detector("Panel", (-10, -10, -10), (20, 0, 0), (0, 20, 0), 60, 60)
    objects = source.section() + parts + detector.section()
    P = detector.centres()
    chord = {k: box_chord(source.S, P, *v) for k, v in
             {"aw": a_water, "aa": a_al, "bw": b_water, "ba": b_al}.items()}
    for check_overlap in (True, False):
        name = "overlap_%d" % check_overlap
        keys = "StartImmediately = true\nSingle = true\nRadiography = false\n"
        code, out, err = run(task(name, keys, objects.replace("[Object]", "CheckOverlap = %s\n[Object]" % (
            "true" if check_overlap else "false"), 1)))
        check(code == 0, "%s: exit %d %s" % (name, code, err))
        check(err.count("Partially overlapping objects yield ambiguous intersections") == int(check_overlap),
              "%s: ambiguity warnings: %s" % (name, err))
        prefix = os.path.join(WORK, name, name + ".ini_Thickness_")
        if check_overlap:
            water, aluminium = chord["aw"] - chord["aa"] + chord["bw"], chord["aa"]
        else:
            water, aluminium = chord["aw"] + chord["bw"], chord["aa"] + chord["ba"]
        close(name + " water", image(prefix + "Water.tiff"), water, 1e-5, 1e-6)
        close(name + " aluminium", image(prefix + "Aluminium.tiff"), aluminium, 1e-5, 1e-6)


def errors():
    """Failures end an unattended run with 255 and write no images."""
    source = Source("Tube", (0, 0, 20), [(60, 1)])
    detector = Detector("Panel", (-10, -10, -10), (20, 0, 0), (0, 20, 0), 8, 8)
    v, f = box_mesh((-1, -1, -1), (1, 1, 1))
    write_ply(os.path.join(WORK, "open.ply"), v, np.delete(f, 0, axis=0))  # a hole in the bottom
    no_air = os.path.join(WORK, "materials_without_air.ini")
    with open(no_air, "w") as out:
        out.write("[Materials]\n[Water]\nDensity = 1\n[SimpleMacroscopic]\nPhotoEffectCoefficient = 0.1\n"
                  "ComptonCoefficient = 0.1\nRayleighCoefficient = 0\nPairProductionCoefficient = 0\n"
                  "[EndSimpleMacroscopic]\n[EndWater]\n[EndMaterials]\n")
    water = box_part("Slab", "Water", (-2, -2, -1), (2, 2, 1))[0]
    cases = {
        "no_air": (source.section() + water + detector.section(), no_air,
                   'Ray casting needs the material "air", which the materials file does not define'),
        "in_plane": (Source("Flat", (0, 0, -10), [(60, 1)]).section() + water + detector.section(), None,
                     "Source Flat lies in the plane of detector Panel"),
        "open_mesh": (source.section() + "[Object]\nObjectType = Part\nName = Open\nMaterialName = Water\n"
                      "PLYFile = open.ply\nCheckClosed = false\n[EndObject]\n" + detector.section(), None,
                      "Not a closed surface at ("),
    }
    # Without StartImmediately, from commands on standard input: Start works again after a failure.
    cases["open_mesh_typed"] = cases["open_mesh"]
    for name, (objects, materials, message) in cases.items():
        extra = "[MaterialProperties]\nUseTabulatedMacroscopicCoefficients = false\n[EndMaterialProperties]\n"
        typed = name.endswith("typed")
        path = task(name, "" if typed else "StartImmediately = true\n", objects, materials, extra if materials else "")
        code, out, err = run(path, stdin="start\nstart\n" if typed else "")
        check(out.count("\ncast\n") == (2 if typed else 1), name + ": a failed Start is not accepted again")
        check(code == 255, "%s: exit %d" % (name, code))
        check(message in err, "%s: %r not in %r" % (name, message, err))
        check("Calculations finished." not in out, name + " finished")
        folder = os.path.join(WORK, name)
        check(not os.path.isdir(folder) or not outputs(folder), "%s wrote %s" % (name, outputs(folder)))


def montecarlo():
    """The tracer against the radiograph: a point source whose cone covers the panel,
    a water slab over part of it. The primary image per emitted particle is the
    radiograph without air (the tracer sees vacuum outside parts) times a/(omega d_c^2),
    to within the images' own errors (chi-square at 1%)."""
    cone = 0.4
    source = Source("Point", (0, 0, 20), [(60, 1)])
    detector = Detector("Panel", (-8, -8, -10), (16, 0, 0), (0, 16, 0), 8, 8)
    objects = (source.section().replace("[EndObject]", "ConeAngle = %r\n[EndObject]" % cone)
               + box_part("Slab", "Water", (-3, -3, -1), (3, 3, 1))[0] + detector.section())
    code, out, err = run(task("cast", "StartImmediately = true\n", objects))
    check(code == 0, "ray casting: exit %d: %s" % (code, err))
    keys = "StartImmediately = true\nRayCasting = false\nRandomSeed = 1\nNumberOfParticles = 2000000\nBatchSize = 50000\n"
    code, out, err = run(task("traced", keys, objects))
    check(code == 0, "Monte Carlo: exit %d: %s" % (code, err))
    if FAILURES:
        return
    radiograph = image(os.path.join(WORK, "cast", "cast.ini_primary_count.tiff"))
    air = image(os.path.join(WORK, "cast", "cast.ini_Thickness_Air.tiff"))
    traced = image(os.path.join(WORK, "traced", "traced.ini_Detector0_primary_count.tiff"))
    error = image(os.path.join(WORK, "traced", "traced.ini_Detector0_primary_error.tiff"))
    if radiograph is None or air is None or traced is None or error is None:
        return
    omega = 2 * math.pi * (1 - math.cos(cone))
    dc = 30.0
    want = radiograph * np.exp(table_mu("Air", 60) * air) * detector.pixel_area() / (omega * dc * dc)
    check((traced > 0).all() and (error > 0).all(), "Monte Carlo pixels without counts")
    if not (traced > 0).all():
        return
    # The radiograph samples the pixel centre, the tracer the whole pixel: pixels that the
    # slab's shadow edge crosses are left out.
    step1, step2 = detector.s1 / detector.columns, detector.s2 / detector.rows
    centre = box_chord(source.S, detector.centres(), (-3, -3, -1), (3, 3, 1))
    uniform = np.ones(centre.shape, bool)
    for a in (-0.5, 0.5):
        for b in (-0.5, 0.5):
            corner = box_chord(source.S, detector.centres() + a * step1 + b * step2, (-3, -3, -1), (3, 3, 1))
            uniform &= (corner > 0) == (centre > 0)
    chi2 = float(((((traced - want) / (error * traced)) ** 2)[uniform]).sum())
    k = int(uniform.sum())
    # Wilson-Hilferty: chi2/k is nearly normal in its cube root.
    z = ((chi2 / k) ** (1 / 3) - (1 - 2 / (9 * k))) / math.sqrt(2 / (9 * k))
    check(z < 2.326, "Monte Carlo against the radiograph: chi2 %g for %d pixels" % (chi2, k))
    check((uniform & (centre > 0)).any() and (uniform & (centre == 0)).any(),
          "the slab should shade part of the panel")


{"maps": maps, "montecarlo": montecarlo, "radiographs": radiographs, "overlaps": overlaps, "errors": errors}[SCENARIO]()
for failure in FAILURES[:40]:
    print(failure)
print("%d failures" % len(FAILURES))
sys.exit(1 if FAILURES else 0)

"""Checks volumetric detector results with meshio and numpy.

Usage: check_volumes.py grid PREFIX
       check_volumes.py pencil PREFIX PARTICLES ACRP_TABLE ENERGY
       check_volumes.py energy PARTICLES ENERGY PREFIX...
Prints "ok" or the failures.
"""
import sys

import meshio
import numpy as np

failures = []


def check(condition, *what):
    if not condition:
        failures.append(what)


def cells(prefix, index, quantity):
    """The cell values of one result file, shape (cells, components)."""
    mesh = meshio.read(f"{prefix}_TraceDetector{index}_{quantity}.vtk")
    name = {"count": "Count", "energy": "EnergyLoss", "error": "Uncertainty", "interactions": "InteractionCount",
            "meanenergy": "Energy"}[quantity]
    values = np.asarray(mesh.cell_data[name][0], dtype=float)
    return mesh, values.reshape(len(values), -1)


def header(path):
    with open(path, "rb") as f:
        return [f.readline().decode("latin-1").strip() for _ in range(7)]


def grid(prefix):
    # An axis-aligned 2 x 3 x 4 grid at (-1.5, 0.25, 2) with sides 3, 1.5, 4.8.
    mesh, counts = cells(prefix, 0, "count")
    hexes = [c for c in mesh.cells if c.type == "hexahedron"]
    check(len(mesh.points) == 60, "points", len(mesh.points))
    check(len(hexes) == 1 and len(hexes[0].data) == 24, "hexahedra", [(c.type, len(c.data)) for c in mesh.cells])
    lines = header(f"{prefix}_TraceDetector0_count.vtk")
    check(lines[1] == "Interaction Counts" and lines[3] == "DATASET STRUCTURED_POINTS", "header", lines)
    check(lines[5] == "ORIGIN -1.5 0.25 2" and lines[6] == "SPACING 1.5 0.5 1.2", "origin, spacing", lines)
    check(np.allclose(mesh.points.min(axis=0), [-1.5, 0.25, 2]), "corner", mesh.points.min(axis=0))
    check(np.allclose(mesh.points.max(axis=0), [1.5, 1.75, 6.8]), "far corner", mesh.points.max(axis=0))
    # The same box turned by 30 degrees about z around (1, 2, 0), in the placement's sense
    # (clockwise seen from +z): every point analytic, x fastest; float points.
    mesh, _ = cells(prefix, 1, "count")
    c, s = np.cos(np.radians(30)), np.sin(np.radians(30))
    turn = np.array([[c, s, 0], [-s, c, 0], [0, 0, 1]])
    k, j, i = np.meshgrid(np.arange(5), np.arange(4), np.arange(3), indexing="ij")
    local = np.stack([-1.5 + 1.5 * i, 0.25 + 0.5 * j, 2 + 1.2 * k], axis=-1).reshape(-1, 3)
    expected = (local - [1, 2, 0]) @ turn.T + [1, 2, 0]
    check(mesh.points.shape == expected.shape and np.allclose(mesh.points, expected, atol=1e-5),
          "turned points", mesh.points[:3], expected[:3])
    check(header(f"{prefix}_TraceDetector1_count.vtk")[3] == "DATASET STRUCTURED_GRID", "turned dataset")
    # Ten energy bins: ten components per cell, whose sum is the one-bin count.
    _, binned = cells(prefix, 2, "count")
    check(binned.shape == (24, 10), "bins", binned.shape)
    check(np.allclose(binned.sum(axis=1), counts[:, 0], rtol=1e-12), "bins sum to the count")
    check(counts.sum() > 0, "something scored")


def attenuation(table, energy):
    """The photo-effect coefficient (1/cm) of a Tarvo attenuation table at an energy, interpolated linearly."""
    with open(table) as f:
        first = f.readline().split("\t")
        rows = np.array([[float(v) for v in line.split()] for line in f if not line.startswith("#")])
    counts = [int(v) for v in first[5].split(",")]
    starts = [float(v) for v in first[6].split(",")]
    strides = [float(v) for v in first[7].split(",")]
    offset = 0
    for n, e0, de in zip(counts, starts, strides):
        if e0 <= energy < e0 + n * de:
            x = (energy - e0) / de
            i = int(x)
            a, b = rows[offset + i, 0], rows[offset + i + 1, 0]
            return a + (x - i) * (b - a)
        offset += n
    raise ValueError("energy outside the table")


def pencil(prefix, particles, table, energy):
    # A pencil beam along z at (-0.5, 1) through a photo-effect-only slab 10 cm deep:
    # cells (1, 2, k) of the 4 x 3 x 5 grid (detector 1) and the slab's own 1 x 1 x 5 grid (detector 0).
    n = float(particles)
    _, part = cells(prefix, 0, "count")
    _, mesh = cells(prefix, 1, "count")
    _, loss = cells(prefix, 1, "energy")
    grid = (mesh[:, 0] * n).reshape(5, 3, 4)  # z, y, x
    beam = grid[:, 2, 1].copy()
    grid[:, 2, 1] = 0
    check(not grid.any(), "counts outside the beam's cells", np.argwhere(grid))
    check(np.allclose(part[:, 0] * n, beam, rtol=1e-12), "the part's profile", part[:, 0] * n, beam)
    check(np.allclose(loss[:, 0], float(energy) * mesh[:, 0], rtol=1e-12), "EnergyLoss = E0 Count")
    # Every photon stops at its first interaction, with the energy it was born with.
    scored = mesh[:, 0] > 0
    _, error = cells(prefix, 1, "error")
    _, interactions = cells(prefix, 1, "interactions")
    _, mean_energy = cells(prefix, 1, "meanenergy")
    check(np.allclose(error[scored, 0], 1 / np.sqrt(mesh[scored, 0] * n), rtol=1e-9), "uncertainty 1/sqrt(n)")
    check(np.all(interactions[scored, 0] == 1) and np.all(mean_energy[scored, 0] == float(energy)), "averages")
    check(not (error[~scored].any() or interactions[~scored].any() or mean_energy[~scored].any()), "empty cells")
    mu = attenuation(table, float(energy))
    z = np.arange(6) * 2.0
    expected = n * (np.exp(-mu * z[:-1]) - np.exp(-mu * z[1:]))
    chi2 = float(((beam - expected) ** 2 / expected).sum())
    # 5 degrees of freedom: p = 0.001 at 20.5.
    check(chi2 < 20.5, "chi-square", chi2, beam, expected)


def energy(particles, energy, prefixes):
    # Energy lost in the volume plus energy through the six planes around it, per
    # emitted particle: exactly E0 without splitting (first prefix), and within 4 sigma
    # over the other runs (with splitting).
    import tifffile

    totals = []
    for prefix in prefixes:
        _, loss = cells(prefix, 0, "energy")
        planes = sum(float(tifffile.imread(f"{prefix}_Detector{d}_total_energy.tiff").sum()) for d in range(6))
        totals.append(loss.sum() + planes)
        counts = sum(float(tifffile.imread(f"{prefix}_Detector{d}_total_count.tiff").sum()) for d in range(6))
        _, contributions = cells(prefix, 1, "count")
        check(abs(contributions.sum() - counts) < 1e-9 * counts, "contributions", contributions.sum(), counts)
    check(abs(totals[0] - float(energy)) < 1e-6 * float(energy), "without splitting", totals[0])
    split = np.array(totals[1:])
    sigma = split.std(ddof=1) / np.sqrt(len(split))
    check(abs(split.mean() - float(energy)) < 4 * sigma, "with splitting", split.mean(), sigma)


mode = sys.argv[1]
if mode == "grid":
    grid(sys.argv[2])
elif mode == "pencil":
    pencil(*sys.argv[2:6])
elif mode == "energy":
    energy(sys.argv[2], sys.argv[3], sys.argv[4:])
print(failures if failures else "ok")

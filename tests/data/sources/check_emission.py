"""Independent checks of tarvo-emit output (one line per emission:
"source x y z ux uy uz energy weight status", then "# draws N").

    check_emission.py CHECK PARAMS_JSON OUTPUT [OUTPUT2] [-- CHECK ...]

Prints what it found; exits non-zero when a check fails. Statistical checks use
fixed seeds on the program side and fail below p = 0.001 (chi-square) or beyond
4 standard deviations.
"""
import json
import math
import sys

import numpy as np

failures = []


def expect(condition, text):
    print(("ok   " if condition else "FAIL ") + text)
    if not condition:
        failures.append(text)


def load(path):
    rows, draws = [], None
    with open(path) as f:
        for line in f:
            if line.startswith("# draws"):
                draws = int(line.split()[2])
            elif line.strip():
                rows.append([float(v) for v in line.split()])
    return np.array(rows), draws


def chi2_p(chi2, dof):
    # Wilson-Hilferty: (chi2/dof)^(1/3) is nearly normal.
    z = ((chi2 / dof) ** (1.0 / 3) - (1 - 2.0 / (9 * dof))) / math.sqrt(2.0 / (9 * dof))
    return 0.5 * math.erfc(z / math.sqrt(2))


def uniform(values, name, bins=20):
    counts, _ = np.histogram(values, bins=bins, range=(0.0, 1.0))
    expected = len(values) / bins
    chi2 = float(((counts - expected) ** 2 / expected).sum())
    p = chi2_p(chi2, bins - 1)
    expect(p > 1e-3 and counts.sum() == len(values), "%s uniform: chi2 %.1f, p %.3g" % (name, chi2, p))


def rotation(theta, phi):
    """Source-to-world rotation Rz(phi) Ry(theta)."""
    ct, st, cp, sp = math.cos(theta), math.sin(theta), math.cos(phi), math.sin(phi)
    ry = np.array([[ct, 0, st], [0, 1, 0], [-st, 0, ct]])
    rz = np.array([[cp, -sp, 0], [sp, cp, 0], [0, 0, 1]])
    return rz @ ry


def local_frame(p):
    r = rotation(p.get("theta", 0.0), p.get("phi", 0.0))
    return r, np.array(p.get("center", [0.0, 0.0, 0.0]))


def check_shape(p, data):
    r, c = local_frame(p)
    q = data[:, 1:4] @ r - c  # world to the oriented frame, then minus the base centre
    sides = [np.array(s, dtype=float) for s in p["sides"]]
    flat = not sides[2].any()
    if flat:
        sides[2] = np.cross(sides[0], sides[1])
    u = np.linalg.solve(np.column_stack(sides), q.T).T
    shape = p["shape"]
    eps = 1e-9
    if flat:
        expect(np.abs(u[:, 2]).max() < eps, "flat source: points in the plane of its sides")
    if shape == "cuboid":
        expect(np.abs(u).max() <= 0.5 + eps, "cuboid: no point outside")
        for k in range(2 if flat else 3):
            uniform(u[:, k] + 0.5, "cuboid coordinate %d" % k)
    elif shape == "cylinder":
        r2 = 4 * (u[:, 0] ** 2 + u[:, 1] ** 2)
        expect(r2.max() <= 1 + eps and np.abs(u[:, 2]).max() <= 0.5 + eps, "cylinder: no point outside")
        uniform(np.minimum(r2, 1 - 1e-15), "cylinder r^2")
        uniform((np.arctan2(u[:, 1], u[:, 0]) / (2 * math.pi)) % 1.0, "cylinder phi")
        if not flat:
            uniform(u[:, 2] + 0.5, "cylinder z")
    else:
        rad = 2 * np.linalg.norm(u, axis=1)
        expect(rad.max() <= 1 + eps, "%s: no point outside" % shape)
        cos = u[:, 2] / np.maximum(np.linalg.norm(u, axis=1), 1e-300)
        uniform(np.minimum(rad ** 3, 1 - 1e-15), shape + " r^3")
        uniform((np.arctan2(u[:, 1], u[:, 0]) / (2 * math.pi)) % 1.0, shape + " phi")
        if shape == "ellipsoid":
            uniform((cos + 1) / 2, "ellipsoid cos")
        else:
            expect(u[:, 2].min() >= -eps, "semiellipsoid: z >= 0")
            uniform(np.minimum(cos, 1 - 1e-15), "semiellipsoid cos")


def local_directions(p, data):
    r, _ = local_frame(p)
    return data[:, 4:7] @ r


def check_cone(p, data):
    d = local_directions(p, data)
    cos_a = math.cos(p["cone"])
    uniform((d[:, 2] - cos_a) / (1 - cos_a), "cone cos theta")
    uniform((np.arctan2(d[:, 1], d[:, 0]) / (2 * math.pi)) % 1.0, "cone phi")


def window_fraction(p):
    """Share of the cone's solid angle inside the window, by midpoint quadrature."""
    n = 2000
    cos_a = math.cos(p["cone"])
    ct = cos_a + (1 - cos_a) * (np.arange(n) + 0.5) / n
    ph = 2 * math.pi * (np.arange(n) + 0.5) / n
    ct, ph = np.meshgrid(ct, ph)
    st = np.sqrt(1 - ct * ct)
    h = np.arctan2(st * np.cos(ph), ct)
    v = np.arctan2(st * np.sin(ph), ct)
    left, right, top, bottom = p["window"]
    return float(((h >= left) & (h <= right) & (v >= bottom) & (v <= top)).mean())


def check_window(p, data):
    d = local_directions(p, data)
    h = np.arctan2(d[:, 0], d[:, 2])
    v = np.arctan2(d[:, 1], d[:, 2])
    left, right, top, bottom = p["window"]
    inside = (h >= left) & (h <= right) & (v >= bottom) & (v <= top)
    edge = np.minimum.reduce([abs(h - left), abs(h - right), abs(v - top), abs(v - bottom)]) < 1e-9
    accepted = data[:, 9] == 0
    expect(((accepted == inside) | edge).all(), "status 0 exactly for directions inside the window")
    f = window_fraction(p)
    n = len(data)
    sigma = math.sqrt(f * (1 - f) / n)
    expect(abs(accepted.mean() - f) < 4 * sigma + 1e-4,
           "accepted fraction %.5f, quadrature %.5f (sigma %.5f)" % (accepted.mean(), f, sigma))


def check_same_draws(p, a, b):
    (x, dx), (y, dy) = a, b
    expect(dx == dy, "draws alike: %s and %s" % (dx, dy))
    expect(np.array_equal(x[:, 1:4], y[:, 1:4]), "positions alike")
    expect(np.array_equal(x[:, 7], y[:, 7]), "energies alike")
    expect(np.array_equal(x[:, 8], y[:, 8]), "weights alike")


def check_point(p, data):
    r, c = local_frame(p)
    expect(np.allclose(data[:, 1:4], r @ c, atol=1e-12), "every particle starts at the base centre")
    expect(np.allclose(data[:, 4:7], r[:, 2], atol=1e-12), "every particle flies along the axis")


def check_toward(p, data):
    target = np.array(p["target"])
    l = target - data[:, 1:4]
    l /= np.linalg.norm(l, axis=1)[:, None]
    expect(np.allclose(data[:, 4:7], l, atol=1e-12), "directions aim at the target")
    d = l @ local_frame(p)[0]
    inside = d[:, 2] >= math.cos(p["cone"])
    expect(((data[:, 9] == 0) == inside).all(), "accepted exactly inside the cone (%d of %d)" % (inside.sum(), len(d)))


def check_spectrum(p, data):
    energies, weights = np.array(p["energies"]), np.array(p["weights"], dtype=float)
    probs = weights / weights.sum()
    e = data[:, 7]
    expect(np.isin(e, energies).all(), "every energy is a line energy")
    counts = np.array([(e == x).sum() for x in energies])
    expected = probs * len(e)
    chi2 = float(((counts - expected) ** 2 / expected).sum())
    dof = len(energies) - 1
    pv = chi2_p(chi2, dof) if dof > 0 else 1.0
    expect(pv > 1e-3, "line counts %s for %s: chi2 %.2f, p %.3g" % (counts.tolist(), probs.round(4).tolist(), chi2, pv))


def check_map(p, data):
    m = np.array(p["map"], dtype=float)
    rows, cols = m.shape
    m = m * m.size / m.sum()
    _, c = local_frame(p)
    q = data[:, 1:4] @ local_frame(p)[0] - c
    sx, sy = np.array(p["sides"][0])[0], np.array(p["sides"][1])[1]
    x, y = q[:, 0] / sx, q[:, 1] / sy
    col = np.minimum((np.floor((x + 0.5) * cols)).astype(int), cols - 1)
    row = np.minimum((np.floor((0.5 - y) * rows)).astype(int), rows - 1)
    expect(np.allclose(data[:, 8], m[row, col], rtol=1e-12), "each weight is the map at its pixel")
    w = data[:, 8]
    sigma = w.std() / math.sqrt(len(w))
    expect(abs(w.mean() - 1) < 4 * sigma, "mean weight %.4f, 1 within 4 sigma (%.4f)" % (w.mean(), sigma))


def run(check, params, paths):
    params = json.loads(params)
    outputs = [load(path) for path in paths]
    data, draws = outputs[0]
    print("%s %s" % (check, " ".join(paths)))
    if check == "same":
        check_same_draws(params, outputs[0], outputs[1])
    else:
        {"shape": check_shape, "cone": check_cone, "window": check_window, "toward": check_toward, "point": check_point,
         "spectrum": check_spectrum, "map": check_map}[check](params, data)
    if "draws" in params:
        expect(draws == params["draws"], "draws %s, expected %s" % (draws, params["draws"]))


def main():
    # Several checks per run, separated by "--", to start the interpreter once.
    args = sys.argv[1:]
    while args:
        end = args.index("--") if "--" in args else len(args)
        run(args[0], args[1], args[2:end])
        args = args[end + 1:]
    sys.exit(1 if failures else 0)


main()

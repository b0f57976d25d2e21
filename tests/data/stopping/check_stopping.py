#!/usr/bin/python3
"""Independent checks of stop conditions and spectrum files.

Reads what tarvo wrote as a user would: the console output, the results files and the
".xrs" spectra (parsed here from their text, not by tarvo's code), and recomputes the
expectations with numpy from the material tables tarvo loads. Usage:

    check_stopping.py goal OUT1 OUT2 MATERIALS_DIR         (stop at the predicted round)
    check_stopping.py spread RESULTS...                     (error estimate vs spread of seeds)
    check_stopping.py spectra DIR N_MONO N_LINES MATERIALS_DIR  (pencil beams through slabs)
"""

import math
import pathlib
import re
import sys

import numpy as np

failures = []


def check(condition, text):
    print(("ok    " if condition else "FAIL  ") + text)
    if not condition:
        failures.append(text)


def mu(materials, name, energy):
    """Linear attenuation coefficient (1/cm) of a material's ACRP table at an energy,
    interpolated linearly between the table's levels as tarvo does."""
    lines = (pathlib.Path(materials) / (name + "_ACRP.txt")).read_text().splitlines()
    header = lines[0].split("\t")
    counts = [int(x) for x in header[5].split(",")]
    starts = [float(x) for x in header[6].split(",")]
    strides = [float(x) for x in header[7].split(",")]
    energies = np.concatenate([s + d * np.arange(n) for n, s, d in zip(counts, starts, strides)])
    rows = np.array([[float(v) for v in l.split()] for l in lines[1:] if l and not l.startswith("#")])
    total = rows.sum(axis=1)
    return float(np.interp(energy, energies[: len(total)], total))


def parse_xrs(text):
    """The spectra of a .xrs file: a list of (pixel index or None, scale, uncertainty, rows)."""
    spectra = []
    lines = text.split("\n")
    i = 0
    index = None
    if lines and lines[0].startswith("# Tarvo spectra: "):
        i = 1
    while i < len(lines) and lines[i] != "":
        line = lines[i]
        if re.fullmatch(r"# \d+", line):
            index = int(line[2:])
            i += 1
            continue
        assert line == "# Bin: true", line
        scale = float(lines[i + 1].removeprefix("# Scale: "))
        fields = lines[i + 2]
        uncertainty = fields == "# Fields: energy [keV], count, absolute uncertainty (1 sigma)"
        assert uncertainty or fields == "# Fields: energy [keV], count", fields
        i += 3
        rows = []
        while lines[i] != "#EOF":
            rows.append([float(v) for v in lines[i].split("\t")])
            i += 1
        assert lines[i + 1] == "", "a blank line follows #EOF"
        i += 2
        spectra.append((index, scale, uncertainty, np.array(rows)))
        index = None
    return spectra


def check_layout(name, spectra, low, width, bins):
    ok = all(len(s[3]) == bins and np.allclose(s[3][:, 0], low + (np.arange(bins) + 0.5) * width) for s in spectra)
    check(ok and len(spectra) > 0, f"{name}: {len(spectra)} spectra of {bins} bins centred from {low + width / 2} keV")


def status_lines(out):
    return re.findall(r"^Detector: 0: Max Primary Error <= 0.02: ([0-9.e+-]+) \((met|not met)\)$", out, re.M)


def emitted(out):
    return int(re.search(r"Number Of Particles Emitted:  (\d+)", out).group(1))


def goal(out1, out2, materials):
    outs = [pathlib.Path(p).read_text() for p in (out1, out2)]
    n = [emitted(o) for o in outs]
    check(n[0] == n[1], f"the run stops at the same history on 1 and 2 threads ({n[0]}, {n[1]})")
    status = status_lines(outs[0])
    check(status[-1][1] == "met" and float(status[-1][0]) <= 0.02, f"reported error {status[-1][0]} <= 0.02")
    check(all(s[1] == "not met" for s in status[:-1]), "every earlier round was short of the goal")
    count = float(re.search(r"Didn't Interact: ([0-9.e+]+)", outs[0]).group(1))
    check(count >= 2500, f"primary count {count} reached 2500")
    # Rounds come at the first boundary (batches of 10) at or after 1000 * 1.25^k.
    rounds = [math.ceil(1000 * 1.25 ** k / 10) * 10 for k in range(60)]
    check(n[0] in rounds, f"{n[0]} histories is a round of the schedule")
    p = math.exp(-mu(materials, "Water", 60) * 4)
    predicted = 2500 / p
    # The count crosses 2500 within a few percent of the prediction; the round after it
    # is at most 25% later.
    sigma = math.sqrt(predicted * p * (1 - p)) / p
    check(predicted - 4 * sigma <= n[0] <= 1.25 * (predicted + 4 * sigma),
          f"stopped at {n[0]} histories, predicted {predicted:.0f} (+25% at most)")


def spread(results):
    """Per-particle scattered counts of independent seeds against their reported errors."""
    values, errors = [], []
    for path in results:
        text = pathlib.Path(path).read_text()
        m = re.search(r"Number Of Scattered/Secondary Particles: .*\[rel\.: ([0-9.e+-]+) \+- ([0-9.e+-]+)\]", text)
        values.append(float(m.group(1)))
        errors.append(float(m.group(2)))
    values, errors = np.array(values), np.array(errors)
    k = len(values) - 1
    chi2 = float(np.sum((values - values.mean()) ** 2 / errors**2)) * len(values) / k
    # Wilson-Hilferty bounds of chi-square with k degrees of freedom at p = 0.001 (two-sided).
    z = 3.29
    low, high = (k * (1 - 2 / (9 * k) + s * z * math.sqrt(2 / (9 * k))) ** 3 for s in (-1, 1))
    check(low <= chi2 <= high, f"chi-square of {len(values)} seeds {chi2:.1f} within [{low:.1f}, {high:.1f}]")


def spectra(directory, mono_particles, lines_particles, materials):
    d = pathlib.Path(directory)
    n = float(mono_particles)
    # Detector 0: 60 keV through 1 cm Al, 1x1 flex with (Basic) (SpectrometerUncertainty, 0, 100, 100).
    primary = parse_xrs((d / "mono.ini_Detector0_primary_spectra.xrs").read_text())
    check_layout("Tarvo file", primary, 0, 1, 100)
    check(primary[0][0] == 0 and abs(primary[0][1] - 1 / n) < 1e-12 / n, "pixel index 0 and scale 1/N")
    counts = primary[0][3][:, 1]
    expected = math.exp(-mu(materials, "Aluminium", 60) * 1)
    check(np.count_nonzero(counts) == 1 and counts[59] > 0, "the primary spectrum has bin 59 only")
    check(abs(counts[59] / expected - 1) < 1e-4, f"primary per particle {counts[59]:.6f} = e^(-mu t) {expected:.6f}")
    registrator = parse_xrs((d / "mono.ini_Detector0_Registrator0.xrs").read_text())
    check_layout("registrator", registrator, 0, 1, 100)
    total = parse_xrs((d / "mono.ini_Detector0_total_spectra.xrs").read_text())
    for name, s in (("registrator", registrator[0]), ("total spectrum", total[0])):
        check(not np.any(s[3][60:, 1]), f"{name}: nothing above 60 keV")
        check(np.all(s[3][:, 2] >= 0) and np.all((s[3][:, 1] == 0) <= (s[3][:, 2] == 0)),
              f"{name}: uncertainties present where counts are")
    image = np.fromfile(d / "mono.ini_Detector0_total_count.d1x1.raw", dtype="<f8")
    sums = [registrator[0][3][:, 1].sum(), total[0][3][:, 1].sum(), float(image.sum())]
    check(np.allclose(sums, sums[0], rtol=1e-9), f"registrator, flex spectra and image totals agree: {sums}")
    scattered = parse_xrs((d / "mono.ini_Detector0_01_spectra.xrs").read_text())
    check(not np.any(scattered[0][3][60:, 1]) and scattered[0][3][:, 1].sum() > 0,
          "scattered once: counts, none above 60 keV")
    # Detector 1: 2x2 MultipleXRS, TotalOnly, (SpectrometerUncertainty, 20, 70, 50): a file per row.
    for row in (0, 1):
        rows = parse_xrs((d / f"mono.ini_Detector1_total_spectra_{row}.xrs").read_text())
        check_layout(f"MultipleXRS row {row}", rows, 20, 1, 50)
        check([s[0] for s in rows] == [2 * row, 2 * row + 1], f"row {row} holds pixels {2 * row}, {2 * row + 1}")

    # Lines of 30, 50 and 80 keV (1 : 2 : 1) through 2 cm water, SingleXRS (decompressed).
    lines = {30: 0.25, 50: 0.5, 80: 0.25}
    n = float(lines_particles)
    single = parse_xrs((d / "lines_primary_spectra_0.xrs").read_text())
    check_layout("SingleXRS (decompressed)", single, 0, 1, 100)
    counts = single[0][3][:, 1] / single[0][1]
    check(single[0][0] is None and np.count_nonzero(counts) == 3, "one spectrum, three lines")
    chi2 = 0.0
    for energy, share in lines.items():
        e = math.exp(-mu(materials, "Water", energy) * 2)
        mean, var = n * share * e, n * share * (1 - share) * e * e
        chi2 += (counts[energy - 1] - mean) ** 2 / var
    check(chi2 < 16.27, f"per-line primary P_i e^(-mu_i t): chi-square {chi2:.2f} < 16.27 (3 dof, p = 0.001)")


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "spread":
        spread(args)
    else:
        {"goal": goal, "spectra": spectra}[command](*args)
    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)


if __name__ == "__main__":
    main()

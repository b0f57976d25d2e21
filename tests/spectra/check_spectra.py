#!/usr/bin/python3
"""Independent checks of tarvo-spectrum and of the shipped tube spectra.

Reads the spectrum files as a user would (energy and intensity columns, '#'
header) and recomputes the beam quality with numpy alone: aluminium's
attenuation from the XCOM element table (log-log per component, as XCOM
interpolates), air kerma from the Hubbell-Seltzer mu_en/rho of dry air, line
energies from xraylib. Usage:

    check_spectra.py {shipped,physics,regenerate,bad-inputs} --tool TARVO_SPECTRUM [--tarvo TARVO]
    check_spectra.py regenerate --update --tool TARVO_SPECTRUM   (rewrites examples/spectra/)
"""

import argparse
import os
import pathlib
import re
import shlex
import subprocess
import sys
import tempfile

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples" / "spectra"
AL_DENSITY = 2.699  # g/cm^3
# IEC 61267 radiographic qualities: tube voltage (kV) and first HVL (mm Al).
QUALITIES = {"RQR3": (50, 1.78), "RQR5": (70, 2.58), "RQR8": (100, 3.97), "RQR9": (120, 5.00)}

failures = []


def check(condition, text):
    print(("ok    " if condition else "FAIL  ") + text)
    if not condition:
        failures.append(text)


def read_table(path, columns):
    """Rows of a '#'-commented table: energies in keV and the chosen columns."""
    data = np.loadtxt(path, comments="#")
    return data[:, 0] * 1000.0, data[:, columns]


def loglog(energies, values, e):
    """Log-log interpolation; at an edge (two rows of one energy) the upper row applies."""
    i = np.clip(np.searchsorted(energies, e, side="right") - 1, 0, len(energies) - 2)
    e0, e1 = energies[i], energies[i + 1]
    v0, v1 = values[i], values[i + 1]
    with np.errstate(divide="ignore", invalid="ignore"):
        t = np.log(e / e0) / np.log(e1 / e0)
        out = np.exp(np.log(v0) + t * np.log(v1 / v0))
    return np.where((v0 > 0) & (v1 > 0), out, 0.0)


XCOM_E, XCOM_AL = read_table(ROOT / "data" / "xcom" / "Z013_Al.txt", [1, 2, 3])
AIR_E, AIR_MUEN = read_table(ROOT / "data" / "mu-en" / "air.txt", 2)


def mu_al(e):
    """Linear attenuation coefficient of aluminium (1/mm): coherent + incoherent + photo (no pair below 1 MeV)."""
    return sum(loglog(XCOM_E, XCOM_AL[:, k], e) for k in range(3)) * AL_DENSITY / 10.0


def read_spectrum(path):
    header, energy, intensity = {}, [], []
    for line in pathlib.Path(path).read_text().splitlines():
        if line.startswith("#"):
            m = re.match(r"#\s*([^:]+):\s*(.*)", line)
            if m:
                header[m.group(1).strip()] = m.group(2).strip()
            continue
        fields = line.split()
        energy.append(float(fields[0]))
        intensity.append(float(fields[1]))
    return header, np.array(energy), np.array(intensity)


def header_number(header, key):
    return float(re.match(r"[-+0-9.eE]+", header[key]).group(0))


def quality(energy, intensity):
    """HVL1, HVL2 (mm Al) of the air kerma, and the fluence-weighted mean energy."""
    kerma = intensity * energy * loglog(AIR_E, AIR_MUEN, energy)
    mu = mu_al(energy)

    def thickness(fraction):
        low, high = 0.0, 200.0
        for _ in range(200):
            mid = 0.5 * (low + high)
            if np.sum(kerma * np.exp(-mu * mid)) > fraction * kerma.sum():
                low = mid
            else:
                high = mid
        return 0.5 * (low + high)

    h1 = thickness(0.5)
    return h1, thickness(0.25) - h1, np.sum(intensity * energy) / intensity.sum()


def close(a, b, tolerance):
    return abs(a - b) <= tolerance * abs(b)


def run_tool(tool, args, cwd):
    return subprocess.run([tool] + args, cwd=cwd, capture_output=True, text=True)


def check_shipped(_):
    for name, (kv, hvl1) in QUALITIES.items():
        header, energy, intensity = read_spectrum(EXAMPLES / (name + ".txt"))
        h1, h2, mean = quality(energy, intensity)
        print(f"{name}: HVL1 {h1:.4f} (standard {hvl1}, header {header['HVL1']}), HVL2 {h2:.4f} "
              f"(header {header['HVL2']}), mean {mean:.3f} keV, homogeneity {h1 / h2:.4f}")
        check(energy.max() <= kv, f"{name}: nothing above {kv} keV")
        check(close(h1, hvl1, 0.01), f"{name}: HVL1 within 1% of the standard's {hvl1} mm Al")
        check(close(h1, header_number(header, "HVL1"), 0.01), f"{name}: HVL1 within 1% of the header")
        check(close(h2, header_number(header, "HVL2"), 0.01), f"{name}: HVL2 within 1% of the header")
        check(close(mean, header_number(header, "Mean energy"), 0.01), f"{name}: mean energy within 1% of the header")
        check(0.6 <= h1 / h2 <= 0.95, f"{name}: homogeneity coefficient between 0.6 and 0.95")
        # Added aluminium hardens the beam: the coefficient rises towards 1.
        coefficients = []
        for t in (0.0, 2.0, 5.0, 10.0, 20.0):
            a, b, _ = quality(energy, intensity * np.exp(-mu_al(energy) * t))
            coefficients.append(a / b)
        check(all(np.diff(coefficients) > 0) and coefficients[-1] < 1.0,
              f"{name}: homogeneity rises towards 1 with 2, 5, 10, 20 mm Al added: "
              + ", ".join(f"{c:.3f}" for c in coefficients))


def check_physics(args):
    import xraylib

    tool = args.tool
    with tempfile.TemporaryDirectory() as work:
        def spectrum(name, *options):
            result = run_tool(tool, list(options) + [name], work)
            check(result.returncode == 0, f"tarvo-spectrum {' '.join(options)} {name}: {result.stderr.strip()}")
            return None if name.endswith(".xrc") else read_spectrum(os.path.join(work, name))

        lines = {n: xraylib.LineEnergy(74, getattr(xraylib, m))
                 for n, m in (("Ka1", "KL3_LINE"), ("Ka2", "KL2_LINE"), ("Kb1", "KM3_LINE"))}
        edge = xraylib.EdgeEnergy(74, xraylib.K_SHELL)
        for kv in (40, 69, 70, 100, 150):
            _, energy, intensity = spectrum(f"w{kv}.txt", "--kv", str(kv))
            check(energy.max() <= kv and intensity.min() > 0, f"{kv} kV: nothing above the tube voltage")
            found = {n: np.any(np.abs(energy - e) < 1e-4) for n, e in lines.items()}
            if kv > edge:
                check(all(found.values()), f"{kv} kV: W Ka1, Ka2, Kb1 at xraylib's energies")
            else:
                check(not any(found.values()), f"{kv} kV (below the K edge {edge} keV): no W K lines")

        # Near the tube voltage the electrons make their photons at the surface:
        # Kramers' law k Z (E0 - E) / E photons per keV per electron, over 4 pi.
        _, energy, intensity = spectrum("top.txt", "--kv", "100", "--bin", "0.1")
        top = (energy > 99.0) & (energy < 100.0)
        kramers = 2.2e-6 * 74 * (100.0 - energy[top]) / energy[top] * 0.1 / (4 * np.pi)
        worst = np.max(np.abs(intensity[top] / kramers - 1.0))
        check(top.sum() == 10 and worst < 5e-3, f"100 kV: the top keV follows Kramers' law within {worst:.1e}")

        # More aluminium: harder beam, higher mean energy and HVL1.
        means, hvls = [], []
        for t in ("0.5", "1", "2", "4", "8"):
            _, energy, intensity = spectrum(f"al{t}.txt", "--kv", "100", "--filter", "Al:" + t)
            h1, _, mean = quality(energy, intensity)
            means.append(mean)
            hvls.append(h1)
        check(all(np.diff(means) > 0) and all(np.diff(hvls) > 0),
              "100 kV with 0.5, 1, 2, 4, 8 mm Al: mean energy and HVL1 rise: "
              + ", ".join(f"{m:.2f} keV/{h:.3f} mm" for m, h in zip(means, hvls)))

        # A 1 mm Al filter multiplies every bin by exp(-mu(E) 0.1 cm).
        _, e0, n0 = spectrum("bare.txt", "--kv", "100")
        header, e1, n1 = spectrum("al1.txt", "--kv", "100", "--filter", "Al:1")
        density = float(re.search(r"Al 1 mm \(([0-9.]+) g/cm3", header["Filtration"]).group(1))
        common, i0, i1 = np.intersect1d(e0, e1, return_indices=True)
        ratio = n1[i1] / n0[i0]
        expected = np.exp(-mu_al(common) * 1.0 * density / AL_DENSITY)
        worst = np.max(np.abs(ratio / expected - 1.0))
        check(len(common) > 150 and worst < 1e-3, f"1 mm Al: every one of {len(common)} entries attenuated "
              f"as XCOM says, worst deviation {worst:.2e}")

        # A compressed spectrum holds the same text (decompressed by the program's own command).
        spectrum("c.xrc", "--kv", "80", "--filter", "Al:2")
        plain = pathlib.Path(work, "c.txt")
        spectrum("c.txt", "--kv", "80", "--filter", "Al:2")
        subprocess.run([args.tarvo], input="Decompress c.xrc d.txt\n", cwd=work, capture_output=True, text=True,
                       timeout=60)
        strip = lambda text: [l for l in text.splitlines() if not l.startswith("# Command:")]
        decompressed = pathlib.Path(work, "d.txt")
        check(decompressed.exists() and pathlib.Path(work, "c.xrc").stat().st_size < plain.stat().st_size
              and strip(decompressed.read_text()) == strip(plain.read_text()),
              ".xrc output is compressed and decompresses to the plain text")


def check_regenerate(args):
    for name in QUALITIES:
        shipped = EXAMPLES / (name + ".txt")
        header, _, _ = read_spectrum(shipped)
        command = shlex.split(header["Command"])
        if args.update:
            # After a change of the model: the shipped files made anew by their own commands.
            check(run_tool(args.tool, command[1:], EXAMPLES).returncode == 0, f"{name}: regenerated")
            continue
        with tempfile.TemporaryDirectory() as work:
            result = run_tool(args.tool, command[1:], work)
            output = pathlib.Path(work, command[-1])
            check(result.returncode == 0 and output.read_bytes() == shipped.read_bytes(),
                  f"{name}: '{header['Command']}' reproduces the shipped file byte for byte")


BAD_INPUTS = [
    (["--kv", "19"], "--kv 19"),
    (["--kv", "151"], "--kv 151"),
    (["--kv", "100kV"], "--kv 100kV"),
    ([], "--kv"),
    (["--kv", "100", "--filter", "Unobtainium:1"], "Unobtainium"),
    (["--kv", "100", "--inherent", "Be:-1"], "--inherent Be:-1"),
    (["--kv", "100", "--filter", "Al"], "--filter Al"),
    (["--kv", "100", "--anode-angle", "95"], "--anode-angle 95"),
    (["--kv", "100", "--bin", "0"], "--bin 0"),
    (["--kv", "100", "--filter", "Cu:1", "--hvl1", "1"], "--hvl1 1"),
    (["--kv", "50", "--hvl1", "40"], "--hvl1 40"),
    (["--kv", "100", "--xcom", "/nonexistent"], "/nonexistent"),
    (["--kv", "100", "--title", "EOF of a title"], "--title EOF"),
]


def check_bad_inputs(args):
    for options, named in BAD_INPUTS:
        with tempfile.TemporaryDirectory() as work:
            result = run_tool(args.tool, options + ["out.txt"], work)
            check(result.returncode != 0 and named in result.stderr and not os.listdir(work),
                  f"{' '.join(options) or '(no --kv)'}: fails naming '{named}', writes nothing: {result.stderr.splitlines()[0] if result.stderr else ''}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=["shipped", "physics", "regenerate", "bad-inputs"])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--tarvo", default=str(ROOT / "build" / "tarvo"))
    parser.add_argument("--update", action="store_true", help="regenerate: rewrite the shipped files")
    args = parser.parse_args()
    args.tool, args.tarvo = os.path.abspath(args.tool), os.path.abspath(args.tarvo)
    {"shipped": check_shipped, "physics": check_physics, "regenerate": check_regenerate,
     "bad-inputs": check_bad_inputs}[args.check](args)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Checks a cone-beam run against Beer-Lambert with independent data (xraylib).

Arguments: open-field prefix, half-covered prefix, slab thickness (cm), energy (keV),
source-to-panel distance (cm), panel side (cm), pixels per side, normalisation factor.
The covered pixels (columns 0 and 1) must read open x exp(-mu t / cos a) within 3
standard errors (from the error images); the open centre pixel must read the
normalisation factor within 3 standard errors.
"""
import math
import sys

import numpy
import tifffile
import xraylib

open_prefix, slab_prefix = sys.argv[1], sys.argv[2]
t, energy, distance, side, pixels, factor = map(float, sys.argv[3:9])
n = int(pixels)
mu = xraylib.CS_Total_CP("H2O", energy) * 1.0


def image(prefix, kind):
    return tifffile.imread(prefix + "_Detector0_primary_" + kind + ".tiff").astype(float)


open_count, open_error = image(open_prefix, "count"), image(open_prefix, "error")
slab_count, slab_error = image(slab_prefix, "count"), image(slab_prefix, "error")
pitch = side / n
failures = []
for row in range(n):
    y = -side / 2 + (row + 0.5) * pitch
    for column in (0, 1):
        x = -side / 2 + (column + 0.5) * pitch
        cos_a = distance / math.sqrt(distance**2 + x**2 + y**2)
        expected = math.exp(-mu * t / cos_a)
        ratio = slab_count[row, column] / open_count[row, column]
        se = ratio * math.hypot(slab_error[row, column], open_error[row, column])
        if abs(ratio - expected) > 3 * se:
            failures.append((row, column, ratio, expected, se))
centre = open_count[n // 2, n // 2]
if abs(centre - factor) > 3 * centre * open_error[n // 2, n // 2]:
    failures.append(("centre", centre, factor))
print(failures if failures else "ok")

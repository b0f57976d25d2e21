#pragma once

#include "MaterialPhysics.h"

#include <functional>
#include <vector>

namespace matgen {

// One segment of equal energy steps. Its last level lies on the next
// segment's start but carries the value from just below it, so an edge there
// stays a step in the table instead of being smeared over one stride.
struct GridSegment {
    double start = 0.0;
    double stride = 0.0;
    unsigned levels = 0;
    double lastEnergy = 0.0;  // energy at which the last level is evaluated
    bool fromXcom = false;
};

struct GridBoundary {
    double energy = 0.0;
    double below = 0.0;  // energy of the value that ends the segment before it
};

using Evaluator = std::function<Attenuation(double energy, bool fromXcom)>;

// Segments from `low` to `high` cut at every boundary and at every power of
// two, with steps of at most `relativeStep` times the segment's start energy,
// halved until linear interpolation between levels stays within `tolerance`
// (relative, per interaction) of `evaluate` at every step's midpoint.
std::vector<GridSegment> BuildEnergyGrid(std::vector<GridBoundary> boundaries, double low, double high,
                                         double relativeStep, double xcomFrom, const Evaluator& evaluate,
                                         double tolerance);

// Energy of level k of a segment, as a table reader computes it, except the
// last level, which is evaluated just below the segment's end.
double EvaluationEnergy(const GridSegment& segment, unsigned k);

} // namespace matgen

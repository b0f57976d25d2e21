#include "EnergyGrid.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace matgen {

namespace {

constexpr unsigned kMaxRefinement = 256;

GridSegment MakeSegment(double start, double end, double below, unsigned steps, double xcomFrom)
{
    GridSegment s;
    s.start = start;
    s.stride = (end - start) / steps;
    // The reader places the last level at start + steps * stride; it must not
    // fall short of the next start, or energies in between find no segment.
    while (s.start + steps * s.stride < end)
        s.stride = std::nextafter(s.stride, 2.0 * s.stride);
    s.levels = steps + 1;
    s.lastEnergy = below;
    s.fromXcom = start >= xcomFrom;
    return s;
}

bool Close(double interpolated, double exact, double scale, double tolerance)
{
    // Terms far below the total (pair production near its threshold) only
    // need to be right relative to the total.
    return std::fabs(interpolated - exact) <= tolerance * std::max(std::fabs(exact), 1e-3 * scale);
}

bool Interpolates(const GridSegment& s, const Evaluator& evaluate, double tolerance)
{
    Attenuation left = evaluate(s.start, s.fromXcom);
    for (unsigned k = 0; k + 1 < s.levels; ++k) {
        const Attenuation right = evaluate(EvaluationEnergy(s, k + 1), s.fromXcom);
        const Attenuation mid = evaluate(s.start + (k + 0.5) * s.stride, s.fromXcom);
        const double total = mid.photo + mid.compton + mid.rayleigh + mid.pair;
        if (!Close(0.5 * (left.photo + right.photo), mid.photo, total, tolerance) ||
            !Close(0.5 * (left.compton + right.compton), mid.compton, total, tolerance) ||
            !Close(0.5 * (left.rayleigh + right.rayleigh), mid.rayleigh, total, tolerance) ||
            !Close(0.5 * (left.pair + right.pair), mid.pair, total, tolerance))
            return false;
        left = right;
    }
    return true;
}

} // namespace

std::vector<GridSegment> BuildEnergyGrid(std::vector<GridBoundary> boundaries, double low, double high,
                                         double relativeStep, double xcomFrom, const Evaluator& evaluate,
                                         double tolerance)
{
    boundaries.push_back({low, low});
    boundaries.push_back({high, high});
    for (double e = std::pow(2.0, std::ceil(std::log2(low))); e < high; e *= 2.0)
        boundaries.push_back({e, e});
    boundaries.erase(std::remove_if(boundaries.begin(), boundaries.end(),
                                    [&](const GridBoundary& b) { return b.energy < low || b.energy > high; }),
                     boundaries.end());
    std::sort(boundaries.begin(), boundaries.end(),
              [](const GridBoundary& a, const GridBoundary& b) { return a.energy < b.energy; });
    // Near-coincident cuts would give segments of a single rounding step; a
    // jump among them wins, since its below-value matters.
    std::vector<GridBoundary> merged;
    for (const auto& b : boundaries) {
        if (!merged.empty() && b.energy - merged.back().energy < 1e-6 * b.energy) {
            if (b.below < merged.back().below)
                merged.back() = b;
            continue;
        }
        merged.push_back(b);
    }

    std::vector<GridSegment> segments;
    for (std::size_t i = 0; i + 1 < merged.size(); ++i) {
        const double start = merged[i].energy;
        const double end = merged[i + 1].energy;
        auto steps = static_cast<unsigned>(std::max(1.0, std::ceil((end - start) / (relativeStep * start))));
        GridSegment s = MakeSegment(start, end, merged[i + 1].below, steps, xcomFrom);
        const unsigned maxSteps = steps * kMaxRefinement;
        while (!Interpolates(s, evaluate, tolerance)) {
            if (steps >= maxSteps) {
                // A jump the edge search missed: keep the table usable and say where.
                std::cerr << "tarvo-materials: warning: interpolation tolerance not reached between " << start
                          << " and " << end << " keV\n";
                break;
            }
            steps *= 2;
            s = MakeSegment(start, end, merged[i + 1].below, steps, xcomFrom);
        }
        segments.push_back(s);
    }
    return segments;
}

double EvaluationEnergy(const GridSegment& segment, unsigned k)
{
    return k + 1 == segment.levels ? segment.lastEnergy : segment.start + k * segment.stride;
}

} // namespace matgen

#include "EnergyGrid.h"

#include <algorithm>
#include <cmath>

namespace matgen {

std::vector<GridSegment> BuildEnergyGrid(std::vector<GridBoundary> boundaries, double low, double high,
                                         double relativeStep, double xcomFrom)
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
        GridSegment s;
        s.start = merged[i].energy;
        const double end = merged[i + 1].energy;
        const double steps = std::max(1.0, std::ceil((end - s.start) / (relativeStep * s.start)));
        const auto n = static_cast<unsigned>(steps);
        s.stride = (end - s.start) / steps;
        // The reader places the last level at start + n * stride; it must not
        // fall short of the next start, or energies in between find no segment.
        while (s.start + n * s.stride < end)
            s.stride = std::nextafter(s.stride, 2.0 * s.stride);
        s.levels = n + 1;
        s.lastEnergy = merged[i + 1].below;
        s.fromXcom = s.start >= xcomFrom;
        segments.push_back(s);
    }
    return segments;
}

double EvaluationEnergy(const GridSegment& segment, unsigned k)
{
    return k + 1 == segment.levels ? segment.lastEnergy : segment.start + k * segment.stride;
}

} // namespace matgen

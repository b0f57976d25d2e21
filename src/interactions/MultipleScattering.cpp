#include "interactions/MultipleScattering.h"

#include "interactions/BasicInteraction.h"

#include <algorithm>
#include <cmath>

namespace interactions {

double TMultipleScattering::WentzelMeanOneMinusMu(double B)
{
    // 2B[(1 + B) ln(1 + 1/B) - 1]; for large B the series avoids cancellation.
    if (B > 1e3) {
        const double x = 1.0 / B;
        return 1.0 - x / 3.0 + x * x / 6.0 - x * x * x / 10.0;
    }
    return 2.0 * B * ((1.0 + B) * std::log1p(1.0 / B) - 1.0);
}

double TMultipleScattering::WentzelParameter(double meanOneMinusMu)
{
    // The mean grows monotonically with B: Newton's method in ln B, kept
    // inside a shrinking bracket (bisection when a step leaves it).
    double lo = std::log(1e-14), hi = std::log(1e8);
    // Small-B form 2B(ln(1/B) - 1) gives the start.
    double y = std::clamp(std::log(0.5 * meanOneMinusMu / std::max(1.0, -std::log(meanOneMinusMu))), lo, hi);
    for (int i = 0; i < 100; ++i) {
        const double B = std::exp(y);
        const double error = WentzelMeanOneMinusMu(B) - meanOneMinusMu;
        if (std::fabs(error) <= 1e-13 * meanOneMinusMu)
            break;
        (error < 0.0 ? lo : hi) = y;
        // d mean / d ln B = B (2 (1 + 2B) ln(1 + 1/B) - 4)
        const double slope = B * (2.0 * (1.0 + 2.0 * B) * std::log1p(1.0 / B) - 4.0);
        double next = slope > 0.0 ? y - error / slope : 0.5 * (lo + hi);
        if (!(next > lo && next < hi))
            next = 0.5 * (lo + hi);
        y = next;
    }
    return std::exp(y);
}

double TMultipleScattering::SampleWentzel(double B, TRandomNumbersGenerator& rng)
{
    return SampleWentzel(B, Uniform(rng));
}

double TMultipleScattering::SampleWentzel(double B, double u)
{
    return 1.0 - 2.0 * B * u / (1.0 + B - u);
}

double TMultipleScattering::WentzelMeanOneMinusP2(double B)
{
    // 6B(1 + B)[(1 + 2B) ln(1 + 1/B) - 2]
    if (B > 1e3) {
        const double x = 1.0 / B;
        return 1.0 - 0.1 * x * x;
    }
    return 6.0 * B * (1.0 + B) * ((1.0 + 2.0 * B) * std::log1p(1.0 / B) - 2.0);
}

double TMultipleScattering::SampleCosTheta(double transport1, double transport2, TRandomNumbersGenerator& rng)
{
    const double mean = -std::expm1(-transport1);
    // Beyond this the direction is isotropic to within the mean's last digits.
    if (mean > 1.0 - 1e-9)
        return 2.0 * Uniform(rng) - 1.0;
    if (mean <= 0.0)
        return 1.0;
    const double B = WentzelParameter(mean);
    // Second moments of t = 1 - cos theta from 1 - P_2 = 3t - 1.5t^2.
    const double wanted = 2.0 * mean + (2.0 / 3.0) * std::expm1(-transport2);
    const double wentzel = 2.0 * mean - (2.0 / 3.0) * WentzelMeanOneMinusP2(B);
    const double u = Uniform(rng);
    if (wentzel > wanted) {
        const double weight = (wentzel - wanted) / (wentzel - mean * mean);
        if (u < weight)
            return 1.0 - mean;
        return SampleWentzel(B, (u - weight) / (1.0 - weight));
    }
    return SampleWentzel(B, u);
}

} // namespace interactions

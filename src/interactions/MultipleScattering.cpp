#include "interactions/MultipleScattering.h"

#include "interactions/BasicInteraction.h"

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
    // The mean grows monotonically with B: bisection in ln B.
    double lo = std::log(1e-14), hi = std::log(1e8);
    for (int i = 0; i < 64; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (WentzelMeanOneMinusMu(std::exp(mid)) < meanOneMinusMu)
            lo = mid;
        else
            hi = mid;
    }
    return std::exp(0.5 * (lo + hi));
}

double TMultipleScattering::SampleWentzel(double B, TRandomNumbersGenerator& rng)
{
    const double u = Uniform(rng);
    return 1.0 - 2.0 * B * u / (1.0 + B - u);
}

double TMultipleScattering::SampleCosTheta(double transportNumber, TRandomNumbersGenerator& rng)
{
    const double mean = -std::expm1(-transportNumber);
    // Beyond this the direction is isotropic to within the mean's last digits.
    if (mean > 1.0 - 1e-9)
        return 2.0 * Uniform(rng) - 1.0;
    if (mean <= 0.0)
        return 1.0;
    return SampleWentzel(WentzelParameter(mean), rng);
}

} // namespace interactions

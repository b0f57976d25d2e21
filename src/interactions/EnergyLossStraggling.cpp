#include "interactions/EnergyLossStraggling.h"

#include "interactions/BasicInteraction.h"
#include "interactions/PhysicsConstants.h"

#include <cmath>

namespace interactions {

namespace {

constexpr double kTwoPiRe2Mc2 = 2.0 * 3.14159265358979323846 * 2.8179403262e-13 * 2.8179403262e-13 * kElectronMass;

double StandardNormal(TRandomNumbersGenerator& rng)
{
    double u[2];
    rng.Generate(u, 2);
    return std::sqrt(-2.0 * std::log1p(-u[0])) * std::cos(2.0 * Pi() * u[1]);
}

// Gamma(shape, 1) by Marsaglia and Tsang (ACM TOMS 26 (2000) 363); shapes
// below 1 through Gamma(shape + 1) U^(1/shape).
double SampleGamma(double shape, TRandomNumbersGenerator& rng)
{
    double boost = 1.0;
    if (shape < 1.0) {
        boost = std::pow(1.0 - Uniform(rng), 1.0 / shape);
        shape += 1.0;
    }
    const double d = shape - 1.0 / 3.0, c = 1.0 / std::sqrt(9.0 * d);
    for (;;) {
        const double x = StandardNormal(rng);
        const double v = 1.0 + c * x;
        if (v <= 0.0)
            continue;
        const double v3 = v * v * v;
        const double u = 1.0 - Uniform(rng);
        if (std::log(u) < 0.5 * x * x + d * (1.0 - v3 + std::log(v3)))
            return boost * d * v3;
    }
}

} // namespace

double TEnergyLossStraggling::SoftVariance(double electronDensity, double T, double cut, double length)
{
    const double gamma = 1.0 + T / kElectronMass;
    const double beta2 = 1.0 - 1.0 / (gamma * gamma);
    return kTwoPiRe2Mc2 * electronDensity * length * cut * (1.0 / beta2 - 0.5);
}

double TEnergyLossStraggling::SampleLoss(double mean, double variance, TRandomNumbersGenerator& rng)
{
    if (!(variance > 0.0) || !(mean > 0.0))
        return mean;
    const double shape = mean * mean / variance;
    return SampleGamma(shape, rng) * variance / mean;
}

} // namespace interactions

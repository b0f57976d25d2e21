#include "interactions/Bremsstrahlung.h"

#include "interactions/BasicInteraction.h"
#include "interactions/PhysicsConstants.h"

#include <algorithm>
#include <cmath>

namespace interactions {

namespace {

// Largest photon fraction the spectrum is tabulated for.
constexpr double kTopFraction = 0.9999;

double Beta(double T)
{
    const double gamma = 1.0 + T / kElectronMass;
    return std::sqrt(1.0 - 1.0 / (gamma * gamma));
}

} // namespace

double TBremsstrahlungSampler::SampleEnergy(const materials::TElectronData& data, double T, double cut,
                                            TRandomNumbersGenerator& rng)
{
    // kappa from 1/kappa (the spectrum's leading shape), kept with
    // probability chi(kappa)/max chi, which stays close to 1.
    const double low = cut / T;
    const double bound = data.ScaledBremsstrahlungBound(T, low);
    const double logRange = std::log(kTopFraction / low);
    double u[2];
    for (;;) {
        rng.Generate(u, 2);
        const double kappa = low * std::exp(u[0] * logRange);
        if (u[1] * bound <= data.ScaledBremsstrahlung(T, kappa))
            return kappa * T;
    }
}

double TBremsstrahlungSampler::SampleCosTheta(double T, TRandomNumbersGenerator& rng)
{
    const double beta = Beta(T);
    const double v = 2.0 * Uniform(rng) - 1.0;
    return std::clamp((v + beta) / (1.0 + beta * v), -1.0, 1.0);
}

double TBremsstrahlungSampler::CosThetaDensity(double T, double cosTheta)
{
    const double beta = Beta(T);
    const double d = 1.0 - beta * cosTheta;
    return (1.0 - beta * beta) / (2.0 * d * d);
}

} // namespace interactions

#include "interactions/CrossSections.h"

#include "interactions/BasicInteraction.h"
#include "interactions/MaterialAccess.h"
#include "interactions/PhysicsConstants.h"
#include "materials/AngularDensities.h"
#include "materials/FormFactorIntegral.h"
#include "materials/MaterialProperties.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace interactions {

namespace {

// Klein-Nishina by Butcher and Messel's method in eps = E'/E: the density
// eps^-1 + eps is sampled by composition, then the rest accepted.
double SampleKleinNishina(double energy, TRandomNumbersGenerator& rng) {
    const double k = energy / kElectronMass;
    const double eps0 = 1.0 / (1.0 + 2.0 * k);
    const double eps0Squared = eps0 * eps0;
    const double alpha1 = -std::log(eps0);
    const double alpha2 = alpha1 + 0.5 * (1.0 - eps0Squared);
    for (;;) {
        double eps, epsSquared;
        if (alpha1 > alpha2 * Uniform(rng)) {
            eps = std::exp(-alpha1 * Uniform(rng));
            epsSquared = eps * eps;
        } else {
            epsSquared = eps0Squared + (1.0 - eps0Squared) * Uniform(rng);
            eps = std::sqrt(epsSquared);
        }
        const double oneMinusCos = (1.0 - eps) / (eps * k);
        const double sinSquared = oneMinusCos * (2.0 - oneMinusCos);
        if (1.0 - eps * sinSquared / (1.0 + epsSquared) >= Uniform(rng))
            return std::max(-1.0, 1.0 - oneMinusCos);
    }
}

} // namespace

double TBasicPhotonCrossSection::SampleCosTheta(const materials::TMaterial* material, double energy,
                                                TRandomNumbersGenerator& rng) const {
    return GetCosTheta(material, Uniform(rng), energy);
}

double TBasicComptonCrossSection::GetScatteredEnergy(double cosTheta, double energy) const {
    return energy / (1.0 + energy / kElectronMass * (1.0 - cosTheta));
}

TAnalyticalScatteringCrossSection::TAnalyticalScatteringCrossSection(double precision)
    : precision_(precision) {
    // A zero or negative step would never finish integrating.
    if (!(precision > 0)) {
        std::ostringstream text;
        text << "Invalid IntegrationPrecision: " << precision;
        throw std::runtime_error(text.str());
    }
}

double TAnalyticalScatteringCrossSection::Integrate(const materials::TMaterial* material, double energy,
                                                    double muMax) const {
    const double width = muMax + 1.0;
    auto n = static_cast<long long>(std::floor(width / (2.0 * precision_))) + 1;
    if (n < 3)
        n = 2;
    const double h = width / static_cast<double>(n - 1);
    double sum = 0.5 * (GetDifferential(material, energy, -1.0) + GetDifferential(material, energy, muMax));
    for (long long i = 1; i <= n - 2; ++i)
        sum += GetDifferential(material, energy, -1.0 + static_cast<double>(i) * h);
    return h * sum;
}

double TAnalyticalScatteringCrossSection::SolveCosTheta(const materials::TMaterial* material, double energy,
                                                        double u) const {
    if (u <= 0)
        return -1.0;
    if (u >= 1)
        return 1.0;
    const double target = u * IntegrateAll(material, energy);
    double lo = -1.0;
    double hi = 1.0;
    double mid = 0.0;
    double g = 0.0;
    for (;;) {
        const double next = (lo + hi) * 0.5;
        // The step count of the trapezoid changes with mid, so the integral
        // may jump across the target by more than the tolerance: stop once
        // the interval cannot shrink any further.
        if (!(next > lo && next < hi))
            break;
        mid = next;
        g = Integrate(material, energy, mid);
        if (g >= target)
            hi = mid;
        else
            lo = mid;
        if (hi - lo <= precision_ && std::fabs(g - target) <= precision_)
            break;
    }
    const double result = (g == target) ? mid : (lo + hi) * 0.5;
    if (!(result >= -1.0 && result <= 1.0)) {
        std::ostringstream text;
        text << "TAnalyticalScatteringCrossSection::GetCosTheta: Invalid value for cos(Theta) after solving "
                "integral equation!\n"
             << "Gamma: " << u << " Photon Energy: " << energy << " cos(Theta): " << result << "\n";
        throw std::runtime_error(text.str());
    }
    return result;
}

double TAnalyticalSimpleComptonCrossSection::GetDifferential(const materials::TMaterial*, double energy,
                                                             double mu) const {
    return materials::KleinNishinaDensity(energy, mu);
}

double TAnalyticalSimpleComptonCrossSection::SampleCosTheta(const materials::TMaterial*, double energy,
                                                            TRandomNumbersGenerator& rng) const {
    return SampleKleinNishina(energy, rng);
}

double TAnalyticalSimpleRayleighCrossSection::SolveCosTheta(const materials::TMaterial*, double,
                                                            double u) const {
    return materials::ThomsonCosTheta(u);
}

double TAnalyticalSimpleRayleighCrossSection::GetDifferential(const materials::TMaterial*, double,
                                                              double mu) const {
    return materials::ThomsonDensity(mu);
}

double TAnalyticalTotalComptonCrossSection::GetDifferential(const materials::TMaterial* material,
                                                            double energy, double mu) const {
    return materials::TotalComptonDensity(energy, mu, ScatteringFunction(material),
                                          MaterialSettings(material).FullPhysicsThreshold);
}

double TAnalyticalTotalComptonCrossSection::SampleCosTheta(const materials::TMaterial* material,
                                                           double energy, TRandomNumbersGenerator& rng) const {
    if (energy > MaterialSettings(material).FullPhysicsThreshold)
        return SampleKleinNishina(energy, rng);
    const materials::TScatterData& s = ScatteringFunction(material);
    const double bound = s.MaxValue();
    if (!(bound > 0.0))
        throw std::runtime_error("Scattering function not loaded for " + MaterialName(material));
    for (;;) {
        const double mu = SampleKleinNishina(energy, rng);
        const double p = 1.0 / (1.0 + energy / kElectronMass * (1.0 - mu));
        const double x = materials::kMomentumTransferFactor * energy * std::sqrt(p * p + 1.0 - 2.0 * p * mu);
        if (Uniform(rng) * bound <= s.Evaluate(x))
            return mu;
    }
}

double TAnalyticalTotalRayleighCrossSection::SolveCosTheta(const materials::TMaterial* material,
                                                           double energy, double u) const {
    if (energy > MaterialSettings(material).FullPhysicsThreshold)
        return materials::ThomsonCosTheta(u);
    if (const auto* integral = FormFactorIntegral(material))
        return integral->CosTheta(u, energy);
    return TAnalyticalScatteringCrossSection::SolveCosTheta(material, energy, u);
}

double TAnalyticalTotalRayleighCrossSection::GetDifferential(const materials::TMaterial* material,
                                                             double energy, double mu) const {
    return materials::TotalRayleighDensity(energy, mu, FormFactor(material),
                                           MaterialSettings(material).FullPhysicsThreshold);
}

double TAnalyticalTotalRayleighCrossSection::IntegrateAll(const materials::TMaterial* material,
                                                          double energy) const {
    if (energy > MaterialSettings(material).FullPhysicsThreshold)
        return 8.0 / 3.0;
    if (const auto* integral = FormFactorIntegral(material))
        return integral->Integral(energy);
    return Integrate(material, energy, 1.0);
}

double TTabulatedSimpleComptonCrossSection::GetCosTheta(const materials::TMaterial* material, double u,
                                                        double energy) const {
    return KleinNishinaTableCosTheta(material, u, energy);
}

double TTabulatedTotalComptonCrossSection::GetCosTheta(const materials::TMaterial* material, double u,
                                                       double energy) const {
    if (energy > MaterialSettings(material).FullPhysicsThreshold)
        return KleinNishinaTableCosTheta(material, u, energy);
    return TotalComptonTableCosTheta(material, u, energy);
}

double TTabulatedSimpleRayleighCrossSection::GetCosTheta(const materials::TMaterial* material, double u,
                                                         double) const {
    return ThomsonTableCosTheta(material, u);
}

double TTabulatedTotalRayleighCrossSection::GetCosTheta(const materials::TMaterial* material, double u,
                                                        double energy) const {
    if (energy > MaterialSettings(material).FullPhysicsThreshold)
        return ThomsonTableCosTheta(material, u);
    return TotalRayleighTableCosTheta(material, u, energy);
}

namespace {

template <class Family, class SimpleTabulated, class SimpleAnalytical, class TotalTabulated,
          class TotalAnalytical>
std::unique_ptr<Family> CreateCrossSection(int kind, bool tabulated, double precision) {
    if (kind == ScatteringSimple) {
        if (tabulated)
            return std::make_unique<SimpleTabulated>();
        return std::make_unique<SimpleAnalytical>(precision);
    }
    if (kind == ScatteringTotal) {
        if (tabulated)
            return std::make_unique<TotalTabulated>();
        return std::make_unique<TotalAnalytical>(precision);
    }
    throw std::runtime_error("Couldn't create cross section");
}

} // namespace

std::unique_ptr<TBasicComptonCrossSection> CreateComptonCrossSection(int kind, bool tabulated,
                                                                     double precision) {
    return CreateCrossSection<TBasicComptonCrossSection, TTabulatedSimpleComptonCrossSection,
                              TAnalyticalSimpleComptonCrossSection, TTabulatedTotalComptonCrossSection,
                              TAnalyticalTotalComptonCrossSection>(kind, tabulated, precision);
}

std::unique_ptr<TBasicRayleighCrossSection> CreateRayleighCrossSection(int kind, bool tabulated,
                                                                       double precision) {
    return CreateCrossSection<TBasicRayleighCrossSection, TTabulatedSimpleRayleighCrossSection,
                              TAnalyticalSimpleRayleighCrossSection, TTabulatedTotalRayleighCrossSection,
                              TAnalyticalTotalRayleighCrossSection>(kind, tabulated, precision);
}

} // namespace interactions

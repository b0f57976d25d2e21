#pragma once

#include "materials/ScatterData.h"

#include <algorithm>
#include <cmath>

namespace materials {

constexpr double kElectronRestEnergy = 510.9991697550785;               // keV
constexpr double kMomentumTransferFactor = 20.607439686553477 / kElectronRestEnergy;  // 1/Angstrom per keV

// Unnormalised angular densities in mu = cos(theta) at photon energy E (keV).

// Klein-Nishina: P^2 (1 + mu^2 + eps^2 P) with eps = k (1 - mu), P = 1 / (1 + eps).
inline double KleinNishinaDensity(double energy, double mu)
{
    const double eps = energy / kElectronRestEnergy * (1.0 - mu);
    const double p = 1.0 / (1.0 + eps);
    return p * p * (1.0 + mu * mu + eps * eps * p);
}

inline double ThomsonDensity(double mu) { return 1.0 + mu * mu; }

// Exact inverse of the Thomson distribution: the real root of
// mu^3 + 3 mu + 4 - 8 u = 0 (Cardano; the cubic rises monotonically).
inline double ThomsonCosTheta(double u)
{
    if (u <= 0.0)
        return -1.0;
    if (u >= 1.0)
        return 1.0;
    const double halfQ = 2.0 - 4.0 * u;
    const double root = std::sqrt(halfQ * halfQ + 1.0);
    const double mu = std::cbrt(root - halfQ) - std::cbrt(root + halfQ);
    return std::min(1.0, std::max(-1.0, mu));
}

// Klein-Nishina times S(x), x = C E sqrt(P^2 + 1 - 2 P mu), at and below the threshold.
inline double TotalComptonDensity(double energy, double mu, const TScatterData& s, double threshold)
{
    const double f = KleinNishinaDensity(energy, mu);
    if (energy > threshold)
        return f;
    const double p = 1.0 / (1.0 + energy / kElectronRestEnergy * (1.0 - mu));
    return f * s.Evaluate(kMomentumTransferFactor * energy * std::sqrt(p * p + 1.0 - 2.0 * p * mu));
}

// Thomson times F(x)^2, x = C E sqrt(2 (1 - mu)), at and below the threshold.
inline double TotalRayleighDensity(double energy, double mu, const TScatterData& f, double threshold)
{
    if (energy > threshold)
        return ThomsonDensity(mu);
    const double form = f.Evaluate(kMomentumTransferFactor * energy * std::sqrt(2.0 * (1.0 - mu)));
    return form * form * ThomsonDensity(mu);
}

} // namespace materials

#pragma once

#include "random/RandomNumbersGenerator.h"

namespace interactions {

// Fluctuation of the continuous (soft) energy loss over a condensed step.
// The soft collisions below the cut W_c add the variance of Bohr's theory
// with the spin-1/2 factor, Omega^2 = 2 pi r_e^2 m c^2 n_e s W_c (1/beta^2 - 1/2)
// (the Gaussian regime of e.g. Geant4's universal fluctuation model); the loss
// is drawn from the gamma distribution of that mean and variance, which is
// never negative and tends to the Gaussian for many collisions.
class TEnergyLossStraggling {
public:
    // Variance (keV^2) of the soft loss over `length` cm in a material of
    // `electronDensity` electrons/cm^3, kinetic energy T, cut W_c (keV).
    static double SoftVariance(double electronDensity, double T, double cut, double length);
    // A loss of the given mean and variance (keV, keV^2); the mean itself when
    // the variance is 0.
    static double SampleLoss(double mean, double variance, TRandomNumbersGenerator& rng);
};

} // namespace interactions

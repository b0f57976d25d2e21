#pragma once

#include "materials/ElectronData.h"
#include "random/RandomNumbersGenerator.h"

namespace interactions {

// Bremsstrahlung photons of electrons and positrons above a cut: the energy
// from the material's tabulated spectrum k dsigma/dk, the direction from the
// dipole emission of the moving charge (isotropic in its rest frame, the
// leading-order angular distribution used for Monte Carlo by e.g. the
// PENELOPE manual, section 3.3.2, in its simplest form).
class TBremsstrahlungSampler {
public:
    // Photon energy k in (cut, T) for an electron of kinetic energy T; needs
    // bremsstrahlung data and cut < T.
    static double SampleEnergy(const materials::TElectronData& data, double T, double cut,
                               TRandomNumbersGenerator& rng);
    // Polar angle cosine of the photon relative to the electron's direction.
    static double SampleCosTheta(double T, TRandomNumbersGenerator& rng);
    // The density of SampleCosTheta: (1 - beta^2) / (2 (1 - beta cos)^2).
    static double CosThetaDensity(double T, double cosTheta);
};

} // namespace interactions

#pragma once

#include "random/RandomNumbersGenerator.h"

namespace interactions {

// Hard inelastic collisions of electrons (Moller) and positrons (Bhabha) with
// atomic electrons taken as free and at rest, for energy transfers W above a
// cut (keV). The distinguishable outgoing particle of a Moller collision is
// the one with less energy, so W is at most T/2 for electrons and T for
// positrons. Formulas as in ICRU Report 37 and the PENELOPE manual (Salvat,
// Fernandez-Varea, Sempau, NEA 2008, section 3.2.2).
class TMollerBhabha {
public:
    // Largest energy transfer: T/2 (electrons) or T (positrons).
    static double MaxTransfer(double T, bool positron) { return positron ? T : 0.5 * T; }
    // Cross section per target electron (cm^2) of transfers above `cut`; 0
    // when the cut is at or above the largest transfer.
    static double CrossSection(double T, double cut, bool positron);
    // Energy transfer W in (cut, MaxTransfer], distributed as the differential
    // cross section; needs cut < MaxTransfer.
    static double SampleEnergyTransfer(double T, double cut, bool positron, TRandomNumbersGenerator& rng);
    // Polar angle cosines (free-electron kinematics) of the knocked-on electron
    // of energy W and of the projectile, which keeps T - W.
    static double DeltaCosTheta(double T, double W);
    static double PrimaryCosTheta(double T, double W);
    // Differential cross section dsigma/dx per target electron (cm^2), x = W/T.
    static double Density(double T, double x, bool positron);
};

} // namespace interactions

#pragma once

#include "MaterialDefinition.h"

#include <string>
#include <vector>

namespace matgen {

// Parameters of the general density-effect formula of Sternheimer and Peierls
// (Phys. Rev. B 3 (1971) 3681): delta(X) with X = log10(beta gamma).
struct DensityEffect {
    double C = 0.0;   // 2 ln(I / plasma energy) + 1
    double X0 = 0.0, X1 = 0.0, a = 0.0, m = 3.0;

    double Delta(double X) const;
};

// Mean excitation energies I (eV) of the elements, Z = 1..100, read from the
// shared table (ICRU Report 37 values).
std::vector<double> ReadMeanExcitationEnergies(const std::string& path);

// Electron and positron data of one material: collision stopping power from
// the Bethe formula with the density effect (ICRU Report 37, Seltzer and
// Berger 1982), radiative stopping power and bremsstrahlung spectra from the
// Bethe-Heitler cross section (Koch and Motz 1959, formula 3BN) with Elwert's
// Coulomb factor, CSDA range, and elastic transport cross sections of the
// screened Rutherford cross section with Moliere's screening parameter.
// Energies in keV, stopping powers in MeV cm^2/g, cross sections in cm^2/g.
class ElectronPhysics {
public:
    // `meanExcitation` indexed by Z (entry 0 unused).
    ElectronPhysics(const MaterialDefinition& definition, const std::vector<double>& meanExcitation);

    double ZoverA() const { return zOverA_; }                 // mol/g
    double MeanExcitationEnergy() const { return meanI_; }    // eV
    const DensityEffect& Density() const { return density_; }

    double CollisionStoppingPower(double T, bool positron = false) const;
    double RadiativeStoppingPower(double T) const;
    // k dsigma/dk (cm^2/g) at photon energy kappa * T, 0 < kappa < 1.
    double ScaledBremsstrahlung(double T, double kappa) const;
    // 1 - <P_l(cos theta)> cross sections of elastic scattering, l = 1, 2 (cm^2/g).
    double TransportCrossSection(double T, int l) const;
    // CSDA range (g/cm^2) on an ascending energy grid starting at `grid[0]`.
    std::vector<double> CsdaRanges(const std::vector<double>& grid) const;

private:
    struct Element {
        int Z;
        double atomsPerGram;
    };
    std::vector<Element> elements_;
    double zOverA_ = 0.0;
    double meanI_ = 0.0;
    DensityEffect density_;
};

// The energy grid of every electron table: logarithmic, `perDecade` points
// per decade from `low` (decades of `low` fall on the grid) to at least `high`.
std::vector<double> ElectronEnergyGrid(double low, double high, int perDecade);

} // namespace matgen

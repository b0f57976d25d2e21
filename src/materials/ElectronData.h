#pragma once

#include "materials/MaterialComponent.h"

#include <istream>
#include <vector>

namespace materials {

// One material's electron and positron data, written by tarvo-materials:
// the coefficients file (stopping powers, CSDA range, elastic transport cross
// sections on a logarithmic energy grid, with the material's Z/A, mean
// excitation energy and density-effect parameters) and the bremsstrahlung
// file (k dsigma/dk at fixed fractions kappa = k/T of the kinetic energy).
// Energies in keV, stopping powers in MeV cm^2/g, cross sections in cm^2/g;
// per-length values multiply by the density. Read-only once loaded.
class TElectronData : public TBasicMaterialPropertiesComponent {
public:
    // Reads the coefficients file; errors carry the prefix "ElectronData: ".
    bool LoadDataFromStream(std::istream& in) override;
    void LoadBremsstrahlung(std::istream& in);
    bool HasBremsstrahlung() const { return !fractions_.empty(); }

    // The table's energies (keV), ascending.
    const std::vector<double>& Energies() const { return energies_; }
    double LowestEnergy() const { return energies_.front(); }
    double HighestEnergy() const { return energies_.back(); }
    double ZoverA() const { return zOverA_; }
    double MeanExcitationEnergy() const { return meanI_; }  // eV

    double CollisionStoppingPower(double T, bool positron = false) const;
    double RadiativeStoppingPower(double T) const;
    double TotalStoppingPower(double T) const { return CollisionStoppingPower(T) + RadiativeStoppingPower(T); }
    double CsdaRange(double T) const;
    // Kinetic energy whose CSDA range is `range` (g/cm^2): the inverse of CsdaRange.
    double EnergyAtRange(double range) const;
    // 1 - <P_l(cos theta)> cross section of elastic scattering, l = 1 or 2.
    double TransportCrossSection(double T, int l) const;
    // Collision stopping power from energy transfers below `cut` (keV): the
    // Bethe formula restricted to soft collisions, with this material's
    // mean excitation energy and density effect.
    double RestrictedCollisionStoppingPower(double T, double cut, bool positron) const;
    // Radiative stopping power from photons below `cut`, and the cross
    // section (cm^2/g) of photons above it.
    double RestrictedRadiativeStoppingPower(double T, double cut) const;
    double HardBremsstrahlungCrossSection(double T, double cut) const;
    // k dsigma/dk (cm^2/g) at k = kappa T, interpolated in T (log) and kappa (linear).
    double ScaledBremsstrahlung(double T, double kappa) const;
    // Its largest value over the fractions at or above `kappa` at energy T: a
    // bound for rejection sampling.
    double ScaledBremsstrahlungBound(double T, double kappa) const;

private:
    std::vector<double> energies_, logEnergies_;
    std::vector<double> collision_, positronCollision_, radiative_, range_, transport1_, transport2_;
    std::vector<double> fractions_, brems_;  // energies x fractions
    double zOverA_ = 0.0, meanI_ = 0.0;
    double densityC_ = 0.0, densityX0_ = 0.0, densityX1_ = 0.0, densityA_ = 0.0, densityM_ = 3.0;

    // Grid interval holding T (clamped to the table) and the fraction in ln T.
    std::size_t Locate(double T, double& fraction) const;
    double LogLog(const std::vector<double>& values, double T) const;
    double DensityDelta(double X) const;
};

} // namespace materials

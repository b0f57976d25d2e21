#pragma once

#include "Absorber.h"
#include "TubeModel.h"

#include <string>
#include <vector>

namespace spectrum {

// Dry air's mass energy-absorption coefficient from the Hubbell-Seltzer table
// (energies in MeV, columns mu/rho and mu_en/rho), for air kerma.
class AirKerma {
public:
    // Throws naming the file when it cannot be read or holds no data.
    static AirKerma Load(const std::string& path);
    // cm^2/g at `energy` keV, log-log between rows; at an edge (two rows of
    // one energy, the lower first) the value above it.
    double MassEnergyAbsorption(double energy) const;

private:
    std::vector<double> energy_; // keV
    std::vector<double> muEn_;
};

struct BeamQuality {
    double hvl1 = 0.0;       // mm Al
    double hvl2 = 0.0;       // mm Al, from the first to the second half of the air kerma
    double meanEnergy = 0.0; // keV, of the photon fluence
    double Homogeneity() const { return hvl1 / hvl2; }
};

// Multiplies every entry by exp(-mu(E) rho t); thickness in mm.
void Attenuate(std::vector<SpectrumEntry>& entries, const Absorber& absorber, double thickness);

// Half-value layers in `aluminium` of the air kerma, and the mean energy.
BeamQuality Measure(const std::vector<SpectrumEntry>& entries, const AirKerma& air,
                    const Absorber& aluminium);

// The added thickness of `aluminium` (mm) that gives `entries` the first
// half-value layer `hvl1`; throws, naming --hvl1, when none up to 100 mm does.
double FitAluminium(const std::vector<SpectrumEntry>& entries, double hvl1, const AirKerma& air,
                    const Absorber& aluminium);

} // namespace spectrum

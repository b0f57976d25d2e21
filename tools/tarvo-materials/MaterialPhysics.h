#pragma once

#include "MaterialDefinition.h"
#include "XcomTable.h"

#include <string>
#include <vector>

namespace matgen {

// Photo, Compton, Rayleigh and pair coefficients in 1/cm.
struct Attenuation {
    double photo = 0.0, compton = 0.0, rayleigh = 0.0, pair = 0.0;
};

// Where xraylib's photo cross section of one element jumps: `below` is the
// last energy still on the low side, `above` the first on the high side
// (they differ by a rounding step). xraylib's jumps sit up to a few eV away
// from its EdgeEnergy values, so the grid is cut where the data really jump.
struct PhotoJump {
    int Z = 0;
    int shell = 0;
    double edge = 0.0;
    double below = 0.0;
    double above = 0.0;
};

struct FluorescenceLine {
    double energy = 0.0;       // keV
    double probability = 0.0;  // per vacancy of the shell
};

struct FluorescenceShell {
    int Z = 0;
    int shell = 0;
    double bindingEnergy = 0.0;
    double jumpAbove = 0.0;     // where the element's photo data gain this shell
    double partialLimit = 0.0;  // xraylib's partial cross sections end here
    std::vector<FluorescenceLine> lines;
};

// The physics of one material: xraylib below kXraylibLimit, the element
// XCOM tables above it and for pair production.
class MaterialPhysics {
public:
    static constexpr double kXraylibLimit = 800.0;  // keV

    MaterialPhysics(const MaterialDefinition& definition, const std::string& xcomDir);

    const MaterialDefinition& Definition() const { return definition_; }

    // Coefficients at `energy`; `fromXcom` selects the source above the limit
    // (at exactly the limit both are defined and the caller chooses).
    Attenuation Coefficients(double energy, bool fromXcom) const;

    // Throws, naming the element and the component, when xraylib and the XCOM
    // table of any element differ at kXraylibLimit by more than `tolerance`
    // (relative): both sources agree there to four digits, so a larger jump
    // means a wrong input table and would become a step in the material.
    void CheckSourceSwitch(double tolerance) const;

    // The energies of the elements' XCOM grids strictly inside (low, high), ascending.
    std::vector<double> XcomEnergies(double low, double high) const;

    // Jumps of every element's photo data strictly inside (low, high).
    std::vector<PhotoJump> PhotoJumps(double low, double high) const;

    // Independent-atom scattering function and form factor, x in 1/Angstrom.
    double ScatteringFunction(double x) const;
    double FormFactor(double x) const;

    // Shells whose binding energy is at least `minEnergy`, with their lines.
    std::vector<FluorescenceShell> FluorescenceShells(double minEnergy) const;
    // Probability that a photo absorption at `energy` happens in each shell.
    std::vector<double> ShellProbabilities(const std::vector<FluorescenceShell>& shells, double energy,
                                           bool fromXcom) const;

private:
    MaterialDefinition definition_;
    std::vector<XcomTable> xcom_;  // one per element, in definition order

    double ElementPhoto(std::size_t element, double energy, bool fromXcom) const;
};

} // namespace matgen

#pragma once

#include "XcomTable.h"

#include <string>
#include <vector>

namespace spectrum {

// A material that photons cross on their way out of the tube: the anode, a
// window, a filter, air. Attenuation is narrow-beam: every interaction,
// coherent scattering included, removes the photon from the beam.
class Absorber {
public:
    // `name` is an element symbol ("Al", "Be"; density from xraylib) or, in any
    // letter case, a material of the definitions file (the shipped "Air",
    // "Copper", ...). Throws "unknown material NAME ..." otherwise.
    static Absorber Resolve(const std::string& name, const std::string& definitionsPath,
                            const std::string& xcomDir);

    const std::string& Name() const { return name_; }
    double Density() const { return density_; } // g/cm^3
    // Total mass attenuation coefficient (cm^2/g) from the XCOM tables; energy in keV.
    double MassAttenuation(double energy) const;

private:
    struct Element {
        double massFraction;
        matgen::XcomTable table;
    };
    std::string name_;
    double density_ = 0.0;
    std::vector<Element> elements_;
};

} // namespace spectrum

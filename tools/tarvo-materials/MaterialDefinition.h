#pragma once

#include <istream>
#include <string>
#include <vector>

namespace matgen {

struct ElementShare {
    int Z = 0;
    double massFraction = 0.0;
    // Atoms of this element per formula unit; for compositions given by mass
    // (NIST mixtures, alloys) a formula unit is one mean atom.
    double atoms = 0.0;
};

// One line of a definitions file: "Name; composition; density[; I]".
// The composition is a chemical formula ("Gd2O2S"), "nist:" followed by a
// NIST compound name known to xraylib, or "mass:" followed by element symbols
// and mass fractions ("mass: Fe 0.65 Cr 0.17 Ni 0.12"). The density (g/cm^3)
// may be left out only for NIST compounds, which carry their own. I, the mean
// excitation energy in eV for electron stopping powers, is given where ICRU
// Report 37 lists the compound; otherwise it is combined from the elements.
struct MaterialDefinition {
    std::string name;
    std::string composition;
    double density = 0.0;
    double meanExcitation = 0.0;  // eV, 0: from the elements
    std::vector<ElementShare> elements;

    double MeanZ() const;
    double MeanA() const;
};

// Parses and resolves one definition; throws with a message naming the line.
MaterialDefinition ParseDefinition(const std::string& line);

// Reads every non-blank, non-comment ('#') line of a definitions file.
std::vector<MaterialDefinition> ReadDefinitions(std::istream& in);

// Canonical text of a definition, as written back to a definitions file.
std::string FormatDefinition(const MaterialDefinition& definition);

} // namespace matgen

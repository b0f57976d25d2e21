#pragma once

#include <string>
#include <vector>

namespace matgen {

// One element's XCOM mass attenuation coefficients (cm^2/g) with the
// interpolation XCOM itself uses: log-log for photo, Compton and Rayleigh,
// and ln[sigma / (1 - E_th/E)^3] against ln E for the two pair terms, which
// removes their threshold behaviour before interpolating.
class XcomTable {
public:
    // Reads "xcom/Z###_<Symbol>.txt" (energies in MeV) on XCOM's native grid:
    // energies ascending, an absorption edge as two rows of one energy with
    // the below-edge row first; throws, naming the file and line, otherwise.
    static XcomTable Load(const std::string& path);
    static std::string FileName(int Z, const std::string& symbol);

    // Energies in keV; valid inside the tabulated range and above any edge.
    double Photo(double energy) const;
    double Compton(double energy) const;
    double Rayleigh(double energy) const;
    double Pair(double energy) const;

    // The tabulated energies in keV, ascending, each edge energy once.
    std::vector<double> Energies() const;

private:
    struct Row {
        double energy;  // keV
        double coherent, incoherent, photo, pairNuclear, pairElectron;
    };
    std::vector<Row> rows_;

    std::size_t Bracket(double energy) const;
    double LogLog(double energy, double Row::*column) const;
    double PairTerm(double energy, double Row::*column, double threshold) const;
};

} // namespace matgen

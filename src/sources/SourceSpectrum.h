#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace inifiles {
class TIniFileSection;
class TIniFileVariable;
} // namespace inifiles

// One energy of a line spectrum; Cumulative is the sum of the probabilities of this
// line and all lines before it in file order.
struct SpectrumLine {
    double Cumulative = 0;
    double Energy = 0; // keV
    double Probability = 0;

    bool operator==(const SpectrumLine& o) const {
        return Cumulative == o.Cumulative && Energy == o.Energy && Probability == o.Probability;
    }
};

// A normalised line spectrum. Lines keep their file order (not sorted by energy), so
// the same file always maps the same uniform number to the same line.
class SourceSpectrum {
public:
    // Spectrum text: "energy intensity" per line; '#' or ';' comments ("#EOF" ends the
    // data until the next "[Spectrum]" header); "[Spectrum]" restarts collection, any
    // other header pauses it; lines that do not hold two positive finite numbers are
    // skipped. Throws "Empty spectrum!" and "Invalid input spectrum!".
    static SourceSpectrum Read(std::istream& in);
    // The file through the text stream (plain or ".xrc"); "Could not open <name>!".
    static SourceSpectrum ReadFile(const std::string& fileName);
    // A "Spectrum" sub-section: each variable is the line "<name>\t<value>".
    static SourceSpectrum FromSection(const inifiles::TIniFileSection& section);

    // Energy of the first line whose cumulative probability reaches u (the last line
    // when rounding leaves none).
    double Sample(double u) const;

    bool operator==(const SourceSpectrum& o) const { return Lines == o.Lines; }

    std::vector<SpectrumLine> Lines;
    double MinEnergy = 0;
    double MeanEnergy = 0;
    double MaxEnergy = 0;
    std::uint64_t LineCount = 0;

private:
    // Turns the collected (energy, intensity) pairs into probabilities.
    void Normalise();
};

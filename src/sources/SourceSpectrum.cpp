#include "sources/SourceSpectrum.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "datafiles/XRTCStream.h"
#include "inifiles/IniFile.h"

namespace {

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Collects spectrum lines one text line at a time, following the header and
// end-of-data rules of spectrum files.
class LineCollector {
public:
    explicit LineCollector(SourceSpectrum& spectrum) : Spectrum(spectrum) {}

    void Add(const std::string& line) {
        if (line.empty())
            return;
        if (line[0] == '#' || line[0] == ';') {
            if (Trim(line.substr(1)).compare(0, 3, "EOF") == 0)
                Collecting = false;
            return;
        }
        if (line[0] == '[') {
            Collecting = line.compare(0, 10, "[Spectrum]") == 0;
            if (Collecting)
                Spectrum.Lines.clear();
            return;
        }
        if (!Collecting)
            return;
        std::istringstream in(line);
        double energy = 0, intensity = 0;
        if (!(in >> energy >> intensity))
            return;
        if (!std::isfinite(energy) || !std::isfinite(intensity) || energy <= 0 || intensity <= 0)
            return;
        SpectrumLine l;
        l.Energy = energy;
        l.Probability = intensity; // normalised later
        Spectrum.Lines.push_back(l);
    }

private:
    SourceSpectrum& Spectrum;
    bool Collecting = true;
};

} // namespace

SourceSpectrum SourceSpectrum::Read(std::istream& in) {
    SourceSpectrum spectrum;
    LineCollector collector(spectrum);
    std::string line;
    while (std::getline(in, line))
        collector.Add(line);
    spectrum.Normalise();
    return spectrum;
}

SourceSpectrum SourceSpectrum::ReadFile(const std::string& fileName) {
    std::unique_ptr<datafiles::XRTCStream> in;
    try {
        in = datafiles::OpenInputFile(fileName);
    } catch (const std::exception&) {
        throw std::runtime_error("Could not open " + fileName + "!");
    }
    return Read(*in);
}

SourceSpectrum SourceSpectrum::FromSection(const inifiles::TIniFileSection& section) {
    SourceSpectrum spectrum;
    LineCollector collector(spectrum);
    for (std::size_t i = 0; i < section.VariableCount(); ++i) {
        const inifiles::TIniFileVariable& v = section.Variable(i);
        collector.Add(v.GetName() + "\t" + v.GetValue());
    }
    spectrum.Normalise();
    return spectrum;
}

void SourceSpectrum::Normalise() {
    if (Lines.empty())
        throw std::runtime_error("Empty spectrum!");
    double total = 0, weighted = 0;
    MinEnergy = MaxEnergy = Lines.front().Energy;
    for (const SpectrumLine& l : Lines) {
        if (l.Probability < 0)
            throw std::runtime_error("Invalid input spectrum!");
        MinEnergy = std::min(MinEnergy, l.Energy);
        MaxEnergy = std::max(MaxEnergy, l.Energy);
        total += l.Probability;
        weighted += l.Probability * l.Energy;
    }
    if (!(total > 0) || !std::isfinite(total))
        throw std::runtime_error("Invalid input spectrum!");
    MeanEnergy = weighted / total;
    double cumulative = 0;
    for (SpectrumLine& l : Lines) {
        l.Probability /= total;
        cumulative += l.Probability;
        l.Cumulative = cumulative;
    }
    LineCount = Lines.size();
}

double SourceSpectrum::Sample(double u) const {
    const auto it = std::lower_bound(Lines.begin(), Lines.end(), u, [](const SpectrumLine& l, double value) {
        return l.Cumulative < value;
    });
    return it == Lines.end() ? Lines.back().Energy : it->Energy;
}

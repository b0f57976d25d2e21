#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace inifiles {
class TIniFileSection;
}

namespace datastructures {

// Data-format codes of tabulated data (numeric code or lower-case keyword in
// files; printed names in summaries and table headers).
enum TableFormat : std::uint32_t {
    TableFormatNone = 0,
    Coherent = 1,
    Incoherent = 2,
    Brems = 100,
    Fluo = 101,
    KnockOn = 102,
    TCR = 200,
    PCR = 201,
    ACRP = 202,
    SimpleDet = 300,
    FullDet = 301,
    SimpleDetSpline = 302,
};

// "Coherent", "Incoherent", ...; "Unknown" for codes without a printed name.
std::string TableFormatName(std::uint32_t code);
// The code of a printed name, compared without regard to case; false if none.
bool TableFormatFromName(const std::string& name, std::uint32_t& code);
// Reads a number or an exact lower-case keyword; sets failbit otherwise.
std::istream& operator>>(std::istream& in, TableFormat& format);

// One segment of the energy grid: `Levels` energies Start + k * Stride.
struct EnergySegment {
    double Start = 0.0;
    double Stride = 0.0;
    double InverseStride = 0.0;
    double Last = 0.0;           // Start + (Levels - 1) * Stride
    std::size_t Levels = 0;
    std::size_t FirstLevel = 0;  // index of the segment's first level in the whole table
    std::size_t Gamma = 0;       // values per level (probability tables)
    std::size_t FirstValue = 0;  // index of the segment's first value: levels before it times their Gamma
};

// Table configuration and energy grid shared by every tabulated material
// quantity: segments of equal energy steps, linear interpolation between levels.
class TableInfo {
public:
    std::string FileName;
    bool Save = false;
    std::uint32_t DataFormat = 0;
    double Density = 0.0;
    double MaxEnergy = 0.0;
    double IntegrationPrecision = 0.0;
    std::vector<double> EnergyStart;
    std::vector<double> EnergyStride;
    std::vector<std::uint64_t> EnergyLevelsNumber;
    std::vector<std::uint64_t> GammaValuesNumber;

    // Reads CoefficientsFileName (resolved against the section's base path),
    // Save, DataFormat, Density, IntegrationPrecision and the four segment
    // lists; missing keys keep their values. With a `context`, a bad value's
    // message ends in " for " + key + " in " + context.
    void ReadConfiguration(const inifiles::TIniFileSection& section, const std::string& context = std::string());

    // Validates and completes the segment lists against MaxEnergy (none when
    // not positive: then every segment needs its level count) and builds the
    // segments; throws "Starting energies not ordered", "Invalid table
    // configuration", "Incorrect EnergyLevelsNumber" and the level-count error.
    void SetupEnergyGrid();

    const std::vector<EnergySegment>& Segments() const { return segments_; }
    std::size_t TotalLevels() const { return totalLevels_; }
    std::size_t TotalValues() const { return totalValues_; }
    double LowestEnergy() const;
    double HighestEnergy() const;

    // Level `index` and weight `fraction` of level index + 1 for `energy`
    // (fraction 0 means exactly level `index`), and the segment of both.
    // Throws "TableInfo::interpolate(). Energy Index Error!\n" outside the grid.
    const EnergySegment& Locate(double energy, std::size_t& index, double& fraction) const
    {
        // Branch-free binary search for the first segment ending at or above
        // the energy: random energies would mispredict a linear scan.
        const double* last = lasts_.data();
        std::size_t length = lasts_.size();
        if (length == 0)
            ThrowEnergyIndexError();
        while (length > 1) {
            const std::size_t half = length / 2;
            last = last[half - 1] < energy ? last + half : last;
            length -= half;
        }
        const EnergySegment& s = segments_[static_cast<std::size_t>(last - lasts_.data())];
        if (!(energy <= *last && energy >= s.Start))
            ThrowEnergyIndexError();
        double t = (energy - s.Start) * s.InverseStride;
        // Signed conversions: a single instruction each, t being small and >= 0.
        const double whole = static_cast<double>(static_cast<std::int64_t>(t + 0.5));
        if (t - whole < 1e-9 && whole - t < 1e-9)
            t = whole;  // grid energies written as decimals hit their level exactly
        const auto i = static_cast<std::size_t>(static_cast<std::int64_t>(t));
        if (i + 1 >= s.Levels) {
            index = s.FirstLevel + s.Levels - 1;
            fraction = 0.0;
            return s;
        }
        fraction = t - static_cast<double>(i);
        index = s.FirstLevel + i;
        return s;
    }

    [[noreturn]] static void ThrowEnergyIndexError();
    [[noreturn]] static void ThrowInvalidIndex();

private:
    std::vector<EnergySegment> segments_;
    std::vector<double> lasts_;  // each segment's last energy, for the search
    std::size_t totalLevels_ = 0;
    std::size_t totalValues_ = 0;
};

// The "#Tarvo" header line of table files (tab-separated): magic word, "0"/"1"
// for one/several segments, a name, the printed data format, gamma counts and
// optionally level counts, start energies and strides, each a ","-list.
// Reading sets the format and the lists present; throws "Unknown file format".
bool IsTableHeader(const std::string& line);
void ReadTableHeader(const std::string& line, TableInfo& info, std::string* name = nullptr);
// Writes the header for the grid as set up, plus one comment line per segment.
void WriteTableHeader(std::ostream& out, const TableInfo& info, const std::string& name);

} // namespace datastructures

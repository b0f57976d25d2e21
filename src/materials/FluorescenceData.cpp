#include "materials/FluorescenceData.h"

#include "materials/DataLines.h"

#include <sstream>
#include <stdexcept>
#include <string>

namespace materials {

namespace {

// Level lines the file holds: its own level counts when the header gives them
// all, since a grid cut at a lower maximum energy still has to skip the rest
// before the shell lines start.
std::size_t LevelsInFile(const datastructures::TableInfo& header, std::size_t gridLevels)
{
    std::size_t total = 0;
    for (auto n : header.EnergyLevelsNumber) {
        if (n == 0)
            return gridLevels;
        total += static_cast<std::size_t>(n);
    }
    return header.EnergyLevelsNumber.size() == header.EnergyStart.size() && total > gridLevels ? total
                                                                                              : gridLevels;
}

TFluorescenceShell ReadShell(const std::string& line)
{
    std::istringstream in(line);
    TFluorescenceShell shell;
    std::size_t count = 0;
    if (!(in >> shell.BindingEnergy >> count))
        throw std::runtime_error("Error parsing: " + line);
    for (std::size_t i = 0; i < count; ++i) {
        TFluorescenceLine l;
        if (!(in >> l.Energy >> l.Probability >> l.Kind))
            throw std::runtime_error("Error parsing: " + line);
        if (l.Kind == 0 || l.Kind == 1)
            shell.Lines.push_back(l);
    }
    return shell;
}

} // namespace

bool TFluorescenceData::LoadDataFromStream(std::istream& in)
{
    loaded_ = false;
    try {
        Load(in);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("FluorescenceData: ") + e.what());
    }
    loaded_ = true;
    return true;
}

void TFluorescenceData::Load(std::istream& in)
{
    photo_.clear();
    electron_.clear();
    shells_.clear();
    std::string line;
    if (!std::getline(in, line) || !datastructures::IsTableHeader(line))
        throw std::runtime_error("Unknown file format");
    datastructures::ReadTableHeader(line, info_);
    const datastructures::TableInfo header = info_;
    info_.SetupEnergyGrid();
    const std::size_t shells = info_.Segments().front().Gamma;
    for (const auto& s : info_.Segments()) {
        if (s.Gamma != shells)
            throw std::runtime_error("Unknown file format");
    }

    const std::size_t levels = info_.TotalLevels();
    const std::size_t fileLevels = LevelsInFile(header, levels);
    std::vector<double> values;
    for (std::size_t level = 0; level < fileLevels; ++level) {
        if (!NextDataLine(in, line))
            throw std::runtime_error("Not enough lines");
        if (level >= levels)
            continue;
        values.clear();
        // A corrupt shell count must not wrap the field count around.
        if (shells > line.size() || !AppendNumbers(line, 2 * shells + 1, values))
            throw std::runtime_error("Not enough fields");
        photo_.insert(photo_.end(), values.begin(), values.begin() + static_cast<std::ptrdiff_t>(shells));
        electron_.insert(electron_.end(), values.begin() + static_cast<std::ptrdiff_t>(shells), values.end());
    }
    for (std::size_t i = 0; i < shells; ++i) {
        if (!NextDataLine(in, line))
            throw std::runtime_error("Not enough lines");
        shells_.push_back(ReadShell(line));
    }
}

double TFluorescenceData::Interpolate(const std::vector<double>& values, std::size_t stride, std::size_t column,
                                      std::size_t index, double fraction)
{
    const double a = values[index * stride + column];
    if (fraction == 0.0)
        return a;
    return (1.0 - fraction) * a + fraction * values[(index + 1) * stride + column];
}

double TFluorescenceData::PhotoProbability(std::size_t shell, double energy) const
{
    std::size_t index = 0;
    double fraction = 0.0;
    info_.Locate(energy, index, fraction);
    return Interpolate(photo_, shells_.size(), shell, index, fraction);
}

double TFluorescenceData::ElectronImpactValue(std::size_t shell, double energy) const
{
    std::size_t index = 0;
    double fraction = 0.0;
    info_.Locate(energy, index, fraction);
    return Interpolate(electron_, shells_.size() + 1, shell, index, fraction);
}

int TFluorescenceData::SampleShell(double energy, double u) const
{
    if (shells_.empty())
        return -1;
    std::size_t index = 0;
    double fraction = 0.0;
    info_.Locate(energy, index, fraction);
    double sum = 0.0;
    for (std::size_t s = 0; s < shells_.size(); ++s) {
        sum += Interpolate(photo_, shells_.size(), s, index, fraction);
        if (u < sum)
            return static_cast<int>(s);
    }
    return -1;
}

} // namespace materials

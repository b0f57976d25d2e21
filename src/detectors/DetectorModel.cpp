#include "detectors/DetectorModel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "datafiles/XRTCStream.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"

namespace {

// The data line without comment and surrounding blanks, split at blanks and tabs.
std::vector<std::string> DataFields(std::string line, std::string& trimmed) {
    const auto hash = line.find('#');
    if (hash != std::string::npos)
        line.erase(hash);
    const char* blanks = " \t\r\n";
    const auto first = line.find_first_not_of(blanks);
    trimmed = first == std::string::npos ? std::string()
                                         : line.substr(first, line.find_last_not_of(blanks) - first + 1);
    return inifiles::Split(trimmed, " \t", false);
}

double ParseNumber(const std::string& text, const std::string& line) {
    std::istringstream in(text);
    double value = 0;
    char rest = 0;
    if (!(in >> value) || (in >> rest))
        throw std::runtime_error("Invalid data: " + line);
    return value;
}

// Above 1 - 1e-18 the exponent would be -infinity.
double Exponent(double response) {
    const double remaining = 1 - response;
    return std::log(remaining <= 1e-18 ? 1e-18 : remaining);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

DetectorModel::DetectorModel(std::string name) : Name(std::move(name)) {}

void DetectorModel::Load(const inifiles::TIniFileSection& section) {
    const inifiles::TIniFileSection& own = section.NameEquals(Name) ? section : section.FindSubsection(Name);
    try {
        ReadTypeKeys(own);
        Ideal = true;
        Simple = true;
        if (Name.empty()) {
            AngleCorrection = false;
            UpdateUnchangedTypes();
            Loaded = true;
            return;
        }
        inifiles::ReadOptional(own, "Simple", Simple);
        const inifiles::TIniFileVariable* file = own.TryFindVariable("DataFile");
        if (file != nullptr) {
            const std::string fileName = inifiles::MakePath(*file, file->GetValue());
            try {
                ReadDataFile(fileName);
            } catch (const std::exception& e) {
                throw std::runtime_error(std::string(e.what()) + " (model " + Name + ", file " + fileName +
                                         ")");
            }
            Ideal = false;
        }
    } catch (const std::exception& e) {
        UpdateUnchangedTypes();
        throw std::runtime_error(std::string("DetectorModel::Load: ") + e.what());
    }
    UpdateUnchangedTypes();
    Loaded = true;
}

void DetectorModel::UpdateUnchangedTypes() {
    UnchangedTypes = 0;
    if (Ideal && !AngleCorrection)
        for (std::uint32_t type = 0; type < 4; ++type)
            UnchangedTypes |= std::uint32_t(Accepts(type)) << type;
}

void DetectorModel::ReadTypeKeys(const inifiles::TIniFileSection& section) {
    inifiles::ReadOptional(section, "AngleCorrection", AngleCorrection);
    bool photonsOnly = false, electronsOnly = false;
    inifiles::ReadOptional(section, "PhotonsOnly", photonsOnly);
    inifiles::ReadOptional(section, "ElectronsOnly", electronsOnly);
    if (photonsOnly && electronsOnly)
        throw std::runtime_error("PhotonsOnly and ElectronsOnly both set");
    if (photonsOnly || electronsOnly) {
        DetectPhotons = photonsOnly;
        DetectElectrons = DetectPositrons = electronsOnly;
    }
    inifiles::ReadOptional(section, "DetectPhotons", DetectPhotons);
    if (inifiles::ReadOptional(section, "DetectElectrons", DetectElectrons))
        DetectPositrons = DetectElectrons;
    inifiles::ReadOptional(section, "DetectPositrons", DetectPositrons);
}

void DetectorModel::ReadDataFile(const std::string& fileName) {
    auto in = datafiles::OpenInputFile(fileName);
    std::string header;
    datastructures::TableInfo info;
    try {
        if (!std::getline(*in, header))
            throw std::runtime_error("no line");
        datastructures::ReadTableHeader(header, info);
    } catch (const std::exception&) {
        throw std::runtime_error("Couldn't read header");
    }
    const std::uint32_t format = info.DataFormat;
    if (format != datastructures::SimpleDet && format != datastructures::FullDet &&
        format != datastructures::SimpleDetSpline)
        throw std::runtime_error("Not a detector model file");
    if (format == datastructures::FullDet)
        throw std::runtime_error("stub");
    if (!Simple)
        throw std::runtime_error("Insufficient data for full detector model");
    Grid = info;
    ReadTable(*in, format);
    if (AngleCorrection)
        for (DataPair& pair : Data)
            pair.Response = Exponent(pair.Response);
}

void DetectorModel::ReadTable(std::istream& in, std::uint32_t format) {
    Spline = format == datastructures::SimpleDetSpline;
    const std::vector<std::uint64_t>& fields = Grid.GammaValuesNumber;
    std::size_t wanted = 0;
    if (Spline) {
        if (fields.size() > 1 &&
            std::any_of(fields.begin(), fields.end(), [](std::uint64_t n) { return n != 3; }))
            throw std::runtime_error("Incorrect number of fields");
    } else {
        if (std::any_of(fields.begin(), fields.end(), [](std::uint64_t n) { return n != 2; }))
            throw std::runtime_error("Incorrect number of fields");
        Grid.SetupEnergyGrid();
        wanted = Grid.TotalLevels();
    }
    const std::size_t columns = Spline ? 3 : 2;
    std::vector<std::pair<double, DataPair>> points;
    std::string line, trimmed;
    while ((Spline || Data.size() < wanted) && std::getline(in, line)) {
        const std::vector<std::string> values = DataFields(line, trimmed);
        if (trimmed.empty())
            continue;
        if (values.size() != columns)
            throw std::runtime_error(
                std::string(Spline ? "Expected three values per line: " : "Expected two values per line: ") +
                trimmed);
        std::vector<double> numbers;
        for (const std::string& v : values)
            numbers.push_back(ParseNumber(v, trimmed));
        if (Spline) {
            if (numbers[0] < 0)
                throw std::runtime_error("Invalid data: " + trimmed);
            points.push_back({numbers[0], DataPair{numbers[1], numbers[2]}});
        } else {
            Data.push_back(DataPair{numbers[0], numbers[1]});
        }
    }
    if (!Spline) {
        if (Data.size() < wanted)
            throw std::runtime_error("Not enough data");
        LowestEnergy = Grid.LowestEnergy();
        return;
    }
    if (points.empty())
        throw std::runtime_error("Not enough data");
    // A later line for the same energy replaces the earlier one, as in a map.
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [energy, pair] : points) {
        if (!Energies.empty() && Energies.back() == energy) {
            Data.back() = pair;
            continue;
        }
        Energies.push_back(energy);
        Data.push_back(pair);
    }
    LowestEnergy = Energies.front();
}

DetectorModel::DataPair DetectorModel::Lookup(double energy) const {
    std::size_t index = 0;
    double fraction = 0;
    if (Spline) {
        const auto upper = std::upper_bound(Energies.begin(), Energies.end(), energy);
        if (upper == Energies.end())
            return Data.back();
        index = std::size_t(upper - Energies.begin()) - 1;
        fraction = (energy - Energies[index]) / (Energies[index + 1] - Energies[index]);
    } else {
        if (energy >= Grid.HighestEnergy())
            return Data.back();
        Grid.Locate(energy, index, fraction);
        if (fraction == 0)
            return Data[index];
    }
    const DataPair& a = Data[index];
    const DataPair& b = Data[index + 1];
    return DataPair{a.Response + fraction * (b.Response - a.Response),
                    a.Energy + fraction * (b.Energy - a.Energy)};
}

void DetectorModel::Apply(std::uint32_t particleType, double& energy, double& weight, double cosine) const {
    if (Ideal || particleType != 0 || energy < LowestEnergy)
        return;
    const DataPair pair = Lookup(energy);
    double p = pair.Response;
    if (AngleCorrection) {
        const double c = std::fabs(cosine);
        // Grazing incidence crosses an endless layer: everything is detected that can be.
        p = c > 0 ? 1 - std::exp(pair.Response / c) : (pair.Response < 0 ? 1.0 : 0.0);
    }
    energy = pair.Energy;
    weight *= p;
}

std::string DetectorModel::Description() const {
    std::string text = Ideal ? std::string("ideal") : Name + (Simple ? ", simple" : "");
    if (!Ideal && AngleCorrection)
        text += ", angle corrected";
    text += DetectPhotons ? ", photons" : ", no photons";
    text += DetectElectrons ? ", electrons" : ", no electrons";
    text += DetectPositrons ? ", positrons" : ", no positrons";
    return text;
}

std::shared_ptr<DetectorModel> IScene::GetDetectorModel(const std::string& name) {
    for (const auto& model : DetectorModels)
        if (SameName(model->GetName(), name))
            return model;
    auto model = std::make_shared<DetectorModel>(name);
    DetectorModels.push_back(model);
    return model;
}

void LoadDetectorModels(IScene& scene, const inifiles::TIniFileStructure& definitions) {
    const inifiles::TIniFileSection* section = definitions.TryFindSection("Detectors");
    for (const auto& model : scene.DetectorModels) {
        if (model->GetName().empty())
            continue;
        if (section == nullptr ||
            (!section->NameEquals(model->GetName()) && !section->HasSubsection(model->GetName())))
            throw std::runtime_error("DetectorModel not found: " + model->GetName());
        model->Load(*section);
    }
}

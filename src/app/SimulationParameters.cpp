#include "app/SimulationParameters.h"

#include "app/SystemUtils.h"
#include "interactions/InteractionTypes.h"

#include <algorithm>
#include <ctime>
#include <iomanip>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>

using inifiles::ReadOptional;
using inifiles::TIniFileSection;
using inifiles::TIniFileVariable;

namespace {

struct ImageTypeName {
    const char* word;
    ImageType type;
};

constexpr ImageTypeName kImageTypeWords[] = {
    {"None", ImageType::None}, {"TXT", ImageType::TXT},   {"Vimo", ImageType::Vimo}, {"PGM", ImageType::PGM},
    {"TIF", ImageType::TIFF},  {"TIFF", ImageType::TIFF}, {"RAW", ImageType::RAW},
};
constexpr const char* kImageTypeNames[] = {"None", "TXT", "Vimo", "PGM", "TIFF", "RAW"};
// Indexed by code - 1; matched after conversion to lower case.
constexpr const char* kPixelTypeWords[] = {"default", "uint16", "float", "double"};
constexpr const char* kPixelTypeNames[] = {"Default", "UInt16", "Float", "Double"};

// Until the configurable interactions model exists every run uses the default list.
constexpr SizeType kNormalizationWarningLimit = 50000;
constexpr SizeType kSixteenBitRange = 65536;

void ReadApplicationTask(const TIniFileSection& task, TSimulationParameters& p) {
    if (!ReadOptional(task, "NumberOfParticles", p.NumberOfParticles))
        ReadOptional(task, "NumberOfPhotons", p.NumberOfParticles);
    if (p.NumberOfParticles == 0)
        throw std::runtime_error("Can not read the number of particles!");
    if (const TIniFileVariable* batch = task.TryFindVariable("BatchSize")) {
        inifiles::GetSize(*batch, p.BatchSize);
        // A batch size below 1 is a fraction of all particles, at least one.
        try {
            double fraction = 0;
            inifiles::GetValue(*batch, fraction);
            if (fraction < 1)
                p.BatchSize = std::max<SizeType>(
                    1, inifiles::ToSize(static_cast<double>(p.NumberOfParticles) * fraction));
        } catch (const std::exception&) {
        }
    }
    ReadOptional(task, "Single", p.Single);
    ReadOptional(task, "Caching", p.Caching);
    ReadOptional(task, "TargetPixels", p.TargetPixels);
    ReadOptional(task, "RayCasting", p.RayCasting);
    ReadOptional(task, "Radiography", p.Radiography);
    ReadOptional(task, "QuasiMonteCarlo", p.QuasiMonteCarlo);
    ReadOptional(task, "SAHBins", p.SAHBins);
    ReadOptional(task, "MaxLeafCount", p.MaxLeafCount);
    ReadOptional(task, "MaxBVHDepth", p.MaxBVHDepth);
    ReadOptional(task, "TracesPerEmission", p.TracesPerEmission);
    ReadOptional(task, "MaxNumberOfTracers", p.MaxNumberOfTracers);
    ReadOptional(task, "ResetInteractionCount", p.ResetInteractionCount);
    ReadOptional(task, "ResetInteractionCountFirst", p.ResetInteractionCountFirst);
    ReadOptional(task, "StartImmediately", p.StartImmediately);
    ReadOptional(task, "PerParticle", p.PerParticle);
    ReadOptional(task, "CompressResults", p.CompressResults);
    ReadOptional(task, "TimeStep", p.TimeStep);
    ReadOptional(task, "MaxTimeStep", p.MaxTimeStep);
    ReadOptional(task, "SaveInterval", p.SaveInterval);
    ReadOptional(task, "ImageType", p.ImageType);
    ReadOptional(task, "PixelType", p.PixelType);
    ReadOptional(task, "NormalizeErrors", p.NormalizeErrors);
    ReadOptional(task, "NormalizeImages", p.NormalizeImages);
    ReadOptional(task, "ResultDir", p.ResultDir);
    ReadOptional(task, "PRNG", p.PRNG);
}

void ReadDataSources(const TIniFileSection& sources, TSimulationParameters& p) {
    for (auto [key, name] :
         {std::pair{"SceneFileName", &p.SceneFileName}, std::pair{"MaterialsFileName", &p.MaterialsFileName},
          std::pair{"DetectorsFileName", &p.DetectorsFileName}}) {
        std::string value;
        if (ReadOptional(sources, key, value) && !value.empty())
            *name = inifiles::MakePath(sources, value);
    }
}

// The four switches first: the interactions model's defaults depend on them.
void ReadPhysicsSwitches(const TIniFileSection& physics, TSimulationParameters& p) {
    ReadOptional(physics, "MaxNumberOfInteractions", p.MaxNumberOfInteractions);
    ReadOptional(physics, "UsePhotonSplitting", p.UsePhotonSplitting);
    ReadOptional(physics, "ElectronTransport", p.ElectronTransport);
    if (!ReadOptional(physics, "FullPhysics", p.FullPhysics))
        ReadOptional(physics, "UseTotalDifferentialCrossSections", p.FullPhysics);
}

void ReadPhysics(const TIniFileSection* physics, TSimulationParameters& p) {
    try {
        if (physics != nullptr)
            ReadPhysicsSwitches(*physics, p);
        auto model = std::make_shared<interactions::TPhotonInteractionsModel>();
        const TIniFileSection* section = physics ? physics->TryFindSubsection("InteractionsModel") : nullptr;
        if (section != nullptr)
            model->ReadFromSection(*section, p.MaterialProperties, p.FullPhysics, p.ElectronTransport);
        else
            model->BuildDefault(p.MaterialProperties, p.FullPhysics, p.ElectronTransport);
        model->CompletePhysics(p.MaterialProperties, p.MaxNumberOfInteractions, p.ElectronTransport);
        p.InteractionsModel = std::move(model);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string(e.what()) + " in [" + (physics ? physics->GetName() : "Physics") + "]");
    }
}

template <class Enum, std::size_t N>
std::ostream& PrintName(std::ostream& stream, Enum value, const char* const (&names)[N], int firstCode) {
    const int index = static_cast<int>(value) - firstCode;
    if (index >= 0 && index < static_cast<int>(N))
        return stream << names[index];
    return stream << static_cast<int>(value);
}

} // namespace

std::istream& operator>>(std::istream& stream, ImageType& type) {
    std::string word;
    if (!(stream >> word))
        return stream;
    for (const auto& entry : kImageTypeWords)
        if (word == entry.word) {
            type = entry.type;
            return stream;
        }
    throw std::runtime_error("Unknown image type!");
}

std::istream& operator>>(std::istream& stream, PixelType& type) {
    std::string word;
    if (!(stream >> word))
        return stream;
    word = ToLower(word);
    for (std::size_t i = 0; i < std::size(kPixelTypeWords); ++i)
        if (word == kPixelTypeWords[i]) {
            type = static_cast<PixelType>(i + 1);
            return stream;
        }
    throw std::runtime_error("Unknown pixel type!");
}

std::ostream& operator<<(std::ostream& stream, ImageType type) {
    return PrintName(stream, type, kImageTypeNames, 0);
}

std::ostream& operator<<(std::ostream& stream, PixelType type) {
    return PrintName(stream, type, kPixelTypeNames, 1);
}

void TSimulationParameters::ReadParameters(inifiles::TIniFileStructure& configuration,
                                           const std::string& defaultResultDir,
                                           const ParameterMessageSink& sink) {
    TSimulationParameters p;
    p.ResultDir = defaultResultDir;
    TIniFileSection* task = configuration.TryFindSection("ApplicationTask");
    if (task == nullptr)
        throw std::runtime_error("Can not read the number of particles!");
    ReadApplicationTask(*task, p);
    const bool seedGiven = ReadOptional(*task, "RandomSeed", p.RandomSeed);
    if (!seedGiven)
        p.RandomSeed = static_cast<std::uint32_t>(std::time(nullptr) % 10000);
    if (const TIniFileSection* sources = configuration.TryFindSection("DataSources"))
        ReadDataSources(*sources, p);
    if (const TIniFileSection* properties = configuration.TryFindSection("MaterialProperties"))
        materials::ReadMaterialProperties(*properties, p.MaterialProperties);
    ReadPhysics(configuration.TryFindSection("Physics"), p);

    *this = p;
    if (!seedGiven) // the tree, and everything written from it, records the seed used
        task->AddVariable("RandomSeed", std::to_string(RandomSeed));
    if (NormalizeImages > kNormalizationWarningLimit || NormalizeErrors > kNormalizationWarningLimit) {
        const bool possibly = NormalizeImages < kSixteenBitRange && NormalizeErrors < kSixteenBitRange;
        if (sink)
            sink(std::string("Image normalization constant ") + (possibly ? "possibly " : "") +
                     "too large for 16bit.",
                 true);
    }
}

void TSimulationParameters::PrintParameterSummary(std::ostream& stream) const {
    if (Single)
        stream << "  Single Precision Coordinates\n";
    if (RayCasting)
        stream << "  RayCasting\n";
    else if (TargetPixels)
        stream << "  Target Pixels\n";
    stream << "  Max Number Of Tracers: " << MaxNumberOfTracers << "\n";
    stream << "  Number Of Particles: " << FormatCount(NumberOfParticles) << "\n";
    if (BatchSize != 0)
        stream << "  Particles Per Batch: " << FormatCount(BatchSize) << "\n";
    stream << "  PRNG Type: " << PRNG << "\n";
    stream << "  Random Seed: " << RandomSeed << "\n";
    stream << "  Quasi Monte Carlo: " << QuasiMonteCarlo << "\n";
    stream << "  Image Type: " << ImageType << "\n";
    stream << "  Pixel Type: " << PixelType << "\n";
    stream << "  Compress Results: " << CompressResults << "\n";
    if (NormalizeErrors != 0)
        stream << "  Normalize Errors: " << NormalizeErrors << "\n";
    if (NormalizeImages == 0)
        stream << "  Per Particle Results: " << PerParticle << "\n";
    else
        stream << "  Normalize Images: " << NormalizeImages << "\n";
    stream << "  Reset Interaction Count Of Secondary Particles: " << ResetInteractionCount << "\n";
    if (!ResetInteractionCount)
        stream << "  Reset Interaction Count Of First Generation Secondary Particles: "
               << ResetInteractionCountFirst << "\n";
}

void TSimulationParameters::PrintSimulationSummary(std::ostream& stream) const {
    const materials::MaterialProperties& m = MaterialProperties;
    stream << "Simulation Summary: \n";
    PrintParameterSummary(stream);
    stream << "  Full Physical Treatment: " << FullPhysics << "\n";
    stream << "  Max Number Of Interactions For Each Photon: "
           << static_cast<std::uint32_t>(MaxNumberOfInteractions) << "\n";
    stream << "  Use Photon Splitting (Variance Reduction Method): " << UsePhotonSplitting << "\n";
    if (InteractionsModel)
        InteractionsModel->PrintSummary(stream);
    stream << "  Energy Range: ";
    FormatEnergyRange(stream, m.MinEnergy, m.MaxEnergy);
    stream << "\n";
    if (m.MaxEnergy > m.FullPhysicsThreshold)
        stream << "  Full Physics Threshold: " << m.FullPhysicsThreshold << " keV\n";
    if (m.ElectronTransport) {
        stream << "  Minimum Electron Energy: " << m.MinElectronEnergy << " keV\n";
        if (m.EmitBremsstrahlung)
            stream << "  Bremsstrahlung: " << (m.BremsstrahlungAngular ? "angular" : "isotropic")
                   << (m.AllBremsstrahlung ? ", all" : "") << "\n";
    }
    if (m.Fluorescence) {
        stream << "  Fluorescence: photons";
        if (m.FluorescenceElectronProbability > 0)
            stream << ", electrons (prob.: " << m.FluorescenceElectronProbability << ")";
        if (m.AugerProbability > 0)
            stream << ", Auger (prob.: " << m.AugerProbability << ")";
        stream << (m.AllFluorescence ? ", all" : "") << "\n";
    }
    stream << "  Tabulated (Energy Dependent) Attenuation Coefficients: "
           << m.UseTabulatedMacroscopicCoefficients << "\n";
    if (HasInteraction(interactions::InteractionCompton))
        stream << "  Tabulated (Energy & Direction Dependent Scattering Angle Probabilities) Compton: "
               << (FullPhysics ? m.UseTabulatedTotalCompton : m.UseTabulatedKleinNishina) << "\n";
    if (HasInteraction(interactions::InteractionRayleigh))
        stream << "  Tabulated (Energy & Direction Dependent Scattering Angle Probabilities) Rayleigh: "
               << (FullPhysics ? m.UseTabulatedTotalRayleigh : m.UseTabulatedThomson) << "\n";
}

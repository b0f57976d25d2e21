#include "app/SimulationParameters.h"

#include "common/TestUtil.h"
#include "materials/TestErrors.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

using inifiles::TIniFileStructure;

namespace {

TIniFileStructure Tree(const std::string& text) {
    std::istringstream stream(text);
    TIniFileStructure tree;
    tree.Read(stream);
    return tree;
}

struct Loaded {
    TSimulationParameters parameters;
    std::vector<std::pair<std::string, bool>> messages;
};

Loaded Load(const std::string& text, const std::string& defaultResultDir = "") {
    Loaded loaded;
    TIniFileStructure tree = Tree(text);
    loaded.parameters.ReadParameters(tree, defaultResultDir,
                                     [&loaded](const std::string& message, bool isError) {
                                         loaded.messages.emplace_back(message, isError);
                                     });
    return loaded;
}

std::string LoadError(const std::string& text) {
    return ErrorOf([&] { Load(text); });
}

std::string Task(const std::string& keys) {
    return "[ApplicationTask]\n" + keys + "\n[EndApplicationTask]\n";
}

std::string ParameterSummary(const TSimulationParameters& p) {
    std::ostringstream stream;
    stream << std::boolalpha;
    p.PrintParameterSummary(stream);
    return stream.str();
}

std::string SimulationSummary(const TSimulationParameters& p) {
    std::ostringstream stream;
    stream << std::boolalpha;
    p.PrintSimulationSummary(stream);
    return stream.str();
}

} // namespace

// ------------------------------------------------------------------ number of particles

TEST(ParametersParticles, NumberOfPhotonsStandsInForNumberOfParticles) {
    EXPECT_EQ(Load(Task("NumberOfPhotons = 1000")).parameters.NumberOfParticles, 1000u);
    EXPECT_EQ(Load(Task("NumberOfPhotons = 5\nNumberOfParticles = 7")).parameters.NumberOfParticles, 7u);
    EXPECT_EQ(Load(Task("Number Of Particles = 3\nnumberofparticles = 4")).parameters.NumberOfParticles, 4u);
}

TEST(ParametersParticles, ZeroOrMissingCountFails) {
    const std::string message = "Can not read the number of particles!";
    EXPECT_EQ(LoadError(Task("NumberOfParticles = 0")), message);
    EXPECT_EQ(LoadError(Task("Single = true")), message);
    EXPECT_EQ(LoadError("[Physics]\n[EndPhysics]\n"), message);
}

TEST(ParametersParticles, CountsAreSizeTypes) {
    const auto loaded = Load(Task("NumberOfParticles = 1e6"));
    EXPECT_EQ(loaded.parameters.NumberOfParticles, 1000000u);
    EXPECT_NE(ParameterSummary(loaded.parameters).find("\n  Number Of Particles: 1000000 (1e+06)\n"),
              std::string::npos);
    EXPECT_EQ(LoadError(Task("NumberOfParticles = 1.5")),
              "Conversion failed while getting NumberOfParticles as SizeType: 1.5");
    EXPECT_EQ(LoadError(Task("NumberOfParticles = 10\nSAHBins = lots")),
              "Problem getting SAHBins as SizeType: lots");
}

TEST(ParametersParticles, BatchSizeZeroMeansOneParticle) {
    EXPECT_EQ(Load(Task("NumberOfParticles = 100\nBatchSize = 0")).parameters.BatchSize, 1u);
    EXPECT_EQ(Load(Task("NumberOfParticles = 100\nBatchSize = 2.5e1")).parameters.BatchSize, 25u);
    EXPECT_EQ(Load(Task("NumberOfParticles = 100")).parameters.BatchSize, 0u);
    EXPECT_EQ(LoadError(Task("NumberOfParticles = 100\nBatchSize = 0.5")),
              "Conversion failed while getting BatchSize as SizeType: 0.5");
}

// ------------------------------------------------------------------ typed keys

// Defaults the summaries do not show (DefaultSimulationSummary checks the others).
TEST(ParametersKeys, MissingKeysKeepTheirDefaults) {
    const auto p = Load(Task("NumberOfParticles = 10"), "out/run").parameters;
    EXPECT_EQ(p.TracesPerEmission, 1u);
    EXPECT_EQ(p.SAHBins, 42u);
    EXPECT_EQ(p.MaxLeafCount, 5u);
    EXPECT_EQ(p.MaxBVHDepth, 500u);
    EXPECT_FALSE(p.Single);
    EXPECT_TRUE(p.Caching);
    EXPECT_FALSE(p.TargetPixels);
    EXPECT_FALSE(p.RayCasting);
    EXPECT_TRUE(p.Radiography);
    EXPECT_FALSE(p.StartImmediately);
    EXPECT_EQ(p.NormalizeErrors, 0u);
    EXPECT_EQ(p.NormalizeImages, 0u);
    EXPECT_EQ(p.TimeStep, 5);
    EXPECT_EQ(p.MaxTimeStep, 60);
    EXPECT_EQ(p.SaveInterval, 3600);
    EXPECT_EQ(p.ResultDir, "out/run");
    EXPECT_EQ(p.SceneFileName, "");
    EXPECT_FALSE(p.ElectronTransport);
    EXPECT_EQ(p.MaterialProperties.Emic, 11.0);
    EXPECT_EQ(p.MaterialProperties.MinElectronEnergy, 11.0);
    EXPECT_TRUE(p.MaterialProperties.EmitBremsstrahlung);
    EXPECT_FALSE(p.MaterialProperties.Fluorescence);
}

TEST(ParametersKeys, EveryKeyIsRead) {
    const auto p =
        Load(Task("NumberOfParticles = 10\nMaxNumberOfTracers = 3\nTracesPerEmission = 2\nSAHBins = 8\n"
                  "MaxLeafCount = 4\nMaxBVHDepth = 64\nSingle = true\nCaching = 0\nTargetPixels = 1\n"
                  "RayCasting = true\nRadiography = false\nQuasiMonteCarlo = true\n"
                  "ResetInteractionCount = true\nResetInteractionCountFirst = 1\nStartImmediately = 1\n"
                  "PerParticle = 0\nCompressResults = 1\nPRNG = XORShift128Plus\nRandomSeed = 77\n"
                  "ImageType = PGM\nPixelType = Float\nNormalizeErrors = 100\nNormalizeImages = 200\n"
                  "TimeStep = 1\nMaxTimeStep = 2\nSaveInterval = 0\nResultDir = \"my results\"") +
             "[MaterialProperties]\nMinEnergy = 10\nFullPhysicsThreshold = 100\nEmic = 5\n"
             "MinElectronEnergy = 6\nAugerProbability = 0.5\nFluorescenceElectronProbability = 0.25\n"
             "Fluorescence = true\nAllFluorescence = 1\nEmitBremsstrahlung = 0\n"
             "BremsstrahlungAngular = 1\nAllBremsstrahlung = 1\nUseTabulatedMacroscopicCoefficients = 0\n"
             "UseTabulatedKleinNishina = 0\nUseTabulatedThomson = 0\nUseTabulatedTotalCompton = 0\n"
             "UseTabulatedTotalRayleigh = 0\n[EndMaterialProperties]\n"
             "[Physics]\nFullPhysics = true\nElectronTransport = true\nUsePhotonSplitting = false\n"
             "MaxNumberOfInteractions = 3\n[EndPhysics]\n")
            .parameters;
    EXPECT_EQ(p.MaxNumberOfTracers, 3u);
    EXPECT_EQ(p.TracesPerEmission, 2u);
    EXPECT_EQ(p.SAHBins, 8u);
    EXPECT_EQ(p.MaxLeafCount, 4u);
    EXPECT_EQ(p.MaxBVHDepth, 64u);
    EXPECT_TRUE(p.Single && !p.Caching && p.TargetPixels && p.RayCasting && !p.Radiography &&
                p.QuasiMonteCarlo);
    EXPECT_TRUE(p.ResetInteractionCount && p.ResetInteractionCountFirst && p.StartImmediately);
    EXPECT_TRUE(!p.PerParticle && p.CompressResults);
    EXPECT_EQ(p.PRNG, PRNG_Type::XORShift128Plus);
    EXPECT_EQ(p.RandomSeed, 77u);
    EXPECT_EQ(p.ImageType, ImageType::PGM);
    EXPECT_EQ(p.PixelType, PixelType::Float);
    EXPECT_EQ(p.NormalizeErrors, 100u);
    EXPECT_EQ(p.NormalizeImages, 200u);
    EXPECT_EQ(p.TimeStep, 1);
    EXPECT_EQ(p.MaxTimeStep, 2);
    EXPECT_EQ(p.SaveInterval, 0);
    EXPECT_EQ(p.ResultDir, "my results");
    const auto& m = p.MaterialProperties;
    EXPECT_EQ(m.MinEnergy, 10);
    EXPECT_EQ(m.FullPhysicsThreshold, 100);
    EXPECT_EQ(m.Emic, 5);
    EXPECT_EQ(m.MinElectronEnergy, 6);
    EXPECT_EQ(m.AugerProbability, 0.5);
    EXPECT_EQ(m.FluorescenceElectronProbability, 0.25);
    EXPECT_TRUE(m.Fluorescence && m.AllFluorescence && !m.EmitBremsstrahlung && m.BremsstrahlungAngular &&
                m.AllBremsstrahlung);
    EXPECT_FALSE(m.UseTabulatedMacroscopicCoefficients || m.UseTabulatedKleinNishina ||
                 m.UseTabulatedThomson || m.UseTabulatedTotalCompton || m.UseTabulatedTotalRayleigh);
    EXPECT_TRUE(p.FullPhysics && p.ElectronTransport && !p.UsePhotonSplitting);
    EXPECT_EQ(p.MaxNumberOfInteractions, 3);
    EXPECT_TRUE(m.ElectronTransport); // copied from [Physics]
}

TEST(ParametersKeys, MalformedValuesNameKeyAndValue) {
    const std::string n = "NumberOfParticles = 10\n";
    EXPECT_EQ(LoadError(Task(n + "Single = TRUE")), "Problem getting Single as bool: TRUE");
    EXPECT_EQ(LoadError(Task(n + "TimeStep = soon")), "Problem getting TimeStep as int64: soon");
    EXPECT_EQ(LoadError(Task(n + "RandomSeed = x")), "Problem getting RandomSeed as uint32: x");
    EXPECT_EQ(LoadError(Task(n + "ImageType = tiff")),
              "Unknown image type! while getting ImageType as ImageType: tiff");
    EXPECT_EQ(LoadError(Task(n + "PixelType = int8")),
              "Unknown pixel type! while getting PixelType as PixelType: int8");
    EXPECT_NE(LoadError(Task(n + "PRNG = dice")).find("Unknown PRNG type"), std::string::npos);
    EXPECT_EQ(LoadError(Task(n) + "[MaterialProperties]\nMinEnergy = low\n[EndMaterialProperties]\n"),
              "Problem getting MinEnergy as double: low");
}

TEST(ParametersKeys, ImageTypesAreExactPixelTypesAnyCase) {
    const std::string n = "NumberOfParticles = 10\n";
    EXPECT_EQ(Load(Task(n + "PixelType = UINT16")).parameters.PixelType, PixelType::UInt16);
    EXPECT_EQ(Load(Task(n + "ImageType = TIF")).parameters.ImageType, ImageType::TIFF);
    EXPECT_EQ(Load(Task(n + "ImageType = Vimo")).parameters.ImageType, ImageType::Vimo);
    EXPECT_EQ(Load(Task(n + "ImageType = None")).parameters.ImageType, ImageType::None);
    std::ostringstream names;
    names << ImageType::RAW << ' ' << PixelType::UInt16 << ' ' << static_cast<ImageType>(9) << ' '
          << static_cast<PixelType>(0);
    EXPECT_EQ(names.str(), "RAW UInt16 9 0");
}

TEST(ParametersKeys, PhysicsErrorsNameTheSectionAndFullPhysicsHasAnOldName) {
    const std::string task = Task("NumberOfParticles = 10");
    EXPECT_TRUE(Load(task + "[Physics]\nUseTotalDifferentialCrossSections = true\n[EndPhysics]\n")
                    .parameters.FullPhysics);
    EXPECT_FALSE(
        Load(task +
             "[Physics]\nFullPhysics = false\nUseTotalDifferentialCrossSections = true\n[EndPhysics]\n")
            .parameters.FullPhysics);
    EXPECT_EQ(LoadError(task + "[physics]\nElectronTransport = yes\n[EndPhysics]\n"),
              "Problem getting ElectronTransport as bool: yes in [physics]");
}

TEST(ParametersKeys, DataSourcesAreRelativeToTheConfiguration) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("run.ini"),
                        Task("NumberOfParticles = 10") +
                            "[DataSources]\nSceneFileName = scenes/a.ini\n"
                            "MaterialsFileName = /data/materials.ini\nDetectorsFileName =\n"
                            "[EndDataSources]\n");
    TIniFileStructure tree(dir.File("run.ini"));
    TSimulationParameters p;
    p.ReadParameters(tree);
    EXPECT_EQ(p.SceneFileName, dir.Path() + "/scenes/a.ini");
    EXPECT_EQ(p.MaterialsFileName, "/data/materials.ini");
    EXPECT_EQ(p.DetectorsFileName, "");
}

TEST(ParametersKeys, FailedReadLeavesBlockAndTreeUnchanged) {
    TSimulationParameters p;
    TIniFileStructure good = Tree(Task("NumberOfParticles = 10\nRandomSeed = 5"));
    p.ReadParameters(good);
    TIniFileStructure bad =
        Tree(Task("NumberOfParticles = 99") + "[Physics]\nFullPhysics = maybe\n[EndPhysics]\n");
    EXPECT_THROW(p.ReadParameters(bad), std::runtime_error);
    EXPECT_EQ(p.NumberOfParticles, 10u);
    EXPECT_FALSE(bad.FindSection("ApplicationTask").HasVariable("RandomSeed"));
}

// ------------------------------------------------------------------ seed and warnings

TEST(ParametersSeed, MissingSeedIsDrawnAndRecordedInTheTree) {
    TIniFileStructure tree = Tree(Task("NumberOfParticles = 10"));
    TSimulationParameters p;
    p.ReadParameters(tree);
    EXPECT_LT(p.RandomSeed, 10000u);
    const auto& seed = tree.FindSection("ApplicationTask").FindVariable("RandomSeed");
    EXPECT_EQ(seed.GetValue(), std::to_string(p.RandomSeed));
    EXPECT_NE(ParameterSummary(p).find("  Random Seed: " + std::to_string(p.RandomSeed) + "\n"),
              std::string::npos);
    // The tree now carries the seed, so reading it again keeps it and appends nothing.
    TSimulationParameters again;
    again.ReadParameters(tree);
    EXPECT_EQ(again.RandomSeed, p.RandomSeed);
    EXPECT_EQ(tree.FindSection("ApplicationTask").VariableCount(), 2u);
    std::ostringstream written;
    tree.Write(written);
    EXPECT_NE(written.str().find("\tRandomSeed = " + std::to_string(p.RandomSeed) + "\n"), std::string::npos);
}

TEST(ParametersSeed, LargeNormalizationConstantsWarn) {
    const std::string n = "NumberOfParticles = 10\n";
    const auto possibly = Load(Task(n + "NormalizeImages = 60000"));
    ASSERT_EQ(possibly.messages.size(), 1u);
    EXPECT_EQ(possibly.messages[0].first, "Image normalization constant possibly too large for 16bit.");
    EXPECT_TRUE(possibly.messages[0].second);
    const auto surely = Load(Task(n + "NormalizeImages = 70000"));
    ASSERT_EQ(surely.messages.size(), 1u);
    EXPECT_EQ(surely.messages[0].first, "Image normalization constant too large for 16bit.");
    EXPECT_EQ(Load(Task(n + "NormalizeErrors = 50001\nNormalizeImages = 65536")).messages[0].first,
              "Image normalization constant too large for 16bit.");
    EXPECT_TRUE(Load(Task(n + "NormalizeImages = 50000\nNormalizeErrors = 50000")).messages.empty());
    // Without a sink the warning is dropped, not an error.
    TIniFileStructure tree = Tree(Task(n + "NormalizeImages = 60000"));
    TSimulationParameters p;
    EXPECT_NO_THROW(p.ReadParameters(tree));
}

// ------------------------------------------------------------------ summaries

TEST(ParametersSummary, DefaultSimulationSummary) {
    const auto p = Load(Task("NumberOfPhotons = 1000\nRandomSeed = 42")).parameters;
    EXPECT_EQ(SimulationSummary(p),
              "Simulation Summary: \n"
              "  Max Number Of Tracers: 0\n"
              "  Number Of Particles: 1000\n"
              "  PRNG Type: MT19937-64\n"
              "  Random Seed: 42\n"
              "  Quasi Monte Carlo: false\n"
              "  Image Type: TIFF\n"
              "  Pixel Type: Default\n"
              "  Compress Results: false\n"
              "  Per Particle Results: true\n"
              "  Reset Interaction Count Of Secondary Particles: false\n"
              "  Reset Interaction Count Of First Generation Secondary Particles: false\n"
              "  Full Physical Treatment: false\n"
              "  Max Number Of Interactions For Each Photon: 4294967295\n"
              "  Use Photon Splitting (Variance Reduction Method): true\n"
              "  Implicit Absorption (Variance Reduction Method): false\n"
              "  Simulation Interaction Types: PhotoEffect, PairProduction (simple), "
              "ComptonScattering, RayleighScattering\n"
              "  Energy Range: 0 keV\n"
              "  Tabulated (Energy Dependent) Attenuation Coefficients: true\n"
              "  Tabulated (Energy & Direction Dependent Scattering Angle Probabilities) "
              "Compton: true\n"
              "  Tabulated (Energy & Direction Dependent Scattering Angle Probabilities) "
              "Rayleigh: true\n");
}

TEST(ParametersSummary, OptionalLinesOfTheSummaries) {
    auto p =
        Load(Task("NumberOfParticles = 2e6\nBatchSize = 1e4\nSingle = true\nRayCasting = true\n"
                  "TargetPixels = true\nNormalizeErrors = 7\nNormalizeImages = 9\nResetInteractionCount = 1\n"
                  "RandomSeed = 1\nPRNG = incarry") +
             "[Physics]\nFullPhysics = 1\nElectronTransport = 1\nMaxNumberOfInteractions = 4\n[EndPhysics]\n"
             "[MaterialProperties]\nFullPhysicsThreshold = 50\nFluorescence = 1\nAugerProbability = 0.5\n"
             "FluorescenceElectronProbability = 0.25\nAllFluorescence = 1\nBremsstrahlungAngular = 1\n"
             "AllBremsstrahlung = 1\nUseTabulatedTotalCompton = 0\nUseTabulatedKleinNishina = 1\n"
             "[EndMaterialProperties]\n")
            .parameters;
    p.MaterialProperties.MinEnergy = 10;
    p.MaterialProperties.MaxEnergy = 150;
    EXPECT_EQ(SimulationSummary(p),
              "Simulation Summary: \n"
              "  Single Precision Coordinates\n"
              "  RayCasting\n"
              "  Max Number Of Tracers: 0\n"
              "  Number Of Particles: 2000000 (2e+06)\n"
              "  Particles Per Batch: 10000\n"
              "  PRNG Type: InCarry\n"
              "  Random Seed: 1\n"
              "  Quasi Monte Carlo: false\n"
              "  Image Type: TIFF\n"
              "  Pixel Type: Default\n"
              "  Compress Results: false\n"
              "  Normalize Errors: 7\n"
              "  Normalize Images: 9\n"
              "  Reset Interaction Count Of Secondary Particles: true\n"
              "  Full Physical Treatment: true\n"
              "  Max Number Of Interactions For Each Photon: 4\n"
              "  Use Photon Splitting (Variance Reduction Method): true\n"
              "  Implicit Absorption (Variance Reduction Method): false\n"
              "  Simulation Interaction Types: PhotoEffect, PairProduction (e- prob: 1, "
              "angular), ComptonScattering (e- prob: 1), RayleighScattering\n"
              "  Energy Range: 10-150 keV\n"
              "  Full Physics Threshold: 50 keV\n"
              "  Minimum Electron Energy: 11 keV\n"
              "  Bremsstrahlung: angular, all\n"
              "  Fluorescence: photons, electrons (prob.: 0.25), Auger (prob.: 0.5), all\n"
              "  Tabulated (Energy Dependent) Attenuation Coefficients: true\n"
              "  Tabulated (Energy & Direction Dependent Scattering Angle Probabilities) "
              "Compton: false\n"
              "  Tabulated (Energy & Direction Dependent Scattering Angle Probabilities) "
              "Rayleigh: true\n");

    p.RayCasting = false;
    p.Single = false;
    std::ostringstream numeric; // flags as the stream prints them
    p.PrintParameterSummary(numeric);
    EXPECT_EQ(numeric.str().substr(0, 34), "  Target Pixels\n  Max Number Of Tr");
    EXPECT_NE(numeric.str().find("  Quasi Monte Carlo: 0\n"), std::string::npos);
}

// ------------------------------------------------------------------ formatting helpers

TEST(ParametersFormatting, CountsDurationsEnergiesAndMemory) {
    EXPECT_EQ(FormatCount(1000000), "1000000 (1e+06)");
    EXPECT_EQ(FormatCount(250000), "250000");
    EXPECT_EQ(FormatCount(1234567), "1234567 (1.23457e+06)");
    EXPECT_EQ(FormatCount(0), "0");

    EXPECT_EQ(FormatDuration(5), "00:05");
    EXPECT_EQ(FormatDuration(5.9), "00:05");
    EXPECT_EQ(FormatDuration(3725), "01:02:05");
    EXPECT_EQ(FormatDuration(86400), "1d 00:00:00");
    EXPECT_EQ(FormatDuration(9 * 86400 + 3 * 3600), "1w 2d 03:00:00");
    EXPECT_EQ(FormatDuration(-3), "00:00");

    std::ostringstream energy;
    FormatEnergyRange(energy, 1, 150.5);
    energy << '|';
    FormatEnergyRange(energy, 20, 20);
    EXPECT_EQ(energy.str(), "1-150.5 keV|20 keV");

    auto memory = [](SizeType size, SizeType count) {
        std::ostringstream stream;
        FormatMemory(stream, size, count);
        return stream.str();
    };
    EXPECT_EQ(memory(16, 1), "16B");
    EXPECT_EQ(memory(16, 1000), "16B * 1000 = 15.625kB");
    EXPECT_EQ(memory(2048, 3), "2kB * 3 = 6kB");
    EXPECT_EQ(memory(1 << 20, 2048), "1MB * 2048 = 2GB");
    EXPECT_EQ(memory(3 << 20, 2), "3MB * 2 = 6MB");
    EXPECT_EQ(memory(SizeType(1) << 30, 2), "1GB * 2 = 2GB");
    EXPECT_EQ(memory(512, 2), "512B * 2 = 1024B");
}

// ------------------------------------------------------------------ the example configuration

TEST(ParametersExample, ExampleConfigurationLoads) {
    const std::string path = std::string(TARVO_SOURCE_DATA_DIR) + "/../examples/tarvo.ini";
    TIniFileStructure tree(path);
    EXPECT_FALSE(tree.HasSection("Objects")); // no scene: loading it stops at "Ready."
    TSimulationParameters p;
    std::vector<std::string> messages;
    p.ReadParameters(tree, "tarvo", [&messages](const std::string& text, bool) { messages.push_back(text); });
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(p.NumberOfParticles, 1000000u);
    EXPECT_FALSE(p.StartImmediately);
    EXPECT_EQ(p.SceneFileName, "");
    EXPECT_EQ(p.ResultDir, "tarvo");
    // The documented values are the defaults.
    TIniFileStructure minimal =
        Tree(Task("NumberOfParticles = 1e6\nRandomSeed = " + std::to_string(p.RandomSeed)));
    TSimulationParameters defaults;
    defaults.ReadParameters(minimal, "tarvo");
    EXPECT_EQ(SimulationSummary(p), SimulationSummary(defaults));
}

namespace {

const char* const kTask = "[ApplicationTask]\nNumberOfParticles = 10\n[EndApplicationTask]\n";

} // namespace

TEST(ParametersInteractionsModel, SectionBuildsTheListAndAdjustsThePhysics) {
    const TSimulationParameters p =
        Load(std::string(kTask) + "[Physics]\n[InteractionsModel]\nImplicitThreshold = 0.01\n"
                                  "[Interaction]\nInteractionType = photoeffect\n[EndInteraction]\n"
                                  "[EndInteractionsModel]\n[EndPhysics]\n"
                                  "[MaterialProperties]\nFluorescence = false\n[EndMaterialProperties]\n")
            .parameters;
    EXPECT_EQ(p.InteractionsModel->InteractionCount(), 1u);
    EXPECT_EQ(p.MaxNumberOfInteractions, 0); // nothing survives an absorption
    const std::string summary = SimulationSummary(p);
    EXPECT_NE(summary.find("  Implicit Absorption (Variance Reduction Method): true\n"
                           "  Implicit Absorption Threshold: 0.01\n"
                           "  Simulation Interaction Types: PhotoEffect"),
              std::string::npos);
    EXPECT_EQ(summary.find("Compton: "), std::string::npos);
}

TEST(ParametersInteractionsModel, EmptyModelFailsNamingThePhysicsSection) {
    EXPECT_EQ(LoadError(std::string(kTask) + "[Physics]\n[InteractionsModel]\n[EndInteractionsModel]\n[EndPhysics]\n"),
              "Can not construct InteractionsModel: no interactions found in [Physics]");
}

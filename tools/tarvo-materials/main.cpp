// tarvo-materials: writes Tarvo's material data (attenuation tables, S(x),
// F(x), fluorescence data and the materials file) from material definitions.

#include "ElectronPhysics.h"
#include "EnergyGrid.h"
#include "MaterialDefinition.h"
#include "MaterialPhysics.h"
#include "MaterialWriter.h"

#include "app/SystemUtils.h"
#include "materials/DataDirectory.h"

#include <xraylib.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr double kLowestEnergy = 1.0;      // keV
constexpr double kHighestEnergy = 20000.0; // keV
constexpr double kRelativeStep = 0.02;     // keeps linear interpolation of E^-3 within 0.1 %
constexpr double kTolerance = 1e-3;        // of linear interpolation between levels
constexpr double kReferenceEnergy = 100.0; // keV, for the constant coefficients
constexpr double kSourceSwitchTolerance = 0.01;
constexpr int kElectronPointsPerDecade = 40;  // keeps log-log interpolation of the stopping powers within 1e-4

const char* const kUsage =
    "Usage: tarvo-materials [--xcom DIR] [--add \"Name; composition; density\"]... MATERIALS_DIR\n"
    "Reads MATERIALS_DIR/materials.def, adds or replaces the materials given with --add (and saves\n"
    "the definitions), then writes every material's data files and MATERIALS_DIR/materials.ini.\n"
    "A composition is a chemical formula (Gd2O2S), nist:<NIST compound name>, or\n"
    "mass:<symbol> <mass fraction> ...; the density is in g/cm^3 (optional for NIST compounds); an optional\n"
    "fourth field gives the mean excitation energy in eV (else it is combined from the elements).\n"
    "XCOM tables are read from DIR (default: the data directory's xcom folder).\n";

struct Options {
    std::string xcomDir = materials::DataPath("xcom");
    std::string meanExcitationFile = materials::DataPath("electron/mean-excitation-energies.txt");
    std::vector<std::string> additions;
    std::string materialsDir;
};

Options ParseArguments(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--xcom" && i + 1 < argc) {
            options.xcomDir = argv[++i];
        } else if (arg == "--add" && i + 1 < argc) {
            options.additions.push_back(argv[++i]);
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        } else if (!arg.empty() && arg[0] != '-' && options.materialsDir.empty()) {
            options.materialsDir = arg;
        } else {
            throw std::runtime_error("unexpected argument " + arg + "\n" + kUsage);
        }
    }
    if (options.materialsDir.empty())
        throw std::runtime_error(std::string("no materials directory given\n") + kUsage);
    return options;
}

std::string DefinitionsPath(const Options& options) { return options.materialsDir + "/materials.def"; }

// The definitions file's materials with those given by --add added or replaced.
std::vector<matgen::MaterialDefinition> LoadDefinitions(const Options& options)
{
    std::vector<matgen::MaterialDefinition> definitions;
    std::ifstream in(DefinitionsPath(options));
    if (in)
        definitions = matgen::ReadDefinitions(in);
    for (const auto& line : options.additions) {
        auto added = matgen::ParseDefinition(line);
        auto same = std::find_if(definitions.begin(), definitions.end(),
                                 [&](const matgen::MaterialDefinition& d) { return d.name == added.name; });
        if (same != definitions.end())
            *same = added;
        else
            definitions.push_back(added);
    }
    return definitions;
}

void SaveDefinitions(const Options& options, const std::vector<matgen::MaterialDefinition>& definitions)
{
    const std::string path = DefinitionsPath(options);
    std::ofstream out(path);
    out << "# Material definitions: name; composition; density [g/cm^3]; mean excitation energy [eV] where ICRU 37 "
           "lists the compound. Regenerate with tarvo-materials.\n";
    for (const auto& d : definitions)
        out << matgen::FormatDefinition(d) << '\n';
    if (!out)
        throw std::runtime_error("Could not write " + path);
}

// Cuts of the grid besides powers of two: the jumps of the photo data, the
// change of data source, and the elements' XCOM energies above it (so the
// table holds XCOM's own values there).
std::vector<matgen::GridBoundary> Boundaries(const matgen::MaterialPhysics& physics)
{
    constexpr double limit = matgen::MaterialPhysics::kXraylibLimit;
    std::vector<matgen::GridBoundary> boundaries;
    for (const auto& jump : physics.PhotoJumps(kLowestEnergy, limit))
        boundaries.push_back({jump.above, jump.below});
    boundaries.push_back({limit, limit});
    for (double e : physics.XcomEnergies(limit, kHighestEnergy))
        boundaries.push_back({e, e});
    return boundaries;
}

void Generate(const matgen::MaterialPhysics& physics, const std::vector<double>& meanExcitation,
              const std::string& dir)
{
    const auto grid = matgen::BuildEnergyGrid(
        Boundaries(physics), kLowestEnergy, kHighestEnergy, kRelativeStep, matgen::MaterialPhysics::kXraylibLimit,
        [&physics](double energy, bool fromXcom) { return physics.Coefficients(energy, fromXcom); }, kTolerance);
    const auto files = matgen::MaterialFiles::For(physics.Definition().name);
    matgen::WriteAttenuationTable(dir + "/" + files.attenuation, physics, grid);
    matgen::WriteScatterFile(dir + "/" + files.scatteringFunction, physics, false);
    matgen::WriteScatterFile(dir + "/" + files.formFactor, physics, true);
    matgen::WriteFluorescenceFile(dir + "/" + files.fluorescence, physics, grid, kLowestEnergy);
    const matgen::ElectronPhysics electrons(physics.Definition(), meanExcitation);
    const auto electronGrid = matgen::ElectronEnergyGrid(kLowestEnergy, kHighestEnergy, kElectronPointsPerDecade);
    const auto& name = physics.Definition().name;
    matgen::WriteElectronFile(dir + "/" + files.electron, name, electrons, electronGrid);
    matgen::WriteBremsstrahlungFile(dir + "/" + files.bremsstrahlung, name, electrons, electronGrid);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        XRayInit();
        const Options options = ParseArguments(argc, argv);
        const auto definitions = LoadDefinitions(options);
        if (definitions.empty())
            throw std::runtime_error("no materials defined in " + DefinitionsPath(options));
        if (CreateDirectoryWithParents(options.materialsDir) != 0)
            throw std::runtime_error("Could not create directory " + options.materialsDir);
        // Every material is checked before any file is written, so a bad
        // input table leaves the existing data untouched.
        std::vector<matgen::MaterialPhysics> materials;
        for (const auto& d : definitions) {
            materials.emplace_back(d, options.xcomDir);
            materials.back().CheckSourceSwitch(kSourceSwitchTolerance);
        }
        const auto meanExcitation = matgen::ReadMeanExcitationEnergies(options.meanExcitationFile);
        for (const auto& m : materials) {
            Generate(m, meanExcitation, options.materialsDir);
            std::cout << "Generated " << m.Definition().name << '\n';
        }
        matgen::WriteMaterialsFile(options.materialsDir + "/materials.ini", materials, kReferenceEnergy);
        if (!options.additions.empty())
            SaveDefinitions(options, definitions);
        std::cout << "Wrote " << options.materialsDir << "/materials.ini with " << materials.size()
                  << " materials\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "tarvo-materials: " << e.what() << '\n';
        return 1;
    }
}

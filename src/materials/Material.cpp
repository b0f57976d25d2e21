#include "materials/Material.h"

#include "datafiles/XRTCStream.h"
#include "inifiles/IniValues.h"
#include "materials/AngularDensities.h"
#include "materials/DataDirectory.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <sys/stat.h>

namespace materials {

namespace {

std::unique_ptr<std::istream> OpenDataFile(const std::string& fileName)
{
    if (!std::ifstream(fileName))
        throw std::runtime_error("Could not open file " + fileName);
    return datafiles::OpenInputFile(fileName);
}

template <class Component>
void LoadFile(Component& component, const std::string& fileName)
{
    if (fileName.empty())
        throw std::runtime_error("Filename required");
    auto in = OpenDataFile(fileName);
    try {
        component.LoadDataFromStream(*in);
    } catch (const std::exception& e) {
        throw datafiles::NamingFile(e, fileName);
    }
}

bool NonEmptyFileExists(const std::string& fileName)
{
    struct stat info {};
    return stat(fileName.c_str(), &info) == 0 && info.st_size > 0;
}

// Writes a computed angle table as a compressed file beside `directoryOf`'s
// base path, unless a non-empty file of that name exists; the configuration
// then names the written file.
void SaveTable(datastructures::DifferentialProbabilityTable& table, const std::string& name,
               const inifiles::TIniFileElement* directoryOf, const MessageSink& sink)
{
    auto& info = table.Configuration();
    std::string fileName = datastructures::TableFileName(name, info.DataFormat);
    if (directoryOf)
        fileName = inifiles::MakePath(*directoryOf, fileName);
    if (NonEmptyFileExists(fileName)) {
        sink("Not overwriting " + fileName, false);
        return;
    }
    auto out = datafiles::OpenOutputFile(fileName, true);
    table.Write(*out, name);
    out->Close();
    info.FileName = fileName;
}

// Loads the table from its file, or computes it (and saves it when asked to).
void LoadOrCompute(TAngleTableCoefficients& item, const std::string& name,
                   const datastructures::ColumnFiller& fill,
                   const inifiles::TIniFileElement* directoryOf, const MessageSink& sink)
{
    auto& info = item.Table.Configuration();
    if (!info.Save && !info.FileName.empty()) {
        LoadFile(item, info.FileName);
        return;
    }
    item.Table.ComputeColumns(fill);
    item.MarkComputed();
    if (info.Save)
        SaveTable(item.Table, name, directoryOf, sink);
}

// Runs one loading step, announcing `label`; a failure is reported as
// prefix + its text + " for" + label and makes the result false.
bool Step(const MessageSink& sink, const std::string& label, const std::function<void()>& action,
          const char* prefix = "")
{
    sink(label, false);
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        sink(prefix + std::string(e.what()) + " for" + label, true);
        return false;
    }
}

void PrintRange(std::ostream& out, double low, double high)
{
    out << low;
    if (high != low)
        out << '-' << high;
    out << " keV\n";
}

void PrintTableRange(std::ostream& out, const char* label, const datastructures::TableInfo& info)
{
    out << label;
    PrintRange(out, info.LowestEnergy(), info.HighestEnergy());
}

const datastructures::TableInfo kDefaultKleinNishinaGrid = [] {
    datastructures::TableInfo info;
    info.EnergyStart = {1, 10, 100, 1000};
    info.EnergyStride = {0.5, 5, 50, 500};
    return info;
}();

} // namespace

void TMaterial::ReadConfiguration(const inifiles::TIniFileSection& section, const MaterialProperties& switches)
{
    const bool electrons = Properties.UsedWithElectronTransport;
    Properties = TMaterialProperties();
    Properties.UsedWithElectronTransport = electrons;
    auto& p = Properties;
    inifiles::ReadOptional(section, "Z", p.Z);
    inifiles::ReadOptional(section, "A", p.A);
    inifiles::ReadOptional(section, "Density", p.Density);

    p.LoadSimple = section.HasSubsection("SimpleMacroscopic");
    p.LoadMacro = switches.UseTabulatedMacroscopicCoefficients || section.HasSubsection("Macroscopic");
    const double fullPhysicsMax = std::min(switches.MaxEnergy, switches.FullPhysicsThreshold);
    const bool fullPhysics = fullPhysicsMax > 0.0;
    p.LoadTotalCompton = fullPhysics && switches.UseTabulatedTotalCompton;
    p.LoadTotalRayleigh = fullPhysics && switches.UseTabulatedTotalRayleigh;
    p.LoadFluorescence = switches.Fluorescence;

    auto& compton = p.TotalCompton.Table.Configuration();
    auto& rayleigh = p.TotalRayleigh.Table.Configuration();
    compton.MaxEnergy = fullPhysicsMax;
    rayleigh.MaxEnergy = fullPhysicsMax;
    if (const auto* s = section.TryFindSubsection("TotalCompton"))
        compton.ReadConfiguration(*s);
    if (const auto* s = section.TryFindSubsection("TotalRayleigh"))
        rayleigh.ReadConfiguration(*s);
    // S(x) and F(x) serve the tables computed here and the analytical total cross sections.
    p.LoadScatteringFunction =
        fullPhysics && (!p.LoadTotalCompton || compton.FileName.empty() || compton.Save);
    p.LoadFormFactor = fullPhysics && (!p.LoadTotalRayleigh || rayleigh.FileName.empty() || rayleigh.Save);
    auto scatterFile = [&](const char* key, const char* suffix) {
        std::string file;
        if (const auto* s = section.TryFindSubsection(key)) {
            if (inifiles::ReadOptional(*s, "CoefficientsFileName", file))
                return inifiles::MakePath(*s, file);
        }
        return DataPath("ENDF/" + GetName() + suffix);
    };
    p.ScatteringFunctionFile = scatterFile("ScatteringFunction", "_ScatF.txt");
    p.FormFactorFile = scatterFile("AtomicFormFactor", "_FormF.txt");
}

bool TMaterial::LoadData(const inifiles::TIniFileSection& section, const MaterialProperties& switches,
                         const MessageSink& sink)
{
    auto& p = Properties;
    bool ok = true;
    if (p.LoadSimple) {
        ok &= Step(sink, " SimpleMacro", [&] {
            const auto& s = section.FindSubsection("SimpleMacroscopic");
            double photo = 0.0, compton = 0.0, rayleigh = 0.0, pair = 0.0;
            inifiles::ReadOptional(s, "PhotoEffectCoefficient", photo);
            inifiles::ReadOptional(s, "ComptonCoefficient", compton);
            inifiles::ReadOptional(s, "RayleighCoefficient", rayleigh);
            inifiles::ReadOptional(s, "PairProductionCoefficient", pair);
            p.SimpleCoefficients.SetFromValues(photo, compton, rayleigh, pair);
        });
    }
    if (p.LoadMacro) {
        ok &= Step(sink, " Macro", [&] {
            auto& info = p.Coefficients.Configuration();
            info.Density = p.Density;
            info.MaxEnergy = switches.MaxEnergy;
            info.ReadConfiguration(section.FindSubsection("Macroscopic"));
            LoadFile(p.Coefficients, info.FileName);
        });
    }
    // The tables serve energies up to the threshold only, but their last level
    // may lie beyond it; it must still hold the total distribution, or the
    // energies just below the threshold would be interpolated towards the simple one.
    const double everywhere = std::numeric_limits<double>::infinity();
    auto angleTable = [&](const char* label, TAngleTableCoefficients& item, const auto& fill) {
        ok &= Step(sink, label, [&] { LoadOrCompute(item, GetName(), fill, &section, sink); });
    };
    if (p.LoadScatteringFunction)
        ok &= Step(sink, " ScatFunc", [&] { LoadFile(p.ScatteringFunction, p.ScatteringFunctionFile); });
    if (p.LoadTotalCompton)
        angleTable(" Compton", p.TotalCompton, datastructures::DensityFiller([&](double e, double mu) {
                       return TotalComptonDensity(e, mu, p.ScatteringFunction, everywhere);
                   }));
    if (p.LoadFormFactor) {
        ok &= Step(sink, " FormFactor", [&] {
            LoadFile(p.FormFactor, p.FormFactorFile);
            p.FormFactorIntegral.Build(p.FormFactor);
        });
    }
    // Each level's column is the exact inverse of F(x)^2 (1 + mu^2).
    if (p.LoadTotalRayleigh)
        angleTable(" Rayleigh", p.TotalRayleigh, [&](double e, double* values, std::size_t count) {
            p.FormFactorIntegral.FillTable(e, values, count);
        });
    if (p.LoadFluorescence) {
        ok &= Step(sink, " Fluorescence", [&] {
            const auto* s = section.TryFindSubsection("Fluorescence");
            if (!s)
                throw std::runtime_error("No fluorescence data for " + GetName());
            auto& info = p.Fluorescence.Configuration();
            info.DataFormat = datastructures::Fluo;
            info.MaxEnergy = switches.MaxEnergy;
            info.ReadConfiguration(*s);
            LoadFile(p.Fluorescence, info.FileName);
            p.Fluorescence.AllFluorescence = switches.AllFluorescence;
            if (!p.Fluorescence.IsLoaded())
                throw std::runtime_error("Fluorescence data not loaded");
        });
    }
    if (p.UsedWithElectronTransport) {
        ok &= Step(sink, " ElectronData", [&] {
            if (!(p.Z > 0.0))
                throw std::runtime_error("Z has not been set");
            if (!(p.A > 0.0))
                throw std::runtime_error("A has not been set");
            LoadElectronData(section, switches);
        });
    }
    return ok;
}

// The ElectronData subsection names the coefficients file and the
// bremsstrahlung table; the other keys it may hold are not needed by this
// model and are left alone.
void TMaterial::LoadElectronData(const inifiles::TIniFileSection& section, const MaterialProperties& switches)
{
    const auto* s = section.TryFindSubsection("ElectronData");
    std::string coefficients, brems;
    if (s) {
        if (inifiles::ReadOptional(*s, "CoefficientsFileName", coefficients))
            coefficients = inifiles::MakePath(*s, coefficients);
        if (inifiles::ReadOptional(*s, "BremsTable", brems))
            brems = inifiles::MakePath(*s, brems);
    }
    if (coefficients.empty())
        throw std::runtime_error("No electron data for " + GetName());
    auto& data = Properties.ElectronData;
    LoadFile(data, coefficients);
    if (!brems.empty()) {
        auto in = OpenDataFile(brems);
        try {
            data.LoadBremsstrahlung(*in);
        } catch (const std::exception& e) {
            throw datafiles::NamingFile(e, brems);
        }
    } else if (switches.EmitBremsstrahlung) {
        throw std::runtime_error("No Bremsstrahlung data for " + GetName());
    }
}

double TMaterial::LowestEnergy() const
{
    const auto& p = Properties;
    double lowest = 0.0;
    auto cover = [&](bool loaded, const datastructures::TableInfo& info) {
        if (loaded)
            lowest = std::max(lowest, info.LowestEnergy());
    };
    cover(p.Coefficients.IsLoaded(), p.Coefficients.Configuration());
    cover(p.TotalCompton.IsLoaded(), p.TotalCompton.Table.Configuration());
    cover(p.TotalRayleigh.IsLoaded(), p.TotalRayleigh.Table.Configuration());
    cover(p.Fluorescence.IsLoaded(), p.Fluorescence.Configuration());
    if (p.ElectronData.IsLoaded())
        lowest = std::max(lowest, p.ElectronData.LowestEnergy());
    return lowest;
}

const TBasicMacroscopicCoefficients& TMaterial::Attenuation(const MaterialProperties& switches) const
{
    if (switches.UseTabulatedMacroscopicCoefficients)
        return Properties.Coefficients;
    return Properties.SimpleCoefficients;
}

void TMaterial::PrintSummary(std::ostream& out, const MaterialProperties& switches) const
{
    const auto& p = Properties;
    if (p.Density > 0.0)
        out << "   Density: " << p.Density << " [g/cm^3]\n";
    const auto& attenuation = Attenuation(switches);
    if (attenuation.IsLoaded()) {
        out << "   Attenuation Coefficients: ";
        attenuation.Print(out);
        out << '\n';
    }
    auto printScatter = [&](const char* label, const TScatterData& data) {
        if (data.IsLoaded())
            out << label << data.FirstX() << '-' << data.LastX() << " 1/Angstrom\n";
    };
    printScatter("   Atomic Form Factor: ", p.FormFactor);
    printScatter("   Scattering Function: ", p.ScatteringFunction);
    if (p.TotalCompton.IsLoaded())
        PrintTableRange(out, "   Full Physics Tabulated Compton: ", p.TotalCompton.Table.Configuration());
    if (p.TotalRayleigh.IsLoaded())
        PrintTableRange(out, "   Full Physics Tabulated Rayleigh: ", p.TotalRayleigh.Table.Configuration());
    if (p.Fluorescence.IsLoaded())
        PrintTableRange(out, "   Fluorescence Data: ", p.Fluorescence.Configuration());
    if (p.ElectronData.HasBremsstrahlung()) {
        out << "   Bremsstrahlung Data: ";
        PrintRange(out, p.ElectronData.LowestEnergy(), p.ElectronData.HighestEnergy());
    }
}

void TCommonMaterial::ReadConfiguration(const inifiles::TIniFileSection* kleinNishina,
                                        const inifiles::TIniFileSection* thomson, const MaterialProperties& switches)
{
    Properties = TCommonMaterialProperties();
    const std::string context = "CommonMaterial data";
    auto& kn = Properties.KleinNishina.Table.Configuration();
    if (kleinNishina)
        kn.ReadConfiguration(*kleinNishina, context);
    else
        kn = kDefaultKleinNishinaGrid;
    kn.DataFormat = kn.DataFormat ? kn.DataFormat : static_cast<std::uint32_t>(datastructures::Incoherent);
    kn.MaxEnergy = switches.MaxEnergy;
    if (thomson)
        Properties.Thomson.Configuration().ReadConfiguration(*thomson, context);
    Properties.Thomson.Configuration().DataFormat = datastructures::Coherent;
    Properties.LoadKleinNishina = switches.UseTabulatedKleinNishina && switches.MaxEnergy > 0.0;
    Properties.LoadThomson = switches.UseTabulatedThomson;
}

bool TCommonMaterial::LoadData(const inifiles::TIniFileElement& directoryOf, const MessageSink& sink)
{
    auto& p = Properties;
    bool ok = true;
    if (p.LoadKleinNishina) {
        ok &= Step(
            sink, " Klein-Nishina",
            [&] {
                LoadOrCompute(p.KleinNishina, "Common", datastructures::DensityFiller(KleinNishinaDensity),
                              &directoryOf, sink);
            },
            "Error reading ");
    }
    if (p.LoadThomson) {
        ok &= Step(
            sink, " Thomson",
            [&] {
                const auto& info = p.Thomson.Configuration();
                if (!info.Save && !info.FileName.empty())
                    LoadFile(p.Thomson, info.FileName);
                else
                    p.Thomson.Compute();
            },
            "Error reading ");
    }
    return ok;
}

double TCommonMaterial::LowestEnergy() const
{
    return Properties.KleinNishina.IsLoaded() ? Properties.KleinNishina.Table.Configuration().LowestEnergy() : 0.0;
}

void TCommonMaterial::PrintSummary(std::ostream& out) const
{
    if (Properties.KleinNishina.IsLoaded())
        PrintTableRange(out, "   Simple Physics Tabulated Compton: ", Properties.KleinNishina.Table.Configuration());
    if (Properties.Thomson.IsLoaded())
        out << "   Simple Physics Tabulated Rayleigh: " << Properties.Thomson.Values().size() << " angles\n";
}

} // namespace materials

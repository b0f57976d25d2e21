#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "TestErrors.h"
#include "common/TestUtil.h"
#include "datafiles/XRTCStream.h"
#include "materials/DataDirectory.h"
#include "materials/FluorescenceData.h"
#include "materials/MaterialsList.h"

using materials::MaterialProperties;
using materials::TMaterialsList;

namespace {

using testutil::kMaterials;
const std::string kData = std::string(TARVO_SOURCE_DATA_DIR) + "/materials/";

struct Recorder {
    std::string progress, errors;
    materials::MessageSink Sink()
    {
        return [this](const std::string& text, bool isError) { (isError ? errors : progress) += text + "|"; };
    }
};

MaterialProperties Switches(double maxEnergy)
{
    MaterialProperties p;
    p.MaxEnergy = maxEnergy;
    return p;
}

// A materials file with one material "M" whose Macroscopic subsection holds `macro`.
std::string OneMaterial(const std::string& macro, const std::string& extra = "")
{
    return "[Materials]\n[M]\nDensity = 1\n[Macroscopic]\n" + macro + "\n[EndMacroscopic]\n" + extra +
           "\n[EndM]\n[EndMaterials]\n";
}

} // namespace

TEST(MaterialsList, VoidNamesHaveNoMaterialAndNamesAreShared)
{
    MaterialProperties p;
    TMaterialsList list(&p);
    EXPECT_EQ(list.GetMaterial(""), nullptr);
    EXPECT_EQ(list.GetMaterial("VoId"), nullptr);
    auto* water = list.GetMaterial("Water");
    ASSERT_NE(water, nullptr);
    EXPECT_EQ(list.GetMaterial("Water"), water);
    EXPECT_NE(list.GetMaterial("Lead"), water);
    EXPECT_EQ(list.Count(), 2u);
}

TEST(MaterialsList, ShippedMaterialsLoadAndSetTheLowestEnergy)
{
    auto p = Switches(150.0);
    TMaterialsList list(&p);
    list.GetMaterial("Water");
    list.GetMaterial("Lead");
    Recorder r;
    list.Load(kMaterials, r.Sink());
    EXPECT_EQ(r.errors, "");
    EXPECT_DOUBLE_EQ(p.MinEnergy, 1.0);
    EXPECT_DOUBLE_EQ(p.MinElectronEnergy, 11.0);
    EXPECT_NE(r.progress.find("Lead:| SimpleMacro| Macro|\n"), std::string::npos) << r.progress;
    EXPECT_NE(r.progress.find(" Klein-Nishina| Thomson|"), std::string::npos) << r.progress;

    const auto& lead = *list.GetMaterial("Lead");
    const double mu = lead.Attenuation(p).GetTotal(100.0);
    EXPECT_NEAR(mu, 5.55 * 11.35, 0.03 * 5.55 * 11.35);  // lead, 100 keV: about 5.55 cm^2/g
    EXPECT_EQ(ErrorOf([&] { lead.Attenuation(p).GetTotal(200.0); }), "TableInfo::interpolate(). Energy Index Error!\n");
    EXPECT_EQ(list.Common().Properties.KleinNishina.Table.GetValue(0.0, 100.0), -1.0);

    std::ostringstream summary;
    list.PrintSummary(summary);
    const std::string text = summary.str();
    EXPECT_EQ(text.rfind("Materials Summary:\n  Common Material:\n   Simple Physics Tabulated Compton: 1-", 0), 0u)
        << text;
    EXPECT_NE(text.find("  Material Name: Water\n   Density: 1 [g/cm^3]\n   Attenuation Coefficients: 1-15"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  Material Name: Lead\n   Density: 11.35 [g/cm^3]\n"), std::string::npos) << text;
}

TEST(MaterialsList, MinEnergyBelowTheDataFails)
{
    auto p = Switches(150.0);
    p.MinEnergy = 0.5;
    TMaterialsList list(&p);
    list.GetMaterial("Water");
    Recorder r;
    EXPECT_EQ(ErrorOf([&] { list.Load(kMaterials, r.Sink()); }), "Not enough data below 0.5 keV");
    p.MinEnergy = 2.0;
    list.Load(kMaterials, r.Sink());
    EXPECT_DOUBLE_EQ(p.MinEnergy, 2.0);
}

TEST(MaterialsList, ComponentErrorsAreReportedAndFailTheLoad)
{
    testutil::TempDir dir;
    auto load = [&](const std::string& text, MaterialProperties p, const std::string& name = "M") {
        testutil::WriteFile(dir.File("m.ini"), text);
        TMaterialsList list(&p);
        list.GetMaterial(name);
        Recorder r;
        EXPECT_EQ(ErrorOf([&] { list.Load(dir.File("m.ini"), r.Sink()); }), "Error loading materials data");
        return r.errors;
    };
    EXPECT_EQ(load(OneMaterial("DataFormat = acrp"), Switches(100)), "Filename required for Macro|");
    EXPECT_EQ(load(OneMaterial("CoefficientsFileName = missing.txt"), Switches(100)),
              "Could not open file " + dir.File("missing.txt") + " for Macro|");
    auto fluorescence = Switches(100);
    fluorescence.Fluorescence = true;
    const std::string macro = "CoefficientsFileName = " + kData + "Water_ACRP.txt";
    EXPECT_EQ(load(OneMaterial(macro), fluorescence), "No fluorescence data for M for Fluorescence|");
    EXPECT_EQ(load(OneMaterial(macro), Switches(100), "Other"), "Can't find section [Other]|");
}

TEST(MaterialsList, MaterialDensityRescalesTheTableAndFluorescenceLoads)
{
    testutil::TempDir dir;
    const std::string fluo = "[Fluorescence]\nCoefficientsFileName = " + kData + "Lead_Fluo.txt\n[EndFluorescence]";
    testutil::WriteFile(dir.File("m.ini"), OneMaterial("CoefficientsFileName = " + kData + "Lead_ACRP.txt", fluo));
    auto p = Switches(100);
    p.Fluorescence = true;
    TMaterialsList list(&p);
    auto* m = list.GetMaterial("M");
    Recorder r;
    list.Load(dir.File("m.ini"), r.Sink());
    // Lead's table read for a material of density 1 gives lead's mass coefficients.
    EXPECT_NEAR(m->Attenuation(p).GetTotal(100.0), 5.55, 0.03 * 5.55);
    EXPECT_EQ(m->Properties.Fluorescence.ShellCount(), 9u);
    std::ostringstream summary;
    list.PrintSummary(summary);
    EXPECT_NE(summary.str().find("   Fluorescence Data: 1-100"), std::string::npos) << summary.str();
}

TEST(MaterialsList, FullPhysicsTablesAreComputedFromTheScatterDataAndSavedOnce)
{
    testutil::TempDir dir;
    const std::string extra = "[TotalCompton]\nSave = 1\nEnergyStart = 1,10\nEnergyStride = 1,10\n"
                              "GammaValuesNumber = 101\n[EndTotalCompton]\n"
                              "[ScatteringFunction]\nCoefficientsFileName = " + kData + "Water_ScatF.txt\n"
                              "[EndScatteringFunction]\n"
                              "[AtomicFormFactor]\nCoefficientsFileName = " + kData + "Water_FormF.txt\n"
                              "[EndAtomicFormFactor]\n"
                              "[TotalRayleigh]\nEnergyStart = 1\nEnergyStride = 5\nGammaValuesNumber = 101\n"
                              "[EndTotalRayleigh]\n";
    testutil::WriteFile(dir.File("m.ini"), OneMaterial("CoefficientsFileName = " + kData + "Water_ACRP.txt", extra));
    auto p = Switches(100);
    p.FullPhysicsThreshold = 50;
    auto loadOnce = [&] {
        TMaterialsList list(&p);
        auto* m = list.GetMaterial("M");
        Recorder r;
        list.Load(dir.File("m.ini"), r.Sink());
        EXPECT_EQ(r.errors, "");
        // Rayleigh with a form factor is strongly forward at 50 keV: the median cosine is near 1.
        EXPECT_GT(m->Properties.TotalRayleigh.Table.GetValue(0.5, 46.0), 0.9);
        EXPECT_LT(m->Properties.TotalRayleigh.Table.GetValue(0.5, 1.0), 0.5);
        EXPECT_EQ(m->Properties.TotalCompton.Table.GetValue(0.0, 20.0), -1.0);
        return r.progress;
    };
    EXPECT_EQ(loadOnce().find("Not overwriting"), std::string::npos);
    ASSERT_TRUE(testutil::FileExists(dir.File("M_iv.xrc")));
    const std::string saved = testutil::ReadFile(dir.File("M_iv.xrc"));
    EXPECT_NE(loadOnce().find("Not overwriting " + dir.File("M_iv.xrc")), std::string::npos);
    EXPECT_EQ(testutil::ReadFile(dir.File("M_iv.xrc")), saved);
}

TEST(MaterialsList, CompressedDataFilesAreUnpackedOnReading)
{
    testutil::TempDir dir;
    datafiles::CompressFile(kData + "Water_ACRP.txt", dir.File("water.xrc"));
    testutil::WriteFile(dir.File("m.ini"), OneMaterial("CoefficientsFileName = water.xrc"));
    auto p = Switches(100);
    TMaterialsList list(&p);
    auto* m = list.GetMaterial("M");
    Recorder r;
    list.Load(dir.File("m.ini"), r.Sink());
    EXPECT_NEAR(m->Attenuation(p).GetTotal(60.0), 0.2059, 0.002);  // water at 60 keV: 0.2059 cm^2/g
}

TEST(DataDirectory, EnvironmentOverridesTheBuiltInLocations)
{
    const char* saved = std::getenv("TARVO_DATA");
    const std::string previous = saved ? saved : "";
    setenv("TARVO_DATA", "/opt/tarvo-data", 1);
    EXPECT_EQ(materials::DataPath("ENDF/Water_ScatF.txt"), "/opt/tarvo-data/ENDF/Water_ScatF.txt");
    EXPECT_EQ(materials::DataPath("/abs/file.txt"), "/abs/file.txt");
    unsetenv("TARVO_DATA");
    // The test program has no data folder beside it, so the source tree's is used.
    EXPECT_EQ(materials::DataDirectory(), TARVO_SOURCE_DATA_DIR);
    if (saved)
        setenv("TARVO_DATA", previous.c_str(), 1);
}

TEST(MaterialsList, BadCommonMaterialValuesNameTheirKey)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("m.ini"), "[KleinNishina]\nEnergyStart = 1,x\n[EndKleinNishina]\n");
    auto p = Switches(100);
    TMaterialsList list(&p);
    Recorder r;
    EXPECT_EQ(ErrorOf([&] { list.Load(dir.File("m.ini"), r.Sink()); }),
              "Error parsing: x while getting EnergyStart as list of doubles: 1,x for EnergyStart in CommonMaterial data");
}

TEST(MaterialsList, ElectronDataLoadForMaterialsWithElectronTransport)
{
    auto p = Switches(1000.0);
    TMaterialsList list(&p);
    auto* lead = list.GetMaterial("Lead");
    lead->Properties.UsedWithElectronTransport = true;
    Recorder r;
    list.Load(kMaterials, r.Sink());
    EXPECT_EQ(r.errors, "");
    EXPECT_NE(r.progress.find(" ElectronData|"), std::string::npos) << r.progress;
    const auto& data = lead->Properties.ElectronData;
    ASSERT_TRUE(data.IsLoaded());
    EXPECT_TRUE(data.HasBremsstrahlung());
    EXPECT_NEAR(data.CollisionStoppingPower(1000.0), 1.0, 0.03);  // lead at 1 MeV: about 1 MeV cm^2/g
    std::ostringstream summary;
    list.PrintSummary(summary);
    EXPECT_NE(summary.str().find("   Bremsstrahlung Data: 1-2"), std::string::npos) << summary.str();
}

TEST(MaterialsList, ElectronDataErrorsNameWhatIsMissing)
{
    testutil::TempDir dir;
    auto load = [&](const std::string& electronData, bool brems) {
        testutil::WriteFile(dir.File("m.ini"), "[Materials]\n[M]\nZ = 7.2\nA = 14.5\nDensity = 1\n" + electronData +
                                                   "\n[EndM]\n[EndMaterials]\n");
        auto p = Switches(100);
        p.UseTabulatedMacroscopicCoefficients = false;
        p.EmitBremsstrahlung = brems;
        TMaterialsList list(&p);
        list.GetMaterial("M")->Properties.UsedWithElectronTransport = true;
        Recorder r;
        const std::string error = ErrorOf([&] { list.Load(dir.File("m.ini"), r.Sink()); });
        return error == "no error" ? std::string() : r.errors;
    };
    const std::string coefficients = "CoefficientsFileName = " + kData + "Water_Electron.txt\n";
    const std::string brems = "BremsTable = " + kData + "Water_Brems.txt\n";
    auto section = [](const std::string& keys) { return "[ElectronData]\n" + keys + "[EndElectronData]"; };
    EXPECT_EQ(load("", true), "No electron data for M for ElectronData|");
    EXPECT_EQ(load(section(coefficients), true), "No Bremsstrahlung data for M for ElectronData|");
    EXPECT_EQ(load(section(coefficients + "Landau = 1\nEmic = 11\n"), false), "");  // keys of other models ignored
    EXPECT_EQ(load(section(coefficients + brems), true), "");
    // A truncated table names its file.
    const std::string text = testutil::ReadFile(kData + "Water_Electron.txt");
    testutil::WriteFile(dir.File("short.txt"), text.substr(0, text.rfind('\n', text.size() / 2) + 1));
    const std::string shortError = load(section("CoefficientsFileName = short.txt\n"), false);
    EXPECT_NE(shortError.find("ElectronData: expected 174 energies"), std::string::npos) << shortError;
    EXPECT_NE(load(section(coefficients + "BremsTable = " + kData + "Lead_Electron.txt\n"), true)
                  .find("not a bremsstrahlung file"),
              std::string::npos);
}

namespace {

// Two shells on levels 10, 20, 30 keV (one segment) and 30, 40 keV (a second).
const char* const kFile =
    "#Tarvo\t1\tTest\tFluo\t2,2\t3,2\t10,30\t10,10\n"
    "# levels\n"
    "0.0 0.1 0 0 0\n"
    "0.5 0.2 0 0 0\n"
    "0.6 0.3 0 0 0\n"
    "0.8 0.1 1 2 3\n"
    "0.7 0.1 1 2 3\n"
    "# shells\n"
    "25 2 20.1 0.5 0 19.5 0.2 1\n"
    "5 3 4.9 0.1 0 4.8 0.01 7 4.5 0.05 1\n";

materials::TFluorescenceData Load(const std::string& text, double maxEnergy)
{
    materials::TFluorescenceData data;
    data.Configuration().MaxEnergy = maxEnergy;
    std::istringstream in(text);
    data.LoadDataFromStream(in);
    return data;
}

} // namespace

TEST(FluorescenceData, ReadsLevelsAndShellsAndIgnoresUnknownLineKinds)
{
    const auto data = Load(kFile, 40);
    ASSERT_EQ(data.ShellCount(), 2u);
    EXPECT_DOUBLE_EQ(data.Shell(0).BindingEnergy, 25.0);
    ASSERT_EQ(data.Shell(0).Lines.size(), 2u);
    EXPECT_EQ(data.Shell(0).Lines[1].Kind, 1);
    ASSERT_EQ(data.Shell(1).Lines.size(), 2u);  // the kind-7 line is dropped
    EXPECT_DOUBLE_EQ(data.Shell(1).Lines[1].Energy, 4.5);
    EXPECT_DOUBLE_EQ(data.PhotoProbability(0, 15.0), 0.25);
    EXPECT_DOUBLE_EQ(data.PhotoProbability(0, 30.0), 0.6);  // the first segment's last level
    EXPECT_DOUBLE_EQ(data.PhotoProbability(1, 35.0), 0.1);
    EXPECT_DOUBLE_EQ(data.ElectronImpactValue(2, 40.0), 3.0);
}

TEST(FluorescenceData, SampleShellFollowsTheProbabilities)
{
    const auto data = Load(kFile, 40);
    EXPECT_EQ(data.SampleShell(20.0, 0.49), 0);
    EXPECT_EQ(data.SampleShell(20.0, 0.55), 1);
    EXPECT_EQ(data.SampleShell(20.0, 0.75), -1);
    EXPECT_EQ(data.SampleShell(10.0, 0.05), 1);
}

TEST(FluorescenceData, AGridCutByTheMaximumEnergyStillFindsTheShellLines)
{
    const auto data = Load(kFile, 25);
    ASSERT_EQ(data.ShellCount(), 2u);
    EXPECT_DOUBLE_EQ(data.Shell(1).BindingEnergy, 5.0);
    EXPECT_EQ(ErrorOf([&] { data.PhotoProbability(0, 35.0); }), "TableInfo::interpolate(). Energy Index Error!\n");
}

TEST(FluorescenceData, NoShellsMeansLoadedWithoutLines)
{
    const auto data = Load("#Tarvo\t0\tWater\tFluo\t0\t2\t1\t1\n0\n0\n", 2);
    EXPECT_TRUE(data.IsLoaded());
    EXPECT_EQ(data.ShellCount(), 0u);
    EXPECT_EQ(data.SampleShell(1.5, 0.5), -1);
}

TEST(FluorescenceData, ReadingErrorsCarryThePrefix)
{
    const std::string header = "#Tarvo\t0\tT\tFluo\t1\t2\t1\t1\n";
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0\n", 2); }), "FluorescenceData: Not enough fields");
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0 0\n", 2); }), "FluorescenceData: Not enough lines");
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0 0\n0.5 0 0\n1 x\n", 2); }), "FluorescenceData: Error parsing: 1 x");
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0 0\n0.5 0 0\n1 1 2 0.5\n", 2); }),
              "FluorescenceData: Error parsing: 1 1 2 0.5");
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0 0\n0.5 0 0\n", 2); }), "FluorescenceData: Not enough lines");
    EXPECT_EQ(ErrorOf([] { Load("1 2 3\n", 2); }), "FluorescenceData: Unknown file format");
    EXPECT_EQ(ErrorOf([] { Load("#Tarvo\t0\tT\tFluo\t1099511627776\t2\t1\t1\n0.5 0 0\n", 2); }),
              "FluorescenceData: Not enough fields");
}

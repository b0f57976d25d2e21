#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

#include "common/TestUtil.h"
#include "detectors/DetectorModel.h"
#include "inifiles/IniFile.h"
#include "materials/TestErrors.h"

namespace {

const char* const Grid = "#Tarvo\t0\tDet\tSimpleDet\t2\t3\t10\t10\n";
const char* const Spline = "#Tarvo\t0\tDet\tSimpleDetSpline\t3\n";

// A model "Det" with the given keys, its data file holding `data`.
DetectorModel Load(const testutil::TempDir& dir, const std::string& keys, const std::string& data = "") {
    if (!data.empty())
        testutil::WriteFile(dir.File("det.txt"), data);
    inifiles::TIniFileStructure ini;
    ini.SetBasePath(dir.Path());
    std::istringstream in("[Detectors]\n[Det]\n" + keys + (data.empty() ? "" : "DataFile = det.txt\n") +
                          "[EndDet]\n[EndDetectors]\n");
    ini.ReadFrom(in, "test");
    DetectorModel model("Det");
    model.Load(ini.FindSection("Detectors"));
    return model;
}

std::pair<double, double> Apply(const DetectorModel& model, double energy, double cosine = 1,
                                std::uint32_t type = 0) {
    double weight = 1;
    model.Apply(type, energy, weight, cosine);
    return {weight, energy};
}

} // namespace

TEST(DetectorModel, InterpolatesLinearlyInBothFormsAndKeepsTheEnds) {
    testutil::TempDir dir;
    const std::string tables[] = {std::string(Grid) + "0.8 9\n# comment\n\n0.6 18 # middle\n0.4 27\n",
                                  std::string(Spline) + "30 0.4 27\n10 0.8 9\n20 0.6 18\n"};
    for (const std::string& table : tables) {
        const DetectorModel model = Load(dir, "", table);
        EXPECT_EQ(model.Description(), "Det, simple, photons, electrons, positrons");
        const auto mid = Apply(model, 15);
        EXPECT_NEAR(mid.first, 0.7, 1e-12);
        EXPECT_NEAR(mid.second, 13.5, 1e-12);
        EXPECT_EQ(Apply(model, 20), std::make_pair(0.6, 18.0));
        EXPECT_EQ(Apply(model, 5), std::make_pair(1.0, 5.0));         // below the table: unchanged
        EXPECT_EQ(Apply(model, 500), std::make_pair(0.4, 27.0));      // above: the last entry
        EXPECT_EQ(Apply(model, 15, 1, 1), std::make_pair(1.0, 15.0)); // electrons pass unchanged
    }
}

TEST(DetectorModel, AngleCorrectionUsesTheLayerExponent) {
    testutil::TempDir dir;
    const DetectorModel model =
        Load(dir, "AngleCorrection = true\n", std::string(Spline) + "10 0.8 9\n30 0.4 27\n");
    EXPECT_EQ(model.Description(), "Det, simple, angle corrected, photons, electrons, positrons");
    const double r = std::log(1 - 0.4);
    EXPECT_NEAR(Apply(model, 30, 0.5).first, 1 - std::exp(2 * r), 1e-12); // 60 degrees
    EXPECT_NEAR(Apply(model, 30, -0.5).first, 1 - std::exp(2 * r), 1e-12);
    EXPECT_NEAR(Apply(model, 20, 1).first, 1 - std::sqrt(0.2 * 0.6), 1e-12); // exponents interpolate
    EXPECT_EQ(Apply(model, 30, 0).first, 1.0);                               // grazing: no NaN
    const DetectorModel blind = Load(dir, "AngleCorrection = true\n", std::string(Spline) + "10 0 10\n");
    EXPECT_EQ(Apply(blind, 30, 0).first, 0.0);
}

TEST(DetectorModel, TypeSwitches) {
    testutil::TempDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"PhotonsOnly = true\n", "ideal, photons, no electrons, no positrons"},
        {"ElectronsOnly = true\n", "ideal, no photons, electrons, positrons"},
        {"DetectElectrons = false\n", "ideal, photons, no electrons, no positrons"},
        {"ElectronsOnly = true\nDetectPositrons = false\nDetectPhotons = true\n",
         "ideal, photons, electrons, no positrons"},
    };
    for (const auto& [keys, description] : cases) {
        const DetectorModel model = Load(dir, keys);
        EXPECT_EQ(model.Description(), description) << keys;
        EXPECT_EQ(model.Accepts(2), std::string(description).find("no positrons") == std::string::npos);
    }
}

TEST(DetectorModel, LoadErrors) {
    testutil::TempDir dir;
    const std::string file = " (model Det, file " + dir.File("det.txt") + ")";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"PhotonsOnly = true\nElectronsOnly = true\n", "",
         "DetectorModel::Load: PhotonsOnly and ElectronsOnly both set"},
        {"", std::string(Grid) + "0.8 9\n0.6 18\n", "DetectorModel::Load: Not enough data" + file},
        {"", std::string(Spline) + "# nothing\n", "DetectorModel::Load: Not enough data" + file},
        {"", std::string(Grid) + "0.8 9 1\n",
         "DetectorModel::Load: Expected two values per line: 0.8 9 1" + file},
        {"", std::string(Spline) + "10 0.8\n",
         "DetectorModel::Load: Expected three values per line: 10 0.8" + file},
        {"", std::string(Grid) + "0.8 x\n", "DetectorModel::Load: Invalid data: 0.8 x" + file},
        {"", std::string(Spline) + "-1 0.8 9\n", "DetectorModel::Load: Invalid data: -1 0.8 9" + file},
        {"", "#Tarvo\t0\tDet\tSimpleDet\t3\t3\t10\t10\n",
         "DetectorModel::Load: Incorrect number of fields" + file},
        {"", "#Tarvo\t0\tDet\tCoherent\t1\n", "DetectorModel::Load: Not a detector model file" + file},
        {"", "just text\n", "DetectorModel::Load: Couldn't read header" + file},
        {"", "#Tarvo\t0\tDet\tFullDet\t2\n", "DetectorModel::Load: stub" + file},
        {"Simple = false\n", std::string(Grid),
         "DetectorModel::Load: Insufficient data for full detector model" + file},
    };
    for (const auto& [keys, data, message] : cases)
        EXPECT_EQ(ErrorOf([&] { Load(dir, keys, data); }), message) << keys << data;
}

namespace {

const std::string Examples = std::string(TARVO_TEST_DATA) + "/../../examples";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

TEST(DetectorsEndToEnd, TheExamplePrintsItsDetectorSummary) {
    testutil::TempDir dir;
    std::string config = testutil::ReadFile(Examples + "/phantom.ini");
    config = Replace(config, "../data/", Examples + "/../data/");
    config = Replace(config, "detectors/CsI", Examples + "/detectors/CsI");
    config = Replace(config, "spectra/RQR8", Examples + "/spectra/RQR8");
    testutil::WriteFile(dir.File("phantom.ini"), config);
    const testutil::RunResult r = testutil::RunTarvo({"--interactive", "false", dir.File("phantom.ini")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const char* const lines[] = {
        "Loading detector definitions...\n",
        "Detector definitions loaded.\n",
        "  Number of Detectors: 1\n",
        "Detectors Summary:\n  Detector 0\n   Name: FlatPanel\n   Object ID: 3\n   Priority: 2147483647\n"
        "   DetectorModel: CsI_600um, simple, angle corrected, photons, no electrons, no positrons\n"
        "   Transparent: 1\n   Total Radiation Only: 0\n   Scatter Radiation Only: 0\n   ScatterCount: 2\n"
        "   Shared: 1\n   SplitRegistration: 0\n"
        "   Point A: ( -12, -8, 30 ) cm, Center: ( 0, 0, 30 ) cm\n"
        "   Point B: ( 12, -8, 30 ) cm, Side1: ( 24, 0, 0 ) cm\n"
        "   Point C: ( -12, 8, 30 ) cm, Side2: ( 0, 16, 0 ) cm\n"
        "   Pixel Count AB Edge (columns): 120 [2 mm pixel pitch]\n"
        "   Pixel Count AC Edge (rows): 80 [2 mm pixel pitch]\n"
        "   Cosine Of Collimation Angle: -1\n   Slit Collimator: 0\n   Back Side: 0\n"
        "   Data Type: 64bit floating point, count, energy, rel. error\n",
    };
    for (const char* line : lines)
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
}

TEST(DetectorsEndToEnd, ModelErrorsEndTheProgram) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("short.txt"), "#Tarvo\t0\tShort\tSimpleDet\t2\t3\t10\t10\n0.5 10\n");
    const std::string objects =
        "[ApplicationTask]\nNumberOfParticles = 10\n[EndApplicationTask]\n"
        "[Objects]\n[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\n"
        "Side1 = (1, 0, 0)\nSide2 = (0, 1, 0)\nDetectorModel = M\n[EndObject]\n[EndObjects]\n";
    // The messages themselves are checked by LoadErrors; the file is found beside the configuration.
    testutil::WriteFile(dir.File("run.ini"),
                        objects + "[Detectors]\n[M]\nDataFile = short.txt\n[EndM]\n[EndDetectors]\n");
    const testutil::RunResult r = testutil::RunTarvo({"--interactive", "false", dir.File("run.ini")});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(
        r.err.find("DetectorModel::Load: Not enough data (model M, file " + dir.File("short.txt") + ")"),
        std::string::npos)
        << r.err;
}

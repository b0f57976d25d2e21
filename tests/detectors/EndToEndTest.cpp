#include <gtest/gtest.h>

#include <string>

#include "common/TestUtil.h"

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
    const std::pair<std::string, std::string> cases[] = {
        {"", "DetectorModel not found: M"},
        {"[Detectors]\n[M]\nPhotonsOnly = true\nElectronsOnly = true\n[EndM]\n[EndDetectors]\n",
         "DetectorModel::Load: PhotonsOnly and ElectronsOnly both set"},
        {"[Detectors]\n[M]\nDataFile = short.txt\n[EndM]\n[EndDetectors]\n",
         "DetectorModel::Load: Not enough data (model M, file " + dir.File("short.txt") + ")"},
    };
    for (const auto& [models, message] : cases) {
        testutil::WriteFile(dir.File("run.ini"), objects + models);
        const testutil::RunResult r = testutil::RunTarvo({"--interactive", "false", dir.File("run.ini")});
        EXPECT_EQ(r.exitCode, 255) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

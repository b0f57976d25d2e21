#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "common/TestUtil.h"
#include "datafiles/XRTCStream.h"

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

const std::string Materials = std::string(TARVO_TEST_DATA) + "/../../data/materials";
const std::string Checker = std::string(TARVO_TEST_DATA) + "/stopping/check_stopping.py";

using testutil::Object;

// An unattended run writing Double RAW images to out/; `objects` is the scene.
std::string Config(const std::string& task, const std::string& objects, bool splitting = true) {
    return "[ApplicationTask]\nTimeStep = 0\nStartImmediately = true\nImageType = RAW\nPixelType = Double\n"
           "ResultDir = out\n" +
           task + "[EndApplicationTask]\n[DataSources]\nMaterialsFileName = " + Materials +
           "/materials.ini\n[EndDataSources]\n[Physics]\nUsePhotonSplitting = " +
           (splitting ? "true" : "false") + "\n[EndPhysics]\n[Objects]\n" + objects + "[EndObjects]\n";
}

std::string Slab(const std::string& material, double thickness) {
    return Object("ObjectType = Part\nMaterialName = " + material +
                  "\nVertexA = (-5, -5, 0)\nSide1 = (10, 0, 0)\nSide2 = (0, 10, 0)\nSide3 = (0, 0, " +
                  std::to_string(thickness) + ")\n");
}

std::string Source(const std::string& keys = "Energy = 60\n") {
    return Object("ObjectType = Source\nBaseCenter = (0, 0, -20)\n" + keys);
}

std::string StopPlane(double z, double side, const std::string& keys) {
    return Object("ObjectType = PlaneDetector\nBaseCenter = (0, 0, " + std::to_string(z) + ")\nSide1 = (" +
                  std::to_string(side) + ", 0, 0)\nSide2 = (0, " + std::to_string(side) + ", 0)\n" + keys);
}

void ExpectChecksPass(const std::vector<std::string>& args) {
    const testutil::RunResult r = testutil::RunPython(ReadFile(Checker), args);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

std::uint64_t Emitted(const std::string& out) {
    std::smatch m;
    return std::regex_search(out, m, std::regex("Number Of Particles Emitted:  (\\d+)")) ? std::stoull(m[1])
                                                                                         : 0;
}

// The per-particle value and uncertainty of a results line.
std::pair<double, double> PerParticle(const std::string& out, const std::string& label) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(label + ".*\\[rel\\.: ([0-9.e+-]+) \\+- ([0-9.e+-]+)\\]")))
        return {0, 0};
    return {std::stod(m[1]), std::stod(m[2])};
}

} // namespace

// A pencil beam through 4 cm of water onto a 1 x 1 detector, no splitting: with
// "max primary error 0.02" the run stops at the first round after the primary count
// reaches 2500, at the same history on one thread and two.
TEST(StoppingEndToEnd, GoalIsMetWhenPredictedOnAnyThreadCount) {
    testutil::TempDir dir;
    WriteFile(dir.File("pencil.ini"),
              Config("RandomSeed = 11\nNumberOfParticles = 1000000\nBatchSize = 10\n",
                     Source() + Slab("Water", 4) + StopPlane(10, 1, "StopCondition = max primary error 0.02\n"),
                     false));
    std::vector<std::string> outputs;
    for (const char* threads : {"1", "2"}) {
        const testutil::RunResult r =
            testutil::RunTarvo({"--threads", threads, "pencil.ini"}, "", 60, dir.Path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("All stop conditions satisfied. Stopping calculation.\n"), std::string::npos);
        EXPECT_NE(r.out.find("   StopCondition: Max Primary Error <= 0.02\n"), std::string::npos);
        outputs.push_back(dir.File(std::string("out") + threads + ".txt"));
        WriteFile(outputs.back(), r.out);
    }
    ExpectChecksPass({"goal", outputs[0], outputs[1], Materials});
}

// Rounds only look: a run with a condition it never meets, whose rounds also rewrite
// the results every time, writes the same images and spectra as one without. A run
// stopped early agrees per particle with the full run.
TEST(StoppingEndToEnd, RoundsChangeNothingAndAnEarlyStopAgrees) {
    testutil::TempDir dir;
    const auto scene = [](const std::string& condition) {
        return Source("Energy = 60\nConeAngle = 0.1\n") + Slab("Water", 3) +
               StopPlane(10, 4,
                     "PixelColumns = 4\nPixelRows = 4\nOutputNumberOfInteractions = 1\n" + condition +
                         "[Registrator]\nMaxEnergy = 80\nRegisterUncertainty = true\n[EndRegistrator]\n");
    };
    const std::string task = "RandomSeed = 5\nNumberOfParticles = 6000\nBatchSize = 50\n";
    WriteFile(dir.File("plain.ini"), Config(task, scene("")));
    WriteFile(dir.File("looking.ini"),
              Config(task + "MaxTimeStep = 0\n", scene("StopCondition = min count 1e30\n")));
    WriteFile(dir.File("early.ini"), Config(task, scene("StopCondition = max primary error 0.1\n")));
    const testutil::RunResult r =
        testutil::RunTarvo({"--threads", "2", "plain.ini", "looking.ini", "early.ini"}, "", 120, dir.Path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const std::string suffix :
         {"_Detector0_primary_count.d4x4.raw", "_Detector0_scattered_error.d4x4.raw",
          "_Detector0_scattered1_energy.d4x4.raw", "_Detector0_Registrator0.xrs"}) {
        const std::string plain = ReadFile(dir.File("out/plain.ini" + suffix));
        EXPECT_FALSE(plain.empty()) << suffix;
        EXPECT_TRUE(plain == ReadFile(dir.File("out/looking.ini" + suffix))) << suffix;
    }
    // Three runs: the first two to the end, the last stopped by its goal.
    const std::size_t early = r.out.rfind("Simulation Summary:");
    EXPECT_EQ(testutil::CountOf(r.out, "All stop conditions satisfied. Stopping calculation.\n"), 1);
    EXPECT_LT(Emitted(r.out.substr(early)), 6000u);
    for (const std::string label : {"Didn't Interact: ", "Scattered/Secondary Particles: "}) {
        const auto a = PerParticle(r.out, label), b = PerParticle(r.out.substr(early), label);
        EXPECT_GT(a.first, 0) << label;
        EXPECT_NEAR(a.first, b.first, 3 * std::hypot(a.second, b.second)) << label;
    }
}

// Without stop conditions no round holds the threads up at the scheduled boundaries,
// yet results are still rewritten every MaxTimeStep (here as often as the master
// serves the console, every 10 ms) and once at the end.
TEST(StoppingEndToEnd, ResultsAreRewrittenWithoutStopConditions) {
    testutil::TempDir dir;
    WriteFile(dir.File("run.ini"),
              Config("RandomSeed = 5\nNumberOfParticles = 300000\nMaxTimeStep = 0\n",
                     Source() + StopPlane(10, 4, "PixelColumns = 4\nPixelRows = 4\n"), false));
    const testutil::RunResult r = testutil::RunTarvo({"--threads", "2", "run.ini"}, "", 120, dir.Path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GE(testutil::CountOf(r.out, "Collecting results..."), 3) << r.out;
}

// With splitting a history scores a detector on many flights: a 1 x 1 detector
// between two blocks of water, which scattered photons cross back and forth. Over 30
// seeds the reported relative errors match the spread of the results (squaring each
// registration instead of each history's sum halves them here).
TEST(StoppingEndToEnd, ReportedErrorMatchesTheSpreadWithSplitting) {
    testutil::TempDir dir;
    std::vector<std::string> args{"--threads", "2"}, results{"spread"};
    std::string blocks;
    for (const char* z : {"0", "10.01"})
        blocks += Object(std::string("ObjectType = Part\nMaterialName = Water\nVertexA = (-50, -50, ") + z +
                         ")\nSide1 = (100, 0, 0)\nSide2 = (0, 100, 0)\nSide3 = (0, 0, 10)\n");
    for (int seed = 1; seed <= 30; ++seed) {
        const std::string name = "s" + std::to_string(seed) + ".ini";
        WriteFile(dir.File(name), Config("RandomSeed = " + std::to_string(seed) +
                                             "\nNumberOfParticles = 400\nImageType = None\n",
                                         Source("Energy = 150\n") + blocks + StopPlane(10.005, 100, "")));
        args.push_back(name);
        results.push_back(dir.File("out/" + name + "_results.txt"));
    }
    const testutil::RunResult r = testutil::RunTarvo(args, "", 120, dir.Path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ExpectChecksPass(results);
}

// 60 keV through aluminium: the primary spectrum holds e^(-mu t) per particle in the
// bin of 60 keV only; registrator, spectra and image agree. Three lines through
// water: each line's primary share follows P_i e^(-mu_i t). Every file type parses.
TEST(StoppingEndToEnd, SpectraMatchTheAnalyticBeams) {
    testutil::TempDir dir;
    WriteFile(
        dir.File("mono.ini"),
        Config(
            "RandomSeed = 3\nNumberOfParticles = 2000\n",
            Source() + Slab("Aluminium", 1) +
                StopPlane(
                    10, 4,
                    "OutputNumberOfInteractions = 2\nCells = (Basic) (SpectrometerUncertainty, 0, 100, 100)\n"
                    "[Registrator]\nMaxEnergy = 100\nRegisterUncertainty = true\n[EndRegistrator]\n") +
                StopPlane(12, 2,
                      "PixelColumns = 2\nPixelRows = 2\nTotalOnly = true\nSpectrumType = MultipleXRS\n"
                      "MinEnergy = 20\nMaxEnergy = 70\nCells = (SpectrometerUncertainty)\n")));
    WriteFile(dir.File("lines.ini"),
              Config("RandomSeed = 4\nNumberOfParticles = 20000\nCompressResults = true\nImageType = TXT\n",
                     Source("[Spectrum]\n30 = 1\n50 = 2\n80 = 1\n[EndSpectrum]\n") + Slab("Water", 2) +
                         StopPlane(10, 1, "SpectrumType = SingleXRS\nCells = (Spectrometer, 0, 100, 100)\n")));
    const testutil::RunResult r =
        testutil::RunTarvo({"--threads", "2", "mono.ini", "lines.ini"}, "", 120, dir.Path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("   Spectrum File Type: MultipleXRS\n   Spectrum Count: 4\n"), std::string::npos)
        << r.out;
    datafiles::DecompressFile(dir.File("out/lines.ini_Detector0_primary_spectra_0.xrc"),
                              dir.File("out/lines_primary_spectra_0.xrs"));
    EXPECT_EQ(ReadFile(dir.File("out/lines.ini_Detector0_primary_spectra_0.xrc")).substr(0, 4), "XRTC");
    ExpectChecksPass({"spectra", dir.File("out"), "2000", "20000", Materials});
}

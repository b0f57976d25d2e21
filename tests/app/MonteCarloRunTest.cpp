#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <omp.h>

#include "app/MonteCarloRun.h"
#include "common/TestUtil.h"
#include "detectors/DetectorScene.h"

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

using testutil::kMaterials;

// A cone of 60 keV photons through a water slab onto an 8 x 8 panel.
std::string SlabRun(const std::string& task) {
    return "[ApplicationTask]\nRandomSeed = 7\nBatchSize = 100\nTimeStep = 0\n" + task +
           "[EndApplicationTask]\n[DataSources]\nMaterialsFileName = " + kMaterials +
           "\n[EndDataSources]\n[Objects]\n"
           "[Object]\nObjectType = Source\nEnergy = 60\nConeAngle = 0.1\nBaseCenter = (0, 0, -20)\n[EndObject]\n"
           "[Object]\nObjectType = Part\nMaterialName = Water\nVertexA = (-5, -5, 0)\nSide1 = (10, 0, 0)\n"
           "Side2 = (0, 10, 0)\nSide3 = (0, 0, 4)\n[EndObject]\n"
           "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 10)\nSide1 = (6, 0, 0)\nSide2 = (0, 6, 0)\n"
           "PixelColumns = 8\nPixelRows = 8\nOutputNumberOfInteractions = 1\n[EndObject]\n[EndObjects]\n";
}

const char* const kImages[] = {"_Detector0_primary_count.tiff", "_Detector0_scattered_count.tiff",
                               "_Detector0_total_energy.tiff", "_Detector0_scattered1_error.tiff"};

// The pixels a run wrote (8 x 8 floats at the end of each TIFF file; the tags
// name the file and the time).
std::string Images(const testutil::TempDir& dir, const std::string& name) {
    std::string all;
    for (const char* image : kImages) {
        const std::string file = ReadFile(dir.File(name + "/" + name + ".ini" + image));
        all += file.substr(file.size() - 8 * 8 * 4);
    }
    return all;
}

testutil::RunResult Unattended(const testutil::TempDir& dir, const std::string& name, const std::string& task,
                               const std::string& threads) {
    WriteFile(dir.File(name + ".ini"), SlabRun("StartImmediately = true\n" + task));
    return testutil::RunTarvo({"--threads", threads, name + ".ini"}, "", 60.0, dir.Path());
}

// Waits until `text` has appeared `count` times in the child's output.
bool WaitForCount(testutil::ChildProcess& child, const std::string& text, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (testutil::CountOf(child.Out(), text) < count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        child.WaitForOutput("\x01", 0.05); // collects output for a moment
    }
    return true;
}

} // namespace

// Results depend only on seed and batch size, and a run continued to a new total
// equals a fresh run of that total.
TEST(MonteCarloRun, ResultsDependOnlyOnSeedAndBatchSize) {
    testutil::TempDir dir;
    const auto one = Unattended(dir, "one", "NumberOfParticles = 4000\n", "1");
    const auto two = Unattended(dir, "two", "NumberOfParticles = 4000\n", "2");
    ASSERT_EQ(one.exitCode, 0) << one.err;
    ASSERT_EQ(two.exitCode, 0) << two.err;
    for (const auto* r : {&one, &two}) {
        EXPECT_NE(r->out.find("Calculations finished.\n"), std::string::npos);
        EXPECT_NE(r->out.find("  Number Of Particles Emitted:  4000\n"), std::string::npos);
        EXPECT_NE(r->out.find("Finished writing results.\n"), std::string::npos);
        EXPECT_TRUE(std::regex_search(r->out, std::regex(R"(\n100\.0% traced in \d+\.\ds \(\d\d:\d\d\)?)")))
            << r->out;
    }
    EXPECT_NE(two.out.find("  Number Of Tracers: 2\n"), std::string::npos);
    EXPECT_TRUE(Images(dir, "one") == Images(dir, "two"));
    EXPECT_EQ(testutil::LastResultsSummary(one.out), testutil::LastResultsSummary(two.out));
    EXPECT_NE(ReadFile(dir.File("one/one.ini_results.txt")).find("Execution Summary:\n"), std::string::npos);

    WriteFile(dir.File("cont.ini"), SlabRun("NumberOfParticles = 2000\n"));
    testutil::ChildProcess child(TARVO_EXE, {"--threads", "2", "cont.ini"}, dir.Path());
    ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
    child.Write("start\n");
    ASSERT_TRUE(child.WaitForOutput("New total number of particles to trace [20000]: ")) << child.Out();
    child.Write("4000\n");
    ASSERT_TRUE(WaitForCount(child, "New total number of particles to trace", 2)) << child.Out();
    const auto r = child.Finish("stop\ny\nquit\ny\n", 30.0);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Images(dir, "two") == Images(dir, "cont"));
    EXPECT_EQ(testutil::LastResultsSummary(two.out), testutil::LastResultsSummary(r.out));
}

TEST(MonteCarloRun, ConsoleDrivesARunThroughPipes) {
    // A run long enough to be suspended, stopped while suspended, then continued to
    // a new total and ended with Quit.
    testutil::TempDir dir;
    WriteFile(dir.File("long.ini"), SlabRun("NumberOfParticles = 3e6\n"));
    testutil::ChildProcess child(TARVO_EXE, {"--threads", "2", "long.ini"}, dir.Path());
    ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
    child.Write("start\n");
    ASSERT_TRUE(child.WaitForOutput("Calculations running.\n")) << child.Out();
    child.Write("status\n");
    ASSERT_TRUE(child.WaitForOutput("% traced in ")) << child.Out();
    child.Write("suspend\n");
    ASSERT_TRUE(child.WaitForOutput("Calculations suspended.\n")) << child.Out();
    child.Write("resume\n");
    ASSERT_TRUE(WaitForCount(child, "Calculations running.\n", 2)) << child.Out();
    child.Write("suspend\n");
    ASSERT_TRUE(WaitForCount(child, "Calculations suspended.\n", 2)) << child.Out();
    child.Write("stop\n");
    ASSERT_TRUE(child.WaitForOutput("Do you want to stop?")) << child.Out();
    child.Write("y\n");
    ASSERT_TRUE(child.WaitForOutput("Calculations stopped.\n")) << child.Out();
    ASSERT_TRUE(child.WaitForOutput("New total number of particles to trace")) << child.Out();
    child.Write("quit\n");
    ASSERT_TRUE(child.WaitForOutput("Do you really want to quit the application?")) << child.Out();
    const auto r = child.Finish("y\n", 30.0);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Finished writing results.\n"), std::string::npos);
    EXPECT_TRUE(testutil::FileExists(dir.File("long/long.ini_Detector0_total_count.tiff")));
}

TEST(MonteCarloRun, InterruptAsksToQuitAndAnAcceptedQuitWritesResults) {
    testutil::TempDir dir;
    WriteFile(dir.File("long.ini"), SlabRun("NumberOfParticles = 3e6\n"));
    testutil::ChildProcess child(TARVO_EXE, {"long.ini"}, dir.Path());
    ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
    child.Write("start\n");
    ASSERT_TRUE(child.WaitForOutput("Calculations running.\n")) << child.Out();
    child.Signal(SIGINT);
    ASSERT_TRUE(child.WaitForOutput("Do you really want to quit the application?")) << child.Out();
    const auto r = child.Finish("y\n", 30.0);
    EXPECT_EQ(r.exitCode, 254);
    EXPECT_NE(r.out.find("Calculations stopped.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Finished writing results.\n"), std::string::npos);
    EXPECT_EQ(r.out.find("New total number of particles"), std::string::npos);
}

TEST(MonteCarloRun, ConeBeamShadowFollowsBeerLambertAndTheOpenFieldItsFactor) {
    // 60 keV from 20 cm before a 1 cm water slab that covers the panel's first columns
    // (x < -1 cm at the slab), 9 x 9 pixels of a 6 cm panel 30 cm from the source.
    testutil::TempDir dir;
    const std::string task = "StartImmediately = true\nNumberOfParticles = 200000\nBatchSize = 1000\n"
                             "RandomSeed = 3\n[EndApplicationTask]\n[DataSources]\nMaterialsFileName = " +
                             kMaterials + "\n[EndDataSources]\n[ApplicationTask]\n";
    const std::string source =
        "[Object]\nObjectType = Source\nEnergy = 60\nConeAngle = 0.2\nBaseCenter = (0, 0, -20)\n[EndObject]\n";
    const std::string panel = "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 10)\nSide1 = (6, 0, 0)\n"
                              "Side2 = (0, 6, 0)\nPixelColumns = 9\nPixelRows = 9\n[EndObject]\n";
    const std::string slab = "[Object]\nObjectType = Part\nMaterialName = Water\nVertexA = (-11, -10, 0)\n"
                             "Side1 = (10, 0, 0)\nSide2 = (0, 20, 0)\nSide3 = (0, 0, 1)\n[EndObject]\n";
    const auto config = [&](const std::string& objects) {
        return "[ApplicationTask]\n" + task + "[EndApplicationTask]\n[Objects]\n" + objects + "[EndObjects]\n";
    };
    WriteFile(dir.File("open.ini"), config(source + panel));
    WriteFile(dir.File("slab.ini"), config(source + slab + panel));
    for (const char* name : {"open.ini", "slab.ini"}) {
        const auto r = testutil::RunTarvo({name}, "", 60.0, dir.Path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    const std::string results = ReadFile(dir.File("open/open.ini_results.txt"));
    const std::string label = "Normalization Factor (Detector Center, Only 1st Source Considered): ";
    const std::size_t at = results.find(label);
    ASSERT_NE(at, std::string::npos) << results;
    const std::string factor = results.substr(at + label.size(), results.find('\n', at) - at - label.size());
    const auto r = testutil::RunPython(ReadFile(std::string(TARVO_TEST_DATA) + "/tracer/check_shadow.py"),
                                       {dir.File("open/open.ini"), dir.File("slab/slab.ini"), "1", "60", "30", "6",
                                        "9", factor});
    EXPECT_EQ(r.out, "ok\n") << r.err;
}

TEST(MonteCarloRun, SuspendWaitsForTheNextBatchBoundary) {
    // A run pauses (and saves) only between batches, where its sums are whole: inside
    // its only batch it runs on to the end, unchanged.
    testutil::TempDir dir;
    const std::string task = "NumberOfParticles = 1e6\nBatchSize = 1000000\n";
    const auto fresh = Unattended(dir, "fresh", task, "2");
    ASSERT_EQ(fresh.exitCode, 0) << fresh.err;
    WriteFile(dir.File("paused.ini"), SlabRun(task));
    testutil::ChildProcess child(TARVO_EXE, {"--threads", "2", "paused.ini"}, dir.Path());
    ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
    child.Write("start\n");
    ASSERT_TRUE(child.WaitForOutput("Calculations running.\n")) << child.Out();
    child.Write("suspend\n");
    ASSERT_TRUE(child.WaitForOutput("New total number of particles to trace")) << child.Out();
    const auto r = child.Finish("stop\ny\nquit\ny\n", 30.0);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Suspending calculations...\n"), std::string::npos);
    EXPECT_EQ(r.out.find("Calculations suspended.\n"), std::string::npos);
    EXPECT_NE(r.out.find("Calculations finished.\n"), std::string::npos);
    EXPECT_TRUE(Images(dir, "fresh") == Images(dir, "paused"));
}

TEST(Rounds, ScheduleFallsOnTheFirstBoundaryAtOrAfterEachStep) {
    const struct {
        std::uint64_t previous, next;
        bool round;
    } cases[] = {{0, 0, false},       {0, 999, false},    {0, 1000, true},          {999, 1000, true},
                 {1000, 1249, false}, {1000, 1250, true}, {1100, 1400, true},       {1250, 1562, false},
                 {1562, 1563, true},  {0, 100000, true},  {3000000, 3000001, false}};
    for (const auto& c : cases)
        EXPECT_EQ(TMonteCarloRun::RoundBetween(c.previous, c.next), c.round) << c.previous << " " << c.next;
}

// A pencil beam onto a detector: at every round the detector holds exactly the
// histories before the round's boundary, on one thread or two; a round requested
// from inside a round comes at once, at the same boundary.
TEST(Rounds, DetectorsHoldEveryEarlierHistoryAtTheSameBoundariesOnAnyThreadCount) {
    std::vector<std::pair<std::uint64_t, double>> reference;
    for (const int threads : {1, 2}) {
        DetectorScene scene("[Object]\nObjectType = Source\nEnergy = 60\nBaseCenter = (0.5, 0.5, -10)\n"
                            "[EndObject]\n"
                            "[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (1, 0, 0)\n"
                            "Side2 = (0, 1, 0)\n[EndObject]\n");
        testutil::TempDir dir;
        TSimulationParameters parameters;
        parameters.NumberOfParticles = 5000;
        parameters.BatchSize = 70;
        parameters.MaxNumberOfTracers = std::uint64_t(threads);
        parameters.ImageType = ImageType::None;
        parameters.ResultDir = dir.Path();
        TActiveObject application;
        omp_set_num_threads(threads);
        TMonteCarloRun run(application, *scene.Scene, parameters, dir.File("run"), 0);
        std::vector<std::pair<std::uint64_t, double>> rounds;
        bool asked = false;
        run.AddRoundWork([&](const TMonteCarloRun::RoundInfo& round) {
            rounds.emplace_back(round.Scheduled ? round.Histories : ~round.Histories,
                                scene.Plane().PrimaryCount());
            if (round.Histories >= 2000 && !asked) {
                asked = true;
                run.RequestRound([&] { rounds.emplace_back(0, -1); });
            }
        });
        run.Start();
        ASSERT_EQ(run.Totals().Emitted, 5000u) << run.GetError();
        if (threads == 1) {
            reference = rounds;
            continue;
        }
        EXPECT_EQ(rounds, reference);
    }
    ASSERT_EQ(reference.size(), 10u);
    const std::uint64_t scheduled[] = {1050, 1260, 1610, 1960, 2450, 3080, 3850, 4830};
    std::size_t k = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const std::uint64_t at = reference[i].first;
        if (i == 5) { // requested in the round at 2450: a round at the same boundary
            EXPECT_EQ(at, ~std::uint64_t(2450));
            EXPECT_EQ(reference[i].second, 2450);
            continue;
        }
        if (i == 6) {
            EXPECT_EQ(reference[i], std::make_pair(std::uint64_t(0), -1.0));
            continue;
        }
        ASSERT_LT(k, 8u);
        EXPECT_EQ(at, scheduled[k]);
        EXPECT_EQ(reference[i].second, double(scheduled[k]));
        ++k;
    }
}

namespace {

const std::string kScript = std::string(TARVO_TEST_DATA) + "/raycasting/check_ray_casting.py";

// Each scenario writes its scenes, runs the program and checks what it wrote against
// chords and radiographs computed independently in numpy (see the script).
class RayCastingRun : public ::testing::TestWithParam<const char*> {};

TEST_P(RayCastingRun, MatchesTheReference) {
    testutil::TempDir dir;
    const testutil::RunResult r =
        testutil::Run(TARVO_PYTHON, {kScript, GetParam(), TARVO_EXE, dir.Path(), kMaterials}, "", 240.0);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, RayCastingRun,
                         ::testing::Values("maps", "radiographs", "overlaps", "errors", "montecarlo"),
                         [](const ::testing::TestParamInfo<const char*>& scenario) {
                             return std::string(scenario.param);
                         });

} // namespace

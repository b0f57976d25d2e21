#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <string>
#include <vector>

#include "common/TestUtil.h"

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

const std::string kMaterials = std::string(TARVO_TEST_DATA) + "/../../data/materials/materials.ini";

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

TEST(MonteCarloRun, ContinuingEqualsAFreshRunOfTheNewTotal) {
    testutil::TempDir dir;
    const auto fresh = Unattended(dir, "fresh", "NumberOfParticles = 4000\n", "2");
    ASSERT_EQ(fresh.exitCode, 0) << fresh.err;
    WriteFile(dir.File("cont.ini"), SlabRun("NumberOfParticles = 2000\n"));
    testutil::ChildProcess child(TARVO_EXE, {"--threads", "2", "cont.ini"}, dir.Path());
    ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
    child.Write("start\n");
    ASSERT_TRUE(child.WaitForOutput("New total number of particles to trace [20000]: ")) << child.Out();
    child.Write("4000\n");
    ASSERT_TRUE(WaitForCount(child, "New total number of particles to trace", 2)) << child.Out();
    const auto r = child.Finish("stop\ny\nquit\ny\n", 30.0);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Images(dir, "fresh") == Images(dir, "cont"));
    EXPECT_EQ(testutil::LastResultsSummary(fresh.out), testutil::LastResultsSummary(r.out));
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

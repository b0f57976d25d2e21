#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "common/TestUtil.h"

// Cluster runs started by mpirun, one thread per rank, against a run on one process.
#ifndef TARVO_MPIEXEC
#define TARVO_MPIEXEC "mpirun"
#endif

namespace {

using testutil::ChildProcess;
using testutil::ReadFile;
using testutil::WriteFile;
namespace fs = std::filesystem;

using testutil::kMaterials;

// Photons split through a water slab onto a shared count image, an unshared energy
// image and a detector of cells with spectra and a spectrometer; RAW images.
std::string ClusterSlabRun(const std::string& task) {
    return "[ApplicationTask]\nRandomSeed = 7\nBatchSize = 100\nTimeStep = 0\nImageType = RAW\n" + task +
           "[EndApplicationTask]\n[DataSources]\nMaterialsFileName = " + kMaterials +
           "\n[EndDataSources]\n[Objects]\n"
           "[Object]\nObjectType = Source\nEnergy = 60\nConeAngle = 0.1\nBaseCenter = (0, 0, "
           "-20)\n[EndObject]\n"
           "[Object]\nObjectType = Part\nMaterialName = Water\nVertexA = (-5, -5, 0)\nSide1 = (10, 0, 0)\n"
           "Side2 = (0, 10, 0)\nSide3 = (0, 0, 4)\n[EndObject]\n"
           "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 10)\nSide1 = (6, 0, 0)\nSide2 = (0, 6, "
           "0)\n"
           "PixelColumns = 8\nPixelRows = 8\nOutputNumberOfInteractions = 1\n[EndObject]\n"
           "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 12)\nSide1 = (6, 0, 0)\n"
           "Side2 = (0, 6, 0)\nPixelColumns = 16\nPixelRows = 16\nEnergy = true\nShared = "
           "false\n[EndObject]\n"
           "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 14)\nSide1 = (6, 0, 0)\n"
           "Side2 = (0, 6, 0)\nPixelColumns = 4\nPixelRows = 4\nMaxEnergy = 60\nEnergyBins = 12\n"
           "Cells = (Basic) (SpectrometerUncertainty) (Spectrometer Shared, 0, 60, 30)\n"
           "[Registrator]\nMaxEnergy = 60\nRegisterUncertainty = true\n[EndRegistrator]\n[EndObject]\n"
           "[EndObjects]\n";
}

std::vector<std::string> MpiArguments(int ranks, const std::vector<std::string>& arguments, int threads = 1) {
    std::vector<std::string> all = {
        "--oversubscribe",       "--allow-run-as-root", "-n",   std::to_string(ranks), TARVO_EXE, "--threads",
        std::to_string(threads), "--interactive",       "false"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

// The process of `rank` in a run started in `dir`, found by the launcher's environment.
pid_t RankProcess(int rank, const std::string& dir) {
    const std::string wanted = "OMPI_COMM_WORLD_RANK=" + std::to_string(rank) + '\0';
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code error;
        if (fs::read_symlink(entry.path() / "cwd", error).string() != dir)
            continue;
        std::ifstream environ(entry.path() / "environ", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
        if (text.find(wanted) != std::string::npos)
            return pid_t(std::stol(name));
    }
    return -1;
}

struct Finished {
    std::string images;
    std::string counts;
};

class ClusterRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testutil::TempDir;
        WriteFile(dir_->File("ref.ini"), ClusterSlabRun("NumberOfParticles = 600000\n"));
        const auto r = testutil::RunTarvo({"--threads", "1", "--interactive", "false", "ref.ini"}, "start\n",
                                          60.0, dir_->Path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        reference_ = new Finished{testutil::ResultFiles(dir_->File("ref")), testutil::LastResultsSummary(r.out)};
        ASSERT_NE(reference_->images.find(".xrs:"), std::string::npos);
        ASSERT_NE(reference_->counts.find("Emitted:  600000"), std::string::npos) << r.out;
    }
    static void TearDownTestSuite() {
        delete reference_;
        delete dir_;
    }

    void SetUp() override {
#ifndef TARVO_WITH_MPI
        GTEST_SKIP() << "built without MPI";
#else
        if (access(TARVO_MPIEXEC, X_OK) != 0)
            GTEST_SKIP() << "no MPI launcher at " << TARVO_MPIEXEC;
        // Open MPI keeps allocations to the end that the leak checker of a sanitizer
        // build would report for every rank: off for these runs only.
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":detect_leaks=0").c_str(), 1);
#endif
    }

    // A directory of its own holding run.ini.
    std::string Prepare(const std::string& name, const std::string& task) {
        fs::create_directories(dir_->File(name));
        WriteFile(dir_->File(name + "/run.ini"), ClusterSlabRun("NumberOfParticles = 600000\n" + task));
        return dir_->File(name);
    }

    void ExpectReference(const std::string& name, const std::string& out) {
        EXPECT_TRUE(testutil::ResultFiles(dir_->File(name + "/run")) == reference_->images) << name;
        EXPECT_EQ(testutil::LastResultsSummary(out), reference_->counts) << name;
    }

    static testutil::TempDir* dir_;
    static Finished* reference_;
};

testutil::TempDir* ClusterRun::dir_ = nullptr;
Finished* ClusterRun::reference_ = nullptr;

} // namespace

TEST_F(ClusterRun, AnyRanksAndThreadsWriteWhatOneProcessWrites) {
    for (const auto& [ranks, threads] : {std::pair{2, 1}, std::pair{3, 1}, std::pair{2, 2}}) {
        const std::string name = "ranks" + std::to_string(ranks) + "x" + std::to_string(threads);
        const std::string dir = Prepare(name, "StartImmediately = true\n");
        const auto r = testutil::Run(TARVO_MPIEXEC, MpiArguments(ranks, {"run.ini"}, threads), "", 60.0, dir);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        ExpectReference(name, r.out);
        // Only rank 0 talks.
        EXPECT_EQ(testutil::CountOf(r.out, "Reading parameters done."), 1);
    }
}

// Stop conditions are judged in rounds at batch boundaries of all ranks: the run stops
// at the same history as on one process.
TEST_F(ClusterRun, StopConditionsStopAtTheSameHistory) {
    std::string ini = ClusterSlabRun("NumberOfParticles = 3000000\nStartImmediately = true\n");
    ini.insert(ini.find("OutputNumberOfInteractions = 1\n"), "StopCondition = max primary error 0.03\n");
    for (const std::string name : {"stop1", "stop3"}) {
        fs::create_directories(dir_->File(name));
        WriteFile(dir_->File(name + "/run.ini"), ini);
    }
    const auto one = testutil::RunTarvo({"--threads", "1", "run.ini"}, "", 60.0, dir_->File("stop1"));
    ASSERT_EQ(one.exitCode, 0) << one.err;
    ASSERT_NE(one.out.find("All stop conditions satisfied."), std::string::npos);
    const auto r = testutil::Run(TARVO_MPIEXEC, MpiArguments(3, {"run.ini"}), "", 60.0, dir_->File("stop3"));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(testutil::ResultFiles(dir_->File("stop3/run")) == testutil::ResultFiles(dir_->File("stop1/run")));
    EXPECT_EQ(testutil::LastResultsSummary(r.out), testutil::LastResultsSummary(one.out));
}

// What rank 0 can not run, or a worker can not load, ends every rank with a message.
TEST_F(ClusterRun, ErrorsOfAnyRankEndEveryRankWithTheirCause) {
    const std::string dir = Prepare("errors", "StartImmediately = true\n");
    // A worker started in a directory that does not exist (mpirun's ':' gives it its own arguments).
    std::vector<std::string> arguments = MpiArguments(1, {"run.ini"});
    const std::vector<std::string> worker = {":",      "-n", "1", TARVO_EXE, "--workingdir", "/nonexistent",
                                             "run.ini"};
    arguments.insert(arguments.end(), worker.begin(), worker.end());
    auto r = testutil::Run(TARVO_MPIEXEC, arguments, "", 60.0, dir);
    EXPECT_EQ(r.exitCode, 255) << r.out << r.err;
    EXPECT_NE(r.err.find("Loading on rank 1 on host "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Couldn't change working directory to /nonexistent"), std::string::npos) << r.err;

    std::string text = ReadFile(dir + "/run.ini");
    text.insert(text.find("[EndObjects]"), "[Object]\nObjectType = MeshDetector\nVertexA = (-5, -5, 0)\n"
                                           "Side1 = (10, 0, 0)\nSide2 = (0, 10, 0)\nSide3 = (0, 0, 4)\n"
                                           "Dimensions = 2,2,2\n[EndObject]\n");
    WriteFile(dir + "/run.ini", text);
    r = testutil::Run(TARVO_MPIEXEC, MpiArguments(2, {"run.ini"}), "", 60.0, dir);
    EXPECT_EQ(r.exitCode, 255) << r.out << r.err;
    EXPECT_NE(r.err.find("Cluster runs do not support trace detectors"), std::string::npos) << r.err;
}

// Status lists every rank; Suspend and Resume leave the results as they were; Stop ends
// every rank and writes what all of them traced.
TEST_F(ClusterRun, ConsoleCommandsReachEveryRank) {
    {
        ChildProcess child(TARVO_MPIEXEC, MpiArguments(3, {"run.ini"}), Prepare("console", ""));
        ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
        child.Write("start\n");
        ASSERT_TRUE(child.WaitForOutput("Calculations running.\n")) << child.Out() << child.Err();
        child.Write("suspend\n");
        ASSERT_TRUE(child.WaitForOutput("Calculations suspended.\n")) << child.Out() << child.Err();
        child.Write("status\n");
        ASSERT_TRUE(child.WaitForOutput("  Rank 2 on ")) << child.Out();
        EXPECT_NE(child.Out().find("  Rank 0 on "), std::string::npos);
        EXPECT_NE(child.Out().find("  Rank 1 on "), std::string::npos);
        child.Write("resume\n");
        const auto r = child.Finish("", 60.0);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("Calculations finished.\n"), std::string::npos);
        ExpectReference("console", r.out);
    }
    ChildProcess child(TARVO_MPIEXEC, MpiArguments(2, {"run.ini"}), Prepare("stop", ""));
    ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
    child.Write("start\n");
    ASSERT_TRUE(child.WaitForOutput("Calculations running.\n")) << child.Out() << child.Err();
    const auto r = child.Finish("stop\n", 60.0);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Calculations stopped.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Finished writing results.\n"), std::string::npos);
    EXPECT_TRUE(testutil::FileExists(dir_->File("stop/run/run.ini_Detector0_total_count.f8x8.raw")));
}

// A worker killed after a saved state: every rank ends soon, rank 0 names the lost one,
// and the state finishes the run on two ranks as the uninterrupted run ended.
TEST_F(ClusterRun, ALostWorkerEndsTheRunAndItsStateFinishesIt) {
    const std::string dir = Prepare("kill", "");
    {
        ChildProcess child(TARVO_MPIEXEC, MpiArguments(3, {"run.ini"}), dir);
        ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
        child.Write("start\n");
        ASSERT_TRUE(child.WaitForOutput("Calculations running.\n")) << child.Out() << child.Err();
        child.Write("savestate\n");
        ASSERT_TRUE(child.WaitForOutput("Finished writing restore state.\n")) << child.Out() << child.Err();
        const pid_t worker = RankProcess(1, fs::canonical(dir).string());
        ASSERT_GT(worker, 0);
        kill(worker, SIGKILL);
        const auto start = std::chrono::steady_clock::now();
        const auto r = child.Finish("", 30.0);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 30.0);
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE(r.err.find("Lost rank 1 on host "), std::string::npos) << r.err;
    }
    const auto r =
        testutil::Run(TARVO_MPIEXEC, MpiArguments(2, {"--restore", "run/run.ini.state"}), "", 60.0, dir);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ExpectReference("kill", r.out);
}

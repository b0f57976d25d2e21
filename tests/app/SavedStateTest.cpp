#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/TarvoApplication.h"
#include "common/ScriptedInterface.h"
#include "common/TestUtil.h"
#include "datafiles/ObjectIO.h"
#include "datafiles/StateFile.h"

#include <zlib.h>

namespace {

using testutil::ChildProcess;
using testutil::ReadFile;
using testutil::WriteFile;
namespace fs = std::filesystem;

using testutil::kMaterials;

// Photons split through a water slab onto a count detector, an energy image and a
// detector of cells with spectra and a spectrometer, a small plane recording a
// phase-space file and dumping its detections, a volume over the water; RAW images;
// long enough (a
// second or two) to be interrupted.
std::string StateSlabRun(const std::string& task = std::string()) {
    return "[ApplicationTask]\nRandomSeed = 7\nBatchSize = 100\nTimeStep = 0\nImageType = RAW\n"
           "NumberOfParticles = 400000\n" +
           task + "[EndApplicationTask]\n[DataSources]\nMaterialsFileName = " + kMaterials +
           "\n[EndDataSources]\n[Objects]\n"
           "[Object]\nObjectType = Source\nEnergy = 60\nConeAngle = 0.1\nBaseCenter = (0, 0, "
           "-20)\n[EndObject]\n"
           "[Object]\nObjectType = Part\nMaterialName = Water\nVertexA = (-5, -5, 0)\nSide1 = (10, 0, 0)\n"
           "Side2 = (0, 10, 0)\nSide3 = (0, 0, 4)\n[EndObject]\n"
           "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 10)\nSide1 = (6, 0, 0)\nSide2 = (0, 6, "
           "0)\n"
           "PixelColumns = 8\nPixelRows = 8\nOutputNumberOfInteractions = 1\n[EndObject]\n"
           "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 12)\nSide1 = (6, 0, 0)\n"
           "Side2 = (0, 6, 0)\nPixelColumns = 16\nPixelRows = 16\nEnergy = true\n[EndObject]\n"
           "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 14)\nSide1 = (6, 0, 0)\n"
           "Side2 = (0, 6, 0)\nPixelColumns = 4\nPixelRows = 4\nMaxEnergy = 60\nEnergyBins = 12\n"
           "Cells = (Basic) (SpectrometerUncertainty) (Spectrometer Shared, 0, 60, 30)\n"
           "[Registrator]\nMaxEnergy = 60\nRegisterUncertainty = true\n[EndRegistrator]\n[EndObject]\n"
           "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 16)\nSide1 = (0.2, 0, 0)\n"
           "Side2 = (0, 0.2, 0)\n[Registrator]\nType = PhaseSpace\n[EndRegistrator]\n[EndObject]\n"
           "[Object]\nObjectType = MeshDetector\nVertexA = (-5, -5, 0)\nSide1 = (10, 0, 0)\nSide2 = (0, 10, 0)\n"
           "Side3 = (0, 0, 4)\nDimensions = 4,4,2\n[EndObject]\n"
           "[Object]\nObjectType = TraceDump\nSingle = true\nDetectCreation = false\nDetectInteraction = false\n"
           "DetectAbsorption = false\nMinObjectID = 4\nMaxObjectID = 4\n[EndObject]\n"
           "[EndObjects]\n";
}

// The files a directory holds but `except`, for checks that nothing changed.
std::string Snapshot(const std::string& dir, const std::string& except = std::string()) {
    std::string all;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().filename() != except)
            all += entry.path().filename().string() + "=" + ReadFile(entry.path().string()) + "\n";
    return all;
}

struct Finished {
    std::string images;
    std::string counts;
};

class SavedState : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testutil::TempDir;
        WriteFile(dir_->File("ref.ini"), StateSlabRun());
        const auto r = testutil::RunTarvo({"--threads", "2", "--interactive", "false", "ref.ini"}, "start\n",
                                          60.0, dir_->Path());
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // SaveInterval = 0 writes no state.
        EXPECT_EQ(r.out.find("Writing restore state..."), std::string::npos);
        EXPECT_FALSE(testutil::FileExists(dir_->File("ref/ref.ini.state")));
        reference_ = new Finished{testutil::ResultFiles(dir_->File("ref")), testutil::LastResultsSummary(r.out)};
        ASSERT_NE(reference_->images.find(".xrs:"), std::string::npos);
        ASSERT_NE(reference_->images.find("_phsp.bin:Tarvo Binary PhaseSpaceData"), std::string::npos);
        ASSERT_NE(reference_->images.find("TraceDetector0_count.vtk:"), std::string::npos);
        ASSERT_NE(reference_->images.find("TraceDetector1_traces.bin:Tarvo Binary TraceDump"), std::string::npos);
        ASSERT_NE(reference_->counts.find("Emitted:  400000"), std::string::npos) << r.out;
    }
    static void TearDownTestSuite() {
        delete reference_;
        delete dir_;
    }

    // Starts a run in its own directory, sends `command` once it runs, and kills it with
    // SIGKILL as soon as the state is written.
    void SaveAndKill(const std::string& name, const std::string& task, const std::string& threads,
                     const std::string& command) {
        fs::create_directories(dir_->File(name));
        WriteFile(dir_->File(name + "/run.ini"), StateSlabRun(task));
        ChildProcess child(TARVO_EXE, {"--threads", threads, "run.ini"}, dir_->File(name));
        ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
        child.Write("start\n");
        ASSERT_TRUE(child.WaitForOutput("Calculations running.\n")) << child.Out();
        if (!command.empty())
            child.Write(command + "\n");
        ASSERT_TRUE(child.WaitForOutput("Finished writing restore state.\n")) << child.Out() << child.Err();
        child.Signal(SIGKILL);
        child.Finish();
    }

    // Restores unattended and checks that the run ends as the uninterrupted one did.
    void RestoreAndCompare(const std::string& name, const std::string& target, const std::string& threads) {
        const auto r =
            testutil::RunTarvo({"--threads", threads, "--interactive", "false", "--restore", target}, "",
                               60.0, dir_->File(name));
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("Calculations finished.\n"), std::string::npos);
        EXPECT_TRUE(testutil::ResultFiles(dir_->File(name + "/run")) == reference_->images) << name;
        EXPECT_EQ(testutil::LastResultsSummary(r.out), reference_->counts) << name;
        // A finished unattended run needs its state no more.
        EXPECT_FALSE(testutil::FileExists(dir_->File(name + "/run/run.ini.state")));
        EXPECT_FALSE(testutil::FileExists(dir_->File(name + "/run/run.ini.state.bak")));
        EXPECT_FALSE(testutil::FileExists(dir_->File(name + "/run/run.ini.state.tmp")));
    }

    static testutil::TempDir* dir_;
    static Finished* reference_;
};

testutil::TempDir* SavedState::dir_ = nullptr;
Finished* SavedState::reference_ = nullptr;

} // namespace

TEST_F(SavedState, SuspendSavesAndARestoreOnOtherThreadsFinishesBitIdentical) {
    SaveAndKill("suspend", "", "1", "suspend");
    RestoreAndCompare("suspend", "run/run.ini.state", "2");
}

TEST_F(SavedState, IntervalSavesThenTwoInterruptionsInARow) {
    // The interval runs from the last save, here the suspension's: more than a second
    // after it the resumed run saves at its next boundary without being asked.
    fs::create_directories(dir_->File("interval"));
    WriteFile(dir_->File("interval/run.ini"), StateSlabRun("SaveInterval = 1\n"));
    {
        ChildProcess child(TARVO_EXE, {"--threads", "2", "run.ini"}, dir_->File("interval"));
        ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
        child.Write("start\nsuspend\n");
        ASSERT_TRUE(child.WaitForOutput("Calculations suspended.\n")) << child.Out();
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        child.Write("resume\n");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (testutil::CountOf(child.Out(), "Finished writing restore state.\n") < 2 &&
               std::chrono::steady_clock::now() < deadline)
            child.WaitForOutput("\x01", 0.05); // collects output for a moment
        child.Signal(SIGKILL);
        const auto r = child.Finish();
        ASSERT_EQ(testutil::CountOf(r.out, "Finished writing restore state.\n"), 2) << r.out;
        ASSERT_EQ(r.out.find("Calculations finished."), std::string::npos) << r.out;
    }
    const std::string first = ReadFile(dir_->File("interval/run/run.ini.state"));
    // Second interruption: the restored run suspends (saving) and is stopped, which
    // keeps the state and its backup.
    const auto r =
        testutil::RunTarvo({"--threads", "2", "--interactive", "false", "--restore", "run/run.ini.state"},
                           "suspend\nstop\n", 60.0, dir_->File("interval"));
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Calculations suspended.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Calculations stopped.\n"), std::string::npos);
    EXPECT_EQ(ReadFile(dir_->File("interval/run/run.ini.state.bak")), first);
    EXPECT_NE(ReadFile(dir_->File("interval/run/run.ini.state")), first);
    // Named by its configuration, the run continues from <ResultDir>/run.ini.state.
    const auto again =
        testutil::RunTarvo({"--threads", "2", "--interactive", "false", "--restore", "run.ini"}, "", 60.0,
                           dir_->File("interval"));
    EXPECT_NE(again.out.find("Attempting to parse configuration from run.ini\n"
                             "Attempting to restore state from run/run.ini.state\n"),
              std::string::npos)
        << again.out;
    EXPECT_TRUE(testutil::ResultFiles(dir_->File("interval/run")) == reference_->images);
    EXPECT_EQ(testutil::LastResultsSummary(again.out), reference_->counts);
}

TEST_F(SavedState, AFailingSaveIsReportedKeepsTheStateAndTheRunFinishes) {
    fs::create_directories(dir_->File("full/run"));
    WriteFile(dir_->File("full/run.ini"), StateSlabRun());
    WriteFile(dir_->File("full/run/run.ini.state"), "previous state");
    // The state (about 90 kB) does not fit under the limit; the results do.
    ChildProcess child("/bin/bash",
                       {"-c", "trap '' XFSZ; ulimit -f 40; exec " TARVO_EXE " --interactive false run.ini"},
                       dir_->File("full"));
    ASSERT_TRUE(child.WaitForOutput("Ready.\n"));
    child.Write("start\nsuspend\n");
    ASSERT_TRUE(child.WaitForOutput("Calculations suspended.\n")) << child.Out();
    EXPECT_EQ(ReadFile(dir_->File("full/run/run.ini.state")), "previous state");
    EXPECT_FALSE(testutil::FileExists(dir_->File("full/run/run.ini.state.tmp")));
    child.Write("resume\n");
    const auto r = child.Finish("", 60.0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("Error writing application state to run/run.ini.state\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Calculations finished.\n"), std::string::npos);
    EXPECT_TRUE(testutil::ResultFiles(dir_->File("full/run")) == reference_->images);
}

namespace {

struct Entry {
    std::uint64_t At = 0;
    std::uint64_t MidPayload = 0;
};

// The top-level entries of a state file and those nested in the scene, in file order.
std::vector<Entry> Entries(const std::string& bytes) {
    std::vector<Entry> entries;
    std::istringstream in(bytes);
    const auto next = [&] {
        Entry e{std::uint64_t(in.tellg()), 0};
        const EntryHeader header = ReadEntryHeader(in);
        e.MidPayload = std::uint64_t(in.tellg()) + header.PayloadSize / 2;
        entries.push_back(e);
        return header.PayloadSize;
    };
    for (int entry = 0; entry < 4; ++entry) { // application, scene, run, checksum
        const std::uint64_t size = next();
        if (entry != 1) {
            in.seekg(std::streamoff(size), std::ios::cur);
            continue;
        }
        const std::uint64_t end = std::uint64_t(in.tellg()) + size;
        while (std::uint64_t(in.tellg()) < end)
            in.seekg(std::streamoff(next()), std::ios::cur);
    }
    return entries;
}

// Replaces the checksum entry's CRC so that deeper checks are reached.
std::string Resealed(std::string bytes) {
    const std::size_t body = bytes.size() - 38;
    const std::uint32_t crc =
        std::uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), uInt(body)));
    for (int i = 0; i < 4; ++i)
        bytes[bytes.size() - 4 + i] = char((crc >> (8 * i)) & 0xff);
    return bytes;
}

} // namespace

TEST_F(SavedState, DamagedStatesFailNamingTheFileAndChangeNothing) {
    SaveAndKill("damaged", "", "2", "suspend");
    const std::string good = ReadFile(dir_->File("damaged/run/run.ini.state"));
    std::vector<std::uint64_t> entries; // application, scene (four detectors, two trace detectors), run, checksum
    for (const Entry& e : Entries(good))
        entries.push_back(e.At);
    ASSERT_EQ(entries.size(), 10u);

    // Damage after the tag: a file that does not start with one is read as a configuration.
    std::vector<std::pair<std::string, std::string>> cases; // content, expected text
    for (std::size_t i = 1; i < entries.size(); ++i)
        cases.push_back({good.substr(0, entries[i]), "cut short"});
    std::mt19937 random(11);
    const auto anywhere = [&] { return 7 + random() % (good.size() - 7); };
    for (int i = 0; i < 50; ++i)
        cases.push_back({good.substr(0, anywhere()), ""});
    for (int i = 0; i < 50; ++i) {
        std::string flipped = good;
        flipped[anywhere()] ^= char(1 << (random() % 8));
        cases.push_back({flipped, ""});
    }
    std::string huge = good;
    huge[entries[2] + 9 + 20 + 7] = '\x40'; // the first detector's payload size: 2^62
    cases.push_back({Resealed(huge), "larger than the rest of the stream"});
    std::string tag = good;
    tag[entries[5]] = 'X'; // the run's entry
    cases.push_back({Resealed(tag), "EntryHeader not found: XbjDsc0"});

    const std::string before = Snapshot(dir_->File("damaged/run"));
    fs::create_directories(dir_->File("damaged/bad"));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        WriteFile(dir_->File("damaged/bad/run.ini.state"), cases[i].first);
        // The program for the boundaries, the deep cases and every tenth; the others
        // through the same reader in-process.
        if (i < entries.size() || i >= cases.size() - 2 || i % 10 == 0) {
            const auto r =
                testutil::RunTarvo({"--restore", "bad/run.ini.state"}, "", 30.0, dir_->File("damaged"));
            EXPECT_EQ(r.exitCode, 255) << i;
            EXPECT_NE(r.err.find(" while reading bad/run.ini.state\n"), std::string::npos) << i << r.err;
            EXPECT_NE(r.err.find(cases[i].second), std::string::npos) << i << r.err;
            EXPECT_EQ(r.out.find("Attempting to parse configuration"), std::string::npos) << i;
            EXPECT_EQ(Snapshot(dir_->File("damaged/bad"), "run.ini.state"), "") << i;
            continue;
        }
        EXPECT_THROW(datafiles::TStateFileReader reader(dir_->File("damaged/bad/run.ini.state")),
                     std::runtime_error)
            << i;
    }
    EXPECT_EQ(Snapshot(dir_->File("damaged/run")), before);

    // A configuration loaded before a failed restore stays loaded as it was.
    testutil::ScriptedInterface ui;
    TTarvoApplication app(ui);
    ASSERT_TRUE(app.Initialize(dir_->File("damaged/run.ini"), false));
    const IScene* scene = app.Scene();
    std::ostringstream loaded;
    app.Configuration().Write(loaded);
    WriteFile(dir_->File("damaged/bad/run.ini.state"), cases.back().first);
    EXPECT_FALSE(app.RestoreState(dir_->File("damaged/bad/run.ini.state")));
    EXPECT_NE(ui.lines.back().find("EntryHeader not found: XbjDsc0 while reading "), std::string::npos);
    std::ostringstream after;
    app.Configuration().Write(after);
    EXPECT_EQ(after.str(), loaded.str());
    EXPECT_EQ(app.Scene(), scene);
    EXPECT_EQ(app.GetState(), TTarvoApplication::kInitialized);
    EXPECT_EQ(app.ResultPrefix(), dir_->File("damaged/run/run.ini"));
}

TEST_F(SavedState, KillsWhileSavingLeaveAStateAndABackupThatFinishBitIdentical) {
    // Saved by the console command, killed, and finished from the state on two threads below.
    SaveAndKill("kills", "", "2", "savestate");
    const std::string saved = ReadFile(dir_->File("kills/run/run.ini.state"));
    // Every entry boundary and inside each payload.
    std::vector<std::string> points;
    for (const Entry& e : Entries(saved))
        for (const std::uint64_t offset : {std::max<std::uint64_t>(e.At, 1), e.MidPayload})
            points.push_back(std::to_string(offset));
    points.push_back("backup");
    points.push_back("rename");
    for (const std::string& point : points) {
        const auto r = testutil::Run(
            "/usr/bin/env", {"TARVO_STATE_EXIT=" + point, TARVO_EXE, "--restore", "run/run.ini.state"},
            "suspend\n", 30.0, dir_->File("kills"));
        ASSERT_EQ(r.exitCode, 86) << point << r.out << r.err;
        for (const char* name : {"kills/run/run.ini.state", "kills/run/run.ini.state.bak"})
            if (testutil::FileExists(dir_->File(name))) {
                datafiles::TStateFileReader reader(dir_->File(name));
                EXPECT_GT(reader.ChecksumAt(), 0u) << point;
            }
    }
    // The last kill fell between the renames: the new state and the backup both finish.
    fs::create_directories(dir_->File("kills/backup/run"));
    fs::copy_file(dir_->File("kills/run/run.ini.state.bak"),
                  dir_->File("kills/backup/run/run.ini.state.bak"));
    // The backup's run continues the phase-space file and the dump, which must be there (and at
    // least as long as when the backup was saved).
    for (const char* file : {"run.ini_Detector3_phsp.bin", "run.ini_TraceDetector1_traces.bin"})
        fs::copy_file(dir_->File("kills/run/") + file, dir_->File("kills/backup/run/") + file);
    RestoreAndCompare("kills", "run/run.ini.state", "2");
    RestoreAndCompare("kills/backup", "run/run.ini.state.bak", "1");
}

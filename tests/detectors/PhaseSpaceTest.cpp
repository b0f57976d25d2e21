// Phase-space files end to end: the program writes them from a plane, an independent
// numpy reader (tests/data/phasespace/phasespace.py) parses and rewrites them, and a
// list source replays them.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/TestUtil.h"
#include "detectors/PhaseSpaceWriter.h"
#include "inifiles/IniFile.h"
#include "interactions/Particle.h"

using testutil::WriteFile;

namespace {

const std::string kTool = std::string(TARVO_TEST_DATA) + "/phasespace/phasespace.py";
using testutil::kMaterials;

std::string Task(long particles, int seed) {
    return "[ApplicationTask]\nNumberOfParticles = " + std::to_string(particles) +
           "\nRandomSeed = " + std::to_string(seed) +
           "\nStartImmediately = true\nResultDir = out\nImageType = TIFF\nPixelType = double\n"
           "PerParticle = true\nBatchSize = 2000\n[EndApplicationTask]\n"
           "[DataSources]\nMaterialsFileName = " +
           kMaterials + "\n[EndDataSources]\n";
}

using testutil::Object;

std::string Slab(const std::string& material, double z, double thickness) {
    return Object("ObjectType = Part\nMaterialName = " + material + "\nVertexA = (-10, -10, " +
                  std::to_string(z) + ")\nSide1 = (20, 0, 0)\nSide2 = (0, 20, 0)\nSide3 = (0, 0, " +
                  std::to_string(thickness) + ")\n");
}

// A wide plane at z = 23 that records what crosses it.
std::string PhaseSpacePlane(const std::string& planeKeys, const std::string& writerKeys) {
    return Object("ObjectType = PlaneDetector\nVertexA = (-20, -20, 23)\nSide1 = (40, 0, 0)\n"
                  "Side2 = (0, 40, 0)\n" +
                  planeKeys + "[Registrator]\nType = PhaseSpace\n" + writerKeys + "[EndRegistrator]\n");
}

const std::string kCone = Object("ObjectType = Source\nEnergy = 60\nConeAngle = 0.1\n");
const std::string kPanel = Object("ObjectType = PlaneDetector\nVertexA = (-4, -4, 40)\nSide1 = (8, 0, 0)\n"
                                  "Side2 = (0, 8, 0)\nPixelColumns = 32\nPixelRows = 32\n");

std::string Config(const std::string& task, const std::string& objects) {
    return task + "[Objects]\n" + objects + "[EndObjects]\n";
}

testutil::RunResult RunIn(const testutil::TempDir& dir, const std::string& name, const std::string& config,
                          const std::vector<std::string>& options = {}) {
    WriteFile(dir.File(name), config);
    std::vector<std::string> args = {"--interactive", "false"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(name);
    return testutil::RunTarvo(args, "", 60.0, dir.Path());
}

// Runs the checker on commands separated by "--"; the output explains a failure.
::testing::AssertionResult Check(const testutil::TempDir& dir, const std::vector<std::string>& commands) {
    std::vector<std::string> args = {kTool};
    for (const std::string& c : commands) {
        if (args.size() > 1)
            args.push_back("--");
        std::string word;
        for (char ch : c + " ") {
            if (ch != ' ') {
                word += ch;
            } else if (!word.empty()) {
                args.push_back(word[0] == '@' ? dir.File(word.substr(1)) : word);
                word.clear();
            }
        }
    }
    const testutil::RunResult r = testutil::Run(TARVO_PYTHON, args);
    if (r.exitCode == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << r.out << r.err;
}

} // namespace

// Three registrations in float and double, appending, a new file under Append, and
// the standard output as the file; errors that stop the program at loading or Start.
TEST(PhaseSpace, FilesParseAppendAndStream) {
    testutil::TempDir dir;
    const std::string task = Task(3, 1);
    const std::string pencil = Object("ObjectType = Source\nEnergy = 60\n");
    auto run = [&](const std::string& writer) {
        return RunIn(dir, "run.ini", Config(task, pencil + PhaseSpacePlane("", writer)));
    };
    // A bare name goes with the results; one with a directory from the configuration's.
    ASSERT_EQ(run("Filename = f.bin\n").exitCode, 0);
    ASSERT_EQ(run("Filename = ./d.bin\nSingle = false\n").exitCode, 0);
    EXPECT_TRUE(Check(dir, {"layout @out/run.ini_Detector0_f.bin 3 32", "layout @d.bin 3 64"}));
    testutil::RunResult r = run("Filename = f.bin\nAppend = true\nThreshold = 0.5\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("   Phase Space File: out/run.ini_Detector0_f.bin, appended\n"), std::string::npos);
    EXPECT_NE(r.out.find("   Roulette Threshold: 0.5\n"), std::string::npos);
    ASSERT_EQ(run("Filename = ./new.bin\nAppend = true\n").exitCode, 0);
    r = run("Filename = \n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Once the writer streams, messages go to the error stream.
    EXPECT_NE(r.err.find("Finished writing results."), std::string::npos);
    WriteFile(dir.File("stdout.bin"), r.out);
    EXPECT_TRUE(Check(dir, {"layout @out/run.ini_Detector0_f.bin 6 32", "layout @new.bin 3 32",
                            "layout @stdout.bin 3 32"}));

    WriteFile(dir.File("list.txt"), "0 0 0 0 0 0 0 60 1\n");
    const std::string listSource = Object("ObjectType = Source\nParticleList = list.txt\n");
    struct Case {
        std::string objects, message;
    };
    const Case cases[] = {
        {pencil + PhaseSpacePlane("", "Filename = ./d.bin\nAppend = true\n"),
         "Can't append to ./d.bin: its records are of another precision or byte order"},
        {pencil + PhaseSpacePlane("", "Filename = ./list.txt\nAppend = true\n"),
         "Can't append to ./list.txt: it is not a phase-space file"},
        {pencil + PhaseSpacePlane("", "Filename = ./none/x.bin\n"), "Couldn't open ./none/x.bin"},
        {listSource + PhaseSpacePlane("", "Filename = ./list.txt\n"),
         "./list.txt is both the file of a phase-space writer and the particle list of a list source"},
        {pencil + PhaseSpacePlane("", "Filename = ./x.bin\n") + PhaseSpacePlane("", "Filename = ./x.bin\n"),
         "./x.bin is both the file of a phase-space writer and the file of a phase-space writer"},
    };
    // One program run: a configuration whose run failed to start must not keep the
    // next one from loading.
    std::vector<std::string> args = {"--interactive", "false"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        args.push_back("bad" + std::to_string(i) + ".ini");
        WriteFile(dir.File(args.back()), Config(task, cases[i].objects));
    }
    r = testutil::RunTarvo(args, "", 60.0, dir.Path());
    EXPECT_EQ(r.exitCode, 255);
    for (const Case& c : cases)
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.message << "\n" << r.err;
    EXPECT_EQ(r.err.find("while calculations are running"), std::string::npos) << r.err;
}

// With Threshold 0 the records carry what an uncollimated TotalOnly plane counts, and
// the records do not depend on the number of threads; below the threshold roulette
// keeps a particle with probability w / Threshold.
TEST(PhaseSpace, RecordsMatchThePlaneOnAnyThreadCountAndRouletteKeepsTheExpectedShare) {
    testutil::TempDir dir;
    const std::string objects =
        kCone + Slab("Water", 20, 2) + PhaseSpacePlane("TotalOnly = true\n", "Filename = ./ps.bin\n");
    for (const char* threads : {"1", "2"}) {
        const std::string name = std::string("t") + threads + ".ini";
        std::string config = Config(Task(20000, 5), objects);
        config.replace(config.find("./ps.bin"), 8, std::string("./ps") + threads + ".bin");
        ASSERT_EQ(RunIn(dir, name, config, {"--threads", threads}).exitCode, 0);
    }
    // Particles of weight 0.1 against a threshold of 0.5.
    WriteFile(dir.File("tenth.txt"), "0 0 0 0 0 0 0 60 0.1\n");
    const testutil::RunResult r =
        RunIn(dir, "roulette.ini",
              Config(Task(5000, 2), Object("ObjectType = Source\nParticleList = tenth.txt\n") +
                                        PhaseSpacePlane("", "Filename = ./kept.bin\nThreshold = 0.5\n")));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Check(dir, {"sums @ps1.bin @out/t1.ini_Detector0_total 20000 1e-6", "same @ps1.bin @ps2.bin",
                            "roulette @kept.bin 5000 0.5 0.2"}));
}

// Run A records what leaves a water slab; run B replays it (another seed) through the
// same aluminium onto the same panel: B's images per particle times M / N_A are A's,
// and replaying each record once on two threads scores A's primary image exactly.
// The file rewritten big-endian, as doubles and as a text list replays alike.
TEST(PhaseSpace, ReplayReproducesTheRecordedRun) {
    testutil::TempDir dir;
    const long histories = 50000;
    const std::string behind = Slab("Aluminium", 25, 1) + kPanel;
    ASSERT_EQ(RunIn(dir, "A.ini",
                    Config(Task(histories, 7),
                           kCone + Slab("Water", 20, 2) +
                               PhaseSpacePlane("CosHalfCone = 0\n", "Filename = ./A.bin\n") + behind))
                  .exitCode,
              0);
    ASSERT_TRUE(Check(dir, {"convert @A.bin @be.bin be", "convert @A.bin @double.bin double",
                            "convert @A.bin @text.txt text"}));
    // Float records follow the empty line that ends the header.
    const std::string file = testutil::ReadFile(dir.File("A.bin"));
    const long records = long(file.size() - (file.find("\n\n") + 2)) / 36;
    auto replay = [&](const std::string& name, const std::string& list, const std::string& single,
                      const std::vector<std::string>& options = {}) {
        const testutil::RunResult r =
            RunIn(dir, name,
                  Config(Task(records, 99), Object("ObjectType = Source\nParticleList = " + list +
                                                   "\nSingle = " + single + "\n") +
                                                behind),
                  options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r;
    };
    const testutil::RunResult b = replay("B.ini", "A.bin", "true", {"--threads", "2"});
    EXPECT_NE(b.out.find("ListSource: " + std::to_string(records) + " particles, weight "),
              std::string::npos);
    replay("BE.ini", "be.bin", "true");
    replay("D.ini", "double.bin", "false");
    replay("T.ini", "text.txt", "false");
    const std::string scale = std::to_string(double(records) / double(histories));
    EXPECT_TRUE(Check(dir, {"images @out/A.ini_Detector1 @out/B.ini_Detector0 " + scale + " 1e-6",
                            "identical @out/B.ini_Detector0 @out/BE.ini_Detector0",
                            "identical @out/D.ini_Detector0 @out/T.ini_Detector0",
                            "images @out/A.ini_Detector1 @out/D.ini_Detector0 " + scale}));
}

// The phase-space writer's file through a run's life: loading leaves it alone, a
// fresh run truncates it, a continued run keeps it, and a run restored from a saved
// state continues it from the length it had when the state was saved.

namespace {

constexpr std::size_t kHeader = 191; // magic, nine float column lines, empty line

struct Writer {
    explicit Writer(const std::string& file) {
        std::istringstream in("[Registrator]\nFilename = " + file + "\n[EndRegistrator]\n");
        ini.ReadFrom(in, "test");
        writer = std::make_unique<PhaseSpaceWriter<float>>(ini.FindSection("Registrator"), "");
    }
    void Record(int count) {
        TParticle p;
        p.Energy = 60;
        for (int i = 0; i < count; ++i)
            writer->RegisterParticle(p, 1.0);
        writer->EndOfRun();
    }
    inifiles::TIniFileStructure ini;
    std::unique_ptr<PhaseSpaceWriter<float>> writer;
};

std::size_t Size(const std::string& file) {
    return testutil::ReadFile(file).size();
}

} // namespace

TEST(PhaseSpaceWriter, FreshRunsTruncateContinuationsKeepAndRestoresCutBack) {
    testutil::TempDir dir;
    const std::string file = dir.File("ps.bin");
    std::string saved;
    {
        Writer w(file);
        w.writer->BeginRun(true);
        w.Record(3);
        std::ostringstream state;
        w.writer->InternalWrite(state);
        saved = state.str();
        w.Record(2);
        w.writer->BeginRun(false);
        w.Record(1);
    }
    EXPECT_EQ(saved, "PhaseSpace " + std::to_string(kHeader + 3 * 36) + " ");
    EXPECT_EQ(Size(file), kHeader + 6 * 36);
    {
        // Loading a scene again leaves the file; the restored run cuts it back.
        Writer w(file);
        EXPECT_EQ(Size(file), kHeader + 6 * 36);
        std::istringstream state(saved);
        w.writer->InternalRead(state, saved.size());
        w.writer->BeginRun(false);
        w.Record(1);
    }
    EXPECT_EQ(Size(file), kHeader + 4 * 36);
    {
        Writer w(file);
        w.writer->BeginRun(true);
    }
    EXPECT_EQ(Size(file), kHeader);
    // A saved length beyond the file is refused, not padded.
    Writer w(file);
    std::istringstream state(saved);
    w.writer->InternalRead(state, saved.size());
    EXPECT_THROW(w.writer->BeginRun(false), std::runtime_error);
}

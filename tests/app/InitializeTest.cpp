#include "common/TestUtil.h"
#include "datafiles/XRTCStream.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

using testutil::CountOf;
using testutil::ReadFile;
using testutil::RunTarvo;
using testutil::WriteFile;

namespace {

std::string Task(const std::string& keys) { return "[ApplicationTask]\n" + keys + "[EndApplicationTask]\n"; }

} // namespace

TEST(Initialize, ConfigurationLoadsWritesResultsAndWaits) {
    testutil::TempDir dir;
    WriteFile(dir.File("run.ini"), Task("NumberOfPhotons = 1000\nRandomSeed = 77\n"));
    const auto r = RunTarvo({"run.ini"}, "", 30.0, dir.Path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(r.out.find("Reading parameters...\n"), r.out.find("Reading parameters done.\n"));
    EXPECT_NE(r.out.find("Simulation Summary: \n  Max Number Of Tracers: 0\n  Number Of Particles: 1000\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("  Quasi Monte Carlo: false\n"), std::string::npos); // word booleans
    EXPECT_NE(r.out.find("\nReady.\n"), std::string::npos);
    // The results file sits in ResultDir (the file name without extension) under the full file name.
    const std::string results = ReadFile(dir.File("run/run.ini_results.txt"));
    EXPECT_NE(results.find("\nTarvo v2.0.7-0-g6a7a6ef 64bit OpenMP\nSimulation Summary: \n"), std::string::npos);
    EXPECT_NE(results.find("  Random Seed: 77\n"), std::string::npos);
    EXPECT_FALSE(testutil::FileExists(dir.File("run/run.ini_results.txt.tmp")));
}

// One run through many files: a failed one is reported naming key, value and file, and
// the next argument still runs.
TEST(Initialize, EachFileLoadsOrFailsOnItsOwn) {
    testutil::TempDir dir;
    const std::pair<const char*, const char*> bad[] = {
        {"NumberOfParticles = 0\n", "Can not read the number of particles!"},
        {"NumberOfParticles = 1.5\n", "NumberOfParticles as SizeType: 1.5"},
        {"NumberOfParticles = 10\nSingle = TRUE\n", "Single as bool: TRUE"},
        {"NumberOfParticles = 10\nImageType = tiff\n",
         "Unknown image type! while getting ImageType as ImageType: tiff"},
    };
    std::vector<std::string> args;
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        args.push_back("bad" + std::to_string(i) + ".ini");
        WriteFile(dir.File(args.back()), Task(bad[i].first));
    }
    args.push_back("/nonexistent/tarvo.ini");
    WriteFile(dir.File("good.ini"),
              Task("NumberOfParticles = 1e6\nResultDir = out/deeper\nPixelType = UINT16\n"));
    WriteFile(dir.File("plain.ini"), Task("NumberOfParticles = 4321\n"));
    datafiles::CompressFile(dir.File("plain.ini"), dir.File("packed.ini"));
    // A copy of the bundled example, so the results folder next to it is made in the temporary folder.
    WriteFile(dir.File("tarvo.ini"), ReadFile(std::string(TARVO_TEST_DATA) + "/../../examples/tarvo.ini"));
    args.insert(args.end(), {"good.ini", "packed.ini", "tarvo.ini"});
    const auto r = RunTarvo(args, "", 30.0, dir.Path());
    EXPECT_EQ(r.exitCode, 255);
    for (std::size_t i = 0; i < std::size(bad); ++i)
        EXPECT_NE(r.err.find(std::string(bad[i].second) + " while parsing bad" + std::to_string(i) + ".ini"),
                  std::string::npos)
            << r.err;
    EXPECT_NE(r.err.find("Can not open file for reading: /nonexistent/tarvo.ini"), std::string::npos);
    EXPECT_NE(r.out.find("  Number Of Particles: 1000000 (1e+06)\n"), std::string::npos);
    EXPECT_NE(r.out.find("  Pixel Type: UInt16\n"), std::string::npos);
    EXPECT_TRUE(testutil::FileExists(dir.File("out/deeper/good.ini_results.txt")));
    EXPECT_NE(r.out.find("  Number Of Particles: 4321\n"), std::string::npos);
    EXPECT_EQ(CountOf(r.out, "\nReady.\n"), 3);
}

TEST(Initialize, InitCommandLoadsAndAFailedOneKeepsTheLoadedConfiguration) {
    testutil::TempDir dir;
    WriteFile(dir.File("tarvo.ini"), Task("NumberOfParticles = 5000\n"));
    WriteFile(dir.File("broken.ini"), Task("NumberOfParticles = many\n"));
    const auto r = RunTarvo({}, "init\ninit broken.ini\nstart\n", 30.0, dir.Path());
    EXPECT_EQ(r.exitCode, 0); // console errors do not fail the program
    EXPECT_NE(r.err.find("File name not specified. Use tarvo.ini by default."), std::string::npos);
    EXPECT_NE(r.err.find("while parsing broken.ini"), std::string::npos);
    EXPECT_EQ(CountOf(r.out, "Reading parameters done."), 1);
    // Still initialized by the first file: Start now asks for the scene.
    EXPECT_NE(r.out.find("Can not start calculations. Scene is not initialized."), std::string::npos);
}

TEST(Initialize, ConfigurationFromStandardInput) {
    // "-" reads the configuration from standard input; it names itself "standard input" in errors.
    const auto r = RunTarvo({"--", "-"}, Task("NumberOfParticles = 0\n"));
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_NE(r.out.find("Reading parameters..."), std::string::npos);
    EXPECT_NE(r.err.find("Can not read the number of particles! while parsing -"), std::string::npos);
}

TEST(Initialize, ConfigurationFromStandardInputLoadsItsSceneAndStarts) {
    testutil::TempDir dir;
    const auto r = RunTarvo({"--", "-"}, Task("NumberOfParticles = 10\n") + "[Objects]\n[EndObjects]\n", 30.0,
                            dir.Path());
    // The scene has no sources: the run stops at its first emission, unattended with 255.
    EXPECT_EQ(r.exitCode, 255) << r.err;
    EXPECT_NE(r.err.find("No Sources!!!"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Loading scene..."), std::string::npos);
    EXPECT_NE(r.out.find("Starting calculations..."), std::string::npos);
    // The configuration is named "tarvo" when it comes from standard input.
    EXPECT_TRUE(testutil::FileExists(dir.File("tarvo/tarvo_results.txt")));
}

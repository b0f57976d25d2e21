#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TestUtil.h"

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

const std::string kData = std::string(TARVO_TEST_DATA) + "/../../data/materials";

std::string Script(const std::string& name) {
    return ReadFile(std::string(TARVO_TEST_DATA) + "/detectors/" + name);
}

// A configuration: task keys, extra top-level sections, and the objects.
std::string Config(const std::string& task, const std::string& sections, const std::string& objects) {
    return "[ApplicationTask]\nStartImmediately = true\nTimeStep = 0\n" + task +
           "[EndApplicationTask]\n[DataSources]\nMaterialsFileName = " + kData +
           "/materials.ini\n[EndDataSources]\n" + sections + "[Objects]\n" + objects + "[EndObjects]\n";
}

using testutil::Object;

std::string Box(const std::string& corner, const std::string& s1, const std::string& s2,
                const std::string& s3) {
    return "VertexA = " + corner + "\nSide1 = " + s1 + "\nSide2 = " + s2 + "\nSide3 = " + s3 + "\n";
}

const std::string kPencil = Object("ObjectType = Source\nEnergy = 60\nBaseCenter = (-0.5, 1, -5)\n");

testutil::RunResult Tarvo(const testutil::TempDir& dir, const std::vector<std::string>& files) {
    std::vector<std::string> args = {"--threads", "2"};
    args.insert(args.end(), files.begin(), files.end());
    return testutil::RunTarvo(args, "", 60.0, dir.Path());
}

} // namespace

TEST(TraceDetectors, VolumesAreLegacyVTKThatMeshioReads) {
    testutil::TempDir dir;
    const std::string box =
        Box("(-1.5, 0.25, 2)", "(3, 0, 0)", "(0, 1.5, 0)", "(0, 0, 4.8)") + "Dimensions = 2,3,4\n";
    const std::string objects =
        Object("ObjectType = Source\nEnergy = 60\nConeAngle = 0.3\nBaseCenter = (0, 1, -5)\n") +
        Object("ObjectType = Part\nMaterialName = Water\n" +
               Box("(-2, -1, 1)", "(4, 0, 0)", "(0, 4, 0)", "(0, 0, 6)")) +
        Object("ObjectType = MeshDetector\nInteractions = ComptonScattering, 6, photoeffect\n" + box) +
        Object("ObjectType = VolumetricDetector\nSingle = true\n" + box +
               "Origin = (1, 2, 0)\nRotateZ = 30\n") +
        Object("ObjectType = MeshDetector\nInteractions = ComptonScattering, 6, photoeffect\nMaxEnergy = 60\n"
               "EnergyBins = 10\nShared = false\n" +
               box);
    WriteFile(dir.File("grid.ini"), Config("NumberOfParticles = 3000\nRandomSeed = 2\n", "", objects));
    const auto r = Tarvo(dir, {"grid.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("  Number of Trace Detectors: 3\n"), std::string::npos);
    EXPECT_NE(r.out.find("   Type: FlexMeshDetector\n   Shared: 1\n   Data Type: 32bit floating point\n"
                         "   Register: Count Uncertainty EnergyLoss (1 bins)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  Trace Detector: 2\n   Number Of Particles: "), std::string::npos) << r.out;
    const auto check = testutil::RunPython(Script("check_volumes.py"), {"grid", dir.File("grid/grid.ini")});
    EXPECT_EQ(check.out, "ok\n") << check.err;
}

TEST(TraceDetectors, PencilBeamDepthProfileFollowsTheAttenuation) {
    // Photo effect only and no fluorescence: every photon is absorbed where it first
    // interacts, so each depth cell counts the photons that stop there.
    testutil::TempDir dir;
    const std::string slab = Box("(-2, -1.5, 0)", "(4, 0, 0)", "(0, 3, 0)", "(0, 0, 10)");
    const std::string physics =
        "[Physics]\n[InteractionsModel]\n[Interaction]\nInteractionType = PhotoEffect\n"
        "[EndInteraction]\n[EndInteractionsModel]\n[EndPhysics]\n";
    const std::string objects =
        kPencil +
        Object("ObjectType = MeshDetectorPart\nMaterialName = Aluminium\nDimensions = 1,1,5\n" + slab) +
        Object("ObjectType = MeshDetector\nDimensions = 4,3,5\nAverageInteractions = true\nAverageEnergy = "
               "true\n" +
               slab);
    WriteFile(dir.File("pencil.ini"),
              Config("NumberOfParticles = 20000\nRandomSeed = 4\n", physics, objects));
    const auto r = Tarvo(dir, {"pencil.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto check =
        testutil::RunPython(Script("check_volumes.py"), {"pencil", dir.File("pencil/pencil.ini"), "20000",
                                                         kData + "/Aluminium_ACRP.txt", "60"});
    EXPECT_EQ(check.out, "ok\n") << check.err;
}

TEST(TraceDetectors, EnergyLostInsideAndLeavingThroughTheWallsIsTheEmittedEnergy) {
    // Water around the beam, six planes around everything: what the volume does not
    // keep leaves through exactly one plane. Every detected flight starts inside the
    // planes, so a contribution detector over that space sums the planes' counts.
    testutil::TempDir dir;
    std::string planes;
    const char* const faces[] = {"BaseCenter = (0, 0, -10)\nSide1 = (20, 0, 0)\nSide2 = (0, 20, 0)\n",
                                 "BaseCenter = (0, 0, 10)\nSide1 = (20, 0, 0)\nSide2 = (0, 20, 0)\n",
                                 "BaseCenter = (-10, 0, 0)\nSide1 = (0, 20, 0)\nSide2 = (0, 0, 20)\n",
                                 "BaseCenter = (10, 0, 0)\nSide1 = (0, 20, 0)\nSide2 = (0, 0, 20)\n",
                                 "BaseCenter = (0, -10, 0)\nSide1 = (20, 0, 0)\nSide2 = (0, 0, 20)\n",
                                 "BaseCenter = (0, 10, 0)\nSide1 = (20, 0, 0)\nSide2 = (0, 0, 20)\n"};
    for (const char* face : faces)
        planes += Object(std::string("ObjectType = PlaneDetector\nTotalOnly = true\n") + face);
    const std::string water = Box("(-4, -4, 0)", "(8, 0, 0)", "(0, 8, 0)", "(0, 0, 6)");
    const std::string objects = kPencil + planes +
                                Object("ObjectType = Part\nMaterialName = Water\n" + water) +
                                Object("ObjectType = MeshDetector\nDimensions = 4,4,3\nDetectElectrons = true\n" + water) +
                                Object("ObjectType = ContributionDetector\nDimensions = 2,2,2\n" +
                                       Box("(-9, -9, -9)", "(18, 0, 0)", "(0, 18, 0)", "(0, 0, 18)"));
    std::vector<std::string> files, prefixes;
    for (int seed = 0; seed < 9; ++seed) {
        const std::string name = "run" + std::to_string(seed);
        const std::string task = "NumberOfParticles = " + std::string(seed == 0 ? "20000" : "3000") +
                                 "\nRandomSeed = " + std::to_string(seed + 11) +
                                 "\nBatchSize = 100\nPixelType = double\n";
        // The analog run also walks its photoelectrons: their deposits must reach the volume.
        const std::string physics = seed == 0 ? "[Physics]\nUsePhotonSplitting = false\nElectronTransport = true\n"
                                                "[EndPhysics]\n[MaterialProperties]\nFluorescenceElectronProbability = 1\n"
                                                "[EndMaterialProperties]\n"
                                              : "";
        WriteFile(dir.File(name + ".ini"), Config(task, physics, objects));
        files.push_back(name + ".ini");
        prefixes.push_back(dir.File(name + "/" + name + ".ini"));
    }
    const auto r = Tarvo(dir, files);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> args = {"energy", "0", "60"};
    args.insert(args.end(), prefixes.begin(), prefixes.end());
    const auto check = testutil::RunPython(Script("check_volumes.py"), args);
    EXPECT_EQ(check.out, "ok\n") << check.err;
    // Sums do not depend on the number of threads: the batches are committed in order.
    WriteFile(dir.File("alone.ini"), ReadFile(dir.File("run1.ini")));
    ASSERT_EQ(testutil::RunTarvo({"--threads", "1", "alone.ini"}, "", 60.0, dir.Path()).exitCode, 0);
    for (const char* quantity : {"_count.vtk", "_energy.vtk", "_error.vtk"})
        EXPECT_TRUE(ReadFile(dir.File("alone/alone.ini_TraceDetector0") + quantity) ==
                    ReadFile(dir.File("run1/run1.ini_TraceDetector0") + quantity))
            << quantity;
}

TEST(TraceDetectors, FilteredDumpsAreTheFilterAppliedToTheFullDump) {
    testutil::TempDir dir;
    const std::string all = "DetectElectrons = true\nDetectPositrons = true\n";
    const std::vector<std::string> dumps = {
        all + "Filename = all.bin\n",
        "MaxInteraction = 0\nFilename = f1.bin\n",
        "DetectInteraction = false\nFilename = f2.bin\n",
        "MinEnergy = 40\nFilename = f3.bin\n",
        "MinObjectID = 0\nMaxObjectID = 0\nFilename = f4.bin\n",
        "DetectCoherent = false\nFilename = f5.bin\n",
        "",
        all + "Single = true\nFilename = all_float.bin\n",
        all + "Binary = false\nFilename = all.txt\n",
    };
    std::string objects =
        Object("ObjectType = Part\nMaterialName = Water\n" +
               Box("(-3, -3, 0)", "(6, 0, 0)", "(0, 6, 0)", "(0, 0, 3)")) +
        Object("ObjectType = PlaneDetector\nBaseCenter = (0, 0, 8)\nSide1 = (10, 0, 0)\n"
               "Side2 = (0, 10, 0)\n") +
        Object("ObjectType = Source\nEnergy = 60\nConeAngle = 0.15\nBaseCenter = (0, 0, -5)\n");
    for (const std::string& keys : dumps)
        objects += Object("ObjectType = TraceDump\n" + keys);
    WriteFile(dir.File("dump.ini"), Config("NumberOfParticles = 1500\nRandomSeed = 8\nBatchSize = 100\n",
                                           "[Physics]\nElectronTransport = true\n[EndPhysics]\n", objects));
    const auto r = Tarvo(dir, {"dump.ini"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto check = testutil::RunPython(Script("check_traces.py"), {dir.File("dump/dump.ini"), "1500"});
    EXPECT_EQ(check.out, "ok\n") << check.err;
}

TEST(TraceDetectors, ErrorsNameTheKeyOrTheFile) {
    testutil::TempDir dir;
    WriteFile(dir.File("text.bin"), "# ID\tSubID\n");
    const std::string box = Box("(0, 0, 0)", "(1, 0, 0)", "(0, 1, 0)", "(0, 0, 1)");
    const std::pair<std::string, std::string> cases[] = {
        {"ObjectType = MeshDetector\nDimensions = 2,0,4\n" + box,
         "FlexMeshDetector: Dimensions must be three numbers of at least 1 (nx,ny,nz): 2,0,4"},
        {"ObjectType = MeshDetector\n" + Box("(0, 0, 0)", "(1, 0, 0)", "(0, 1, 0)", "(2, 3, 0)"),
         "FlexMeshDetector: The box (Side1, Side2, Side3) is flat"},
        {"ObjectType = MeshDetector\nInteractions = PhotoEffect, Photosynthesis\n" + box,
         "MeshDetector: Unknown interaction in Interactions: Photosynthesis"},
        {"ObjectType = ContributionDetector\nEnergyBins = 4\n" + box,
         "FlexMeshDetector: EnergyBins above 1 need a finite MaxEnergy"},
        {"ObjectType = TraceDump\nFilename = " + dir.File("missing/t.bin") + "\n",
         "TraceDump: Couldn't open " + dir.File("missing/t.bin")},
        {"ObjectType = TraceDump\nAppend = true\nFilename = " + dir.File("text.bin") + "\n",
         "TraceDump: Couldn't append to " + dir.File("text.bin")},
        {"ObjectType = TraceDump\nFilename = " + dir.File("t.bin") + "\n[EndObject]\n[Object]\n" +
             "ObjectType = TraceDump\nFilename = " + dir.File("t.bin") + "\n",
         "TraceDump: " + dir.File("t.bin") + " is both the file of a trace dump and the file of a trace dump"},
    };
    for (const auto& [keys, message] : cases) {
        WriteFile(dir.File("bad.ini"), Config("NumberOfParticles = 10\n", "", kPencil + Object(keys)));
        const auto r = Tarvo(dir, {"bad.ini"});
        EXPECT_EQ(r.exitCode, 255) << message << "\n" << r.out;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

TEST(TraceDetectors, AppendContinuesADumpAndWritesTheHeaderOnce) {
    testutil::TempDir dir;
    const std::string objects =
        kPencil + Object("ObjectType = TraceDump\nBinary = false\nAppend = true\nFilename = " +
                         dir.File("a.txt") + "\n");
    for (const char* name : {"first.ini", "second.ini"})
        WriteFile(dir.File(name), Config("NumberOfParticles = 10\n", "", objects));
    ASSERT_EQ(Tarvo(dir, {"first.ini", "second.ini"}).exitCode, 0);
    const std::string dump = ReadFile(dir.File("a.txt"));
    EXPECT_EQ(testutil::CountOf(dump, "#"), 1) << dump;
    // History 0's primary is created once per run.
    EXPECT_EQ(testutil::CountOf(dump, "\n0\t0\t0\t1001\t"), 2) << dump;
}

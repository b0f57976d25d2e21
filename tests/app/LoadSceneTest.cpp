#include "common/TestUtil.h"

#include <gtest/gtest.h>

#include <string>

using testutil::ReadFile;
using testutil::RunTarvo;
using testutil::WriteFile;

namespace {

using testutil::kMaterials;

std::string Task() { return "[ApplicationTask]\nNumberOfParticles = 1000\nRandomSeed = 5\n[EndApplicationTask]\n"; }

std::string Sources(const std::string& keys) { return "[DataSources]\n" + keys + "[EndDataSources]\n"; }

std::string Cube(const std::string& name, const std::string& material, const std::string& corner) {
    return "[Object]\nObjectType = Part\nName = " + name + "\nMaterialName = " + material + "\nVertexA = " + corner +
           "\nSide1 = (2, 0, 0)\nSide2 = (0, 2, 0)\nSide3 = (0, 0, 2)\n[EndObject]\n";
}

std::string Objects(const std::string& parts) { return "[Objects]\n" + parts + "[EndObjects]\n"; }

// True when every needle occurs in `text`, in the given order.
::testing::AssertionResult InOrder(const std::string& text, std::initializer_list<const char*> needles) {
    std::size_t at = 0;
    for (const char* needle : needles) {
        const std::size_t found = text.find(needle, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing, or out of order: '" << needle << "' in\n" << text;
        at = found + std::string(needle).size();
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(LoadScene, ConfigurationWithObjectsLoadsPartsMaterialsAndHierarchy) {
    testutil::TempDir dir;
    WriteFile(dir.File("scene.ini"), Task() + Sources("MaterialsFileName = " + kMaterials + "\n") +
                                         Objects(Cube("Block", "Water", "(0, 0, 0)") +
                                                 Cube("Plate", "Lead", "(3, 0, 0)")) +
                                         "[VoxelSet]\nOrigin = (0, 0, 0)\nXSize = 6\nYSize = 2\nZSize = 2\n"
                                         "DimX = 6\nDimY = 2\nDimZ = 2\n[EndVoxelSet]\n");
    const auto r = RunTarvo({"scene.ini"}, "", 60.0, dir.Path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(InOrder(r.out, {"Reading parameters done.\n", "Loading scene...\n", "Loading geometry...\n",
                                "Geometry loaded in ", "Error. No sources found.\n",
                                "Warning. No detectors found.\n", "Loading materials data...\n",
                                "Water: ", "Lead: ", "Materials data loaded in ", "Scene loaded in ",
                                "Preparing geometry manager...\n", "Geometry manager prepared in ",
                                "BVH: max depth 500, max leaf count 5, SAH bins 42\n", "Scene Summary:\n",
                                "  Number of Parts: 2\n", "Parts Summary:\n", "  Part 0\n", "   Name: Block\n",
                                "   Material Name: Water\n", "   Number Of Vertices: 8\n",
                                "   Number Of Facets: 12\n", "   Bounding Box: ( +0, +0, +0 )-( +2, +2, +2 ) cm\n",
                                "  Part 1\n", "   Bounding Box: ( +3, +0, +0 )-( +5, +2, +2 ) cm\n",
                                "Materials Summary:\n", "  Material Name: Water\n", "   Density: 1 [g/cm^3]\n",
                                "  Material Name: Lead\n", "   Density: 11.35 [g/cm^3]\n",
                                "Simulation Summary: \n", "Ready.\n"}));
    EXPECT_TRUE(InOrder(r.out, {"Geometry manager prepared in ", "Voxel set materials:\n   0: none\n   1: Water\n"
                                                                 "   2: Lead\n"}));
    const std::string results = ReadFile(dir.File("scene/scene.ini_results.txt"));
    EXPECT_TRUE(InOrder(results, {"Scene Summary:\n", "Materials Summary:\n", "Simulation Summary: \n"}));
    // The voxel set through a real reader: one point per voxel centre, x fastest.
    const auto check =
        testutil::RunPython("import meshio, sys\n"
                            "m = meshio.read(sys.argv[1])\n"
                            "print(m.points[0].tolist(), m.point_data['Material'].ravel().tolist())\n",
                            {dir.File("scene/scene.ini_VoxelSet.vtk")});
    EXPECT_EQ(check.out,
              "[0.5, 0.5, 0.5] [1, 1, 0, 2, 2, 0, 1, 1, 0, 2, 2, 0, 1, 1, 0, 2, 2, 0, 1, 1, 0, 2, 2, 0]\n")
        << check.err;
}

// Three configurations in one run: a scene and materials from their own files relative
// to the configuration, an open part repaired, and an unknown material that fails.
TEST(LoadScene, SceneFilesRepairsAndMaterialErrors) {
    testutil::TempDir dir;
    WriteFile(dir.File("parts.ini"), Objects(Cube("Block", "Aluminium", "(0, 0, 0)")));
    WriteFile(dir.File("run.ini"),
              Task() + Sources("SceneFileName = parts.ini\nMaterialsFileName = " + kMaterials + "\n"));
    // A tetrahedron with one facet missing cannot enclose a material: the loader closes it.
    WriteFile(dir.File("open.ini"),
              Task() + Sources("MaterialsFileName = " + kMaterials + "\n") +
                  Objects("[Object]\nObjectType = Part\nMaterialName = Water\n"
                          "Vertex = (0, 0, 0)\nVertex = (1, 0, 0)\nVertex = (0, 1, 0)\nVertex = (0, 0, 1)\n"
                          "Facet = 0 2 1\nFacet = 0 1 3\nFacet = 0 3 2\n[EndObject]\n"));
    WriteFile(dir.File("unknown.ini"), Task() + Sources("MaterialsFileName = " + kMaterials + "\n") +
                                           Objects(Cube("Block", "Unobtainium", "(0, 0, 0)")));
    const auto r = RunTarvo({"run.ini", "open.ini", "unknown.ini"}, "", 60.0, dir.Path());
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_TRUE(InOrder(r.out, {"   Material Name: Aluminium\n", "   Density: 2.699 [g/cm^3]\n", "Ready.\n",
                                // the whole repair report on one stream, in order
                                "Object 0: 3 facets, 6 edges, 4 vertices\n",
                                "Not a closed surface! 3 boundary edges!\nAttempting to fix.\n",
                                "Added 1 facets.\n", "   Number Of Facets: 4\n", "Ready.\n"}));
    EXPECT_NE(r.err.find("Unobtainium"), std::string::npos);
    EXPECT_NE(r.err.find("Error loading materials data while loading " + kMaterials), std::string::npos);
}

TEST(LoadScene, ConsoleCommandLoadsASceneFileForTheLoadedConfiguration) {
    testutil::TempDir dir;
    WriteFile(dir.File("run.ini"), Task() + Sources("MaterialsFileName = " + kMaterials + "\n"));
    WriteFile(dir.File("parts.ini"), Objects(Cube("Block", "Copper", "(1, 1, 1)")));
    WriteFile(dir.File("bad.ini"), Objects("[Object]\nObjectType = Part\nName = Lid\nPriority = x\n[EndObject]\n"));
    const auto r = RunTarvo({}, "loadscene parts.ini\ninit run.ini\nloadscene bad.ini\nloadscene parts.ini\nstart\n",
                            60.0, dir.Path());
    // The scene has no sources, so the run it starts ends with that error.
    EXPECT_EQ(r.exitCode, 255) << r.err;
    EXPECT_NE(r.err.find("No Sources!!!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Can not load scene. Application is not initialized."), std::string::npos);
    EXPECT_NE(r.err.find("Object Lid: TPart: Problem getting Priority as int32: x while loading bad.ini\n"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(InOrder(r.out, {"Ready.\n", "Loading scene...\n", "Scene loaded in ", "Starting calculations..."}));
    EXPECT_EQ(r.out.find("Can not start calculations. Scene is not initialized."), std::string::npos);
}


#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "TestMeshes.h"
#include "app/ObjectTypes.h"
#include "common/TestUtil.h"
#include "geometry/Scene.h"
#include "geometry/SceneLoader.h"
#include "inifiles/IniFile.h"
#include "interactions/Part.h"
#include "materials/MaterialsList.h"
#include "materials/TestErrors.h"

using namespace geometry;

namespace {

struct Messages {
    std::string text;
    bool errors = false;
    MessageSink Sink() {
        return [this](const std::string& t, bool isError) {
            text += t;
            errors = errors || isError;
        };
    }
};

// A cube of side 2 with its lowest corner at `corner`.
std::string Cube(const std::string& corner, const std::string& extra = "") {
    return "[Object]\nObjectType = Part\nVertexA = " + corner +
           "\nSide1 = (2, 0, 0)\nSide2 = (0, 2, 0)\nSide3 = (0, 0, 2)\n" + extra + "[EndObject]\n";
}

std::unique_ptr<inifiles::TIniFileStructure> Parse(const std::string& text, const std::string& basePath = "") {
    auto ini = std::make_unique<inifiles::TIniFileStructure>();
    if (!basePath.empty()) ini->SetBasePath(basePath);
    std::istringstream in(text);
    ini->ReadFrom(in, "test");
    return ini;
}

TPart& PartAt(const IScene& scene, std::size_t index) { return AsPart(scene.GetPart(index)); }

struct Loaded {
    Messages messages;
    std::shared_ptr<BVHManager<double>> manager;
    std::unique_ptr<TScene<double>> scene;
};

std::unique_ptr<Loaded> Load(const std::string& objects, const std::string& basePath = "",
                             materials::TMaterialsList* list = nullptr, bool writesFiles = true) {
    RegisterSceneObjectTypes();
    auto l = std::make_unique<Loaded>();
    l->manager = std::make_shared<BVHManager<double>>(42, 5, 64, l->messages.Sink());
    l->scene = std::make_unique<TScene<double>>(l->manager, l->messages.Sink());
    l->scene->Materials = list;
    l->scene->WritesFiles = writesFiles;
    const auto ini = Parse("[Objects]\n" + objects + "[EndObjects]\n", basePath);
    EXPECT_TRUE(l->scene->ReadScene(*ini));
    l->manager->Prepare();
    return l;
}

std::string LoadError(const std::string& objects) {
    return ErrorOf([&] { Load(objects); });
}

std::string Summary(const IScene& scene) {
    std::ostringstream os;
    scene.PrintSummary(os);
    return os.str();
}

} // namespace

TEST(Scene, EmptyObjectsSection) {
    const auto l = Load("");
    EXPECT_EQ(l->scene->ObjectCount(), 0u);
    EXPECT_EQ(l->scene->TraceableCount(), 0u);
    const std::string summary = Summary(*l->scene);
    EXPECT_NE(summary.find("Scene Summary:\n"
                           "  Number of Parts: 0\n"
                           "  Number of Sources: 0\n"
                           "  Number of Detectors: 0\n"
                           "  Number of Trace Detectors: 0\n"
                           "  Check Intersection Overlap: 1\n"
                           "  Use Local Intersection Manager: 0\n"),
              std::string::npos);
    EXPECT_EQ(summary.find("Sources Summary:"), std::string::npos);
    EXPECT_EQ(summary.find("Parts Summary:"), std::string::npos);
    EXPECT_FALSE(l->scene->ComputeSegments(testmesh::RayTowards({0, 0, -5}, {0, 0, 0})));
}

TEST(Scene, PartsTakeTheirIndexAsObjectIDAndPrintTheirSummary) {
    const auto l = Load("CheckOverlap = false\nLocalManager = true\n" +
                        Cube("(-1, -1, -1)", "Name = first\nMaterialName = Water\nPriority = 3\n") +
                        "[Object]\nObjectType = part\nMaterialName = void\nVertexA = (4, 0, 0)\nSide1 = (1, 0, 0)\n"
                        "Side2 = (0, 1, 0)\nSide3 = (0, 0, 1)\nPyramidal = true\n[EndObject]\n");
    ASSERT_EQ(l->scene->PartCount(), 2u);
    EXPECT_EQ(&l->scene->GetTraceable(1), &PartAt(*l->scene, 1));
    const std::string summary = Summary(*l->scene);
    EXPECT_NE(summary.find("  Check Intersection Overlap: 0\n  Use Local Intersection Manager: 1\n"),
              std::string::npos);
    EXPECT_NE(summary.find("Parts Summary:\n"
                           "  Part 0\n"
                           "   Name: first\n"
                           "   Object ID: 0\n"
                           "   Priority: 3\n"
                           "   Material Name: Water\n"
                           "   Electron Tracing: 0\n"
                           "   Number Of Vertices: 8\n"
                           "   Number Of Facets: 12\n"
                           "   Bounding Box: ( -1, -1, -1 )-( +1, +1, +1 ) cm\n"
                           "  Part 1\n"
                           "   Object ID: 1\n"
                           "   Priority: 0\n"
                           "   Material Name: void\n"
                           "   Electron Tracing: 0\n"
                           "   Number Of Vertices: 5\n"
                           "   Number Of Facets: 6\n"
                           "   Bounding Box: ( +4, +0, +0 )-( +5, +1, +1 ) cm\n"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("BVH: ( -1, -1, -1 )-( +5, +1, +1 )\n"), std::string::npos);
}

TEST(Scene, AttractorIsNotSupportedButTheRestLoads) {
    const auto l = Load("[Attractor]\n[EndAttractor]\n[Other]\n[EndOther]\n" + Cube("(0, 0, 0)"));
    EXPECT_NE(l->messages.text.find("Attractors not supported\n"), std::string::npos);
    EXPECT_EQ(l->scene->PartCount(), 1u);
}

TEST(Scene, ObjectTypesOutsideTheFactoryAreRejected) {
    EXPECT_EQ(LoadError("[Object]\nObjectType = Lens\n[EndObject]\n"),
              "Object section 1: Unknown object type: Lens");
    EXPECT_EQ(LoadError("[Object]\nObjectType = gridplanedetector\n[EndObject]\n"),
              "Object section 1: Object type not supported by this version: gridplanedetector");
}

TEST(Scene, PartErrorsNameTheObjectAndTheClass) {
    const std::string error = LoadError("[Object]\nObjectType = Part\nOFFFile = missing.off\n[EndObject]\n");
    EXPECT_EQ(error.rfind("Object section 1: TPart: ", 0), 0u) << error;
    EXPECT_EQ(LoadError(Cube("(0, 0, 0)") + Cube("(5, 0, 0)", "Name = Lid\nPriority = high\n"))
                  .rfind("Object Lid: TPart: Problem getting Priority", 0),
              0u);
}

TEST(Scene, ElectronSwitchesOfParts) {
    auto read = [](const std::string& keys, bool runDefault) {
        TPart part;
        const auto ini = Parse(testutil::Object(keys));
        part.ReadMaterialKeys(ini->Section(0), runDefault);
        return part;
    };
    EXPECT_TRUE(read("MaterialName = Water\n", true).HasElectronTransport());
    EXPECT_FALSE(read("MaterialName = Water\n", false).HasElectronTransport());
    const TPart emitting = read("MaterialName = Water\nElectronEmission = true\nElectronTransport = false\n", false);
    EXPECT_TRUE(emitting.HasElectronTransport());
    std::ostringstream os;
    emitting.PrintSummary(os);
    EXPECT_NE(os.str().find("   Electron Emission: 1\n"), std::string::npos);
    const TPart unnamed = read("ElectronTransport = true\nElectronEmission = true\n", true);
    EXPECT_FALSE(unnamed.HasElectronTransport());
    EXPECT_FALSE(unnamed.IsVoid());
    EXPECT_EQ(unnamed.GetMaterialIndex(), TPart::NoMaterialIndex);
    const TPart empty = read("MaterialName = VOID\n", false);
    EXPECT_TRUE(empty.IsVoid());
    EXPECT_EQ(empty.GetMaterialIndex(), TPart::VoidMaterialIndex);
}

TEST(Scene, PartsAreBoundToTheirMaterials) {
    materials::MaterialProperties properties;
    materials::TMaterialsList list(&properties);
    const auto l = Load(Cube("(0, 0, 0)", "MaterialName = Lead\n") + Cube("(3, 0, 0)", "MaterialName = Void\n") +
                            Cube("(6, 0, 0)", "MaterialName = Water\nElectronTransport = true\n") +
                            Cube("(9, 0, 0)", "MaterialName = Lead\n") + Cube("(12, 0, 0)"),
                        "", &list);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(PartAt(*l->scene, 0).GetMaterial(), &list.Material(0));
    EXPECT_EQ(PartAt(*l->scene, 3).GetMaterial(), &list.Material(0));
    EXPECT_EQ(PartAt(*l->scene, 2).GetMaterial(), &list.Material(1));
    EXPECT_EQ(PartAt(*l->scene, 2).GetMaterialIndex(), 1);
    EXPECT_EQ(PartAt(*l->scene, 1).GetMaterial(), nullptr);
    EXPECT_EQ(PartAt(*l->scene, 1).GetMaterialIndex(), TPart::VoidMaterialIndex);
    EXPECT_EQ(PartAt(*l->scene, 4).GetMaterialIndex(), TPart::NoMaterialIndex);
    EXPECT_FALSE(list.Material(0).Properties.UsedWithElectronTransport);
    EXPECT_TRUE(list.Material(1).Properties.UsedWithElectronTransport);
    const auto copy = l->scene->Clone();
    EXPECT_EQ(PartAt(*copy, 2).GetMaterial(), &list.Material(1));
    EXPECT_EQ(list.Count(), 2u);
}

TEST(Scene, OpenPartIsReportedClosedAndDumpedRepairedUnlessCheckClosedIsOff) {
    const std::string open = "[Object]\nObjectType = Part\nVertex = (0, 0, 0)\nVertex = (1, 0, 0)\n"
                             "Vertex = (0, 1, 0)\nVertex = (0, 0, 1)\nFacet = 0, 2, 1\nFacet = 0, 1, 3\n"
                             "Facet = 0, 3, 2\n";
    testutil::TempDir dir;
    const auto checked = Load(open + "DumpOFF = part.off\n[EndObject]\n", dir.Path());
    EXPECT_NE(checked->messages.text.find("Not a closed surface!"), std::string::npos);
    EXPECT_FALSE(checked->messages.errors); // one report, one stream
    EXPECT_EQ(checked->manager->GetFacets().size(), 4u);
    EXPECT_EQ(testutil::ReadFile(dir.File("part.off")).rfind("OFF\n4 4 0\n", 0), 0u);
    const auto unchecked = Load(open + "CheckClosed = false\n[EndObject]\n");
    EXPECT_EQ(unchecked->messages.text, "");
    EXPECT_EQ(unchecked->manager->GetFacets().size(), 3u);
}

TEST(Scene, MeshDumpsAreWrittenBesideTheSceneFile) {
    testutil::TempDir dir;
    const auto l = Load(Cube("(0, 0, 0)", "CheckClosed = false\nDumpOFF = part.off\nDumpStL = part.stl\n"
                                         "BinaryStL = true\nDumpPLY = part.ply\n"),
                        dir.Path());
    const std::string off = testutil::ReadFile(dir.File("part.off"));
    EXPECT_EQ(off.rfind("OFF\n8 12 0\n", 0), 0u);
    const std::string stl = testutil::ReadFile(dir.File("part.stl"));
    EXPECT_EQ(stl.size(), 84u + 12u * 50u);
    EXPECT_EQ(stl.substr(0, 6), std::string("Part0\0", 6));
    EXPECT_EQ(testutil::ReadFile(dir.File("part.ply")).rfind("ply\n", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.File("part.off.tmp")));
    // A cluster worker loads the same scene but leaves the files to the first process.
    testutil::TempDir workerDir;
    Load(Cube("(0, 0, 0)", "DumpOFF = part.off\n"), workerDir.Path(), nullptr, false);
    EXPECT_FALSE(std::filesystem::exists(workerDir.File("part.off")));
    EXPECT_NE(LoadError(Cube("(0, 0, 0)", "DumpOFF = /nonexistent/dir/part.off\n")).find("Error writing mesh dump"),
              std::string::npos);
}

TEST(Scene, SegmentsFollowPrioritiesFromTheSceneFileUntilCleared) {
    const auto l = Load(Cube("(-1, -1, -1)", "Priority = 1\n") + Cube("(-1, -1, 0)", "Priority = 2\n"));
    ASSERT_TRUE(l->scene->ComputeSegments(testmesh::RayTowards({0.1, 0.2, -5}, {0.1, 0.2, 0})));
    const auto& s = l->scene->GetSegments();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].Object, &PartAt(*l->scene, 0));
    EXPECT_NEAR(s[0].From, 4, 1e-12);
    EXPECT_NEAR(s[0].To, 5, 1e-12);
    EXPECT_EQ(s[1].Object, &PartAt(*l->scene, 1));
    EXPECT_NEAR(s[1].To, 7, 1e-12);
    // Clear empties the objects and the hierarchy.
    l->scene->Clear();
    EXPECT_EQ(l->scene->ObjectCount(), 0u);
    EXPECT_EQ(l->scene->PartCount(), 0u);
    EXPECT_TRUE(l->manager->GetFacets().empty());
    EXPECT_TRUE(l->manager->IsEmpty());
}

TEST(Scene, ClonesShareTheHierarchyButNotObjectsOrWarnings) {
    const auto l = Load(Cube("(-1, -1, -1)") + Cube("(-1, -1, 0)"));
    const auto ray = testmesh::RayTowards({0.1, 0.2, -5}, {0.1, 0.2, 0});
    EXPECT_THROW(l->scene->ComputeSegments(ray), std::runtime_error);
    EXPECT_FALSE(l->scene->IsOverlapWarningArmed());
    const std::unique_ptr<IScene> copy = l->scene->Clone();
    EXPECT_TRUE(copy->IsOverlapWarningArmed());
    EXPECT_EQ(&copy->GetIntersectionManager(), &l->scene->GetIntersectionManager());
    ASSERT_EQ(copy->PartCount(), 2u);
    EXPECT_NE(&PartAt(*copy, 1), &PartAt(*l->scene, 1));
    EXPECT_EQ(PartAt(*copy, 1).ObjectID, 1u);
    EXPECT_EQ(PartAt(*copy, 1).Scene, copy.get());
    EXPECT_TRUE(copy->GetSegments().empty());
    EXPECT_THROW(copy->ComputeSegments(ray), std::runtime_error);
    EXPECT_TRUE(copy->ComputeSegments(ray));
    EXPECT_EQ(copy->GetSegments()[0].Object, &PartAt(*copy, 0));
    EXPECT_TRUE(l->scene->ComputeSegments(ray));
}

TEST(SceneLoader, ReadsASceneFileAndCopiesItsObjectsWithTheirBasePath) {
    testutil::TempDir dir;
    // A unit cube as OFF quads, found beside the scene file.
    testutil::WriteFile(dir.File("cube.off"), "OFF\n8 6 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n0 0 1\n1 0 1\n1 1 1\n"
                                              "0 1 1\n4 0 3 2 1\n4 4 5 6 7\n4 0 1 5 4\n4 1 2 6 5\n4 2 3 7 6\n"
                                              "4 3 0 4 7\n");
    testutil::WriteFile(dir.File("scene.ini"), "[Objects]\n" + Cube("(0, 0, 0)") +
                                                   "[Object]\nObjectType = Part\nOFFFile = cube.off\n"
                                                   "Translation = (5, 0, 0)\n[EndObject]\n[EndObjects]\n");
    const auto configuration = Parse("[ApplicationTask]\n[EndApplicationTask]\n[Objects]\nCheckOverlap = false\n"
                                     "[EndObjects]\n");
    Messages messages;
    SceneSettings settings;
    settings.Single = true;
    settings.SceneFileName = dir.File("scene.ini");
    RegisterSceneObjectTypes();
    const LoadedScene loaded = LoadSceneGeometry(*configuration, settings, messages.Sink());
    EXPECT_NE(dynamic_cast<BVHManager<float>*>(loaded.Manager.get()), nullptr);
    EXPECT_EQ(&loaded.Scene->GetIntersectionManager(), loaded.Manager.get());
    EXPECT_TRUE(loaded.Scene->CheckOverlap);
    EXPECT_EQ(loaded.Scene->PartCount(), 2u);
    EXPECT_EQ(messages.text.rfind("Loading geometry...\nObject 0: 12 facets, 18 edges, 8 vertices\n"
                                  "Object 1: 12 facets, 18 edges, 8 vertices\nGeometry loaded in ",
                                  0),
              0u)
        << messages.text;
    EXPECT_NE(messages.text.find("s\nError. No sources found.\nWarning. No detectors found.\n"), std::string::npos);
    const inifiles::TIniFileSection& objects = configuration->FindSection("Objects");
    EXPECT_FALSE(objects.HasVariable("CheckOverlap"));
    EXPECT_EQ(objects.SubsectionCount(), 2u);
    EXPECT_EQ(objects.FindVariable("BasePath").GetValue(), dir.Path());

    messages.text.clear();
    EXPECT_TRUE(loaded.Manager->IsEmpty());
    PrepareGeometryManager(*loaded.Scene, messages.Sink());
    EXPECT_FALSE(loaded.Manager->IsEmpty());
    EXPECT_EQ(messages.text.rfind("Preparing geometry manager...\nGeometry manager prepared in ", 0), 0u);
    const std::string summary = Summary(*loaded.Scene);
    EXPECT_NE(summary.find("BVH: max depth 500, max leaf count 5, SAH bins 42\n"), std::string::npos);
    EXPECT_NE(summary.find("BVH: ( +0, +0, +0 )-( +6, +2, +2 )\n"), std::string::npos);
    EXPECT_NE(summary.find("  Part 1\n   Object ID: 1\n   Priority: 0\n   Electron Tracing: 0\n"
                           "   Number Of Vertices: 8\n   Number Of Facets: 12\n"
                           "   Bounding Box: ( +5, +0, +0 )-( +6, +1, +1 ) cm\n"),
              std::string::npos)
        << summary;
    EXPECT_EQ(summary.find("Not a closed surface"), std::string::npos);
    EXPECT_TRUE(loaded.Scene->ComputeSegments(testmesh::RayTowards({5.5, 0.5, -3}, {5.5, 0.5, 0})));
    EXPECT_NEAR(loaded.Scene->GetSegments()[0].From, 3, 1e-6);
    EXPECT_NEAR(loaded.Scene->GetSegments()[0].To, 4, 1e-6);
}

TEST(SceneLoader, ReadsTheObjectsOfTheConfigurationInDoublePrecision) {
    const auto configuration = Parse("[Objects]\n" + Cube("(0, 0, 0)") + "[EndObjects]\n");
    Messages messages;
    SceneSettings settings;
    settings.ElectronTransport = true;
    RegisterSceneObjectTypes();
    const LoadedScene loaded = LoadSceneGeometry(*configuration, settings, messages.Sink());
    EXPECT_NE(dynamic_cast<BVHManager<double>*>(loaded.Manager.get()), nullptr);
    EXPECT_EQ(loaded.Scene->PartCount(), 1u);
    EXPECT_FALSE(configuration->FindSection("Objects").HasVariable("BasePath"));
}

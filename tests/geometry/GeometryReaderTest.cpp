#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "TestMeshes.h"
#include "common/TestUtil.h"
#include "geometry/ClosedSurface.h"
#include "geometry/GeometryReader.h"
#include "inifiles/IniFile.h"
#include "materials/TestErrors.h"

using namespace geometry;

namespace {

struct Scene {
    inifiles::TIniFileStructure tree;
    FacetManager<double> store{[this](const std::string& t, bool) { messages += t; }};
    std::string messages;

    Scene(const std::string& text, const std::string& basePath = std::string()) {
        tree.SetBasePath(basePath);
        std::istringstream in(text);
        tree.Read(in);
        ReadGeometry(tree.Section(0), TAffineTransform(), 7, store, false);
    }
    TCoord<double> V(GeometryIndex i) const { return store.GetVertices()[i]; }
    double Volume() const { return testmesh::Volume(store); }
};

std::string ErrorOf(const std::string& text, const std::string& basePath = std::string()) {
    return ::ErrorOf([&] { Scene s(text, basePath); });
}

const char* const Tetra = "OFF\n4 4 0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n3 0 2 1\n3 0 1 3\n3 1 2 3\n3 2 0 3\n";

} // namespace

TEST(ReadGeometry, InlineQuadrilateralIsCutFromTheLastPair) {
    Scene s("[Part]\nVertex = (0, 0, 0)\nVertex = (1, 0, 0)\nVertex = (1, 1, 0)\nVertex = (0, 1, 0)\n"
            "Facet = 0, 1, 2, 3\n[EndPart]\n");
    ASSERT_EQ(s.store.GetFacets().size(), 2u);
    const Facet a = s.store.GetFacets()[0], b = s.store.GetFacets()[1];
    EXPECT_EQ(std::make_tuple(a.V0, a.V1, a.V2), std::make_tuple(0u, 2u, 3u));
    EXPECT_EQ(std::make_tuple(b.V0, b.V1, b.V2), std::make_tuple(0u, 1u, 2u));
    EXPECT_EQ(a.ObjectID, 7u);
}

TEST(ReadGeometry, InlineFacetSectionsAndInversion) {
    Scene s("[Part]\nInvert = true\n[Facet]\nVertex1 = (0, 0, 0)\nVertex2 = (1, 0, 0)\nVertex3 = (0, 1, 0)\n[EndFacet]\n"
            "Vertex = (5, 5, 5)\nVertex = (6, 5, 5)\nVertex = (5, 6, 5)\nFacet = 0;1;2\n[EndPart]\n");
    ASSERT_EQ(s.store.GetFacets().size(), 2u);
    for (const Facet& f : s.store.GetFacets())
        EXPECT_LT(Cross(s.V(f.V1) - s.V(f.V0), s.V(f.V2) - s.V(f.V0)).z, 0) << "inverted facets face -z";
    EXPECT_EQ(s.V(0).y, 1.0);  // inverted: the third vertex is added first
}

TEST(ReadGeometry, InlineErrors) {
    EXPECT_EQ(ErrorOf("[Part]\nVertex = (0, 0, 0)\nFacet = 0, 1, 2\n[EndPart]\n"),
              "Invalid vertex index in Facet: 0, 1, 2");
    EXPECT_EQ(ErrorOf("[Part]\nVertex = (0, 0, 0)\nFacet = 0, x, 2\n[EndPart]\n"),
              "Problem getting Facet as list of indices: 0, x, 2");
    EXPECT_EQ(ErrorOf("[Part]\nVertex = (0, 0)\nVertex = (1, 0)\nFacet = 0, 1\n[EndPart]\n"),
              "A Facet needs at least three vertices: 0, 1");
}

TEST(ReadGeometry, NestedInversionCancelsAndPlacementsCompose) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("tetra.off"), Tetra);
    Scene s("[Part]\nInvert = true\nTranslation = (10, 0, 0)\n"
            "[Geometry]\nInvert = true\nRotateZ = 90\nOFFFile = tetra.off\n[EndGeometry]\n"
            "[Geometry]\nOFFFile = tetra.off\n[EndGeometry]\n[EndPart]\n",
            dir.Path());
    ASSERT_EQ(s.store.GetFacets().size(), 8u);
    // The first copy keeps its file orientation, the second is inverted.
    double first = 0, second = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const Facet& f = s.store.GetFacets()[i];
        (i < 4 ? first : second) += Dot(s.V(f.V0), Cross(s.V(f.V1), s.V(f.V2))) / 6;
    }
    EXPECT_NEAR(first, 1.0 / 6, 1e-12);
    EXPECT_NEAR(second, -1.0 / 6, 1e-12);
    // Rotated about z by 90 degrees before the outer translation: (1, 0, 0) -> (10, -1, 0).
    const auto box = s.store.GetObjectBounds(7);
    EXPECT_NEAR(box.Min.y, -1, 1e-12);
    EXPECT_NEAR(box.Min.x, 10, 1e-12);
    EXPECT_NEAR(box.Max.x, 11, 1e-12);
}

TEST(ReadGeometry, MeshFileTakesPrecedenceAndRelativePathsUseTheBasePath) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("tetra.off"), Tetra);
    testutil::WriteFile(dir.File("tetra.tri"), "0 0 0 1 0 0 0 1 0\n");
    Scene s("[Part]\nTRIFile = tetra.tri\nOFFFile = tetra.off\nVertex = (0, 0, 0)\nFacet = 0, 0, 0\n[EndPart]\n",
            dir.Path());
    EXPECT_EQ(s.store.GetFacets().size(), 4u);
    EXPECT_EQ(ErrorOf("[Part]\nOFFFile = missing.off\n[EndPart]\n", dir.Path()),
              "Not an OFF file: " + dir.File("missing.off"));
}

TEST(ReadGeometry, MirroringPlacementKeepsFacetsOutward) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("tetra.off"), Tetra);
    Scene s("[Part]\nScale = (-2, 1, 1)\nOFFFile = tetra.off\n[EndPart]\n", dir.Path());
    EXPECT_NEAR(s.Volume(), 2.0 / 6, 1e-12);
}

TEST(ReadGeometry, VertexAndFacetTablesWithObjectFilter) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("v.txt"), "0 0 0\n1 0 0\n0 1 0\n0 0 1\n");
    testutil::WriteFile(dir.File("f.txt"), "1 1 3 2\n2 1 2 4\n1 1 2 4\n");
    Scene a("[Part]\nVertexFile = v.txt\nFacetFile = f.txt\n[EndPart]\n", dir.Path());
    EXPECT_EQ(a.store.GetFacets().size(), 2u);
    Scene b("[Part]\nVertexFile = v.txt\nFacetFile = f.txt\nObjectID = 2\n[EndPart]\n", dir.Path());
    EXPECT_EQ(b.store.GetFacets().size(), 1u);
    EXPECT_EQ(b.store.GetFacets()[0].ObjectID, 7u);
}

TEST(ReadGeometry, PrimitivesFromKeys) {
    Scene box("[Part]\nVertexA = (0, 0, 0)\nVertexB = (2, 0, 0)\nVertexC = (0, 3, 0)\nVertexD = (0, 0, 4)\n[EndPart]\n");
    EXPECT_NEAR(box.Volume(), 24, 1e-12);
    Scene centred("[Part]\nBaseCenter = (1, 1, 0)\nSide1 = (2, 0, 0)\nSide2 = (0, 2, 0)\nSide3 = (0, 0, -3)\n"
                  "Pyramidal = true\n[EndPart]\n");
    EXPECT_NEAR(centred.Volume(), 4.0, 1e-12);
    EXPECT_EQ(centred.store.GetObjectBounds(7).Min.x, 0.0);
    EXPECT_EQ(centred.store.GetObjectBounds(7).Min.z, -3.0);
    Scene cone("[Part]\nElliptical = true\nPyramidal = true\nSteps = 6\nSide1 = (2, 0, 0)\nSide2 = (0, 2, 0)\n"
               "Side3 = (0, 0, 2)\n[EndPart]\n");
    EXPECT_EQ(cone.store.GetFacets().size(), 12u);
    EXPECT_NEAR(cone.Volume(), 2 * 3 * std::sqrt(3.0) / 2 / 3, 1e-12);
    Scene ellipsoid("[Part]\nEllipsoid = true\nSide1 = (2, 0, 0)\nSide2 = (0, 2, 0)\nSide3 = (0, 0, 2)\n"
                    "BaseCenter = (0, 0, 5)\n[EndPart]\n");
    const auto r = CheckClosed(ellipsoid.store, 7, ellipsoid.store.GetFacets());
    EXPECT_EQ(r.BoundaryEdges, 0u);
    EXPECT_EQ(ellipsoid.store.GetObjectBounds(7).Max.z, 6.0);
    EXPECT_EQ(ErrorOf("[Part]\nEllipsoid = true\nSteps = 2\nSide1 = (2, 0, 0)\nSide2 = (0, 2, 0)\nSide3 = (0, 0, 2)\n"
                      "[EndPart]\n"),
              "Steps has to be at least 3");
    EXPECT_EQ(ErrorOf("[Part]\nBaseCenter = (0, 0)\nSide1 = (2, 0, 0)\nSide2 = (0, 2, 0)\n[EndPart]\n"),
              "Can't find variable VertexD");
}

TEST(ReadGeometry, NestedGeometryReplacesThePrimitive) {
    Scene s("[Part]\nSide1 = (1, 0, 0)\n[Geometry]\nVertex = (0, 0, 0)\nVertex = (1, 0, 0)\nVertex = (0, 1, 0)\n"
            "Facet = 0, 1, 2\n[EndGeometry]\n[EndPart]\n");
    EXPECT_EQ(s.store.GetFacets().size(), 1u);
}

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "TestMeshes.h"
#include "common/TestUtil.h"
#include "geometry/ClosedSurface.h"
#include "geometry/GeometryReader.h"
#include "geometry/Primitives.h"
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

using namespace geometry;

namespace {

const double Pi = 4 * std::atan(1.0);

// Checks closure with no boundary edge and returns the signed volume.
double ClosedVolume(FacetManager<double>& m) {
    std::string messages;
    m.SetMessageSink([&](const std::string& t, bool) { messages += t; });
    const auto report = CheckClosed(m, 1, m.GetObjectFacets(1));
    EXPECT_EQ(report.BoundaryEdges, 0u) << messages;
    EXPECT_EQ(report.Edges * 2, report.Facets * 3) << messages;
    EXPECT_EQ(report.Vertices + report.Facets, report.Edges + 2) << "Euler characteristic";
    return testmesh::Volume(m);
}

// Half-axes that are neither orthogonal nor equal, in both handednesses.
const TCoord<double> H1(2, 0.3, 0), H2(-0.2, 1.5, 0.1), H3(0.1, 0.2, 0.8), C(1, -2, 3);

} // namespace

TEST(Primitives, ParallelepipedAndPyramidAreClosedAndOutward) {
    for (bool mirrored : {false, true}) {
        const TCoord<double> s3 = mirrored ? -H3 : H3;
        const double volume = std::fabs(Dot(Cross(H1, H2), s3));
        FacetManager<double> box, pyramid;
        MeshBuilder<double> b(box, {}, 1, false), p(pyramid, {}, 1, false);
        AddParallelepiped(b, C, H1, H2, s3, false);
        AddParallelepiped(p, C, H1, H2, s3, true);
        EXPECT_EQ(box.GetFacets().size(), 12u);
        EXPECT_NEAR(ClosedVolume(box), volume, 1e-12);
        EXPECT_EQ(pyramid.GetFacets().size(), 6u);
        EXPECT_NEAR(ClosedVolume(pyramid), volume / 3, 1e-12);
    }
}

TEST(Primitives, CurvedPrimitivesAreClosedOutwardAndNearTheirVolume) {
    const double det = std::fabs(Dot(Cross(H1, H2), H3));
    for (int steps : {3, 4, 7, 20, 64}) {
        SCOPED_TRACE(steps);
        for (bool mirrored : {false, true}) {
            const TCoord<double> h3 = mirrored ? -H3 : H3;
            FacetManager<double> prism, cone, ellipsoid;
            MeshBuilder<double> a(prism, {}, 1, false), b(cone, {}, 1, false), c(ellipsoid, {}, 1, false);
            AddEllipticalPrism(a, C, H1, H2, h3, steps, false);
            AddEllipticalPrism(b, C, H1, H2, h3, steps, true);
            AddEllipsoid(c, C, H1, H2, h3, steps);
            // An inscribed n-gon covers n/(2 pi) sin(2 pi/n) of its ellipse.
            const double polygon = steps / (2 * Pi) * std::sin(2 * Pi / steps);
            const double cylinder = Pi * det * 2;
            EXPECT_NEAR(ClosedVolume(prism), cylinder * polygon, 1e-9);
            EXPECT_NEAR(ClosedVolume(cone), cylinder / 3 * polygon, 1e-9);
            const double sphere = 4 * Pi / 3 * det;
            const double v = ClosedVolume(ellipsoid);
            EXPECT_GT(v, 0);
            EXPECT_LT(v, sphere);
            // Inscribed: the error falls with the square of the step count (about 9/steps^2).
            EXPECT_LT((sphere - v) / sphere, 10.0 / (steps * steps));
        }
    }
}

TEST(Primitives, TooFewStepsAreRejected) {
    FacetManager<double> m;
    MeshBuilder<double> b(m, {}, 1, false);
    EXPECT_EQ(ErrorOf([&] { AddEllipsoid(b, C, H1, H2, H3, 2); }), "Steps has to be at least 3");
    EXPECT_THROW(AddEllipticalPrism(b, C, H1, H2, H3, 2, true), std::runtime_error);
}

TEST(ClosedSurface, TetrahedronReport) {
    std::string messages;
    FacetManager<float> m([&](const std::string& t, bool) { messages += t; });
    MeshBuilder<float> b(m, {}, 3, false);
    const auto p0 = b.AddVertex(0, 0, 0), p1 = b.AddVertex(1, 0, 0), p2 = b.AddVertex(0, 1, 0),
               p3 = b.AddVertex(0, 0, 1);
    b.AddTriangle(p0, p2, p1);
    b.AddTriangle(p0, p1, p3);
    b.AddTriangle(p1, p2, p3);
    b.AddTriangle(p2, p0, p3);
    const auto r = CheckClosed(m, 3, m.GetObjectFacets(3));
    EXPECT_EQ(messages, "Object 3: 4 facets, 6 edges, 4 vertices\n");
    EXPECT_EQ(r.BoundaryEdges, 0u);
    EXPECT_EQ(r.AddedFacets, 0u);
}

TEST(ClosedSurface, CubeWithOneTriangleMissingIsRepaired) {
    std::string messages;
    FacetManager<double> m([&](const std::string& t, bool) { messages += t; });
    MeshBuilder<double> b(m, {}, 2, false);
    AddParallelepiped(b, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, false);
    std::vector<Facet> facets = m.GetObjectFacets(2);
    const Facet removed = facets[5];
    facets.erase(facets.begin() + 5);
    FacetManager<double> part(m.GetMessageSink());
    for (const auto& v : m.GetVertices()) part.AddVertex(v);
    for (const Facet& f : facets) part.AddFacet(f);
    const auto r = CheckClosed(part, 2, part.GetObjectFacets(2));
    EXPECT_EQ(r.BoundaryEdges, 3u);
    EXPECT_EQ(r.AddedFacets, 1u);
    EXPECT_EQ(r.RemainingBoundaryEdges, 0u);
    EXPECT_EQ(part.GetFacets().size(), 12u);
    const Facet added = part.GetFacets().back();
    // The same triangle with the same orientation, possibly starting at another corner.
    const GeometryIndex want[3] = {removed.V0, removed.V1, removed.V2};
    const int start = static_cast<int>(std::find(want, want + 3, added.V0) - want);
    ASSERT_LT(start, 3);
    EXPECT_EQ(added.V1, want[(start + 1) % 3]);
    EXPECT_EQ(added.V2, want[(start + 2) % 3]);
    EXPECT_NE(messages.find("Object 2: 11 facets, 18 edges, 8 vertices\n"), std::string::npos);
    EXPECT_NE(messages.find(" belongs to 1 facet\n"), std::string::npos);
    EXPECT_NE(messages.find("Not a closed surface! 3 boundary edges!\nAttempting to fix.\nAdded 1 facets.\n"),
              std::string::npos);
    EXPECT_NE(messages.find("0 boundary edges.\n"), std::string::npos);
}

TEST(ClosedSurface, CubeWithAFaceMissingAndTwoHolesAreRepaired) {
    FacetManager<double> m([](const std::string&, bool) {});
    MeshBuilder<double> b(m, {}, 1, false);
    AddParallelepiped(b, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, false);
    AddParallelepiped(b, {5, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 2}, false);
    std::vector<Facet> facets = m.GetFacets();
    // Remove the whole bottom of the first cube and the top of the second.
    facets.erase(facets.begin() + 14, facets.begin() + 16);
    facets.erase(facets.begin(), facets.begin() + 2);
    FacetManager<double> part(m.GetMessageSink());
    for (const auto& v : m.GetVertices()) part.AddVertex(v);
    for (const Facet& f : facets) part.AddFacet(f);
    const auto r = CheckClosed(part, 1, part.GetFacets());
    EXPECT_EQ(r.BoundaryEdges, 8u);
    EXPECT_EQ(r.AddedFacets, 4u);
    EXPECT_EQ(r.RemainingBoundaryEdges, 0u);
    EXPECT_NEAR(testmesh::Volume(part), 3.0, 1e-12);
}

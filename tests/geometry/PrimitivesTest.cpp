#include <gtest/gtest.h>

#include <cmath>

#include "TestMeshes.h"
#include "geometry/ClosedSurface.h"
#include "geometry/Primitives.h"
#include "materials/TestErrors.h"

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

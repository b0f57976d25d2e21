#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "TestMeshes.h"
#include "geometry/AffineTransform.h"
#include "geometry/FacetManager.h"

using namespace geometry;

namespace {

Ray MakeRay(const TCoord<double>& origin, const TCoord<double>& direction) {
    return testmesh::RayTowards(origin, origin + direction);
}

// Two triangles sharing the edge (1,0,0)-(0,1,0), both facing +z.
FacetManager<double> Square() {
    FacetManager<double> m;
    const auto a = m.AddVertex({0, 0, 0}), b = m.AddVertex({1, 0, 0}), c = m.AddVertex({0, 1, 0}),
               d = m.AddVertex({1, 1, 0});
    m.AddFacet(1, a, b, c);
    m.AddFacet(2, b, d, c);
    return m;
}

// Independent formulation: plane intersection followed by barycentric coordinates
// from areas, in long double.
bool Reference(const TCoord<double>& o, const TCoord<double>& d, const TCoord<double> v[3], double& t) {
    using L = long double;
    const L e1[3] = {L(v[1].x) - v[0].x, L(v[1].y) - v[0].y, L(v[1].z) - v[0].z};
    const L e2[3] = {L(v[2].x) - v[0].x, L(v[2].y) - v[0].y, L(v[2].z) - v[0].z};
    const L n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    const L dn = n[0] * d.x + n[1] * d.y + n[2] * d.z;
    if (dn == 0) return false;
    const L w[3] = {L(v[0].x) - o.x, L(v[0].y) - o.y, L(v[0].z) - o.z};
    const L tt = (n[0] * w[0] + n[1] * w[1] + n[2] * w[2]) / dn;
    if (tt < 0) return false;
    const L p[3] = {o.x + tt * d.x - v[0].x, o.y + tt * d.y - v[0].y, o.z + tt * d.z - v[0].z};
    // p = a*e1 + b*e2, solved with the normal's largest component dropped.
    int k = 0;
    for (int i = 1; i < 3; ++i)
        if (std::fabs(static_cast<double>(n[i])) > std::fabs(static_cast<double>(n[k]))) k = i;
    const int i0 = (k + 1) % 3, i1 = (k + 2) % 3;
    const L det = e1[i0] * e2[i1] - e1[i1] * e2[i0];
    const L a = (p[i0] * e2[i1] - p[i1] * e2[i0]) / det;
    const L b = (e1[i0] * p[i1] - e1[i1] * p[i0]) / det;
    t = static_cast<double>(tt);
    return a >= 0 && b >= 0 && a + b <= 1;
}

} // namespace

// Rays against two triangles sharing an edge: a hit on the shared edge counts for
// both facets, a hit on a vertex as well; a ray starting on a facet hits it at
// distance 0, one starting in front and leaving does not, nor does a parallel one.
TEST(RayTriangle, EdgesVerticesStartsAndParallelRays) {
    const struct {
        const char* name;
        TCoord<double> origin, direction;
        std::vector<std::tuple<double, std::uint32_t, bool>> hits; // distance, object, entering
    } cases[] = {
        {"shared edge", {0.5, 0.5, 1}, {0, 0, -1}, {{1.0, 1, true}, {1.0, 2, true}}},
        {"vertex, leaving", {1, 0, -2}, {0, 0, 1}, {{2.0, 1, false}, {2.0, 2, false}}},
        {"start on facet", {0.25, 0.25, 0}, {0.3, 0.1, 1}, {{0.0, 1, false}}},
        {"behind the start", {0.25, 0.25, 0.1}, {0, 0, 1}, {}},
        {"parallel in plane", {-1, 0.25, 0}, {1, 0, 0}, {}},
        {"parallel above", {-1, 0.25, 1e-3}, {1, 0, 0}, {}},
    };
    const auto m = Square();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Hit> hits;
        m.Intersect(MakeRay(c.origin, c.direction), hits);
        ASSERT_EQ(hits.size(), c.hits.size());
        for (std::size_t i = 0; i < hits.size(); ++i) {
            EXPECT_DOUBLE_EQ(hits[i].Distance, std::get<0>(c.hits[i]));
            EXPECT_EQ(hits[i].ObjectID, std::get<1>(c.hits[i]));
            EXPECT_EQ(hits[i].Entering, std::get<2>(c.hits[i]));
        }
    }
}

TEST(RayTriangle, TinyFacetDecidedByNormalisedTest) {
    FacetManager<double> m;
    const double s = 1e-8;  // raw determinant s*s = 1e-16 is below the threshold
    const auto a = m.AddVertex({5, 5, 0}), b = m.AddVertex({5 + s, 5, 0}), c = m.AddVertex({5, 5 + s, 0});
    m.AddFacet(7, a, c, b);  // faces -z, and index order differs from corner order
    std::vector<Hit> hits;
    m.Intersect(MakeRay({5 + s / 4, 5 + s / 4, 3}, {0, 0, -1}), hits);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_NEAR(hits[0].Distance, 3.0, 1e-12);
    EXPECT_FALSE(hits[0].Entering);
    hits.clear();
    m.Intersect(MakeRay({5 + s, 5 + s, 3}, {0, 0, -1}), hits);
    EXPECT_TRUE(hits.empty());
}

TEST(RayTriangle, AgreesWithIndependentRoutineOnRandomRays) {
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<TCoord<double>> verts(3);
    int hitsSeen = 0, disagreements = 0;
    for (int i = 0; i < 100000; ++i) {
        TCoord<double> v[3];
        for (auto& p : v) p = {u(rng), u(rng), u(rng)};
        for (int k = 0; k < 3; ++k) verts[k] = v[k];
        // Aim most rays near the triangle so both outcomes are frequent.
        const TCoord<double> o(2 * u(rng), 2 * u(rng), 2 * u(rng));
        const TCoord<double> target = (v[0] + v[1] + v[2]) * (1.0 / 3) + TCoord<double>(u(rng), u(rng), u(rng)) * 0.7;
        const Ray ray = MakeRay(o, target - o);
        const TCoord<double> d = DirectionVector(ray.Direction);
        const Facet f{0, GeometryIndex(1 + (i & 1)), GeometryIndex(2 - (i & 1)), 3};
        const TCoord<double> corners[3] = {v[0], v[f.V1], v[f.V2]};
        Hit hit;
        const bool ours = IntersectRayTriangle(o, d, verts.data(), f, hit);
        double t = 0;
        const bool ref = Reference(o, d, corners, t);
        if (ours != ref) {
            ++disagreements;  // only allowed within rounding of an edge
            continue;
        }
        if (!ours) continue;
        ++hitsSeen;
        ASSERT_NEAR(hit.Distance, t, 1e-9 * (1 + t));
        const TCoord<double> n = Cross(corners[1] - corners[0], corners[2] - corners[0]);
        ASSERT_EQ(hit.Entering, Dot(d, n) < 0);
        ASSERT_EQ(hit.ObjectID, 3u);
    }
    EXPECT_GT(hitsSeen, 15000);
    EXPECT_LE(disagreements, 5);
}

TEST(AffineTransform, RayFramesAreInverseAndAlignZWithDirection) {
    const TSphericalAngle dir(0.7, -2.1);
    const TCoord<double> p(1, 2, 3);
    const auto l2w = TAffineTransform::LocalToWorld(p, dir);
    const auto w2l = TAffineTransform::WorldToLocal(p, dir);
    const auto z = l2w.Apply({0, 0, 2});
    const auto d = DirectionVector(dir, 2);
    EXPECT_NEAR(z.x, p.x + d.x, 1e-12);
    EXPECT_NEAR(z.y, p.y + d.y, 1e-12);
    EXPECT_NEAR(z.z, p.z + d.z, 1e-12);
    const auto back = (w2l * l2w).Apply({0.3, -4, 5});
    EXPECT_NEAR(back.x, 0.3, 1e-12);
    EXPECT_NEAR(back.y, -4, 1e-12);
    EXPECT_NEAR(back.z, 5, 1e-12);
}

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestMeshes.h"
#include "geometry/BVHManager.h"
#include "geometry/IntersectionList.h"
#include "geometry/SceneObjects.h"
#include "materials/TestErrors.h"

using namespace geometry;
using testmesh::RayTowards;

namespace {

// Boxes and shells of unit-spaced objects, traced along +z from z = -5 unless told otherwise.
class World : public testmesh::ObjectSet {
public:
    // A new object that is one axis-aligned box.
    void AddPart(std::int32_t priority, double z0, double z1, double half = 1) {
        AddSlab(AddObject(priority), z0, z1, half);
    }
    // Axis-aligned box from z0 to z1 spanning [-half, half] in x and y.
    void AddSlab(std::uint32_t id, double z0, double z1, double half = 1) {
        testmesh::AddBox(Store, id, TCoord<double>(0, 0, 0.5 * (z0 + z1)), TCoord<double>(half, half, 0.5 * (z1 - z0)));
    }
    // Facets as given, but with their orientation reversed.
    void AddInvertedSlab(std::uint32_t id, double z0, double z1, double half) {
        FacetManager<double> box;
        testmesh::AddBox(box, id, TCoord<double>(0, 0, 0.5 * (z0 + z1)), TCoord<double>(half, half, 0.5 * (z1 - z0)));
        for (const Facet& f : box.GetFacets())
            Store.AddFacet(id, Store.AddVertex(box.GetVertices()[f.V0]), Store.AddVertex(box.GetVertices()[f.V2]),
                           Store.AddVertex(box.GetVertices()[f.V1]));
    }
    void Build() {
        Tree = std::make_unique<BVHManager<double>>(0, 1, 64);
        testmesh::CopyStore(Store, *Tree);
        Tree->Prepare();
    }
    bool Trace(const Ray& ray, bool checkOverlap = true) {
        List.Clear();
        Tree->Intersect(ray, List.GetHits());
        return List.BuildSegments(Objects, checkOverlap);
    }
    bool TraceZ(double x = 0.1, double y = 0.2, double z = -5, bool checkOverlap = true) {
        return Trace(RayTowards({x, y, z}, {x, y, z + 1}), checkOverlap);
    }
    // (object, from, to) with distances rounded to 1e-9.
    std::vector<std::tuple<std::uint32_t, double, double>> Result() const {
        std::vector<std::tuple<std::uint32_t, double, double>> out;
        for (const Segment& s : List.GetSegments())
            out.emplace_back(s.Object->ObjectID, std::round(s.From * 1e9) / 1e9, std::round(s.To * 1e9) / 1e9);
        return out;
    }

    FacetManager<double> Store;
    std::unique_ptr<BVHManager<double>> Tree;
    IntersectionList List;
};

using Result = std::vector<std::tuple<std::uint32_t, double, double>>;

std::string ErrorOf(World& w, double x, double y) {
    return ::ErrorOf([&] { w.TraceZ(x, y); });
}

} // namespace

// One part per slab unless a slab names an existing object; traced along +z.
struct SlabSpec {
    std::uint32_t Object;
    std::int32_t Priority;
    double Z0, Z1, Half = 1;
    bool Inverted = false;
};

struct SegmentCase {
    const char* Name;
    std::vector<SlabSpec> Slabs;
    TCoord<double> Start;
    Result Expected;
};

TEST(IntersectionList, SegmentsOfPartsShellsAndOverlaps) {
    const SegmentCase cases[] = {
        {"convex part from outside", {{0, 0, -1, 1}}, {0.1, 0.2, -5}, {{0, 4, 6}}},
        {"ray starting inside", {{0, 0, -1, 1}}, {0.1, 0.2, 0.25}, {{0, 0, 0.75}}},
        {"miss", {{0, 0, -1, 1}}, {3, 3, -5}, {}},
        {"concave part",
         {{0, 0, -3, -2}, {0, 0, 1, 2}, {0, 0, 3, 3.5}},
         {0.1, 0.2, -5},
         {{0, 2, 3}, {0, 6, 7}, {0, 8, 8.5}}},
        {"hollow shell", {{0, 0, -2, 2, 2}, {0, 0, -1, 1, 1, true}}, {0.1, 0.2, -5}, {{0, 3, 4}, {0, 6, 7}}},
        {"higher priority inside",
         {{0, 1, -2, 2, 2}, {1, 2, -1, 1}},
         {0.1, 0.2, -5},
         {{0, 3, 4}, {1, 4, 6}, {0, 6, 7}}},
        {"higher priority outside", {{0, 3, -2, 2, 2}, {1, 2, -1, 1}}, {0.1, 0.2, -5}, {{0, 3, 7}}},
        {"partial overlap", {{0, 1, -1, 1}, {1, 2, 0, 2}}, {0.1, 0.2, -5}, {{0, 4, 5}, {1, 5, 7}}},
    };
    for (const SegmentCase& c : cases) {
        SCOPED_TRACE(c.Name);
        World w;
        for (const SlabSpec& slab : c.Slabs) {
            if (slab.Object == w.Objects.size())
                w.AddObject(slab.Priority);
            if (slab.Inverted)
                w.AddInvertedSlab(slab.Object, slab.Z0, slab.Z1, slab.Half);
            else
                w.AddSlab(slab.Object, slab.Z0, slab.Z1, slab.Half);
        }
        w.Build();
        EXPECT_EQ(w.TraceZ(c.Start.x, c.Start.y, c.Start.z), !c.Expected.empty());
        EXPECT_EQ(w.Result(), c.Expected);
    }
}

TEST(IntersectionList, SharedEdgeHitsMergeIntoOneCrossing) {
    World w;
    w.AddPart(0, -1, 1);
    w.Build();
    // The face diagonals run through (0.5, 0.5); this ray meets two facets on each face.
    w.List.Clear();
    w.Tree->Intersect(RayTowards({0.5, 0.5, -5}, {0.5, 0.5, 0}), w.List.GetHits());
    ASSERT_EQ(w.List.GetHits().size(), 4u);
    EXPECT_TRUE(w.List.BuildSegments(w.Objects, true));
    EXPECT_EQ(w.Result(), (Result{{0, 4, 6}}));
}

TEST(IntersectionList, MissingFacetIsAnOpenSurface) {
    World w;
    w.AddPart(0, -3, -2);
    w.AddObject(0);
    FacetManager<double> box;
    testmesh::AddBox(box, 1, TCoord<double>(0, 0, 0), TCoord<double>(1, 1, 1));
    const auto& f = box.GetFacets();
    // Facet 10 is the half x > y of the top face (z = 1): the ray enters and never leaves.
    for (std::size_t i = 0; i < f.size(); ++i)
        if (i != 10)
            w.Store.AddFacet(1, w.Store.AddVertex(box.GetVertices()[f[i].V0]),
                             w.Store.AddVertex(box.GetVertices()[f[i].V1]),
                             w.Store.AddVertex(box.GetVertices()[f[i].V2]));
    w.Build();
    EXPECT_EQ(ErrorOf(w, 0.6, 0.1), "Wrong number of intersections for object ID 1");
    EXPECT_EQ(ErrorOf(w, 0.1, 0.6), "no error");
}

TEST(IntersectionList, InsideOutPartIsMisordered) {
    World w;
    w.AddObject(0);
    w.AddInvertedSlab(0, -1, 1, 1);
    w.Build();
    EXPECT_EQ(ErrorOf(w, 0.1, 0.2), "Wrong order of intersections for object ID 0");
}

TEST(IntersectionList, EqualPriorityIsAmbiguousOncePerList) {
    World w;
    w.AddPart(0, -1, 1);
    w.AddPart(0, 0, 2);
    w.Build();
    EXPECT_EQ(ErrorOf(w, 0.1, 0.2), "Partially overlapping objects yield ambiguous intersections");
    EXPECT_FALSE(w.List.IsOverlapWarningArmed());
    EXPECT_TRUE(w.TraceZ(0.2, 0.1));
    EXPECT_EQ(w.Result(), (Result{{0, 4, 6}, {1, 6, 7}}));
}

TEST(IntersectionList, WithoutOverlapCheckSegmentsStayAsTheyAre) {
    World w;
    w.AddPart(0, 0, 2);
    w.AddPart(0, -1, 1);
    w.Build();
    EXPECT_TRUE(w.TraceZ(0.1, 0.2, -5, false));
    EXPECT_EQ(w.Result(), (Result{{1, 4, 6}, {0, 5, 7}}));
    EXPECT_TRUE(w.List.IsOverlapWarningArmed());
}

TEST(IntersectionList, ResolveOverlapsLeavesDisjointSegmentsAlone) {
    testmesh::TestObject a, b;
    a.Priority = 5;
    std::vector<Segment> segments{{&b, 3, 4}, {&a, 0, 1}}, scratch;
    EXPECT_FALSE(IntersectionList::ResolveOverlaps(segments, scratch));
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].Object, &a);
    EXPECT_EQ(segments[1].Object, &b);
}

TEST(IntersectionList, SteadyStateReusesItsArrays) {
    World w;
    w.AddPart(1, -2, 2, 2);
    w.AddPart(2, -1, 1);
    w.Build();
    for (int i = 0; i < 50; ++i) w.TraceZ(0.01 * i, 0.2);
    std::set<const Segment*> buffers;
    const Hit* hits = w.List.GetHits().data();
    for (int i = 0; i < 50; ++i) {
        w.TraceZ(0.01 * i, 0.2);
        buffers.insert(w.List.GetSegments().data());
        EXPECT_EQ(w.List.GetHits().data(), hits);
    }
    EXPECT_LE(buffers.size(), 2u);
    // A miss after hits leaves no stale segments behind.
    EXPECT_FALSE(w.TraceZ(3, 3));
    EXPECT_TRUE(w.List.GetSegments().empty());
}

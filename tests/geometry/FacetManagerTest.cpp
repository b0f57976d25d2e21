#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <tuple>
#include <random>
#include <sstream>

#include "geometry/FacetManager.h"
#include "materials/TestErrors.h"

using namespace geometry;

namespace {

struct Collector {
    std::string text;
    MessageSink Sink() {
        return [this](const std::string& t, bool) { text += t; };
    }
};

template <typename T>
class FacetManagerTyped : public ::testing::Test {};
using CoordTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FacetManagerTyped, CoordTypes);

} // namespace

TYPED_TEST(FacetManagerTyped, MergesOnlyBitIdenticalVertices) {
    using T = TypeParam;
    FacetManager<T> m;
    const TCoord<T> a(1, 2, 3);
    EXPECT_EQ(m.AddVertex(a), 0u);
    EXPECT_EQ(m.AddVertex(TCoord<T>(4, 5, 6)), 1u);
    EXPECT_EQ(m.AddVertex(a), 0u);
    const TCoord<T> b(std::nextafter(T(1), T(2)), 2, 3);
    EXPECT_EQ(m.AddVertex(b), 2u);
    EXPECT_EQ(m.AddVertex(TCoord<T>(-0.0, 0, 0)), m.AddVertex(TCoord<T>(0, 0, 0)));
    EXPECT_EQ(m.GetVertices().size(), 4u);
}

TEST(FacetManager, DegenerateFacetIsDroppedWithMessage) {
    Collector c;
    FacetManager<float> m(c.Sink());
    const auto a = m.AddVertex({0, 0, 0});
    const auto b = m.AddVertex({1, 0, 0});
    m.AddFacet(1, a, a, b);
    EXPECT_EQ(m.GetFacets().size(), 0u);
    EXPECT_EQ(c.text, "Facet with at least two identical vertices removed!\n");
}

TEST(FacetManager, InvalidIndicesLeaveStoreUnchanged) {
    FacetManager<double> m;
    m.AddVertex({0, 0, 0});
    m.AddVertex({1, 0, 0});
    EXPECT_EQ(ErrorOf([&] { m.AddFacet(Facet{0, 1, 2, 1}); }), "Invalid vertex indices");
    EXPECT_TRUE(m.IsEmpty());
}

TEST(FacetManager, ObjectQueriesAndBounds) {
    FacetManager<float> m;
    const auto a = m.AddVertex({0, 0, 0}), b = m.AddVertex({1, 0, 0}), c = m.AddVertex({0, 2, 0}),
               d = m.AddVertex({0, 0, -3});
    m.AddFacet(1, a, b, c);
    m.AddFacet(2, a, c, d);
    m.AddFacet(1, b, c, d);
    const auto f1 = m.GetObjectFacets(1);
    ASSERT_EQ(f1.size(), 2u);
    EXPECT_EQ(f1[1].V0, b);
    const auto box = m.GetObjectBounds(2);
    EXPECT_EQ(box.Min.z, -3.0f);
    EXPECT_EQ(box.Max.y, 2.0f);
    EXPECT_EQ(box.Max.x, 0.0f);
    const auto none = m.GetObjectBounds(9);
    EXPECT_TRUE(std::isinf(none.Min.x) && none.Min.x > 0);
    EXPECT_TRUE(std::isinf(none.Max.z) && none.Max.z < 0);
    EXPECT_TRUE(none.IsEmpty());
}

TEST(FacetManager, CompactRenumbersInOrderOfFirstUse) {
    FacetManager<double> m;
    for (int i = 0; i < 6; ++i) m.AddVertex({double(i), 0, 0});
    m.AddFacet(1, 5, 3, 1);
    m.AddFacet(1, 1, 4, 5);
    m.Compact();
    ASSERT_EQ(m.GetVertices().size(), 4u);
    EXPECT_EQ(m.GetVertices()[0].x, 5.0);
    EXPECT_EQ(m.GetVertices()[3].x, 4.0);
    EXPECT_EQ(m.GetFacets()[1].V0, 2u);
    EXPECT_EQ(m.GetFacets()[1].V1, 3u);
    EXPECT_EQ(m.GetFacets()[1].V2, 0u);
    EXPECT_EQ(m.AddVertex({3, 0, 0}), 1u);
}

TEST(FacetManager, NearQueriesAndExtraction) {
    FacetManager<double> m;
    const auto a = m.AddVertex({0, 0, 0}), b = m.AddVertex({1, 0, 0}), c = m.AddVertex({0, 1, 0});
    const auto d = m.AddVertex({10, 0, 0}), e = m.AddVertex({11, 0, 0}), f = m.AddVertex({10, 1, 0});
    m.AddFacet(1, a, b, c);
    m.AddFacet(2, d, e, f);
    EXPECT_TRUE(m.IsNear({0.2, 0.2, 0.5}, 0.5));   // above the interior
    EXPECT_FALSE(m.IsNear({0.2, 0.2, 0.5}, 0.49));
    EXPECT_TRUE(m.IsNear({0.5, -0.3, 0}, 0.3));    // beside an edge
    EXPECT_FALSE(m.IsNear({0.5, -0.3, 0}, 0.29));
    EXPECT_TRUE(m.IsNear({0.8, 0.8, 0}, 0.43));    // beside the hypotenuse
    EXPECT_FALSE(m.IsNear({0.8, 0.8, 0}, 0.42));
    EXPECT_TRUE(m.IsNear({-1, -1, 0}, std::sqrt(2.0)));  // corner
    auto near = m.ExtractNear({10.5, 0.2, 0.1}, 0.5);
    auto* store = dynamic_cast<FacetManager<double>*>(near.get());
    ASSERT_NE(store, nullptr);
    ASSERT_EQ(store->GetFacets().size(), 1u);
    EXPECT_EQ(store->GetFacets()[0].ObjectID, 2u);
    EXPECT_EQ(store->GetVertices().size(), 3u);
    EXPECT_EQ(store->GetVertices()[0].x, 10.0);
}

TEST(FacetManager, MemoryLines) {
    FacetManager<float> m;
    for (int i = 0; i < 100; ++i) m.AddVertex({float(i), 0, 0});
    m.AddFacet(1, 0, 1, 2);
    std::ostringstream os;
    m.PrintMemoryUsage(os);
    EXPECT_EQ(os.str(), "Hit:    16B\nVertex: 12B * 100 = 1.17188kB\nFacet:  16B\n");
}

TEST(Coord, TextFormShowsSignsAndRestoresFlags) {
    std::ostringstream os;
    os << TCoord<double>(1.5, -2, 0) << " " << 3.0;
    EXPECT_EQ(os.str(), "( +1.5, -2, +0 ) 3");
}

TYPED_TEST(FacetManagerTyped, MergingAgreesWithAnOrderedMapOverManyRepeats) {
    using T = TypeParam;
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<int> pick(0, 20000);
    FacetManager<T> m;
    m.ReserveVertices(1000);
    std::map<std::tuple<T, T, T>, GeometryIndex> reference;
    for (int i = 0; i < 200000; ++i) {
        const int k = pick(rng);
        const TCoord<T> c(T(k % 37) * T(0.1), T(k / 37) * T(-0.25), T(k % 11));
        const auto it = reference.emplace(std::make_tuple(c.x, c.y, c.z), GeometryIndex(reference.size())).first;
        ASSERT_EQ(m.AddVertex(c), it->second);
        if (i == 100000) m.Prepare();
    }
    EXPECT_EQ(m.GetVertices().size(), reference.size());
}

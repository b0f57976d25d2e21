#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <omp.h>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestMeshes.h"
#include "common/TestUtil.h"
#include "geometry/Rasterizer.h"
#include "geometry/SceneObjects.h"
#include "geometry/VoxelSet.h"
#include "geometry/Voxelizer.h"
#include "materials/TestErrors.h"

using namespace geometry;
using testmesh::Rotation;

namespace {

struct Box {
    TCoord<double> Centre, Half;
    Rotation Turn;

    // Length of the segment from s to s + (p - s) inside the box, by slabs in the box's frame.
    double Chord(const TCoord<double>& s, const TCoord<double>& p) const {
        const TCoord<double> d = p - s;
        const double length = Norm(d);
        const TCoord<double> o = Local(s - Centre), v = Local(d * (1 / length));
        const double oc[3] = {o.x, o.y, o.z}, vc[3] = {v.x, v.y, v.z}, h[3] = {Half.x, Half.y, Half.z};
        double t0 = 0, t1 = length;
        for (int i = 0; i < 3; ++i) {
            if (vc[i] == 0) {
                if (std::fabs(oc[i]) > h[i])
                    return 0;
                continue;
            }
            double a = (-h[i] - oc[i]) / vc[i], b = (h[i] - oc[i]) / vc[i];
            if (a > b)
                std::swap(a, b);
            t0 = std::max(t0, a), t1 = std::min(t1, b);
        }
        return std::max(0.0, t1 - t0);
    }
    TCoord<double> Local(const TCoord<double>& p) const {
        const auto& m = Turn.M;
        return {m[0][0] * p.x + m[1][0] * p.y + m[2][0] * p.z, m[0][1] * p.x + m[1][1] * p.y + m[2][1] * p.z,
                m[0][2] * p.x + m[1][2] * p.y + m[2][2] * p.z};
    }
};

// Objects 0, 1, ... each drawn into the channel of its own index.
struct World : testmesh::ObjectSet {
    FacetManager<double> Store;

    void AddBox(const Box& box, std::int32_t priority = 0) {
        testmesh::AddBox(Store, AddObject(priority), box.Centre, box.Half, box.Turn, 3);
    }
    RasterObjects Raster() const {
        RasterObjects r;
        r.Objects = Objects;
        for (std::size_t i = 0; i < Objects.size(); ++i)
            r.Channels.push_back(std::int32_t(i));
        r.ChannelCount = Objects.size();
        return r;
    }
    ThicknessMaps Cast(const TCoord<double>& source, const PixelGrid& grid, bool resolve) const {
        return Rasterizer<double>(Store, Raster()).CastFrom(source, grid, resolve);
    }
};

// A tilted grid of 40 x 30 pixels centred on the origin of its own frame `turn`.
PixelGrid TiltedGrid(const Rotation& turn, double pitch = 0.12) {
    PixelGrid g;
    g.Columns = 40;
    g.Rows = 30;
    g.ColumnStep = turn.Apply({pitch, 0, 0});
    g.RowStep = turn.Apply({0, pitch * 0.8, 0});
    g.Corner = TCoord<double>() - g.ColumnStep * 20.0 - g.RowStep * 15.0;
    return g;
}

struct BoxCase {
    const char* Name;
    TCoord<double> Source, Centre, Half; // in the grid's frame
    bool AllZero;
    bool Turned = true; // else aligned with the grid
};

class BoxChords : public ::testing::TestWithParam<BoxCase> {};

TEST_P(BoxChords, MatchTheAnalyticChordWithAndWithoutPairing) {
    const BoxCase& c = GetParam();
    std::mt19937_64 rng(11);
    const Rotation gridTurn = testmesh::RandomRotation(rng);
    const Rotation boxTurn = testmesh::RandomRotation(rng);
    Box box{gridTurn.Apply(c.Centre), c.Half, c.Turned ? boxTurn : gridTurn};
    World w;
    w.AddBox(box);
    const PixelGrid grid = TiltedGrid(gridTurn);
    const TCoord<double> source = gridTurn.Apply(c.Source);
    for (bool resolve : {false, true}) {
        const ThicknessMaps maps = w.Cast(source, grid, resolve);
        ASSERT_EQ(maps.Maps.size(), 1u);
        double total = 0;
        for (std::int64_t r = 0; r < grid.Rows; ++r)
            for (std::int64_t col = 0; col < grid.Columns; ++col) {
                const double got = maps.Maps[0][std::size_t(r * grid.Columns + col)];
                const double want = box.Chord(source, grid.PixelCentre(double(col), double(r)));
                ASSERT_NEAR(got, want, 1e-5 * want + 1e-9) << c.Name << " pixel " << col << ", " << r;
                total += got;
            }
        EXPECT_EQ(total == 0, c.AllZero) << c.Name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, BoxChords,
    ::testing::Values(BoxCase{"between", {0.3, -0.2, 10}, {0.1, 0.2, 4}, {1.2, 0.8, 0.6}, false},
                      BoxCase{"reversed frame", {0.3, -0.2, -10}, {0.1, 0.2, -4}, {1.2, 0.8, 0.6}, false},
                      BoxCase{"source inside", {0, 0, 3}, {0.2, 0.1, 3}, {1, 1, 1.5}, false},
                      BoxCase{"cut by the grid", {0, 0, 8}, {0, 0, 0.2}, {1, 0.7, 0.8}, false},
                      BoxCase{
                          "at the source height", {0, 0, 5}, {0.4, 0, 4.8}, {0.3, 0.3, 0.8}, false, false},
                      BoxCase{"behind the source", {0, 0, 5}, {0, 0, 8}, {1, 1, 1}, true}),
    [](const auto& param) {
        std::string name = param.param.Name;
        for (char& ch : name)
            if (ch == ' ')
                ch = '_';
        return name;
    });

// Every vertex and edge of the box projects onto pixel centres and all arithmetic is
// exact: each centre on a shared edge or vertex must belong to exactly one facet of
// the entering side and one of the leaving side.
TEST(Rasterizer, CentresOnSharedEdgesAndVerticesCountOnce) {
    const Box box{{0, 0, 2.5}, {2, 2, 2.5}, Rotation()};
    World w;
    testmesh::AddBox(w.Store, w.AddObject(), box.Centre, box.Half, box.Turn, 4);
    PixelGrid grid;
    grid.Columns = grid.Rows = 33;
    grid.ColumnStep = TCoord<double>(1, 0, 0);
    grid.RowStep = TCoord<double>(0, 1, 0);
    grid.Corner = TCoord<double>(-16.5, -16.5, -10);
    const TCoord<double> source(0, 0, 10);
    for (bool resolve : {false, true}) {
        const ThicknessMaps maps = w.Cast(source, grid, resolve);
        for (std::int64_t p = 0; p < 33 * 33; ++p) {
            const double want = box.Chord(source, grid.PixelCentre(double(p % 33), double(p / 33)));
            ASSERT_NEAR(maps.Maps[0][std::size_t(p)], want, 1e-9) << p % 33 << ", " << p / 33;
        }
    }
}

// Path length from the facets' own ray-triangle test along source -> pixel centre;
// NaN where the reference itself does not pair (a ray through an edge).
double MeshChord(const FacetManager<double>& store, const TCoord<double>& s, const TCoord<double>& p) {
    std::vector<Hit> hits;
    store.Intersect(testmesh::RayTowards(s, p), hits);
    const double d = Norm(p - s);
    double sum = 0;
    int balance = 0;
    for (const Hit& h : hits) {
        sum += h.Entering ? -std::min(h.Distance, d) : std::min(h.Distance, d);
        balance += h.Entering ? 1 : -1;
    }
    return balance == 0 ? sum : NAN;
}

TEST(Rasterizer, SphereAndEllipsoidMeshesMatchTheRayMeshChord) {
    std::mt19937_64 rng(5);
    const Rotation gridTurn = testmesh::RandomRotation(rng), bodyTurn = testmesh::RandomRotation(rng);
    const TCoord<double> scales[] = {{1, 1, 1}, {1.3, 0.7, 0.5}};
    for (const TCoord<double>& scale : scales) {
        FacetManager<double> sphere;
        testmesh::AddSphere(sphere, 0, TCoord<double>(), 1.0, 24, 12);
        World w;
        w.AddObject();
        const TCoord<double> centre = gridTurn.Apply({0.1, -0.1, 3});
        for (const auto& v : sphere.GetVertices())
            w.Store.AddVertex(centre + bodyTurn.Apply({v.x * scale.x, v.y * scale.y, v.z * scale.z}));
        for (const Facet& f : sphere.GetFacets())
            w.Store.AddFacet(f);
        const PixelGrid grid = TiltedGrid(gridTurn);
        const TCoord<double> source = gridTurn.Apply({0.2, 0.1, 8});
        const ThicknessMaps maps = w.Cast(source, grid, true);
        int compared = 0;
        for (std::int64_t r = 0; r < grid.Rows; ++r)
            for (std::int64_t c = 0; c < grid.Columns; ++c) {
                const double want = MeshChord(w.Store, source, grid.PixelCentre(double(c), double(r)));
                if (std::isnan(want))
                    continue;
                ++compared;
                ASSERT_NEAR(maps.Maps[0][std::size_t(r * grid.Columns + c)], want, 1e-5) << c << ", " << r;
            }
        EXPECT_GT(compared, 1100);
    }
}

TEST(Rasterizer, DistantSourceIntegratesToTheVolume) {
    World w;
    testmesh::AddSphere(w.Store, w.AddObject(), TCoord<double>(0.05, -0.02, 1.5), 1.0, 48, 24);
    PixelGrid grid;
    grid.Columns = grid.Rows = 128;
    grid.ColumnStep = TCoord<double>(2.4 / 128, 0, 0);
    grid.RowStep = TCoord<double>(0, 2.4 / 128, 0);
    grid.Corner = TCoord<double>(-1.2, -1.2, 0);
    const ThicknessMaps maps = w.Cast(TCoord<double>(0, 0, 1e5), grid, false);
    double sum = 0;
    for (double t : maps.Maps[0])
        sum += t;
    EXPECT_NEAR(sum * (2.4 / 128) * (2.4 / 128), testmesh::Volume(w.Store),
                0.003 * testmesh::Volume(w.Store));
}

// A box of object 0 holding a box of object 1, seen along -z.
struct Nested {
    Box Outer{{0, 0, 2}, {1, 1, 1}, Rotation()};
    Box Inner{{0.2, 0, 2.2}, {0.4, 0.5, 0.3}, Rotation()};
    PixelGrid Grid = TiltedGrid(Rotation(), 0.08);
    TCoord<double> Source{0.1, 0.1, 9};

    ThicknessMaps Cast(std::int32_t outerPriority, std::int32_t innerPriority, bool resolve) const {
        World w;
        w.AddBox(Outer, outerPriority);
        w.AddBox(Inner, innerPriority);
        return w.Cast(Source, Grid, resolve);
    }
    double Chord(const Box& box, std::size_t pixel) const {
        return box.Chord(Source, Grid.PixelCentre(double(pixel % 40), double(pixel / 40)));
    }
};

TEST(Rasterizer, OverlapsGoToTheHigherPriorityOnlyWhenResolved) {
    const Nested n;
    const ThicknessMaps innerWins = n.Cast(0, 1, true), outerWins = n.Cast(1, 0, true),
                        both = n.Cast(0, 1, false);
    EXPECT_FALSE(innerWins.Ambiguous);
    for (std::size_t p = 0; p < 1200; ++p) {
        const double outer = n.Chord(n.Outer, p), inner = n.Chord(n.Inner, p);
        EXPECT_NEAR(innerWins.Maps[0][p], outer - inner, 1e-9);
        EXPECT_NEAR(innerWins.Maps[1][p], inner, 1e-9);
        EXPECT_NEAR(outerWins.Maps[0][p], outer, 1e-9);
        EXPECT_EQ(outerWins.Maps[1][p], 0);
        EXPECT_NEAR(both.Maps[0][p], outer, 1e-9);
        EXPECT_NEAR(both.Maps[1][p], inner, 1e-9);
    }
    EXPECT_TRUE(n.Cast(0, 0, true).Ambiguous);
}

// A box around (0.5, 0.5, 0.5) whose first -z facet (x >= y in its face) is missing.
World OpenBox(double half, std::uint32_t firstID = 0) {
    World w;
    while (w.Objects.size() < firstID)
        w.AddObject();
    FacetManager<double> box;
    testmesh::AddBox(box, w.AddObject(), TCoord<double>(0.5, 0.5, 0.5), TCoord<double>(half, half, half));
    for (const auto& v : box.GetVertices())
        w.Store.AddVertex(v);
    for (std::size_t i = 0; i < box.GetFacets().size(); ++i)
        if (i != 8)
            w.Store.AddFacet(box.GetFacets()[i]);
    return w;
}

TEST(Rasterizer, OpenSurfaceIsAnErrorNamingPixelAndObject) {
    const World w = OpenBox(0.4, 1);
    const std::string error = ErrorOf([&] { w.Cast({0.5, 0.5, 9}, TiltedGrid(Rotation(), 0.08), true); });
    EXPECT_EQ(error.rfind("Not a closed surface at (", 0), 0u) << error;
    EXPECT_NE(error.find(") for object ID 1"), std::string::npos) << error;
}

TEST(Rasterizer, GridsBeyondThirtyTwoBitPixelCountsAreRefused) {
    const World w = OpenBox(0.4);
    PixelGrid grid = TiltedGrid(Rotation());
    grid.Columns = grid.Rows = std::int64_t(1) << 32;
    EXPECT_EQ(ErrorOf([&] { w.Cast({0.5, 0.5, 9}, grid, false); }), "Too many pixels");
}

TEST(Rasterizer, MapsAreTheSameOnOneAndTwoThreads) {
    World w;
    testmesh::AddSphere(w.Store, w.AddObject(), TCoord<double>(0, 0, 2), 1.0, 160, 80);
    testmesh::AddBox(w.Store, w.AddObject(1), TCoord<double>(0.3, 0, 2), TCoord<double>(0.5, 0.4, 0.3));
    const PixelGrid grid = TiltedGrid(Rotation(), 0.08);
    for (bool resolve : {false, true}) {
        omp_set_num_threads(1);
        const ThicknessMaps one = w.Cast({0.1, 0, 9}, grid, resolve);
        omp_set_num_threads(2);
        const ThicknessMaps two = w.Cast({0.1, 0, 9}, grid, resolve);
        EXPECT_EQ(one.Maps, two.Maps);
    }
}

const materials::TMaterial* FakeMaterial(int i) {
    static int tags[4];
    return reinterpret_cast<const materials::TMaterial*>(&tags[i]);
}

struct VoxelRun {
    std::unique_ptr<TVoxelSet> Set;
    std::string Messages;
};

VoxelRun Voxels(const World& w, std::uint64_t dim, const std::vector<VoxelPart>& parts) {
    VoxelRun run;
    run.Set = std::make_unique<TVoxelSet>(TCoord<double>(0, 0, 0), TCoord<double>(1, 1, 1), dim, dim, dim);
    Voxelize(*run.Set, w.Store, w.Objects, parts,
             [&](const std::string& text, bool) { run.Messages += text; });
    return run;
}

std::vector<std::size_t> CountIndices(const TVoxelSet& set) {
    std::vector<std::size_t> counts(4, 0);
    for (std::uint64_t z = 0; z < set.GetDimZ(); ++z)
        for (std::uint64_t y = 0; y < set.GetDimY(); ++y)
            for (std::uint64_t x = 0; x < set.GetDimX(); ++x)
                ++counts[set.GetVoxel(x, y, z)];
    return counts;
}

TEST(Voxelizer, BoxFillsExactlyItsVoxelsAndPrintsTheTable) {
    World w;
    testmesh::AddBox(w.Store, w.AddObject(), TCoord<double>(0.5, 0.5, 0.5), TCoord<double>(0.25, 0.25, 0.25),
                     Rotation(), 2);
    const VoxelRun run = Voxels(w, 128, {{0, FakeMaterial(1), "Water"}});
    EXPECT_EQ(CountIndices(*run.Set)[1], 64u * 64 * 64);
    EXPECT_EQ(run.Set->GetVoxel(32, 32, 32), 1);
    EXPECT_EQ(run.Set->GetVoxel(95, 95, 95), 1);
    EXPECT_EQ(run.Set->GetVoxel(31, 64, 64), 0);
    EXPECT_EQ(run.Set->GetVoxel(64, 64, 96), 0);
    EXPECT_EQ(run.Messages, "Voxel set materials:\n   0: none\n   1: Water\n");
    // At 10 voxels the box's edges and corners run through column centres: the tie
    // rule takes the columns on the low side, 2..6, and every closed column pairs.
    World fine;
    testmesh::AddBox(fine.Store, fine.AddObject(), TCoord<double>(0.5, 0.5, 0.5),
                     TCoord<double>(0.25, 0.25, 0.25), Rotation(), 4);
    const VoxelRun ties = Voxels(fine, 10, {{0, FakeMaterial(1), "Water"}});
    EXPECT_EQ(CountIndices(*ties.Set)[1], 125u);
    EXPECT_EQ(ties.Set->GetVoxel(2, 2, 2), 1);
    EXPECT_EQ(ties.Set->GetVoxel(6, 6, 6), 1);
    EXPECT_EQ(ties.Messages.find("Not a closed"), std::string::npos);
}

TEST(Voxelizer, SphereVolumeAndThreadCountIndependence) {
    World w;
    testmesh::AddSphere(w.Store, w.AddObject(), TCoord<double>(0.5, 0.45, 0.55), 0.4, 96, 48);
    omp_set_num_threads(1);
    const VoxelRun one = Voxels(w, 64, {{0, FakeMaterial(1), "Water"}});
    omp_set_num_threads(2);
    const VoxelRun two = Voxels(w, 64, {{0, FakeMaterial(1), "Water"}});
    const double volume = double(CountIndices(*two.Set)[1]) / (64.0 * 64 * 64);
    EXPECT_NEAR(volume, testmesh::Volume(w.Store), 0.01 * testmesh::Volume(w.Store));
    for (std::uint64_t z = 0; z < 64; ++z)
        for (std::uint64_t y = 0; y < 64; ++y)
            for (std::uint64_t x = 0; x < 64; ++x)
                ASSERT_EQ(one.Set->GetVoxel(x, y, z), two.Set->GetVoxel(x, y, z));
}

TEST(Voxelizer, OverlapsSplitByPriority) {
    for (bool firstWins : {false, true}) {
        World w;
        testmesh::AddBox(w.Store, w.AddObject(firstWins ? 1 : 0), TCoord<double>(0.35, 0.35, 0.35),
                         TCoord<double>(0.25, 0.25, 0.25));
        testmesh::AddBox(w.Store, w.AddObject(firstWins ? 0 : 1), TCoord<double>(0.65, 0.65, 0.65),
                         TCoord<double>(0.25, 0.25, 0.25));
        const VoxelRun run = Voxels(w, 20, {{0, FakeMaterial(1), "A"}, {1, FakeMaterial(2), "B"}});
        const std::vector<std::size_t> counts = CountIndices(*run.Set);
        EXPECT_EQ(counts[firstWins ? 1 : 2], 1000u);
        EXPECT_EQ(counts[firstWins ? 2 : 1], 1000u - 64);
    }
}

TEST(Voxelizer, OpenColumnsAreReportedAndLeftEmpty) {
    const VoxelRun few = Voxels(OpenBox(0.06), 20, {{0, FakeMaterial(1), "A"}});
    EXPECT_NE(few.Messages.find("Not a closed surface at (10, 10)!\n"), std::string::npos) << few.Messages;
    EXPECT_EQ(few.Set->GetVoxel(10, 9, 9), 0);
    EXPECT_EQ(few.Set->GetVoxel(9, 10, 9), 1);
    const VoxelRun many = Voxels(OpenBox(0.25), 20, {{0, FakeMaterial(1), "A"}});
    EXPECT_NE(many.Messages.find(" pixels in rows "), std::string::npos) << many.Messages;
    EXPECT_EQ(many.Messages.find("Not a closed surface at ("), std::string::npos) << many.Messages;
}

} // namespace

using namespace geometry;

namespace {

const materials::TMaterial* Material(std::size_t i) {
    static char storage[300];
    return reinterpret_cast<const materials::TMaterial*>(&storage[i]);
}

} // namespace

TEST(VoxelSet, SingleVoxelWritesOneByteAndTheBoxCentre) {
    inifiles::TIniFileStructure tree;
    std::istringstream in("[VoxelSet]\nLengthUnit = mm\nOrigin = (10, 20, 30)\nXSize = 10\nYSize = 20\nZSize = 40\n"
                          "DimX = 1\nDimY = 1\nDimZ = 1\n[EndVoxelSet]\n");
    tree.Read(in);
    TVoxelSet set(tree.Section(0));
    set.SetVoxel(0, 0, 0, Material(0));
    set.SetVoxel(0, 0, 0, Material(1));
    testutil::TempDir dir;
    set.WriteVTK(dir.File("v.vtk"));
    EXPECT_EQ(testutil::ReadFile(dir.File("v.vtk")),
              std::string("# vtk DataFile Version 2.0\nTarvo VoxelSet\nBINARY\nDATASET STRUCTURED_POINTS\n"
                          "DIMENSIONS 1 1 1\nORIGIN 1.5 3 5\nSPACING 1 2 4\nPOINT_DATA 1\n"
                          "SCALARS Material unsigned_char 1\nLOOKUP_TABLE default\n\x01\n"));
}

TEST(VoxelSet, DataRunsXFastestThenYThenZ) {
    TVoxelSet set({0, 0, 0}, {3, 2, 2}, 3, 2, 2);
    set.SetVoxel(1, 0, 0, Material(5));
    set.SetVoxel(0, 1, 0, Material(6));
    set.SetVoxel(0, 0, 1, Material(7));
    EXPECT_EQ(set.GetVoxel(0, 0, 1), 2);  // table index: the third material entered
    testutil::TempDir dir;
    set.WriteVTK(dir.File("v.vtk"));
    const std::string file = testutil::ReadFile(dir.File("v.vtk"));
    EXPECT_EQ(file.substr(file.size() - 13), std::string("\0\0\0\1\0\0\2\0\0\0\0\0\n", 13));
    EXPECT_THROW(set.SetVoxel(3, 0, 0, Material(0)), std::out_of_range);
    EXPECT_THROW(set.WriteVTK(dir.File("missing/v.vtk")), std::runtime_error);
}

TEST(VoxelSet, MaterialTableIsSharedByThreadsAndLimitedTo256) {
    TVoxelSet set({0, 0, 0}, {1, 1, 1}, 16, 16, 4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&set, t] {
            for (std::uint64_t y = 0; y < 16; ++y)
                for (std::uint64_t x = 0; x < 16; ++x) set.SetVoxel(x, y, t, Material((x + 16 * y) % 200));
        });
    for (auto& th : threads) th.join();
    const auto table = set.GetMaterials();
    ASSERT_EQ(table.size(), 200u);
    for (std::uint64_t z = 0; z < 4; ++z)
        for (std::uint64_t y = 0; y < 16; ++y)
            for (std::uint64_t x = 0; x < 16; ++x) ASSERT_EQ(table[set.GetVoxel(x, y, z)], Material((x + 16 * y) % 200));
    for (std::size_t i = 200; i < 256; ++i) set.SetVoxel(0, 0, 0, Material(i));
    EXPECT_EQ(ErrorOf([&] { set.SetVoxel(0, 0, 0, Material(256)); }), "Too many materials");
}

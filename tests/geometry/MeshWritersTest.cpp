#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/TestUtil.h"
#include "geometry/MeshReaders.h"
#include "geometry/MeshWriters.h"
#include "geometry/Primitives.h"

using namespace geometry;

namespace {

using Triangle = std::array<double, 9>;

struct MeshioView {
    std::size_t points = 0;
    std::vector<Triangle> triangles;
};

MeshioView ReadWithMeshio(const std::string& path, const std::string& format) {
    const auto r = testutil::RunPython(testutil::ReadFile(std::string(TARVO_TEST_DATA) + "/geometry/read_mesh.py"),
                                       {path, format});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    MeshioView view;
    std::istringstream in(r.out);
    in >> view.points;
    Triangle t;
    while (in >> t[0] >> t[1] >> t[2] >> t[3] >> t[4] >> t[5] >> t[6] >> t[7] >> t[8]) view.triangles.push_back(t);
    return view;
}

template <typename T>
std::vector<Triangle> Triangles(const FacetManager<T>& m, const std::vector<Facet>& facets) {
    std::vector<Triangle> result;
    for (const Facet& f : facets) {
        Triangle t;
        const GeometryIndex idx[3] = {f.V0, f.V1, f.V2};
        for (int k = 0; k < 3; ++k) {
            t[3 * k] = m.GetVertices()[idx[k]].x;
            t[3 * k + 1] = m.GetVertices()[idx[k]].y;
            t[3 * k + 2] = m.GetVertices()[idx[k]].z;
        }
        result.push_back(t);
    }
    return result;
}

// A rotated, shifted ellipsoid (part 3) next to a box (part 1) in one store: dumps hold
// the placed coordinates.
template <typename T>
FacetManager<T> Scene() {
    FacetManager<T> m;
    TAffineTransform placement = TAffineTransform::Translation({0.5, -1, 2});
    placement.Compose(TAffineTransform::AxisRotation(2, std::cos(0.3), std::sin(0.3)));
    MeshBuilder<T> box(m, {}, 1, false), part(m, placement, 3, false);
    AddParallelepiped(box, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, false);
    AddEllipsoid(part, {0, 0, 0}, {1.25, 0, 0}, {0, 0.75, 0}, {0, 0, 0.5}, 8);
    return m;
}

template <typename T>
void CheckDumps() {
    const FacetManager<T> scene = Scene<T>();
    const std::vector<Facet> facets = scene.GetObjectFacets(3);
    const std::size_t vertexCount = CopyFacets(scene, facets).GetVertices().size();
    const auto expected = Triangles(scene, facets);
    testutil::TempDir dir;
    {
        std::ofstream off(dir.File("part.off"));
        WriteOFF(off, scene, facets);
        std::ofstream ply(dir.File("part.ply"), std::ios::binary);
        WritePLY(ply, scene, facets);
        std::ofstream ascii(dir.File("ascii.stl"));
        WriteStL(ascii, scene, facets, "Part3", false);
        std::ofstream binary(dir.File("binary.stl"), std::ios::binary);
        WriteStL(binary, scene, facets, "Part3", true);
    }
    for (const char* name : {"part.off", "part.ply", "ascii.stl", "binary.stl"}) {
        SCOPED_TRACE(name);
        const std::string file = name;
        const auto view = ReadWithMeshio(dir.File(file), file.substr(file.size() - 3));
        EXPECT_EQ(view.points, vertexCount);
        ASSERT_EQ(view.triangles.size(), expected.size());
        // Binary StL holds single precision, ASCII StL twelve decimals, the others T exactly.
        auto same = [&](double got, double want) {
            if (file == "ascii.stl") return std::fabs(got - want) <= 1e-11;
            if (file == "binary.stl") return float(got) == float(want);
            return T(got) == T(want);
        };
        for (std::size_t i = 0; i < expected.size(); ++i)
            for (int k = 0; k < 9; ++k) ASSERT_TRUE(same(view.triangles[i][k], expected[i][k])) << i << " " << k;
        // And our own readers read the dump back to the same facets.
        FacetManager<T> back;
        const std::string ext = file.substr(file.size() - 3);
        if (ext == "off") ReadOFF(dir.File(file), {}, 3, back, false);
        else if (ext == "ply") ReadPLY(dir.File(file), {}, 3, back, false);
        else ReadStL(dir.File(file), {}, 3, back, false);
        EXPECT_EQ(back.GetVertices().size(), vertexCount);
        const auto reread = Triangles(back, back.GetFacets());
        ASSERT_EQ(reread.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            for (int k = 0; k < 9; ++k) ASSERT_TRUE(same(reread[i][k], expected[i][k])) << i << " " << k;
    }
    const std::string binary = testutil::ReadFile(dir.File("binary.stl"));
    ASSERT_EQ(binary.size(), 84 + 50 * facets.size());
    EXPECT_EQ(binary.substr(0, 80), std::string("Part3") + std::string(75, '\0'));
    const std::string ascii = testutil::ReadFile(dir.File("ascii.stl"));
    EXPECT_EQ(ascii.substr(0, 12), "solid Part3\n");
    EXPECT_NE(ascii.find("\n      vertex +"), std::string::npos);
}

} // namespace

TEST(MeshWriters, DumpsLoadInMeshioWithTheSameFacetsSingle) { CheckDumps<float>(); }
TEST(MeshWriters, DumpsLoadInMeshioWithTheSameFacetsDouble) { CheckDumps<double>(); }

TEST(MeshWriters, PlyHeaderNamesTypesAndByteOrder) {
    const FacetManager<double> scene = Scene<double>();
    std::ostringstream os;
    WritePLY(os, scene, scene.GetObjectFacets(1));
    EXPECT_EQ(os.str().substr(0, os.str().find("end_header\n") + 11),
              "ply\nformat binary_little_endian 1.0\nelement vertex 8\nproperty double x\nproperty double y\n"
              "property double z\nelement face 12\nproperty list uint8 int32 vertex_indices\nend_header\n");
}

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "common/TestUtil.h"
#include "datafiles/XRTCStream.h"
#include "geometry/MeshReaders.h"
#include "geometry/MeshWriters.h"
#include "geometry/Primitives.h"
#include "materials/TestErrors.h"

using namespace geometry;

namespace {

struct Expected {
    std::string name;
    std::size_t vertices = 0, facets = 0;
    double box[6] = {};
};

// Meshes written by meshio, numpy-stl and hand-made variants, generated once.
class IndependentMeshes : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<testutil::TempDir>();
        const auto r = testutil::RunPython(testutil::ReadFile(std::string(TARVO_TEST_DATA) + "/geometry/make_meshes.py"),
                                           {dir->Path()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::istringstream in(testutil::ReadFile(dir->File("expected.txt")));
        Expected e;
        while (in >> e.name >> e.vertices >> e.facets >> e.box[0] >> e.box[1] >> e.box[2] >> e.box[3] >> e.box[4] >>
               e.box[5])
            expected.push_back(e);
    }
    static void TearDownTestSuite() { dir.reset(); }

    static std::unique_ptr<testutil::TempDir> dir;
    static std::vector<Expected> expected;
};
std::unique_ptr<testutil::TempDir> IndependentMeshes::dir;
std::vector<Expected> IndependentMeshes::expected;

template <typename T>
void ReadByExtension(const std::string& path, FacetManager<T>& store, const TAffineTransform& tr = {},
                     bool invert = false) {
    const std::string ext = path.substr(path.rfind('.') + 1);
    if (ext == "stl") ReadStL(path, tr, 1, store, invert);
    else if (ext == "off") ReadOFF(path, tr, 1, store, invert);
    else if (ext == "ply") ReadPLY(path, tr, 1, store, invert);
    else if (ext == "vtx") ReadVertexFacetFiles(path, path.substr(0, path.size() - 3) + "fct", 1, tr, 1, store, invert);
    else ReadTRI(path, tr, 1, store, invert);
}

using Triangle = std::array<double, 9>;

// Facets as corner coordinates, each rotated to start at its smallest corner so that
// orientation is kept, sorted.
template <typename T>
std::vector<Triangle> Canonical(const FacetManager<T>& m) {
    std::vector<Triangle> result;
    for (const Facet& f : m.GetFacets()) {
        std::array<std::array<double, 3>, 3> c;
        const GeometryIndex idx[3] = {f.V0, f.V1, f.V2};
        for (int k = 0; k < 3; ++k) c[k] = {m.GetVertices()[idx[k]].x, m.GetVertices()[idx[k]].y, m.GetVertices()[idx[k]].z};
        const auto first = std::min_element(c.begin(), c.end()) - c.begin();
        Triangle t;
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 3; ++j) t[3 * k + j] = c[(first + k) % 3][j];
        result.push_back(t);
    }
    std::sort(result.begin(), result.end());
    return result;
}

template <typename T>
void CheckAll(const std::vector<Expected>& expected, const testutil::TempDir& dir) {
    ASSERT_GE(expected.size(), 19u);
    FacetManager<T> reference;
    ReadOFF(dir.File("meshio.off"), {}, 1, reference, false);
    const auto referenceFacets = Canonical(reference);
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        FacetManager<T> m;
        ReadByExtension(dir.File(e.name), m);
        EXPECT_EQ(m.GetVertices().size(), e.vertices);
        ASSERT_EQ(m.GetFacets().size(), e.facets);
        const auto box = m.GetObjectBounds(1);
        const T got[6] = {box.Min.x, box.Min.y, box.Min.z, box.Max.x, box.Max.y, box.Max.z};
        for (int k = 0; k < 6; ++k) EXPECT_EQ(got[k], T(e.box[k]));
        for (const Facet& f : m.GetFacets()) {
            const auto& v = m.GetVertices();
            ASSERT_GT(Cross(v[f.V1] - v[f.V0], v[f.V2] - v[f.V0]).z, 0) << "facet orientation";
        }
        if (e.name.find("strips") == std::string::npos) {
            EXPECT_EQ(Canonical(m), referenceFacets);
        }
    }
}

// The error text of reading content as a file of that extension, with the file's
// path written as FILE.
std::string ReadError(const std::string& ext, const std::string& content) {
    testutil::TempDir dir;
    const std::string path = dir.File("bad." + ext);
    testutil::WriteFile(path, content);
    FacetManager<double> m([](const std::string&, bool) {});
    std::string text = ErrorOf([&] { ReadByExtension(path, m); });
    const auto at = text.find(path);
    if (at != std::string::npos)
        text.replace(at, path.size(), "FILE");
    return text;
}

} // namespace

TEST_F(IndependentMeshes, EveryFormatLoadsInSinglePrecision) { CheckAll<float>(expected, *dir); }
TEST_F(IndependentMeshes, EveryFormatLoadsInDoublePrecision) { CheckAll<double>(expected, *dir); }

TEST_F(IndependentMeshes, InvertAndPlacementApplyToEveryVertexAndFacet) {
    FacetManager<double> plain, placed;
    ReadPLY(dir->File("types_be.ply"), {}, 1, plain, false);
    const TAffineTransform shift = TAffineTransform::Translation({10, 0, -1});
    ReadPLY(dir->File("types_be.ply"), shift, 4, placed, true);
    ASSERT_EQ(plain.GetFacets().size(), placed.GetFacets().size());
    for (std::size_t i = 0; i < plain.GetFacets().size(); ++i) {
        const Facet a = plain.GetFacets()[i], b = placed.GetFacets()[i];
        EXPECT_EQ(b.ObjectID, 4u);
        EXPECT_EQ(placed.GetVertices()[b.V1].x, plain.GetVertices()[a.V2].x + 10);
        EXPECT_EQ(placed.GetVertices()[b.V2].z, plain.GetVertices()[a.V1].z - 1);
    }
}

TEST(StLReader, AsciiKeywordsInAnyCaseAndWithSpaces) {
    const std::string text =
        "SoLiD thing\r\n  FACET NORMAL 0 0 1\n OUTER LOOP\n  VERTEX +0 0 0\n vertex 1e0 0 0\n"
        "vertex\t0 1 0\n END LOOP\n END FACET\n facet normal 0 0 0\nouter loop\nvertex 1 0 0\nvertex 1 1 0\n"
        "vertex 0 1 0\nendloop\nendfacet\nEndSolid thing\n";
    std::istringstream in(text);
    FacetManager<float> m;
    MeshBuilder<float> mesh(m, {}, 2, false);
    ReadStL(in, "x.stl", mesh);
    EXPECT_EQ(m.GetFacets().size(), 2u);
    EXPECT_EQ(m.GetVertices().size(), 4u);
    EXPECT_EQ(m.GetFacets()[1].ObjectID, 2u);
}

// Malformed files name the file (written FILE) and, for text formats, the line.
TEST(MeshReaders, MalformedFilesAreReportedWithFileAndLine) {
    const std::string stl = "solid a\nfacet normal 0 0 1\nouter loop\n";
    const std::string off = "OFF\n3 1\n0 0 0\n1 0 0\n0 1 0\n";
    const std::string ply =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
        "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
        "0 0 0\n1 0 0\n0 1 0\n";
    const std::string binaryPly =
        "ply\nformat binary_little_endian 1.0\nelement vertex 1\nproperty double x\n"
        "property double y\nproperty double z\nend_header\n";
    const std::string binaryStl = std::string(80, ' ') + std::string("\x02\0\0\0", 4) + std::string(60, '\0');
    const struct {
        const char* ext;
        std::string content, message;
    } cases[] = {
        {"stl", stl + "vertex 0 0 x\n", "Error parsing vertex from ASCII StL file FILE: vertex 0 0 x"},
        {"stl", stl + "vertex 0 0 0 0\n", "Error parsing vertex from ASCII StL file FILE: vertex 0 0 0 0"},
        {"stl", stl + "endloop\n", "Error parsing vertex from ASCII StL file FILE: endloop"},
        {"stl", "solid a\nfacet normal 0 0 1\nvertex 0 0 0\n",
         "Error parsing facet from ASCII StL file FILE: vertex 0 0 0"},
        {"stl", "solid a\nhello\n", "Error parsing ASCII StL file FILE: hello"},
        {"stl", stl + "vertex 0 0 0\n", "Unexpected end of ASCII StL file FILE"},
        {"stl", "solid", "Unexpected end of ASCII StL file FILE"},
        {"stl", binaryStl, "Error reading binary StL file FILE"},
        {"stl", "abc", "Error reading binary StL file FILE"},
        {"off", "PLY\n", "Not an OFF file: FILE"},
        {"off", "OFF\n3 1\n0 0 0\n1 0\n", "Error parsing OFF file FILE: 1 0"},
        {"off", off + "3 0 1 3\n", "Invalid vertex index in file FILE"},
        {"off", off + "3 0 -1 2\n", "Invalid vertex index in file FILE"},
        {"off", off + "2 0 1\n", "Error parsing OFF file FILE: 2 0 1"},
        {"off", "OFF\n3 2\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n",
         "Error parsing OFF file FILE: unexpected end of file"},
        {"off", "OFF\nx y\n", "Error parsing OFF file FILE: x y"},
        {"ply", ply + "3 0 1 2\n", "no error"},
        {"ply", ply + "3 0 1 3\n", "Invalid vertex index in file FILE"},
        {"ply", ply + "3 0 1\n", "Error parsing face in PLY file FILE"},
        {"ply", ply + "300 0 1 2\n", "Conversion failed in face in PLY file FILE"},
        {"ply", ply + "3 0 1 x\n", "Error parsing face in PLY file FILE"},
        {"ply", binaryPly + std::string(20, '\0'), "Error parsing vertex in PLY file FILE"},
        {"tri", "0 0 0 1 0 0 0 1\n", "Error parsing TRI file FILE: 0 0 0 1 0 0 0 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadError(c.ext, c.content), c.message) << c.content;
    FacetManager<float> m;
    EXPECT_THROW(ReadStL("/nonexistent/x.stl", {}, 1, m, false), std::runtime_error);
}

TEST(PLYReader, MalformedHeaders) {
    EXPECT_EQ(ReadError("ply", "plx\n"), "Not a PLY file: FILE");
    EXPECT_EQ(ReadError("ply", "ply\nformat binary_middle_endian 1.0\n"),
              "Error parsing format in PLY file FILE: format binary_middle_endian 1.0");
    EXPECT_EQ(ReadError("ply", "ply\nformat ascii 1.0\nelement vertex\n"),
              "Error parsing element in PLY file FILE: element vertex");
    EXPECT_EQ(ReadError("ply", "ply\nformat ascii 1.0\nproperty float x\n"),
              "Property doesn't belong to any element in PLY file FILE: property float x");
    EXPECT_EQ(ReadError("ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float\n"),
              "Error parsing property in PLY file FILE: property float");
    EXPECT_EQ(ReadError("ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty quad x\n"),
              "Error parsing PLY property type: quad in PLY file FILE: property quad x");
    EXPECT_EQ(ReadError("ply", "ply\nformat ascii 1.0\nbogus\n"), "Unexpected line in PLY header: bogus in PLY file FILE");
    EXPECT_EQ(ReadError("ply", "ply\nformat ascii 1.0\nelement face 1\nproperty list uchar int vertex_indices\n"
                               "element vertex 3\nproperty float x\nproperty float y\nproperty float z\nend_header\n"),
              "Vertices must come before faces or triangle strips in PLY file FILE");
    EXPECT_EQ(PlyPropertySize(10), 8u);
    EXPECT_EQ(ParsePlyPropertyType("uint16"), 4);
    EXPECT_THROW(PlyPropertySize(11), std::runtime_error);
}

TEST(PLYReader, EmptyHeaderLineIsOnlyAMessage) {
    std::istringstream in("ply\nformat ascii 1.0\n\nelement vertex 3\nproperty float x\nproperty float y\n"
                          "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
                          "0 0 0 1 0 0\n0 1 0 3 0 1 2\n");
    std::string messages;
    FacetManager<float> m([&](const std::string& t, bool) { messages += t; });
    MeshBuilder<float> mesh(m, {}, 1, false);
    ReadPLY(in, "x.ply", mesh);
    EXPECT_EQ(messages, "Empty line in PLY header\n");
    EXPECT_EQ(m.GetFacets().size(), 1u);
}

TEST(TRIReader, CommentsAndBlankLines) {
    std::istringstream in("# header\n\n0 0 0 1 0 0 0 1 0 # one\n  \r\n0 0 1 1 0 1 0 1 1\n");
    FacetManager<double> m;
    MeshBuilder<double> mesh(m, {}, 1, false);
    ReadTRI(in, "x.tri", mesh);
    EXPECT_EQ(m.GetFacets().size(), 2u);
    EXPECT_EQ(m.GetVertices().size(), 6u);
}

TEST(TableReaders, SplitOrFixedWidthAndObjectFilter) {
    std::istringstream vertices("123456789\n1 2 3 # comment\n\n 7.5\t8 9\r\n");
    std::istringstream facets("1 1 2 3\n2 3 2 1\n   1   3   2   1\n");
    FacetManager<double> m;
    MeshBuilder<double> mesh(m, {}, 5, false);
    ReadVertexFacetTables(vertices, "v.txt", facets, "f.txt", 1, mesh);
    ASSERT_EQ(m.GetVertices().size(), 3u);
    EXPECT_EQ(m.GetVertices()[0].x, 123);
    EXPECT_EQ(m.GetVertices()[0].z, 789);
    EXPECT_EQ(m.GetVertices()[2].x, 7.5);
    ASSERT_EQ(m.GetFacets().size(), 2u);
    EXPECT_EQ(m.GetFacets()[1].V0, 2u);
    EXPECT_EQ(m.GetFacets()[1].ObjectID, 5u);
}

TEST(TableReaders, Errors) {
    auto read = [](const std::string& v, const std::string& f) {
        std::istringstream vertices(v), facets(f);
        FacetManager<double> m;
        MeshBuilder<double> mesh(m, {}, 5, false);
        return ErrorOf([&] { ReadVertexFacetTables(vertices, "v.txt", facets, "f.txt", 1, mesh); });
    };
    const std::string v = "0 0 0\n1 0 0\n0 1 0\n";
    EXPECT_EQ(read(v, "1 1 2 4\n"), "invalid vector<T> subscript");
    EXPECT_EQ(read(v, "1 0 2 3\n"), "invalid vector<T> subscript");
    EXPECT_EQ(read(v, "1 1 2\n"), "Can't split line: 1 1 2 while reading f.txt");
    EXPECT_EQ(read("1 23\n", ""), "Can't split line: 1 23 while reading v.txt");
    EXPECT_EQ(read("1 2\n", ""), "Error parsing vertex file v.txt: 1 2");
    EXPECT_EQ(read("a b c\n", ""), "Error parsing vertex file v.txt: a b c");
}

TEST_F(IndependentMeshes, MutatedFilesFailCleanly) {
    std::mt19937_64 rng(2024);
    int failures = 0, reads = 0;
    for (const Expected& e : expected) {
        const std::string original = testutil::ReadFile(dir->File(e.name));
        const std::string ext = e.name.substr(e.name.rfind('.') + 1);
        if (ext == "vtx") continue;
        for (int round = 0; round < 60; ++round) {
            std::string data = original;
            auto at = [&](std::mt19937_64& r) { return static_cast<std::size_t>(r() % data.size()); };
            const int edits = 1 + round % 4;
            for (int k = 0; k < edits; ++k) {
                switch (rng() % 4) {
                case 0: data[at(rng)] = static_cast<char>(rng()); break;
                case 1: data.resize(at(rng)); break;
                case 2: data.insert(at(rng), 1, "0123456789 -+.e\n\r\xff"[rng() % 19]); break;
                default: data[at(rng)] = static_cast<char>(0x80 | rng()); break;
                }
                if (data.empty()) break;
            }
            std::istringstream in(data);
            FacetManager<float> store([](const std::string&, bool) {});
            MeshBuilder<float> mesh(store, {}, 1, false);
            ++reads;
            try {
                if (ext == "stl") ReadStL(in, e.name, mesh);
                else if (ext == "off") ReadOFF(in, e.name, mesh);
                else if (ext == "ply") ReadPLY(in, e.name, mesh);
                else ReadTRI(in, e.name, mesh);
            } catch (const std::runtime_error& error) {
                ++failures;
                EXPECT_NE(std::string(error.what()).find(e.name), std::string::npos) << error.what();
            }
            for (const Facet& f : store.GetFacets())
                ASSERT_TRUE(f.V0 < store.GetVertices().size() && f.V1 < store.GetVertices().size() &&
                            f.V2 < store.GetVertices().size());
        }
    }
    EXPECT_GT(failures, reads / 10);
}

TEST_F(IndependentMeshes, CompressedFilesReadLikePlainOnes) {
    for (const char* name : {"meshio.off", "meshio_ascii.ply", "meshio_ascii.stl", "mesh.tri"}) {
        SCOPED_TRACE(name);
        const std::string packed = dir->File(std::string(name) + ".xrc");
        datafiles::CompressFile(dir->File(name), packed);
        EXPECT_EQ(testutil::ReadFile(packed).substr(0, 4), "XRTC");
        FacetManager<double> plain, compressed;
        ReadByExtension(dir->File(name), plain);
        const std::string ext = std::string(name).substr(std::string(name).rfind('.') + 1);
        const std::string renamed = dir->File(std::string("packed.") + ext);
        std::rename(packed.c_str(), renamed.c_str());
        ReadByExtension(renamed, compressed);
        EXPECT_EQ(Canonical(compressed), Canonical(plain));
        EXPECT_EQ(compressed.GetVertices().size(), plain.GetVertices().size());

        // A truncated compressed file and a directory fail naming the file.
        const std::string cut = dir->File(std::string("cut.") + ext);
        testutil::WriteFile(cut, testutil::ReadFile(renamed).substr(0, 40));
        const std::string folder = dir->File(std::string("folder.") + ext);
        std::filesystem::create_directories(folder);
        for (const std::string& bad : {cut, folder}) {
            FacetManager<double> store([](const std::string&, bool) {});
            try {
                ReadByExtension(bad, store);
                ADD_FAILURE() << bad;
            } catch (const std::runtime_error& error) {
                EXPECT_NE(std::string(error.what()).find(bad), std::string::npos) << error.what();
            }
        }
    }
}

using namespace geometry;

namespace {

using Triangle = std::array<double, 9>;

struct MeshioView {
    std::size_t points = 0;
    std::vector<Triangle> triangles;
};

// What meshio reads from each file, all in one interpreter.
std::vector<MeshioView> ReadWithMeshio(const std::vector<std::string>& pathsAndFormats) {
    const auto r = testutil::RunPython(testutil::ReadFile(std::string(TARVO_TEST_DATA) + "/geometry/read_mesh.py"),
                                       pathsAndFormats);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<MeshioView> views;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        views.emplace_back();
        views.back().points = std::stoul(line);
        while (std::getline(in, line) && line != "end") {
            std::istringstream fields(line);
            Triangle t;
            for (double& x : t)
                fields >> x;
            views.back().triangles.push_back(t);
        }
    }
    return views;
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
    const std::vector<std::string> names = {"part.off", "part.ply", "ascii.stl", "binary.stl"};
    std::vector<std::string> pathsAndFormats;
    for (const std::string& file : names) {
        pathsAndFormats.push_back(dir.File(file));
        pathsAndFormats.push_back(file.substr(file.size() - 3));
    }
    const std::vector<MeshioView> views = ReadWithMeshio(pathsAndFormats);
    ASSERT_EQ(views.size(), names.size());
    for (std::size_t n = 0; n < names.size(); ++n) {
        const std::string& file = names[n];
        SCOPED_TRACE(file);
        const MeshioView& view = views[n];
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

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "DetectorScene.h"
#include "common/TestUtil.h"
#include "datafiles/XRTCStream.h"
#include "detectors/Normalisation.h"
#include "materials/TestErrors.h"

namespace {

struct Hit {
    double row, column, energy, weight;
    std::uint32_t interactions;
};
const Hit Hits[] = {{0, 0, 30, 1, 0}, {0, 0, 40, 2, 0}, {1, 2, 50, 0.5, 1}, {2, 3, 60, 1.5, 2},
                    {1, 2, 20, 1, 0}, {2, 3, 70, 2, 1}, {2, 0, 10, 0.25, 3}};

DetectorScene Detector(const std::string& keys) {
    DetectorScene scene("[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (2, 0, 0)\n"
                        "Side2 = (0, 3, 0)\nPixelColumns = 4\nPixelRows = 3\n" +
                        keys + "[EndObject]\n");
    for (const Hit& h : Hits) {
        TParticle p = Photon(h.energy, h.weight, h.interactions);
        scene.Plane().Register(h.row + 0.5, h.column + 0.5, p, 1);
    }
    return scene;
}

ImageWriterOptions Options(ImageType type, PixelType pixels, bool compress) {
    ImageWriterOptions o;
    o.Type = type;
    o.Pixels = pixels;
    o.Compress = compress;
    o.CountScale = 2;
    o.EnergyScale = 3;
    o.ErrorScale = 5;
    o.Software = "Tarvo test";
    o.Description = "1000 particles, seed 7";
    return o;
}

// Rows of tab-separated numbers.
std::vector<std::vector<double>> ReadTable(const std::string& file) {
    std::vector<std::vector<double>> rows;
    std::istringstream in(testutil::ReadFile(file));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        rows.emplace_back();
        for (double v; fields >> v;)
            rows.back().push_back(v);
    }
    return rows;
}

} // namespace

// Every format and pixel type of a simple detector's classes, read back by numpy and
// tifffile and checked against sums formed from the registrations themselves.
TEST(ImageOutput, EveryFormatReadsBackWithItsScale) {
    testutil::TempDir dir;
    DetectorScene scene = Detector("OutputNumberOfInteractions = 1\nWriteSquareCount = true\n");
    struct Config {
        ImageType type;
        PixelType pixels;
        bool compress;
    };
    const Config configs[] = {
        {ImageType::TXT, PixelType::Default, false}, {ImageType::Vimo, PixelType::Default, false},
        {ImageType::PGM, PixelType::Default, false}, {ImageType::RAW, PixelType::Default, false},
        {ImageType::RAW, PixelType::Double, false},  {ImageType::RAW, PixelType::UInt16, false},
        {ImageType::TIFF, PixelType::Float, false},  {ImageType::TIFF, PixelType::Double, false},
        {ImageType::TIFF, PixelType::UInt16, true},  {ImageType::TXT, PixelType::Default, true},
        {ImageType::Vimo, PixelType::Default, true}, {ImageType::PGM, PixelType::Default, true},
    };
    std::ostringstream hits;
    for (const Hit& h : Hits)
        hits << h.row << " " << h.column << " " << h.energy << " " << h.weight << " " << h.interactions
             << "\n";
    testutil::WriteFile(dir.File("hits.txt"), hits.str());
    for (std::size_t i = 0; i < std::size(configs); ++i) {
        const Config& c = configs[i];
        std::filesystem::create_directory(dir.File("c" + std::to_string(i)));
        const std::string base = dir.File("c" + std::to_string(i) + "/det");
        scene.Plane().WriteResults(base, Options(c.type, c.pixels, c.compress));
        if (!c.compress || c.type == ImageType::TIFF)
            continue;
        // A compressed image decompresses to the plain one.
        const std::string ext = c.type == ImageType::TXT    ? ".txt"
                                : c.type == ImageType::Vimo ? ".ascii"
                                                            : ".pgm";
        datafiles::DecompressFile(base + "_total_error" + ext + ".xrc", dir.File("decompressed"));
        std::filesystem::create_directory(dir.File("plain"));
        scene.Plane().WriteResults(dir.File("plain/det"), Options(c.type, c.pixels, false));
        EXPECT_EQ(testutil::ReadFile(dir.File("decompressed")),
                  testutil::ReadFile(dir.File("plain/det_total_error" + ext)));
    }
    const std::string script = R"PY(
import glob, math, os, re, sys
import numpy as np, tifffile
d = sys.argv[1]
hits = np.loadtxt(os.path.join(d, 'hits.txt'), ndmin=2)
# planes: 0 primary, 1 scattered, 2 exactly once
cells = np.zeros((3, 3, 4, 3))
for r, c, e, w, k in hits:
    planes = [0] if k == 0 else ([1, 2] if k == 1 else [1])
    for p in planes:
        cells[p, int(r), int(c)] += [w, w * w, e * w]
classes = {'primary': cells[0], 'total': cells[0] + cells[1], 'scattered': cells[1], 'scattered1': cells[2]}
def field(cls, name):
    a = classes[cls]
    if name == 'count': return a[..., 0] * 2
    if name == 'squarecount': return a[..., 1]
    if name == 'energy': return a[..., 2] * 3
    with np.errstate(invalid='ignore', divide='ignore'):
        return np.where(a[..., 0] > 0, np.sqrt(a[..., 1]) / a[..., 0], 0) * 5
seen = set()
for path in sorted(glob.glob(os.path.join(d, 'c*', 'det_*'))):
    name = os.path.basename(path)
    m = re.match(r'det_(primary|total|scattered1|scattered)_(count|error|energy|squarecount)\.(.*)$', name)
    assert m, name
    cls, fld, ext = m.groups()
    want = field(cls, fld)
    seen.add((cls, fld))
    if ext.endswith('.xrc'):
        continue
    if ext == 'txt' or ext == 'ascii':
        lines = open(path).read().split('\n')
        assert lines[-1] == '', name
        if ext == 'ascii':
            assert lines[0] == '4\t3\t0\t0', (name, lines[0])
            lines = lines[1:]
        for line in lines[:-1]:
            for f in line.split('\t'):
                assert re.fullmatch(r'-?\d\.\d{12}e[+-]\d\d', f), (name, f)
        got = np.array([[float(f) for f in l.split('\t')] for l in lines[:-1]])
        assert got.shape == (3, 4), (name, got.shape)
        assert np.allclose(got, want, rtol=1e-11, atol=0), (name, got, want)
    elif ext == 'pgm':
        text = open(path).read()
        assert text.startswith('P2\n4 3\n65535\n'), name
        got = np.array([[int(f) for f in l.split('\t')] for l in text.split('\n')[3:-1]])
        assert (got == np.clip(np.trunc(want), 0, 65535)).all(), (name, got, want)
    elif ext.endswith('.raw'):
        m2 = re.fullmatch(r'([sfd])4x3\.raw', ext)
        assert m2, name
        dtype = {'s': '<u2', 'f': '<f4', 'd': '<f8'}[m2.group(1)]
        got = np.fromfile(path, dtype=dtype).reshape(3, 4)
        if dtype == '<u2':
            assert (got == np.trunc(want)).all(), (name, got, want)
        else:
            assert np.allclose(got, want, rtol=1e-6 if dtype == '<f4' else 1e-14), (name, got, want)
    elif ext == 'tiff':
        with tifffile.TiffFile(path) as t:
            page = t.pages[0]
            got = page.asarray()
            tags = page.tags
            assert tags['Software'].value == 'Tarvo test', name
            assert tags['DocumentName'].value == name[:-5], name
            assert tags['ImageDescription'].value == '1000 particles, seed 7', name
            xr, yr = tags['XResolution'].value, tags['YResolution'].value
            assert abs(xr[0] / xr[1] - 2.0) < 1e-8 and abs(yr[0] / yr[1] - 1.0) < 1e-8, (xr, yr)
            assert tags['ResolutionUnit'].value == 3
        assert got.shape == (3, 4), name
        if got.dtype == np.uint16:
            assert (got == np.trunc(want)).all(), (name, got, want)
        else:
            assert got.dtype in (np.float32, np.float64) and np.allclose(got, want, rtol=1e-6), (name, got.dtype)
    else:
        raise AssertionError(name)
assert len(seen) == 16, sorted(seen)
print('OK')
)PY";
    const testutil::RunResult r = testutil::RunPython(script, {dir.Path()});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "OK\n") << r.err;
}

TEST(ImageOutput, ImageDetectorsWriteTheirOneClass) {
    testutil::TempDir dir;
    struct Case {
        const char* keys;
        const char* suffix;
        std::vector<double> pixels; // row-major, unscaled
    };
    const Case cases[] = {
        {"Energy = false\n", "_primary_count", {3, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}},
        {"Dose = true\nTotalOnly = true\n", "_total_energy", {110, 0, 0, 0, 0, 0, 45, 0, 2.5, 0, 0, 230}},
        {"Energy = true\nScatterOnly = true\n",
         "_scattered_energy",
         {0, 0, 0, 0, 0, 0, 25, 0, 2.5, 0, 0, 230}},
        {"Energy = true\nScatterOnly = true\nOutputNumberOfInteractions = 1\n",
         "_1_energy",
         {0, 0, 0, 0, 0, 0, 25, 0, 0, 0, 0, 140}},
    };
    for (const Case& c : cases) {
        DetectorScene scene = Detector(c.keys);
        const std::string base = dir.File("img");
        scene.Plane().WriteResults(base, Options(ImageType::TXT, PixelType::Default, false));
        const auto rows = ReadTable(base + c.suffix + ".txt");
        ASSERT_EQ(rows.size(), 3u) << c.keys;
        const double scale = std::string(c.suffix).find("energy") != std::string::npos ? 3 : 2;
        for (std::size_t i = 0; i < 12; ++i)
            EXPECT_NEAR(rows[i / 4][i % 4], c.pixels[i] * scale, 1e-9) << c.keys << " pixel " << i;
        std::filesystem::remove(base + c.suffix + ".txt");
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << c.keys;
    }
}

TEST(ImageOutput, SixteenBitClampingNarrowImagesAndFailedWrites) {
    testutil::TempDir dir;
    const double values[] = {std::numeric_limits<double>::quiet_NaN(), -1, 70000, 3.7};
    const ImageAccessor<double> image(values, 4, 1);
    std::vector<std::string> warnings;
    ImageWriterOptions options;
    options.Warn = [&](const std::string& w) { warnings.push_back(w); };
    ImageFile file;
    file.ClassName = dir.File("narrow");
    file.Pixels = PixelType::UInt16;
    for (const ImageType type : {ImageType::RAW, ImageType::PGM, ImageType::Vimo}) {
        options.Type = type;
        WriteImage(image, file, options);
    }
    ASSERT_EQ(warnings.size(), 2u); // one per 16-bit file
    EXPECT_NE(warnings[0].find(file.ClassName + ".s1x4.raw"), std::string::npos) << warnings[0];
    const std::string raw = testutil::ReadFile(file.ClassName + ".s1x4.raw");
    ASSERT_EQ(raw.size(), 8u);
    const std::uint16_t expected[] = {0, 0, 65535, 3};
    EXPECT_EQ(std::memcmp(raw.data(), expected, 8), 0);
    EXPECT_EQ(testutil::ReadFile(file.ClassName + ".pgm"), "P2\n1 4\n65535\n0\n0\n65535\n3\n");
    EXPECT_EQ(testutil::ReadFile(file.ClassName + ".ascii").substr(0, 4), "1\t4\n");

    const double twelve[12] = {};
    file.Pixels = PixelType::Double;
    options.Type = ImageType::RAW;
    WriteImage(ImageAccessor<double>(twelve, 3, 4), file, options);
    EXPECT_EQ(std::filesystem::file_size(file.ClassName + ".d4x3.raw"), 96u);

    // A write that fails halfway keeps the older file and leaves no temporary behind.
    struct Failing : ImageAccessor<double> {
        using ImageAccessor<double>::ImageAccessor;
        double Value(std::uint64_t row, std::uint64_t column) const override {
            if (row == 3)
                throw std::runtime_error("Index out of bounds");
            return ImageAccessor<double>::Value(row, column);
        }
    };
    options.Type = ImageType::TXT;
    testutil::WriteFile(file.ClassName + ".txt", "old");
    EXPECT_EQ(ErrorOf([&] { WriteImage(Failing(values, 4, 1), file, options); }),
              "Error writing " + file.ClassName + ".txt: Index out of bounds");
    EXPECT_EQ(testutil::ReadFile(file.ClassName + ".txt"), "old");
    EXPECT_FALSE(std::filesystem::exists(file.ClassName + ".txt.tmp"));
    WriteImage(image, file, options);
    EXPECT_NE(testutil::ReadFile(file.ClassName + ".txt"), "old");
    EXPECT_FALSE(std::filesystem::exists(file.ClassName + ".txt.tmp"));
}

TEST(Normalisation, OpenFieldIsThePixelsShareOfTheCone) {
    EXPECT_NEAR(TriangleSolidAngle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}), M_PI / 2, 1e-12);
    // 101 x 101 pixels of 1 mm at 1 m: the centre pixel sits on the axis.
    DetectorScene scene(
        "[Object]\nObjectType = PlaneDetector\nBaseCenter = (0, 0, 100)\nSide1 = (10.1, 0, 0)\n"
        "Side2 = (0, 10.1, 0)\nPixelPitch = 1\nLengthUnit = mm\n[EndObject]\n");
    SourceBeam source;
    source.HalfConeAngle = 0.1;
    const double pixel = 4 * std::atan(0.05 * 0.05 / (100 * std::sqrt(100 * 100 + 2 * 0.05 * 0.05)));
    EXPECT_NEAR(OpenFieldFactor(scene.Plane(), source), pixel / (2 * M_PI * (1 - std::cos(0.1))), 1e-15);
    source.HalfConeAngle = 0;
    EXPECT_EQ(OpenFieldFactor(scene.Plane(), source), 0);
}

TEST(Normalisation, ImageScales) {
    struct Case {
        bool perParticle;
        std::uint64_t images, errors;
        double openField, count, energy, error;
        bool warns;
    };
    const Case cases[] = {
        {true, 0, 0, 0.5, 1e-3, 1e-3, 1, false},      {false, 0, 7, 0.5, 1, 1, 7, false},
        {true, 100, 0, 0.5, 0.2, 0.2 / 40, 1, false}, {false, 100, 0, 0.5, 0.2, 0.2 / 40, 1, false},
        {true, 100, 3, 0, 1e-3, 1e-3, 3, true},
    };
    for (const Case& c : cases) {
        ImageWriterOptions options;
        std::vector<std::string> warnings;
        SetImageScales(options, 1000, c.perParticle, c.images, c.errors, c.openField, 40,
                       [&](const std::string& w) { warnings.push_back(w); });
        EXPECT_DOUBLE_EQ(options.CountScale, c.count);
        EXPECT_DOUBLE_EQ(options.EnergyScale, c.energy);
        EXPECT_EQ(options.ErrorScale, c.error);
        EXPECT_EQ(warnings.size(), c.warns ? 1u : 0u);
    }
}

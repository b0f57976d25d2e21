// Black-box checks of the sources: tarvo-emit runs checked by an independent numpy
// script (tests/data/sources/check_emission.py).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/TestUtil.h"
#include "datafiles/XRTCStream.h"

using testutil::WriteFile;

namespace {

const std::string kChecker = std::string(TARVO_TEST_DATA) + "/sources/check_emission.py";

std::string EmissionConfig(const std::string& keys, const std::string& extra = "") {
    return "[ApplicationTask]\nRandomSeed = 11\n[EndApplicationTask]\n[Objects]\n[Object]\nObjectType = "
           "Source\n" +
           keys + "[EndObject]\n" + extra + "[EndObjects]\n";
}

// Runs tarvo-emit on a configuration with the given source keys; returns the
// output file's name.
std::string Emit(const testutil::TempDir& dir, const std::string& name, const std::string& keys, int count,
                 const std::vector<std::string>& options = {}) {
    WriteFile(dir.File(name + ".ini"), EmissionConfig(keys));
    std::vector<std::string> args = {dir.File(name + ".ini"), std::to_string(count)};
    args.insert(args.end(), options.begin(), options.end());
    const testutil::RunResult r = testutil::Run(TARVO_EMIT, args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    WriteFile(dir.File(name + ".out"), r.out);
    return dir.File(name + ".out");
}

// Collects checks of emission outputs and runs them in one interpreter.
class Checks {
public:
    void Add(const std::string& check, const std::string& params, const std::vector<std::string>& outputs) {
        if (!args_.empty())
            args_.push_back("--");
        args_.push_back(check);
        args_.push_back(params);
        args_.insert(args_.end(), outputs.begin(), outputs.end());
    }
    ::testing::AssertionResult Run() const {
        std::vector<std::string> args = {kChecker};
        args.insert(args.end(), args_.begin(), args_.end());
        const testutil::RunResult r = testutil::Run(TARVO_PYTHON, args);
        if (r.exitCode == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << r.out << r.err;
    }

private:
    std::vector<std::string> args_;
};

struct ShapeCase {
    const char* keys;
    const char* params;
};

} // namespace

// Positions mapped back to the unit body are uniform in the body's own measure.
TEST(SourceEmission, ShapesFillTheirBodiesUniformly) {
    const ShapeCase cases[] = {
        {"Energy = 50\nDirection = (0.7, 1.1)\nBaseCenter = (1, 2, 3)\nSide1 = (3, 0, 0)\n"
         "Side2 = (0.5, 1, 0)\nSide3 = (0, 0.2, 2)\n",
         R"({"shape": "cuboid", "theta": 0.7, "phi": 1.1, "center": [1, 2, 3],
             "sides": [[3, 0, 0], [0.5, 1, 0], [0, 0.2, 2]], "draws": 60000})"},
        {"Energy = 50\nDirection = (2.5, -0.4)\nSide1 = (3, 0, 0)\nSide2 = (0, 1, 0)\n",
         R"({"shape": "cuboid", "theta": 2.5, "phi": -0.4, "sides": [[3, 0, 0], [0, 1, 0], [0, 0, 0]],
             "draws": 40000})"},
        {"Energy = 50\nShape = Cylinder\nDirection = (1.2, 0.3)\nBaseCenter = (0, 0, 5)\nSide1 = (4, 0, 0)\n"
         "Side2 = (0, 1, 0)\nSide3 = (0, 0, 3)\n",
         R"({"shape": "cylinder", "theta": 1.2, "phi": 0.3, "center": [0, 0, 5],
             "sides": [[4, 0, 0], [0, 1, 0], [0, 0, 3]]})"},
        {"Energy = 50\nShape = ellipsoid\nSide1 = (4, 0, 0)\nSide2 = (0, 1, 0)\n",
         R"({"shape": "cylinder", "sides": [[4, 0, 0], [0, 1, 0], [0, 0, 0]], "draws": 40000})"},
        {"Energy = 50\nShape = Ellipsoid\nDirection = (0.3, 0.2)\nSide1 = (2, 0, 0)\nSide2 = (0, 5, 0)\n"
         "Side3 = (0, 0, 1)\n",
         R"({"shape": "ellipsoid", "theta": 0.3, "phi": 0.2, "sides": [[2, 0, 0], [0, 5, 0], [0, 0, 1]]})"},
        {"Energy = 50\nShape = SemiEllipsoid\nDirection = (3, 4, 5)\nSide1 = (2, 0, 0)\nSide2 = (0, 3, 0)\n"
         "Side3 = (0, 0, 4)\n",
         R"({"shape": "semiellipsoid", "theta": 0.7853981633974483, "phi": 0.9272952180016122,
             "sides": [[2, 0, 0], [0, 3, 0], [0, 0, 4]]})"},
    };
    testutil::TempDir dir;
    Checks checks;
    int i = 0;
    for (const ShapeCase& c : cases) {
        const std::string out = Emit(dir, "shape" + std::to_string(i++), c.keys, 20000);
        checks.Add("shape", c.params, {out});
    }
    EXPECT_TRUE(checks.Run());
}

TEST(SourceEmission, PointPencilSourceOfOneEnergyDrawsNothing) {
    testutil::TempDir dir;
    Checks checks;
    const std::string out =
        Emit(dir, "point", "Energy = 20\nDirection = (0.5, 2)\nBaseCenter = (1, -2, 7)\n", 50);
    checks.Add("point", R"({"theta": 0.5, "phi": 2, "center": [1, -2, 7], "draws": 0})", {out});
    // Only "Origin" is in the section's length unit; "BaseCenter" is always in cm.
    const std::string mm = Emit(dir, "mm", "Energy = 20\nLengthUnit = mm\nOrigin = (10, 0, 0)\n", 5);
    checks.Add("point", R"({"center": [1, 0, 0], "draws": 0})", {mm});
    const std::string cm = Emit(dir, "cm", "Energy = 20\nLengthUnit = mm\nBaseCenter = (10, 0, 0)\n", 5);
    checks.Add("point", R"({"center": [10, 0, 0], "draws": 0})", {cm});
    // A spectrum of one line needs no number either.
    const std::string line = Emit(dir, "line", "[Spectrum]\n30 = 1\n[EndSpectrum]\n", 50);
    checks.Add("spectrum", R"({"energies": [30], "weights": [1], "draws": 0})", {line});
    EXPECT_TRUE(checks.Run());
}

// A cone is uniform in solid angle; a window decides acceptance only (the same
// numbers are drawn with and without it); "toward" aims at the point and rejects
// what leaves the cone.
TEST(SourceEmission, ConeWindowAndTargetShapeTheDirections) {
    testutil::TempDir dir;
    Checks checks;
    const std::string cone = Emit(dir, "cone", "Energy = 20\nDirection = (0.4, -2)\nConeAngle = 0.5\n", 20000);
    checks.Add("cone", R"({"theta": 0.4, "phi": -2, "cone": 0.5, "draws": 40000})", {cone});
    const std::string keys = "Direction = (0.3, 0.5)\nConeAngle = 0.6\nSide1 = (2, 0, 0)\nSide2 = (0, 1, 0)\n"
                             "[Spectrum]\n20 = 1\n40 = 1\n[EndSpectrum]\n";
    const std::string window = "WindowLeft = -0.2\nWindowRight = 0.4\nWindowTop = 0.3\nWindowBottom = -0.5\n";
    const std::string with = Emit(dir, "with", keys + window, 20000);
    const std::string without = Emit(dir, "without", keys, 20000);
    checks.Add("window", R"({"theta": 0.3, "phi": 0.5, "cone": 0.6, "window": [-0.2, 0.4, 0.3, -0.5],
                                    "draws": 100000})",
               {with});
    checks.Add("same", "{}", {with, without});
    const std::string toward =
        Emit(dir, "toward", "Energy = 20\nConeAngle = 0.3\nSide1 = (5, 0, 0)\nSide2 = (0, 5, 0)\n", 2000,
             {"--toward", "8,0,20"});
    checks.Add("toward", R"({"target": [8, 0, 20], "cone": 0.3, "draws": 4000})", {toward});
    EXPECT_TRUE(checks.Run());
}

// Spectrum file rules: only the lines after the last "[Spectrum]" header and before
// "#EOF" count, and only positive pairs; a compressed copy reads alike; a
// "Spectrum" sub-section holds "energy = intensity" lines.
TEST(SourceEmission, SpectrumLinesAreSampledByProbability) {
    testutil::TempDir dir;
    Checks checks;
    WriteFile(dir.File("tube.txt"), "# tube\n10 0\n15 4\n[Other]\n99 5\n[Spectrum]\n20 1\n30 2 keV\n-5 3\n\n"
                                    "; note\n40 0\n60 1\n#  EOF\n50 9\n[Other]\n70 1\n");
    datafiles::CompressFile(dir.File("tube.txt"), dir.File("tube.xrc"));
    const std::string plain = Emit(dir, "plain", "Spectrum = tube.txt\n", 20000);
    const std::string packed = Emit(dir, "packed", "Spectrum = tube.xrc\n", 20000);
    checks.Add("spectrum", R"({"energies": [20, 30, 60], "weights": [1, 2, 1], "draws": 20000})", {plain});
    EXPECT_EQ(testutil::ReadFile(plain), testutil::ReadFile(packed));
    const std::string out = Emit(dir, "sub", "[Spectrum]\n30 = 1\n60 = 3\n[EndSpectrum]\n", 20000);
    checks.Add("spectrum", R"({"energies": [30, 60], "weights": [1, 3]})", {out});
    EXPECT_TRUE(checks.Run());
}

// A TIFF map and raw maps of both byte orders give the same weights, each the map's
// value at the pixel under the emission point.
TEST(SourceEmission, IntensityMapsWeightParticlesByPixel) {
    testutil::TempDir dir;
    Checks checks;
    const testutil::RunResult made =
        testutil::RunPython("import numpy as np, tifffile, sys\n"
                            "m = np.random.default_rng(3).integers(1, 1000, size=(8, 5)).astype(np.uint16)\n"
                            "d = sys.argv[1]\n"
                            "tifffile.imwrite(d + '/map.tif', m)\n"
                            "m.astype('>u2').tofile(d + '/map.BE.s8x5.raw')\n"
                            "m.astype('<u2').tofile(d + '/map.le.u16_8x5.bin')\n"
                            "print(m.tolist())\n",
                            {dir.Path()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string keys = "Energy = 20\nSide1 = (4, 0, 0)\nSide2 = (0, 2, 0)\nIntensityMap = ";
    const std::string tif = Emit(dir, "tif", keys + "map.tif\n", 20000);
    const std::string be = Emit(dir, "be", keys + "map.BE.s8x5.raw\n", 20000);
    const std::string le = Emit(dir, "le", keys + "map.le.u16_8x5.bin\n", 20000);
    checks.Add("map", R"({"sides": [[4, 0, 0], [0, 2, 0]], "map": )" + made.out + "}", {tif});
    checks.Add("same", "{}", {tif, be});
    checks.Add("same", "{}", {tif, le});
    EXPECT_TRUE(checks.Run());
}

struct ErrorCase {
    const char* keys;
    const char* message;
};

TEST(SourceEmission, BadSourcesAreRefusedNamingTheProblem) {
    testutil::TempDir dir;
    WriteFile(dir.File("short.s4x4.raw"), std::string(20, '\1'));
    WriteFile(dir.File("neg.i16_1x2.raw"), std::string("\xff\xff\x01\x00", 4));
    WriteFile(dir.File("zero.u8_2x2.raw"), std::string(4, '\0'));
    WriteFile(dir.File("empty.s0x4.raw"), "");
    WriteFile(dir.File("odd.q2x2.raw"), std::string(8, '\1'));
    WriteFile(dir.File("map.txt"), "1 2 3\n");
    WriteFile(dir.File("comments.txt"), "# nothing\n; here\n");
    const ErrorCase cases[] = {
        {"Energy = 1\nSide1 = (1, 0, 0)\nIntensityMap = short.s4x4.raw\n", "short.s4x4.raw holds 20 bytes"},
        {"Energy = 1\nSide1 = (1, 0, 0)\nIntensityMap = neg.i16_1x2.raw\n",
         "neg.i16_1x2.raw holds a negative"},
        {"Energy = 1\nSide1 = (1, 0, 0)\nIntensityMap = zero.u8_2x2.raw\n",
         "zero.u8_2x2.raw has no positive"},
        {"Energy = 1\nSide1 = (1, 0, 0)\nIntensityMap = empty.s0x4.raw\n", "empty.s0x4.raw has no rows"},
        {"Energy = 1\nSide1 = (1, 0, 0)\nIntensityMap = odd.q2x2.raw\n", "Unknown raw sample type q in"},
        {"Energy = 1\nSide1 = (1, 0, 0)\nIntensityMap = map.txt\n", "map.txt (as TIFF: "},
        {"Energy = 1\nIntensityMap = none.s2x2.raw\n", "TMonochromaticSource: Error opening file "},
        {"Energy = 1\nConeAngle = 180\n", "TMonochromaticSource: TBasicSource: ConeAngle is a half angle"},
        {"Energy = 0\n", "TMonochromaticSource: Energy must be a positive number of keV: 0"},
        {"Side1 = (1, 0, 0)\n", "TMonochromaticSource: Can't find variable Energy"},
        {"Energy = 1\nDirection = (0, 0, 0)\n", "Direction must not be the zero vector"},
        {"Energy = 1\nDirection = (1, 2, 3, 4)\n", "Problem getting Direction"},
        {"Energy = 1\nWindowLeft = 0.2\nWindowRight = 0.1\n",
         "Source window configuration leaves no opening"},
        {"ParticleType = neutron\n[Spectrum]\n30 = 1\n[EndSpectrum]\n",
         "TPolychromaticSource: TBasicSource: Unknown particle type"},
        {"Spectrum = comments.txt\n", "TPolychromaticSource: Empty spectrum!"},
        {"Spectrum = missing.txt\n", "TPolychromaticSource: Could not open "},
        {"Spectrum = comments.txt\n[Spectrum]\n30 = 1\n[EndSpectrum]\n", "Spectrum is given both"},
        {"Energy = 1\nShape = ball\n", "Unknown shape specification: ball"},
        {"ParticleList = list.dat\n", "TListSource: "},
    };
    for (const ErrorCase& c : cases) {
        WriteFile(dir.File("bad.ini"), EmissionConfig(c.keys));
        const testutil::RunResult r = testutil::Run(TARVO_EMIT, {dir.File("bad.ini"), "1"});
        EXPECT_NE(r.exitCode, 0) << c.keys;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.keys << "\n" << r.err;
    }
}

TEST(SourceEmission, RawMapLongerThanItsLayoutIsUsedWithAWarning) {
    testutil::TempDir dir;
    WriteFile(dir.File("long.u8_1x2.raw"), "\1\2\3");
    WriteFile(dir.File("long.ini"),
              EmissionConfig("Energy = 1\nSide1 = (1, 0, 0)\nIntensityMap = long.u8_1x2.raw\n"));
    const testutil::RunResult r = testutil::Run(TARVO_EMIT, {dir.File("long.ini"), "1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Warning: raw map "), std::string::npos) << r.err;
}

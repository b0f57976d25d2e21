#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include "DetectorScene.h"
#include "common/TestUtil.h"
#include "datafiles/ObjectIO.h"
#include "detectors/Spectrometer.h"
#include "materials/TestErrors.h"

using geometry::TCoord;

namespace {

std::string Plane(const std::string& extra) {
    return "[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (4, 0, 0)\nSide2 = (0, 3, "
           "0)\n" +
           extra + "[EndObject]\n";
}

double Sum(const MatrixDetector& d, std::size_t plane = 0) {
    double s = 0;
    for (std::uint64_t p = 0; p < d.GetPixelCount(); ++p)
        s += d.Cell(plane, p)[0];
    return s;
}

// The world point at row and column coordinates (pixel units).
TCoord<double> At(const TPlaneDetector& d, double row, double column) {
    const TCoord<double> a = d.PointA();
    return a + (d.PointB() - a) * (column / double(d.Columns)) + (d.PointC() - a) * (row / double(d.Rows));
}

TCoord<double> Normal(const TPlaneDetector& d) {
    const TCoord<double> n = Cross(d.PointC() - d.PointA(), d.PointB() - d.PointA());
    return n * (1 / Norm(n));
}

std::string LoadError(const std::string& objects) {
    return ErrorOf([&] { DetectorScene scene(objects); });
}

} // namespace

// Hits at pixel centres, at the corners and on the far edges of randomly placed
// planes land in their own pixel; the far edges belong to the last row and column.
TEST(PlaneDetector, RandomPlacementsRegisterInTheRightPixel) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> angle(-180, 180), shift(-20, 20);
    for (int placement = 0; placement < 6; ++placement) {
        std::ostringstream keys;
        keys << "Energy = false\nPixelColumns = 8\nPixelRows = 6\nRotateX = " << angle(random)
             << "\nRotateY = " << angle(random) << "\nRotateZ = " << angle(random) << "\nTranslation = ("
             << shift(random) << ", " << shift(random) << ", " << shift(random) << ")\n";
        DetectorScene scene(Plane(keys.str()));
        TPlaneDetector& d = scene.Plane();
        const TCoord<double> centre = At(d, 3, 4);
        struct Case {
            double row, column;
            std::uint64_t pixel;
        };
        std::vector<Case> cases = {{0, 0, 0}, {6, 8, 47}, {0, 8, 7}, {6, 0, 40}, {3.5, 8, 31}, {6, 2.5, 42}};
        for (std::uint64_t r = 0; r < 6; ++r)
            for (std::uint64_t c = 0; c < 8; ++c)
                cases.push_back({r + 0.5, c + 0.5, r * 8 + c});
        for (const Case& hit : cases) {
            for (const double side : {-1.0, 1.0}) {
                const TCoord<double> target = At(d, hit.row, hit.column);
                // Aim from off-axis points on both sides, as a source would.
                const TCoord<double> from = centre + Normal(d) * (7 * side) + (target - centre) * 0.25;
                const double before = d.Cell(0, hit.pixel)[0];
                TParticle p = Photon();
                ASSERT_EQ(scene.Shoot(from, target, p), TPlaneDetector::Detection)
                    << "placement " << placement << " at " << hit.row << ", " << hit.column;
                EXPECT_EQ(d.Cell(0, hit.pixel)[0], before + 1)
                    << "placement " << placement << " at " << hit.row << ", " << hit.column;
                EXPECT_NEAR(Norm(p.Position - target), 0, 1e-9);
            }
        }
        EXPECT_EQ(Sum(d), 2.0 * double(cases.size()));
    }
}

TEST(PlaneDetector, SplitRegistrationConservesWeightAndKeepsTheCentroid) {
    DetectorScene scene(Plane("Energy = false\nPixelColumns = 5\nPixelRows = 4\nSplitRegistration = true\n"));
    TPlaneDetector& d = scene.Plane();
    std::mt19937 random(3);
    std::uniform_real_distribution<double> u(0, 1);
    double total = 0;
    for (int i = 0; i < 200; ++i) {
        const double row = 4 * u(random), column = 5 * u(random), w = 0.5 + u(random);
        const double before = Sum(d);
        double sumRow = 0, sumColumn = 0;
        std::vector<double> old(20);
        for (std::uint64_t p = 0; p < 20; ++p)
            old[p] = d.Cell(0, p)[0];
        TParticle p = Photon(50, w);
        d.Register(row, column, p, 1);
        total += w;
        for (std::uint64_t q = 0; q < 20; ++q) {
            const double share = d.Cell(0, q)[0] - old[q];
            sumRow += share * (double(q / 5) + 0.5);
            sumColumn += share * (double(q % 5) + 0.5);
        }
        EXPECT_NEAR(Sum(d) - before, w, 1e-12);
        if (row >= 0.5 && row <= 3.5) {
            EXPECT_NEAR(sumRow / w, row, 1e-12);
        }
        if (column >= 0.5 && column <= 4.5) {
            EXPECT_NEAR(sumColumn / w, column, 1e-12);
        }
    }
    EXPECT_NEAR(Sum(d), total, 1e-12);
    // A hit at a pixel centre stays whole there, also at the edges; a hit in the outer
    // half of a corner pixel stays whole in it.
    struct Case {
        double row, column;
        std::uint64_t pixel;
    };
    for (const Case& c :
         {Case{1.5, 2.5, 7}, Case{0.5, 0.5, 0}, Case{3.5, 4.5, 19}, Case{0.2, 4.9, 4}, Case{4, 5, 19}}) {
        const double before = d.Cell(0, c.pixel)[0];
        TParticle p = Photon();
        d.Register(c.row, c.column, p, 1);
        EXPECT_EQ(d.Cell(0, c.pixel)[0], before + 1) << c.row << ", " << c.column;
    }
}

TEST(PlaneDetector, FarEdgesClampRoundingAndRejectHitsOutside) {
    DetectorScene scene(Plane("Energy = false\nPixelColumns = 4\nPixelRows = 3\n"));
    TPlaneDetector& d = scene.Plane();
    TParticle p = Photon();
    d.Register(3 + 1e-10, 4 + 1e-10, p, 1);
    d.Register(-1e-10, -1e-10, p, 1);
    EXPECT_EQ(d.Cell(0, 11)[0], 1);
    EXPECT_EQ(d.Cell(0, 0)[0], 1);
    EXPECT_THROW(d.Register(3.001, 1, p, 1), std::runtime_error);
    EXPECT_THROW(d.RegisterPixel(3, 0, p, 1), std::runtime_error);
}

// The collimator passes exactly its cone (or, with a slit, the fan through the slit),
// from the front only unless BackSide. Front particles travel along +z here.
TEST(PlaneDetector, CollimationTakesExactlyItsConeOrSlit) {
    struct Case {
        const char* keys;
        double tilt;  // degrees from the normal
        bool alongAB; // tilt within the plane through A->B (else through A->C)
        bool fromBack;
        int expected;
    };
    const double inside = std::acos(0.9) * 180 / M_PI - 1e-6, outside = std::acos(0.9) * 180 / M_PI + 1e-6;
    const Case cases[] = {
        {"CosHalfCone = 0.9\n", inside, true, false, TPlaneDetector::Detection},
        {"CosHalfCone = 0.9\n", outside, false, false, -1},
        {"CosHalfCone = 0.9\n", 0, true, true, -1},
        {"CosHalfCone = 0.9\nBackSide = true\n", 0, true, true, TPlaneDetector::Detection},
        {"CosHalfCone = 0.9\nBackSide = true\n", 0, true, false, -1},
        {"CosHalfCone = 0.9\nSlitCollimator = true\n", 60, true, false, TPlaneDetector::Detection},
        {"CosHalfCone = 0.9\nSlitCollimator = true\n", outside, false, false, -1},
        {"CosHalfCone = 0.9\nSlitCollimator = true\nVerticalSlit = true\n", 60, false, false,
         TPlaneDetector::Detection},
        {"CosHalfCone = 0.9\nSlitCollimator = true\nVerticalSlit = true\n", outside, true, false, -1},
        {"", 89, true, true, TPlaneDetector::Detection},
    };
    for (const Case& c : cases) {
        DetectorScene scene(Plane(std::string("Energy = false\n") + c.keys));
        const double t = c.tilt * M_PI / 180;
        const TCoord<double> target(2, 1.5, 0);
        const TCoord<double> sideways = c.alongAB ? TCoord<double>(1, 0, 0) : TCoord<double>(0, 1, 0);
        TCoord<double> direction = sideways * std::sin(t) + TCoord<double>(0, 0, std::cos(t));
        if (c.fromBack)
            direction = -direction;
        TParticle p = Photon();
        EXPECT_EQ(scene.Shoot(target - direction * 5.0, target, p), c.expected)
            << c.keys << " tilt " << c.tilt << (c.alongAB ? " along AB" : " along AC")
            << (c.fromBack ? " back" : "");
    }
}

TEST(PlaneDetector, KeysDefaultsAndSummary) {
    DetectorScene scene(
        "[Object]\nObjectType = Part\nVertexA = (0, 0, 5)\nSide1 = (1, 0, 0)\nSide2 = (0, 1, 0)\n"
        "Side3 = (0, 0, 1)\n[EndObject]\n" +
        Plane("TotalOnly = true\nScatterOnly = true\nPixelPitch = 5\nLengthUnit = mm\n"));
    TPlaneDetector& d = scene.Plane();
    std::ostringstream os;
    d.PrintSummary(os);
    EXPECT_EQ(os.str(), "   Object ID: 1\n   Priority: 2147483647\n"
                        "   DetectorModel: ideal, photons, electrons, positrons\n"
                        "   Transparent: 1\n   Total Radiation Only: 1\n   Scatter Radiation Only: 0\n"
                        "   ScatterCount: 0\n   Shared: 1\n   SplitRegistration: 0\n"
                        "   Point A: ( 0, 0, 0 ) cm, Center: ( 2, 1.5, 0 ) cm\n"
                        "   Point B: ( 4, 0, 0 ) cm, Side1: ( 4, 0, 0 ) cm\n"
                        "   Point C: ( 0, 3, 0 ) cm, Side2: ( 0, 3, 0 ) cm\n"
                        "   Pixel Count AB Edge (columns): 8 [5 mm pixel pitch]\n"
                        "   Pixel Count AC Edge (rows): 6 [5 mm pixel pitch]\n"
                        "   Cosine Of Collimation Angle: -1\n   Slit Collimator: 0\n   Back Side: 0\n"
                        "   Data Type: 64bit floating point, count, energy, rel. error\n");
    geometry::TBoundingBox<double> box;
    ASSERT_TRUE(d.GetObjectBox(box));
    EXPECT_EQ(box.Min, TCoord<double>(0, 0, 0));
    EXPECT_EQ(box.Max, TCoord<double>(4, 3, 0));
}

TEST(PlaneDetector, LoadErrorsNameTheKey) {
    const std::pair<std::string, std::string> cases[] = {
        {Plane("PixelColumns = 0\n"),
         "Object section 1: TSimplePlaneDetector: TPlaneDetector: PixelColumns must be at least 1"},
        {Plane("PixelDimensionAC = 0\n"),
         "Object section 1: TSimplePlaneDetector: TPlaneDetector: PixelRows must be at least 1"},
        {Plane("PixelPitch = 0\n"),
         "Object section 1: TSimplePlaneDetector: TPlaneDetector: PixelPitch must be positive"},
        {Plane("PixelColumns = 4294967296\nPixelRows = 4294967296\n"),
         "Object section 1: MatrixDetector: Not enough memory for 4294967296 rows x 4294967296 columns of "
         "48-byte pixels"},
        {Plane("PixelColumns = 1000000\nPixelRows = 1000000\nShared = false\n"),
         "Object section 1: MatrixDetector: Not enough memory for 1000000 rows x 1000000 columns of 48-byte "
         "pixels (each tracer thread keeps a copy)"},
        {Plane("PixelPitch = 100\n"),
         "Object section 1: TSimplePlaneDetector: TPlaneDetector: PixelPitch is larger than the detector"},
        {"[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nVertexB = (1, 1, 1)\nVertexC = (2, 2, "
         "2)\n"
         "[EndObject]\n",
         "Object section 1: TSimplePlaneDetector: TPlaneDetector: The corners (VertexA, VertexB, VertexC or "
         "Side1, Side2) span "
         "no plane"},
        {Plane("Energy = yes\n"),
         "Object section 1: TImagePlaneDetector: Problem getting Energy as bool: yes"},
        {Plane("OutputNumberOfInteractions = -1\n"),
         "Object section 1: TSimplePlaneDetector: TBasicDetector: Problem getting OutputNumberOfInteractions as "
         "uint32: -1"},
        {Plane("Transparent = 2\n"),
         "Object section 1: TSimplePlaneDetector: TBasicDetector: Problem getting Transparent as bool: 2"},
        {Plane("Cells = Basic\n"),
         "Object section 1: TFlexPlaneDetector: Error creating detector cells: Opening brace missing."},
        {Plane("StopCondition = Count > 5\n"), "Object section 1: TSimplePlaneDetector: MatrixDetector: "
                                               "Don't understand \">\" while parsing StopCondition"},
        {Plane("StopCondition = max, error\n"), "Object section 1: TSimplePlaneDetector: MatrixDetector: No "
                                                "threshold in StopCondition \"max, error\""},
        {Plane(
             "OutputNumberOfInteractions = 2\nStopCondition = median scatter3 error 0.1\nStopCondition = avg "
             "count 5 rows:3-4\nStopCondition = max scatter2 error 0.1 columns:0-9\n"),
         "Object section 1: MatrixDetector: Invalid stop condition(s):\nMedian Scatter3 Error <= 0.1\nAvg "
         "Total Count >= 5 rows:3-4\n"},
        {Plane("Energy = false\nStopCondition = max error 0.1\nStopCondition = min primary count 9\n"
               "StopCondition = min count 9\n"),
         "Object section 1: MatrixDetector: Invalid stop condition(s):\nMax Total Error <= 0.1\nMin Total "
         "Count >= 9\n"},
        {Plane("ScatterOnly = true\nStopCondition = max primary error 0.1\n"),
         "Object section 1: MatrixDetector: Invalid stop condition(s):\nMax Primary Error <= 0.1\n"},
        {Plane("[Registrator]\nType = Histogram\n[EndRegistrator]\n"),
         "Object section 1: TSimplePlaneDetector: TPlaneDetector: Unknown registrator type Histogram"},
        {Plane("DetectorModel = Missing\n"), "DetectorModel not found: Missing"},
    };
    for (const auto& [objects, message] : cases)
        EXPECT_EQ(LoadError(objects), message) << objects;
}

TEST(PlaneDetector, OpaqueDetectorsStopParticlesAndTheModelFiltersTypes) {
    DetectorScene scene(Plane("Energy = false\nTransparent = false\nDetectorModel = Eyes\n"),
                        "[Detectors]\n[Eyes]\nPhotonsOnly = true\n[EndEyes]\n[EndDetectors]\n");
    TParticle photon = Photon(), electron = Photon();
    electron.Type = ParticleElectron;
    EXPECT_EQ(scene.Shoot({1, 1, -5}, {1, 1, 0}, electron), -1);
    EXPECT_EQ(electron.Status, StatusAlive);
    EXPECT_EQ(scene.Shoot({1, 1, -5}, {1, 1, 0}, photon), TPlaneDetector::Detection);
    EXPECT_EQ(photon.Status, StatusRegistered);
}

TEST(PlaneDetector, PixelPositionsAreUniformInTheirPixel) {
    DetectorScene scene(Plane("PixelColumns = 4\nPixelRows = 3\nRotateZ = 30\n"));
    const TPlaneDetector& d = scene.Plane();
    const int n = 4000;
    TCoord<double> mean;
    for (int i = 0; i < n; ++i) {
        const TCoord<double> p = d.GetPixelPosition(6, *scene.Rng);
        double row = 0, column = 0;
        d.PixelCoordinates(p, row, column);
        ASSERT_TRUE(row >= 1 && row <= 2 && column >= 2 && column <= 3) << row << ", " << column;
        mean += p * (1.0 / n);
    }
    // The mean of a uniform unit interval has a standard deviation of 0.29/sqrt(n) pixels.
    double row = 0, column = 0;
    d.PixelCoordinates(mean, row, column);
    EXPECT_NEAR(row, 1.5, 4 * 0.29 / std::sqrt(n));
    EXPECT_NEAR(column, 2.5, 4 * 0.29 / std::sqrt(n));
}

TEST(PlaneDetector, ResultLines) {
    DetectorScene scene(Plane("Name = Panel\nOutputNumberOfInteractions = 1\n"));
    TPlaneDetector& d = scene.Plane();
    for (const TParticle& hit :
         {Photon(30, 1, 0), Photon(40, 2, 0), Photon(50, 0.5, 1), Photon(60, 1.5, 2)}) {
        TParticle p = hit;
        d.Register(1, 1, p, 1);
    }
    std::ostringstream os;
    d.PrintResults(os, 10);
    EXPECT_EQ(os.str(),
              "   Name: Panel\n"
              "   Number Of Particles That Didn't Interact: 3 +- 2.23607 (sqrt(N): 1.73205) "
              "[rel.: 0.3 +- 0.223607]\n"
              "   Energy Of Particles That Didn't Interact: 110 keV (avg.: 36.6667 keV) [rel.: 11 keV]\n"
              "   Number Of Scattered/Secondary Particles: 2 +- 1.58114 (sqrt(N): 1.41421) "
              "[rel.: 0.2 +- 0.158114]\n"
              "   Energy Of Scattered/Secondary Particles: 115 keV (avg.: 57.5 keV) [rel.: 11.5 keV]\n"
              "   Scattered Once: 0.5 +- 0.5 (sqrt(N): 0.707107) [rel.: 0.05 +- 0.05]\n"
              "   Scattered Once: 25 keV (avg.: 50 keV) [rel.: 2.5 keV]\n");
}

// The model acts on what the detector registers; a transparent detector passes the
// particle on unchanged to whatever lies behind it.
TEST(PlaneDetector, TheModelLeavesThePassingParticleAlone) {
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("half.txt"), "#Tarvo\t0\tHalf\tSimpleDetSpline\t3\n10 0.5 8\n100 0.5 80\n");
    DetectorScene scene(Plane("Dose = true\nDetectorModel = Half\n"),
                        "[Detectors]\n[Half]\nDataFile = half.txt\n[EndHalf]\n[EndDetectors]\n", dir.Path());
    TParticle p = Photon(50, 2);
    EXPECT_EQ(scene.Shoot({1, 1, -5}, {1, 1, 0}, p), TPlaneDetector::Detection);
    EXPECT_EQ(p.Energy, 50);
    EXPECT_EQ(p.Weight, 2);
    EXPECT_DOUBLE_EQ(Sum(scene.Plane()), 40); // 2 x 0.5 at 40 keV
}

namespace {

std::string Planes(const std::string& rows) {
    const std::string plane = "[Object]\nObjectType = PlaneDetector\nSide1 = (4, 0, 0)\nSide2 = (0, 3, 0)\n"
                              "PixelColumns = 4\nOutputNumberOfInteractions = 1\n";
    return plane + "VertexA = (0, 0, 0)\nPixelRows = " + rows + "\n[EndObject]\n" + plane +
           "VertexA = (10, 0, 0)\nPixelRows = 3\nEnergy = true\n[EndObject]\n" + plane +
           "VertexA = (20, 0, 0)\nPixelRows = 3\n[Registrator]\nCoincidence = true\nMaxEnergy = 100\n"
           "[EndRegistrator]\n[EndObject]\n";
}

// Registers photons of several scatter orders and weights over the three detectors.
void Fill(const DetectorScene& scene) {
    for (int i = 0; i < 40; ++i) {
        TParticle p = Photon(30 + i, 0.5 + 0.01 * i, std::uint32_t(i / 3 % 3));
        const geometry::TCoord<double> target{0.1 + 0.095 * i + 10 * (i % 3), 0.05 + 0.07 * i, 0};
        ASSERT_EQ(scene.Shoot(target + geometry::TCoord<double>{0, 0, 5}, target, p),
                  TPlaneDetector::Detection);
    }
}

std::string Saved(DetectorScene& scene) {
    std::ostringstream out;
    WriteObject(out, *scene.Scene);
    return out.str();
}

std::string RestoreError(const std::string& state, const std::string& objects) {
    DetectorScene scene(objects);
    std::istringstream in(state);
    return ErrorOf([&] { ReadObject(in, *scene.Scene); });
}

} // namespace

TEST(DetectorState, ASavedSceneRestoresEverySumBitForBit) {
    DetectorScene original(Planes("3"));
    Fill(original);
    const std::string state = Saved(original);
    DetectorScene restored(Planes("3"));
    std::istringstream in(state);
    EXPECT_EQ(ReadObject(in, *restored.Scene), state.size());
    // Re-saving gives the same bytes: the sums, the spectrometer's bins and its open history.
    EXPECT_EQ(Saved(restored), state);
    for (std::size_t d = 0; d < 3; ++d) {
        const TPlaneDetector& a = original.Plane(d);
        const TPlaneDetector& b = restored.Plane(d);
        EXPECT_GT(a.PrimaryCount(), 0);
        EXPECT_EQ(a.PrimaryCount(), b.PrimaryCount());
        EXPECT_EQ(a.ScatteredEnergy(1), b.ScatteredEnergy(1));
        for (std::size_t plane = 0; plane < a.PlaneCount(); ++plane)
            for (std::uint64_t pixel = 0; pixel < a.GetPixelCount(); ++pixel)
                EXPECT_EQ(a.Cell(plane, pixel)[0], b.Cell(plane, pixel)[0]);
    }
    const auto& spectrometer =
        dynamic_cast<const CoincidenceSpectrometer&>(*restored.Plane(2).GetRegistrator());
    EXPECT_GT(spectrometer.Total() + spectrometer.PendingEnergy, 0);
    // The entries carry fixed class names; a detector's payload starts with its dimensions.
    EXPECT_EQ(state.substr(0, 23), std::string("ObjDsc0\x0e\0TScene<double>", 23));
    EXPECT_EQ(state.substr(31, 29), std::string("ObjDsc0\x14\0TSimplePlaneDetector", 29));
    EXPECT_NE(state.find("TImagePlaneDetector"), std::string::npos);
    EXPECT_EQ(state.substr(68, 16), std::string("\x03\0\0\0\0\0\0\0\x04\0\0\0\0\0\0\0", 16));
}

TEST(DetectorState, AStateThatDoesNotFitTheSceneNamesTheDetector) {
    DetectorScene original(Planes("3"));
    Fill(original);
    const std::string state = Saved(original);
    EXPECT_EQ(RestoreError(state, Planes("5")),
              "Detector 0: MatrixDetector: saved state has other dimensions");
    const std::string swapped =
        "[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 9)\nSide1 = (4, 0, 0)\n"
        "Side2 = (0, 3, 0)\nEnergy = true\n[EndObject]\n";
    EXPECT_EQ(RestoreError(state, swapped), "Detector 0: Wrong object type in stream");
    EXPECT_EQ(RestoreError(state, Planes("3") + swapped),
              "Detector 3: not in the saved state, which was saved with another scene");
    const std::string one = Planes("3").substr(0, Planes("3").find("[EndObject]\n") + 12);
    EXPECT_EQ(RestoreError(state, one), "The saved state holds more detectors than the scene");
}

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>


#include "DetectorScene.h"
#include "common/TestUtil.h"
#include "detectors/ImageWriter.h"
#include "detectors/Spectrometer.h"
#include "materials/TestErrors.h"

namespace {

std::string SpectrometerPlane(const std::string& registrator) {
    return "[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (4, 0, 0)\nSide2 = (0, 4, 0)\n"
           "Energy = false\n[Registrator]\n" +
           registrator + "[EndRegistrator]\n[EndObject]\n";
}

Spectrometer& SpectrometerOf(const TPlaneDetector& plane) {
    return dynamic_cast<Spectrometer&>(*plane.GetRegistrator());
}

TParticle At(double energy, std::uint64_t history, double weight = 1) {
    TParticle p = Photon(energy, weight);
    p.History = history;
    p.Position = geometry::TCoord<double>(1, 1, 0);
    p.SetDirectionVector(geometry::TCoord<double>(0, 0, 1));
    return p;
}

} // namespace

TEST(Spectrometer, BinsKeepTheirUpperEdge) {
    EnergyBinning b;
    b.MaxEnergy = 100;
    b.Complete();
    EXPECT_EQ(b.Bins, 100u);
    const struct {
        double energy;
        std::int64_t bin;
    } cases[] = {{0, 0},     {0.5, 0},  {1, 0},      {1.0000001, 1}, {10, 9},
                 {99.5, 99}, {100, 99}, {100.5, -1}, {-0.1, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(b.BinOf(c.energy), c.bin) << c.energy;
    EnergyBinning odd;
    odd.MinEnergy = 10;
    odd.MaxEnergy = 11;
    odd.Bins = 3;
    odd.Complete();
    EXPECT_EQ(odd.BinOf(11), 2); // rounding of x must not push the top past the last bin
    EXPECT_EQ(odd.BinOf(10.5), 1);
}

TEST(Spectrometer, KeysAndTheirErrors) {
    DetectorScene scene(SpectrometerPlane("MinEnergy = 20\nMaxEnergy = 80\nRegisterUncertainty = true\nSingle = true\n"));
    EXPECT_EQ(dynamic_cast<CoincidenceSpectrometer*>(scene.Plane().GetRegistrator()), nullptr);
    for (const char* coincidence :
         {"Type = coincidenceSPECTROMETER\nMaxEnergy = 9\n", "Coincidence = true\nMaxEnergy = 9\n"}) {
        DetectorScene c(SpectrometerPlane(coincidence));
        EXPECT_NE(dynamic_cast<CoincidenceSpectrometer*>(c.Plane().GetRegistrator()), nullptr) << coincidence;
    }
    std::ostringstream summary;
    scene.Plane().PrintSummary(summary);
    EXPECT_NE(summary.str().find("   Registrator: Spectrometer\n   Energy Range: 20 - 80 keV, 60 Bins\n"
                                 "   Register Uncertainty: 1\n   Data Type:"),
              std::string::npos)
        << summary.str();

    const std::string prefix = "Object section 1: TImagePlaneDetector: TPlaneDetector: ";
    const struct {
        const char* keys;
        std::string message;
    } cases[] = {
        {"",
         prefix +
             "Spectrometer: MaxEnergy must be above MinEnergy (MinEnergy = 0.000000, MaxEnergy = 0.000000)"},
        {"MinEnergy = 5\nMaxEnergy = 5.5\n", prefix + "Spectrometer: EnergyBins must be at least 1"},
        {"MaxEnergy = 10\nEnergyBins = 0\n", prefix + "Spectrometer: EnergyBins must be at least 1"},
        {"MaxEnergy = ten\n", prefix + "Spectrometer: Problem getting MaxEnergy as double: ten"},
        {"MaxEnergy = 1e300\n",
         prefix + "Spectrometer: MaxEnergy - MinEnergy is too wide for bins of 1 keV; set EnergyBins"},
        {"MaxEnergy = 1e12\n", prefix + "Spectrometer: 1000000000000 energy bins need more memory than this "
                                         "machine has (each tracer thread keeps a copy)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf([&] { DetectorScene bad(SpectrometerPlane(c.keys)); }), c.message);
    Spectrometer other(SpectrometerOf(scene.Plane()).Binning(), false);
    EXPECT_EQ(ErrorOf([&] { SpectrometerOf(scene.Plane()).Merge(other); }),
              "Spectrometer configurations differ");
}

// Two particles of one history, 30 and 40 keV, give one count at 70 keV: on the
// master, and across thread copies, each of which bins its open history at the end
// of every batch.
TEST(Spectrometer, CoincidenceSumsAHistory) {
    DetectorScene scene(SpectrometerPlane("Coincidence = true\nMaxEnergy = 100\n"));
    TPlaneDetector& master = scene.Plane();
    TParticle a = At(30, 7), b = At(40, 7), c = At(5, 8, 2), d = At(10, 8, 1);
    for (TParticle* p : {&a, &b, &c, &d})
        master.Detect(*p);
    master.Flush();
    const Spectrometer& s = SpectrometerOf(master);
    EXPECT_EQ(s.Count(69), 1);
    EXPECT_EQ(s.Count(9), 2); // 5 keV with reference weight 2, then 10 keV of weight 1: 5 + 10 / 2
    EXPECT_EQ(s.Total(), 3);

    master.GetRegistrator()->Reset();
    const int batches = 12;
    scene.RunBatches(batches, 2, [](TPlaneDetector& copy, int batch) {
        for (std::uint64_t h = 0; h < 50; ++h) {
            TParticle x = At(30, std::uint64_t(batch) * 50 + h), y = At(40, std::uint64_t(batch) * 50 + h);
            copy.Detect(x);
            copy.Detect(y);
        }
    });
    EXPECT_EQ(s.Count(69), batches * 50);
    EXPECT_EQ(s.Total(), batches * 50);
}

// Uncertainty sums a history's registrations before squaring; the file holds the
// header, the bin centres, counts and uncertainties times the scale.
TEST(Spectrometer, WritesTheSpectrumText) {
    testutil::TempDir dir;
    DetectorScene scene(
        SpectrometerPlane("MinEnergy = 10\nMaxEnergy = 14\nEnergyBins = 2\nRegisterUncertainty = true\n"));
    TPlaneDetector& master = scene.Plane();
    TParticle p1 = At(11, 1), p2 = At(11, 1), p3 = At(13.5, 2, 3), p4 = At(11, 3);
    for (TParticle* p : {&p1, &p2, &p3, &p4})
        master.Detect(*p);
    master.Flush();
    ImageWriterOptions options;
    options.Type = ImageType::None;
    options.CountScale = 0.5;
    master.WriteResults(dir.File("det"), options);
    EXPECT_EQ(
        testutil::ReadFile(dir.File("det_Registrator0.xrs")),
        "# Bin: true\n# Scale: 5.000000e-01\n# Fields: energy [keV], count, absolute uncertainty (1 sigma)\n"
        "1.100000e+01\t1.500000e+00\t1.118034e+00\n1.300000e+01\t1.500000e+00\t1.500000e+00\n#EOF\n\n");
    options.Compress = true;
    options.Pixels = PixelType::Double;
    master.WriteResults(dir.File("det"), options);
    EXPECT_EQ(testutil::ReadFile(dir.File("det_Registrator0.xrc")).substr(0, 4), "XRTC");
}

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "DetectorScene.h"
#include "datafiles/ObjectIO.h"
#include "detectors/Spectrometer.h"

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
    try {
        ReadObject(in, *scene.Scene);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
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

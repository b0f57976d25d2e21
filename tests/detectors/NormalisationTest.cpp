#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "DetectorScene.h"
#include "detectors/Normalisation.h"

using geometry::TCoord;

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

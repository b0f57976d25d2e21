#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tracer/TracerScene.h"

namespace {

struct SlabCase {
    const char* material;
    double thickness;
    double energy;
};

// Water, aluminium and lead on both sides of its K edge (88 keV).
const SlabCase kSlabs[] = {
    {"Water", 5, 60}, {"Aluminium", 1, 30}, {"Lead", 0.02, 87}, {"Lead", 0.02, 89},
};

} // namespace

TEST(PhotonTracer, SplittingScoresTheExactPrimaryThroughSlabs) {
    for (const SlabCase& c : kSlabs) {
        TracerScene scene(SlabScene(c.material, c.thickness, c.energy));
        const std::uint64_t n = 2000;
        const TTracerCounters counters = scene.Trace(n);
        const double expected = std::exp(-scene.Mu(0, c.energy) * c.thickness);
        EXPECT_NEAR(scene.Detector().PrimaryCount() / double(n), expected, 1e-6) << c.material << " " << c.energy;
        EXPECT_EQ(counters.Emitted, n);
        EXPECT_EQ(counters.Traced, n);
        EXPECT_GE(counters.SplitPhotons, n);
    }
}

TEST(PhotonTracer, WithoutSplittingThePrimaryIsBinomial) {
    for (const SlabCase& c : kSlabs) {
        TracerScene scene(SlabScene(c.material, c.thickness, c.energy), "", "UsePhotonSplitting = false\n");
        const std::uint64_t n = 20000;
        scene.Trace(n);
        const double p = std::exp(-scene.Mu(0, c.energy) * c.thickness);
        const double se = std::sqrt(p * (1 - p) / double(n));
        EXPECT_NEAR(scene.Detector().PrimaryCount() / double(n), p, 3 * se) << c.material << " " << c.energy;
        EXPECT_EQ(scene.Detector().PrimarySquareCount(), scene.Detector().PrimaryCount());
    }
}

TEST(PhotonTracer, PartsWithoutMaterialStopAndVoidPartsPass) {
    struct Case {
        const char* material;
        double primary;
    } cases[] = {{"void", 1.0}, {"", 0.0}};
    for (const Case& c : cases) {
        std::string objects = SlabScene("Water", 1, 60);
        const std::string name = std::string("MaterialName = ") + c.material + "\n";
        objects.replace(objects.find("MaterialName = Water\n"), 21, name);
        TracerScene scene(objects);
        scene.Trace(100);
        EXPECT_EQ(scene.Detector().PrimaryCount(), 100 * c.primary) << c.material;
        EXPECT_EQ(scene.Detector().ScatteredCount(0), 0.0) << c.material;
    }
}

TEST(PhotonTracer, NoSourcesIsAnError) {
    TracerScene scene(Object("ObjectType = PlaneDetector\nBaseCenter = (0, 0, 5)\nSide1 = (1, 0, 0)\n"
                             "Side2 = (0, 1, 0)\n"));
    try {
        scene.Trace(1);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "No Sources!!!");
    }
}

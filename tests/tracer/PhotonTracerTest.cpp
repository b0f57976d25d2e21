#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "materials/TestErrors.h"
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

// With splitting every history scores the exact primary share; without it the
// primary count is binomial.
TEST(PhotonTracer, PrimaryThroughSlabsWithAndWithoutSplitting) {
    for (const SlabCase& c : kSlabs) {
        TracerScene split(SlabScene(c.material, c.thickness, c.energy));
        const std::uint64_t n = 2000;
        const TTracerCounters counters = split.Trace(n);
        const double p = std::exp(-split.Mu(0, c.energy) * c.thickness);
        EXPECT_NEAR(split.Detector().PrimaryCount() / double(n), p, 1e-6) << c.material << " " << c.energy;
        EXPECT_EQ(counters.Emitted, n);
        EXPECT_EQ(counters.Traced, n);
        EXPECT_GE(counters.SplitPhotons, n);

        TracerScene analog(SlabScene(c.material, c.thickness, c.energy), "", "UsePhotonSplitting = false\n");
        const std::uint64_t m = 20000;
        analog.Trace(m);
        EXPECT_NEAR(analog.Detector().PrimaryCount() / double(m), p, 3 * std::sqrt(p * (1 - p) / double(m)))
            << c.material << " " << c.energy;
        EXPECT_EQ(analog.Detector().PrimarySquareCount(), analog.Detector().PrimaryCount());
    }
}

// (Void parts: VoidPartsAndPanelsInFrontChangeNothing.)
TEST(PhotonTracer, PartsWithoutMaterialStopPhotons) {
    std::string objects = SlabScene("Water", 1, 60);
    objects.replace(objects.find("MaterialName = Water\n"), 21, "MaterialName = \n");
    TracerScene scene(objects);
    scene.Trace(100);
    EXPECT_EQ(scene.Detector().PrimaryCount(), 0.0);
    EXPECT_EQ(scene.Detector().ScatteredCount(0), 0.0);
}

TEST(PhotonTracer, NoSourcesIsAnError) {
    TracerScene scene(Object("ObjectType = PlaneDetector\nBaseCenter = (0, 0, 5)\nSide1 = (1, 0, 0)\n"
                             "Side2 = (0, 1, 0)\n"));
    EXPECT_EQ(ErrorOf([&] { scene.Trace(1); }), "No Sources!!!");
}

namespace {

std::string Model(const std::string& keys, const std::string& types = "PhotoEffect ComptonScattering "
                                                                      "RayleighScattering") {
    std::string text = "[InteractionsModel]\n" + keys;
    std::istringstream in(types);
    for (std::string type; in >> type;)
        text += "[Interaction]\nInteractionType = " + type + "\n[EndInteraction]\n";
    return text + "[EndInteractionsModel]\n";
}

struct Estimate {
    double Mean = 0;
    double Error = 0; // standard error of the mean
};

// The scatter reaching the panel behind a water slab per particle, over 10 seeds.
Estimate ScatterBehindWater(const std::string& task, const std::string& physics) {
    TracerScene scene(SlabScene("Water", 5, 60), task, physics);
    const int seeds = 10;
    const double n = 2000;
    double sum = 0, squares = 0, before = 0;
    for (int seed = 1; seed <= seeds; ++seed) {
        scene.Trace(std::uint64_t(n), std::uint32_t(seed));
        const double total = scene.Detector().ScatteredCount(0);
        const double value = (total - before) / n;
        before = total;
        sum += value;
        squares += value * value;
    }
    Estimate e;
    e.Mean = sum / seeds;
    e.Error = std::sqrt((squares / seeds - e.Mean * e.Mean) / (seeds - 1));
    return e;
}

} // namespace

TEST(PhotonTracer, VarianceReductionLeavesTheScatterUnbiased) {
    const Estimate reference = ScatterBehindWater("", "");
    ASSERT_GT(reference.Mean, 0.01);
    const struct {
        const char* name;
        const char* task;
        std::string physics;
    } variants[] = {
        {"analog", "", "UsePhotonSplitting = false\n"},
        {"implicit absorption", "", Model("ImplicitAbsorption = true\n")},
        {"analog, implicit absorption", "", "UsePhotonSplitting = false\n" + Model("ImplicitAbsorption = true\n")},
        {"4 traces per emission", "TracesPerEmission = 4\n", ""},
    };
    for (const auto& v : variants) {
        const Estimate e = ScatterBehindWater(v.task, v.physics);
        EXPECT_NEAR(e.Mean, reference.Mean, 3 * std::hypot(e.Error, reference.Error)) << v.name;
    }
}

TEST(PhotonTracer, NoInteractionsAllowedLeavesNoScatter) {
    TracerScene scene(SlabScene("Water", 5, 60), "", "MaxNumberOfInteractions = 0\n");
    scene.Trace(2000);
    EXPECT_GT(scene.Detector().PrimaryCount(), 0.0);
    EXPECT_EQ(scene.Detector().ScatteredCount(0), 0.0);
}

TEST(PhotonTracer, OpaquePanelsAroundARayleighScattererCountEveryPhotonOnce) {
    // An isotropic point source in a water cube, closed in by six opaque panels.
    std::string objects =
        Object("ObjectType = Source\nEnergy = 60\nConeAngle = 3.141592653589793\n") +
        Object("ObjectType = Part\nMaterialName = Water\nVertexA = (-3, -3, -3)\nSide1 = (6, 0, 0)\n"
               "Side2 = (0, 6, 0)\nSide3 = (0, 0, 6)\n");
    const char* const faces[] = {"(0, 0, -10)\nSide1 = (20, 0, 0)\nSide2 = (0, 20, 0)",
                                 "(0, 0, 10)\nSide1 = (20, 0, 0)\nSide2 = (0, 20, 0)",
                                 "(-10, 0, 0)\nSide1 = (0, 20, 0)\nSide2 = (0, 0, 20)",
                                 "(10, 0, 0)\nSide1 = (0, 20, 0)\nSide2 = (0, 0, 20)",
                                 "(0, -10, 0)\nSide1 = (20, 0, 0)\nSide2 = (0, 0, 20)",
                                 "(0, 10, 0)\nSide1 = (20, 0, 0)\nSide2 = (0, 0, 20)"};
    for (const char* face : faces)
        objects += Object(std::string("ObjectType = PlaneDetector\nTransparent = false\nBaseCenter = ") + face +
                          "\nPixelColumns = 4\nPixelRows = 4\n");
    const std::uint64_t n = 3000;
    for (const bool splitting : {false, true}) {
        TracerScene scene(objects, "",
                          std::string("UsePhotonSplitting = ") + (splitting ? "true" : "false") + "\n" +
                              Model("", "RayleighScattering"));
        scene.Trace(n);
        double count = 0, energy = 0, squares = 0;
        for (std::size_t i = 0; i < 6; ++i) {
            const TBasicDetector& d = scene.Detector(i);
            count += d.PrimaryCount() + d.ScatteredCount(0);
            energy += d.PrimaryEnergy() + d.ScatteredEnergy(0);
            squares += d.PrimarySquareCount() + d.ScatteredSquareCount(0);
        }
        if (!splitting) {
            EXPECT_EQ(count, double(n));
            EXPECT_EQ(energy, 60.0 * double(n));
        } else {
            // Each history scores at most once per flight; the sum of squares bounds its variance.
            EXPECT_NEAR(count, double(n), 3 * std::sqrt(squares)) << count;
            EXPECT_GT(scene.Detector(0).ScatteredCount(0), 0.0);
        }
    }
}

TEST(PhotonTracer, VoidPartsAndPanelsInFrontChangeNothing) {
    const std::string slab = SlabScene("Water", 3, 60);
    TracerScene plain(slab);
    plain.Trace(3000);
    const std::string extras[] = {
        Object("ObjectType = Part\nMaterialName = Void\nVertexA = (-6, -6, -5)\nSide1 = (12, 0, 0)\n"
               "Side2 = (0, 12, 0)\nSide3 = (0, 0, 2)\n"),
        Object("ObjectType = PlaneDetector\nBaseCenter = (0, 0, -1)\nSide1 = (40, 0, 0)\nSide2 = (0, 40, 0)\n"
               "PixelColumns = 2\nPixelRows = 2\n"),
    };
    for (const std::string& extra : extras) {
        TracerScene scene(slab + extra);
        scene.Trace(3000);
        EXPECT_EQ(scene.Detector(0).PrimaryCount(), plain.Detector().PrimaryCount());
        EXPECT_EQ(scene.Detector(0).ScatteredEnergy(0), plain.Detector().ScatteredEnergy(0));
        EXPECT_EQ(scene.Detector(0).ScatteredSquareCount(0), plain.Detector().ScatteredSquareCount(0));
    }
}

TEST(PhotonTracer, ElectronsCrossVoidPartsButStopInWater) {
    const struct {
        const char* material;
        bool reaches;
    } cases[] = {{"void", true}, {"Water", false}};
    for (const auto& c : cases) {
        std::string objects = SlabScene(c.material, 1, 60);
        objects.replace(objects.find("Energy = "), 0, "ParticleType = Electron\n");
        TracerScene scene(objects);
        const TTracerCounters counters = scene.Trace(100);
        EXPECT_EQ(counters.Electrons, 100u);
        EXPECT_EQ(scene.Detector().PrimaryCount() > 0, c.reaches) << c.material;
    }
}

TEST(PhotonTracer, TargetPixelsSendEveryHistoryToItsPixel) {
    // A wide cone misses most of a small 2 x 3 panel; aimed at the pixels every history hits.
    const std::string objects =
        Object("ObjectType = Source\nEnergy = 60\nConeAngle = 1.5\nBaseCenter = (0, 0, -10)\n") +
        Object("ObjectType = PlaneDetector\nBaseCenter = (0, 0, 5)\nSide1 = (3, 0, 0)\nSide2 = (0, 2, 0)\n"
               "PixelColumns = 3\nPixelRows = 2\n");
    TracerScene aimed(objects, "TargetPixels = true\n");
    aimed.Trace(600);
    EXPECT_EQ(aimed.Detector().PrimaryCount(), 600.0);
    TracerScene cone(objects);
    cone.Trace(600);
    EXPECT_LT(cone.Detector().PrimaryCount(), 600.0);
}

TEST(PhotonTracer, PositronsStoppedInWaterAnnihilateIntoTwoPhotons) {
    std::string objects = SlabScene("Water", 1, 60);
    objects.replace(objects.find("Energy = "), 0, "ParticleType = Positron\n");
    TracerScene scene(objects);
    const TTracerCounters counters = scene.Trace(100);
    EXPECT_EQ(counters.Positrons, 100u);
    EXPECT_EQ(counters.Photons, 200u);
    // One photon of each back-to-back pair heads for the wide panel behind the slab.
    const double reaching = scene.Detector().ScatteredCount(0) + scene.Detector().PrimaryCount();
    EXPECT_GT(reaching, 50);
    EXPECT_LT(reaching, 100);
}

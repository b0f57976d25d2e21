// Sources as scene objects: the summary printed by the program, AutoWindow, the
// materials' upper energy, and spectra pooled between sources and their copies.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>

#include "app/ObjectTypes.h"
#include "common/TestUtil.h"
#include "geometry/Scene.h"
#include "inifiles/IniFile.h"
#include "materials/TestErrors.h"
#include "sources/SimpleSource.h"
#include "sources/SourceFactory.h"

using testutil::WriteFile;

namespace {

using testutil::kMaterials;

using testutil::Object;

// A water block in front of the sources at z = 10..12, three sources of every kind,
// AutoWindow on.
std::string Scene() {
    return Object("ObjectType = Part\nMaterialName = Water\nVertexA = (-1, -2, 10)\nSide1 = (2, 0, 0)\n"
                  "Side2 = (0, 3, 0)\nSide3 = (0, 0, 2)\n") +
           Object("ObjectType = MonochromaticSource\nName = Tube\nEnergy = 60\nConeAngle = 0.5\n"
                  "Side1 = (2, 0, 0)\nSide2 = (0, 1, 0)\nWindowLeft = 0\nIntensityMap = m.BE.s2x3.raw\n") +
           Object("ObjectType = Source\nSpectrum = sp.txt\nDirection = (0, 0, -1)\nBaseCenter = (0, 0, -20)\n"
                  "ConeAngle = 0.1\n") +
           Object("ObjectType = Source\nParticleType = Positron\nEnergy = 100\nShape = SemiEllipsoid\n"
                  "Direction = (1.5707963267948966, 0)\nSide1 = (1, 0, 0)\nSide2 = (0, 2, 0)\nSide3 = (0, 0, "
                  "3)\n");
}

} // namespace

TEST(SourceScene, SummariesAutoWindowAndEnergyLimitThroughTheProgram) {
    testutil::TempDir dir;
    WriteFile(dir.File("sp.txt"), "15 1\n45 3\n");
    WriteFile(dir.File("m.BE.s2x3.raw"), std::string("\0\1\0\2\0\3\0\4\0\5\0\6", 12));
    WriteFile(dir.File("run.ini"),
              "[ApplicationTask]\nNumberOfParticles = 1000\nRandomSeed = 5\n[EndApplicationTask]\n"
              "[DataSources]\nMaterialsFileName = " +
                  kMaterials +
                  "\n[EndDataSources]\n"
                  "[MaterialProperties]\nMinEnergy = 10\n[EndMaterialProperties]\n"
                  "[Objects]\nAutoWindow = true\n" +
                  Scene() + "[EndObjects]\n");
    const testutil::RunResult r = testutil::RunTarvo({"run.ini"}, "", 60.0, dir.Path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // Source 0: window fitted to the block from the corners of the 2 x 1 face, cut at
    // the configured left edge; source 1 looks down from z = +20 (its base centre is
    // in the turned frame); source 2 looks along +x and the block is beside it.
    const std::string golden =
        "Sources Summary:\n"
        "  Source 0\n"
        "   Name: Tube\n"
        "   Type: MonochromaticSource\n"
        "   Particle Type: Photon\n"
        "   Energy: 60 keV\n"
        "   Origin: ( +0, +0, +0 ) [cm]\n"
        "   Sides: ( +2, +0, +0 ) ( +0, +1, +0 ) [cm]\n"
        "   Direction (Latitude, Longitude): ( 0, 0 ) [rad]\n"
        "   Direction (X, Y, Z): ( +0, +0, +1 )\n"
        "   Half Cone Angle: 0.5 [rad], 0.769171 [sr]\n"
        "   Window: h ( +0, +0.197396 )\n"
        "           v ( -0.244979, +0.14889 )\n"
        "   Shape: Cuboid\n"
        "   Intensity Map: 2x3\n"
        "  Source 1\n"
        "   Type: PolychromaticSource\n"
        "   Particle Type: Photon\n"
        "   Energy: 15-45 keV\n"
        "   Origin: ( -2.44929e-15, +0, +20 ) [cm]\n"
        "   Direction (Latitude, Longitude): ( 3.14159, 0 ) [rad]\n"
        "   Direction (X, Y, Z): ( +1.22465e-16, +0, -1 )\n"
        "   Half Cone Angle: 0.1 [rad], 0.0313898 [sr]\n"
        "   Window: h ( -0.124355, +0.124355 )\n"
        "           v ( -0.244979, +0.124355 )\n"
        "  Source 2\n"
        "   Type: MonochromaticSource\n"
        "   Particle Type: Positron\n"
        "   Energy: 100 keV\n"
        "   Origin: ( +0, +0, +0 ) [cm]\n"
        "   Sides: ( +6.12323e-17, +0, -1 ) ( +0, +2, +0 ) ( +3, +0, +1.83697e-16 ) [cm]\n"
        "   Direction (Latitude, Longitude): ( 1.5708, 0 ) [rad]\n"
        "   Direction (X, Y, Z): ( +1, +0, +6.12323e-17 )\n"
        "   Half Cone Angle: 0 [rad], 0 [sr]\n"
        "   Shape: SemiEllipsoid\n"
        "Parts Summary:\n";
    EXPECT_NE(r.out.find(golden), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Note: AutoWindow keeps the window of a source: the geometry does not lie wholly in "
                         "front of it\n"),
              std::string::npos);
    // The positron source raises the material data's upper energy to the electron rest energy.
    EXPECT_NE(r.out.find("  Energy Range: 10-510.999 keV\n"), std::string::npos) << r.out;
}

// Equal spectra, from a file or a sub-section, are one object shared by the sources
// and by the scene's copies; a different spectrum is not.
TEST(SourceScene, EqualSpectraArePooled) {
    RegisterSceneObjectTypes();
    testutil::TempDir dir;
    WriteFile(dir.File("sp.txt"), "# lines\n15 1\n45 3\n");
    auto ini = std::make_unique<inifiles::TIniFileStructure>();
    ini->SetBasePath(dir.Path());
    std::istringstream in("[Objects]\n" + Object("ObjectType = Source\nSpectrum = sp.txt\n") +
                          Object("ObjectType = Source\n[Spectrum]\n15 = 1\n45 = 3\n[EndSpectrum]\n") +
                          Object("ObjectType = Source\n[Spectrum]\n15 = 1\n45 = 2\n[EndSpectrum]\n") +
                          "[EndObjects]\n");
    ini->ReadFrom(in, "test");
    auto manager = std::make_shared<geometry::BVHManager<double>>(42, 5, 64);
    TScene<double> scene(manager);
    ASSERT_TRUE(scene.ReadScene(*ini));
    auto spectrum = [](const IScene& s, std::size_t i) {
        return dynamic_cast<const TPolychromaticSource&>(s.GetSource(i)).GetSpectrum().get();
    };
    EXPECT_EQ(spectrum(scene, 0), spectrum(scene, 1));
    EXPECT_NE(spectrum(scene, 0), spectrum(scene, 2));
    const std::unique_ptr<IScene> copy = scene.Clone();
    EXPECT_EQ(spectrum(*copy, 1), spectrum(scene, 0));
    EXPECT_DOUBLE_EQ(spectrum(scene, 2)->MeanEnergy, (15 + 2 * 45) / 3.0);
}

namespace {

// An object that is its own intersection manager, as plane detectors are: it adds
// nothing to the hierarchy and reports only its box.
class BoxObject : public TBasicGeometricalObject, public geometry::IntersectionManager {
public:
    explicit BoxObject(const geometry::TBoundingBox<double>& box) : Box(box) {}
    std::unique_ptr<TBasicGeometricalObject> Clone() const override {
        return std::make_unique<BoxObject>(Box);
    }
    bool GetObjectBox(geometry::TBoundingBox<double>& box) const override {
        box = Box;
        return true;
    }
    geometry::TBoundingBox<double> Box;
};

} // namespace

// A plane beside the parts must still receive the direct beam: AutoWindow fits the
// window to the boxes of such objects too, then cuts it to the configured window.
TEST(SourceScene, AutoWindowHoldsObjectBoxes) {
    RegisterSceneObjectTypes();
    struct Case {
        const char* window;
        double left, right;
        const char* error;
    };
    const Case cases[] = {
        {"", std::atan(0.2), std::atan(0.4), nullptr},
        {"WindowRight = 0.3\n", std::atan(0.2), 0.3, nullptr},
        {"WindowRight = 0.1\n", 0, 0, "TBasicSource: Determined source window leaves no opening"}};
    for (const Case& c : cases) {
        auto manager = std::make_shared<geometry::BVHManager<double>>(42, 5, 64);
        TScene<double> scene(manager);
        geometry::TBoundingBox<double> box;
        box.Add({2, -1, 10});
        box.Add({4, 1, 10});
        scene.AddObject(std::make_unique<BoxObject>(box));
        inifiles::TIniFileStructure ini;
        std::istringstream in(
            "[Objects]\nAutoWindow = true\n" +
            Object("ObjectType = Source\nEnergy = 50\nConeAngle = 0.5\n" + std::string(c.window)) +
            "[EndObjects]\n");
        ini.ReadFrom(in, "test");
        if (c.error != nullptr) {
            EXPECT_EQ(ErrorOf([&] { scene.ReadScene(ini); }), c.error);
            continue;
        }
        ASSERT_TRUE(scene.ReadScene(ini));
        const TBasicSource& source = AsSource(scene.GetSource(0));
        ASSERT_TRUE(source.HasWindow());
        EXPECT_DOUBLE_EQ(source.GetWindow()[0], c.left) << c.window;
        EXPECT_DOUBLE_EQ(source.GetWindow()[1], c.right) << c.window;
        EXPECT_DOUBLE_EQ(source.GetWindow()[2], std::atan(0.1));
        EXPECT_DOUBLE_EQ(source.GetWindow()[3], std::atan(-0.1));
    }
}

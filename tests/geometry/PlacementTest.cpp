#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>

#include "geometry/Angles.h"
#include "geometry/Placement.h"
#include "inifiles/IniFile.h"
#include "materials/TestErrors.h"

using namespace geometry;

namespace {

// The first section of an INI text.
struct Ini {
    inifiles::TIniFileStructure tree;
    explicit Ini(const std::string& text) {
        std::istringstream in(text);
        tree.Read(in);
    }
    const inifiles::TIniFileSection& Section() const { return tree.Section(0); }
};

TCoord<double> Place(const std::string& keys, TCoord<double> p) {
    Ini ini("[Part]\n" + keys + "[EndPart]\n");
    return BuildPlacement(ini.Section(), false).Apply(p);
}

void ExpectNear(const TCoord<double>& a, const TCoord<double>& b) {
    EXPECT_NEAR(a.x, b.x, 1e-12);
    EXPECT_NEAR(a.y, b.y, 1e-12);
    EXPECT_NEAR(a.z, b.z, 1e-12);
}

} // namespace

// Rotations turn clockwise seen from the axis; Origin is the pivot of rotation and
// scale but not of translation; translations add; scale acts on the translated
// point; the length unit applies to Origin and Translation.
TEST(Placement, KeysPlaceAPoint) {
    const struct {
        const char* keys;
        TCoord<double> point, expected;
    } cases[] = {
        {"RotateZ = 90\n", {1, 0, 0}, {0, -1, 0}},
        {"RotateX = 90\n", {0, 1, 0}, {0, 0, -1}},
        {"RotateY = 90\n", {0, 0, 1}, {-1, 0, 0}},
        {"Origin = (1, 0, 0)\nRotateZ = 180\n", {0, 0, 0}, {2, 0, 0}},
        {"Origin = (1, 0, 0)\nTranslation = (0, 0, 3)\n", {5, 6, 7}, {5, 6, 10}},
        {"Origin = (1, 1, 1)\nScale = (2, 3, 4)\n", {2, 2, 2}, {3, 4, 5}},
        {"Translation = (1, 2, 3)\ntranslation = (1, 0, -1)\n", {0, 0, 0}, {2, 2, 2}},
        {"Translation = (1, 0, 0)\nScale = (2, 2, 2)\n", {1, 1, 1}, {4, 2, 2}},
        {"LengthUnit = mm\nTranslation = (10, 0, 0)\nScale = (2, 2, 2)\n", {0, 0, 0}, {2, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        ExpectNear(Place(c.keys, c.point), c.expected);
    }
}

TEST(Placement, InverseUndoesRandomKeySequences) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> u(-3, 3);
    std::uniform_int_distribution<int> pick(0, 5);
    const char* keys[] = {"Origin", "Translation", "Scale", "RotateX", "RotateY", "RotateZ"};
    for (int round = 0; round < 200; ++round) {
        std::ostringstream text;
        text.precision(17);
        text << "[Part]\n";
        const int n = 1 + round % 8;
        for (int i = 0; i < n; ++i) {
            const int k = pick(rng);
            text << keys[k] << " = ";
            if (k == 2) text << "(" << 0.5 + std::fabs(u(rng)) << ", " << -0.5 - std::fabs(u(rng)) << ", " << 1.5 << ")\n";
            else if (k < 2) text << "(" << u(rng) << ", " << u(rng) << ", " << u(rng) << ")\n";
            else text << 60 * u(rng) << "\n";
        }
        text << "[EndPart]\n";
        Ini ini(text.str());
        const TAffineTransform forward = BuildPlacement(ini.Section(), false);
        const TAffineTransform inverse = BuildPlacement(ini.Section(), true);
        const TCoord<double> p(u(rng), u(rng), u(rng));
        const TCoord<double> a = (inverse * forward).Apply(p), b = (forward * inverse).Apply(p);
        ASSERT_NEAR(a.x, p.x, 1e-9) << text.str();
        ASSERT_NEAR(a.y, p.y, 1e-9) << text.str();
        ASSERT_NEAR(a.z, p.z, 1e-9) << text.str();
        ASSERT_NEAR(b.z, p.z, 1e-9) << text.str();
    }
}

TEST(Placement, MalformedValueIsAnError) {
    Ini ini("[Part]\nRotateZ = abc\n[EndPart]\n");
    EXPECT_THROW(BuildPlacement(ini.Section(), false), std::runtime_error);
}

using geometry::TPlaneAngle;

TEST(PlaneAngle, LazyTrigonometryAndAngleFromPair) {
    TPlaneAngle a;
    EXPECT_EQ(a.GetAngle(), 0.0);
    EXPECT_EQ(a.Cos(), 1.0);
    a.SetAngle(0.5);
    EXPECT_DOUBLE_EQ(a.Sin(), std::sin(0.5));
    a.SetAngle(2.0, 0.0);  // not normalised
    EXPECT_EQ(a.Sin(), 2.0);
    EXPECT_DOUBLE_EQ(a.GetAngle(), std::atan2(2.0, 0.0));
    a.SetAngle(0.25);
    EXPECT_DOUBLE_EQ(a.Cos(), std::cos(0.25));
}

TEST(PlaneAngle, NaNIsRejected) {
    TPlaneAngle a;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(a.SetAngle(nan), std::runtime_error);
    EXPECT_EQ(ErrorOf([&] { a.SetAngle(0.0, nan); }), "TPlaneAngle::SetAngle(Sin, Cos)!");
}

TEST(SphericalAngle, TextForm) {
    std::ostringstream os;
    os << geometry::TSphericalAngle(0.5, -1.25);
    EXPECT_EQ(os.str(), "( 0.5, -1.25 )");
}

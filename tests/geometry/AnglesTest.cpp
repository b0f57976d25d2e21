#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "geometry/Angles.h"
#include "materials/TestErrors.h"

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

#include "interactions/Particle.h"

#include "Statistics.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

geometry::TCoord<double> Direction(const TParticle& p) {
    return p.DirectionVector();
}

// A fresh particle flies along +z; a direction along -z keeps a defined azimuth.
TEST(Particle, DirectionVectorRoundTripsAndIsNormalised) {
    EXPECT_DOUBLE_EQ(Direction(TParticle()).z, 1.0);
    TParticle p;
    p.SetDirectionVector({3, -4, 12});
    const auto d = Direction(p);
    EXPECT_NEAR(d.x, 3.0 / 13, 1e-15);
    EXPECT_NEAR(d.y, -4.0 / 13, 1e-15);
    EXPECT_NEAR(d.z, 12.0 / 13, 1e-15);
    EXPECT_NEAR(p.Direction.Theta.GetAngle(), std::acos(12.0 / 13), 1e-14);
    EXPECT_NEAR(p.Direction.Phi.GetAngle(), std::atan2(-4.0, 3.0), 1e-14);
    p.SetDirectionVector({0, 0, -2});
    EXPECT_DOUBLE_EQ(Direction(p).z, -1.0);
    EXPECT_DOUBLE_EQ(p.Direction.Phi.GetAngle(), 0.0);
}

// The deflection angle is the polar angle asked for, and the azimuth around
// the old direction is uniform: its cosine averages to zero.
TEST(Particle, DeflectionKeepsThePolarAngleAndSpreadsTheAzimuth) {
    auto rng = stats::MakeGenerator(11);
    const int n = 20000;
    double sumCos = 0, sumCos2 = 0;
    std::size_t used = 0;
    for (int i = 0; i < n; ++i) {
        double u[4];
        rng->Generate(u, 4);
        TParticle p;
        p.SetIsotropicDirection(u[0], u[1]);
        const auto old = Direction(p);
        // A fixed reference vector perpendicular to the old direction.
        geometry::TCoord<double> ref =
            std::fabs(old.z) < 0.9 ? geometry::TCoord<double>(0, 0, 1) : geometry::TCoord<double>(1, 0, 0);
        ref = ref - old * geometry::Dot(ref, old);
        ref = ref * (1.0 / geometry::Norm(ref));
        const double cosTheta = 2 * u[2] - 1;
        p.Deflect(cosTheta, 2 * M_PI * u[3]);
        const auto now = Direction(p);
        ASSERT_NEAR(geometry::Norm(now), 1.0, 1e-12);
        ASSERT_NEAR(geometry::Dot(now, old), cosTheta, 1e-12);
        const double sinTheta = std::sqrt(1 - cosTheta * cosTheta);
        if (sinTheta > 0.1) {
            const double c = geometry::Dot(now - old * cosTheta, ref) / sinTheta;
            sumCos += c;
            sumCos2 += c * c;
            ++used;
        }
    }
    EXPECT_TRUE(stats::MeanAgrees(sumCos, sumCos2, used, 0.0));
}

TEST(Particle, IsotropicDirectionsHaveUniformCosine) {
    auto rng = stats::MakeGenerator(3);
    std::vector<double> z;
    for (int i = 0; i < 100000; ++i) {
        double u[2];
        rng->Generate(u, 2);
        TParticle p;
        p.SetIsotropicDirection(u[0], u[1]);
        z.push_back(Direction(p).z);
    }
    const auto chi = stats::ChiSquareAgainstDensity(z, -1, 1, 50, [](double) { return 1.0; });
    EXPECT_TRUE(chi.Passes()) << chi.Text();
}

} // namespace

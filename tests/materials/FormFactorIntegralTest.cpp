#include "materials/AngularDensities.h"
#include "materials/FormFactorIntegral.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

namespace {

materials::TScatterData FormFactor(const std::function<double(double)>& f)
{
    std::ostringstream text;
    for (int i = -300; i <= 400; ++i) {
        const double x = std::pow(10.0, i / 100.0);
        text << x << ' ' << f(x) << '\n';
    }
    std::istringstream in(text.str());
    materials::TScatterData data;
    data.LoadDataFromStream(in);
    return data;
}

// Integral of F^2 (1 + mu^2) from -1 to mu, by the trapezoid rule in ln(1 - mu)
// on a grid fine enough for a peak far narrower than the whole range.
double Cumulative(const materials::TScatterData& f, double energy, double mu)
{
    auto density = [&](double m) { return materials::TotalRayleighDensity(energy, m, f, energy); };
    const int steps = 20000;
    const double top = std::log(2.0), bottom = std::log(std::max(1.0 - mu, 1e-14));
    double sum = 0.0, previous = density(-1.0) * 2.0;
    for (int k = 1; k <= steps; ++k) {
        const double v = top + (bottom - top) * k / steps, m = 1.0 - std::exp(v);
        const double current = density(m) * std::exp(v);
        sum += 0.5 * (previous + current) * (top - bottom) / steps;
        previous = current;
    }
    return sum;
}

} // namespace

TEST(FormFactorIntegral, ConstantFormFactorGivesThomson)
{
    materials::TFormFactorIntegral integral;
    integral.Build(FormFactor([](double) { return 2.0; }));
    for (double energy : {1.0, 60.0, 1000.0}) {
        EXPECT_NEAR(integral.Integral(energy), 4.0 * 8.0 / 3.0, 1e-9) << energy;
        for (double u : {1e-6, 0.01, 0.3, 0.5, 0.97})
            EXPECT_NEAR(integral.CosTheta(u, energy), materials::ThomsonCosTheta(u), 1e-9)
                << energy << " " << u;
    }
    for (double u : {0.0, 0.2, 0.5, 0.999}) {
        const double mu = materials::ThomsonCosTheta(u);
        EXPECT_NEAR((mu + mu * mu * mu / 3.0 + 4.0 / 3.0) / (8.0 / 3.0), u, 1e-14) << u;
    }
}

// A form factor falling off like an atom's: the inverse at every u, the
// table filled in one sweep and the integral against direct integration.
TEST(FormFactorIntegral, InvertsTheDistributionOfAFallingFormFactor)
{
    const auto f = FormFactor([](double x) { return 10.0 / std::pow(1.0 + 4.0 * x * x, 2); });
    materials::TFormFactorIntegral integral;
    integral.Build(f);
    for (double energy : {5.0, 60.0, 1000.0}) {
        const double total = Cumulative(f, energy, 1.0);
        EXPECT_NEAR(integral.Integral(energy), total, 1e-4 * total) << energy;
        double column[10];
        integral.FillTable(energy, column, 10);
        EXPECT_EQ(column[0], -1.0);
        for (int j = 1; j < 10; ++j) {
            const double mu = integral.CosTheta(j / 10.0, energy);
            EXPECT_NEAR(column[j], mu, 1e-9) << energy << " " << j;
            EXPECT_NEAR(Cumulative(f, energy, mu) / total, j / 10.0, 2e-4) << energy << " " << j;
        }
        EXPECT_EQ(integral.CosTheta(0.0, energy), -1.0);
        EXPECT_EQ(integral.CosTheta(1.0, energy), 1.0);
    }
}

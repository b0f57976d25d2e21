#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "TestErrors.h"
#include "materials/AngularDensities.h"
#include "materials/FormFactorIntegral.h"
#include "materials/ProbabilityTable.h"
#include "materials/ScatterData.h"

using datastructures::DifferentialProbabilityTable;

namespace {

// Distribution function of 1 + a * mu on [-1, 1].
double LinearCdf(double a, double mu) { return (mu + 1.0 + a * (mu * mu - 1.0) / 2.0) / 2.0; }

DifferentialProbabilityTable ComputedLinearTable()
{
    DifferentialProbabilityTable table;
    auto& info = table.Configuration();
    info.EnergyStart = {0.0};
    info.EnergyStride = {50.0};
    info.MaxEnergy = 100.0;
    info.GammaValuesNumber = {200};
    info.DataFormat = datastructures::Incoherent;
    table.Compute([](double energy, double mu) { return 1.0 + energy / 100.0 * mu; });
    return table;
}

} // namespace

TEST(ProbabilityTable, ThomsonTableInvertsItsDistribution)
{
    materials::TThomsonCoefficients thomson;
    thomson.Configuration().GammaValuesNumber = {1};
    thomson.Compute();
    ASSERT_EQ(thomson.Values().size(), 1001u);
    EXPECT_EQ(thomson.Values().front(), -1.0);
    for (std::size_t j = 0; j < 1001; j += 50) {
        const double mu = thomson.Values()[j];
        const double cdf = (mu + mu * mu * mu / 3.0 + 4.0 / 3.0) / (8.0 / 3.0);
        EXPECT_NEAR(cdf, static_cast<double>(j) / 1001.0, 2e-5) << j;
    }
    EXPECT_DOUBLE_EQ(thomson.GetCosTheta(0.0), -1.0);
    EXPECT_EQ(ErrorOf([&] { thomson.GetCosTheta(-0.1); }), "Invalid array index!");
}

TEST(ProbabilityTable, SampledCosinesFollowTheDensityAtEveryEnergy)
{
    const auto table = ComputedLinearTable();
    for (double energy : {0.0, 50.0, 100.0}) {
        for (double u = 0.0; u < 0.99; u += 0.0725)
            EXPECT_NEAR(LinearCdf(energy / 100.0, table.GetValue(u, energy)), u, 1e-3) << energy << " " << u;
    }
    // Between levels the value is interpolated linearly in energy.
    const double mid = table.GetValue(0.3, 75.0);
    EXPECT_NEAR(mid, 0.5 * (table.GetValue(0.3, 50.0) + table.GetValue(0.3, 100.0)), 1e-12);
    EXPECT_EQ(ErrorOf([&] { table.GetValue(0.3, 100.5); }), "TableInfo::interpolate(). Energy Index Error!\n");
}

// Levels whose 1 - cos(theta) falls like 1/E^2 (a form-factor peak): the
// momentum-transfer interpolation is exact between them, linear cos(theta) is not.
TEST(ProbabilityTable, MomentumTransferInterpolationFollowsOneOverESquared)
{
    DifferentialProbabilityTable table;
    auto& info = table.Configuration();
    info.EnergyStart = {100.0};
    info.EnergyStride = {100.0};
    info.MaxEnergy = 200.0;
    info.GammaValuesNumber = {100};
    const auto mu = [](double u, double energy) { return 1.0 - (1.0 - u) * 1e4 / (energy * energy); };
    table.ComputeColumns([&](double energy, double* values, std::size_t count) {
        for (std::size_t j = 0; j < count; ++j)
            values[j] = mu(static_cast<double>(j) / count, energy);
    });
    double span = 0.0;
    EXPECT_NEAR(table.GetValueByMomentumTransfer(0.5, 150.0, span), mu(0.5, 150.0), 1e-12);
    EXPECT_NEAR(span, std::max(mu(0.51, 100.0) - mu(0.5, 100.0), mu(0.51, 200.0) - mu(0.5, 200.0)), 1e-12);
    EXPECT_GT(std::fabs(table.GetValue(0.5, 150.0) - mu(0.5, 150.0)), 0.01);
    EXPECT_EQ(table.GetValueByMomentumTransfer(0.5, 200.0, span), mu(0.5, 200.0));
}

TEST(ProbabilityTable, WrittenTableReadsBackEqual)
{
    const auto table = ComputedLinearTable();
    std::stringstream file;
    table.Write(file, "Common");
    EXPECT_EQ(file.str().substr(0, file.str().find('\n')), "#Tarvo\t0\tCommon\tIncoherent\t200\t3\t0\t50");
    DifferentialProbabilityTable copy;
    copy.Configuration().MaxEnergy = 100.0;
    copy.LoadDataFromStream(file);
    for (double u : {0.0, 0.123, 0.5, 0.999})
        EXPECT_DOUBLE_EQ(copy.GetValue(u, 80.0), table.GetValue(u, 80.0));
}

TEST(ProbabilityTable, ReadingErrors)
{
    auto error = [](const std::string& text) {
        DifferentialProbabilityTable table;
        table.Configuration().MaxEnergy = 100.0;
        std::istringstream in(text);
        return ErrorOf([&] { table.LoadDataFromStream(in); });
    };
    EXPECT_EQ(error("#Tarvo\t0\tCommon\tCoherent\n"), "DifferentialProbabilityTable: Unknown file format");
    const std::string header = "#Tarvo\t0\tCommon\tCoherent\t3\t2\t1\t1\n";
    EXPECT_EQ(error(header + "-1 0 1\n-1 0\n"), "DifferentialProbabilityTable: Not enough fields");
    EXPECT_EQ(error(header + "-1 0 1\n"), "DifferentialProbabilityTable: Not enough lines");
    // A trillion fields a line, as a corrupt header may claim, fail on the data that are there.
    EXPECT_EQ(error("#Tarvo\t0\tCommon\tCoherent\t1099511627776\t2\t1\t1\n-1 0 1\n"),
              "DifferentialProbabilityTable: Not enough fields");
    std::istringstream thomsonIn("#Tarvo\t0\tCommon\tCoherent\t1099511627776\t2\t1\t1\n-1 0 1\n");
    EXPECT_EQ(ErrorOf([&] { materials::TThomsonCoefficients().LoadDataFromStream(thomsonIn); }),
              "Not enough fields");
    EXPECT_EQ(datastructures::TableFileName("Water", datastructures::Coherent), "Water_cv.xrc");
    EXPECT_EQ(ErrorOf([] { datastructures::TableFileName("Water", datastructures::ACRP); }),
              "Cannot dump data format: ACRP");
}

TEST(ProbabilityTable, UnloadedTablesScatterForward)
{
    DifferentialProbabilityTable table;
    EXPECT_EQ(table.GetValue(0.5, 10.0), 1.0);
    materials::TThomsonCoefficients thomson;
    EXPECT_EQ(thomson.GetCosTheta(0.5), 1.0);
}

namespace {

materials::TScatterData Load(const std::string& text)
{
    materials::TScatterData data;
    std::istringstream in(text);
    data.LoadDataFromStream(in);
    return data;
}

} // namespace

TEST(ScatterData, LinearBelowTheSecondPointLogLogAboveLastValueBeyond)
{
    // y = x^2 between 1 and 4, written with comments and a blank line.
    const auto s = Load("# x y\n0.5 0.25\n1 1 # first log point\n\n2 4\n4 16\n");
    EXPECT_DOUBLE_EQ(s.Evaluate(0.75), 0.25 + 1.5 * 0.25);  // on the line through (0.5, 0.25) and (1, 1)
    EXPECT_NEAR(s.Evaluate(std::sqrt(2.0) * 2.0), 8.0, 1e-12);  // power laws are exact in log-log
    EXPECT_DOUBLE_EQ(s.Evaluate(2.0), 4.0);
    EXPECT_DOUBLE_EQ(s.Evaluate(4.0), 16.0);
    EXPECT_DOUBLE_EQ(s.Evaluate(100.0), 16.0);
}

TEST(ScatterData, ExtrapolationTowardsZeroStaysNonNegative)
{
    const auto s = Load("0.001 0.0002\n0.002 0.0008\n0.004 0.0032\n");
    EXPECT_EQ(s.Evaluate(0.0), 0.0);
    // A file starting at (0, 0) keeps its first piece linear.
    const auto z = Load("0 0\n1 2\n2 3\n");
    EXPECT_DOUBLE_EQ(z.Evaluate(0.5), 1.0);
    EXPECT_NEAR(z.Evaluate(std::sqrt(2.0)), std::sqrt(6.0), 1e-12);
}

TEST(ScatterData, ParseErrors)
{
    EXPECT_EQ(ErrorOf([] { Load("1 2\n3\n"); }), "Error parsing: 3");
    EXPECT_EQ(ErrorOf([] { Load("# nothing\n\n"); }), "Not enough lines");
}

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

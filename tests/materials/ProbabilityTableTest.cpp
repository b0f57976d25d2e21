#include "materials/ProbabilityTable.h"

#include "TestErrors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

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

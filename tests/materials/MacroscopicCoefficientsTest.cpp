#include "materials/MacroscopicCoefficients.h"

#include "TestErrors.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

using datastructures::TableInfo;
using materials::TMacroscopicCoefficients;

namespace {

TableInfo Grid(std::vector<double> starts, std::vector<double> strides, double maxEnergy,
               std::vector<std::uint64_t> levels = {})
{
    TableInfo info;
    info.EnergyStart = std::move(starts);
    info.EnergyStride = std::move(strides);
    info.EnergyLevelsNumber = std::move(levels);
    info.MaxEnergy = maxEnergy;
    return info;
}

// A table of `format` loaded from `text` for a material of `density`.
TMacroscopicCoefficients Load(const std::string& text, std::uint32_t format, TableInfo grid, double density = 0.0)
{
    TMacroscopicCoefficients table;
    table.Configuration() = std::move(grid);
    table.Configuration().DataFormat = format;
    table.Configuration().Density = density;
    std::istringstream in(text);
    table.LoadDataFromStream(in);
    return table;
}

} // namespace

// A zero stride takes the previous one; a missing level count reaches the maximum
// energy; segments at or above it are dropped and the last is cut; without a maximum
// every segment is kept as given.
TEST(EnergyGrid, SegmentsAndLevels)
{
    const struct {
        const char* name;
        TableInfo grid;
        std::vector<std::uint64_t> levels;
        double highest;
    } cases[] = {
        {"zero stride", Grid({1, 10}, {0.5, 0}, 20), {19, 21}, 20},
        {"no level count", Grid({1}, {1}, 100), {100}, 100},
        {"cut at the maximum", Grid({1, 10, 50}, {1, 5, 10}, 30, {10, 100, 5}), {10, 5}, 30},
        {"no maximum", Grid({1, 10}, {1, 5}, 0, {10, 3}), {10, 3}, 20},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        c.grid.SetupEnergyGrid();
        ASSERT_EQ(c.grid.Segments().size(), c.levels.size());
        for (std::size_t i = 0; i < c.levels.size(); ++i)
            EXPECT_EQ(c.grid.Segments()[i].Levels, c.levels[i]) << i;
        EXPECT_DOUBLE_EQ(c.grid.HighestEnergy(), c.highest);
    }
    auto open = Grid({1, 10}, {1, 5}, 0, {10, 0});
    EXPECT_EQ(ErrorOf([&] { open.SetupEnergyGrid(); }), "Invalid table configuration");
}

TEST(EnergyGrid, ConfigurationErrors)
{
    auto check = [](TableInfo info, const std::string& message) {
        EXPECT_EQ(ErrorOf([&] { info.SetupEnergyGrid(); }), message);
    };
    check(Grid({10, 1}, {1, 1}, 100), "Starting energies not ordered");
    check(Grid({10, 10}, {1, 1}, 100), "Starting energies not ordered");
    check(Grid({100}, {1}, 100), "Invalid table configuration");
    check(Grid({}, {}, 100), "Invalid table configuration");
    check(Grid({1}, {0}, 100), "Invalid table configuration");
    check(Grid({1}, {1}, 100, {1}), "Incorrect EnergyLevelsNumber");
    // Sizes beyond any memory, from a corrupt header: no wrapping around.
    check(Grid({1}, {1e-300}, 100), "Too many energy levels from 1 to 100 keV in steps of 1e-300 keV");
    TableInfo huge = Grid({1}, {1}, 0, {1ull << 40});
    huge.GammaValuesNumber = {1ull << 40};
    check(huge, "Invalid table configuration");
}

TEST(MacroscopicCoefficients, TcrLineDerivesThePhotoEffect)
{
    const auto table = Load("2.0 0.5 0.25\n2.0 0.5 0.25\n", datastructures::TCR, Grid({1}, {1}, 2));
    const auto c = table.GetCoefficients(1.0);
    EXPECT_DOUBLE_EQ(c.PhotoEffect, 1.25);
    EXPECT_DOUBLE_EQ(c.PairProduction, 0.0);
    EXPECT_DOUBLE_EQ(c.Total, 2.0);
}

TEST(MacroscopicCoefficients, DensityLineRescalesFollowingCoefficients)
{
    const std::string text = "# Density: 2.0\n4 2 1 0.5\n8 4 2 1\n";
    const auto halved = Load(text, datastructures::ACRP, Grid({1}, {1}, 2), 1.0);
    EXPECT_DOUBLE_EQ(halved.GetCoefficients(2.0).PhotoEffect, 4.0);
    EXPECT_DOUBLE_EQ(halved.GetCoefficients(1.0).PairProduction, 0.25);
    // Without a material density the file's density is taken and nothing scales.
    auto adopted = Load(text, datastructures::ACRP, Grid({1}, {1}, 2), 0.0);
    EXPECT_DOUBLE_EQ(adopted.GetCoefficients(1.0).PhotoEffect, 4.0);
    EXPECT_DOUBLE_EQ(adopted.Configuration().Density, 2.0);
}

TEST(MacroscopicCoefficients, GridPointsAndTheLastEnergyReturnRecordsUnchanged)
{
    std::string text;
    for (int k = 0; k < 19; ++k)
        text += std::to_string(1.0 / (1 + k)) + " " + std::to_string(k) + " 0.1 0\n";
    const auto table = Load(text, datastructures::ACRP, Grid({1, 10}, {0.5, 0}, 5.5));
    // Levels at 1, 1.5, ... 5.5: level 8 is 5.0, the last (9) is 5.5.
    EXPECT_DOUBLE_EQ(table.GetCompton(1.3 + 0.2), 1.0);
    EXPECT_DOUBLE_EQ(table.GetCompton(5.0), 8.0);
    EXPECT_DOUBLE_EQ(table.GetCompton(5.5), 9.0);
    EXPECT_DOUBLE_EQ(table.GetPhotoEffect(5.5), 1.0 / 10.0 + 0.0);
    EXPECT_NEAR(table.GetCompton(1.25), 0.5, 1e-12);
    EXPECT_EQ(ErrorOf([&] { table.GetCoefficients(5.5000001); }), "TableInfo::interpolate(). Energy Index Error!\n");
    EXPECT_EQ(ErrorOf([&] { table.GetCoefficients(0.999); }), "TableInfo::interpolate(). Energy Index Error!\n");
}

TEST(MacroscopicCoefficients, HeaderSetsFormatAndGridAndSegmentsMeetAtAnEdge)
{
    // Two segments meeting at 2 keV: the first ends with the below-edge value.
    const std::string text = "#Tarvo\t1\tTest\tPCR\t0,0\t3,2\t1,2\t0.5,1\n"
                             "# energy steps\n"
                             "10 1 1\n8 1 1\n6 1 1\n"
                             "\n"
                             "30 1 1\n20 1 1\n";
    const auto table = Load(text, datastructures::TableFormatNone, Grid({}, {}, 3), 1.0);
    EXPECT_DOUBLE_EQ(table.GetPhotoEffect(2.0), 6.0);
    EXPECT_NEAR(table.GetPhotoEffect(2.001), 29.99, 1e-9);
    EXPECT_DOUBLE_EQ(table.GetPhotoEffect(1.75), 7.0);
    EXPECT_DOUBLE_EQ(table.GetPhotoEffect(3.0), 20.0);
}

TEST(MacroscopicCoefficients, ReadingErrors)
{
    auto error = [](const std::string& text, std::uint32_t format) {
        return ErrorOf([&] { Load(text, format, Grid({1}, {1}, 3)); });
    };
    EXPECT_EQ(error("1 2 3 4\n1 2 3\n1 2 3 4\n", datastructures::ACRP),
              "Not enough fields reading Macroscopic Coefficients");
    EXPECT_EQ(error("1 2 3 4\n1 2 3 4\n", datastructures::ACRP), "Not enough lines");
    EXPECT_EQ(ErrorOf([] { Load("1 2 3 4\n", datastructures::ACRP, Grid({1}, {1}, 0, {1ull << 40})); }),
              "Not enough lines");
    EXPECT_EQ(error("1 2 3\n", datastructures::Coherent), "Unknown DataFormat for Macroscopic Coefficients");
    EXPECT_EQ(error("#Tarvo\t0\tx\tACRP\n", datastructures::ACRP), "Unknown file format");
    EXPECT_EQ(error("#Tarvo\t0\tx\tNoSuch\t0\n", datastructures::ACRP), "Unknown file format");
}

TEST(MacroscopicCoefficients, UpdateTotalSumsOnlyTheModelsInteractions)
{
    auto table = Load("1 2 4 8\n1 2 4 8\n", datastructures::ACRP, Grid({1}, {1}, 2));
    table.UpdateTotal({true, false, true, false});
    EXPECT_DOUBLE_EQ(table.GetTotal(1.5), 5.0);
}

TEST(SimpleMacroscopicCoefficients, ReadsFourNumbersAndPrints)
{
    materials::TSimpleMacroscopicCoefficients simple;
    std::istringstream missing("1 2 3");
    EXPECT_FALSE(simple.LoadDataFromStream(missing));
    std::istringstream in("1 2 3 4");
    ASSERT_TRUE(simple.LoadDataFromStream(in));
    EXPECT_DOUBLE_EQ(simple.GetTotal(1e6), 10.0);
    std::ostringstream out;
    simple.Print(out);
    EXPECT_EQ(out.str(), "Compton: 2, Rayleigh: 3, PhotoEffect: 1, PairProduction: 4");
}

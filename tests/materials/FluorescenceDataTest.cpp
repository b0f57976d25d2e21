#include "materials/FluorescenceData.h"

#include "TestErrors.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// Two shells on levels 10, 20, 30 keV (one segment) and 30, 40 keV (a second).
const char* const kFile =
    "#Tarvo\t1\tTest\tFluo\t2,2\t3,2\t10,30\t10,10\n"
    "# levels\n"
    "0.0 0.1 0 0 0\n"
    "0.5 0.2 0 0 0\n"
    "0.6 0.3 0 0 0\n"
    "0.8 0.1 1 2 3\n"
    "0.7 0.1 1 2 3\n"
    "# shells\n"
    "25 2 20.1 0.5 0 19.5 0.2 1\n"
    "5 3 4.9 0.1 0 4.8 0.01 7 4.5 0.05 1\n";

materials::TFluorescenceData Load(const std::string& text, double maxEnergy)
{
    materials::TFluorescenceData data;
    data.Configuration().MaxEnergy = maxEnergy;
    std::istringstream in(text);
    data.LoadDataFromStream(in);
    return data;
}

} // namespace

TEST(FluorescenceData, ReadsLevelsAndShellsAndIgnoresUnknownLineKinds)
{
    const auto data = Load(kFile, 40);
    ASSERT_EQ(data.ShellCount(), 2u);
    EXPECT_DOUBLE_EQ(data.Shell(0).BindingEnergy, 25.0);
    ASSERT_EQ(data.Shell(0).Lines.size(), 2u);
    EXPECT_EQ(data.Shell(0).Lines[1].Kind, 1);
    ASSERT_EQ(data.Shell(1).Lines.size(), 2u);  // the kind-7 line is dropped
    EXPECT_DOUBLE_EQ(data.Shell(1).Lines[1].Energy, 4.5);
    EXPECT_DOUBLE_EQ(data.PhotoProbability(0, 15.0), 0.25);
    EXPECT_DOUBLE_EQ(data.PhotoProbability(0, 30.0), 0.6);  // the first segment's last level
    EXPECT_DOUBLE_EQ(data.PhotoProbability(1, 35.0), 0.1);
    EXPECT_DOUBLE_EQ(data.ElectronImpactValue(2, 40.0), 3.0);
}

TEST(FluorescenceData, SampleShellFollowsTheProbabilities)
{
    const auto data = Load(kFile, 40);
    EXPECT_EQ(data.SampleShell(20.0, 0.49), 0);
    EXPECT_EQ(data.SampleShell(20.0, 0.55), 1);
    EXPECT_EQ(data.SampleShell(20.0, 0.75), -1);
    EXPECT_EQ(data.SampleShell(10.0, 0.05), 1);
}

TEST(FluorescenceData, AGridCutByTheMaximumEnergyStillFindsTheShellLines)
{
    const auto data = Load(kFile, 25);
    ASSERT_EQ(data.ShellCount(), 2u);
    EXPECT_DOUBLE_EQ(data.Shell(1).BindingEnergy, 5.0);
    EXPECT_EQ(ErrorOf([&] { data.PhotoProbability(0, 35.0); }), "TableInfo::interpolate(). Energy Index Error!\n");
}

TEST(FluorescenceData, NoShellsMeansLoadedWithoutLines)
{
    const auto data = Load("#Tarvo\t0\tWater\tFluo\t0\t2\t1\t1\n0\n0\n", 2);
    EXPECT_TRUE(data.IsLoaded());
    EXPECT_EQ(data.ShellCount(), 0u);
    EXPECT_EQ(data.SampleShell(1.5, 0.5), -1);
}

TEST(FluorescenceData, ReadingErrorsCarryThePrefix)
{
    const std::string header = "#Tarvo\t0\tT\tFluo\t1\t2\t1\t1\n";
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0\n", 2); }), "FluorescenceData: Not enough fields");
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0 0\n", 2); }), "FluorescenceData: Not enough lines");
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0 0\n0.5 0 0\n1 x\n", 2); }), "FluorescenceData: Error parsing: 1 x");
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0 0\n0.5 0 0\n1 1 2 0.5\n", 2); }),
              "FluorescenceData: Error parsing: 1 1 2 0.5");
    EXPECT_EQ(ErrorOf([&] { Load(header + "0.5 0 0\n0.5 0 0\n", 2); }), "FluorescenceData: Not enough lines");
    EXPECT_EQ(ErrorOf([] { Load("1 2 3\n", 2); }), "FluorescenceData: Unknown file format");
}

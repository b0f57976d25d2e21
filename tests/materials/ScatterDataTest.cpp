#include "materials/ScatterData.h"

#include "TestErrors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

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

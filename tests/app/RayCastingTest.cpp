#include "common/TestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kScript = std::string(TARVO_TEST_DATA) + "/raycasting/check_ray_casting.py";
const std::string kMaterials = std::string(TARVO_TEST_DATA) + "/../../data/materials/materials.ini";

// Each scenario writes its scenes, runs the program and checks what it wrote against
// chords and radiographs computed independently in numpy (see the script).
class RayCastingRun : public ::testing::TestWithParam<const char*> {};

TEST_P(RayCastingRun, MatchesTheReference) {
    testutil::TempDir dir;
    const testutil::RunResult r =
        testutil::Run(TARVO_PYTHON, {kScript, GetParam(), TARVO_EXE, dir.Path(), kMaterials}, "", 240.0);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, RayCastingRun,
                         ::testing::Values("maps", "radiographs", "overlaps", "errors", "montecarlo"),
                         [](const ::testing::TestParamInfo<const char*>& scenario) {
                             return std::string(scenario.param);
                         });

} // namespace

#include <gtest/gtest.h>

#include <omp.h>

#include <utility>
#include <vector>

#include "app/MonteCarloRun.h"
#include "common/TestUtil.h"
#include "detectors/DetectorScene.h"

TEST(Rounds, ScheduleFallsOnTheFirstBoundaryAtOrAfterEachStep) {
    const struct {
        std::uint64_t previous, next;
        bool round;
    } cases[] = {{0, 0, false},       {0, 999, false},    {0, 1000, true},          {999, 1000, true},
                 {1000, 1249, false}, {1000, 1250, true}, {1100, 1400, true},       {1250, 1562, false},
                 {1562, 1563, true},  {0, 100000, true},  {3000000, 3000001, false}};
    for (const auto& c : cases)
        EXPECT_EQ(TMonteCarloRun::RoundBetween(c.previous, c.next), c.round) << c.previous << " " << c.next;
}

// A pencil beam onto a detector: at every round the detector holds exactly the
// histories before the round's boundary, on one thread or two; a round requested
// from inside a round comes at once, at the same boundary.
TEST(Rounds, DetectorsHoldEveryEarlierHistoryAtTheSameBoundariesOnAnyThreadCount) {
    std::vector<std::pair<std::uint64_t, double>> reference;
    for (const int threads : {1, 2}) {
        DetectorScene scene("[Object]\nObjectType = Source\nEnergy = 60\nBaseCenter = (0.5, 0.5, -10)\n"
                            "[EndObject]\n"
                            "[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (1, 0, 0)\n"
                            "Side2 = (0, 1, 0)\n[EndObject]\n");
        testutil::TempDir dir;
        TSimulationParameters parameters;
        parameters.NumberOfParticles = 5000;
        parameters.BatchSize = 70;
        parameters.MaxNumberOfTracers = std::uint64_t(threads);
        parameters.ImageType = ImageType::None;
        parameters.ResultDir = dir.Path();
        TActiveObject application;
        omp_set_num_threads(threads);
        TMonteCarloRun run(application, *scene.Scene, parameters, dir.File("run"), 0);
        std::vector<std::pair<std::uint64_t, double>> rounds;
        bool asked = false;
        run.AddRoundWork([&](const TMonteCarloRun::RoundInfo& round) {
            rounds.emplace_back(round.Scheduled ? round.Histories : ~round.Histories,
                                scene.Plane().PrimaryCount());
            if (round.Histories >= 2000 && !asked) {
                asked = true;
                run.RequestRound([&] { rounds.emplace_back(0, -1); });
            }
        });
        run.Start();
        ASSERT_EQ(run.Totals().Emitted, 5000u) << run.GetError();
        if (threads == 1) {
            reference = rounds;
            continue;
        }
        EXPECT_EQ(rounds, reference);
    }
    ASSERT_EQ(reference.size(), 10u);
    const std::uint64_t scheduled[] = {1050, 1260, 1610, 1960, 2450, 3080, 3850, 4830};
    std::size_t k = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const std::uint64_t at = reference[i].first;
        if (i == 5) { // requested in the round at 2450: a round at the same boundary
            EXPECT_EQ(at, ~std::uint64_t(2450));
            EXPECT_EQ(reference[i].second, 2450);
            continue;
        }
        if (i == 6) {
            EXPECT_EQ(reference[i], std::make_pair(std::uint64_t(0), -1.0));
            continue;
        }
        ASSERT_LT(k, 8u);
        EXPECT_EQ(at, scheduled[k]);
        EXPECT_EQ(reference[i].second, double(scheduled[k]));
        ++k;
    }
}

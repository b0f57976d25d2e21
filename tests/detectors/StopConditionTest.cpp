#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <stdexcept>
#include <vector>

#include "DetectorScene.h"
#include "detectors/HistorySquares.h"
#include "detectors/StopCondition.h"
#include "materials/TestErrors.h"

TEST(StopCondition, ParsesWordsInAnyOrderAndPrintsItsForm) {
    const struct {
        const char* text;
        const char* printed;
    } cases[] = {
        {"max, error, 0.02", "Max Total Error <= 0.02"},
        {"0.02 ERROR Max", "Max Total Error <= 0.02"},
        {"avg count 1000", "Avg Total Count >= 1000"},
        {"median scatter3 error 0.1", "Median Scatter3 Error <= 0.1"},
        {"snr dose primary 10", "SNR Primary Energy >= 10"},
        {"min energy scatter 5", "Min Scatter Energy >= 5"},
        // later words of a kind win; scatter2 then total drops the order
        {"min max count error 3 4 scatter2 total", "Max Total Error <= 4"},
        {"\tmax\r\nerror,,0.5 rows:2-3 columns:0-0", "Max Total Error <= 0.5 rows:2-3 columns:0-0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StopCondition::Parse(c.text).ToString(), c.printed) << c.text;
    const StopCondition c = StopCondition::Parse("scatter12 count 7 rows:1-5");
    EXPECT_EQ(c.ScatterOrder, 12u);
    EXPECT_EQ(c.FirstRow, 1u);
    EXPECT_EQ(c.LastRow, 5u);
    EXPECT_EQ(c.LastColumn, StopCondition::All);

    for (const char* bad :
         {"max errors 0.1", "scatterx count 1", "rows:5-2 count 1", "rows:a-b count 1", "count nan"}) {
        const std::string error = ErrorOf([&] { StopCondition::Parse(bad); });
        EXPECT_EQ(error.rfind("Don't understand \"", 0), 0u) << error;
        EXPECT_NE(error.find("\" while parsing StopCondition"), std::string::npos);
    }
    EXPECT_THROW(StopCondition::Parse("max error"), std::runtime_error);
}

TEST(StopCondition, StatisticsOfHandMadeValues) {
    const struct {
        StopCondition::StatisticType statistic;
        std::vector<double> values;
        double expected;
    } cases[] = {
        {StopCondition::Min, {3, 1, 2}, 1},
        {StopCondition::Max, {3, 1, 2}, 3},
        {StopCondition::Avg, {3, 1, 2, 6}, 3},
        {StopCondition::Median, {5, 1, 4}, 4},
        {StopCondition::Median, {5, 1, 4, 2}, 3},
        {StopCondition::Median, {7}, 7},
        // mean 1e8 + 2, deviation 1: one pass in doubles loses it
        {StopCondition::SNR, {1e8 + 1, 1e8 + 2, 1e8 + 3}, (1e8 + 2) / 1},
        {StopCondition::SNR, {2, 2}, INFINITY},
    };
    for (auto c : cases)
        EXPECT_DOUBLE_EQ(StopStatistic(c.statistic, c.values), c.expected) << int(c.statistic);
    std::vector<double> one{5}, none;
    EXPECT_TRUE(std::isnan(StopStatistic(StopCondition::SNR, one)));
    EXPECT_TRUE(std::isnan(StopStatistic(StopCondition::Avg, none)));

    StopCondition error = StopCondition::Parse("max error 0.1"), count = StopCondition::Parse("min count 5");
    EXPECT_FALSE(error.IsMetBy(0)); // nothing registered is not good enough
    EXPECT_TRUE(error.IsMetBy(0.1));
    EXPECT_FALSE(error.IsMetBy(0.11));
    EXPECT_TRUE(count.IsMetBy(5));
    EXPECT_FALSE(count.IsMetBy(4.9));
}

namespace {

std::string Detector(const std::string& keys) {
    return "[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (3, 0, 0)\nSide2 = (0, 2, 0)\n"
           "PixelColumns = 3\nPixelRows = 2\nOutputNumberOfInteractions = 1\n" +
           keys + "[EndObject]\n";
}

} // namespace

// Counts 4, 1, 0 / 9, 0, 16 in primary, one scattered particle in pixel 5: empty
// pixels are left out of error statistics, Total adds the classes cell by cell, a
// region picks its pixels, and all conditions must be met.
TEST(StopCondition, DetectorEvaluatesItsPixels) {
    DetectorScene scene(
        Detector("StopCondition = max error 0.5\nStopCondition = min count 0 rows:1-1 columns:1-2\n"));
    TPlaneDetector& d = scene.Plane();
    const double counts[6] = {4, 1, 0, 9, 0, 16};
    for (std::uint64_t pixel = 0; pixel < 6; ++pixel)
        for (int k = 0; k < int(counts[pixel]); ++k)
            d.RegisterPixel(pixel / 3, pixel % 3, Photon(10), 1);
    TParticle scattered = Photon(10, 1, 1);
    d.RegisterPixel(1, 2, scattered, 1);
    const auto value = [&](const char* text) { return d.StopConditionValue(StopCondition::Parse(text)); };
    EXPECT_DOUBLE_EQ(value("max primary error 1"), 1);                        // pixel 1: one count
    EXPECT_DOUBLE_EQ(value("min primary error 1"), 0.25);                     // pixel 5: 16 counts
    EXPECT_DOUBLE_EQ(value("median primary error 1"), 0.5 * (1 / 3.0 + 0.5)); // 1, 1/2, 1/3, 1/4
    EXPECT_DOUBLE_EQ(value("max total count 1"), 17);
    EXPECT_DOUBLE_EQ(value("avg primary count 1"), 30 / 6.0);
    EXPECT_DOUBLE_EQ(value("avg primary energy 1"), 300 / 6.0);
    EXPECT_DOUBLE_EQ(value("max scatter count 1"), 1);
    EXPECT_DOUBLE_EQ(value("max scatter1 count 1 columns:0-1"), 0);
    EXPECT_DOUBLE_EQ(value("min primary count 1 rows:1-7 columns:1-2"), 0);
    EXPECT_TRUE(std::isnan(value("max scatter error 1 columns:0-1"))); // no scattered count there
    EXPECT_FALSE(d.StopConditionsMet());                               // max error is 1
    EXPECT_EQ(d.StopConditionStatus(),
              ": Max Total Error <= 0.5: 1 (not met); Min Total Count >= 0 rows:1-1 columns:1-2: 0 (met)");
    d.RegisterPixel(0, 1, Photon(10), 1);
    d.RegisterPixel(0, 1, Photon(10), 1);
    d.RegisterPixel(0, 1, Photon(10), 1);
    EXPECT_TRUE(d.StopConditionsMet()); // pixel 1 now has 4 counts: error 0.5
}

// With splitting a history scores a pixel several times: its registrations are summed
// before squaring, in shared and non-shared detectors alike; one registration per
// history and pixel is unchanged.
TEST(StopCondition, SquareCountIsTakenPerHistory) {
    for (const char* shared : {"true", "false"}) {
        DetectorScene scene(Detector(std::string("Shared = ") + shared + "\n"));
        TPlaneDetector& master = scene.Plane();
        master.BeginRun(0);
        auto copy = scene.Scene->Clone();
        auto& d = dynamic_cast<TPlaneDetector&>(copy->GetDetector(0));
        d.BeginBatch(0);
        for (std::uint64_t history = 0; history < 3000; ++history) {
            TParticle p = Photon(10, 0.25);
            p.History = history;
            // four quarter-weight flights into pixel 0, one full registration into pixel 5
            for (int k = 0; k < 4; ++k)
                d.Register(0.5, 0.5, p, 1);
            p.Weight = 1;
            d.Register(1.5, 2.5, p, 1);
        }
        d.EndBatch();
        master.Flush();
        EXPECT_DOUBLE_EQ(master.Cell(0, 0)[1], 3000) << shared;
        EXPECT_DOUBLE_EQ(master.Cell(0, 5)[1], 3000) << shared;
        EXPECT_DOUBLE_EQ(master.PrimarySquareCount(), 3000 * 4.0) << shared;
        EXPECT_DOUBLE_EQ(master.StopConditionValue(StopCondition::Parse("max error 1")),
                         1 / std::sqrt(3000.0));
    }
}

// Each slot takes, per history, the square of that history's weights summed in
// registration order (a run of registrations into one slot summed first), however many
// slots a history scores and in what order: few slots are merged in place, many sorted.
TEST(HistorySquares, SquaresEachHistorysSumPerSlot) {
    for (const std::size_t slots : {3, 4, 16, 40}) {
        std::mt19937_64 random(slots);
        std::vector<double> squares(slots, 0.0), expected(slots, 0.0);
        HistorySquares history;
        for (std::uint64_t h = 0; h < 50; ++h) {
            // Runs per slot, in order; repeats come interleaved and in runs.
            std::vector<std::vector<double>> runs(slots);
            std::size_t last = slots;
            const std::size_t registrations = 1 + random() % (2 * slots);
            for (std::size_t k = 0; k < registrations; ++k) {
                const std::size_t slot = random() % 3 == 0 && last < slots ? last : random() % slots;
                const double weight = 0.1 + double(random() % 1000) / 7.0;
                history.Add(h, &squares[slot], weight);
                if (slot == last)
                    runs[slot].back() += weight;
                else
                    runs[slot].push_back(weight);
                last = slot;
            }
            for (std::size_t s = 0; s < slots; ++s) {
                if (runs[s].empty())
                    continue;
                double sum = 0;
                for (const double run : runs[s])
                    sum += run;
                expected[s] += sum * sum;
            }
        }
        history.Close();
        for (std::size_t s = 0; s < slots; ++s)
            EXPECT_EQ(squares[s], expected[s]) << slots << " slots, slot " << s;
    }
}

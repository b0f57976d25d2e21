#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <vector>

#include "detectors/HistorySquares.h"

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

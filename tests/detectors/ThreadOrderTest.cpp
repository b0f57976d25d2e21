#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include <omp.h>

#include "DetectorScene.h"

namespace {

const std::uint64_t Batches = 40;
// More than a block, so that batches are handed over in several parts.
const int PerBatch = 2300;

// Every cell value and every total of a run in which `threads` tracers take the
// batches in whatever order they get them, with random delays. Some weights are zero
// and some cancel, so that cells of a non-shared copy return to zero within a batch.
std::vector<double> RunBatches(bool shared, int threads) {
    DetectorScene scene(
        std::string("[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\nSide1 = (4, 0, 0)\n"
                    "Side2 = (0, 4, 0)\nPixelColumns = 16\nPixelRows = 16\nSplitRegistration = true\n"
                    "OutputNumberOfInteractions = 2\nShared = ") +
        (shared ? "true" : "false") + "\n[EndObject]\n");
    TPlaneDetector& master = scene.Plane();
    master.BeginRun(0);
    std::vector<std::unique_ptr<IScene>> copies;
    for (int t = 0; t < threads; ++t)
        copies.push_back(scene.Scene->Clone());
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
    for (std::int64_t b = 0; b < std::int64_t(Batches); ++b) {
        auto& d = dynamic_cast<TPlaneDetector&>(copies[std::size_t(omp_get_thread_num())]->GetDetector(0));
        std::mt19937_64 random(std::uint64_t(b) + 1);
        std::uniform_real_distribution<double> u(0, 1);
        d.BeginBatch(std::uint64_t(b));
        for (int k = 0; k < PerBatch; ++k) {
            const double weight = k % 7 == 0 ? 0 : 0.1 + u(random);
            TParticle p = Photon(10 + 90 * u(random), weight, std::uint32_t(random() % 4));
            const double row = 16 * u(random), column = 16 * u(random);
            d.Register(row, column, p, 1);
            if (k % 11 == 0) {
                p.Weight = -weight;
                d.Register(row, column, p, 1);
            }
            if (random() % 200 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 300));
        }
        d.EndBatch();
    }
    for (auto& copy : copies)
        AsDetector(copy->GetDetector(0)).Flush();
    master.Flush();
    std::vector<double> values;
    for (std::size_t plane = 0; plane < master.PlaneCount(); ++plane)
        for (std::uint64_t pixel = 0; pixel < master.GetPixelCount(); ++pixel)
            for (int f = 0; f < 3; ++f)
                values.push_back(master.Cell(plane, pixel)[f]);
    values.push_back(master.PrimaryCount());
    values.push_back(master.PrimaryEnergy());
    values.push_back(master.PrimarySquareCount());
    for (std::uint32_t k = 0; k <= 2; ++k) {
        values.push_back(master.ScatteredCount(k));
        values.push_back(master.ScatteredEnergy(k));
        values.push_back(master.ScatteredSquareCount(k));
    }
    return values;
}

} // namespace

TEST(DetectorThreads, ResultsDoNotDependOnThreadsOrTimingAndBothModesAgree) {
    std::vector<double> reference[2];
    for (const bool shared : {true, false}) {
        reference[shared] = RunBatches(shared, 1);
        for (const int threads : {2, 4}) {
            const std::vector<double> values = RunBatches(shared, threads);
            ASSERT_EQ(values.size(), reference[shared].size());
            for (std::size_t i = 0; i < values.size(); ++i)
                ASSERT_EQ(values[i], reference[shared][i])
                    << "value " << i << ", shared " << shared << ", " << threads << " threads";
        }
    }
    double total = 0;
    for (std::size_t i = 0; i < reference[0].size(); ++i) {
        EXPECT_NEAR(reference[0][i], reference[1][i], 1e-12 * std::fabs(reference[1][i]) + 1e-300)
            << "value " << i;
        total += reference[0][i];
    }
    EXPECT_GT(total, 0);
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "DetectorScene.h"

// Taking a history's open slots out (as the commit's fast loop holds them) and setting
// them back changes nothing; a history that scored a slot twice or too many stays put.
TEST(HeldSquares, OpenSlotsTakenOutAndBackChangeNothing) {
    std::mt19937_64 random(7);
    std::vector<double> plain(6, 0.0), held(6, 0.0);
    HistorySquares a, b;
    for (std::uint64_t h = 0; h < 400; ++h) {
        const std::size_t registrations = 1 + random() % 6;
        for (std::size_t k = 0; k < registrations; ++k) {
            const std::size_t slot = random() % 6;
            const double weight = 0.1 + double(random() % 1000) / 7.0;
            a.Add(h, &plain[slot], weight);
            b.Add(h, &held[slot], weight);
            double* squares[4];
            double sums[4];
            std::size_t count = 0;
            if (b.OpenSlots(squares, sums, count))
                b.SetOpenSlots(b.OpenHistory(), squares, sums, count);
        }
    }
    a.Close();
    b.Close();
    EXPECT_EQ(0, std::memcmp(plain.data(), held.data(), plain.size() * sizeof(double)));

    double slots[6] = {};
    double* squares[4];
    double sums[4];
    std::size_t count = 0;
    HistorySquares twice, many;
    for (const int s : {0, 1, 0})
        twice.Add(1, &slots[s], 1);
    for (const int s : {0, 1, 2, 3, 4})
        many.Add(1, &slots[s], 1);
    EXPECT_FALSE(twice.OpenSlots(squares, sums, count));
    EXPECT_FALSE(many.OpenSlots(squares, sums, count));
}

// Split registrations into a simple detector, shared and not: histories of one
// registration, histories that register again at once or after a scattered particle.
// Each pixel's square count is the sum over histories of their summed shares squared.
TEST(HeldSquares, SplitSquareCountsSumEachHistorysShares) {
    const std::size_t side = 8;
    for (const bool shared : {true, false}) {
        DetectorScene scene(std::string("[Object]\nObjectType = PlaneDetector\nVertexA = (0, 0, 0)\n"
                                        "Side1 = (8, 0, 0)\nSide2 = (0, 8, 0)\nPixelColumns = 8\n"
                                        "PixelRows = 8\nSplitRegistration = true\nShared = ") +
                            (shared ? "true" : "false") + "\n[EndObject]\n");
        std::map<std::pair<std::uint64_t, std::size_t>, double> perHistory; // (history, pixel)
        std::mt19937_64 random(shared ? 1 : 2);
        std::uniform_real_distribution<double> u(1, double(side) - 1);
        scene.RunBatches(3, 1, [&](TPlaneDetector& d, int batch) {
            for (std::uint64_t h = 0; h < 1500; ++h) {
                TParticle photon;
                photon.History = std::uint64_t(batch) * 10000 + h;
                const int shape = int(random() % 4); // 0, 1: once; 2: twice; 3: scattered between
                for (int k = 0; k < (shape >= 2 ? 2 : 1); ++k) {
                    if (shape == 3 && k == 1) {
                        photon.InteractionCount = 1;
                        d.Register(u(random), u(random), photon, 1);
                        photon.InteractionCount = 0;
                    }
                    const double row = u(random), column = u(random);
                    photon.Weight = 0.5 + double(random() % 100) / 100;
                    d.Register(row, column, photon, 1);
                    // Bilinear shares among the pixels whose centres surround the hit.
                    const double r0 = std::floor(row - 0.5), c0 = std::floor(column - 0.5);
                    const double fr = row - 0.5 - r0, fc = column - 0.5 - c0;
                    for (int i = 0; i < 2; ++i)
                        for (int j = 0; j < 2; ++j)
                            perHistory[{photon.History, std::size_t(r0 + i) * side + std::size_t(c0 + j)}] +=
                                photon.Weight * (i ? fr : 1 - fr) * (j ? fc : 1 - fc);
                }
            }
        });
        std::vector<double> expected(side * side, 0.0);
        for (const auto& entry : perHistory)
            expected[entry.first.second] += entry.second * entry.second;
        for (std::size_t p = 0; p < side * side; ++p)
            EXPECT_NEAR(scene.Plane().Cell(0, p)[1], expected[p], 1e-9 * expected[p]) << shared << " " << p;
    }
}

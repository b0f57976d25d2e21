#include "random/QuasiRandom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <sstream>
#include <vector>

namespace {

std::unique_ptr<TRandomNumbersGenerator> Pseudo(PRNG_Type kind, std::uint32_t seed)
{
    auto generator = CreateGenerator(kind);
    generator->SetSeed(seed);
    return generator;
}

std::vector<double> DrawAll(TRandomNumbersGenerator& generator, std::size_t count)
{
    std::vector<double> values(count);
    generator.Generate(values.data(), count);
    return values;
}

std::uint32_t Reverse8(std::uint32_t r)
{
    std::uint32_t v = 0;
    for (int b = 0; b < 8; ++b)
        v |= ((r >> b) & 1u) << (7 - b);
    return v;
}

// 0 .. p-1 ordered by the van der Corput value of their 8-bit reversal.
std::vector<std::uint32_t> VanDerCorputOrder(std::uint32_t p)
{
    std::vector<std::uint32_t> digits(p);
    std::iota(digits.begin(), digits.end(), 0u);
    std::sort(digits.begin(), digits.end(),
              [](std::uint32_t a, std::uint32_t b) { return Reverse8(a) < Reverse8(b); });
    return digits;
}

// Scrambled radical inverse of `index` in base p, written out digit by digit.
double RadicalInverse(std::uint32_t index, std::uint32_t p)
{
    const std::vector<std::uint32_t> permutation = VanDerCorputOrder(p);
    std::vector<std::uint32_t> digits;
    for (; index != 0; index /= p)
        digits.push_back(index % p);
    double value = 0;
    double weight = 1;
    for (std::uint32_t digit : digits) {
        weight /= p;
        value += permutation[digit] * weight;
    }
    return value;
}

using Point2 = std::array<double, 2>;

// Exact star discrepancy of a 2-D point set with distinct coordinates: the
// supremum is attained at boxes whose corners take coordinates of the points
// or 1, compared once as open boxes (deficit) and once as closed ones (excess).
double StarDiscrepancy(const std::vector<Point2>& points)
{
    const std::size_t n = points.size();
    std::vector<std::size_t> byX(n), byY(n);
    std::iota(byX.begin(), byX.end(), 0);
    std::iota(byY.begin(), byY.end(), 0);
    std::sort(byX.begin(), byX.end(), [&](std::size_t a, std::size_t b) { return points[a][0] < points[b][0]; });
    std::sort(byY.begin(), byY.end(), [&](std::size_t a, std::size_t b) { return points[a][1] < points[b][1]; });
    std::vector<std::size_t> rankX(n);
    for (std::size_t r = 0; r < n; ++r)
        rankX[byX[r]] = r;
    std::vector<std::size_t> rankXInYOrder(n);
    for (std::size_t m = 0; m < n; ++m)
        rankXInYOrder[m] = rankX[byY[m]];

    double worst = 0;
    for (std::size_t k = 0; k <= n; ++k) {
        // Boxes [0, a) x [0, b) with a = the k-th smallest x, or 1 when k = n.
        const double a = k < n ? points[byX[k]][0] : 1.0;
        std::size_t open = 0;
        std::size_t closed = 0;
        for (std::size_t m = 0; m < n; ++m) {
            const double b = points[byY[m]][1];
            worst = std::max(worst, a * b - static_cast<double>(open) / n);
            open += rankXInYOrder[m] < k;
            closed += rankXInYOrder[m] <= k;
            worst = std::max(worst, static_cast<double>(closed) / n - a * b);
        }
        worst = std::max(worst, a - static_cast<double>(open) / n);
    }
    return worst;
}

} // namespace

TEST(QuasiRandom, PrimesAndDigitPermutations)
{
    KW_QuasiRandom quasi(0, *Pseudo(PRNG_Type::MT19937_64, 1), false);
    const std::vector<std::uint32_t>& primes = quasi.Primes();
    EXPECT_EQ(primes, (std::vector<std::uint32_t>{
                          2,   3,   5,   7,   11,  13,  17,  19,  23,  29,  31,  37,  41,  43,  47,  53,  59,
                          61,  67,  71,  73,  79,  83,  89,  97,  101, 103, 107, 109, 113, 127, 131, 137, 139,
                          149, 151, 157, 163, 167, 173, 179, 181, 191, 193, 197, 199, 211, 223, 227, 229}));
    for (std::size_t d = 0; d < primes.size(); ++d)
        EXPECT_EQ(quasi.Permutation(d), VanDerCorputOrder(primes[d])) << "base " << primes[d];
    EXPECT_EQ(quasi.Permutation(1), (std::vector<std::uint32_t>{0, 2, 1}));
    EXPECT_EQ(quasi.Permutation(2), (std::vector<std::uint32_t>{0, 4, 2, 1, 3}));
}

TEST(QuasiRandom, SeedZeroStartsAtTheOriginThenHalfAndTwoThirds)
{
    KW_QuasiRandom quasi(0, *Pseudo(PRNG_Type::MT19937_64, 1), false);
    for (double value : DrawAll(quasi, 50))
        EXPECT_EQ(value, 0.0);
    quasi.NextPoint();
    EXPECT_EQ(quasi.Point(), 1u);
    EXPECT_EQ(quasi.Dimension(), 0u);
    const std::vector<double> values = DrawAll(quasi, 2);
    EXPECT_EQ(values[0], 0.5);
    EXPECT_DOUBLE_EQ(values[1], 2.0 / 3.0);
}

TEST(QuasiRandom, WithoutAutoAdvanceValuesBeyondTheBasesArePseudoRandom)
{
    const std::uint32_t seed = 77;
    KW_QuasiRandom quasi(seed, *Pseudo(PRNG_Type::XORShift1024Mult, 1), false);
    const std::vector<double> values = DrawAll(quasi, 60);
    for (std::size_t d = 0; d < 50; ++d)
        EXPECT_DOUBLE_EQ(values[d], RadicalInverse(seed, quasi.Primes()[d])) << "dimension " << d;
    const std::vector<double> pseudo = DrawAll(*Pseudo(PRNG_Type::XORShift1024Mult, seed), 15);
    EXPECT_EQ(std::vector<double>(values.begin() + 50, values.end()), std::vector<double>(pseudo.begin(), pseudo.begin() + 10));
    EXPECT_EQ(quasi.Point(), 0u);
    EXPECT_EQ(DrawAll(quasi, 5), std::vector<double>(pseudo.begin() + 10, pseudo.end()));
    EXPECT_EQ(quasi.DrawCount(), 65u);
}

TEST(QuasiRandom, AutoAdvanceMovesToTheNextPointWithTheSeedMixedIn)
{
    const std::uint32_t seed = 0x5a5u;
    KW_QuasiRandom quasi(seed, *Pseudo(PRNG_Type::MT19937, 1), true);
    std::vector<double> values(50);
    for (std::uint32_t point = 0; point < 5; ++point) {
        const std::size_t split = point % 2 == 0 ? 50 : 20;
        quasi.Generate(values.data(), split);
        quasi.Generate(values.data() + split, 50 - split);
        for (std::size_t d = 0; d < 50; d += 7)
            ASSERT_DOUBLE_EQ(values[d], RadicalInverse(point ^ seed, quasi.Primes()[d])) << point << " " << d;
    }
    EXPECT_EQ(quasi.Point(), 4u);
    EXPECT_EQ(quasi.Dimension(), 50u);
}

TEST(QuasiRandom, NextPointSetSeedAndSpawn)
{
    KW_QuasiRandom quasi(3, *Pseudo(PRNG_Type::Uni64, 1), false);
    const std::vector<double> first = DrawAll(quasi, 60);
    quasi.NextPoint();
    quasi.NextPoint();
    EXPECT_EQ(DrawAll(quasi, 1)[0], RadicalInverse(2 ^ 3, 2));

    quasi.SetSeed(3);
    EXPECT_EQ(quasi.Point(), 0u);
    EXPECT_EQ(quasi.Dimension(), 0u);
    EXPECT_EQ(quasi.DrawCount(), 0u);
    EXPECT_EQ(DrawAll(quasi, 60), first);

    auto child = quasi.Spawn(9);
    auto& spawned = dynamic_cast<KW_QuasiRandom&>(*child);
    EXPECT_EQ(spawned.Seed(), 9u);
    EXPECT_FALSE(spawned.AutoAdvance());
    const std::vector<double> values = DrawAll(spawned, 53);
    EXPECT_EQ(values[0], RadicalInverse(9, 2));
    EXPECT_EQ(std::vector<double>(values.begin() + 50, values.end()), DrawAll(*Pseudo(PRNG_Type::Uni64, 9), 3));
    EXPECT_TRUE(dynamic_cast<KW_QuasiRandom&>(*KW_QuasiRandom(1, *Pseudo(PRNG_Type::Uni64, 1), true).Spawn(2)).AutoAdvance());
}

TEST(QuasiRandom, RestoreReplaysPointDimensionAndPseudoTail)
{
    for (bool autoAdvance : {true, false}) {
        for (std::size_t saved : {0u, 49u, 57u, 1234u}) {
            KW_QuasiRandom original(31, *Pseudo(PRNG_Type::MT19937_64, 1), autoAdvance);
            for (std::size_t done = 0; done < saved; done += 13)
                DrawAll(original, std::min<std::size_t>(13, saved - done));
            std::ostringstream out;
            original.InternalWrite(out);
            EXPECT_EQ(out.str(), "PRNG 31 " + std::to_string(saved) + " ");

            KW_QuasiRandom restored(8, *Pseudo(PRNG_Type::MT19937_64, 1), autoAdvance);
            DrawAll(restored, 70);
            std::istringstream in(out.str());
            restored.InternalRead(in, out.str().size());
            EXPECT_EQ(restored.Point(), original.Point());
            EXPECT_EQ(restored.Dimension(), original.Dimension());
            EXPECT_EQ(DrawAll(restored, 200), DrawAll(original, 200)) << autoAdvance << " " << saved;
        }
    }
}

TEST(QuasiRandom, First4096PointsAreMoreEvenThanPseudoRandomOnes)
{
    constexpr std::size_t kPoints = 4096;
    KW_QuasiRandom quasi(0, *Pseudo(PRNG_Type::MT19937_64, 1), false);
    auto pseudo = Pseudo(PRNG_Type::MT19937_64, 20261206);
    std::vector<Point2> quasiPoints(kPoints), pseudoPoints(kPoints);
    for (std::size_t i = 0; i < kPoints; ++i) {
        quasi.Generate(quasiPoints[i].data(), 2);
        quasi.NextPoint();
        pseudo->Generate(pseudoPoints[i].data(), 2);
    }
    const double quasiD = StarDiscrepancy(quasiPoints);
    const double pseudoD = StarDiscrepancy(pseudoPoints);
    EXPECT_LT(quasiD, pseudoD);
    RecordProperty("quasi", std::to_string(quasiD));
    RecordProperty("pseudo", std::to_string(pseudoD));
}

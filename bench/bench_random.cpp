#include "random/RandomNumbersGenerator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

// Doubles per second of every generator kind drawing blocks through Generate,
// each beside std::mt19937_64 with std::uniform_real_distribution filling the
// same blocks, measured right before it so that both see the same machine load.

namespace {

constexpr std::size_t kBlock = 1024;
constexpr double kMinSeconds = 0.2;
constexpr int kRepetitions = 3;

volatile double g_sink;

// Best rate, in millions of doubles per second, of `fill` over a few timed runs.
template <typename Fill>
double BestRate(Fill fill)
{
    std::vector<double> block(kBlock);
    double best = 0;
    for (int repetition = 0; repetition < kRepetitions; ++repetition) {
        std::size_t drawn = 0;
        double sum = 0;
        const auto start = std::chrono::steady_clock::now();
        double seconds = 0;
        do {
            for (int i = 0; i < 64; ++i) {
                fill(block.data(), kBlock);
                sum += block[i];
                drawn += kBlock;
            }
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        } while (seconds < kMinSeconds);
        g_sink = sum;
        best = std::max(best, drawn / seconds / 1e6);
    }
    return best;
}

} // namespace

int main()
{
    const PRNG_Type kinds[] = {
        PRNG_Type::InCarry,         PRNG_Type::InCarry0,        PRNG_Type::InCarry1,
        PRNG_Type::InCarry2,        PRNG_Type::Uni64,           PRNG_Type::MT19937,
        PRNG_Type::MT19937_64,      PRNG_Type::XORShift128Plus, PRNG_Type::XORShift64Mult,
        PRNG_Type::XORShift1024Mult,
    };
    for (PRNG_Type kind : kinds) {
        std::mt19937_64 engine(189705);
        std::uniform_real_distribution<double> uniform;
        const double reference = BestRate([&](double* out, std::size_t count) {
            for (std::size_t k = 0; k < count; ++k)
                out[k] = uniform(engine);
        });

        auto generator = CreateGenerator(kind);
        generator->SetSeed(189705);
        const double ours = BestRate([&](double* out, std::size_t count) { generator->Generate(out, count); });

        std::printf("BENCH random %s: %.1f Mdoubles/s; reference std::mt19937_64+std::uniform_real_distribution "
                    "%.1f Mdoubles/s; ratio %.2f\n",
                    PRNGTypeName(kind).c_str(), ours, reference, ours / reference);
        std::fflush(stdout);
    }
    return 0;
}

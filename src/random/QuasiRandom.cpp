#include "random/QuasiRandom.h"

#include <stdexcept>

namespace {

constexpr std::size_t kPrimeCount = 50;

std::vector<std::uint32_t> FirstPrimes(std::size_t count)
{
    std::vector<std::uint32_t> primes;
    for (std::uint32_t n = 2; primes.size() < count; ++n) {
        bool divisible = false;
        for (std::uint32_t p : primes)
            divisible = divisible || n % p == 0;
        if (!divisible)
            primes.push_back(n);
    }
    return primes;
}

// Each base's digits 0 .. p-1 in the order of their bit-reversed ranks: walking
// v upwards and reversing its bits visits the small numbers in van der Corput order.
std::vector<std::vector<std::uint32_t>> BitReversedPermutations(const std::vector<std::uint32_t>& primes)
{
    std::vector<std::vector<std::uint32_t>> permutations(primes.size());
    if (primes.empty())
        return permutations;
    int bits = 0;
    while ((primes.back() >> bits) != 0)
        ++bits;
    for (std::uint32_t v = 0; v < (1u << bits); ++v) {
        std::uint32_t r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((v >> b) & 1u) << (bits - 1 - b);
        for (std::size_t d = 0; d < primes.size(); ++d) {
            if (r < primes[d])
                permutations[d].push_back(r);
        }
    }
    return permutations;
}

} // namespace

KW_QuasiRandom::KW_QuasiRandom(std::uint32_t seed, const TRandomNumbersGenerator& generator, bool autoAdvance)
    : TRandomNumbersGenerator(seed),
      primes_(FirstPrimes(kPrimeCount)),
      permutations_(BitReversedPermutations(primes_)),
      autoAdvance_(autoAdvance),
      generator_(generator.Spawn(seed))
{
}

std::unique_ptr<TRandomNumbersGenerator> KW_QuasiRandom::Spawn(std::uint32_t seed) const
{
    return std::make_unique<KW_QuasiRandom>(seed, *generator_, autoAdvance_);
}

void KW_QuasiRandom::Reseed()
{
    generator_->SetSeed(Seed());
    point_ = 0;
    dimension_ = 0;
}

void KW_QuasiRandom::NextPoint()
{
    ++point_;
    dimension_ = 0;
}

double KW_QuasiRandom::Value(std::size_t dimension, std::uint32_t index) const
{
    const std::uint32_t p = primes_[dimension];
    const std::uint32_t* permutation = permutations_[dimension].data();
    const double inverse = 1.0 / p;
    double factor = inverse;
    double value = 0.0;
    for (std::uint32_t n = index; n != 0; n /= p) {
        value += permutation[n % p] * factor;
        factor *= inverse;
    }
    return value;
}

void KW_QuasiRandom::Fill(double* out, std::size_t count)
{
    for (std::size_t k = 0; k < count; ++k) {
        if (dimension_ >= primes_.size()) {
            if (!autoAdvance_) {
                generator_->Generate(out + k, count - k);
                return;
            }
            NextPoint();
            if (dimension_ >= primes_.size())
                throw std::runtime_error("Not enough primes.");
        }
        out[k] = Value(static_cast<std::size_t>(dimension_), point_ ^ Seed());
        ++dimension_;
    }
}

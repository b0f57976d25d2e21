#include "random/IncarryGenerator.h"

#include <stdexcept>

namespace {

constexpr int kFractionBits = 48;
constexpr std::int64_t kOne = std::int64_t{1} << kFractionBits;
constexpr std::uint32_t kRegisterBits = 0x7fffffffu;

int LuxuryPeriod(int level)
{
    switch (level) {
    case 0:
        return 109;
    case 1:
        return 202;
    case 2:
        return 397;
    }
    throw std::invalid_argument("TIncarryGenerator: luxury level must be 0, 1 or 2");
}

} // namespace

TIncarryGenerator::TIncarryGenerator(int luxuryLevel)
    : TRandomNumbersGenerator(kDefaultSeed), luxuryLevel_(luxuryLevel), period_(LuxuryPeriod(luxuryLevel))
{
    TIncarryGenerator::Reseed();
}

std::unique_ptr<TRandomNumbersGenerator> TIncarryGenerator::Spawn(std::uint32_t seed) const
{
    auto copy = std::make_unique<TIncarryGenerator>(*this);
    copy->SetSeed(seed);
    return copy;
}

void TIncarryGenerator::Reseed()
{
    // The register's bits 0 to 30 are the only ones read. With all of them
    // clear it stays clear and every fraction comes out as 1 - 2^-48, so the
    // first outputs would be zeros; such a seed (0 or 2^31) borrows a register
    // with balanced bits instead.
    std::uint32_t r = Seed() & kRegisterBits;
    if (r == 0)
        r = 0x1e3779b9u;
    int a = 0;
    int b = 18;
    for (std::int64_t& entry : u_) {
        std::int64_t value = 0;
        for (std::int64_t weight = kOne >> 1; weight > 0; weight >>= 1) {
            const std::uint32_t bitA = (r >> a) & 1u;
            const std::uint32_t bitB = (r >> b) & 1u;
            if (bitA == 0)
                value += weight;
            r = (r & ~(1u << a)) | ((bitA ^ bitB) << a);
            a = (a + 1) % 31;
            b = (b + 1) % 31;
        }
        entry = value;
    }
    carry_ = 0;
    produced_ = 0;
    i_ = kLag - 1;
    j_ = 4;
}

inline std::int64_t TIncarryGenerator::Step()
{
    std::int64_t x = u_[j_] - u_[i_] - carry_;
    // Branch-free: the sign is a coin toss, so a branch would mispredict half the time.
    carry_ = x < 0;
    x += carry_ << kFractionBits;
    u_[i_] = x;
    i_ = i_ != 0 ? i_ - 1 : kLag - 1;
    j_ = j_ != 0 ? j_ - 1 : kLag - 1;
    return x;
}

void TIncarryGenerator::Fill(double* out, std::size_t count)
{
    constexpr double kScale = 1.0 / static_cast<double>(kOne);
    for (std::size_t k = 0; k < count; ++k) {
        if (produced_ == kLag) {
            for (int skipped = kLag; skipped < period_; ++skipped)
                Step();
            produced_ = 0;
        }
        out[k] = static_cast<double>(Step()) * kScale;
        ++produced_;
    }
}

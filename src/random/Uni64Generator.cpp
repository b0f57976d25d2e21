#include "random/Uni64Generator.h"

namespace {

constexpr std::int64_t kOne = std::int64_t{1} << 53;
constexpr std::int64_t kCorrectionStep = 362436069876;
constexpr std::int64_t kCorrectionModulus = 9007199254740881;

// Adds 1 to a difference of two fractions when it is negative. Branch-free,
// because the sign of the difference is a coin toss.
inline std::int64_t WrapIntoUnit(std::int64_t x)
{
    return x + (kOne & -static_cast<std::int64_t>(x < 0));
}

} // namespace

TUni64Generator::TUni64Generator(std::uint32_t seed) : TRandomNumbersGenerator(seed)
{
    TUni64Generator::Reseed();
}

std::unique_ptr<TRandomNumbersGenerator> TUni64Generator::Spawn(std::uint32_t seed) const
{
    return std::make_unique<TUni64Generator>(seed);
}

void TUni64Generator::Reseed()
{
    // Seed 0 keeps both congruential sequences at 0 and so fills the table with
    // zeros, after which only the correction sequence would come out. It stands
    // in for 2^32 instead: the pair of residues that 2^32 gives belongs to no
    // 32-bit seed, because 65543 * 65579 exceeds 2^32.
    const std::uint64_t start = Seed() != 0 ? Seed() : std::uint64_t{1} << 32;
    std::uint64_t s = start;
    std::uint64_t t = start;
    for (std::int64_t& entry : u_) {
        std::int64_t value = 0;
        for (std::int64_t weight = kOne >> 1; weight > 0; weight >>= 1) {
            s = (s * 6969) % 65543;
            t = (t * 8888) % 65579;
            if ((s ^ t) & 32u)
                value += weight;
        }
        entry = value;
    }
    c_ = 0;
    i_ = kLag - 1;
    j_ = 32;
}

void TUni64Generator::Fill(double* out, std::size_t count)
{
    constexpr double kScale = 1.0 / 9007199254740992.0;
    std::int64_t c = c_;
    int i = i_;
    int j = j_;
    for (std::size_t k = 0; k < count; ++k) {
        c -= kCorrectionStep;
        if (c < 0)
            c += kCorrectionModulus;
        std::int64_t x = WrapIntoUnit(u_[i] - u_[j]);
        u_[i] = x;
        i = i != 0 ? i - 1 : kLag - 1;
        j = j != 0 ? j - 1 : kLag - 1;
        out[k] = static_cast<double>(WrapIntoUnit(x - c)) * kScale;
    }
    c_ = c;
    i_ = i;
    j_ = j;
}

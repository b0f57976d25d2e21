#include "random/MersenneTwister.h"

#include <algorithm>

namespace {

constexpr double kTwoPowMinus53 = 1.0 / 9007199254740992.0;

inline std::uint32_t Temper32(std::uint32_t y)
{
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    return y ^ (y >> 18);
}

inline std::uint64_t Temper64(std::uint64_t y)
{
    y ^= (y >> 29) & 0x5555555555555555ull;
    y ^= (y << 17) & 0x71d67fffeda60000ull;
    y ^= (y << 37) & 0xfff7eee000000000ull;
    return y ^ (y >> 43);
}

inline double Combine53(std::uint32_t a, std::uint32_t b)
{
    return ((a >> 5) * 67108864.0 + (b >> 6)) * kTwoPowMinus53;
}

// The twist of both generators; only the word size and the constants differ.
template <typename Word, std::size_t N, std::size_t M>
void TwistState(Word (&state)[N], Word upperMask, Word lowerMask, Word matrix)
{
    auto step = [&](std::size_t i, std::size_t next, std::size_t far) {
        const Word y = (state[i] & upperMask) | (state[next] & lowerMask);
        state[i] = state[far] ^ (y >> 1) ^ ((Word(0) - (y & 1u)) & matrix);
    };
    // Split so that the inner loops need no modulo.
    std::size_t i = 0;
    for (; i < N - M; ++i)
        step(i, i + 1, i + M);
    for (; i < N - 1; ++i)
        step(i, i + 1, i + M - N);
    step(N - 1, 0, M - 1);
}

} // namespace

MT19937::MT19937(std::uint32_t seed) : TRandomNumbersGenerator(seed)
{
    MT19937::Reseed();
}

std::unique_ptr<TRandomNumbersGenerator> MT19937::Spawn(std::uint32_t seed) const
{
    return std::make_unique<MT19937>(seed);
}

void MT19937::Reseed()
{
    state_[0] = Seed();
    for (std::size_t i = 1; i < kN; ++i)
        state_[i] = 1812433253u * (state_[i - 1] ^ (state_[i - 1] >> 30)) + static_cast<std::uint32_t>(i);
    index_ = kN;
}

void MT19937::Twist()
{
    TwistState<std::uint32_t, kN, 397>(state_, 0x80000000u, 0x7fffffffu, 0x9908b0dfu);
    index_ = 0;
}

std::uint32_t MT19937::NextRaw()
{
    if (index_ >= kN)
        Twist();
    return Temper32(state_[index_++]);
}

void MT19937::Fill(double* out, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        if (index_ >= kN)
            Twist();
        if (kN - index_ < 2) {
            // Only after an odd number of raw draws can a pair straddle the twist.
            const std::uint32_t a = NextRaw();
            const std::uint32_t b = NextRaw();
            out[done++] = Combine53(a, b);
            continue;
        }
        const std::size_t n = std::min((kN - index_) / 2, count - done);
        const std::uint32_t* words = state_ + index_;
        double* target = out + done;
        for (std::size_t k = 0; k < n; ++k)
            target[k] = Combine53(Temper32(words[2 * k]), Temper32(words[2 * k + 1]));
        index_ += 2 * n;
        done += n;
    }
}

MT19937_64::MT19937_64(std::uint32_t seed) : TRandomNumbersGenerator(seed)
{
    MT19937_64::Reseed();
}

std::unique_ptr<TRandomNumbersGenerator> MT19937_64::Spawn(std::uint32_t seed) const
{
    return std::make_unique<MT19937_64>(seed);
}

void MT19937_64::Reseed()
{
    state_[0] = Seed();
    for (std::size_t i = 1; i < kN; ++i)
        state_[i] = 6364136223846793005ull * (state_[i - 1] ^ (state_[i - 1] >> 62)) + i;
    index_ = kN;
}

void MT19937_64::Twist()
{
    TwistState<std::uint64_t, kN, 156>(state_, 0xffffffff80000000ull, 0x7fffffffull, 0xb5026f5aa96619e9ull);
    index_ = 0;
}

std::uint64_t MT19937_64::NextRaw()
{
    if (index_ >= kN)
        Twist();
    return Temper64(state_[index_++]);
}

void MT19937_64::Fill(double* out, std::size_t count)
{
    // Samplers mostly ask for one or two numbers: those skip the block loop. The
    // shifted word fits 53 bits, so the signed conversion is exact and branch-free.
    if (count <= 2 && kN - index_ >= count) {
        for (std::size_t k = 0; k < count; ++k)
            out[k] = static_cast<double>(static_cast<std::int64_t>(Temper64(state_[index_ + k]) >> 11)) *
                     kTwoPowMinus53;
        index_ += count;
        return;
    }
    std::size_t done = 0;
    while (done < count) {
        if (index_ >= kN)
            Twist();
        const std::size_t n = std::min(kN - index_, count - done);
        const std::uint64_t* words = state_ + index_;
        double* target = out + done;
        for (std::size_t k = 0; k < n; ++k)
            target[k] = static_cast<double>(Temper64(words[k]) >> 11) * kTwoPowMinus53;
        index_ += n;
        done += n;
    }
}

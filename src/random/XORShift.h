#pragma once

#include "random/RandomNumbersGenerator.h"

#include <cstddef>
#include <cstdint>

// The 64-bit value the xorshift states are built from. Seed 0 would give
// xorshift64* an all-zero state, which stays zero for ever, and the other two
// kinds a nearly empty one; it is replaced by a constant above 2^32 with
// balanced bits, so its stream is good and no other seed can produce it.
std::uint64_t XORShiftSeedValue(std::uint32_t seed);

// u / (2^64 - 1) in double precision, with the few outputs that round up to
// 1.0 moved to the largest double below 1, so every value lies in [0, 1).
inline double XORShiftToUnit(std::uint64_t u)
{
    constexpr double kScale = 1.0 / 18446744073709551615.0;
    constexpr double kBelowOne = 1.0 - 1.0 / 9007199254740992.0;
    // Both halves convert exactly and the sum rounds once, so this is the
    // correctly rounded double of u, without the branch on the top bit that a
    // direct unsigned conversion costs (mispredicted half the time here).
    const double high = static_cast<double>(static_cast<std::uint32_t>(u >> 32));
    const double low = static_cast<double>(static_cast<std::uint32_t>(u));
    const double x = (high * 4294967296.0 + low) * kScale;
    return x < kBelowOne ? x : kBelowOne;
}

// xorshift128+.
class XORShift128Plus final : public TRandomNumbersGenerator {
public:
    explicit XORShift128Plus(std::uint32_t seed);

    std::unique_ptr<TRandomNumbersGenerator> Spawn(std::uint32_t seed) const override;
    void Reseed() override;

private:
    void Fill(double* out, std::size_t count) override;

    std::uint64_t s0_ = 0;
    std::uint64_t s1_ = 0;
};

// xorshift64*.
class XORShift64Mult final : public TRandomNumbersGenerator {
public:
    explicit XORShift64Mult(std::uint32_t seed);

    std::unique_ptr<TRandomNumbersGenerator> Spawn(std::uint32_t seed) const override;
    void Reseed() override;

private:
    void Fill(double* out, std::size_t count) override;

    std::uint64_t x_ = 0;
};

// xorshift1024*.
class XORShift1024Mult final : public TRandomNumbersGenerator {
public:
    explicit XORShift1024Mult(std::uint32_t seed);

    std::unique_ptr<TRandomNumbersGenerator> Spawn(std::uint32_t seed) const override;
    void Reseed() override;

private:
    void Fill(double* out, std::size_t count) override;

    std::uint64_t s_[16];
    unsigned p_ = 0;
};

#pragma once

#include "random/RandomNumbersGenerator.h"

#include <cstddef>
#include <cstdint>

// The 32-bit Mersenne Twister; each double is built from two outputs with 53-bit resolution.
class MT19937 final : public TRandomNumbersGenerator {
public:
    explicit MT19937(std::uint32_t seed);

    std::unique_ptr<TRandomNumbersGenerator> Spawn(std::uint32_t seed) const override;
    void Reseed() override;

    // One raw tempered output. It is not counted as a draw, so a saved state
    // replays only the doubles; meant for checking the stream itself.
    std::uint32_t NextRaw();

private:
    static constexpr std::size_t kN = 624;

    void Fill(double* out, std::size_t count) override;
    void Twist();

    std::uint32_t state_[kN];
    std::size_t index_ = kN;
};

// The 64-bit Mersenne Twister; each double takes the top 53 bits of one output.
class MT19937_64 final : public TRandomNumbersGenerator {
public:
    explicit MT19937_64(std::uint32_t seed);

    std::unique_ptr<TRandomNumbersGenerator> Spawn(std::uint32_t seed) const override;
    void Reseed() override;

    // One raw tempered output; not counted as a draw (see MT19937::NextRaw).
    std::uint64_t NextRaw();

private:
    static constexpr std::size_t kN = 312;

    void Fill(double* out, std::size_t count) override;
    void Twist();

    std::uint64_t state_[kN];
    std::size_t index_ = kN;
};

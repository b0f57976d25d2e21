#pragma once

#include "random/RandomNumbersGenerator.h"

#include <cstddef>
#include <cstdint>

// A 97-lag subtractive generator combined with a 53-bit arithmetic correction
// sequence. Table and correction are kept as integer multiples of 2^-53, which
// is exactly what the double arithmetic would hold; every output is such a
// multiple below 1.
class TUni64Generator final : public TRandomNumbersGenerator {
public:
    explicit TUni64Generator(std::uint32_t seed);

    std::unique_ptr<TRandomNumbersGenerator> Spawn(std::uint32_t seed) const override;
    void Reseed() override;

private:
    static constexpr int kLag = 97;

    void Fill(double* out, std::size_t count) override;

    std::int64_t u_[kLag];
    std::int64_t c_ = 0;
    int i_ = 0;
    int j_ = 0;
};

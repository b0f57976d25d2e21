#pragma once

#include "random/RandomNumbersGenerator.h"

#include <cstddef>
#include <cstdint>

// Subtract-with-borrow on 48-bit fractions (lags 12 and 5) with luxury
// skipping: of every p steps only the first 12 are output, p = 109, 202 or 397
// for luxury levels 0, 1 and 2. The fractions are kept as integer multiples of
// 2^-48, exactly what the double arithmetic would hold.
class TIncarryGenerator final : public TRandomNumbersGenerator {
public:
    // Every new generator starts from the default seed.
    explicit TIncarryGenerator(int luxuryLevel);

    // Copies this generator, luxury included, and reseeds the copy.
    std::unique_ptr<TRandomNumbersGenerator> Spawn(std::uint32_t seed) const override;
    void Reseed() override;

    int LuxuryLevel() const { return luxuryLevel_; }

private:
    static constexpr int kLag = 12;

    void Fill(double* out, std::size_t count) override;
    std::int64_t Step();

    int luxuryLevel_;
    int period_;
    std::int64_t u_[kLag];
    std::int64_t carry_ = 0;
    int produced_ = 0;
    int i_ = 0;
    int j_ = 0;
};

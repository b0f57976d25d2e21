#pragma once

#include "random/RandomNumbersGenerator.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// A scrambled Halton sequence in the first 50 prime bases behind the generator
// interface: value d of a point comes from base primes[d], with the base's
// digits permuted in bit-reversed order and the point index XOR-ed with the
// seed. Values asked for beyond the last base come from an owned pseudo-random
// generator, unless auto-advance moves on to the next point instead.
class KW_QuasiRandom final : public TRandomNumbersGenerator {
public:
    // The owned generator is generator.Spawn(seed).
    KW_QuasiRandom(std::uint32_t seed, const TRandomNumbersGenerator& generator, bool autoAdvance);

    // Same owned kind and auto-advance, new seed.
    std::unique_ptr<TRandomNumbersGenerator> Spawn(std::uint32_t seed) const override;
    void Reseed() override;
    void NextPoint() override;

    const std::vector<std::uint32_t>& Primes() const { return primes_; }
    const std::vector<std::uint32_t>& Permutation(std::size_t dimension) const
    {
        return permutations_[dimension];
    }
    std::uint64_t Dimension() const { return dimension_; }
    std::uint32_t Point() const { return point_; }
    bool AutoAdvance() const { return autoAdvance_; }

private:
    void Fill(double* out, std::size_t count) override;
    double Value(std::size_t dimension, std::uint32_t index) const;

    std::vector<std::uint32_t> primes_;
    std::vector<std::vector<std::uint32_t>> permutations_;
    std::uint64_t dimension_ = 0;
    std::uint32_t point_ = 0;
    bool autoAdvance_;
    std::unique_ptr<TRandomNumbersGenerator> generator_;
};

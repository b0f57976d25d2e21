#pragma once

#include "datafiles/ObjectIO.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

enum class PRNG_Type : std::int32_t {
    InCarry = 1,
    InCarry0 = 2,
    InCarry1 = 3,
    InCarry2 = 4,
    Uni64 = 5,
    MT19937 = 6,
    MT19937_64 = 7,
    XORShift128Plus = 8,
    XORShift64Mult = 9,
    XORShift1024Mult = 10,
};

// Key words are matched without regard to case; anything else throws "Unknown PRNG type".
PRNG_Type ParsePRNGType(const std::string& word);
// Display name, or the code as a number when the code has no name.
std::string PRNGTypeName(PRNG_Type kind);
std::istream& operator>>(std::istream& in, PRNG_Type& kind);
std::ostream& operator<<(std::ostream& out, PRNG_Type kind);

// A stream of doubles in [0, 1) that can be reseeded, spawned and saved. The
// state text is "PRNG <seed> <draw count> "; restoring reseeds and replays the
// draws, so a restored generator continues exactly where the saved one stopped.
class TRandomNumbersGenerator : public TIO_Object {
public:
    static constexpr std::uint32_t kDefaultSeed = 189705;

    void InternalRead(std::istream& in, std::uint64_t payloadSize) override;
    void InternalWrite(std::ostream& out) override;
    // One name for every kind: the kind itself comes from the configuration.
    std::string IOClassName() const override { return "TRandomNumbersGenerator"; }

    // A new generator of the same kind, seeded with `seed`.
    virtual std::unique_ptr<TRandomNumbersGenerator> Spawn(std::uint32_t seed) const = 0;
    // Rebuilds the state from the seed.
    virtual void Reseed() = 0;
    // Moves a point-wise sequence to its next point; pseudo-random streams ignore it.
    virtual void NextPoint() {}

    // Writes `count` doubles to `out`; allocates nothing.
    void Generate(double* out, std::size_t count)
    {
        Fill(out, count);
        drawCount_ += count;
    }

    void SetSeed(std::uint32_t seed);
    std::uint32_t Seed() const { return seed_; }
    // Doubles generated since the last seeding.
    std::uint64_t DrawCount() const { return drawCount_; }

protected:
    explicit TRandomNumbersGenerator(std::uint32_t seed) : seed_(seed) {}
    TRandomNumbersGenerator(const TRandomNumbersGenerator&) = default;
    TRandomNumbersGenerator& operator=(const TRandomNumbersGenerator&) = default;

    // The kind's own block generator; Generate does the counting.
    virtual void Fill(double* out, std::size_t count) = 0;

private:
    std::uint32_t seed_;
    std::uint64_t drawCount_ = 0;
};

// A new generator of that kind with seed 189705; callers then SetSeed their own.
std::unique_ptr<TRandomNumbersGenerator> CreateGenerator(PRNG_Type kind);
std::unique_ptr<TRandomNumbersGenerator> CreateGenerator(const std::string& name);

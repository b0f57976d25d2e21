#include "random/RandomNumbersGenerator.h"

#include "datafiles/Text.h"
#include "random/IncarryGenerator.h"
#include "random/MersenneTwister.h"
#include "random/Uni64Generator.h"
#include "random/XORShift.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <stdexcept>

namespace {

struct PRNGName {
    PRNG_Type kind;
    const char* keyWord;
    const char* displayName;
};

constexpr PRNGName kPRNGNames[] = {
    {PRNG_Type::InCarry, "incarry", "InCarry"},
    {PRNG_Type::InCarry0, "incarry0", "InCarry0"},
    {PRNG_Type::InCarry1, "incarry1", "InCarry1"},
    {PRNG_Type::InCarry2, "incarry2", "InCarry2"},
    {PRNG_Type::Uni64, "uni64", "Uni64"},
    {PRNG_Type::MT19937, "mt19937", "MT19937"},
    {PRNG_Type::MT19937_64, "mt19937-64", "MT19937-64"},
    {PRNG_Type::XORShift128Plus, "xorshift128plus", "XORShift128Plus"},
    {PRNG_Type::XORShift64Mult, "xorshift64mult", "XORShift64Mult"},
    {PRNG_Type::XORShift1024Mult, "xorshift1024mult", "XORShift1024Mult"},
};

const char* const kUnknownType = "Unknown PRNG type";

} // namespace

PRNG_Type ParsePRNGType(const std::string& word)
{
    const std::string lower = ToLower(word);
    for (const PRNGName& name : kPRNGNames) {
        if (lower == name.keyWord)
            return name.kind;
    }
    throw std::runtime_error(kUnknownType);
}

std::string PRNGTypeName(PRNG_Type kind)
{
    for (const PRNGName& name : kPRNGNames) {
        if (name.kind == kind)
            return name.displayName;
    }
    return std::to_string(static_cast<std::int32_t>(kind));
}

std::istream& operator>>(std::istream& in, PRNG_Type& kind)
{
    std::string word;
    if (in >> word)
        kind = ParsePRNGType(word);
    return in;
}

std::ostream& operator<<(std::ostream& out, PRNG_Type kind)
{
    return out << PRNGTypeName(kind);
}

void TRandomNumbersGenerator::SetSeed(std::uint32_t seed)
{
    seed_ = seed;
    Reseed();
    drawCount_ = 0;
}

void TRandomNumbersGenerator::InternalWrite(std::ostream& out)
{
    // Formatted by hand so that flags the caller left on the stream (hex, showpos) cannot alter the text.
    out << "PRNG " + std::to_string(seed_) + " " + std::to_string(drawCount_) + " ";
}

void TRandomNumbersGenerator::InternalRead(std::istream& in, std::uint64_t /*payloadSize*/)
{
    std::string word;
    std::uint32_t seed = 0;
    std::uint64_t count = 0;
    in >> word >> seed >> count;
    in.get();
    if (!in || word != "PRNG")
        throw std::runtime_error("Error reading PRNG state");

    SetSeed(seed);
    // Replaying in blocks yields the same stream as one draw at a time, only faster.
    double discard[256];
    while (DrawCount() < count) {
        const std::uint64_t left = count - DrawCount();
        Generate(discard, static_cast<std::size_t>(std::min<std::uint64_t>(left, std::size(discard))));
    }
}

std::unique_ptr<TRandomNumbersGenerator> CreateGenerator(PRNG_Type kind)
{
    switch (kind) {
    case PRNG_Type::InCarry:
    case PRNG_Type::InCarry1:
        return std::make_unique<TIncarryGenerator>(1);
    case PRNG_Type::InCarry0:
        return std::make_unique<TIncarryGenerator>(0);
    case PRNG_Type::InCarry2:
        return std::make_unique<TIncarryGenerator>(2);
    case PRNG_Type::Uni64:
        return std::make_unique<TUni64Generator>(TRandomNumbersGenerator::kDefaultSeed);
    case PRNG_Type::MT19937:
        return std::make_unique<MT19937>(TRandomNumbersGenerator::kDefaultSeed);
    case PRNG_Type::MT19937_64:
        return std::make_unique<MT19937_64>(TRandomNumbersGenerator::kDefaultSeed);
    case PRNG_Type::XORShift128Plus:
        return std::make_unique<XORShift128Plus>(TRandomNumbersGenerator::kDefaultSeed);
    case PRNG_Type::XORShift64Mult:
        return std::make_unique<XORShift64Mult>(TRandomNumbersGenerator::kDefaultSeed);
    case PRNG_Type::XORShift1024Mult:
        return std::make_unique<XORShift1024Mult>(TRandomNumbersGenerator::kDefaultSeed);
    }
    throw std::runtime_error(kUnknownType);
}

std::unique_ptr<TRandomNumbersGenerator> CreateGenerator(const std::string& name)
{
    return CreateGenerator(ParsePRNGType(name));
}

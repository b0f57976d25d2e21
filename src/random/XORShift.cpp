#include "random/XORShift.h"

std::uint64_t XORShiftSeedValue(std::uint32_t seed)
{
    return seed != 0 ? seed : 0x9e3779b97f4a7c15ull;
}

XORShift128Plus::XORShift128Plus(std::uint32_t seed) : TRandomNumbersGenerator(seed)
{
    XORShift128Plus::Reseed();
}

std::unique_ptr<TRandomNumbersGenerator> XORShift128Plus::Spawn(std::uint32_t seed) const
{
    return std::make_unique<XORShift128Plus>(seed);
}

void XORShift128Plus::Reseed()
{
    s0_ = XORShiftSeedValue(Seed());
    s1_ = s0_ * 6364136223846793005ull + 1;
}

void XORShift128Plus::Fill(double* out, std::size_t count)
{
    std::uint64_t s0 = s0_;
    std::uint64_t s1 = s1_;
    for (std::size_t k = 0; k < count; ++k) {
        std::uint64_t x = s0;
        const std::uint64_t y = s1;
        s0 = y;
        x ^= x << 23;
        s1 = x ^ y ^ (x >> 17) ^ (y >> 26);
        out[k] = XORShiftToUnit(s1 + y);
    }
    s0_ = s0;
    s1_ = s1;
}

XORShift64Mult::XORShift64Mult(std::uint32_t seed) : TRandomNumbersGenerator(seed)
{
    XORShift64Mult::Reseed();
}

std::unique_ptr<TRandomNumbersGenerator> XORShift64Mult::Spawn(std::uint32_t seed) const
{
    return std::make_unique<XORShift64Mult>(seed);
}

void XORShift64Mult::Reseed()
{
    x_ = XORShiftSeedValue(Seed());
}

void XORShift64Mult::Fill(double* out, std::size_t count)
{
    std::uint64_t x = x_;
    for (std::size_t k = 0; k < count; ++k) {
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        out[k] = XORShiftToUnit(x * 2685821657736338717ull);
    }
    x_ = x;
}

XORShift1024Mult::XORShift1024Mult(std::uint32_t seed) : TRandomNumbersGenerator(seed)
{
    XORShift1024Mult::Reseed();
}

std::unique_ptr<TRandomNumbersGenerator> XORShift1024Mult::Spawn(std::uint32_t seed) const
{
    return std::make_unique<XORShift1024Mult>(seed);
}

void XORShift1024Mult::Reseed()
{
    s_[0] = XORShiftSeedValue(Seed());
    for (unsigned i = 1; i < 16; ++i)
        s_[i] = 6364136223846793005ull * (s_[i - 1] ^ (s_[i - 1] >> 62)) + i;
    p_ = 0;
}

void XORShift1024Mult::Fill(double* out, std::size_t count)
{
    unsigned p = p_;
    for (std::size_t k = 0; k < count; ++k) {
        std::uint64_t s0 = s_[p];
        p = (p + 1) & 15u;
        std::uint64_t s1 = s_[p];
        s1 ^= s1 << 31;
        s1 ^= s1 >> 11;
        s0 ^= s0 >> 30;
        s_[p] = s0 ^ s1;
        out[k] = XORShiftToUnit(s_[p] * 1181783497276652981ull);
    }
    p_ = p;
}

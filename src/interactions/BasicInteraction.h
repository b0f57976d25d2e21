#pragma once

#include "interactions/InteractionTypes.h"
#include "interactions/Particle.h"
#include "materials/LinearCoefficients.h"
#include "random/RandomNumbersGenerator.h"

#include <cstdint>
#include <ostream>

namespace materials {
class TMaterial;
}

namespace interactions {

using materials::TLinearCoefficients;

// One uniform number in [0, 1) from the caller's generator.
inline double Uniform(TRandomNumbersGenerator& rng) {
    double u;
    rng.Generate(&u, 1);
    return u;
}

// True with probability p: never for p <= 0, always for p >= 1 (without a draw).
inline bool Happens(double p, TRandomNumbersGenerator& rng) {
    if (p <= 0)
        return false;
    return p >= 1.0 || p > Uniform(rng);
}

class TBasicInteraction {
public:
    virtual ~TBasicInteraction() = default;
    virtual std::int32_t GetType() const { return InteractionUnknown; }
    virtual bool IsAbsorption() const { return false; }
    virtual bool CreatesSecondaries() const { return false; }
    // The type name, plus what the class adds about its settings.
    virtual void Print(std::ostream& out) const;
};

// Interactions are shared read-only by all tracer threads: everything that
// changes lives in the particle, the generator and the queue of the caller.
class TBasicPhotonInteraction : public TBasicInteraction {
public:
    std::int32_t GetType() const override { return InteractionPhoton; }
    virtual void Interact(TParticle& particle, const materials::TMaterial* material,
                          TRandomNumbersGenerator& rng, TParticleQueue& secondaries) const = 0;
    virtual double GetLinearCoefficient(const TLinearCoefficients& coefficients) const = 0;
};

class TBasicPhotonAbsorption : public TBasicPhotonInteraction {
public:
    std::int32_t GetType() const override { return InteractionPhotonAbsorption; }
};

} // namespace interactions

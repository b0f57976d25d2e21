#pragma once

#include <cstdint>

#include "geometry/Coord.h"
#include "interactions/Particle.h"

class TRandomNumbersGenerator;

// A source as the tracer sees it: a particle record for each history. The tracer
// drives sources of any kind through it, so it need not know them.
class IParticleSource {
public:
    virtual ~IParticleSource() = default;
    // The record for history number `history`; Status 1 marks a rejected particle.
    virtual TParticle* EmitHistory(std::uint64_t history, TRandomNumbersGenerator& rng) = 0;
    // The kind's name, for messages.
    virtual const char* GetTypeName() const = 0;
};

// A source with a known energy model and emission aimed at a point: expected-value
// traces draw or enumerate its energies, target-pixel runs aim it at the pixels.
class ISpectralSource {
public:
    virtual ~ISpectralSource() = default;
    // Emits toward a world point; rejected (Status 1) where the source cannot.
    virtual TParticle* EmitToward(const geometry::TCoord<double>& point, TRandomNumbersGenerator& rng) = 0;
    virtual std::uint64_t GetLineCount() const = 0;
    virtual double SampleEnergy(TRandomNumbersGenerator& rng) const = 0;
    // Sets the particle's energy to line `index` (and weights it by the line's probability).
    virtual void SetLineEnergy(std::uint64_t index, TParticle& particle) const = 0;
};

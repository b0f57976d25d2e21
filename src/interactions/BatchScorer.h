#pragma once

#include <cstdint>

#include "geometry/Coord.h"
#include "interactions/ParticleListener.h"

class TRandomNumbersGenerator;

// What a tracer does with each scoring copy it owns: it tells the copy which batch
// it works on and when that ends, and has it hand over what it holds (Flush).
class IBatchScorer {
public:
    virtual ~IBatchScorer() = default;
    virtual void BeginBatch(std::uint64_t index) = 0;
    virtual void EndBatch() = 0;
    virtual void Flush() = 0;
};

// A detector as the tracer sees it: flights score it through the scene's traceable
// objects; the tracer itself needs its batches and, for target-pixel runs, its pixels.
class IPixelDetector : public IBatchScorer {
public:
    virtual std::uint64_t GetPixelCount() const = 0;
    // A random world point in the pixel, for emission towards it.
    virtual geometry::TCoord<double> GetPixelPosition(std::uint64_t index,
                                                      TRandomNumbersGenerator& rng) const = 0;
};

// A trace detector as the tracer sees it: it listens to the transport's events.
class IEventDetector : public IBatchScorer, public TParticleListener {};

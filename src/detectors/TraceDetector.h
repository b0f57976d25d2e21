#pragma once

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "datafiles/ObjectIO.h"
#include "geometry/SceneObjects.h"
#include "interactions/BatchScorer.h"
#include "interactions/Particle.h"

namespace inifiles {
class TIniFileSection;
}

// What the run hands a trace detector when it writes results.
struct TraceResultScales {
    double Count = 1;  // per emitted particle, or 1
    double Energy = 1; // likewise for energies
};

// Watches the events of the transport itself (creation, detection, interactions,
// absorptions) wherever they happen; the filter decides which ones the derived
// detector records. Every tracer reports each event to its own copy.
//
// Classification: 1001 is Creation, 1000 Detection; an event that leaves the particle
// absorbed (status 1: a photo effect, an absorbing part, a photon below the energy
// cut, a pair production, an electron stopping) is Absorption; anything else is
// Interaction. The photon-interaction switches act on photon events of codes 2, 3,
// 5 and 6. Energy, weight and interaction count are those before the event; the
// object is where the event happened (the record after it), and an event without
// an object passes only the full object-ID range.
// Saved with the scene; the kinds that keep nothing to save refuse it.
class TTraceDetector : public IEventDetector, public TIO_Object {
public:
    enum EventType : unsigned { Creation = 1, Detection = 2, Interaction = 4, Absorption = 8 };
    static constexpr std::uint32_t AnyID = std::numeric_limits<std::uint32_t>::max();

    void Notify(const TParticle& before, const TParticle& after, int code) final {
        if (Accepts(before, after, code))
            Score(before, after, code);
    }
    bool Accepts(const TParticle& before, const TParticle& after, int code) const;
    static EventType Classify(const TParticle& after, int code);

    // Run hooks. StartRun: a fresh run begins (the master; files open, sums clear);
    // baseName is the result prefix + "_TraceDetector" + index. BeginRun: the master
    // learns the first batch of a run or continuation. BeginBatch, EndBatch: a tracer's
    // copy works on a batch. Flush: a copy hands over what it holds; the master
    // commits everything that waits.
    virtual void StartRun(const std::string& /*baseName*/) {}
    virtual void BeginRun(std::uint64_t /*firstBatch*/) {}
    void BeginBatch(std::uint64_t /*index*/) override {}
    void EndBatch() override {}
    void Flush() override {}
    virtual void WriteResults(const std::string& /*baseName*/, const TraceResultScales& /*scales*/) const {}
    virtual void PrintResults(std::ostream& /*os*/, double /*particles*/) const {}

    // "   Event Types:", "   Particle Types:", "   Photon Interactions:" and the ranges.
    void PrintFilterSummary(std::ostream& os) const;

    bool DetectCreation = true, DetectDetection = true, DetectInteraction = true, DetectAbsorption = true;
    bool DetectPhotons = true, DetectElectrons = false, DetectPositrons = false;
    bool DetectPhotoEffect = true, DetectCoherent = true, DetectIncoherent = true,
         DetectPairProduction = true;
    double MinEnergy = 0, MaxEnergy = std::numeric_limits<double>::max();
    double MinWeight = 0, MaxWeight = std::numeric_limits<double>::max();
    std::uint32_t MinInteraction = 0, MaxInteraction = AnyID;
    std::uint32_t MinObjectID = 0, MaxObjectID = AnyID;

protected:
    TTraceDetector() = default;
    TTraceDetector(const TTraceDetector&) = default;

    // Reads the filter keys; errors get "TTraceDetector: " in front.
    void ReadFilterKeys(const inifiles::TIniFileSection& section);
    // An accepted event.
    virtual void Score(const TParticle& before, const TParticle& after, int code) = 0;

private:
    // The switches as masks, set by ReadFilterKeys (and on first use otherwise).
    void UpdateMasks() const;
    mutable unsigned EventMask = 0, ParticleMask = 0, PhotonCodeMask = 0;
    mutable bool MasksSet = false;
};

// The trace detector behind a scene's trace-detector entry.
TTraceDetector& AsTraceDetector(TBasicGeometricalObject& object);

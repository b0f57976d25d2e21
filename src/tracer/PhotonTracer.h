#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "interactions/Particle.h"
#include "interactions/ParticleListener.h"

class IBatchScorer;
class IPixelDetector;
class IParticleSource;
class IScene;
class ISpectralSource;
class TRandomNumbersGenerator;
class TTraceableObject;

namespace geometry {
struct Segment;
}

namespace interactions {
class TPhotonInteractionsModel;
}

// What a tracer needs of the run's parameters.
struct TTracerSettings {
    bool UsePhotonSplitting = true;
    // Interactions a photon may have; -1 (as unsigned: no limit).
    std::int32_t MaxNumberOfInteractions = -1;
    double MinEnergy = 0;
    // Expected-value traces per emission on a primary's first flight; 0: one per
    // spectral line of the source.
    std::uint64_t TracesPerEmission = 1;
    bool TargetPixels = false;
    bool ResetInteractionCount = false;
    bool ResetInteractionCountFirst = false;
    const interactions::TPhotonInteractionsModel* Model = nullptr;
    // Receives the errors that only drop a particle (from any tracer thread); they
    // go to the standard error stream when empty.
    std::function<void(const std::string&)> Report;
};

// The six figures a tracer counts and the run driver sums.
struct TTracerCounters {
    std::uint64_t Emitted = 0;
    std::uint64_t Traced = 0;
    std::uint64_t Photons = 0;
    std::uint64_t SplitPhotons = 0;
    std::uint64_t Electrons = 0;
    std::uint64_t Positrons = 0;

    void Add(const TTracerCounters& other);
};

// Hands each event to every listener of one tracer. Parts report the events of their
// own transport (an electron's energy deposits) through it.
class TEventFanOut : public TParticleListener {
public:
    void Notify(const TParticle& before, const TParticle& particle, int code) override {
        for (TParticleListener* l : Listeners)
            l->Notify(before, particle, code);
    }
    std::vector<TParticleListener*> Listeners;
};

// Follows particle histories through its own copy of the scene: emission, photon
// flights with expected-value scoring of every detector on the path (splitting),
// interactions in parts, secondaries, and the walk of electrons and positrons from
// part to part. One tracer per thread; it shares only read-only data.
class TPhotonTracer {
public:
    TPhotonTracer(const IScene& scene, const TTracerSettings& settings, const TRandomNumbersGenerator& prototype);
    ~TPhotonTracer();
    TPhotonTracer(const TPhotonTracer&) = delete;
    TPhotonTracer& operator=(const TPhotonTracer&) = delete;

    IScene& Scene() const { return *SceneCopy; }
    TRandomNumbersGenerator& Generator() const { return *Rng; }
    const TTracerCounters& Counters() const { return Count; }
    void ResetCounters() { Count = TTracerCounters(); }
    // Besides the scene's trace detectors, which listen from the start.
    void AddListener(TParticleListener* listener);

    // A batch's histories depend only on its seed and first index: the generator is
    // reseeded and the detector copies learn the batch. Errors: "Tracer already running!".
    void StartBatch(std::uint64_t batchIndex, std::uint64_t firstIndex, std::uint64_t count, std::uint32_t seed);
    // Traces at most `histories` more histories of the batch; false once it is done
    // (the detector copies have then closed the batch).
    bool TraceSome(std::uint64_t histories);
    bool IsRunning() const { return Running; }
    // Ends the batch, also where it is (stop, error): the detector copies close it.
    void EndBatch();
    // Hands what the detector copies hold to their masters.
    void FlushDetectors();

    // History n: source n mod sources emits its history n / sources (in target-pixel
    // mode towards pixel n mod pixels of source (n / pixels) mod sources); then the
    // primary and all its secondaries are traced. Errors: "No Sources!!!", "Unknown particle to trace".
    void EmitAndTrace(std::uint64_t n);

private:
    TParticle* Emit(std::uint64_t n);
    void Dispatch(TParticle& particle);
    void TracePhoton(TParticle& photon);
    void TraceElectron(TParticle& particle);
    // Fills the scene's segments for the particle's ray; false when the particle
    // must be dropped (no segments, or a surface that does not close).
    bool ComputeFlight(const TParticle& particle);
    // Hands a detector a record of the photon with the given weight factor; false
    // when the record ended there (the walk stops).
    bool ScoreDetector(const TParticle& photon, const geometry::Segment& entry, double factor);
    // The expected-value traces of a first flight with TracesPerEmission != 1.
    void ScoreTraces(const TParticle& photon);
    double SampleOpticalDepth();
    bool IsDead(const TParticle& particle) const;
    bool Listening() const { return !Events.Listeners.empty(); }
    void Notify(const TParticle& before, const TParticle& particle, int code);
    void Post(const std::string& text);

    std::unique_ptr<IScene> SceneCopy;
    TTracerSettings Settings;
    std::unique_ptr<TRandomNumbersGenerator> Rng;
    std::vector<IParticleSource*> Sources;
    // The same sources as spectral sources (null for other kinds): expected-value
    // traces and target pixels need their energies and aimed emission.
    std::vector<ISpectralSource*> SpectralSources;
    std::vector<IPixelDetector*> Detectors;
    // The detectors, then the trace detectors: all that learn the batches.
    std::vector<IBatchScorer*> Scorers;
    // The listeners: the trace detectors, then those added. Parts get it only when
    // there is a listener, so that without one they report nothing.
    TEventFanOut Events;
    ISpectralSource* CurrentSource = nullptr;
    TParticleQueue Queue;
    TTracerCounters Count;
    // Scratch of ScoreTraces, kept to avoid allocating per flight.
    std::vector<double> TraceWeights, TraceEnergies;
    std::uint64_t PixelTotal = 0;
    std::uint64_t Next = 0, End = 0;
    bool Running = false;
};

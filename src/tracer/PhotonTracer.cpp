#include "tracer/PhotonTracer.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>

#include "geometry/IntersectionList.h"
#include "geometry/Scene.h"
#include "interactions/BatchScorer.h"
#include "interactions/Part.h"
#include "interactions/ParticleSource.h"
#include "random/RandomNumbersGenerator.h"

void TTracerCounters::Add(const TTracerCounters& other) {
    Emitted += other.Emitted;
    Traced += other.Traced;
    Photons += other.Photons;
    SplitPhotons += other.SplitPhotons;
    Electrons += other.Electrons;
    Positrons += other.Positrons;
}

TPhotonTracer::TPhotonTracer(const IScene& scene, const TTracerSettings& settings,
                             const TRandomNumbersGenerator& prototype)
    : SceneCopy(scene.Clone()), Settings(settings), Rng(prototype.Spawn(prototype.Seed())) {
    for (std::size_t i = 0; i < SceneCopy->PartCount(); ++i)
        AsPart(SceneCopy->GetPart(i)).SetModel(Settings.Model);
    // Sources and detectors are kinds the tracer does not know: it sees them only
    // through what it asks of them.
    for (std::size_t i = 0; i < SceneCopy->SourceCount(); ++i) {
        Sources.push_back(&dynamic_cast<IParticleSource&>(SceneCopy->GetSource(i)));
        SpectralSources.push_back(dynamic_cast<ISpectralSource*>(Sources.back()));
    }
    for (std::size_t i = 0; i < SceneCopy->DetectorCount(); ++i) {
        Detectors.push_back(&dynamic_cast<IPixelDetector&>(SceneCopy->GetDetector(i)));
        Scorers.push_back(Detectors.back());
        PixelTotal += Detectors.back()->GetPixelCount();
    }
    for (std::size_t i = 0; i < SceneCopy->TraceDetectorCount(); ++i) {
        IEventDetector& detector = dynamic_cast<IEventDetector&>(SceneCopy->GetTraceDetector(i));
        Scorers.push_back(&detector);
        AddListener(&detector);
    }
}

void TPhotonTracer::AddListener(TParticleListener* listener) {
    if (Events.Listeners.empty())
        for (std::size_t i = 0; i < SceneCopy->PartCount(); ++i)
            AsPart(SceneCopy->GetPart(i)).SetEventSink(&Events);
    Events.Listeners.push_back(listener);
}

TPhotonTracer::~TPhotonTracer() = default;

void TPhotonTracer::StartBatch(std::uint64_t batchIndex, std::uint64_t firstIndex, std::uint64_t count,
                               std::uint32_t seed) {
    if (Running)
        throw std::runtime_error("Tracer already running!");
    Rng->SetSeed(seed);
    for (IBatchScorer* s : Scorers)
        s->BeginBatch(batchIndex);
    Next = firstIndex;
    End = firstIndex + count;
    Running = true;
}

bool TPhotonTracer::TraceSome(std::uint64_t histories) {
    for (; Running && histories > 0 && Next < End; --histories) EmitAndTrace(Next++);
    if (Next >= End)
        EndBatch();
    return Running;
}

void TPhotonTracer::EndBatch() {
    if (!Running)
        return;
    Running = false;
    for (IBatchScorer* s : Scorers)
        s->EndBatch();
}

void TPhotonTracer::FlushDetectors() {
    for (IBatchScorer* s : Scorers)
        s->Flush();
}

TParticle* TPhotonTracer::Emit(std::uint64_t n) {
    const std::uint64_t sources = Sources.size();
    if (Settings.TargetPixels && PixelTotal > 0) {
        const std::uint64_t index = (n / PixelTotal) % sources;
        std::uint64_t pixel = n % PixelTotal;
        std::size_t d = 0;
        while (pixel >= Detectors[d]->GetPixelCount()) pixel -= Detectors[d++]->GetPixelCount();
        CurrentSource = SpectralSources[index];
        if (CurrentSource == nullptr)
            throw std::runtime_error(std::string("TargetPixels needs simple sources, not ") +
                                     Sources[index]->GetTypeName());
        return CurrentSource->EmitToward(Detectors[d]->GetPixelPosition(pixel, *Rng), *Rng);
    }
    CurrentSource = SpectralSources[n % sources];
    // The history number, not a per-copy count: each thread's copy of a list source
    // then hands out other particles.
    return Sources[n % sources]->EmitHistory(n / sources, *Rng);
}

void TPhotonTracer::EmitAndTrace(std::uint64_t n) {
    if (Sources.empty())
        throw std::runtime_error("No Sources!!!");
    TParticle* primary = Emit(n);
    ++Count.Emitted;
    primary->History = n;
    primary->Sequence = 0;
    if (Listening())
        Notify(*primary, *primary, 1001);
    try {
        if (primary->IsAlive())
            Dispatch(*primary);
        ++Count.Traced;
        if (Settings.ResetInteractionCountFirst && !Settings.ResetInteractionCount)
            for (auto& p : Queue) p->InteractionCount = 0;
        // Secondaries queued while tracing these are appended behind them; the
        // records never move, and the queue is emptied (not freed) at the end.
        for (std::size_t i = 0; i < Queue.size(); ++i) {
            TParticle& p = *Queue[i];
            p.Sequence = i + 1;
            if (Settings.ResetInteractionCount)
                p.InteractionCount = 0;
            if (Listening())
                Notify(p, p, 1001);
            if (p.IsAlive())
                Dispatch(p);
        }
    } catch (...) {
        Queue.clear();
        throw;
    }
    Queue.clear();
}

void TPhotonTracer::Dispatch(TParticle& particle) {
    switch (particle.Type) {
    case ParticlePhoton:
        TracePhoton(particle);
        break;
    case ParticleElectron:
    case ParticlePositron:
        TraceElectron(particle);
        break;
    default:
        throw std::runtime_error("Unknown particle to trace");
    }
}

bool TPhotonTracer::ComputeFlight(const TParticle& particle) {
    const geometry::Ray ray{particle.Position, particle.Direction};
    try {
        return SceneCopy->ComputeSegments(ray);
    } catch (const geometry::HitPairingError& e) {
        Post(e.what());
        return false;
    } catch (const std::runtime_error& e) {
        // An ambiguous overlap: the segments are resolved by priority all the same.
        Post(e.what());
        return !SceneCopy->GetSegments().empty();
    }
}

double TPhotonTracer::SampleOpticalDepth() {
    double u = 0;
    do Rng->Generate(&u, 1);
    while (u <= 0.0 || u >= 1.0);
    return -std::log(u);
}

bool TPhotonTracer::IsDead(const TParticle& particle) const {
    if (particle.Status != StatusAlive)
        return true;
    if (particle.Type != ParticlePhoton)
        return false;
    return particle.InteractionCount > std::uint32_t(Settings.MaxNumberOfInteractions);
}

bool TPhotonTracer::ScoreDetector(const TParticle& photon, const geometry::Segment& entry, double factor) {
    TParticle record = photon;
    record.Weight *= factor;
    // Where a detection happens is the detector, for whoever listens.
    record.CurrentObject = entry.Object;
    const int code = const_cast<TTraceableObject*>(entry.Object)->Transport(record, entry, 0, *Rng, Queue);
    if (code != -1 && Listening())
        Notify(photon, record, code);
    return !IsDead(record);
}

void TPhotonTracer::TracePhoton(TParticle& photon) {
    const bool splitting = Settings.UsePhotonSplitting;
    // A secondary born after its parent's last allowed interaction is not followed.
    while (!IsDead(photon)) {
        if (photon.Energy < Settings.MinEnergy) {
            if (Listening()) {
                TParticle absorbed = photon;
                absorbed.Status = StatusAbsorbed;
                Notify(photon, absorbed, 0);
            }
            break;
        }
        if (!ComputeFlight(photon))
            break;
        if (splitting)
            ++Count.SplitPhotons;
        const std::vector<geometry::Segment>& segments = SceneCopy->GetSegments();
        // The expected-value traces have scored this flight's detectors already.
        const bool traced = photon.InteractionCount == 0 && Settings.TracesPerEmission != 1;
        if (traced)
            ScoreTraces(photon);
        double tau = SampleOpticalDepth();
        double tauBefore = 0;
        const geometry::Segment* interaction = nullptr;
        for (const geometry::Segment& s : segments) {
            if (s.Object == nullptr) {
                Post("TPhotonTracer::TracePhoton(): CurrentObject == 0 !");
                continue;
            }
            if (s.Object->IsDetector()) {
                if (traced || (interaction != nullptr && !splitting))
                    continue;
                if (!ScoreDetector(photon, s, splitting ? std::exp(-tauBefore) : 1.0))
                    break;
                continue;
            }
            const double thickness = s.Object->GetOpticalThickness(s, photon.Energy);
            if (splitting)
                tauBefore += thickness;
            if (interaction != nullptr)
                continue;
            if (tau > thickness) {
                tau -= thickness;
            } else {
                interaction = &s;
                if (!splitting)
                    break;
            }
        }
        if (interaction == nullptr)
            break;
        TTraceableObject* object = const_cast<TTraceableObject*>(interaction->Object);
        photon.CurrentObject = object;
        if (!Listening()) {
            object->Transport(photon, *interaction, tau, *Rng, Queue);
        } else {
            const TParticle before = photon;
            const int code = object->Transport(photon, *interaction, tau, *Rng, Queue);
            if (code != -1)
                Notify(before, photon, code);
        }
    }
    ++Count.Photons;
}

void TPhotonTracer::ScoreTraces(const TParticle& photon) {
    const std::vector<geometry::Segment>& segments = SceneCopy->GetSegments();
    bool anyDetector = false;
    for (const geometry::Segment& s : segments) anyDetector |= s.Object != nullptr && s.Object->IsDetector();
    if (!anyDetector)
        return;
    const bool lines = Settings.TracesPerEmission == 0 && CurrentSource != nullptr;
    const std::uint64_t n = lines ? CurrentSource->GetLineCount() : std::max<std::uint64_t>(1, Settings.TracesPerEmission);
    TraceWeights.assign(segments.size(), 0.0);
    TraceEnergies.assign(segments.size(), 0.0);
    for (std::uint64_t i = 0; i < n; ++i) {
        TParticle trace = photon;
        if (lines) {
            CurrentSource->SetLineEnergy(i, trace);
        } else {
            if (CurrentSource != nullptr)
                trace.Energy = CurrentSource->SampleEnergy(*Rng);
            trace.Weight /= double(n);
        }
        if (trace.Energy < Settings.MinEnergy)
            continue;
        double tau = 0;
        for (std::size_t k = 0; k < segments.size(); ++k) {
            const geometry::Segment& s = segments[k];
            if (s.Object == nullptr)
                continue;
            if (s.Object->IsDetector()) {
                const double w = trace.Weight * std::exp(-tau);
                TraceWeights[k] += w;
                TraceEnergies[k] += w * trace.Energy;
            } else {
                tau += s.Object->GetOpticalThickness(s, trace.Energy);
            }
        }
    }
    for (std::size_t k = 0; k < segments.size(); ++k) {
        if (TraceWeights[k] <= 0)
            continue;
        TParticle record = photon;
        record.Energy = TraceEnergies[k] / TraceWeights[k];
        record.Weight = TraceWeights[k];
        if (!ScoreDetector(record, segments[k], 1.0))
            break;
    }
}

void TPhotonTracer::TraceElectron(TParticle& particle) {
    constexpr double kInside = 1e-10;
    try {
        while (particle.IsAlive()) {
            if (!ComputeFlight(particle))
                break;
            const geometry::Segment* next = nullptr;
            for (const geometry::Segment& s : SceneCopy->GetSegments()) {
                // The part just left ends where the particle stands.
                if (s.Object != nullptr && s.To > kInside && !s.Object->IsVoid()) {
                    next = &s;
                    break;
                }
            }
            if (next == nullptr)
                break;
            TTraceableObject* object = const_cast<TTraceableObject*>(next->Object);
            const bool detector = object->IsDetector();
            const TParticle before = particle;
            particle.Move(std::max(next->From, 0.0) + (detector ? 0.0 : kInside));
            particle.CurrentObject = object;
            if (Listening())
                Notify(before, particle, 100);
            const int code = object->TransportElectron(particle, *Rng, Queue);
            if (detector) {
                if (code != -1 && Listening())
                    Notify(before, particle, code);
                particle.Move(kInside);
            }
        }
    } catch (const std::exception& e) {
        Post(e.what());
    }
    if (particle.Type == ParticleElectron)
        ++Count.Electrons;
    else
        ++Count.Positrons;
}

void TPhotonTracer::Notify(const TParticle& before, const TParticle& particle, int code) {
    Events.Notify(before, particle, code);
}

void TPhotonTracer::Post(const std::string& text) {
    if (Settings.Report)
        Settings.Report(text);
    else
        std::cerr << text << std::endl;
}

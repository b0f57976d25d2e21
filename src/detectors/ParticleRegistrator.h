#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "datafiles/ObjectIO.h"

class IScene;
class TRandomNumbersGenerator;
struct ImageWriterOptions;
struct TParticle;

namespace inifiles {
class TIniFileSection;
}

// Receives the particles a plane detector registers and builds something of its own
// from them: a spectrum, a pulse-height spectrum, a list of particles.
//
// Threads: every tracer thread's copy of the detector owns a clone. At the end of each
// batch the clone hands what the batch gathered to the detector's ordered commit
// (HandOver), and the master merges the parts strictly in batch order (Merge), so the
// results do not depend on the thread count or on timing.
class ParticleRegistrator : public TIO_Object {
public:
    // When the detector hands a particle over: as it arrives on the plane (the
    // collimation weight given, the detector model not applied), or as the model
    // detects it (energy and weight are then the detected ones).
    enum class Stage { Arriving, Detected };

    ~ParticleRegistrator() override = default;

    // A registrator of the same configuration with nothing registered.
    virtual std::unique_ptr<ParticleRegistrator> Clone() const = 0;
    virtual Stage Takes() const { return Stage::Detected; }
    virtual void RegisterParticle(const TParticle& particle, double weight) = 0;
    // The same with the tracer thread's generator at hand, for registrators that draw
    // (Russian roulette); the others ignore it.
    virtual void RegisterParticleWith(const TParticle& particle, double weight, TRandomNumbersGenerator&) {
        RegisterParticle(particle, weight);
    }
    // A run starts: fresh (from its first history) or continued; only the detector's
    // own registrator is told, not the thread copies'.
    virtual void BeginRun(bool /*fresh*/) {}
    // Adds what another registrator of the same configuration holds (a thread's batch).
    virtual void Merge(const ParticleRegistrator& other) = 0;
    virtual void WriteSpectrum(const std::string& name, const ImageWriterOptions& options) const = 0;
    // Forgets everything registered.
    virtual void Reset() = 0;
    // Completes what is still open (a pending history); the detector's Flush calls it.
    virtual void EndOfRun() {}
    virtual void PrintSummary(std::ostream& os) const = 0;
    // Whether it needs histories traced without splitting (pulse heights do).
    virtual bool NeedsAnalogHistories() const { return false; }
    // Moves what was registered since the last hand-over into `part` (created when
    // empty; otherwise a part handed over before and already merged, to be reused) and
    // starts empty again. Completes what is open first: histories end with their batch.
    virtual void HandOver(std::unique_ptr<ParticleRegistrator>& part);
    // Whether a handed-over part is whole in its saved state (InternalWrite), so that it
    // can travel to another process of a cluster run and be merged there.
    virtual bool PartTravels() const { return false; }
};

// Creates a registrator from a `Registrator` sub-section; errors carry the user's text.
using RegistratorCreator = std::function<std::unique_ptr<ParticleRegistrator>(
    const inifiles::TIniFileSection& section, IScene& scene)>;

// Adds (or replaces) a registrator type; the type names are compared without regard to case.
void RegisterRegistratorType(const std::string& type, RegistratorCreator create);
// The registrator of a `Registrator` sub-section: its `Type` (default "Spectrometer")
// looked up in the registered types; "Unknown registrator type " + type otherwise.
std::unique_ptr<ParticleRegistrator> CreateRegistrator(const inifiles::TIniFileSection& section,
                                                       IScene& scene);

// Owns a detector's registrator; a copy of the detector (a tracer thread's) gets an
// empty clone.
class RegistratorSlot {
public:
    RegistratorSlot() = default;
    RegistratorSlot(const RegistratorSlot& other) : Owned(other.Owned ? other.Owned->Clone() : nullptr) {}
    RegistratorSlot& operator=(const RegistratorSlot&) = delete;

    void Set(std::unique_ptr<ParticleRegistrator> registrator) { Owned = std::move(registrator); }
    ParticleRegistrator* Get() const { return Owned.get(); }
    explicit operator bool() const { return Owned != nullptr; }
    ParticleRegistrator* operator->() const { return Owned.get(); }

private:
    std::unique_ptr<ParticleRegistrator> Owned;
};

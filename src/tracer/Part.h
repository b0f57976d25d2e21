#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "geometry/SceneObjects.h"
#include "materials/LinearCoefficients.h"

namespace inifiles {
class TIniFileSection;
}

namespace materials {
class TMaterial;
}

namespace interactions {
class TPhotonInteractionsModel;
}

class TParticleListener;

// Registers "Part" with the scene's object factory.
void RegisterPartTypes();

// A closed surface filled with one material, with nothing ("void"), or without a
// material name (then it absorbs every photon at its surface).
class TPart : public TTraceableObject {
public:
    static constexpr std::int32_t VoidMaterialIndex = 2147483646;
    static constexpr std::int32_t NoMaterialIndex = 2147483645;

    // Reads the part's keys and loads its mesh into the scene; errors carry "TPart: ".
    static std::unique_ptr<TPart> Create(const inifiles::TIniFileSection& section, IScene& scene);

    std::unique_ptr<TBasicGeometricalObject> Clone() const override;
    unsigned Kinds() const override { return KindPart; }
    // Binds the material by name from the scene's list when the part has none yet.
    void AddedTo(IScene& scene) override;
    bool IsVoid() const override { return Void; }
    // mu_total (E) times the segment's length; 0 when void; the largest double
    // without a material name, so that every photon stops at the surface.
    double GetOpticalThickness(const geometry::Segment& entry, double energy) const override;
    // Moves the photon to its interaction point (the remaining optical depth into the
    // segment) and lets the model interact there; without a material the photon is
    // absorbed on the surface (code 1).
    int Transport(TParticle& particle, const geometry::Segment& entry, double opticalDepth,
                  TRandomNumbersGenerator& rng, std::deque<std::unique_ptr<TParticle>>& secondaries) override;
    // Until the electron model is available an electron or positron stops where it
    // is and deposits its energy there (code 100); a positron then annihilates into
    // two back-to-back photons of the electron rest energy.
    int TransportElectron(TParticle& particle, TRandomNumbersGenerator& rng,
                          std::deque<std::unique_ptr<TParticle>>& secondaries) override;
    // The base lines, then the material and electron lines.
    void PrintSummary(std::ostream& os) const override;

    // The part's keys and mesh (what Create reads), for parts of derived kinds.
    void ReadPart(const inifiles::TIniFileSection& section, IScene& scene);
    // "MaterialName" and the electron switches; electronTransport is the run's default.
    void ReadMaterialKeys(const inifiles::TIniFileSection& section, bool electronTransport);
    void SetMaterial(const materials::TMaterial* material, std::int32_t index);
    // The photon interactions the part performs; shared read-only, not owned.
    void SetModel(const interactions::TPhotonInteractionsModel* model) { Model = model; }
    // Where the part reports the events of its own transport (an electron's energy
    // deposits); null: nobody listens. Set by the tracer that owns the part's copy.
    void SetEventSink(TParticleListener* sink) { Events = sink; }

    const std::string& GetMaterialName() const { return MaterialName; }
    const materials::TMaterial* GetMaterial() const { return Material; }
    std::int32_t GetMaterialIndex() const { return MaterialIndex; }
    bool HasElectronTransport() const { return ElectronTransport; }
    bool HasElectronEmission() const { return ElectronEmission; }

private:
    // A flight asks for its parts' coefficients at the photon's energy, and the
    // interaction in it asks again: the last energy's answer is kept. Written by
    // const readers, like the particles' angle caches, so each tracer owns its copy
    // of the parts; copies and a new material start without it.
    const materials::TLinearCoefficients& Coefficients(double energy) const;
    mutable double CachedEnergy = 0;
    mutable materials::TLinearCoefficients CachedCoefficients{};
    mutable bool CacheValid = false;

    std::string MaterialName;
    const materials::TMaterial* Material = nullptr;
    const interactions::TPhotonInteractionsModel* Model = nullptr;
    TParticleListener* Events = nullptr;
    bool Void = false;
    std::int32_t MaterialIndex = NoMaterialIndex;
    bool ElectronTransport = false;
    bool ElectronEmission = false;
};

// The part behind a scene's part entry: the scene files only parts there.
inline TPart& AsPart(TTraceableObject& object) { return static_cast<TPart&>(object); }

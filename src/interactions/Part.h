#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "geometry/Facet.h"
#include "geometry/SceneObjects.h"
#include "interactions/CondensedHistory.h"
#include "materials/LinearCoefficients.h"

namespace inifiles {
class TIniFileSection;
}

namespace materials {
class TMaterial;
struct MaterialProperties;
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
    // Carries an electron or positron through the part with its material's
    // condensed-history model, reporting deposits to the part's listener (if any).
    int TransportElectron(TParticle& particle, TRandomNumbersGenerator& rng,
                          std::deque<std::unique_ptr<TParticle>>& secondaries) override;
    // The same with the given listener (null: none). With electron transport the
    // particle ends on the part's surface (alive) or stops inside (Status set,
    // a positron annihilated at rest); without, or without a material, it stops
    // where it is and deposits its energy there (code 100). Errors: "Wrong order
    // of facets during electron transport for object ID " + id.
    int TransportElectron(TParticle& particle, interactions::IEnergyDepositListener* listener,
                          TRandomNumbersGenerator& rng, TParticleQueue& secondaries);
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
    // The electron model of the part's material, shared by every part of that
    // material and every tracer's copy.
    void SetElectronModel(std::shared_ptr<const interactions::TCondensedHistory> model) {
        ElectronModel = std::move(model);
    }
    const interactions::TCondensedHistory* GetElectronModel() const { return ElectronModel.get(); }
    // Where TransportElectron reports deposits; not owned, null for none.
    void SetDepositListener(interactions::IEnergyDepositListener* listener) { DepositListener = listener; }

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

    // How far an electron may go before it crosses a surface: the part's own
    // facets (which must pair: the first one ahead is an exit) and those of any
    // other object, where the part that owns the space may change.
    class Boundary : public interactions::IElectronGeometry {
    public:
        explicit Boundary(TPart& part) : Part(part) {}
        double DistanceToBoundary(const TParticle& particle, double reach) override;

    private:
        TPart& Part;
    };
    // The electron walk's deposits as the tracer's events: a continuous loss or a
    // stop (which deposits the rest) is an event of code 100 from the energy before to
    // the energy after; a hard collision or bremsstrahlung keeps its before and after
    // records, its energy leaving with the secondary the tracer reports as created.
    class EventDeposits : public interactions::IEnergyDepositListener {
    public:
        EventDeposits(TParticleListener& events, interactions::IEnergyDepositListener* inner)
            : Events(events), Inner(inner) {}
        void Deposit(const TParticle& particle, double energy, std::int32_t code) override;
        void Step(const TParticle& before, const TParticle& after, std::int32_t code) override;

    private:
        TParticleListener& Events;
        interactions::IEnergyDepositListener* Inner;
    };
    // Scratch of Boundary, kept to avoid allocating per step.
    std::vector<geometry::Hit> Hits;
    std::shared_ptr<const interactions::TCondensedHistory> ElectronModel;
    interactions::IEnergyDepositListener* DepositListener = nullptr;

    std::string MaterialName;
    const materials::TMaterial* Material = nullptr;
    const interactions::TPhotonInteractionsModel* Model = nullptr;
    TParticleListener* Events = nullptr;
    bool Void = false;
    std::int32_t MaterialIndex = NoMaterialIndex;
    bool ElectronTransport = false;
    bool ElectronEmission = false;
};

// Gives every part with electron transport the model of its material, one model
// per material made with the run's switches and shared read-only.
void BindElectronModels(IScene& scene, const materials::MaterialProperties& switches);

// The part behind a scene's part entry: the scene files only parts there.
inline TPart& AsPart(TTraceableObject& object) { return static_cast<TPart&>(object); }

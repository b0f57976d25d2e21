#include "interactions/Part.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "datafiles/Text.h"
#include "geometry/ObjectFactory.h"
#include "geometry/Scene.h"
#include "inifiles/IniValues.h"
#include "interactions/BasicInteraction.h"
#include "interactions/InteractionTypes.h"
#include "interactions/MaterialAccess.h"
#include "interactions/Particle.h"
#include "interactions/ParticleListener.h"
#include "interactions/PhotonInteractionsModel.h"
#include "materials/Material.h"
#include "materials/MaterialsList.h"

std::unique_ptr<TPart> TPart::Create(const inifiles::TIniFileSection& section, IScene& scene) {
    auto part = std::make_unique<TPart>();
    part->ReadPart(section, scene);
    return part;
}

void TPart::ReadPart(const inifiles::TIniFileSection& section, IScene& scene) {
    try {
        ReadTraceableKeys(section);
        ReadMaterialKeys(section, scene.ElectronTransport);
        Scene = &scene;
        ObjectID = scene.LoadPartGeometry(section);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("TPart: ") + e.what());
    }
}

void RegisterPartTypes() {
    geometry::RegisterObjectType("Part", [](const inifiles::TIniFileSection& section, IScene& scene) {
        return std::unique_ptr<TBasicGeometricalObject>(TPart::Create(section, scene));
    });
}

void TPart::AddedTo(IScene& scene) {
    if (Material != nullptr || scene.Materials == nullptr) return;
    materials::TMaterial* material = scene.Materials->GetMaterial(MaterialName);
    if (material == nullptr) return;
    std::int32_t index = 0;
    while (&scene.Materials->Material(std::size_t(index)) != material) ++index;
    SetMaterial(material, index);
    if (ElectronTransport) material->Properties.UsedWithElectronTransport = true;
}

std::unique_ptr<TBasicGeometricalObject> TPart::Clone() const {
    auto copy = std::make_unique<TPart>(*this);
    copy->CacheValid = false;
    // A tracer's copy should not allocate when its first electron arrives.
    copy->Hits.reserve(64);
    return copy;
}

void TPart::ReadMaterialKeys(const inifiles::TIniFileSection& section, bool electronTransport) {
    inifiles::ReadOptional(section, "MaterialName", MaterialName);
    Void = ToLower(MaterialName) == "void";
    MaterialIndex = Void ? VoidMaterialIndex : NoMaterialIndex;
    ElectronTransport = false;
    ElectronEmission = false;
    if (MaterialName.empty()) return;
    ElectronTransport = electronTransport;
    inifiles::ReadOptional(section, "ElectronTransport", ElectronTransport);
    inifiles::ReadOptional(section, "ElectronEmission", ElectronEmission);
    if (ElectronEmission) ElectronTransport = true;
}

void TPart::SetMaterial(const materials::TMaterial* material, std::int32_t index) {
    Material = material;
    MaterialIndex = index;
    CacheValid = false;
}

const materials::TLinearCoefficients& TPart::Coefficients(double energy) const {
    if (!CacheValid || CachedEnergy != energy) {
        CachedCoefficients = interactions::MaterialCoefficients(Material, energy);
        CachedEnergy = energy;
        CacheValid = true;
    }
    return CachedCoefficients;
}

void TPart::PrintSummary(std::ostream& os) const {
    TTraceableObject::PrintSummary(os);
    if (!MaterialName.empty()) os << "   Material Name: " << MaterialName << "\n";
    if (ElectronEmission)
        os << "   Electron Emission: " << ElectronEmission << "\n";
    else
        os << "   Electron Tracing: " << ElectronTransport << "\n";
}

double TPart::GetOpticalThickness(const geometry::Segment& entry, double energy) const {
    if (Material == nullptr)
        return Void ? 0.0 : std::numeric_limits<double>::max();
    return Coefficients(energy).Total * (entry.To - entry.From);
}

int TPart::Transport(TParticle& particle, const geometry::Segment& entry, double opticalDepth,
                     TRandomNumbersGenerator& rng, TParticleQueue& secondaries) {
    if (Material == nullptr) {
        particle.Move(entry.From);
        particle.Status = StatusAbsorbed;
        return interactions::InteractionPhotonAbsorption;
    }
    const materials::TLinearCoefficients mu = Coefficients(particle.Energy);
    particle.Move(entry.From + opticalDepth / mu.Total);
    if (Model == nullptr)
        throw std::runtime_error("TPart: no interactions model for part " + Name);
    const interactions::TBasicPhotonInteraction* interaction =
        Model->DetermineInteractionType(mu, Material, particle, rng, secondaries);
    ++particle.InteractionCount;
    if (interaction == nullptr)
        return -1;
    interaction->Interact(particle, Material, rng, secondaries);
    return interaction->GetType();
}

int TPart::TransportElectron(TParticle& particle, TRandomNumbersGenerator& rng, TParticleQueue& secondaries) {
    if (Events == nullptr)
        return TransportElectron(particle, DepositListener, rng, secondaries);
    EventDeposits events(*Events, DepositListener);
    return TransportElectron(particle, &events, rng, secondaries);
}

namespace {

struct NoDeposits : interactions::IEnergyDepositListener {
    void Deposit(const TParticle&, double, std::int32_t) override {}
};

// Hits this close ahead are the surface the particle stands on (rounded to the
// scene's precision), not one it is about to cross.
constexpr double kSurfaceTolerance = 1e-6;

} // namespace

void TPart::EventDeposits::Deposit(const TParticle& particle, double energy, std::int32_t code) {
    if (Inner != nullptr)
        Inner->Deposit(particle, energy, code);
    if (code != interactions::InteractionElectron)
        return;
    TParticle after = particle;
    after.Energy = particle.Energy - energy;
    Events.Notify(particle, after, code);
}

void TPart::EventDeposits::Step(const TParticle& before, const TParticle& after, std::int32_t code) {
    if (Inner != nullptr)
        Inner->Step(before, after, code);
    // A stop has already been reported with its deposit.
    if (code != interactions::InteractionElectron)
        Events.Notify(before, after, code);
}

int TPart::TransportElectron(TParticle& particle, interactions::IEnergyDepositListener* listener,
                             TRandomNumbersGenerator& rng, TParticleQueue& secondaries) {
    NoDeposits none;
    interactions::IEnergyDepositListener& deposits = listener != nullptr ? *listener : none;
    if (ElectronTransport && ElectronModel != nullptr && Scene != nullptr) {
        Boundary boundary(*this);
        return ElectronModel->Transport(particle, boundary, deposits, rng, secondaries);
    }
    interactions::TCondensedHistory::Stop(particle, deposits, rng, secondaries);
    return interactions::InteractionElectron;
}

double TPart::Boundary::DistanceToBoundary(const TParticle& particle, double reach) {
    std::vector<geometry::Hit>& hits = Part.Hits;
    hits.clear();
    Part.Scene->GetIntersectionManager().Intersect(geometry::Ray{particle.Position, particle.Direction}, hits,
                                                   reach);
    double exit = std::numeric_limits<double>::infinity();
    double entry = exit, other = exit;
    for (const geometry::Hit& hit : hits) {
        if (hit.ObjectID != Part.ObjectID)
            other = hit.Distance >= kSurfaceTolerance ? std::min(other, hit.Distance) : other;
        else if (hit.Entering)
            entry = hit.Distance >= kSurfaceTolerance ? std::min(entry, hit.Distance) : entry;
        else
            exit = std::min(exit, hit.Distance);
    }
    if (entry < exit)
        throw std::runtime_error("Wrong order of facets during electron transport for object ID " +
                                 std::to_string(Part.ObjectID));
    return std::min(exit, other);
}

void BindElectronModels(IScene& scene, const materials::MaterialProperties& switches) {
    using Model = std::shared_ptr<const interactions::TCondensedHistory>;
    const auto settings = interactions::TElectronModelSettings::From(switches);
    std::vector<std::pair<const materials::TMaterial*, Model>> models;
    for (std::size_t i = 0; i < scene.PartCount(); ++i) {
        TPart& part = AsPart(scene.GetPart(i));
        const materials::TMaterial* material = part.GetMaterial();
        part.SetElectronModel(nullptr);
        if (!part.HasElectronTransport() || material == nullptr ||
            !material->Properties.ElectronData.IsLoaded())
            continue;
        auto known =
            std::find_if(models.begin(), models.end(), [&](const auto& m) { return m.first == material; });
        if (known == models.end()) {
            models.emplace_back(
                material, std::make_shared<const interactions::TCondensedHistory>(
                              material->Properties.ElectronData, material->Properties.Density, settings));
            known = models.end() - 1;
        }
        part.SetElectronModel(known->second);
    }
}

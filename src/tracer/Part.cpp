#include "tracer/Part.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "app/SystemUtils.h"
#include "geometry/ObjectFactory.h"
#include "geometry/Scene.h"
#include "materials/Material.h"
#include "materials/MaterialsList.h"
#include "inifiles/IniValues.h"
#include "interactions/BasicInteraction.h"
#include "interactions/MaterialAccess.h"
#include "interactions/PhotonInteractionsModel.h"
#include "interactions/PhysicsConstants.h"
#include "tracer/Particle.h"
#include "tracer/PhotonTracer.h"

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
    const TParticle before = particle;
    particle.Status = StatusAbsorbed;
    if (Events != nullptr)
        Events->Notify(before, particle, interactions::InteractionElectron);
    if (particle.Type == ParticlePositron) {
        double u[2];
        rng.Generate(u, 2);
        auto photon = MakeSecondary(particle, ParticlePhoton, interactions::kElectronMass);
        photon->Status = StatusAlive;
        photon->SetIsotropicDirection(u[0], u[1]);
        auto partner = MakeSecondary(*photon, ParticlePhoton, interactions::kElectronMass);
        partner->SetDirectionVector(photon->DirectionVector() * -1.0);
        secondaries.push_back(std::move(photon));
        secondaries.push_back(std::move(partner));
    }
    return 100;
}

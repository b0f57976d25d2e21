#include "interactions/PhotonInteractionsModel.h"

#include "datafiles/Text.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"
#include "interactions/MaterialAccess.h"
#include "interactions/PairProduction.h"
#include "interactions/PhotoEffect.h"
#include "interactions/Scattering.h"
#include "materials/MaterialProperties.h"

#include <sstream>
#include <stdexcept>

namespace interactions {

namespace {

constexpr double kDefaultPrecision = 0.001;

int ScatteringKind(bool fullPhysics) {
    return fullPhysics ? ScatteringTotal : ScatteringSimple;
}

bool ComptonTabulated(const materials::MaterialProperties& p, bool fullPhysics) {
    return fullPhysics ? p.UseTabulatedTotalCompton : p.UseTabulatedKleinNishina;
}

bool RayleighTabulated(const materials::MaterialProperties& p, bool fullPhysics) {
    return fullPhysics ? p.UseTabulatedTotalRayleigh : p.UseTabulatedThomson;
}

} // namespace

std::unique_ptr<TBasicPhotonInteraction> CreateInteraction(const inifiles::TIniFileSection& section,
                                                           const materials::MaterialProperties& properties,
                                                           bool fullPhysics, bool electronTransport) {
    double precision = kDefaultPrecision;
    inifiles::ReadOptional(section, "IntegrationPrecision", precision);
    std::string type;
    inifiles::GetValue(section, "InteractionType", type);
    const std::string key = ToLower(type);
    if (key == "photoeffect")
        return std::make_unique<TPhotoEffect>(properties.Fluorescence);
    if (key == "pairproduction") {
        bool simple = !electronTransport;
        inifiles::ReadOptional(section, "Simple", simple);
        double probability = simple ? 0.0 : 1.0;
        inifiles::ReadOptional(section, "ElectronProbability", probability);
        bool angular = true;
        inifiles::ReadOptional(section, "Angular", angular);
        return std::make_unique<TPairProduction>(probability, angular);
    }
    if (key == "comptonscattering") {
        bool createElectrons = electronTransport;
        inifiles::ReadOptional(section, "CreateElectrons", createElectrons);
        double probability = createElectrons ? 1.0 : 0.0;
        inifiles::ReadOptional(section, "ElectronProbability", probability);
        return std::make_unique<TComptonScattering>(
            ScatteringKind(fullPhysics), ComptonTabulated(properties, fullPhysics), precision, probability);
    }
    if (key == "rayleighscattering")
        return std::make_unique<TRayleighScattering>(ScatteringKind(fullPhysics),
                                                     RayleighTabulated(properties, fullPhysics), precision);
    throw std::runtime_error("Unknown interaction type: " + type);
}

bool TPhotonInteractionsModel::HasInteraction(std::int32_t type) const {
    for (const auto& i : interactions_)
        if (i->GetType() == type)
            return true;
    return false;
}

void TPhotonInteractionsModel::AddInteraction(std::unique_ptr<TBasicPhotonInteraction> interaction) {
    if (!HasInteraction(interaction->GetType()))
        interactions_.push_back(std::move(interaction));
}

bool TPhotonInteractionsModel::AnyCreatesSecondaries() const {
    for (const auto& i : interactions_)
        if (i->CreatesSecondaries())
            return true;
    return false;
}

materials::TInteractionSelection TPhotonInteractionsModel::Selection() const {
    materials::TInteractionSelection selection;
    selection.PhotoEffect = HasInteraction(InteractionPhotoEffect);
    selection.Compton = HasInteraction(InteractionCompton);
    selection.Rayleigh = HasInteraction(InteractionRayleigh);
    selection.PairProduction = HasInteraction(InteractionPairProduction);
    return selection;
}

void TPhotonInteractionsModel::ReadFromSection(const inifiles::TIniFileSection& section,
                                               const materials::MaterialProperties& properties,
                                               bool fullPhysics, bool electronTransport) {
    if (inifiles::ReadOptional(section, "ImplicitThreshold", ImplicitThreshold))
        ImplicitAbsorption = true;
    inifiles::ReadOptional(section, "ImplicitAbsorption", ImplicitAbsorption);
    interactions_.clear();
    for (std::size_t i = 0; i < section.SubsectionCount(); ++i) {
        const auto& child = section.Subsection(i);
        if (!child.NameEquals("Interaction"))
            continue;
        if (auto interaction = CreateInteraction(child, properties, fullPhysics, electronTransport))
            AddInteraction(std::move(interaction));
    }
}

void TPhotonInteractionsModel::BuildDefault(const materials::MaterialProperties& properties, bool fullPhysics,
                                            bool electronTransport) {
    interactions_.clear();
    const double electronProbability = electronTransport ? 1.0 : 0.0;
    AddInteraction(std::make_unique<TPhotoEffect>(properties.Fluorescence));
    AddInteraction(std::make_unique<TPairProduction>(electronProbability, true));
    AddInteraction(std::make_unique<TComptonScattering>(ScatteringKind(fullPhysics),
                                                        ComptonTabulated(properties, fullPhysics),
                                                        kDefaultPrecision, electronProbability));
    AddInteraction(std::make_unique<TRayleighScattering>(
        ScatteringKind(fullPhysics), RayleighTabulated(properties, fullPhysics), kDefaultPrecision));
}

void TPhotonInteractionsModel::CompletePhysics(materials::MaterialProperties& properties,
                                               std::int32_t& maxNumberOfInteractions,
                                               bool electronTransport) const {
    if (interactions_.empty())
        throw std::runtime_error("Can not construct InteractionsModel: no interactions found");
    if (interactions_.size() == 1 && interactions_.front()->GetType() == InteractionPhotoEffect &&
        !AnyCreatesSecondaries())
        maxNumberOfInteractions = 0;
    if (!HasInteraction(InteractionCompton)) {
        properties.UseTabulatedKleinNishina = false;
        properties.UseTabulatedTotalCompton = false;
    }
    if (!HasInteraction(InteractionRayleigh)) {
        properties.UseTabulatedThomson = false;
        properties.UseTabulatedTotalRayleigh = false;
    }
    properties.ElectronTransport = electronTransport;
}

const TBasicPhotonInteraction*
TPhotonInteractionsModel::DetermineInteractionType(const materials::TMaterial* material, TParticle& particle,
                                                   TRandomNumbersGenerator& rng,
                                                   TParticleQueue& secondaries) const {
    return DetermineInteractionType(MaterialCoefficients(material, particle.Energy), material, particle, rng,
                                    secondaries);
}

const TBasicPhotonInteraction* TPhotonInteractionsModel::DetermineInteractionType(
    const TLinearCoefficients& coefficients, const materials::TMaterial* material, TParticle& particle,
    TRandomNumbersGenerator& rng, TParticleQueue& secondaries) const {
    if (!(coefficients.Total > 0)) {
        std::ostringstream text;
        text << "TPhotonInteractionsModel::DetermineInteractionType: Invalid TotalLinearCoefficient!\n"
             << "Material: " << MaterialName(material) << " Energy: " << particle.Energy << "\n"
             << "TotalLinearCoefficient: " << coefficients.Total << "\n";
        throw std::runtime_error(text.str());
    }
    double total = coefficients.Total;
    const bool implicit = ImplicitAbsorption && particle.Weight >= ImplicitThreshold;
    if (implicit) {
        double absorbed = 0;
        for (const auto& i : interactions_) {
            if (!i->IsAbsorption())
                continue;
            const double mu = i->GetLinearCoefficient(coefficients);
            absorbed += mu;
            TParticle share = particle;
            share.Weight = particle.Weight * mu / coefficients.Total;
            ++share.InteractionCount;
            i->Interact(share, material, rng, secondaries);
        }
        particle.Weight *= 1.0 - absorbed / coefficients.Total;
        total = coefficients.Total - absorbed;
    }
    if (interactions_.empty())
        return nullptr;
    const double r = Uniform(rng) * total;
    double sum = 0;
    for (const auto& i : interactions_) {
        if (implicit && i->IsAbsorption())
            continue;
        sum += i->GetLinearCoefficient(coefficients);
        if (sum >= r)
            return i.get();
    }
    return interactions_.back().get();
}

void TPhotonInteractionsModel::PrintSummary(std::ostream& out) const {
    out << "  Implicit Absorption (Variance Reduction Method): " << ImplicitAbsorption << "\n";
    if (ImplicitAbsorption && ImplicitThreshold > 0)
        out << "  Implicit Absorption Threshold: " << ImplicitThreshold << "\n";
    out << "  Simulation Interaction Types: ";
    for (std::size_t i = 0; i < interactions_.size(); ++i) {
        if (i)
            out << ", ";
        interactions_[i]->Print(out);
    }
    out << "\n";
}

} // namespace interactions

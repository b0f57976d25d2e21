#pragma once

#include "interactions/BasicInteraction.h"
#include "materials/LinearCoefficients.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

namespace inifiles {
class TIniFileSection;
}
namespace materials {
struct MaterialProperties;
}

namespace interactions {

// The photon interactions a simulation takes into account, in the order in
// which DetermineInteractionType accumulates their coefficients, and the
// implicit-absorption switch. Built once from the Physics section; shared
// read-only by all tracers.
class TPhotonInteractionsModel {
public:
    bool ImplicitAbsorption = false;
    // Photons lighter than this are absorbed outright even with implicit absorption.
    double ImplicitThreshold = 0;

    bool HasInteraction(std::int32_t type) const;
    // Keeps the first interaction of each type; a second one is discarded.
    void AddInteraction(std::unique_ptr<TBasicPhotonInteraction> interaction);
    bool AnyCreatesSecondaries() const;
    // Which coefficients make up the total attenuation under this model.
    materials::TInteractionSelection Selection() const;
    std::size_t InteractionCount() const { return interactions_.size(); }
    const TBasicPhotonInteraction& Interaction(std::size_t i) const { return *interactions_[i]; }

    // From an InteractionsModel section: the implicit-absorption keys and one
    // child section "Interaction" per interaction.
    void ReadFromSection(const inifiles::TIniFileSection& section,
                         const materials::MaterialProperties& properties, bool fullPhysics,
                         bool electronTransport);
    // Photo effect, pair production, Compton and Rayleigh scattering.
    void BuildDefault(const materials::MaterialProperties& properties, bool fullPhysics,
                      bool electronTransport);
    // What the Physics reader does with a finished model: "Can not construct
    // InteractionsModel: no interactions found" for an empty list; pure
    // absorption sets maxNumberOfInteractions to 0; the angle-table switches
    // of scatterings the model lacks are cleared; ElectronTransport copied.
    void CompletePhysics(materials::MaterialProperties& properties, std::int32_t& maxNumberOfInteractions,
                         bool electronTransport) const;

    // Picks the interaction at the particle's energy in the material, in
    // proportion to the linear coefficients. With implicit absorption the
    // absorbed share of the weight is split off first and absorbed (its
    // secondaries go to the queue), and only the other interactions compete.
    // Null for an empty model.
    const TBasicPhotonInteraction* DetermineInteractionType(const materials::TMaterial* material,
                                                            TParticle& particle, TRandomNumbersGenerator& rng,
                                                            TParticleQueue& secondaries) const;
    // The same on coefficients already looked up.
    const TBasicPhotonInteraction* DetermineInteractionType(const TLinearCoefficients& coefficients,
                                                            const materials::TMaterial* material,
                                                            TParticle& particle, TRandomNumbersGenerator& rng,
                                                            TParticleQueue& secondaries) const;

    void PrintSummary(std::ostream& out) const;

private:
    std::vector<std::unique_ptr<TBasicPhotonInteraction>> interactions_;
};

// One interaction from an "Interaction" section; "Unknown interaction type: ".
std::unique_ptr<TBasicPhotonInteraction> CreateInteraction(const inifiles::TIniFileSection& section,
                                                           const materials::MaterialProperties& properties,
                                                           bool fullPhysics, bool electronTransport);

} // namespace interactions

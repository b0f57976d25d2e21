#pragma once

#include "interactions/BasicInteraction.h"

namespace materials {
class TFluorescenceData;
struct MaterialProperties;
} // namespace materials

namespace interactions {

// Photo absorption: the photon ends, optionally after emitting fluorescence
// photons, Auger electrons and a photoelectron.
class TPhotoEffect : public TBasicPhotonAbsorption {
public:
    explicit TPhotoEffect(bool fluorescence) : fluorescence_(fluorescence) {}

    std::int32_t GetType() const override { return InteractionPhotoEffect; }
    bool IsAbsorption() const override { return true; }
    bool CreatesSecondaries() const override { return fluorescence_; }
    void Interact(TParticle& particle, const materials::TMaterial* material, TRandomNumbersGenerator& rng,
                  TParticleQueue& secondaries) const override;
    double GetLinearCoefficient(const TLinearCoefficients& c) const override { return c.PhotoEffect; }

    // The photo effect with the material's data taken apart, for callers
    // that hold them directly; `data` may be null.
    void Absorb(TParticle& particle, const materials::TFluorescenceData* data,
                const materials::MaterialProperties& settings, TRandomNumbersGenerator& rng,
                TParticleQueue& secondaries) const;

    bool Fluorescence() const { return fluorescence_; }

private:
    bool fluorescence_;
};

// Emits what follows a vacancy made by the photon or electron `particle` in
// one shell of the material: a photoelectron (photons only) and one line of
// the shell, or with AllFluorescence every line weighted by its probability.
// Particles below minEnergy are not made; every weight is multiplied by
// weightFactor. Nothing happens when the data are not loaded.
void EmitFluorescence(const materials::TFluorescenceData& data, const materials::MaterialProperties& settings,
                      const TParticle& particle, TParticleQueue& secondaries, TRandomNumbersGenerator& rng,
                      double minEnergy, double weightFactor);

// cos(theta) of a photoelectron of kinetic energy T (Sauter distribution).
double SamplePhotoelectronCosTheta(double kineticEnergy, TRandomNumbersGenerator& rng);

} // namespace interactions

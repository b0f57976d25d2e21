#pragma once

#include "interactions/BasicInteraction.h"
#include "interactions/CrossSections.h"

#include <memory>

namespace interactions {

// Common part of Compton and Rayleigh scattering: a uniform azimuth, a polar
// angle from the cross section, the energy change of the subclass, and the
// new direction rotated into the frame of the old one.
class TBasicPhotonScattering : public TBasicPhotonInteraction {
public:
    std::int32_t GetType() const override { return InteractionPhotonScattering; }
    void Interact(TParticle& particle, const materials::TMaterial* material, TRandomNumbersGenerator& rng,
                  TParticleQueue& secondaries) const override;
    virtual double GetCosTheta(const TParticle& particle, const materials::TMaterial* material,
                               TRandomNumbersGenerator& rng) const;
    // Sets the new energy (and may queue a recoil electron); the particle
    // still has its direction from before the scatter.
    virtual void Scatter(TParticle& particle, const materials::TMaterial* material, double cosTheta,
                         double phi, TRandomNumbersGenerator& rng, TParticleQueue& secondaries) const = 0;

    const TBasicPhotonCrossSection& CrossSection() const { return *crossSection_; }

protected:
    explicit TBasicPhotonScattering(std::unique_ptr<TBasicPhotonCrossSection> crossSection)
        : crossSection_(std::move(crossSection)) {}

    std::unique_ptr<TBasicPhotonCrossSection> crossSection_;
};

// Incoherent scattering. ElectronProbability <= 0 makes no recoil electrons,
// >= 1 always one, in between one with that probability carrying the photon
// weight divided by it.
class TComptonScattering : public TBasicPhotonScattering {
public:
    // Throws "Couldn't create cross section" for an unknown kind.
    TComptonScattering(int kind, bool tabulated, double precision, double electronProbability);

    std::int32_t GetType() const override { return InteractionCompton; }
    bool CreatesSecondaries() const override { return electronProbability_ > 0; }
    void Print(std::ostream& out) const override;
    double GetLinearCoefficient(const TLinearCoefficients& c) const override { return c.Compton; }
    void Scatter(TParticle& particle, const materials::TMaterial* material, double cosTheta, double phi,
                 TRandomNumbersGenerator& rng, TParticleQueue& secondaries) const override;

    double ElectronProbability() const { return electronProbability_; }

private:
    double electronProbability_;
};

// Coherent scattering: the energy is unchanged.
class TRayleighScattering : public TBasicPhotonScattering {
public:
    TRayleighScattering(int kind, bool tabulated, double precision);

    std::int32_t GetType() const override { return InteractionRayleigh; }
    double GetLinearCoefficient(const TLinearCoefficients& c) const override { return c.Rayleigh; }
    void Scatter(TParticle&, const materials::TMaterial*, double, double, TRandomNumbersGenerator&,
                 TParticleQueue&) const override {}
};

} // namespace interactions

#pragma once

#include "interactions/BasicInteraction.h"

namespace interactions {

// Electron-positron pair creation with screening, Coulomb and low-energy
// corrections; in its simple form (electron probability <= 0) the photon turns
// into one annihilation photon of twice the weight instead.
class TPairProduction : public TBasicPhotonInteraction {
public:
    TPairProduction(double electronProbability, bool angular)
        : electronProbability_(electronProbability), angular_(angular) {}

    std::int32_t GetType() const override { return InteractionPairProduction; }
    bool CreatesSecondaries() const override { return electronProbability_ > 0; }
    void Print(std::ostream& out) const override;
    void Interact(TParticle& particle, const materials::TMaterial* material, TRandomNumbersGenerator& rng,
                  TParticleQueue& secondaries) const override;
    double GetLinearCoefficient(const TLinearCoefficients& c) const override { return c.PairProduction; }

    // The pair part for a material of atomic number z (fractional for compounds).
    void CreatePair(TParticle& photon, double z, TRandomNumbersGenerator& rng,
                    TParticleQueue& secondaries) const;

    double ElectronProbability() const { return electronProbability_; }
    bool Angular() const { return angular_; }

private:
    double electronProbability_;
    bool angular_;
};

// Reduced screening radius R(Z) for the nearest integer Z, clamped to 1..99.
double ScreeningRadius(double z);
// The screening functions phi1, phi2 at photon energy kappa = E/m and
// electron energy fraction eps.
void SampleScreeningFunctions(double z, double kappa, double eps, double& phi1, double& phi2);
// Kinetic energy of the electron of a pair made by a photon of energy E >= 2m.
double SamplePairElectronEnergy(double z, double energy, TRandomNumbersGenerator& rng);
// Polar angle cosine of a lepton of kinetic energy T relative to the photon.
double SampleLeptonCosTheta(double kineticEnergy, TRandomNumbersGenerator& rng);

} // namespace interactions

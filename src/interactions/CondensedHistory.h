#pragma once

#include "materials/ElectronData.h"
#include "random/RandomNumbersGenerator.h"
#include "tracer/Particle.h"

#include <cstdint>

namespace interactions {

// Settings of the condensed-history electron model.
struct TElectronModelSettings {
    double MinElectronEnergy = 11.0;  // keV: electrons and positrons below stop and deposit
    double CollisionCut = 10.0;       // keV: Moller/Bhabha transfers above are hard events
    double BremsstrahlungCut = 10.0;  // keV: photons above are created, below are continuous loss
    // Largest fraction of the kinetic energy lost continuously in one step:
    // the step-size parameter of the condensed history.
    double StepEnergyFraction = 0.04;
    bool EmitBremsstrahlung = true;
    bool BremsstrahlungAngular = false;  // else the photons are emitted isotropically
};

// What the walk needs of the geometry: how far the particle may go along
// its current direction before it leaves the part.
class IElectronGeometry {
public:
    virtual ~IElectronGeometry() = default;
    virtual double DistanceToBoundary(const TParticle& particle) = 0;
};

// Receives every energy deposit (keV, at the particle's current position)
// with the event code of what caused it: 100 continuous loss and stopping,
// 101 hard collision, 102 bremsstrahlung.
class IEnergyDepositListener {
public:
    virtual ~IEnergyDepositListener() = default;
    virtual void Deposit(const TParticle& particle, double energy, std::int32_t code) = 0;
};

// Class II condensed-history transport of an electron or positron in one
// homogeneous material (the mixed scheme of Berger 1963, as in EGS4/EGSnrc
// and PENELOPE): soft collisions and soft bremsstrahlung as a continuous
// restricted energy loss with gamma straggling; hard Moller/Bhabha collisions
// and bremsstrahlung above the cuts as discrete events, sampled with the
// fictitious-event method so that the energy dependence of their cross
// sections over a step is exact; multiple elastic scattering as one Wentzel
// deflection per step at a random point of the step (PENELOPE's random hinge).
// Secondaries (delta electrons, bremsstrahlung and annihilation photons) go to
// the queue. Returns when the particle stops (Status absorbed, its energy
// deposited, a positron annihilated at rest) or reaches the boundary (alive,
// on the boundary). The returned code is that of the last event. Allocates
// nothing except the secondaries.
class TCondensedHistory {
public:
    TCondensedHistory(const materials::TElectronData& data, double density, const TElectronModelSettings& settings);

    // `pathLength`, when given, receives the length (cm) the particle travelled.
    std::int32_t Transport(TParticle& particle, IElectronGeometry& geometry, IEnergyDepositListener& listener,
                           TRandomNumbersGenerator& rng, TParticleQueue& secondaries,
                           double* pathLength = nullptr) const;

    // Hard-event cross sections per cm at kinetic energy T.
    double HardCollisionCoefficient(double T, bool positron) const;
    double HardBremsstrahlungCoefficient(double T) const;
    // Restricted (continuous) stopping power, keV/cm.
    double ContinuousStoppingPower(double T, bool positron) const;

private:
    const materials::TElectronData& data_;
    double density_;
    double electronDensity_;  // electrons per cm^3
    TElectronModelSettings settings_;

    void Stop(TParticle& particle, IEnergyDepositListener& listener, TRandomNumbersGenerator& rng,
              TParticleQueue& secondaries) const;
    // Ends a step on the boundary: the particle keeps T - loss (deposited
    // here unless `deposit` is false because it already was).
    std::int32_t Leave(TParticle& particle, double T, double loss, double path, double* pathLength,
                       IEnergyDepositListener& listener, std::int32_t code, bool deposit = true) const;
    std::int32_t HardEvent(TParticle& particle, double collision, double brems, IEnergyDepositListener& listener,
                           TRandomNumbersGenerator& rng, TParticleQueue& secondaries) const;
};

} // namespace interactions

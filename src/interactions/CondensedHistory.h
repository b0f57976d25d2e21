#pragma once

#include "interactions/Particle.h"
#include "materials/ElectronData.h"
#include "materials/MaterialProperties.h"
#include "random/RandomNumbersGenerator.h"

#include <cstdint>
#include <vector>

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

    // The run's switches: both cuts at the electron cut-off, since delta
    // electrons below it would stop where they are made anyway.
    static TElectronModelSettings From(const materials::MaterialProperties& switches);
};

// What the walk needs of the geometry: how far the particle may go along
// its current direction before it leaves the part. Only distances below
// `reach` matter to the caller: a boundary farther away may be reported as
// any value >= reach (infinity included), which lets a hierarchy stop early.
class IElectronGeometry {
public:
    virtual ~IElectronGeometry() = default;
    virtual double DistanceToBoundary(const TParticle& particle, double reach) = 0;
};

// Receives every energy deposit (keV, at the particle's current position)
// with the event code of what caused it: 100 continuous loss and stopping,
// 101 hard collision, 102 bremsstrahlung. Step reports the particle before
// and after each hard event (101, 102) and before and after it stops (100),
// for listeners that record tracks rather than energy.
class IEnergyDepositListener {
public:
    virtual ~IEnergyDepositListener() = default;
    virtual void Deposit(const TParticle& particle, double energy, std::int32_t code) = 0;
    virtual void Step(const TParticle& /*before*/, const TParticle& /*after*/, std::int32_t /*code*/) {}
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
    // Tabulates the model's coefficients for these cuts: make one per
    // material and settings at load time and share it read-only.
    TCondensedHistory(const materials::TElectronData& data, double density, const TElectronModelSettings& settings);

    // `pathLength`, when given, receives the length (cm) the particle travelled.
    // Errors: "Unexpected particle type" (a photon), "MTT energy index too large"
    // (an energy above the data).
    std::int32_t Transport(TParticle& particle, IElectronGeometry& geometry, IEnergyDepositListener& listener,
                           TRandomNumbersGenerator& rng, TParticleQueue& secondaries,
                           double* pathLength = nullptr) const;

    // Ends the particle where it is: its energy is deposited there (code 100)
    // and a positron annihilates at rest.
    static void Stop(TParticle& particle, IEnergyDepositListener& listener, TRandomNumbersGenerator& rng,
                     TParticleQueue& secondaries);

    // Hard-event cross sections per cm at kinetic energy T.
    double HardCollisionCoefficient(double T, bool positron) const;
    double HardBremsstrahlungCoefficient(double T) const;
    // Restricted (continuous) stopping power, keV/cm.
    double ContinuousStoppingPower(double T, bool positron) const;

    // The same computed from the data directly (the values above are
    // tabulated from these on the data's energy grid when the model is made).
    double ComputeHardCollisionCoefficient(double T, bool positron) const;
    double ComputeHardBremsstrahlungCoefficient(double T) const;
    double ComputeContinuousStoppingPower(double T, bool positron) const;

private:
    // Per energy of the data's grid: stopping power and hard collision
    // coefficient of electrons and of positrons, hard bremsstrahlung coefficient.
    enum Column { StopElectron, StopPositron, CollisionElectron, CollisionPositron, Brems, ColumnCount };

    const materials::TElectronData& data_;
    double density_;
    double electronDensity_;  // electrons per cm^3
    TElectronModelSettings settings_;
    std::vector<double> logEnergies_;
    std::vector<double> table_;  // energies x ColumnCount

    // Linear in ln T between the grid's energies, clamped to the grid.
    double Interpolate(Column column, double T) const;

    // Ends a step on the boundary: the particle keeps T - loss (deposited
    // here unless `deposit` is false because it already was).
    std::int32_t Leave(TParticle& particle, double T, double loss, double path, double* pathLength,
                       IEnergyDepositListener& listener, std::int32_t code, bool deposit = true) const;
    std::int32_t HardEvent(TParticle& particle, double collision, double brems, IEnergyDepositListener& listener,
                           TRandomNumbersGenerator& rng, TParticleQueue& secondaries) const;
};

} // namespace interactions

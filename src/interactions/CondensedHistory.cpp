#include "interactions/CondensedHistory.h"

#include "interactions/Annihilation.h"
#include "interactions/BasicInteraction.h"
#include "interactions/Bremsstrahlung.h"
#include "interactions/EnergyLossStraggling.h"
#include "interactions/InteractionTypes.h"
#include "interactions/KnockOn.h"
#include "interactions/MultipleScattering.h"
#include "interactions/PhysicsConstants.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace interactions {

namespace {

constexpr double kAvogadro = 6.02214076e23;

} // namespace

TElectronModelSettings TElectronModelSettings::From(const materials::MaterialProperties& switches)
{
    TElectronModelSettings settings;
    settings.MinElectronEnergy = switches.MinElectronEnergy;
    settings.CollisionCut = switches.MinElectronEnergy;
    settings.BremsstrahlungCut = switches.MinElectronEnergy;
    settings.EmitBremsstrahlung = switches.EmitBremsstrahlung;
    settings.BremsstrahlungAngular = switches.BremsstrahlungAngular;
    return settings;
}

TCondensedHistory::TCondensedHistory(const materials::TElectronData& data, double density,
                                     const TElectronModelSettings& settings)
    : data_(data), density_(density), electronDensity_(density * data.ZoverA() * kAvogadro), settings_(settings)
{
    // Below the data there is no model: the cut-off and the cuts are at
    // least the lowest tabulated energy (else a walk would approach 0 forever).
    const double lowest = data.LowestEnergy();
    settings_.MinElectronEnergy = std::max(settings_.MinElectronEnergy, lowest);
    settings_.CollisionCut = std::max(settings_.CollisionCut, lowest);
    settings_.BremsstrahlungCut = std::max(settings_.BremsstrahlungCut, lowest);
    const auto& energies = data.Energies();
    logEnergies_.reserve(energies.size());
    table_.reserve(energies.size() * ColumnCount);
    for (double T : energies) {
        logEnergies_.push_back(std::log(T));
        table_.insert(table_.end(), {ComputeContinuousStoppingPower(T, false), ComputeContinuousStoppingPower(T, true),
                                     ComputeHardCollisionCoefficient(T, false),
                                     ComputeHardCollisionCoefficient(T, true),
                                     ComputeHardBremsstrahlungCoefficient(T)});
    }
}

double TCondensedHistory::Interpolate(Column column, double T) const
{
    const double x = std::clamp(std::log(T), logEnergies_.front(), logEnergies_.back());
    const auto it = std::upper_bound(logEnergies_.begin(), logEnergies_.end(), x);
    const std::size_t i = std::clamp<std::size_t>(it - logEnergies_.begin(), 1, logEnergies_.size() - 1);
    const double f = (x - logEnergies_[i - 1]) / (logEnergies_[i] - logEnergies_[i - 1]);
    return table_[(i - 1) * ColumnCount + column] * (1.0 - f) + table_[i * ColumnCount + column] * f;
}

double TCondensedHistory::HardCollisionCoefficient(double T, bool positron) const
{
    // Exactly 0 where no transfer exceeds the cut, not an interpolated remnant.
    if (TMollerBhabha::MaxTransfer(T, positron) <= settings_.CollisionCut)
        return 0.0;
    return Interpolate(positron ? CollisionPositron : CollisionElectron, T);
}

double TCondensedHistory::HardBremsstrahlungCoefficient(double T) const
{
    if (!settings_.EmitBremsstrahlung || T <= settings_.BremsstrahlungCut)
        return 0.0;
    return Interpolate(Brems, T);
}

double TCondensedHistory::ContinuousStoppingPower(double T, bool positron) const
{
    return Interpolate(positron ? StopPositron : StopElectron, T);
}

double TCondensedHistory::ComputeHardCollisionCoefficient(double T, bool positron) const
{
    return electronDensity_ * TMollerBhabha::CrossSection(T, settings_.CollisionCut, positron);
}

double TCondensedHistory::ComputeHardBremsstrahlungCoefficient(double T) const
{
    if (!settings_.EmitBremsstrahlung || T <= settings_.BremsstrahlungCut)
        return 0.0;
    return density_ * data_.HardBremsstrahlungCrossSection(T, settings_.BremsstrahlungCut);
}

double TCondensedHistory::ComputeContinuousStoppingPower(double T, bool positron) const
{
    // Without bremsstrahlung photons all radiative loss stays continuous.
    const double radiative = settings_.EmitBremsstrahlung
                                 ? data_.RestrictedRadiativeStoppingPower(T, settings_.BremsstrahlungCut)
                                 : data_.RadiativeStoppingPower(T);
    return 1e3 * density_ * (data_.RestrictedCollisionStoppingPower(T, settings_.CollisionCut, positron) + radiative);
}

void TCondensedHistory::Stop(TParticle& particle, IEnergyDepositListener& listener, TRandomNumbersGenerator& rng,
                             TParticleQueue& secondaries)
{
    const TParticle before = particle;
    // Listeners see the deposit of a particle that ends here.
    particle.Status = StatusAbsorbed;
    listener.Deposit(particle, particle.Energy, InteractionElectron);
    particle.Energy = 0.0;
    if (particle.Type == ParticlePositron)
        TPositronAnnihilation::AnnihilateAtRest(particle, rng, secondaries);
    listener.Step(before, particle, InteractionElectron);
}

std::int32_t TCondensedHistory::Leave(TParticle& particle, double T, double loss, double path, double* pathLength,
                                      IEnergyDepositListener& listener, std::int32_t code, bool deposit) const
{
    if (deposit)
        listener.Deposit(particle, loss, InteractionElectron);
    particle.Energy = T - loss;
    if (pathLength)
        *pathLength = path;
    return code;
}

std::int32_t TCondensedHistory::HardEvent(TParticle& particle, double collision, double brems,
                                          IEnergyDepositListener& listener, TRandomNumbersGenerator& rng,
                                          TParticleQueue& secondaries) const
{
    const TParticle before = particle;
    const double T = particle.Energy;
    const bool positron = particle.Type == ParticlePositron;
    double u[2];
    rng.Generate(u, 2);
    const double phi = 2.0 * Pi() * u[1];
    if (u[0] * (collision + brems) < collision) {
        const double W = TMollerBhabha::SampleEnergyTransfer(T, settings_.CollisionCut, positron, rng);
        auto delta = MakeSecondary(particle, ParticleElectron, W);
        delta->Deflect(TMollerBhabha::DeltaCosTheta(T, W), phi + Pi());
        delta->InteractionCount = particle.InteractionCount + 1;
        secondaries.push_back(std::move(delta));
        particle.Deflect(TMollerBhabha::PrimaryCosTheta(T, W), phi);
        particle.Energy = T - W;
        ++particle.InteractionCount;
        listener.Deposit(particle, 0.0, InteractionElectronScattering);
        listener.Step(before, particle, InteractionElectronScattering);
        return InteractionElectronScattering;
    }
    const double k = TBremsstrahlungSampler::SampleEnergy(data_, T, settings_.BremsstrahlungCut, rng);
    auto photon = MakeSecondary(particle, ParticlePhoton, k);
    if (settings_.BremsstrahlungAngular) {
        photon->Deflect(TBremsstrahlungSampler::SampleCosTheta(T, rng), phi);
    } else {
        rng.Generate(u, 2);
        photon->SetIsotropicDirection(u[0], u[1]);
    }
    photon->InteractionCount = particle.InteractionCount + 1;
    secondaries.push_back(std::move(photon));
    particle.Energy = T - k;
    ++particle.InteractionCount;
    listener.Deposit(particle, 0.0, InteractionBremsstrahlung);
    listener.Step(before, particle, InteractionBremsstrahlung);
    return InteractionBremsstrahlung;
}

std::int32_t TCondensedHistory::Transport(TParticle& particle, IElectronGeometry& geometry,
                                          IEnergyDepositListener& listener, TRandomNumbersGenerator& rng,
                                          TParticleQueue& secondaries, double* pathLength) const
{
    if (particle.Type != ParticleElectron && particle.Type != ParticlePositron)
        throw std::runtime_error("Unexpected particle type");
    // Above the tables the coefficients would be extrapolated as constants.
    if (particle.Energy > data_.HighestEnergy())
        throw std::runtime_error("MTT energy index too large");
    const bool positron = particle.Type == ParticlePositron;
    std::int32_t code = InteractionElectron;
    double path = 0.0;
    for (;;) {
        const double T = particle.Energy;
        if (T <= settings_.MinElectronEnergy) {
            if (pathLength)
                *pathLength = path;
            Stop(particle, listener, rng, secondaries);
            return InteractionElectron;
        }
        const double stopping = ContinuousStoppingPower(T, positron);
        // The step loses at most the set fraction of T, and never goes below the cut-off.
        const double lossLimit = std::min(settings_.StepEnergyFraction * T, T - 0.5 * settings_.MinElectronEnergy);
        const double softStep = lossLimit / stopping;
        // The hard coefficients fall with energy only slowly; their largest
        // value over the step bounds the fictitious-event sampling.
        const double collision = HardCollisionCoefficient(T, positron);
        const double brems = HardBremsstrahlungCoefficient(T);
        const double Tend = T - lossLimit;
        const double bound = std::max(collision + brems,
                                      HardCollisionCoefficient(Tend, positron) + HardBremsstrahlungCoefficient(Tend));
        // Distances between (real or fictitious) hard events are exponential
        // with the bound's rate, and memoryless, so each step draws anew.
        const double toHard =
            bound > 0.0 ? -std::log1p(-Uniform(rng)) / bound : std::numeric_limits<double>::infinity();
        const bool hard = toHard < softStep;
        const double step = hard ? toHard : softStep;
        // Mean loss with the stopping power at the step's middle energy.
        const double firstLoss = step * stopping;
        const double meanLoss = step * ContinuousStoppingPower(std::max(T - 0.5 * firstLoss, 1e-3), positron);
        const double variance = TEnergyLossStraggling::SoftVariance(electronDensity_, T, settings_.CollisionCut, step);
        const double loss = std::min(TEnergyLossStraggling::SampleLoss(meanLoss, variance, rng), T);
        const double middle = T - 0.5 * meanLoss;
        const double transport1 = density_ * step * data_.TransportCrossSection(middle, 1);
        const double transport2 = density_ * step * data_.TransportCrossSection(middle, 2);
        // Random hinge: the deflection happens at a uniform point of the
        // step, and so does the step's energy deposit, which spreads the
        // deposits along the track instead of piling them at step ends.
        const double hinge = Uniform(rng) * step;
        const double first = geometry.DistanceToBoundary(particle, hinge);
        if (hinge >= first) {
            particle.Move(first);
            return Leave(particle, T, loss * first / step, path + first, pathLength, listener, code);
        }
        particle.Move(hinge);
        path += hinge;
        double phi = 0.0;
        rng.Generate(&phi, 1);
        particle.Deflect(TMultipleScattering::SampleCosTheta(transport1, transport2, rng), 2.0 * Pi() * phi);
        const double rest = step - hinge;
        const double second = geometry.DistanceToBoundary(particle, rest);
        if (rest >= second) {
            const double part = loss * (hinge + second) / step;
            listener.Deposit(particle, part, InteractionElectron);
            particle.Move(second);
            return Leave(particle, T, part, path + second, pathLength, listener, code, false);
        }
        listener.Deposit(particle, loss, InteractionElectron);
        particle.Move(rest);
        path += rest;
        particle.Energy = T - loss;
        if (!hard || particle.Energy <= settings_.MinElectronEnergy)
            continue;
        // A real event with probability (its coefficient now) / bound.
        const double c = HardCollisionCoefficient(particle.Energy, positron);
        const double b = HardBremsstrahlungCoefficient(particle.Energy);
        if (Uniform(rng) * bound < c + b)
            code = HardEvent(particle, c, b, listener, rng, secondaries);
    }
}

} // namespace interactions

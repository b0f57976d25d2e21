#include "interactions/PhotoEffect.h"

#include "interactions/MaterialAccess.h"
#include "interactions/PhysicsConstants.h"
#include "materials/FluorescenceData.h"
#include "materials/MaterialProperties.h"

#include <cmath>
#include <stdexcept>

namespace interactions {

namespace {

// The first shell bound below `energy` at which the running sum of `value`
// exceeds u; -1 when there is none.
template <class Value>
int SelectShell(const materials::TFluorescenceData& data, double energy, double u, Value value) {
    double sum = 0;
    for (std::size_t s = 0; s < data.ShellCount(); ++s) {
        if (data.Shell(s).BindingEnergy > energy)
            continue;
        sum += value(s);
        if (sum > u)
            return static_cast<int>(s);
    }
    return -1;
}

int SelectPhotoShell(const materials::TFluorescenceData& data, double energy, TRandomNumbersGenerator& rng) {
    return SelectShell(data, energy, Uniform(rng),
                       [&](std::size_t s) { return data.PhotoProbability(s, energy); });
}

// Electron impact: the shells in proportion to their ionisation values.
int SelectImpactShell(const materials::TFluorescenceData& data, double energy, TRandomNumbersGenerator& rng) {
    const double total = data.ElectronImpactValue(data.ShellCount(), energy);
    if (!(total > 0))
        return -1;
    return SelectShell(data, energy, Uniform(rng) * total,
                       [&](std::size_t s) { return data.ElectronImpactValue(s, energy); });
}

void EmitPhotoelectron(const TParticle& photon, double energy, double probability, double weightFactor,
                       TParticleQueue& secondaries, TRandomNumbersGenerator& rng) {
    const double cosTheta = SamplePhotoelectronCosTheta(energy, rng);
    auto electron = MakeSecondary(photon, ParticleElectron, energy);
    electron->Deflect(cosTheta, 2.0 * Pi() * Uniform(rng));
    electron->Weight *= weightFactor;
    if (probability < 1.0)
        electron->Weight /= probability;
    secondaries.push_back(std::move(electron));
}

void EmitLine(const TParticle& parent, const materials::TFluorescenceLine& line, double weight,
              double augerProbability, TParticleQueue& secondaries, TRandomNumbersGenerator& rng) {
    const bool auger = line.Kind != 0;
    if (auger) {
        if (!Happens(augerProbability, rng))
            return;
        if (augerProbability < 1.0)
            weight /= augerProbability;
    }
    auto p = MakeSecondary(parent, auger ? ParticleElectron : ParticlePhoton, line.Energy);
    double u[2];
    rng.Generate(u, 2);
    p->SetIsotropicDirection(u[0], u[1]);
    p->Weight = weight;
    ++p->InteractionCount;
    secondaries.push_back(std::move(p));
}

} // namespace

double SamplePhotoelectronCosTheta(double kineticEnergy, TRandomNumbersGenerator& rng) {
    const double gamma = 1.0 + kineticEnergy / kElectronMass;
    const double beta =
        std::sqrt((2.0 * kElectronMass + kineticEnergy) * kineticEnergy) / (kineticEnergy + kElectronMass);
    const double a = 1.0 / beta - 1.0;
    const double term = 0.5 * beta * gamma * (gamma - 1.0) * (gamma - 2.0);
    const double g0 = 2.0 * (1.0 / a + term);
    double nu = 0;
    double xi[2];
    do {
        rng.Generate(xi, 2);
        nu = 2.0 * a / ((a + 2.0) * (a + 2.0) - 4.0 * xi[0]) * (2.0 * xi[0] + (a + 2.0) * std::sqrt(xi[0]));
    } while (xi[1] * g0 > (2.0 - nu) * (1.0 / (a + nu) + term));
    return 1.0 - nu;
}

void EmitFluorescence(const materials::TFluorescenceData& data, const materials::MaterialProperties& settings,
                      const TParticle& particle, TParticleQueue& secondaries, TRandomNumbersGenerator& rng,
                      double minEnergy, double weightFactor) {
    if (particle.Type != ParticlePhoton && particle.Type != ParticleElectron)
        throw std::runtime_error("Only know about fluorescence from photons and electrons");
    if (!data.IsLoaded() || data.ShellCount() == 0)
        return;
    const double energy = particle.Energy;
    const auto& grid = data.Configuration();
    if (!(energy >= grid.LowestEnergy() && energy <= grid.HighestEnergy()))
        throw std::runtime_error("FluorescenceData::EmitFluorescence(). Energy Index Error!\n");

    const bool photon = particle.Type == ParticlePhoton;
    const int shellIndex =
        photon ? SelectPhotoShell(data, energy, rng) : SelectImpactShell(data, energy, rng);
    if (shellIndex < 0)
        return;
    const auto& shell = data.Shell(static_cast<std::size_t>(shellIndex));

    const double electronEnergy = energy - shell.BindingEnergy;
    const double electronProbability = settings.FluorescenceElectronProbability;
    if (photon && electronEnergy >= minEnergy && Happens(electronProbability, rng))
        EmitPhotoelectron(particle, electronEnergy, electronProbability, weightFactor, secondaries, rng);

    const double weight = particle.Weight * weightFactor;
    if (data.AllFluorescence) {
        for (const auto& line : shell.Lines)
            if (line.Energy >= minEnergy)
                EmitLine(particle, line, weight * line.Probability, settings.AugerProbability, secondaries,
                         rng);
        return;
    }
    const double u = Uniform(rng);
    double sum = 0;
    for (const auto& line : shell.Lines) {
        sum += line.Probability;
        if (sum > u) {
            if (line.Energy >= minEnergy)
                EmitLine(particle, line, weight, settings.AugerProbability, secondaries, rng);
            return;
        }
    }
}

void TPhotoEffect::Interact(TParticle& particle, const materials::TMaterial* material,
                            TRandomNumbersGenerator& rng, TParticleQueue& secondaries) const {
    if (fluorescence_) {
        Absorb(particle, FluorescenceData(material), MaterialSettings(material), rng, secondaries);
        return;
    }
    particle.Energy = 0;
    particle.Status = StatusAbsorbed;
}

void TPhotoEffect::Absorb(TParticle& particle, const materials::TFluorescenceData* data,
                          const materials::MaterialProperties& settings, TRandomNumbersGenerator& rng,
                          TParticleQueue& secondaries) const {
    if (fluorescence_ && data)
        EmitFluorescence(*data, settings, particle, secondaries, rng, settings.MinEnergy, 1.0);
    particle.Energy = 0;
    particle.Status = StatusAbsorbed;
}

} // namespace interactions

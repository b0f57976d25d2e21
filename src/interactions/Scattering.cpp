#include "interactions/Scattering.h"

#include "interactions/PhysicsConstants.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace interactions {

void TBasicPhotonScattering::Interact(TParticle& particle, const materials::TMaterial* material,
                                      TRandomNumbersGenerator& rng, TParticleQueue& secondaries) const {
    const double phi = 2.0 * Pi() * Uniform(rng);
    const double cosTheta = GetCosTheta(particle, material, rng);
    if (!(cosTheta >= -1.0 && cosTheta <= 1.0)) {
        std::ostringstream text;
        text << InteractionTypeName(GetType()) << ": Invalid value for cos(Theta)!\n"
             << " Photon Energy: " << particle.Energy << " cos(Theta): " << cosTheta << "\n";
        throw std::runtime_error(text.str());
    }
    Scatter(particle, material, cosTheta, phi, rng, secondaries);
    particle.Deflect(cosTheta, phi);
}

double TBasicPhotonScattering::GetCosTheta(const TParticle& particle, const materials::TMaterial* material,
                                           TRandomNumbersGenerator& rng) const {
    return crossSection_->SampleCosTheta(material, particle.Energy, rng);
}

TComptonScattering::TComptonScattering(int kind, bool tabulated, double precision, double electronProbability)
    : TBasicPhotonScattering(CreateComptonCrossSection(kind, tabulated, precision)),
      electronProbability_(electronProbability) {}

void TComptonScattering::Print(std::ostream& out) const {
    TBasicPhotonScattering::Print(out);
    if (electronProbability_ > 0)
        out << " (e- prob: " << electronProbability_ << ")";
}

void TComptonScattering::Scatter(TParticle& particle, const materials::TMaterial*, double cosTheta,
                                 double phi, TRandomNumbersGenerator& rng,
                                 TParticleQueue& secondaries) const {
    const double energy = particle.Energy;
    const double scattered = crossSection_->GetScatteredEnergy(cosTheta, energy);
    const double p = electronProbability_;
    if (Happens(p, rng)) {
        // The electron leaves on the other side of the old direction, so the
        // momenta of photon and electron add up to the incoming one.
        const double sinTheta = std::sqrt(std::max(0.0, 1.0 - cosTheta * cosTheta));
        const double thetaElectron = std::atan(sinTheta * scattered / (energy - scattered * cosTheta));
        auto electron = MakeSecondary(particle, ParticleElectron, energy - scattered);
        electron->Deflect(std::cos(thetaElectron), phi + Pi());
        if (p < 1.0)
            electron->Weight /= p;
        secondaries.push_back(std::move(electron));
    }
    particle.Energy = scattered;
}

TRayleighScattering::TRayleighScattering(int kind, bool tabulated, double precision)
    : TBasicPhotonScattering(CreateRayleighCrossSection(kind, tabulated, precision)) {}

} // namespace interactions

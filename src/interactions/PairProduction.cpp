#include "interactions/PairProduction.h"

#include "interactions/MaterialAccess.h"
#include "interactions/PhysicsConstants.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace interactions {

namespace {

// Reduced screening radii R m c / hbar for Z = 1..99 (Hubbell, Gimm and
// Overbo, J. Phys. Chem. Ref. Data 9 (1980) 1023); entry 0 is never read.
// clang-format off
const double kScreeningRadius[100] = {0.0,
    122.81, 73.167, 69.228, 67.301, 64.696, 61.228, 57.524, 54.033, 50.787, 47.851,
    46.373, 45.401, 44.503, 43.815, 43.074, 42.321, 41.586, 40.953, 40.524, 40.256,
    39.756, 39.144, 38.462, 37.778, 37.174, 36.663, 35.986, 35.317, 34.688, 34.197,
    33.786, 33.422, 33.068, 32.74, 32.438, 32.143, 31.884, 31.622, 31.438, 31.142,
    30.95, 30.758, 30.561, 30.285, 30.097, 29.832, 29.581, 29.411, 29.247, 29.085,
    28.93, 28.721, 28.58, 28.442, 28.312, 28.139, 27.973, 27.819, 27.675, 27.496,
    27.285, 27.093, 26.911, 26.705, 26.516, 26.304, 26.108, 25.929, 25.73, 25.577,
    25.403, 25.245, 25.1, 24.941, 24.79, 24.655, 24.506, 24.391, 24.262, 24.145,
    24.039, 23.922, 23.813, 23.712, 23.621, 23.523, 23.43, 23.331, 23.238, 23.139,
    23.048, 22.967, 22.833, 22.694, 22.624, 22.545, 22.446, 22.358, 22.264};
// clang-format on

} // namespace

double ScreeningRadius(double z) {
    auto index = static_cast<long>(z + 0.5);
    index = std::min(99L, std::max(1L, index));
    return kScreeningRadius[index];
}

void SampleScreeningFunctions(double z, double kappa, double eps, double& phi1, double& phi2) {
    const double r = ScreeningRadius(z);
    const double a = kFineStructure * z;
    const double a2 = a * a;
    const double logR4 = 4.0 * std::log(r);

    const double b = r / (2.0 * kappa * eps * (1.0 - eps));
    const double b2 = b * b;
    const double log1b2 = std::log(1.0 + b2);
    const double batan = b * std::atan(1.0 / b);
    const double bigPhi1 = 2.0 - 2.0 * log1b2 - 4.0 * batan + logR4;
    const double bigPhi2 =
        4.0 / 3.0 - 2.0 * log1b2 + 2.0 * b2 * (4.0 - 4.0 * batan - 3.0 * std::log(1.0 + 1.0 / b2)) + logR4;

    const double coulomb =
        a2 * (1.0 / (1.0 + a2) + 0.202059 +
              a2 * (-0.03693 +
                    a2 * (0.00835 + a2 * (-0.00201 + a2 * (0.00049 + a2 * (-0.00012 + a2 * 0.00003))))));

    const double x = 2.0 / kappa;
    const double sx = std::sqrt(x);
    const double lowEnergy = (-0.1774 - 12.1 * a + 11.18 * a2) * sx + (8.523 + 73.26 * a - 44.41 * a2) * x -
                             (13.52 + 121.1 * a - 96.41 * a2) * x * sx +
                             (8.946 + 62.05 * a - 63.41 * a2) * x * x;

    const double g0 = logR4 - 4.0 * coulomb + lowEnergy;
    phi1 = std::max(0.0, 0.5 * (3.0 * bigPhi1 - bigPhi2) - logR4 + g0);
    phi2 = std::max(0.0, 0.25 * (3.0 * bigPhi1 + bigPhi2) - logR4 + g0);
}

double SamplePairElectronEnergy(double z, double energy, TRandomNumbersGenerator& rng) {
    const double kappa = energy / kElectronMass;
    const double eps0 = kElectronMass / energy;
    const double half = 0.5 - eps0;
    double phi1Max = 0;
    double phi2Max = 0;
    SampleScreeningFunctions(z, kappa, 0.5, phi1Max, phi2Max);
    const double u1 = 2.0 / 3.0 * half * half * phi1Max;
    const double u2 = phi2Max;
    const double p1 = u1 / (u1 + u2);
    double xi[3];
    for (;;) {
        rng.Generate(xi, 3);
        const bool first = p1 > xi[0];
        const double eps = first ? 0.5 + half * std::cbrt(2.0 * xi[1] - 1.0) : eps0 + 2.0 * half * xi[1];
        double phi1 = 0;
        double phi2 = 0;
        SampleScreeningFunctions(z, kappa, eps, phi1, phi2);
        if (first ? xi[2] * phi1Max <= phi1 : xi[2] * phi2Max <= phi2)
            return eps * energy - kElectronMass;
    }
}

double SampleLeptonCosTheta(double kineticEnergy, TRandomNumbersGenerator& rng) {
    const double beta =
        std::sqrt((2.0 * kElectronMass + kineticEnergy) * kineticEnergy) / (kElectronMass + kineticEnergy);
    const double v = 2.0 * Uniform(rng) - 1.0;
    const double cosTheta = (v + beta) / (1.0 + v * beta);
    if (!(cosTheta >= -1.0 && cosTheta <= 1.0))
        throw std::runtime_error("PairProduction: Invalid value for cosTheta!");
    return cosTheta;
}

void TPairProduction::Print(std::ostream& out) const {
    TBasicPhotonInteraction::Print(out);
    if (electronProbability_ <= 0) {
        out << " (simple)";
        return;
    }
    out << " (e- prob: " << electronProbability_;
    if (angular_)
        out << ", angular";
    out << ")";
}

void TPairProduction::Interact(TParticle& particle, const materials::TMaterial* material,
                               TRandomNumbersGenerator& rng, TParticleQueue& secondaries) const {
    CreatePair(particle, MaterialZ(material), rng, secondaries);
}

void TPairProduction::CreatePair(TParticle& photon, double z, TRandomNumbersGenerator& rng,
                                 TParticleQueue& secondaries) const {
    const double energy = photon.Energy;
    if (energy < 2.0 * kElectronMass) {
        photon.Energy = 0;
        photon.Status = StatusAbsorbed;
        return;
    }
    if (electronProbability_ <= 0) {
        double u[2];
        rng.Generate(u, 2);
        photon.SetIsotropicDirection(u[0], u[1]);
        photon.Energy = kElectronMass;
        photon.Weight *= 2.0;
        ++photon.InteractionCount;
        return;
    }
    const double p = electronProbability_;
    if (Happens(p, rng)) {
        try {
            const double electronEnergy = SamplePairElectronEnergy(z, energy, rng);
            auto electron = MakeSecondary(photon, ParticleElectron, electronEnergy);
            auto positron =
                MakeSecondary(photon, ParticlePositron, energy - 2.0 * kElectronMass - electronEnergy);
            if (p < 1.0) {
                electron->Weight /= p;
                positron->Weight /= p;
            }
            double u[2];
            if (angular_) {
                const double cosElectron = SampleLeptonCosTheta(electron->Energy, rng);
                const double cosPositron = SampleLeptonCosTheta(positron->Energy, rng);
                rng.Generate(u, 2);
                electron->Deflect(cosElectron, 2.0 * Pi() * u[0]);
                positron->Deflect(cosPositron, 2.0 * Pi() * u[1]);
            } else {
                rng.Generate(u, 2);
                electron->SetIsotropicDirection(u[0], u[1]);
                rng.Generate(u, 2);
                positron->SetIsotropicDirection(u[0], u[1]);
            }
            secondaries.push_back(std::move(electron));
            secondaries.push_back(std::move(positron));
        } catch (const std::exception& e) {
            throw std::runtime_error(std::string("TPairProduction::TraceInteraction: ") + e.what());
        }
    }
    photon.Energy = 0;
    photon.Status = StatusAbsorbed;
}

} // namespace interactions

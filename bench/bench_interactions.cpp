// Samples per second of every interaction sampler, beside a naive rejection
// sampler of Klein-Nishina measured in the same run.

#include "interactions/PairProduction.h"
#include "interactions/PhotoEffect.h"
#include "interactions/PhotonInteractionsModel.h"
#include "interactions/PhysicsConstants.h"
#include "interactions/Scattering.h"
#include "materials/DataDirectory.h"
#include "materials/MaterialsList.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

using namespace interactions;

namespace {

double SecondsOf(const std::function<void(int)>& run, int n) {
    const auto start = std::chrono::steady_clock::now();
    run(n);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Repeats with growing counts until a run takes at least 0.3 s.
double Rate(const std::function<void(int)>& run) {
    int n = 1000;
    for (;;) {
        const double s = SecondsOf(run, n);
        if (s >= 0.3)
            return n / s;
        n *= s > 0.01 ? std::max(2, static_cast<int>(0.4 / s)) : 10;
    }
}

volatile double sink;

// Klein-Nishina by rejection from a uniform cos(theta), bounded by f(1) = 2.
double NaiveKleinNishinaRate(double energy) {
    std::mt19937_64 engine(5);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    return Rate([&](int n) {
        double acc = 0;
        for (int i = 0; i < n; ++i) {
            for (;;) {
                const double mu = 2 * uniform(engine) - 1;
                const double p = 1 / (1 + energy / kElectronMass * (1 - mu));
                if (2 * uniform(engine) <= p * p * (p + 1 / p - 1 + mu * mu)) {
                    acc += mu;
                    break;
                }
            }
        }
        sink = acc;
    });
}

struct Reference {
    const char* what;
    double rate;
};

void Report(const std::string& name, double rate, const Reference& ref) {
    std::printf("BENCH interactions %s: %.4g samples/s; reference %s %.4g samples/s; ratio %.3g\n",
                name.c_str(), rate, ref.what, ref.rate, rate / ref.rate);
    std::fflush(stdout);
}

double InteractRate(const TBasicPhotonInteraction& interaction, const materials::TMaterial* material,
                    double energy, TRandomNumbersGenerator& rng) {
    TParticleQueue queue;
    // One particle throughout, as in transport, where the direction's sines
    // and cosines are known from the previous interaction.
    TParticle p;
    return Rate([&](int n) {
        for (int i = 0; i < n; ++i) {
            p.Energy = energy;
            p.Status = StatusAlive;
            p.Weight = 1;
            interaction.Interact(p, material, rng, queue);
            queue.clear();
        }
    });
}

double CosThetaRate(const TBasicPhotonScattering& scattering, const materials::TMaterial* material,
                    double energy, TRandomNumbersGenerator& rng) {
    TParticle p;
    p.Energy = energy;
    return Rate([&](int n) {
        double acc = 0;
        for (int i = 0; i < n; ++i)
            acc += scattering.GetCosTheta(p, material, rng);
        sink = acc;
    });
}

void ReportScattering(const std::string& name, const TBasicPhotonScattering& scattering,
                      const materials::TMaterial* material, double energy, TRandomNumbersGenerator& rng,
                      const Reference& ref) {
    Report(name + " cos(theta)", CosThetaRate(scattering, material, energy, rng), ref);
    Report(name + " interaction", InteractRate(scattering, material, energy, rng), ref);
}

} // namespace

int main() {
    materials::MaterialProperties properties;
    properties.MaxEnergy = 20000;
    properties.FullPhysicsThreshold = 200;
    properties.Fluorescence = true;
    materials::TMaterialsList list(&properties);
    const auto* water = list.GetMaterial("Water");
    const auto* lead = list.GetMaterial("Lead");
    list.Load(materials::DataPath("materials/materials.ini"), [](const std::string&, bool) {});
    auto rng = CreateGenerator(PRNG_Type::MT19937_64);
    rng->SetSeed(1);

    const Reference naive{"naive-rejection-KN-100keV", NaiveKleinNishinaRate(100)};
    const Reference uniform{"mt19937_64-uniform", Rate([](int n) {
                                std::mt19937_64 engine(3);
                                std::uniform_real_distribution<double> u(0.0, 1.0);
                                double acc = 0;
                                for (int i = 0; i < n; ++i)
                                    acc += u(engine);
                                sink = acc;
                            })};

    for (bool tabulated : {true, false}) {
        const std::string kind = tabulated ? "tabulated" : "analytical";
        ReportScattering("Compton simple " + kind + " 100keV",
                         TComptonScattering(ScatteringSimple, tabulated, 0.001, 0), water, 100, *rng, naive);
        ReportScattering("Rayleigh simple " + kind + " 100keV",
                         TRayleighScattering(ScatteringSimple, tabulated, 0.001), water, 100, *rng, naive);
        ReportScattering("Compton total " + kind + " water 60keV",
                         TComptonScattering(ScatteringTotal, tabulated, 0.001, 0), water, 60, *rng, naive);
        ReportScattering("Rayleigh total " + kind + " lead 60keV",
                         TRayleighScattering(ScatteringTotal, tabulated, 0.001), lead, 60, *rng, naive);
    }
    Report("Compton simple tabulated with electrons 100keV",
           InteractRate(TComptonScattering(ScatteringSimple, true, 0.001, 1), water, 100, *rng), naive);
    Report("PhotoEffect fluorescence lead 100keV", InteractRate(TPhotoEffect(true), lead, 100, *rng),
           uniform);
    Report("PairProduction full lead 5MeV", InteractRate(TPairProduction(1, true), lead, 5000, *rng),
           uniform);
    Report("PairProduction simple lead 5MeV", InteractRate(TPairProduction(0, true), lead, 5000, *rng),
           uniform);

    TPhotonInteractionsModel model;
    model.BuildDefault(properties, true, false);
    TParticleQueue queue;
    Report("DetermineInteractionType lead 100keV", Rate([&](int n) {
               for (int i = 0; i < n; ++i) {
                   TParticle p;
                   p.Energy = 100;
                   sink = model.DetermineInteractionType(lead, p, *rng, queue)->GetType();
               }
           }),
           uniform);
    return 0;
}

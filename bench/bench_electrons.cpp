// Electron histories per second of the condensed-history walk in an infinite
// medium (water and lead, 100 keV and 1 MeV), beside photon histories per
// second of the photon interactions in the same material and run (interaction
// after interaction until the photon is absorbed; secondaries dropped).

#include "interactions/CondensedHistory.h"
#include "interactions/PhotonInteractionsModel.h"
#include "materials/DataDirectory.h"
#include "materials/MaterialsList.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>

using namespace interactions;

namespace {

// Histories per second, repeated with growing counts until a run takes 0.3 s.
double Rate(const std::function<void(int)>& run)
{
    int n = 10;
    for (;;) {
        const auto start = std::chrono::steady_clock::now();
        run(n);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (s >= 0.3)
            return n / s;
        n *= s > 0.01 ? std::max(2, static_cast<int>(0.4 / s)) : 10;
    }
}

struct Infinite : IElectronGeometry {
    double DistanceToBoundary(const TParticle&, double) override { return std::numeric_limits<double>::infinity(); }
};

struct StepCounter : IEnergyDepositListener {
    long steps = 0;
    void Deposit(const TParticle&, double, std::int32_t) override { ++steps; }
};

} // namespace

int main()
{
    materials::MaterialProperties properties;
    properties.MaxEnergy = 20000;
    materials::TMaterialsList list(&properties);
    auto* water = list.GetMaterial("Water");
    auto* lead = list.GetMaterial("Lead");
    water->Properties.UsedWithElectronTransport = true;
    lead->Properties.UsedWithElectronTransport = true;
    list.Load(materials::DataPath("materials/materials.ini"), [](const std::string&, bool) {});
    TPhotonInteractionsModel photons;
    photons.BuildDefault(properties, false, false);
    auto rng = CreateGenerator(PRNG_Type::MT19937_64);
    rng->SetSeed(1);

    for (const auto* material : {water, lead}) {
        const TCondensedHistory electrons(material->Properties.ElectronData, material->Properties.Density,
                                          TElectronModelSettings());
        for (double energy : {100.0, 1000.0}) {
            TParticleQueue queue;
            Infinite geometry;
            StepCounter counter;
            long histories = 0;
            const double electronRate = Rate([&](int n) {
                for (int i = 0; i < n; ++i) {
                    TParticle e;
                    e.Type = ParticleElectron;
                    e.Energy = energy;
                    electrons.Transport(e, geometry, counter, *rng, queue);
                    queue.clear();
                }
                histories += n;
            });
            const double photonRate = Rate([&](int n) {
                for (int i = 0; i < n; ++i) {
                    TParticle p;
                    p.Energy = energy;
                    while (p.IsAlive() && p.Energy > 1.0) {
                        photons.DetermineInteractionType(material, p, *rng, queue)
                            ->Interact(p, material, *rng, queue);
                        queue.clear();
                    }
                }
            });
            std::printf("BENCH electrons %s %gkeV: %.4g electron histories/s (%.1f steps/history); reference photon "
                        "histories in the same material %.4g histories/s; ratio %.3g\n",
                        material->GetName().c_str(), energy, electronRate, double(counter.steps) / histories,
                        photonRate, electronRate / photonRate);
            std::fflush(stdout);
        }
    }
    return 0;
}

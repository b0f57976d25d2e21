// Electron histories per second of the condensed-history walk in an infinite
// medium (water and lead, 100 keV and 1 MeV, with their delta electrons),
// beside photon histories per second of the photon interactions in the same
// material and run (interaction after interaction until the photon is
// absorbed; secondaries dropped). Then
// the same electrons traced in a part of a loaded scene, where every step asks
// the hierarchy for the boundary, against the walk in the infinite medium.

#include "QuietInterface.h"
#include "app/MonteCarloRun.h"
#include "app/TarvoApplication.h"
#include "interactions/CondensedHistory.h"
#include "interactions/PhotonInteractionsModel.h"
#include "materials/DataDirectory.h"
#include "materials/MaterialsList.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <string>

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

// Electron histories per second through the tracer: a beam onto a 10 cm cube
// of the material that stops every electron inside, with electron transport.
double TracerRate(const std::string& material, double energy)
{
    std::string file = __FILE__;
    const std::string data = file.substr(0, file.rfind("/bench/")) + "/data";
    const std::string path = "/tmp/bench_electrons_scene.ini";
    std::ofstream(path) << "[ApplicationTask]\nNumberOfParticles = 1\nResultDir = /tmp/bench_electrons\n"
                           "[EndApplicationTask]\n[DataSources]\nMaterialsFileName = "
                        << data << "/materials/materials.ini\n[EndDataSources]\n[Physics]\nElectronTransport = "
                                   "true\n[EndPhysics]\n[Objects]\n[Object]\nObjectType = Source\nParticleType = "
                                   "Electron\nEnergy = "
                        << energy << "\nBaseCenter = (0, 0, -1)\n[EndObject]\n[Object]\nObjectType = Part\n"
                                     "MaterialName = "
                        << material << "\nVertexA = (-5, -5, 0)\nSide1 = (10, 0, 0)\nSide2 = (0, 10, 0)\n"
                                       "Side3 = (0, 0, 10)\n[EndObject]\n[EndObjects]\n";
    bench::QuietInterface ui;
    TTarvoApplication app(ui);
    if (!app.Initialize(path, false))
        return 0;
    auto prototype = CreateGenerator(PRNG_Type::MT19937_64);
    TPhotonTracer tracer(*app.Scene(), MakeTracerSettings(app.Parameters()), *prototype);
    std::uint64_t next = 0;
    return Rate([&](int n) {
        tracer.StartBatch(0, next, n, 1);
        next += n;
        while (tracer.TraceSome(1000)) {
        }
    });
}

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
                    // Delta electrons too, as the tracer follows them; photons are dropped.
                    while (!queue.empty()) {
                        auto secondary = std::move(queue.front());
                        queue.pop_front();
                        if (secondary->Type != ParticlePhoton)
                            electrons.Transport(*secondary, geometry, counter, *rng, queue);
                    }
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
            const double traced = TracerRate(material->GetName(), energy);
            std::printf("BENCH electrons tracer_%s_%gkeV: %.4g electron histories/s; reference the walk alone in "
                        "the infinite medium %.4g histories/s; ratio %.3g\n",
                        material->GetName().c_str(), energy, traced, electronRate, traced / electronRate);
            std::fflush(stdout);
        }
    }
    return 0;
}

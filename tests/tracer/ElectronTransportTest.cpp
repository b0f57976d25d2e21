#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "interactions/InteractionTypes.h"
#include "materials/TestErrors.h"
#include "tracer/TracerScene.h"

namespace {

// A box of material from z = 0 to z = t (x, y within +-5), a pencil beam along
// +z from just in front of it, and six plane detectors closing a box around
// both, so that everything leaving the slab is registered once on its way out.
std::string EnclosedSlab(const std::string& particle, double energy, const std::string& material, double t) {
    const auto v = [](double x, double y, double z) {
        return "(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(z) + ")";
    };
    const double lo = -1, hi = t + 1;
    std::string planes;
    const auto plane = [&](const std::string& a, const std::string& side1, const std::string& side2) {
        planes += Object("ObjectType = PlaneDetector\nTotalOnly = true\nVertexA = " + a +
                         "\nSide1 = " + side1 + "\nSide2 = " + side2 + "\nPixelColumns = 1\nPixelRows = 1\n");
    };
    plane(v(-6, -6, lo), v(12, 0, 0), v(0, 12, 0));
    plane(v(-6, -6, hi), v(12, 0, 0), v(0, 12, 0));
    plane(v(-6, -6, lo), v(12, 0, 0), v(0, 0, hi - lo));
    plane(v(-6, 6, lo), v(12, 0, 0), v(0, 0, hi - lo));
    plane(v(-6, -6, lo), v(0, 12, 0), v(0, 0, hi - lo));
    plane(v(6, -6, lo), v(0, 12, 0), v(0, 0, hi - lo));
    return Object("ObjectType = Source\nParticleType = " + particle + "\nEnergy = " + std::to_string(energy) +
                  "\nBaseCenter = (0, 0, -0.5)\n") +
           Object("ObjectType = Part\nMaterialName = " + material +
                  "\nVertexA = (-5, -5, 0)\nSide1 = (10, 0, 0)\nSide2 = (0, 10, 0)\nSide3 = (0, 0, " +
                  std::to_string(t) + ")\n") +
           planes;
}

// The energy books of every history: what is created (primaries and secondaries) brings in,
// against what photon events take out of photons, what electrons deposit and
// what the planes register on the way out. Electron deposits are kept with
// their places; hard events report what they hand on.
struct Ledger : TParticleListener, interactions::IEnergyDepositListener {
    std::vector<double> balance;
    double escaped = 0, escapedElectrons = 0;
    std::vector<std::pair<double, double>> deposits; // (distance from the beam axis, energy)

    void Notify(const TParticle& before, const TParticle& after, int code) override {
        double& b = balance.at(after.History);
        if (code == 1001)
            b += after.Energy;
        else if (code == 1000) {
            b -= after.Energy * after.Weight;
            escaped += after.Energy * after.Weight;
            if (after.Type != ParticlePhoton)
                escapedElectrons += after.Energy * after.Weight;
        } else if (before.Type == ParticlePhoton && code >= 0 && code < 100)
            b -= before.Energy - (after.IsAlive() ? after.Energy : 0.0);
    }
    void Deposit(const TParticle& p, double energy, std::int32_t) override {
        balance.at(p.History) -= energy;
        deposits.emplace_back(std::hypot(p.Position.x, p.Position.y), energy);
    }
    // What hard events hand to their delta electrons and photons.
    void Step(const TParticle& before, const TParticle& after, std::int32_t code) override {
        if (code != interactions::InteractionElectron)
            balance.at(after.History) -= before.Energy - after.Energy;
    }
    // The radius of the cylinder around the beam that holds this share of the deposits.
    double Radius(double share) {
        std::sort(deposits.begin(), deposits.end());
        double total = 0, sum = 0;
        for (const auto& d : deposits)
            total += d.second;
        for (const auto& d : deposits)
            if ((sum += d.second) >= share * total)
                return d.first;
        return 0;
    }
};

// Traces n histories on one tracer without photon splitting, so that every
// plane registers the real particles that cross it.
TTracerCounters Trace(const TracerScene& scene, std::uint64_t n, Ledger& ledger) {
    ledger.balance.assign(n, 0.0);
    for (std::size_t i = 0; i < scene.Scene().DetectorCount(); ++i)
        scene.Detector(i).BeginRun(0);
    TTracerSettings settings = MakeTracerSettings(scene.Parameters());
    settings.UsePhotonSplitting = false;
    settings.Report = [](const std::string& text) { ADD_FAILURE() << text; };
    auto prototype = CreateGenerator(PRNG_Type::MT19937_64);
    TPhotonTracer tracer(scene.Scene(), settings, *prototype);
    tracer.AddListener(&ledger);
    for (std::size_t i = 0; i < tracer.Scene().PartCount(); ++i)
        AsPart(tracer.Scene().GetPart(i)).SetDepositListener(&ledger);
    tracer.StartBatch(0, 0, n, 7);
    while (tracer.TraceSome(1000)) {
    }
    return tracer.Counters();
}

const std::string kElectronTransport = "ElectronTransport = true\n";
const std::string kFluorescence = "[MaterialProperties]\nFluorescence = true\n[EndMaterialProperties]\n";

} // namespace

// Electrons into water and lead: every history's energy is accounted for to
// rounding, with delta rays, bremsstrahlung, fluorescence and the photons'
// own interactions in the slab; some of it leaves on both sides.
TEST(ElectronTransport, EveryHistoryConservesEnergy) {
    const struct {
        const char* material;
        double thickness, energy;
    } cases[] = {{"Water", 0.2, 1000}, {"Water", 0.002, 50}, {"Lead", 0.03, 1000}, {"Lead", 0.001, 50}};
    for (const auto& c : cases) {
        TracerScene scene(EnclosedSlab("Electron", c.energy, c.material, c.thickness), "", kElectronTransport,
                          kFluorescence);
        Ledger ledger;
        const std::uint64_t n = 150;
        const TTracerCounters counters = Trace(scene, n, ledger);
        EXPECT_GE(counters.Electrons, n) << c.material;
        for (std::uint64_t h = 0; h < n; ++h)
            ASSERT_NEAR(ledger.balance[h], 0.0, 1e-9 * c.energy)
                << c.material << " " << c.energy << " keV, history " << h;
        EXPECT_GT(ledger.escaped, 0.02 * n * c.energy) << c.material << " " << c.energy;
        EXPECT_LT(ledger.escaped, 0.98 * n * c.energy) << c.material << " " << c.energy;
    }
}

// Without electron transport an electron stops where it is born; with it,
// photoelectrons born near the surfaces of a 0.6 mm CsI layer under a 60 keV
// pencil beam leave it, so less energy stays in the layer (K fluorescence
// escapes either way). The difference is far below the statistical noise of
// the deposit itself, so it is checked as the energy that electrons carry out.
TEST(ElectronTransport, CsiLayerLosesPhotoelectrons) {
    const std::uint64_t n = 2000;
    double deposited[2], electrons[2], radius[2];
    for (int transport = 0; transport < 2; ++transport) {
        TracerScene scene(EnclosedSlab("Photon", 60, "CsI", 0.06), "",
                          "ElectronTransport = " + std::string(transport ? "true" : "false") + "\n",
                          "[MaterialProperties]\nFluorescence = true\nFluorescenceElectronProbability = 1\n"
                          "[EndMaterialProperties]\n");
        Ledger ledger;
        Trace(scene, n, ledger);
        for (std::uint64_t h = 0; h < n; ++h)
            ASSERT_NEAR(ledger.balance[h], 0.0, 1e-9 * 60);
        deposited[transport] = 1 - ledger.escaped / (n * 60.0);
        electrons[transport] = ledger.escapedElectrons / (n * 60.0);
        radius[transport] = ledger.Radius(0.8);
    }
    std::printf(
        "CsI 0.6 mm, 60 keV, %llu histories: deposited fraction %.4f locally, %.4f with electron transport "
        "(electrons carry out %.4f); 80%% of the electron deposits within %.1f um, %.1f um of the beam\n",
        (unsigned long long)n, deposited[0], deposited[1], electrons[1], 1e4 * radius[0], 1e4 * radius[1]);
    EXPECT_EQ(electrons[0], 0.0);
    EXPECT_GT(electrons[1], 0.0);
    EXPECT_LT(electrons[1], 0.02);
    // Reabsorbed K fluorescence, not the electrons' ranges of a few um, sets the spread.
    EXPECT_GT(radius[0], 20e-4);
    EXPECT_LT(radius[0], 300e-4);
}

// A part whose facets face inward: from inside, the first crossing ahead is an
// entry, so the walk cannot tell where the part ends.
TEST(ElectronTransport, FacetsThatDoNotPairAreAnError) {
    TracerScene scene(Object("ObjectType = Part\nMaterialName = Water\nInvert = true\nVertexA = (-1, -1, 0)\n"
                             "Side1 = (2, 0, 0)\nSide2 = (0, 2, 0)\nSide3 = (0, 0, 1)\n"),
                      "", kElectronTransport);
    TPart& part = AsPart(scene.Scene().GetPart(0));
    TParticle electron;
    electron.Type = ParticleElectron;
    electron.Energy = 1000;
    electron.Position = {0, 0, 0.5};
    auto rng = CreateGenerator(PRNG_Type::MT19937_64);
    TParticleQueue queue;
    EXPECT_EQ(ErrorOf([&] { part.TransportElectron(electron, nullptr, *rng, queue); }),
              "Wrong order of facets during electron transport for object ID 0");
}

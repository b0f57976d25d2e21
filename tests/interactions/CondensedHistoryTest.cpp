#include "interactions/CondensedHistory.h"
#include "interactions/InteractionTypes.h"
#include "interactions/PhysicsConstants.h"
#include "materials/DataDirectory.h"

#include "datafiles/XRTCStream.h"

#include "Statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace interactions;

namespace {

materials::TElectronData LoadWater()
{
    materials::TElectronData d;
    d.LoadDataFromStream(*datafiles::OpenInputFile(materials::DataPath("materials/Water_Electron.txt")));
    d.LoadBremsstrahlung(*datafiles::OpenInputFile(materials::DataPath("materials/Water_Brems.txt")));
    return d;
}

// Everything inside z < depth (infinite for depth = infinity).
struct HalfSpace : IElectronGeometry {
    double depth = std::numeric_limits<double>::infinity();
    double DistanceToBoundary(const TParticle& p) override
    {
        const double w = p.DirectionVector().z;
        return w > 0.0 ? (depth - p.Position.z) / w : std::numeric_limits<double>::infinity();
    }
};

struct Sum : IEnergyDepositListener {
    double total = 0.0;
    int hard = 0;
    void Deposit(const TParticle&, double energy, std::int32_t code) override
    {
        total += energy;
        hard += code != InteractionElectron;
    }
};

TParticle Electron(double energy, std::uint32_t type = ParticleElectron)
{
    TParticle p;
    p.Type = type;
    p.Energy = energy;
    return p;
}

double SecondaryKineticEnergy(const TParticleQueue& queue)
{
    double sum = 0.0;
    for (const auto& s : queue)
        sum += s->Energy;
    return sum;
}

} // namespace

// The mean path of 1 MeV electrons slowing down in water is the CSDA range
// (down to the cut-off), whatever the hard events and fluctuations; every
// history conserves energy exactly.
TEST(CondensedHistory, MeanPathInWaterIsTheCsdaRange)
{
    const auto water = LoadWater();
    TElectronModelSettings settings;
    const TCondensedHistory model(water, 1.0, settings);
    auto rng = stats::MakeGenerator(21);
    HalfSpace infinite;
    double sum = 0.0, squares = 0.0;
    int hardEvents = 0;
    const int n = 1000;
    for (int i = 0; i < n; ++i) {
        auto e = Electron(1000.0);
        Sum deposits;
        TParticleQueue queue;
        double path = 0.0;
        model.Transport(e, infinite, deposits, *rng, queue, &path);
        ASSERT_FALSE(e.IsAlive());
        ASSERT_NEAR(deposits.total + SecondaryKineticEnergy(queue), 1000.0, 1e-9 * 1000.0);
        sum += path;
        squares += path * path;
        hardEvents += deposits.hard;
    }
    const double expected = water.CsdaRange(1000.0) - water.CsdaRange(settings.MinElectronEnergy);
    EXPECT_NEAR(sum / n, expected, 0.02 * expected);
    EXPECT_GT(hardEvents, n);  // delta rays above 10 keV happen a few times per history
}

TEST(CondensedHistory, LeavesOnTheBoundaryOrStopsAndAnnihilates)
{
    const auto water = LoadWater();
    const TCondensedHistory model(water, 1.0, TElectronModelSettings());
    auto rng = stats::MakeGenerator(22);
    HalfSpace slab;
    slab.depth = 0.1;
    int left = 0;
    for (int i = 0; i < 200; ++i) {
        auto e = Electron(1000.0);
        Sum deposits;
        TParticleQueue queue;
        model.Transport(e, slab, deposits, *rng, queue);
        if (e.IsAlive()) {
            ++left;
            ASSERT_NEAR(e.Position.z, 0.1, 1e-12);
        }
        ASSERT_NEAR(deposits.total + SecondaryKineticEnergy(queue) + e.Energy, 1000.0, 1e-9 * 1000.0);
    }
    EXPECT_GT(left, 150);  // 1 mm is a quarter of the range

    auto positron = Electron(100.0, ParticlePositron);
    Sum deposits;
    TParticleQueue queue;
    HalfSpace infinite;
    model.Transport(positron, infinite, deposits, *rng, queue);
    EXPECT_FALSE(positron.IsAlive());
    int photons = 0;
    double kinetic = 0.0;
    for (const auto& s : queue) {
        if (s->Type == ParticlePhoton && s->Energy == kElectronMass)
            ++photons;
        else
            kinetic += s->Energy;
    }
    EXPECT_GE(photons, 2);
    EXPECT_NEAR(deposits.total + kinetic + (photons - 2) * kElectronMass, 100.0, 1e-9 * 100.0);
}

#include "interactions/PhotoEffect.h"
#include "datafiles/XRTCStream.h"
#include "interactions/PhysicsConstants.h"
#include "materials/DataDirectory.h"
#include "materials/FluorescenceData.h"
#include "materials/MaterialProperties.h"

#include "Statistics.h"
#include "materials/TestErrors.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <set>
#include <sstream>

using namespace interactions;

namespace {

materials::TFluorescenceData LoadFluorescence(std::istream& in, double maxEnergy) {
    materials::TFluorescenceData data;
    data.Configuration().MaxEnergy = maxEnergy;
    data.LoadDataFromStream(in);
    return data;
}

materials::TFluorescenceData LeadData() {
    auto in = datafiles::OpenInputFile(materials::DataPath("materials/Lead_Fluo.txt"));
    return LoadFluorescence(*in, 1000);
}

// Levels 10 and 100 keV; a "K" shell bound at 50 keV with two X-ray lines
// and an Auger line, an "L" shell bound at 5 keV with one line.
materials::TFluorescenceData SmallData(bool all) {
    std::istringstream in("#Tarvo\t0\tTest\tFluo\t2\t2\t10\t90\n"
                          "0.8 0.2 0 0 0\n"
                          "0.8 0.2 0 0 0\n"
                          "50 3 40 0.5 0 45 0.3 0 30 0.1 1\n"
                          "5 1 4 0.2 0\n");
    auto data = LoadFluorescence(in, 100);
    data.AllFluorescence = all;
    return data;
}

TParticle AbsorbedPhoton(double energy, double weight = 1) {
    TParticle p;
    p.Energy = energy;
    p.Weight = weight;
    p.InteractionCount = 2;
    p.Position = {1, 2, 3};
    return p;
}

// xraylib's K-shell fluorescence yield, or a negative number without xraylib.
double XraylibKYield(int z) {
    void* lib = dlopen("libxrl.so.11", RTLD_NOW);
    if (!lib)
        return -1;
    using Fn = double (*)(int, int, void**);
    auto fn = reinterpret_cast<Fn>(dlsym(lib, "FluorYield"));
    const double yield = fn ? fn(z, 0, nullptr) : -1;
    dlclose(lib);
    return yield;
}

TEST(PhotoEffect, EndsThePhotonWithoutFluorescence) {
    TPhotoEffect photo(false);
    auto rng = stats::MakeGenerator(1);
    TParticleQueue queue;
    auto p = AbsorbedPhoton(60);
    photo.Interact(p, nullptr, *rng, queue);
    EXPECT_EQ(p.Status, StatusAbsorbed);
    EXPECT_EQ(p.Energy, 0);
    EXPECT_TRUE(queue.empty());
}

TEST(PhotoEffect, LeadAt100keVEmitsItsLinesAtTheKShellRate) {
    const auto data = LeadData();
    ASSERT_EQ(data.Shell(0).BindingEnergy, 88.0045);
    std::set<double> lineEnergies, kLines;
    for (std::size_t s = 0; s < data.ShellCount(); ++s)
        for (const auto& line : data.Shell(s).Lines) {
            lineEnergies.insert(line.Energy);
            if (s == 0)
                kLines.insert(line.Energy);
        }
    double kLineSum = 0;
    for (const auto& line : data.Shell(0).Lines)
        kLineSum += line.Probability;

    materials::MaterialProperties settings;
    settings.MinEnergy = 1;
    TPhotoEffect photo(true);
    auto rng = stats::MakeGenerator(31);
    const int n = 200000;
    int kPhotons = 0;
    double sumZ = 0, sumZ2 = 0;
    int emitted = 0;
    for (int i = 0; i < n; ++i) {
        TParticleQueue queue;
        auto p = AbsorbedPhoton(100, 0.5);
        photo.Absorb(p, &data, settings, *rng, queue);
        ASSERT_EQ(p.Status, StatusAbsorbed);
        ASSERT_LE(queue.size(), 1u);
        for (const auto& s : queue) {
            ASSERT_EQ(s->Type, ParticlePhoton);
            ASSERT_EQ(lineEnergies.count(s->Energy), 1u) << s->Energy;
            ASSERT_EQ(s->Weight, 0.5);
            ASSERT_EQ(s->InteractionCount, 3u);
            ASSERT_EQ(s->Position, p.Position);
            kPhotons += kLines.count(s->Energy) ? 1 : 0;
            const double z = s->DirectionVector().z;
            sumZ += z;
            sumZ2 += z * z;
            ++emitted;
        }
    }
    const double kFraction = data.PhotoProbability(0, 100);
    EXPECT_GT(kFraction, 0.7);
    EXPECT_TRUE(stats::CountAgrees(kPhotons, n, kFraction * kLineSum)) << kPhotons;
    EXPECT_TRUE(stats::MeanAgrees(sumZ, sumZ2, emitted, 0.0));

    const double yield = XraylibKYield(82);
    if (yield < 0)
        GTEST_SKIP() << "xraylib not available";
    EXPECT_NEAR(kLineSum, yield, 0.01);
    EXPECT_TRUE(stats::CountAgrees(kPhotons, n, kFraction * yield)) << kPhotons << " yield " << yield;
}

TEST(PhotoEffect, ShellsBoundAboveThePhotonEnergyAreSkipped) {
    const auto data = SmallData(false);
    materials::MaterialProperties settings;
    auto rng = stats::MakeGenerator(32);
    int lines = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        TParticleQueue queue;
        EmitFluorescence(data, settings, AbsorbedPhoton(20), queue, *rng, 0, 1);
        for (const auto& s : queue) {
            ASSERT_EQ(s->Energy, 4);
            ++lines;
        }
    }
    // Only the L shell (probability 0.2) can be hit; its line has probability 0.2.
    EXPECT_TRUE(stats::CountAgrees(lines, n, 0.2 * 0.2)) << lines;
}

TEST(PhotoEffect, AllFluorescenceEmitsEveryLineWithItsProbabilityAsWeight) {
    const auto data = SmallData(true);
    materials::MaterialProperties settings;
    settings.AugerProbability = 0.5;
    auto rng = stats::MakeGenerator(33);
    int kEvents = 0, augers = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        TParticleQueue queue;
        EmitFluorescence(data, settings, AbsorbedPhoton(60, 2), queue, *rng, 35, 1);
        if (queue.empty())
            continue;
        if (queue.front()->Energy == 4)
            continue; // below the minimum: never
        ++kEvents;
        ASSERT_GE(queue.size(), 2u);
        EXPECT_EQ(queue[0]->Energy, 40);
        EXPECT_DOUBLE_EQ(queue[0]->Weight, 2 * 0.5);
        EXPECT_EQ(queue[1]->Energy, 45);
        EXPECT_DOUBLE_EQ(queue[1]->Weight, 2 * 0.3);
        ASSERT_LE(queue.size(), 2u) << "the Auger line lies below the minimum energy";
    }
    EXPECT_TRUE(stats::CountAgrees(kEvents, n, 0.8)) << kEvents;

    for (int i = 0; i < n; ++i) {
        TParticleQueue queue;
        EmitFluorescence(data, settings, AbsorbedPhoton(60, 2), queue, *rng, 0, 1);
        for (const auto& s : queue) {
            if (s->Type != ParticleElectron)
                continue;
            EXPECT_EQ(s->Energy, 30);
            EXPECT_DOUBLE_EQ(s->Weight, 2 * 0.1 / 0.5);
            ++augers;
        }
    }
    EXPECT_TRUE(stats::CountAgrees(augers, n, 0.8 * 0.5)) << augers;
}

TEST(PhotoEffect, PhotoelectronCarriesTheEnergyAboveTheBindingEnergy) {
    const auto data = SmallData(false);
    materials::MaterialProperties settings;
    settings.FluorescenceElectronProbability = 0.25;
    auto rng = stats::MakeGenerator(34);
    int electrons = 0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        TParticleQueue queue;
        EmitFluorescence(data, settings, AbsorbedPhoton(80, 1), queue, *rng, 0, 1);
        for (const auto& s : queue)
            if (s->Type == ParticleElectron && s->Energy == 30) {
                ASSERT_EQ(s->Weight, 4);
                ++electrons;
            }
    }
    EXPECT_TRUE(stats::CountAgrees(electrons, n, 0.8 * 0.25)) << electrons;
}

// Sauter: dsigma/dOmega ~ sin^2 / (1 - beta mu)^4 (1 + gamma (gamma - 1)(gamma - 2)(1 - beta mu) / 2).
TEST(PhotoEffect, PhotoelectronAnglesFollowSauter) {
    auto rng = stats::MakeGenerator(35);
    for (double t : {10.0, 100.0, 1000.0}) {
        const double gamma = 1 + t / kElectronMass;
        const double beta = std::sqrt(1 - 1 / (gamma * gamma));
        std::vector<double> mu;
        for (int i = 0; i < 200000; ++i)
            mu.push_back(SamplePhotoelectronCosTheta(t, *rng));
        const auto chi = stats::ChiSquareAgainstDensity(mu, -1, 1, 50, [&](double m) {
            const double d = 1 - beta * m;
            return (1 - m * m) / (d * d * d * d) * (1 + 0.5 * gamma * (gamma - 1) * (gamma - 2) * d);
        });
        EXPECT_TRUE(chi.Passes()) << t << " keV " << chi.Text();
    }
}

TEST(PhotoEffect, FluorescenceErrors) {
    const auto data = SmallData(false);
    materials::MaterialProperties settings;
    auto rng = stats::MakeGenerator(36);
    TParticleQueue queue;
    auto positron = AbsorbedPhoton(60);
    positron.Type = ParticlePositron;
    EXPECT_EQ(ErrorOf([&] { EmitFluorescence(data, settings, positron, queue, *rng, 0, 1); }),
              "Only know about fluorescence from photons and electrons");
    EXPECT_EQ(ErrorOf([&] { EmitFluorescence(data, settings, AbsorbedPhoton(150), queue, *rng, 0, 1); }),
              "FluorescenceData::EmitFluorescence(). Energy Index Error!\n");
    materials::TFluorescenceData unloaded;
    EmitFluorescence(unloaded, settings, AbsorbedPhoton(60), queue, *rng, 0, 1);
    EXPECT_TRUE(queue.empty());
}

} // namespace

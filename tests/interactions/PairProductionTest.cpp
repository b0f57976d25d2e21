#include "interactions/PairProduction.h"
#include "interactions/PhysicsConstants.h"
#include "materials/DataDirectory.h"

#include "Statistics.h"
#include "common/TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace interactions;

namespace {

constexpr double kLead = 82;

TParticle PairPhoton(double energy, double weight = 1) {
    TParticle p;
    p.Energy = energy;
    p.Weight = weight;
    p.Direction = geometry::TSphericalAngle(0.4, -1.2);
    return p;
}

TEST(PairProduction, ScreeningRadiiAreThoseOfTheShippedTable) {
    std::istringstream in(testutil::ReadFile(materials::DataPath("pair-screening-radii.txt")));
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        int z = 0;
        double r = 0;
        fields >> z >> r;
        EXPECT_EQ(ScreeningRadius(z), r) << "Z " << z;
        ++rows;
    }
    EXPECT_EQ(rows, 99);
}

TEST(PairProduction, AtomicNumberIsRoundedAndClamped) {
    EXPECT_EQ(ScreeningRadius(120), 22.264);
    EXPECT_EQ(ScreeningRadius(0.3), 122.81);
    EXPECT_EQ(ScreeningRadius(7.49), 57.524);
    EXPECT_EQ(ScreeningRadius(7.5), 54.033);
}

TEST(PairProduction, PhotonBelowThresholdJustEnds) {
    TPairProduction pair(1, true);
    auto rng = stats::MakeGenerator(1);
    TParticleQueue queue;
    auto photon = PairPhoton(1000);
    pair.CreatePair(photon, kLead, *rng, queue);
    EXPECT_EQ(photon.Status, StatusAbsorbed);
    EXPECT_EQ(photon.Energy, 0);
    EXPECT_TRUE(queue.empty());
}

TEST(PairProduction, SimpleFormMakesOneAnnihilationPhotonOfTwiceTheWeight) {
    TPairProduction pair(0, true);
    auto rng = stats::MakeGenerator(2);
    TParticleQueue queue;
    const int n = 20000;
    double sumZ = 0, sumZ2 = 0;
    for (int i = 0; i < n; ++i) {
        auto photon = PairPhoton(5000, 0.75);
        pair.CreatePair(photon, kLead, *rng, queue);
        ASSERT_TRUE(photon.IsAlive());
        ASSERT_EQ(photon.Energy, kElectronMass);
        ASSERT_EQ(photon.Weight, 1.5);
        ASSERT_EQ(photon.InteractionCount, 1u);
        const double z = photon.DirectionVector().z;
        sumZ += z;
        sumZ2 += z * z;
    }
    EXPECT_TRUE(queue.empty());
    // Independent of the incoming direction: isotropic.
    EXPECT_TRUE(stats::MeanAgrees(sumZ, sumZ2, n, 0.0));
    EXPECT_NEAR(sumZ2 / n, 1.0 / 3, 0.02);
}

TEST(PairProduction, PairEnergiesAddUpForEveryEventAndShareHalfOnAverage) {
    TPairProduction pair(1, true);
    auto rng = stats::MakeGenerator(3);
    for (double energy : {2000.0, 5000.0, 10000.0}) {
        const int n = 20000;
        double sum = 0, sum2 = 0;
        for (int i = 0; i < n; ++i) {
            TParticleQueue queue;
            auto photon = PairPhoton(energy, 0.5);
            pair.CreatePair(photon, kLead, *rng, queue);
            ASSERT_EQ(photon.Status, StatusAbsorbed);
            ASSERT_EQ(queue.size(), 2u);
            const TParticle& electron = *queue[0];
            const TParticle& positron = *queue[1];
            ASSERT_EQ(electron.Type, ParticleElectron);
            ASSERT_EQ(positron.Type, ParticlePositron);
            ASSERT_GE(electron.Energy, 0);
            ASSERT_GE(positron.Energy, 0);
            ASSERT_NEAR(electron.Energy + positron.Energy, energy - 2 * kElectronMass, 1e-9 * energy);
            ASSERT_EQ(electron.Weight, 0.5);
            const double fraction = (electron.Energy + kElectronMass) / energy;
            sum += fraction;
            sum2 += fraction * fraction;
        }
        EXPECT_TRUE(stats::MeanAgrees(sum, sum2, n, 0.5)) << energy;
    }
}

// The sampled electron energy fraction follows 2(eps - 1/2)^2 phi1 + phi2.
TEST(PairProduction, ElectronFractionFollowsTheScreenedCrossSection) {
    auto rng = stats::MakeGenerator(4);
    for (double z : {8.0, 82.0}) {
        const double energy = 5000;
        const double kappa = energy / kElectronMass;
        const double eps0 = 1 / kappa;
        std::vector<double> eps;
        for (int i = 0; i < 100000; ++i)
            eps.push_back((SamplePairElectronEnergy(z, energy, *rng) + kElectronMass) / energy);
        const auto chi = stats::ChiSquareAgainstDensity(eps, eps0, 1 - eps0, 40, [&](double e) {
            double phi1 = 0, phi2 = 0;
            SampleScreeningFunctions(z, kappa, e, phi1, phi2);
            return 2 * (e - 0.5) * (e - 0.5) * phi1 + phi2;
        });
        EXPECT_TRUE(chi.Passes()) << "Z " << z << " " << chi.Text();
    }
}

// Probability integral transform of the lepton angle: with
// v = (c - beta)/(1 - beta c), (v + 1)/2 is uniform for every lepton.
TEST(PairProduction, LeptonDirectionsFollowTheirAngularDistribution) {
    TPairProduction pair(1, true);
    auto rng = stats::MakeGenerator(5);
    std::vector<double> pit;
    for (int i = 0; i < 30000; ++i) {
        TParticleQueue queue;
        auto photon = PairPhoton(3000);
        const auto incoming = photon.DirectionVector();
        pair.CreatePair(photon, kLead, *rng, queue);
        for (const auto& lepton : queue) {
            const double t = lepton->Energy;
            const double beta = std::sqrt((2 * kElectronMass + t) * t) / (kElectronMass + t);
            const double c = geometry::Dot(lepton->DirectionVector(), incoming);
            pit.push_back(((c - beta) / (1 - beta * c) + 1) / 2);
        }
    }
    const auto chi = stats::ChiSquareAgainstDensity(pit, 0, 1, 40, [](double) { return 1.0; });
    EXPECT_TRUE(chi.Passes()) << chi.Text();
}

TEST(PairProduction, PartialElectronProbabilityCompensatesWithWeight) {
    TPairProduction pair(0.25, false);
    auto rng = stats::MakeGenerator(6);
    const int n = 40000;
    int pairs = 0;
    for (int i = 0; i < n; ++i) {
        TParticleQueue queue;
        auto photon = PairPhoton(4000, 1);
        pair.CreatePair(photon, kLead, *rng, queue);
        ASSERT_EQ(photon.Status, StatusAbsorbed);
        if (queue.empty())
            continue;
        ++pairs;
        ASSERT_EQ(queue.size(), 2u);
        ASSERT_EQ(queue[0]->Weight, 4.0);
        ASSERT_EQ(queue[1]->Weight, 4.0);
    }
    EXPECT_TRUE(stats::CountAgrees(pairs, n, 0.25)) << pairs;
}

} // namespace

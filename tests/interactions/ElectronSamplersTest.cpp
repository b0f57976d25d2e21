#include "interactions/Annihilation.h"
#include "interactions/Bremsstrahlung.h"
#include "interactions/EnergyLossStraggling.h"
#include "interactions/KnockOn.h"
#include "interactions/MultipleScattering.h"
#include "interactions/PhysicsConstants.h"
#include "materials/DataDirectory.h"

#include "datafiles/XRTCStream.h"

#include "Statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace interactions;

namespace {

constexpr int kSamples = 100000;

template <class F>
std::vector<double> Draw(F sample, int n = kSamples)
{
    std::vector<double> values(n);
    for (auto& v : values)
        v = sample();
    return values;
}

const materials::TElectronData& Lead()
{
    static const materials::TElectronData data = [] {
        materials::TElectronData d;
        d.LoadDataFromStream(*datafiles::OpenInputFile(materials::DataPath("materials/Lead_Electron.txt")));
        d.LoadBremsstrahlung(*datafiles::OpenInputFile(materials::DataPath("materials/Lead_Brems.txt")));
        return d;
    }();
    return data;
}

} // namespace

TEST(MollerBhabha, TransfersFollowTheCrossSectionAndIntegrateToIt)
{
    auto rng = stats::MakeGenerator(11);
    for (bool positron : {false, true}) {
        for (double T : {100.0, 1000.0}) {
            const double cut = 5.0, xmin = cut / T, xmax = TMollerBhabha::MaxTransfer(T, positron) / T;
            auto density = [&](double x) { return TMollerBhabha::Density(T, x, positron); };
            const double sigma = TMollerBhabha::CrossSection(T, cut, positron);
            EXPECT_NEAR(sigma, stats::GaussIntegral(density, xmin, xmax, 200), 1e-9 * sigma);
            const auto x = Draw([&] { return TMollerBhabha::SampleEnergyTransfer(T, cut, positron, *rng) / T; });
            const auto chi = stats::ChiSquareEquiprobable(x, xmin, xmax, 40, density, 20000);
            EXPECT_TRUE(chi.Passes()) << positron << ' ' << T << ' ' << chi.Text();
        }
    }
    EXPECT_EQ(TMollerBhabha::CrossSection(100.0, 50.0, false), 0.0);
    // Both electrons of a Moller collision keep the momentum along the axis.
    const double T = 300.0, W = 100.0;
    const auto p = [](double e) { return std::sqrt(e * (e + 2.0 * kElectronMass)); };
    EXPECT_NEAR(p(W) * TMollerBhabha::DeltaCosTheta(T, W) + p(T - W) * TMollerBhabha::PrimaryCosTheta(T, W), p(T),
                1e-9 * p(T));
}

TEST(Bremsstrahlung, PhotonEnergiesFollowTheTabulatedSpectrum)
{
    auto rng = stats::MakeGenerator(12);
    const auto& lead = Lead();
    for (double T : {100.0, 1000.0}) {
        const double cut = 2.0;
        // In y = ln kappa the density is chi itself.
        const auto y = Draw([&] { return std::log(TBremsstrahlungSampler::SampleEnergy(lead, T, cut, *rng) / T); });
        auto density = [&](double v) { return lead.ScaledBremsstrahlung(T, std::exp(v)); };
        const auto chi = stats::ChiSquareEquiprobable(y, std::log(cut / T), std::log(0.9999), 40, density);
        EXPECT_TRUE(chi.Passes()) << T << ' ' << chi.Text();
    }
}

TEST(Bremsstrahlung, PhotonAnglesFollowTheDipoleDistribution)
{
    auto rng = stats::MakeGenerator(13);
    for (double T : {50.0, 2000.0}) {
        const auto mu = Draw([&] { return TBremsstrahlungSampler::SampleCosTheta(T, *rng); });
        const auto chi = stats::ChiSquareEquiprobable(
            mu, -1.0, 1.0, 40, [&](double c) { return TBremsstrahlungSampler::CosThetaDensity(T, c); });
        EXPECT_TRUE(chi.Passes()) << T << ' ' << chi.Text();
    }
}

TEST(MultipleScattering, WentzelAnglesAndTheStepMean)
{
    auto rng = stats::MakeGenerator(14);
    for (double B : {1e-3, 0.3}) {
        EXPECT_NEAR(TMultipleScattering::WentzelParameter(TMultipleScattering::WentzelMeanOneMinusMu(B)), B, 1e-9 * B);
        const auto mu = Draw([&] { return TMultipleScattering::SampleWentzel(B, *rng); });
        auto density = [&](double c) { return 1.0 / ((1.0 - c + 2.0 * B) * (1.0 - c + 2.0 * B)); };
        const auto chi = stats::ChiSquareEquiprobable(mu, -1.0, 1.0, 40, density, 40000);
        EXPECT_TRUE(chi.Passes()) << B << ' ' << chi.Text();
    }
    // Goudsmit-Saunderson: <P_l(cos theta)> = exp(-s sigma_l) at any step
    // length (sigma_2 / sigma_1 as for screened Rutherford with A = 1e-4 and
    // as for a wide distribution, where only the first moment can hold).
    struct Case {
        double G1, G2;
        bool second;
    };
    for (const Case c : {Case{0.01, 0.0252, true}, Case{0.3, 0.756, true}, Case{3.0, 7.56, true}, Case{0.3, 0.4, false}}) {
        double sum = 0.0, squares = 0.0, p2 = 0.0, p2Squares = 0.0;
        for (int i = 0; i < kSamples; ++i) {
            const double mu = TMultipleScattering::SampleCosTheta(c.G1, c.G2, *rng);
            const double P2 = 1.5 * mu * mu - 0.5;
            sum += mu;
            squares += mu * mu;
            p2 += P2;
            p2Squares += P2 * P2;
        }
        EXPECT_TRUE(stats::MeanAgrees(sum, squares, kSamples, std::exp(-c.G1))) << c.G1 << ' ' << sum / kSamples;
        if (c.second) {
            EXPECT_TRUE(stats::MeanAgrees(p2, p2Squares, kSamples, std::exp(-c.G2))) << c.G1 << ' ' << p2 / kSamples;
        }
    }
    EXPECT_EQ(TMultipleScattering::SampleCosTheta(0.0, 0.0, *rng), 1.0);
}

TEST(EnergyLossStraggling, LossesHaveTheMeanAndVariance)
{
    auto rng = stats::MakeGenerator(15);
    struct Case {
        double mean, variance;
    };
    for (const Case c : {Case{10.0, 4.0}, Case{1.0, 4.0}}) {
        double sum = 0.0, squares = 0.0, dev = 0.0, devSquares = 0.0;
        for (int i = 0; i < kSamples; ++i) {
            const double loss = TEnergyLossStraggling::SampleLoss(c.mean, c.variance, *rng);
            ASSERT_GE(loss, 0.0);
            sum += loss;
            squares += loss * loss;
            const double d = (loss - c.mean) * (loss - c.mean);
            dev += d;
            devSquares += d * d;
        }
        EXPECT_TRUE(stats::MeanAgrees(sum, squares, kSamples, c.mean)) << sum / kSamples;
        EXPECT_TRUE(stats::MeanAgrees(dev, devSquares, kSamples, c.variance)) << dev / kSamples;
    }
    EXPECT_EQ(TEnergyLossStraggling::SampleLoss(3.0, 0.0, *rng), 3.0);
    // Water at 1 MeV, 1 mm, cut 10 keV: 2 pi r_e^2 m c^2 n_e s W_c (1/beta^2 - 1/2).
    EXPECT_NEAR(TEnergyLossStraggling::SoftVariance(3.3428e23, 1000.0, 10.0, 0.1), 53.62, 0.01);
}

TEST(PositronAnnihilation, TwoBackToBackPhotonsIsotropic)
{
    auto rng = stats::MakeGenerator(16);
    TParticleQueue queue;
    double sum = 0.0, squares = 0.0;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        TParticle positron;
        positron.Type = ParticlePositron;
        positron.Energy = 3.0;
        positron.Weight = 0.5;
        TPositronAnnihilation::AnnihilateAtRest(positron, *rng, queue);
        ASSERT_EQ(queue.size(), 2u);
        EXPECT_FALSE(positron.IsAlive());
        const auto a = queue[0]->DirectionVector(), b = queue[1]->DirectionVector();
        ASSERT_NEAR(a.x * b.x + a.y * b.y + a.z * b.z, -1.0, 1e-12);
        for (const auto& photon : queue) {
            ASSERT_EQ(photon->Type, ParticlePhoton);
            ASSERT_EQ(photon->Energy, kElectronMass);
            ASSERT_EQ(photon->Weight, 0.5);
        }
        sum += a.z;
        squares += a.z * a.z;
        queue.clear();
    }
    EXPECT_TRUE(stats::MeanAgrees(sum, squares, n, 0.0));
    EXPECT_NEAR(squares / n, 1.0 / 3.0, 0.02);
}

#include <gtest/gtest.h>

#include <cmath>

#include "Statistics.h"
#include "interactions/Particle.h"
#include "interactions/PhysicsConstants.h"
#include "interactions/Scattering.h"
#include "materials/TestErrors.h"

using namespace interactions;

namespace {

// Transport samples the analytical Klein-Nishina and Thomson distributions
// exactly, fast enough for samples that resolve a few tenths of a percent.
constexpr int kAnalyticalSamples = 200000;

double ComptonEnergy(double energy, double cosTheta) {
    return energy / (1 + energy / kElectronMass * (1 - cosTheta));
}

// dsigma/dOmega ~ P^2 (P + 1/P - sin^2 theta), P = E'/E.
double TextbookKleinNishina(double energy, double mu) {
    const double p = 1 / (1 + energy / kElectronMass * (1 - mu));
    return p * p * (p + 1 / p - (1 - mu * mu));
}

TParticle ScatterPhoton(double energy, double weight = 1) {
    TParticle p;
    p.Energy = energy;
    p.Weight = weight;
    p.Direction = geometry::TSphericalAngle(1.1, 0.3);
    return p;
}

// Runs the interaction n times on fresh photons and returns the cosine of
// the angle between old and new direction.
std::vector<double> ScatterAngles(const TBasicPhotonScattering& s, double energy, int n, std::uint32_t seed,
                                  std::vector<double>* energies = nullptr) {
    auto rng = stats::MakeGenerator(seed);
    std::vector<double> mu;
    TParticleQueue queue;
    for (int i = 0; i < n; ++i) {
        auto photon = ScatterPhoton(energy);
        const auto before = photon.DirectionVector();
        s.Interact(photon, nullptr, *rng, queue);
        mu.push_back(geometry::Dot(before, photon.DirectionVector()));
        if (energies)
            energies->push_back(photon.Energy);
    }
    return mu;
}

TEST(KleinNishina, AnalyticalAnglesFollowTheDensityAndEnergiesComptonsFormula) {
    TComptonScattering compton(ScatteringSimple, false, 0.001, 0);
    for (double energy : {20.0, 100.0, 1000.0}) {
        std::vector<double> energies;
        const auto mu = ScatterAngles(compton, energy, kAnalyticalSamples, 7, &energies);
        const auto chi = stats::ChiSquareAgainstDensity(
            mu, -1, 1, 40, [&](double m) { return TextbookKleinNishina(energy, m); });
        EXPECT_TRUE(chi.Passes()) << energy << " keV " << chi.Text();
        for (std::size_t i = 0; i < mu.size(); ++i)
            ASSERT_NEAR(energies[i], ComptonEnergy(energy, mu[i]), 1e-9 * energy);
    }
}

TEST(Thomson, AnalyticalAnglesFollowOnePlusMuSquared) {
    TRayleighScattering rayleigh(ScatteringSimple, false, 0.001);
    std::vector<double> energies;
    const auto mu = ScatterAngles(rayleigh, 30, kAnalyticalSamples, 8, &energies);
    const auto chi =
        stats::ChiSquareAgainstDensity(mu, -1, 1, 40, [](double m) { return 3.0 / 8.0 * (1 + m * m); });
    EXPECT_TRUE(chi.Passes()) << chi.Text();
    for (double e : energies)
        ASSERT_EQ(e, 30);
}

TEST(AnalyticalCrossSection, ExtremeUniformNumbersNeedNoIntegration) {
    TAnalyticalSimpleComptonCrossSection kn(0.001);
    EXPECT_EQ(kn.SolveCosTheta(nullptr, 100, 0.0), -1.0);
    EXPECT_EQ(kn.SolveCosTheta(nullptr, 100, 1.0), 1.0);
    EXPECT_EQ(kn.SolveCosTheta(nullptr, 100, -0.5), -1.0);
}

TEST(AnalyticalCrossSection, CoarsePrecisionUsesTwoTrapezoidPoints) {
    TAnalyticalSimpleRayleighCrossSection thomson(1.5);
    // (f(-1) + f(1)) / 2 * 2.
    EXPECT_DOUBLE_EQ(thomson.Integrate(nullptr, 0, 1.0), 4.0);
    EXPECT_DOUBLE_EQ(thomson.IntegrateAll(nullptr, 0), 8.0 / 3.0);
    const double mu = thomson.SolveCosTheta(nullptr, 0, 0.5);
    EXPECT_GE(mu, -1.0);
    EXPECT_LE(mu, 1.0);
}

TEST(AnalyticalCrossSection, TrapezoidMatchesTheExactThomsonIntegral) {
    TAnalyticalSimpleRayleighCrossSection thomson(0.001);
    for (double top : {-0.5, 0.0, 0.8})
        EXPECT_NEAR(thomson.Integrate(nullptr, 0, top), top + top * top * top / 3 + 1 + 1.0 / 3, 1e-5);
}

TEST(Compton, RecoilElectronsConserveMomentum) {
    TComptonScattering compton(ScatteringSimple, false, 0.001, 1);
    auto rng = stats::MakeGenerator(9);
    for (double energy : {30.0, 300.0, 3000.0}) {
        for (int i = 0; i < 500; ++i) {
            TParticleQueue queue;
            auto photon = ScatterPhoton(energy, 0.5);
            const auto before = photon.DirectionVector() * energy;
            compton.Interact(photon, nullptr, *rng, queue);
            ASSERT_EQ(queue.size(), 1u);
            const TParticle& electron = *queue.front();
            ASSERT_EQ(electron.Type, ParticleElectron);
            ASSERT_EQ(electron.Weight, 0.5);
            ASSERT_NEAR(electron.Energy + photon.Energy, energy, 1e-9 * energy);
            const double t = electron.Energy;
            const double momentum = std::sqrt(t * (t + 2 * kElectronMass));
            const auto total =
                photon.DirectionVector() * photon.Energy + electron.DirectionVector() * momentum;
            ASSERT_NEAR(total.x, before.x, 1e-7 * energy);
            ASSERT_NEAR(total.y, before.y, 1e-7 * energy);
            ASSERT_NEAR(total.z, before.z, 1e-7 * energy);
        }
    }
}

TEST(Compton, HalfElectronProbabilityDoublesTheElectronWeight) {
    TComptonScattering compton(ScatteringSimple, false, 0.01, 0.5);
    auto rng = stats::MakeGenerator(10);
    const int n = 4000;
    int electrons = 0;
    double electronWeight = 0;
    for (int i = 0; i < n; ++i) {
        TParticleQueue queue;
        auto photon = ScatterPhoton(200, 0.8);
        compton.Interact(photon, nullptr, *rng, queue);
        ASSERT_EQ(photon.Weight, 0.8);
        if (queue.empty())
            continue;
        ++electrons;
        ASSERT_EQ(queue.front()->Weight, 1.6);
        electronWeight += queue.front()->Weight;
    }
    EXPECT_TRUE(stats::CountAgrees(electrons, n, 0.5)) << electrons;
    // The expected electron weight per event equals the photon weight.
    EXPECT_NEAR(electronWeight / n, 0.8, 5 * 1.6 * 0.5 / std::sqrt(double(n)));
}

TEST(Compton, BackscatterAndLowEnergyLimits) {
    TComptonScattering compton(ScatteringSimple, false, 0.001, 0);
    const auto& cs = compton.CrossSection();
    EXPECT_DOUBLE_EQ(cs.GetScatteredEnergy(-1, 100), 100 / (1 + 200 / kElectronMass));
    EXPECT_NEAR(cs.GetScatteredEnergy(0.3, 0.01), 0.01, 1e-4 * 0.01);
}

TEST(Scattering, UnknownKindAndNonPositivePrecisionAreRejected) {
    EXPECT_EQ(ErrorOf([&] { TComptonScattering(2, true, 0.001, 0); }), "Couldn't create cross section");
    EXPECT_THROW(TRayleighScattering(-1, false, 0.001), std::runtime_error);
    EXPECT_THROW(TAnalyticalSimpleComptonCrossSection(0.0), std::runtime_error);
    EXPECT_THROW(TRayleighScattering(ScatteringSimple, false, -1), std::runtime_error);
}

class BrokenRayleigh : public TRayleighScattering {
public:
    BrokenRayleigh() : TRayleighScattering(ScatteringSimple, false, 0.001) {}
    double GetCosTheta(const TParticle&, const materials::TMaterial*,
                       TRandomNumbersGenerator&) const override {
        return 1.5;
    }
};

TEST(Scattering, CosineOutsideItsRangeIsAnError) {
    BrokenRayleigh broken;
    auto rng = stats::MakeGenerator(1);
    TParticleQueue queue;
    auto photon = ScatterPhoton(40);
    EXPECT_EQ(ErrorOf([&] { broken.Interact(photon, nullptr, *rng, queue); }),
              "RayleighScattering: Invalid value for cos(Theta)!\n Photon Energy: 40 cos(Theta): 1.5\n");
}

} // namespace

namespace {

geometry::TCoord<double> Direction(const TParticle& p) {
    return p.DirectionVector();
}

// A fresh particle flies along +z; a direction along -z keeps a defined azimuth.
TEST(Particle, DirectionVectorRoundTripsAndIsNormalised) {
    EXPECT_DOUBLE_EQ(Direction(TParticle()).z, 1.0);
    TParticle p;
    p.SetDirectionVector({3, -4, 12});
    const auto d = Direction(p);
    EXPECT_NEAR(d.x, 3.0 / 13, 1e-15);
    EXPECT_NEAR(d.y, -4.0 / 13, 1e-15);
    EXPECT_NEAR(d.z, 12.0 / 13, 1e-15);
    EXPECT_NEAR(p.Direction.Theta.GetAngle(), std::acos(12.0 / 13), 1e-14);
    EXPECT_NEAR(p.Direction.Phi.GetAngle(), std::atan2(-4.0, 3.0), 1e-14);
    p.SetDirectionVector({0, 0, -2});
    EXPECT_DOUBLE_EQ(Direction(p).z, -1.0);
    EXPECT_DOUBLE_EQ(p.Direction.Phi.GetAngle(), 0.0);
}

// The deflection angle is the polar angle asked for, and the azimuth around
// the old direction is uniform: its cosine averages to zero.
TEST(Particle, DeflectionKeepsThePolarAngleAndSpreadsTheAzimuth) {
    auto rng = stats::MakeGenerator(11);
    const int n = 20000;
    double sumCos = 0, sumCos2 = 0;
    std::size_t used = 0;
    for (int i = 0; i < n; ++i) {
        double u[4];
        rng->Generate(u, 4);
        TParticle p;
        p.SetIsotropicDirection(u[0], u[1]);
        const auto old = Direction(p);
        // A fixed reference vector perpendicular to the old direction.
        geometry::TCoord<double> ref =
            std::fabs(old.z) < 0.9 ? geometry::TCoord<double>(0, 0, 1) : geometry::TCoord<double>(1, 0, 0);
        ref = ref - old * geometry::Dot(ref, old);
        ref = ref * (1.0 / geometry::Norm(ref));
        const double cosTheta = 2 * u[2] - 1;
        p.Deflect(cosTheta, 2 * M_PI * u[3]);
        const auto now = Direction(p);
        ASSERT_NEAR(geometry::Norm(now), 1.0, 1e-12);
        ASSERT_NEAR(geometry::Dot(now, old), cosTheta, 1e-12);
        const double sinTheta = std::sqrt(1 - cosTheta * cosTheta);
        if (sinTheta > 0.1) {
            const double c = geometry::Dot(now - old * cosTheta, ref) / sinTheta;
            sumCos += c;
            sumCos2 += c * c;
            ++used;
        }
    }
    EXPECT_TRUE(stats::MeanAgrees(sumCos, sumCos2, used, 0.0));
}

TEST(Particle, IsotropicDirectionsHaveUniformCosine) {
    auto rng = stats::MakeGenerator(3);
    std::vector<double> z;
    for (int i = 0; i < 100000; ++i) {
        double u[2];
        rng->Generate(u, 2);
        TParticle p;
        p.SetIsotropicDirection(u[0], u[1]);
        z.push_back(Direction(p).z);
    }
    const auto chi = stats::ChiSquareAgainstDensity(z, -1, 1, 50, [](double) { return 1.0; });
    EXPECT_TRUE(chi.Passes()) << chi.Text();
}

} // namespace

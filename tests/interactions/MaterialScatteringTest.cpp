#include "inifiles/IniFile.h"
#include "interactions/PairProduction.h"
#include "interactions/PhotoEffect.h"
#include "interactions/PhotonInteractionsModel.h"
#include "interactions/PhysicsConstants.h"
#include "interactions/Scattering.h"
#include "materials/DataDirectory.h"
#include "materials/MaterialsList.h"

#include "Statistics.h"
#include "materials/TestErrors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace interactions;

namespace {

// Water and lead from the shipped materials, with the full-physics tables
// computed from their S(x) and F(x) up to 200 keV.
struct Shipped {
    materials::MaterialProperties properties;
    materials::TMaterialsList list{&properties};
    const materials::TMaterial *water = nullptr, *lead = nullptr;
    Shipped() {
        properties.MaxEnergy = 1000;
        properties.FullPhysicsThreshold = 200;
        properties.Fluorescence = true;
        water = list.GetMaterial("Water");
        lead = list.GetMaterial("Lead");
        list.Load(materials::DataPath("materials/materials.ini"), [](const std::string&, bool) {});
    }
};

class ShippedMaterials : public ::testing::Test {
protected:
    static Shipped& Data() {
        static Shipped data;
        return data;
    }
    materials::MaterialProperties* properties_ = &Data().properties;
    materials::TMaterialsList* list_ = &Data().list;
    const materials::TMaterial* water_ = Data().water;
    const materials::TMaterial* lead_ = Data().lead;
};

double TextbookKleinNishina(double energy, double mu) {
    const double p = 1 / (1 + energy / kElectronMass * (1 - mu));
    return p * p * (p + 1 / p - (1 - mu * mu));
}

std::vector<double> SampleCosTheta(const TBasicPhotonCrossSection& cs, const materials::TMaterial* material,
                                   double energy, int n, std::uint32_t seed) {
    auto rng = stats::MakeGenerator(seed);
    std::vector<double> u(n), mu(n);
    rng->Generate(u.data(), u.size());
    for (int i = 0; i < n; ++i)
        mu[i] = cs.GetCosTheta(material, u[i], energy);
    return mu;
}

TEST_F(ShippedMaterials, TabulatedKleinNishinaFollowsTheDensity) {
    TTabulatedSimpleComptonCrossSection kn;
    // 137 keV lies between two levels of the table.
    for (double energy : {20.0, 100.0, 137.0, 1000.0}) {
        const auto mu = SampleCosTheta(kn, water_, energy, 1000000, 41);
        const auto chi = stats::ChiSquareAgainstDensity(
            mu, -1, 1, 50, [&](double m) { return TextbookKleinNishina(energy, m); });
        EXPECT_TRUE(chi.Passes()) << energy << " keV " << chi.Text();
    }
}

TEST_F(ShippedMaterials, TabulatedThomsonFollowsOnePlusMuSquared) {
    TTabulatedSimpleRayleighCrossSection thomson;
    const auto mu = SampleCosTheta(thomson, lead_, 50, 1000000, 42);
    const auto chi =
        stats::ChiSquareAgainstDensity(mu, -1, 1, 50, [](double m) { return 3.0 / 8 * (1 + m * m); });
    EXPECT_TRUE(chi.Passes()) << chi.Text();
}

TEST_F(ShippedMaterials, AboveTheThresholdTotalIsSimple) {
    TTabulatedTotalComptonCrossSection total;
    TTabulatedSimpleComptonCrossSection simple;
    TAnalyticalTotalRayleighCrossSection rayleigh(0.001);
    for (double u : {0.1, 0.5, 0.93})
        EXPECT_EQ(total.GetCosTheta(lead_, u, 500), simple.GetCosTheta(lead_, u, 500));
    EXPECT_EQ(rayleigh.GetIntegral(lead_, 500), 8.0 / 3.0);
    EXPECT_EQ(rayleigh.GetDifferential(lead_, 500, 0.5), 1.25);
}

TEST_F(ShippedMaterials, ZeroThresholdMakesTotalCrossSectionsSimple) {
    const double saved = properties_->FullPhysicsThreshold;
    properties_->FullPhysicsThreshold = 0;
    TAnalyticalTotalComptonCrossSection compton(0.001);
    TAnalyticalSimpleComptonCrossSection kn(0.001);
    TTabulatedTotalRayleighCrossSection rayleigh;
    TTabulatedSimpleRayleighCrossSection thomson;
    for (double energy : {0.5, 20.0, 150.0})
        for (double mu : {-0.9, 0.1, 0.99}) {
            EXPECT_EQ(compton.GetDifferential(lead_, energy, mu), kn.GetDifferential(lead_, energy, mu));
            EXPECT_EQ(rayleigh.GetCosTheta(lead_, (mu + 1) / 2, energy),
                      thomson.GetCosTheta(lead_, (mu + 1) / 2, energy));
        }
    properties_->FullPhysicsThreshold = saved;
}

TEST_F(ShippedMaterials, PairProductionInLeadUsesItsAtomicNumber) {
    TPairProduction pair(1, true);
    auto rng = stats::MakeGenerator(46);
    TParticleQueue queue;
    TParticle p;
    p.Energy = 10000;
    pair.Interact(p, lead_, *rng, queue);
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_NEAR(queue[0]->Energy + queue[1]->Energy, 10000 - 2 * kElectronMass, 1e-9);
}

TPhotonInteractionsModel DefaultModel(const materials::MaterialProperties& properties) {
    TPhotonInteractionsModel model;
    model.BuildDefault(properties, true, false);
    return model;
}

TEST_F(ShippedMaterials, ImplicitAbsorptionKeepsTheFluorescenceOfTheAbsorbedShare) {
    auto model = DefaultModel(*properties_);
    model.ImplicitAbsorption = true;
    const auto coefficients = list_->Material(1).Attenuation(*properties_).GetCoefficients(100);
    const double absorbedShare = coefficients.PhotoEffect / coefficients.Total;
    auto rng = stats::MakeGenerator(47);
    const int n = 100000;
    int fluorescence = 0;
    for (int i = 0; i < n; ++i) {
        TParticleQueue queue;
        TParticle p;
        p.Energy = 100;
        p.Weight = 3;
        const auto* chosen = model.DetermineInteractionType(lead_, p, *rng, queue);
        ASSERT_NE(chosen->GetType(), InteractionPhotoEffect);
        ASSERT_NEAR(p.Weight, 3 * (1 - absorbedShare), 1e-12);
        for (const auto& s : queue) {
            ASSERT_NEAR(s->Weight, 3 * absorbedShare, 1e-12);
            ++fluorescence;
        }
    }
    // Lead absorbs mostly in the K shell and fluoresces with a yield near 0.96.
    EXPECT_GT(fluorescence, 0.6 * n);
}

TEST_F(ShippedMaterials, InteractionSharesFollowTheMaterialsCoefficients) {
    const auto model = DefaultModel(*properties_);
    const auto c = list_->Material(0).Attenuation(*properties_).GetCoefficients(60);
    auto rng = stats::MakeGenerator(48);
    std::vector<double> counts(4, 0.0);
    const int n = 1000000;
    TParticleQueue queue;
    for (int i = 0; i < n; ++i) {
        TParticle p;
        p.Energy = 60;
        const auto type = model.DetermineInteractionType(water_, p, *rng, queue)->GetType();
        counts[type == InteractionPhotoEffect      ? 0
               : type == InteractionPairProduction ? 1
               : type == InteractionCompton        ? 2
                                                   : 3] += 1;
    }
    const std::vector<double> expected = {n * c.PhotoEffect / c.Total, n * c.PairProduction / c.Total,
                                          n * c.Compton / c.Total, n * c.Rayleigh / c.Total};
    const auto chi = stats::ChiSquareTest(counts, expected, 0);
    EXPECT_TRUE(chi.Passes()) << chi.Text();
}

TEST(DetermineInteractionTypeErrors, MaterialWithoutAttenuationIsReportedWithNameAndEnergy) {
    materials::MaterialProperties properties;
    properties.UseTabulatedMacroscopicCoefficients = false;
    properties.MaxEnergy = 100;
    materials::TMaterialsList list(&properties);
    const auto* material = list.GetMaterial("Nothing");
    std::istringstream file("[Materials]\n[Nothing]\nZ = 1\n[SimpleMacroscopic]\nPhotoEffectCoefficient = 0\n"
                            "ComptonCoefficient = 0\nRayleighCoefficient = 0\nPairProductionCoefficient = 0\n"
                            "[EndSimpleMacroscopic]\n[EndNothing]\n[EndMaterials]\n");
    inifiles::TIniFileStructure tree;
    tree.Read(file);
    list.Load(tree, [](const std::string&, bool) {});
    TPhotonInteractionsModel model;
    model.BuildDefault(properties, false, false);
    auto rng = stats::MakeGenerator(49);
    TParticleQueue queue;
    TParticle p;
    p.Energy = 42.5;
    EXPECT_EQ(ErrorOf([&] { model.DetermineInteractionType(material, p, *rng, queue); }),
              "TPhotonInteractionsModel::DetermineInteractionType: Invalid TotalLinearCoefficient!\n"
              "Material: Nothing Energy: 42.5\nTotalLinearCoefficient: 0\n");
}

} // namespace

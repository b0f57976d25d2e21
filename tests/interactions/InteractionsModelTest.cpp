#include "inifiles/IniFile.h"
#include "interactions/PairProduction.h"
#include "interactions/PhotoEffect.h"
#include "interactions/PhotonInteractionsModel.h"
#include "interactions/Scattering.h"
#include "materials/MaterialProperties.h"

#include "Statistics.h"
#include "materials/TestErrors.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace interactions;

namespace {

inifiles::TIniFileStructure Parse(const std::string& text) {
    std::istringstream stream(text);
    inifiles::TIniFileStructure tree;
    tree.Read(stream);
    return tree;
}

struct Built {
    TPhotonInteractionsModel model;
    materials::MaterialProperties properties;
    std::int32_t maxInteractions = -1;
};

// Reads the model from the InteractionsModel section of `physics` the way
// the Physics reader does, completion included.
void Read(Built& b, const std::string& modelText, bool fullPhysics = false, bool electronTransport = false) {
    const auto tree = Parse("[InteractionsModel]\n" + modelText + "[EndInteractionsModel]\n");
    b.model.ReadFromSection(tree.FindSection("InteractionsModel"), b.properties, fullPhysics,
                            electronTransport);
    b.model.CompletePhysics(b.properties, b.maxInteractions, electronTransport);
}

std::string Summary(const TPhotonInteractionsModel& model) {
    std::ostringstream out;
    model.PrintSummary(out);
    return out.str();
}

std::string Interaction(const std::string& type, const std::string& extra = "") {
    return "[Interaction]\nInteractionType = " + type + "\n" + extra + "[EndInteraction]\n";
}

TEST(InteractionsModel, DefaultListAndSummary) {
    Built b;
    b.model.BuildDefault(b.properties, false, false);
    b.model.CompletePhysics(b.properties, b.maxInteractions, false);
    ASSERT_EQ(b.model.InteractionCount(), 4u); // the summary names them in order
    EXPECT_EQ(Summary(b.model),
              "  Implicit Absorption (Variance Reduction Method): 0\n"
              "  Simulation Interaction Types: PhotoEffect, PairProduction (simple), ComptonScattering, "
              "RayleighScattering\n");
    EXPECT_EQ(b.maxInteractions, -1);
    EXPECT_FALSE(b.model.AnyCreatesSecondaries()); // simple pairs, no fluorescence, no Compton electrons
    EXPECT_TRUE(b.properties.UseTabulatedKleinNishina);
    EXPECT_TRUE(b.properties.UseTabulatedTotalRayleigh);
}

TEST(InteractionsModel, DefaultWithElectronTransportMakesElectrons) {
    Built b;
    b.properties.Fluorescence = true;
    b.model.BuildDefault(b.properties, true, true);
    EXPECT_EQ(Summary(b.model),
              "  Implicit Absorption (Variance Reduction Method): 0\n"
              "  Simulation Interaction Types: PhotoEffect, PairProduction (e- prob: 1, angular), "
              "ComptonScattering (e- prob: 1), RayleighScattering\n");
    EXPECT_TRUE(b.model.AnyCreatesSecondaries());
}

TEST(InteractionsModel, SectionKeysAndImplicitAbsorption) {
    Built b;
    Read(b, "ImplicitThreshold = 0.01\n" + Interaction("comptonscattering", "ElectronProbability = 0.5\n") +
                Interaction("PairProduction", "Simple = false\nAngular = false\n"));
    EXPECT_TRUE(b.model.ImplicitAbsorption);
    EXPECT_EQ(
        Summary(b.model),
        "  Implicit Absorption (Variance Reduction Method): 1\n"
        "  Implicit Absorption Threshold: 0.01\n"
        "  Simulation Interaction Types: ComptonScattering (e- prob: 0.5), PairProduction (e- prob: 1)\n");
    // Without Rayleigh its tables are not needed.
    EXPECT_FALSE(b.properties.UseTabulatedThomson);
    EXPECT_FALSE(b.properties.UseTabulatedTotalRayleigh);
    EXPECT_TRUE(b.properties.UseTabulatedKleinNishina);

    Built off;
    Read(off, "ImplicitThreshold = 0.01\nImplicitAbsorption = false\n" + Interaction("PhotoEffect"));
    EXPECT_FALSE(off.model.ImplicitAbsorption);
}

TEST(InteractionsModel, SelectionNamesTheCoefficientsOfTheTotal) {
    Built b;
    Read(b, Interaction("RayleighScattering") + Interaction("PhotoEffect"));
    const auto selection = b.model.Selection();
    EXPECT_TRUE(selection.PhotoEffect);
    EXPECT_TRUE(selection.Rayleigh);
    EXPECT_FALSE(selection.Compton);
    EXPECT_FALSE(selection.PairProduction);
}

TEST(InteractionsModel, SecondInteractionOfATypeIsDropped) {
    Built b;
    Read(b, Interaction("ComptonScattering", "ElectronProbability = 0.25\n") +
                Interaction("ComptonScattering", "ElectronProbability = 0.75\n"));
    ASSERT_EQ(b.model.InteractionCount(), 1u);
    EXPECT_EQ(static_cast<const TComptonScattering&>(b.model.Interaction(0)).ElectronProbability(), 0.25);
}

TEST(InteractionsModel, PurePhotoEffectEndsPhotonsAtTheirFirstInteraction) {
    Built b;
    Read(b, Interaction("PhotoEffect"));
    EXPECT_EQ(b.maxInteractions, 0);
    EXPECT_FALSE(b.properties.UseTabulatedKleinNishina);
    EXPECT_FALSE(b.properties.UseTabulatedThomson);

    Built fluorescent;
    fluorescent.properties.Fluorescence = true;
    Read(fluorescent, Interaction("PhotoEffect"));
    EXPECT_EQ(fluorescent.maxInteractions, -1);
}

TEST(InteractionsModel, ErrorsOfTheSection) {
    Built empty, unknown;
    EXPECT_EQ(ErrorOf([&] { Read(empty, "[Other]\nInteractionType = PhotoEffect\n[EndOther]\n"); }),
              "Can not construct InteractionsModel: no interactions found");
    EXPECT_EQ(ErrorOf([&] { Read(unknown, Interaction("Bremsstrahlung")); }),
              "Unknown interaction type: Bremsstrahlung");
    Built missing;
    EXPECT_THROW(Read(missing, "[Interaction]\nSimple = true\n[EndInteraction]\n"), inifiles::ItemNotFound);
    Built bad;
    EXPECT_THROW(Read(bad, Interaction("PairProduction", "ElectronProbability = lots\n")),
                 std::runtime_error);
}

TEST(InteractionsModel, CrossSectionChoiceFollowsFullPhysicsAndSwitches) {
    Built b;
    b.properties.UseTabulatedKleinNishina = false;
    Read(b, Interaction("ComptonScattering") + Interaction("RayleighScattering"), false);
    const auto& compton = static_cast<const TBasicPhotonScattering&>(b.model.Interaction(0));
    const auto& rayleigh = static_cast<const TBasicPhotonScattering&>(b.model.Interaction(1));
    EXPECT_NE(dynamic_cast<const TAnalyticalSimpleComptonCrossSection*>(&compton.CrossSection()), nullptr);
    EXPECT_NE(dynamic_cast<const TTabulatedSimpleRayleighCrossSection*>(&rayleigh.CrossSection()), nullptr);

    Built full;
    full.properties.UseTabulatedTotalRayleigh = false;
    Read(full,
         Interaction("ComptonScattering") +
             Interaction("RayleighScattering", "IntegrationPrecision = 0.01\n"),
         true);
    const auto& c = static_cast<const TBasicPhotonScattering&>(full.model.Interaction(0));
    const auto& r = static_cast<const TBasicPhotonScattering&>(full.model.Interaction(1));
    EXPECT_NE(dynamic_cast<const TTabulatedTotalComptonCrossSection*>(&c.CrossSection()), nullptr);
    const auto* analytical = dynamic_cast<const TAnalyticalTotalRayleighCrossSection*>(&r.CrossSection());
    ASSERT_NE(analytical, nullptr);
    EXPECT_EQ(analytical->Precision(), 0.01);
}

TLinearCoefficients Coefficients(double photo, double compton, double rayleigh, double pair) {
    TLinearCoefficients c;
    c.PhotoEffect = photo;
    c.Compton = compton;
    c.Rayleigh = rayleigh;
    c.PairProduction = pair;
    c.Total = photo + compton + rayleigh + pair;
    return c;
}

TPhotonInteractionsModel ThreeInteractions() {
    TPhotonInteractionsModel model;
    model.AddInteraction(std::make_unique<TPhotoEffect>(false));
    model.AddInteraction(std::make_unique<TComptonScattering>(ScatteringSimple, false, 0.001, 0));
    model.AddInteraction(std::make_unique<TRayleighScattering>(ScatteringSimple, false, 0.001));
    return model;
}

// The last interaction of a model takes the remainder of the total, so the shares
// cannot tell which coefficient it reads.
TEST(DetermineInteractionType, EachInteractionReadsItsOwnCoefficient) {
    const auto c = Coefficients(1, 2, 3, 4);
    EXPECT_EQ(TPhotoEffect(false).GetLinearCoefficient(c), 1);
    EXPECT_EQ(TComptonScattering(ScatteringSimple, false, 0.001, 0).GetLinearCoefficient(c), 2);
    EXPECT_EQ(TRayleighScattering(ScatteringSimple, false, 0.001).GetLinearCoefficient(c), 3);
    EXPECT_EQ(TPairProduction(1, true).GetLinearCoefficient(c), 4);
}

TEST(DetermineInteractionType, ImplicitAbsorptionSplitsOffTheAbsorbedWeight) {
    auto model = ThreeInteractions();
    model.ImplicitAbsorption = true;
    const auto c = Coefficients(0.4, 0.45, 0.15, 0);
    auto rng = stats::MakeGenerator(22);
    TParticleQueue queue;
    std::vector<double> counts(2, 0.0);
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        TParticle p;
        p.Energy = 50;
        p.Weight = 2;
        const auto* chosen = model.DetermineInteractionType(c, nullptr, p, *rng, queue);
        ASSERT_DOUBLE_EQ(p.Weight, 2 * 0.6);
        ASSERT_NE(chosen->GetType(), InteractionPhotoEffect);
        counts[chosen->GetType() == InteractionCompton ? 0 : 1] += 1;
    }
    const auto chi = stats::ChiSquareTest(counts, {0.75 * n, 0.25 * n}, 0);
    EXPECT_TRUE(chi.Passes()) << chi.Text();
}

TEST(DetermineInteractionType, LightPhotonsBelowTheThresholdCanBeAbsorbed) {
    auto model = ThreeInteractions();
    model.ImplicitAbsorption = true;
    model.ImplicitThreshold = 0.5;
    const auto c = Coefficients(0.9, 0.05, 0.05, 0);
    auto rng = stats::MakeGenerator(23);
    TParticleQueue queue;
    int absorbed = 0;
    for (int i = 0; i < 1000; ++i) {
        TParticle p;
        p.Energy = 50;
        p.Weight = 0.25;
        const auto* chosen = model.DetermineInteractionType(c, nullptr, p, *rng, queue);
        ASSERT_EQ(p.Weight, 0.25);
        absorbed += chosen->GetType() == InteractionPhotoEffect;
    }
    EXPECT_TRUE(stats::CountAgrees(absorbed, 1000, 0.9)) << absorbed;
}

TEST(DetermineInteractionType, EmptyModelChoosesNothing) {
    TPhotonInteractionsModel model;
    auto rng = stats::MakeGenerator(24);
    TParticleQueue queue;
    TParticle p;
    EXPECT_EQ(model.DetermineInteractionType(Coefficients(1, 0, 0, 0), nullptr, p, *rng, queue), nullptr);
}

TEST(InteractionTypes, NamesAndNumbers) {
    EXPECT_EQ(InteractionTypeName(-1), "Unknown");
    EXPECT_EQ(InteractionTypeName(2), "PhotoEffect");
    EXPECT_EQ(InteractionTypeName(6), "RayleighScattering");
    EXPECT_EQ(InteractionTypeName(102), "Bremsstrahlung");
    EXPECT_EQ(InteractionTypeName(1001), "Creation");
    EXPECT_EQ(InteractionTypeName(7), "7");
    EXPECT_EQ(InteractionTypeName(999), "999");
}

} // namespace

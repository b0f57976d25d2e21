// The total Compton and Rayleigh samplers, tabulated and analytical, against
// angular densities computed here straight from xraylib's S(x) and F(x), in
// equal-width cos(theta) bins that show tail artefacts as well as the peak.

#include "MaterialDefinition.h"
#include "XraylibCall.h"

#include "interactions/CrossSections.h"
#include "materials/MaterialsList.h"

#include "../../tests/interactions/Statistics.h"

#include <gtest/gtest.h>
#include <xraylib.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kMaterialsDir = std::string(TARVO_SOURCE_DATA_DIR) + "/materials";
constexpr double kElectronMass = 510.9991697550785;
constexpr double kMomentumTransfer = 20.607439686553477 / kElectronMass;  // x per keV, 1/Angstrom
constexpr int kSamples = 1000000;
constexpr int kBins = 50;

matgen::MaterialDefinition Definition(const std::string& name)
{
    XRayInit();
    std::ifstream in(kMaterialsDir + "/materials.def");
    for (const auto& d : matgen::ReadDefinitions(in)) {
        if (d.name == name)
            return d;
    }
    throw std::runtime_error("no material " + name);
}

// xraylib's tables of S and F start near x = 1e-3; below it F is flat and S
// rises like x^2, as both do towards x = 0.
double SummedS(const matgen::MaterialDefinition& m, double x)
{
    const double start = 1e-3, scale = x < start ? x * x / (start * start) : 1.0;
    double s = 0.0;
    for (const auto& e : m.elements)
        s += e.atoms * matgen::XrlCall(SF_Compt, e.Z, std::max(x, start));
    return s * scale;
}

double SummedFSquared(const matgen::MaterialDefinition& m, double x)
{
    double f2 = 0.0;
    for (const auto& e : m.elements)
        f2 += e.atoms * std::pow(matgen::XrlCall(FF_Rayl, e.Z, std::max(x, 1e-3)), 2);
    return f2;
}

// Unnormalised densities in mu: Klein-Nishina times the summed S(x) with
// x = C E sqrt(P^2 + 1 - 2 P mu), and (1 + mu^2) times the summed F(x)^2 with
// x = C E sqrt(2 (1 - mu)).
double ReferenceDensity(bool compton, const matgen::MaterialDefinition& m, double energy, double mu)
{
    if (compton) {
        const double p = 1.0 / (1.0 + energy / kElectronMass * (1.0 - mu));
        const double x = kMomentumTransfer * energy * std::sqrt(std::max(0.0, p * p + 1.0 - 2.0 * p * mu));
        return p * p * (p + 1.0 / p - (1.0 - mu * mu)) * SummedS(m, x);
    }
    return (1.0 + mu * mu) * SummedFSquared(m, kMomentumTransfer * energy * std::sqrt(2.0 * (1.0 - mu)));
}

// Integral of g(mu) * density over [a, b], in ln(1 - mu) so that a forward
// peak narrower than the bin is resolved.
double BinIntegral(const std::function<double(double)>& density, double a, double b, double (*g)(double))
{
    const double shift = 1e-14;
    return stats::GaussIntegral(
        [&](double v) {
            const double oneMinusMu = std::exp(v);
            const double mu = 1.0 + shift - oneMinusMu;
            return density(mu) * g(mu) * oneMinusMu;
        },
        std::log(1.0 - b + shift), std::log(1.0 - a + shift), 16);
}

// Upper tail probability of chi-square (Wilson-Hilferty).
double ChiSquarePValue(double chi2, int dof)
{
    const double k = dof, h = 2.0 / (9.0 * k);
    const double z = (std::cbrt(chi2 / k) - (1.0 - h)) / std::sqrt(h);
    return 0.5 * std::erfc(z / std::sqrt(2.0));
}

class TotalScatteringSamplers : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        properties_ = new materials::MaterialProperties;
        properties_->MaxEnergy = 1000;
        properties_->FullPhysicsThreshold = 1000;
        list_ = new materials::TMaterialsList(properties_);
        list_->GetMaterial("Water");
        list_->GetMaterial("Lead");
        list_->Load(kMaterialsDir + "/materials.ini", [](const std::string&, bool) {});
    }
    static void TearDownTestSuite()
    {
        delete list_;
        delete properties_;
    }
    static materials::MaterialProperties* properties_;
    static materials::TMaterialsList* list_;
};

materials::MaterialProperties* TotalScatteringSamplers::properties_ = nullptr;
materials::TMaterialsList* TotalScatteringSamplers::list_ = nullptr;

TEST_F(TotalScatteringSamplers, FollowXraylibsDensitiesOnAndBetweenTableLevels)
{
    // 20, 60 and 150 keV were table levels of the earlier grid; the others lie between.
    const double energies[] = {20.0, 37.0, 60.0, 125.0, 150.0, 325.0, 1000.0};
    std::uint32_t seed = 100;
    for (const char* name : {"Water", "Lead"}) {
        const auto definition = Definition(name);
        const materials::TMaterial* material = list_->GetMaterial(name);
        for (bool compton : {true, false}) {
            for (double energy : energies) {
                std::vector<double> expected(kBins);
                double mass = 0.0, moment = 0.0;
                const auto density = [&](double mu) { return ReferenceDensity(compton, definition, energy, mu); };
                for (int b = 0; b < kBins; ++b) {
                    const double lo = -1.0 + 2.0 * b / kBins, hi = -1.0 + 2.0 * (b + 1) / kBins;
                    expected[b] = BinIntegral(density, lo, hi, [](double) { return 1.0; });
                    moment += BinIntegral(density, lo, hi, [](double mu) { return 1.0 - mu; });
                    mass += expected[b];
                }
                for (double& e : expected)
                    e *= kSamples / mass;
                const double referenceMean = moment / mass;
                for (bool tabulated : {true, false}) {
                    const auto sampler = compton ? interactions::CreateComptonCrossSection(
                                                       interactions::ScatteringTotal, tabulated, 0.001)
                                                 : std::unique_ptr<interactions::TBasicPhotonCrossSection>(
                                                       interactions::CreateRayleighCrossSection(
                                                           interactions::ScatteringTotal, tabulated, 0.001));
                    auto rng = stats::MakeGenerator(seed++);
                    std::vector<double> counts(kBins, 0.0);
                    double sum = 0.0, sumSquares = 0.0;
                    for (int i = 0; i < kSamples; ++i) {
                        const double mu = sampler->SampleCosTheta(material, energy, *rng);
                        counts[std::min(kBins - 1, static_cast<int>((mu + 1.0) * kBins / 2.0))] += 1.0;
                        sum += 1.0 - mu;
                        sumSquares += (1.0 - mu) * (1.0 - mu);
                    }
                    const auto chi = stats::ChiSquareTest(counts, expected, 0);
                    const double mean = sum / kSamples;
                    const double error = std::sqrt((sumSquares / kSamples - mean * mean) / kSamples);
                    const std::string label = std::string(name) + (compton ? " Compton " : " Rayleigh ") +
                                              (tabulated ? "tabulated " : "analytical ") + std::to_string(energy) +
                                              " keV: ";
                    EXPECT_GT(ChiSquarePValue(chi.value, chi.dof), 0.001) << label << chi.Text();
                    EXPECT_NEAR(mean, referenceMean, 4.0 * error)
                        << label << "mean (1 - cos theta) " << mean << " against " << referenceMean;
                }
            }
        }
    }
}

} // namespace

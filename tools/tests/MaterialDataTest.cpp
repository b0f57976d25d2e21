// The shipped material data against xraylib and the XCOM tables they were made from.

#include "MaterialDefinition.h"
#include "MaterialPhysics.h"
#include "XcomTable.h"
#include "XraylibCall.h"

#include "materials/FluorescenceData.h"
#include "materials/MacroscopicCoefficients.h"
#include "materials/ScatterData.h"

#include <gtest/gtest.h>
#include <xraylib.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kMaterialsDir = std::string(TARVO_SOURCE_DATA_DIR) + "/materials";
const std::string kXcomDir = std::string(TARVO_SOURCE_DATA_DIR) + "/xcom";

std::vector<matgen::MaterialDefinition> ShippedDefinitions()
{
    XRayInit();
    std::ifstream in(kMaterialsDir + "/materials.def");
    return matgen::ReadDefinitions(in);
}

template <class Component>
void LoadFile(Component& component, const std::string& path)
{
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    component.LoadDataFromStream(in);
}

std::unique_ptr<materials::TMacroscopicCoefficients> LoadTable(const std::string& dir, const std::string& name,
                                                                double density)
{
    auto table = std::make_unique<materials::TMacroscopicCoefficients>();
    table->Configuration().MaxEnergy = 20000.0;
    table->Configuration().Density = density;
    LoadFile(*table, dir + "/" + name + "_ACRP.txt");
    return table;
}

// xraylib's own mass coefficients of the material (cm^2/g): the compound
// functions for formulas and NIST compounds, the mass-weighted sum otherwise.
struct Reference {
    const matgen::MaterialDefinition& material;

    double Of(double (*compound)(const char*, double, xrl_error**), double (*element)(int, double, xrl_error**),
              double energy) const
    {
        const std::string& c = material.composition;
        if (c.compare(0, 5, "mass:") != 0) {
            const std::string name = c.compare(0, 5, "nist:") == 0 ? c.substr(5) : c;
            std::string trimmed = name.substr(name.find_first_not_of(' '));
            return matgen::XrlCall(compound, trimmed.c_str(), energy);
        }
        double sum = 0.0;
        for (const auto& e : material.elements)
            sum += e.massFraction * matgen::XrlCall(element, e.Z, energy);
        return sum;
    }
    double Photo(double e) const { return Of(CS_Photo_CP, CS_Photo, e) * material.density; }
    double Compton(double e) const { return Of(CS_Compt_CP, CS_Compt, e) * material.density; }
    double Rayleigh(double e) const { return Of(CS_Rayl_CP, CS_Rayl, e) * material.density; }

    std::vector<double> Edges() const
    {
        std::vector<double> edges;
        for (const auto& e : material.elements) {
            for (int shell = K_SHELL; shell <= N7_SHELL; ++shell) {
                const double edge = matgen::XrlOr(0.0, EdgeEnergy, e.Z, shell);
                if (edge > 1.02 && edge < 799.0)
                    edges.push_back(edge);
            }
        }
        return edges;
    }
};

void ExpectClose(double actual, double expected, double tolerance, const std::string& what)
{
    EXPECT_NEAR(actual, expected, tolerance * std::fabs(expected)) << what;
}

void ExpectMatchesXraylib(const materials::TMacroscopicCoefficients& table, const Reference& reference,
                          double energy, const std::string& where)
{
    const auto c = table.GetCoefficients(energy);
    const std::string what = reference.material.name + " at " + std::to_string(energy) + " keV " + where;
    ExpectClose(c.PhotoEffect, reference.Photo(energy), 0.002, what + " photo");
    ExpectClose(c.Compton, reference.Compton(energy), 0.002, what + " Compton");
    ExpectClose(c.Rayleigh, reference.Rayleigh(energy), 0.002, what + " Rayleigh");
}

// An element's XCOM rows as printed in its file (cm^2/g), read without the
// generator's reader: energy (keV) -> photo, Compton, Rayleigh, pair.
std::map<double, matgen::Attenuation> XcomRows(int Z)
{
    char* symbol = AtomicNumberToSymbol(Z, nullptr);
    std::ifstream in(kXcomDir + "/" + matgen::XcomTable::FileName(Z, symbol));
    xrlFree(symbol);
    std::map<double, matgen::Attenuation> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        double e, coherent, incoherent, photo, nuclear, electron;
        fields >> e >> coherent >> incoherent >> photo >> nuclear >> electron;
        rows[e * 1000.0] = {photo, incoherent, coherent, nuclear + electron};  // above-edge row wins
    }
    return rows;
}

} // namespace

// Between edges at random energies, and as steps 0.01 keV either side of every edge.
TEST(ShippedMaterials, PhotoComptonRayleighFollowXraylibBetweenAndAtEdges)
{
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> energies(1.0, 800.0);
    for (const auto& material : ShippedDefinitions()) {
        const auto table = LoadTable(kMaterialsDir, material.name, material.density);
        const Reference reference{material};
        const auto edges = reference.Edges();
        for (int n = 0; n < 200;) {
            const double e = energies(rng);
            bool nearEdge = false;
            for (double edge : edges)
                nearEdge = nearEdge || std::fabs(e - edge) < 0.1;
            if (nearEdge)
                continue;
            ExpectMatchesXraylib(*table, reference, e, "");
            ++n;
        }
        for (double edge : edges) {
            ExpectMatchesXraylib(*table, reference, edge - 0.01, "below edge");
            ExpectMatchesXraylib(*table, reference, edge + 0.01, "above edge");
        }
    }
}

// xraylib and XCOM agree to four digits at 800 keV for every element, so a
// step where the generator changes source means a wrong input table.
TEST(ShippedMaterials, ContinuousWhereTheDataChangeSource)
{
    const double e = matgen::MaterialPhysics::kXraylibLimit;
    for (const auto& material : ShippedDefinitions()) {
        const auto table = LoadTable(kMaterialsDir, material.name, material.density);
        const auto below = table->GetCoefficients(e * (1.0 - 1e-9));
        const auto above = table->GetCoefficients(e * (1.0 + 1e-9));
        ExpectClose(above.PhotoEffect, below.PhotoEffect, 0.002, material.name + " photo at the source switch");
        ExpectClose(above.Compton, below.Compton, 0.002, material.name + " Compton at the source switch");
        ExpectClose(above.Rayleigh, below.Rayleigh, 0.002, material.name + " Rayleigh at the source switch");
    }
}

// At every XCOM energy above the switch the table holds the mass-weighted sum
// of the elements' printed values; between them pair production follows
// XCOM's own interpolation.
TEST(ShippedMaterials, FollowTheMixtureRuleOfTheXcomTablesAbove800keV)
{
    for (const auto& material : ShippedDefinitions()) {
        const auto table = LoadTable(kMaterialsDir, material.name, material.density);
        std::map<double, matgen::Attenuation> mixture;
        for (const auto& element : material.elements) {
            for (const auto& [energy, row] : XcomRows(element.Z)) {
                if (energy <= matgen::MaterialPhysics::kXraylibLimit || energy > 20000.0)
                    continue;
                auto& m = mixture[energy];
                const double w = element.massFraction * material.density;
                m.photo += w * row.photo;
                m.compton += w * row.compton;
                m.rayleigh += w * row.rayleigh;
                m.pair += w * row.pair;
            }
        }
        ASSERT_GE(mixture.size(), 20u) << material.name;
        for (const auto& [energy, m] : mixture) {
            const auto c = table->GetCoefficients(energy);
            const std::string at = material.name + " at " + std::to_string(energy) + " keV";
            ExpectClose(c.PhotoEffect, m.photo, 0.005, at + " photo");
            ExpectClose(c.Compton, m.compton, 0.005, at + " Compton");
            ExpectClose(c.Rayleigh, m.rayleigh, 0.005, at + " Rayleigh");
            ExpectClose(c.PairProduction, m.pair, 0.01, at + " pair");
        }
        const matgen::MaterialPhysics physics(material, kXcomDir);
        for (double e = 1100.0; e < 20000.0; e *= 1.037)
            ExpectClose(table->GetPairProduction(e), physics.Coefficients(e, true).pair, 0.01,
                        material.name + " pair at " + std::to_string(e) + " keV");
        EXPECT_EQ(table->GetPairProduction(1000.0), 0.0);
    }
}

// Published NIST XCOM totals with coherent scattering (cm^2/g).
TEST(ShippedMaterials, MatchPublishedTotalAttenuation)
{
    const struct {
        const char* material;
        double density, energy, total;
    } anchors[] = {{"Water", 1.0, 60.0, 0.2059},   {"Water", 1.0, 1000.0, 0.07072}, {"Water", 1.0, 10000.0, 0.02219},
                   {"Lead", 11.35, 100.0, 5.549}, {"Lead", 11.35, 1000.0, 0.07102}};
    for (const auto& a : anchors) {
        const auto table = LoadTable(kMaterialsDir, a.material, a.density);
        ExpectClose(table->GetTotal(a.energy) / a.density, a.total, 0.01,
                    std::string(a.material) + " at " + std::to_string(a.energy) + " keV");
    }
}

TEST(ShippedMaterials, ScatteringFunctionAndFormFactorFollowXraylibSums)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> logX(std::log(0.01), std::log(10.0));
    for (const auto& material : ShippedDefinitions()) {
        materials::TScatteringFunctionCoefficients s;
        materials::TAtomicFormFactorCoefficients f;
        LoadFile(s, kMaterialsDir + "/" + material.name + "_ScatF.txt");
        LoadFile(f, kMaterialsDir + "/" + material.name + "_FormF.txt");
        for (int n = 0; n < 200; ++n) {
            const double x = std::exp(logX(rng));
            double sSum = 0.0, fSquares = 0.0;
            for (const auto& e : material.elements) {
                sSum += e.atoms * matgen::XrlCall(SF_Compt, e.Z, x);
                fSquares += e.atoms * std::pow(matgen::XrlCall(FF_Rayl, e.Z, x), 2);
            }
            ExpectClose(s.Evaluate(x), sSum, 0.005, material.name + " S at x = " + std::to_string(x));
            ExpectClose(f.Evaluate(x), std::sqrt(fSquares), 0.005, material.name + " F at x = " + std::to_string(x));
        }
    }
}

TEST(ShippedMaterials, FluorescenceDataLoadWithXraylibShellsAndLines)
{
    for (const auto& material : ShippedDefinitions()) {
        materials::TFluorescenceData data;
        data.Configuration().MaxEnergy = 20000.0;
        LoadFile(data, kMaterialsDir + "/" + material.name + "_Fluo.txt");
        EXPECT_TRUE(data.IsLoaded()) << material.name;
        if (material.name != "Lead")
            continue;
        ASSERT_EQ(data.ShellCount(), 9u);  // K, L1-L3, M1-M5
        const double kShare = CS_Photo_Partial(82, K_SHELL, 100.0, nullptr) / CS_Photo(82, 100.0, nullptr);
        ExpectClose(data.PhotoProbability(0, 100.0), kShare, 0.002, "lead K share at 100 keV");
        EXPECT_EQ(data.PhotoProbability(0, 80.0), 0.0);
        EXPECT_DOUBLE_EQ(data.Shell(0).BindingEnergy, EdgeEnergy(82, K_SHELL, nullptr));
        bool foundKa1 = false;
        for (const auto& line : data.Shell(0).Lines) {
            if (std::fabs(line.Energy - LineEnergy(82, KL3_LINE, nullptr)) < 1e-4) {
                foundKa1 = true;
                ExpectClose(line.Probability, FluorYield(82, K_SHELL, nullptr) * RadRate(82, KL3_LINE, nullptr),
                            1e-5, "lead K-L3 line probability");
            }
        }
        EXPECT_TRUE(foundKa1);
    }
}

TEST(MaterialsGenerator, AddsAMaterialWithOneCommand)
{
    char pattern[] = "/tmp/tarvo-materials-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const std::string command = std::string(TARVO_MATERIALS_GENERATOR) + " --xcom " + kXcomDir +
                                " --add 'Kapton; C22H10N2O5; 1.42' " + dir + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream definitions(dir + "/materials.def");
    const auto added = matgen::ReadDefinitions(definitions);
    ASSERT_EQ(added.size(), 1u);
    std::ifstream ini(dir + "/materials.ini");
    std::stringstream text;
    text << ini.rdbuf();
    EXPECT_NE(text.str().find("[Kapton]"), std::string::npos);
    EXPECT_NE(text.str().find("CoefficientsFileName = Kapton_ACRP.txt"), std::string::npos);
    const auto table = LoadTable(dir, "Kapton", 1.42);
    ExpectMatchesXraylib(*table, Reference{added[0]}, 60.0, "");
    // A bad definition fails without touching the files.
    const std::string bad = std::string(TARVO_MATERIALS_GENERATOR) + " --xcom " + kXcomDir +
                            " --add 'Bad; Xx2O; 1' " + dir + " 2> /dev/null";
    EXPECT_NE(std::system(bad.c_str()), 0);
    std::system(("rm -rf " + dir).c_str());
}

// A hydrogen table with half the incoherent cross section, the fault the
// continuity check exists for: nothing is written, and the message names it.
TEST(MaterialsGenerator, RefusesXcomTablesThatDisagreeWithXraylib)
{
    char pattern[] = "/tmp/tarvo-materials-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    ASSERT_EQ(std::system(("mkdir " + dir + "/xcom " + dir + "/out && cp " + kXcomDir + "/*.txt " + dir + "/xcom")
                              .c_str()),
              0);
    std::ifstream in(kXcomDir + "/Z001_H.txt");
    std::ofstream bad(dir + "/xcom/Z001_H.txt");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        double e, coherent, incoherent, rest[3];
        if (line[0] != '#' && fields >> e >> coherent >> incoherent >> rest[0] >> rest[1] >> rest[2])
            bad << e << ' ' << coherent << ' ' << incoherent / 2 << ' ' << rest[0] << ' ' << rest[1] << ' ' << rest[2]
                << '\n';
        else
            bad << line << '\n';
    }
    bad.close();
    const std::string command = std::string(TARVO_MATERIALS_GENERATOR) + " --xcom " + dir + "/xcom --add 'W; H2O; 1' " +
                                dir + "/out 2> " + dir + "/err";
    EXPECT_NE(std::system(command.c_str()), 0);
    std::ifstream err(dir + "/err");
    std::stringstream text;
    text << err.rdbuf();
    EXPECT_NE(text.str().find("Compton cross section of H "), std::string::npos) << text.str();
    EXPECT_FALSE(std::ifstream(dir + "/out/W_ACRP.txt"));
    std::system(("rm -rf " + dir).c_str());
}

// Attenuation lookups per second: the segmented table that transport uses
// against plain linear interpolation in one std::vector on a uniform grid.
// Loading the shipped materials with their full-physics angle tables: time
// and table memory against the earlier coarse grids (5 keV steps below
// 100 keV, 50 keV above) filled by fine-grid inversion of the density.

#include "inifiles/IniFile.h"
#include "materials/AngularDensities.h"
#include "materials/MacroscopicCoefficients.h"
#include "materials/MaterialsList.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kLookups = 4000000;

template <class F>
double LookupsPerSecond(const std::vector<double>& energies, F lookup, double& checksum)
{
    const auto start = std::chrono::steady_clock::now();
    double sum = 0.0;
    for (std::size_t n = 0; n < kLookups; ++n)
        sum += lookup(energies[n % energies.size()]);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    checksum += sum;
    return static_cast<double>(kLookups) / seconds.count();
}

// Five segments cut at lead-like edges, 1 to 150 keV.
materials::TMacroscopicCoefficients FiveSegmentTable()
{
    const double starts[] = {1.0, 13.035, 15.2, 15.861, 88.0045};
    const double strides[] = {0.02, 0.05, 0.02, 0.25, 0.5};
    std::ostringstream text;
    text << "#Tarvo\t1\tBench\tACRP\t0,0,0,0,0\t0,0,0,0,0\t";
    for (int i = 0; i < 5; ++i)
        text << (i ? "," : "") << starts[i];
    text << '\t';
    for (int i = 0; i < 5; ++i)
        text << (i ? "," : "") << strides[i];
    text << '\n';
    for (int k = 0; k < 8000; ++k)
        text << 1000.0 / (1 + k) << ' ' << 0.1 << ' ' << 0.01 << ' ' << 0.0 << '\n';
    materials::TMacroscopicCoefficients table;
    table.Configuration().MaxEnergy = 150.0;
    std::istringstream in(text.str());
    table.LoadDataFromStream(in);
    return table;
}

void Report(const char* name, double ours, double reference)
{
    std::printf("BENCH materials %s: %.4g Mlookups/s; reference vector_uniform_interpolation %.4g Mlookups/s; "
                "ratio %.3f\n",
                name, ours / 1e6, reference / 1e6, ours / reference);
}

const std::string kMaterialsDir = std::string(TARVO_SOURCE_DATA_DIR) + "/materials";

struct LoadFigures {
    double seconds = 0.0;
    double megabytes = 0.0;  // of the total-Compton and total-Rayleigh tables
};

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every line "\t\t\t<key> = ..." of the materials file replaced by `value`.
std::string ReplaceKey(std::string text, const std::string& key, const std::string& value)
{
    const std::string prefix = "\t\t\t" + key + " = ";
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        const std::size_t end = text.find('\n', at);
        text.replace(at, end - at, prefix + value);
    }
    return text;
}

double TableMegabytes(const datastructures::DifferentialProbabilityTable& table)
{
    return table.IsLoaded() ? static_cast<double>(table.Configuration().TotalValues()) * sizeof(double) / 1e6
                            : 0.0;
}

// Loads every shipped material from `text` with full physics up to `maxEnergy`;
// with `earlierRayleigh` the total-Rayleigh tables are computed afterwards
// on the coarse grid by inverting the density on a fine grid, as before.
LoadFigures LoadShipped(const std::string& text, double maxEnergy, bool earlierRayleigh)
{
    materials::MaterialProperties properties;
    properties.MaxEnergy = maxEnergy;
    properties.FullPhysicsThreshold = maxEnergy;
    properties.UseTabulatedTotalRayleigh = !earlierRayleigh;
    materials::TMaterialsList list(&properties);
    std::istringstream definitions(ReadText(kMaterialsDir + "/materials.def"));
    for (std::string line; std::getline(definitions, line);) {
        if (!line.empty() && line[0] != '#')
            list.GetMaterial(line.substr(0, line.find(';')));
    }
    // Data file names relative to the materials directory, as the file itself resolves them.
    std::string absolute = text;
    const std::string key = "CoefficientsFileName = ";
    for (std::size_t at = absolute.find(key); at != std::string::npos; at = absolute.find(key, at + 1))
        absolute.insert(at + key.size(), kMaterialsDir + "/");
    std::istringstream in(absolute);
    inifiles::TIniFileStructure tree;
    tree.Read(in);
    LoadFigures figures;
    const auto start = std::chrono::steady_clock::now();
    list.Load(tree, [](const std::string&, bool) {});
    for (std::size_t i = 0; earlierRayleigh && i < list.Count(); ++i) {
        auto& p = list.Material(i).Properties;
        auto& info = p.TotalRayleigh.Table.Configuration();
        info.MaxEnergy = maxEnergy;
        info.IntegrationPrecision = 0.001;
        info.EnergyStart = {1, 10, 100};
        info.EnergyStride = {0.5, 5, 50};
        p.TotalRayleigh.Table.Compute([&](double e, double mu) {
            return materials::TotalRayleighDensity(e, mu, p.FormFactor, maxEnergy);
        });
    }
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const auto& p = list.Material(i).Properties;
        figures.megabytes += TableMegabytes(p.TotalCompton.Table) + TableMegabytes(p.TotalRayleigh.Table);
    }
    return figures;
}

void ReportLoading(double maxEnergy)
{
    const std::string shipped = ReadText(kMaterialsDir + "/materials.ini");
    const std::string earlier =
        ReplaceKey(ReplaceKey(shipped, "EnergyStart", "1,10,100"), "EnergyStride", "0.5,5,50");
    const LoadFigures reference = LoadShipped(earlier, maxEnergy, true);
    const LoadFigures ours = LoadShipped(shipped, maxEnergy, false);
    std::printf(
        "BENCH materials load_shipped_set_%gkeV: %.3g s; reference earlier_coarse_grids %.3g s; ratio %.3g\n",
        maxEnergy, ours.seconds, reference.seconds, ours.seconds / reference.seconds);
    std::printf("BENCH materials angle_table_memory_%gkeV: %.3g MB; reference earlier_coarse_grids %.3g MB; "
                "ratio %.3g\n",
                maxEnergy, ours.megabytes, reference.megabytes, ours.megabytes / reference.megabytes);
}

} // namespace

int main()
{
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> uniform(1.0, 150.0);
    std::vector<double> energies(1 << 16);
    for (auto& e : energies)
        e = uniform(rng);

    // The reference: totals on one uniform grid, interpolated by hand.
    const double e0 = 1.0, step = 0.02;
    std::vector<double> totals(static_cast<std::size_t>((150.0 - e0) / step) + 2);
    for (std::size_t i = 0; i < totals.size(); ++i)
        totals[i] = 1000.0 / (1.0 + static_cast<double>(i));
    const double inverse = 1.0 / step;
    auto plain = [&](double e) {
        const double t = (e - e0) * inverse;
        const auto i = static_cast<std::size_t>(t);
        const double f = t - static_cast<double>(i);
        return totals[i] + f * (totals[i + 1] - totals[i]);
    };

    double checksum = 0.0;
    const auto five = FiveSegmentTable();
    const double reference = LookupsPerSecond(energies, plain, checksum);
    const double segmented =
        LookupsPerSecond(energies, [&](double e) { return five.GetCoefficients(e).Total; }, checksum);
    Report("lookup_5_segments", segmented, reference);

    materials::TMacroscopicCoefficients lead;
    lead.Configuration().MaxEnergy = 150.0;
    std::ifstream file(std::string(TARVO_SOURCE_DATA_DIR) + "/materials/Lead_ACRP.txt");
    if (file && lead.LoadDataFromStream(file)) {
        const double shipped =
            LookupsPerSecond(energies, [&](double e) { return lead.GetCoefficients(e).Total; }, checksum);
        std::printf("# shipped lead table: %zu segments up to 150 keV\n", lead.Configuration().Segments().size());
        Report("lookup_shipped_lead", shipped, reference);
    }
    std::printf("# checksum %g\n", checksum);
    for (double maxEnergy : {150.0, 1000.0})
        ReportLoading(maxEnergy);
    return 0;
}

// Attenuation lookups per second: the segmented table that transport uses
// against plain linear interpolation in one std::vector on a uniform grid.

#include "materials/MacroscopicCoefficients.h"

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
    return 0;
}

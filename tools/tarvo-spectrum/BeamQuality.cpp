#include "BeamQuality.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace spectrum {

namespace {

constexpr double kThickestFilter = 100.0; // mm Al tried when fitting
constexpr int kBisections = 100;          // far below a nanometre; a fixed count keeps results reproducible

// Bisection for the thickness t in [low, high] where `falling`(t) crosses `level`.
template <typename F> double Crossing(F falling, double level, double low, double high) {
    for (int i = 0; i < kBisections; ++i) {
        const double mid = 0.5 * (low + high);
        (falling(mid) > level ? low : high) = mid;
    }
    return 0.5 * (low + high);
}

std::string Millimetres(double value, const char* format = "%.4f") {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

AirKerma AirKerma::Load(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read the air table " + path);
    AirKerma table;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        double mev = 0.0, mu = 0.0, muEn = 0.0;
        if (!(fields >> mev >> mu >> muEn) || mev <= 0.0 || muEn <= 0.0 ||
            (!table.energy_.empty() && mev * 1000.0 < table.energy_.back()))
            throw std::runtime_error(path + " line " + std::to_string(number) +
                                     ": expected rising E_MeV mu/rho mu_en/rho");
        table.energy_.push_back(mev * 1000.0);
        table.muEn_.push_back(muEn);
    }
    if (table.energy_.size() < 2)
        throw std::runtime_error("no data in the air table " + path);
    return table;
}

double AirKerma::MassEnergyAbsorption(double energy) const {
    if (energy < energy_.front() || energy > energy_.back())
        throw std::runtime_error("energy outside the air table");
    // The last row at or below `energy`: above an edge, the upper of its two rows.
    std::size_t i =
        static_cast<std::size_t>(std::upper_bound(energy_.begin(), energy_.end(), energy) - energy_.begin());
    i = std::min(i == 0 ? 0 : i - 1, energy_.size() - 2);
    const double t = std::log(energy / energy_[i]) / std::log(energy_[i + 1] / energy_[i]);
    return std::exp(std::log(muEn_[i]) + t * std::log(muEn_[i + 1] / muEn_[i]));
}

void Attenuate(std::vector<SpectrumEntry>& entries, const Absorber& absorber, double thickness) {
    const double massThickness = absorber.Density() * thickness / 10.0;
    for (auto& e : entries)
        e.intensity *= std::exp(-absorber.MassAttenuation(e.energy) * massThickness);
}

BeamQuality Measure(const std::vector<SpectrumEntry>& entries, const AirKerma& air,
                    const Absorber& aluminium) {
    // Air kerma weights each photon by E mu_en/rho; the thickness t (mm Al) attenuates it by exp(-mu t).
    std::vector<double> kerma, mu;
    double photons = 0.0, energy = 0.0;
    for (const auto& e : entries) {
        kerma.push_back(e.intensity * e.energy * air.MassEnergyAbsorption(e.energy));
        mu.push_back(aluminium.MassAttenuation(e.energy) * aluminium.Density() / 10.0);
        photons += e.intensity;
        energy += e.intensity * e.energy;
    }
    auto transmitted = [&](double t) {
        double sum = 0.0;
        for (std::size_t i = 0; i < kerma.size(); ++i)
            sum += kerma[i] * std::exp(-mu[i] * t);
        return sum;
    };
    const double full = transmitted(0.0);
    if (!(full > 0.0))
        throw std::runtime_error("the filtration leaves no photons");
    double high = 1.0;
    while (transmitted(high) > 0.25 * full)
        high *= 2.0;
    BeamQuality quality;
    quality.hvl1 = Crossing(transmitted, 0.5 * full, 0.0, high);
    quality.hvl2 = Crossing(transmitted, 0.25 * full, quality.hvl1, high) - quality.hvl1;
    quality.meanEnergy = energy / photons;
    return quality;
}

double FitAluminium(const std::vector<SpectrumEntry>& entries, double hvl1, const AirKerma& air,
                    const Absorber& aluminium) {
    auto hvlWith = [&](double added) {
        auto filtered = entries;
        Attenuate(filtered, aluminium, added);
        return Measure(filtered, air, aluminium).hvl1;
    };
    const double lowest = hvlWith(0.0);
    if (hvl1 < lowest)
        throw std::runtime_error("--hvl1 " + Millimetres(hvl1, "%g") +
                                 ": the beam without added aluminium already has HVL1 " +
                                 Millimetres(lowest) + " mm Al, and aluminium only raises it");
    const double highest = hvlWith(kThickestFilter);
    if (hvl1 > highest)
        throw std::runtime_error("--hvl1 " + Millimetres(hvl1, "%g") + ": even " +
                                 Millimetres(kThickestFilter, "%g") +
                                 " mm of added aluminium gives only HVL1 " + Millimetres(highest) + " mm Al");
    // HVL1 rises with the added thickness, so the negated value falls.
    return Crossing([&](double t) { return -hvlWith(t); }, -hvl1, 0.0, kThickestFilter);
}

} // namespace spectrum

#include "XcomTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace matgen {

namespace {
constexpr double kNuclearPairThreshold = 1022.0;   // keV, 2 m c^2 as XCOM uses it
constexpr double kElectronPairThreshold = 2044.0;  // keV, 4 m c^2
} // namespace

std::string XcomTable::FileName(int Z, const std::string& symbol)
{
    char name[32];
    std::snprintf(name, sizeof name, "Z%03d_%s.txt", Z, symbol.c_str());
    return name;
}

XcomTable XcomTable::Load(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("Could not open file " + path);
    XcomTable table;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#')
            continue;
        const std::string where = " in " + path + " line " + std::to_string(lineNumber);
        std::istringstream fields(line);
        Row r{};
        if (!(fields >> r.energy >> r.coherent >> r.incoherent >> r.photo >> r.pairNuclear >> r.pairElectron))
            throw std::runtime_error("Error parsing: " + line + where);
        r.energy *= 1000.0;
        // Interpolation brackets by energy: a row out of order, or a repeated
        // energy that is not an edge (photo rising, nothing before it at that
        // energy), would silently pick the wrong interval.
        if (!table.rows_.empty()) {
            const Row& previous = table.rows_.back();
            if (r.energy < previous.energy)
                throw std::runtime_error("Energies not ascending" + where);
            const auto& rows = table.rows_;
            const bool edgePair = rows.size() < 2 || rows[rows.size() - 2].energy != r.energy;
            if (r.energy == previous.energy && (!edgePair || r.photo <= previous.photo))
                throw std::runtime_error("Repeated energy that is not an absorption edge" + where);
        }
        table.rows_.push_back(r);
    }
    if (table.rows_.size() < 2)
        throw std::runtime_error("No data in " + path);
    return table;
}

// Index i of the interval [E_i, E_i+1] holding `energy`; at an edge (two rows of
// one energy) the interval above the edge is chosen.
std::size_t XcomTable::Bracket(double energy) const
{
    if (energy < rows_.front().energy || energy > rows_.back().energy)
        throw std::runtime_error("energy outside the XCOM table");
    const auto upper = std::upper_bound(rows_.begin(), rows_.end(), energy,
                                        [](double e, const Row& r) { return e < r.energy; });
    std::size_t i = static_cast<std::size_t>(upper - rows_.begin());
    i = i == 0 ? 0 : i - 1;
    return std::min(i, rows_.size() - 2);
}

double XcomTable::LogLog(double energy, double Row::*column) const
{
    const std::size_t i = Bracket(energy);
    const Row& a = rows_[i];
    const Row& b = rows_[i + 1];
    if (a.*column <= 0.0 || b.*column <= 0.0 || a.energy == b.energy)
        return a.*column;
    const double t = std::log(energy / a.energy) / std::log(b.energy / a.energy);
    return std::exp(std::log(a.*column) + t * std::log(b.*column / a.*column));
}

double XcomTable::PairTerm(double energy, double Row::*column, double threshold) const
{
    if (energy <= threshold)
        return 0.0;
    auto reduced = [threshold](double e, double sigma) {
        const double f = 1.0 - threshold / e;
        return sigma / (f * f * f);
    };
    const std::size_t i = Bracket(energy);
    const Row& a = rows_[i];
    const Row& b = rows_[i + 1];
    if (b.*column <= 0.0)
        return 0.0;
    const double f = 1.0 - threshold / energy;
    // Between the threshold and the first non-zero point the reduced cross
    // section is taken as constant: it varies slowly there, the raw one does not.
    if (a.energy <= threshold || a.*column <= 0.0)
        return reduced(b.energy, b.*column) * f * f * f;
    const double t = std::log(energy / a.energy) / std::log(b.energy / a.energy);
    const double la = std::log(reduced(a.energy, a.*column));
    const double lb = std::log(reduced(b.energy, b.*column));
    return std::exp(la + t * (lb - la)) * f * f * f;
}

std::vector<double> XcomTable::Energies() const
{
    std::vector<double> energies;
    for (const Row& r : rows_) {
        if (energies.empty() || energies.back() != r.energy)
            energies.push_back(r.energy);
    }
    return energies;
}

double XcomTable::Photo(double energy) const { return LogLog(energy, &Row::photo); }
double XcomTable::Compton(double energy) const { return LogLog(energy, &Row::incoherent); }
double XcomTable::Rayleigh(double energy) const { return LogLog(energy, &Row::coherent); }

double XcomTable::Pair(double energy) const
{
    return PairTerm(energy, &Row::pairNuclear, kNuclearPairThreshold) +
           PairTerm(energy, &Row::pairElectron, kElectronPairThreshold);
}

} // namespace matgen

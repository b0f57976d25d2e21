#include "materials/ProbabilityTable.h"

#include "materials/DataLines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <limits>
#include <stdexcept>

namespace datastructures {

namespace {

std::size_t DefaultGammaCount(double precision)
{
    if (!(precision > 0.0))
        precision = 0.001;
    return static_cast<std::size_t>(std::floor(1.0 / precision)) + 1;
}

} // namespace

double InterpolateGamma(const double* values, std::size_t count, double u, double* span)
{
    const double g = u * static_cast<double>(count);
    const auto j = static_cast<std::size_t>(g < 0.0 ? 0.0 : g);
    const double f = g - static_cast<double>(j);
    if (!(f >= 0.0 && f <= 1.0))
        TableInfo::ThrowInvalidIndex();
    if (span)
        *span = j + 1 >= count ? 0.0 : values[j + 1] - values[j];
    if (j + 1 >= count)
        return values[count - 1];
    if (f == 0.0)
        return values[j];
    return (1.0 - f) * values[j] + f * values[j + 1];
}

std::vector<double> InvertDistribution(std::size_t count, const AngularDensity& density)
{
    const std::size_t fine = 4 * count;
    const double pi = 4.0 * std::atan(1.0);
    std::vector<double> mu(fine), cdf(fine, 0.0);
    for (std::size_t k = 0; k < fine; ++k)
        mu[k] = 2.0 * std::cos(static_cast<double>(fine - 1 - k) / static_cast<double>(fine - 1) * pi / 2.0) - 1.0;
    mu.front() = -1.0;
    mu.back() = 1.0;
    double previous = density(mu[0]);
    for (std::size_t k = 1; k < fine; ++k) {
        const double current = density(mu[k]);
        cdf[k] = cdf[k - 1] + 0.5 * (previous + current) * (mu[k] - mu[k - 1]);
        previous = current;
    }
    const double total = cdf.back();
    if (!(total > 0.0))
        throw std::runtime_error("Angular distribution without weight");
    std::vector<double> table(count);
    std::size_t k = 0;
    for (std::size_t j = 0; j < count; ++j) {
        const double target = static_cast<double>(j) / static_cast<double>(count) * total;
        while (k + 2 < fine && cdf[k + 1] < target)
            ++k;
        const double width = cdf[k + 1] - cdf[k];
        const double t = width > 0.0 ? (target - cdf[k]) / width : 0.0;
        table[j] = mu[k] + std::min(1.0, std::max(0.0, t)) * (mu[k + 1] - mu[k]);
    }
    return table;
}

ColumnFiller DensityFiller(const EnergyDensity& density)
{
    return [density](double energy, double* values, std::size_t count) {
        const auto column = InvertDistribution(count, [&](double mu) { return density(energy, mu); });
        std::copy(column.begin(), column.end(), values);
    };
}

std::string TableFileName(const std::string& name, std::uint32_t format)
{
    if (format == Coherent)
        return name + "_cv.xrc";
    if (format == Incoherent)
        return name + "_iv.xrc";
    throw std::runtime_error("Cannot dump data format: " + TableFormatName(format));
}

void DifferentialProbabilityTable::LoadDataFromStream(std::istream& in)
{
    loaded_ = false;
    try {
        Load(in);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("DifferentialProbabilityTable: ") + e.what());
    }
    loaded_ = true;
}

void DifferentialProbabilityTable::Load(std::istream& in)
{
    std::string line;
    if (!std::getline(in, line) || !IsTableHeader(line))
        throw std::runtime_error("Unknown file format");
    ReadTableHeader(line, info_);
    info_.SetupEnergyGrid();
    // Grown line by line, not sized from the header: corrupt counts must not reserve
    // memory that the file cannot fill. Segments follow each other in the values.
    values_.clear();
    for (const auto& s : info_.Segments()) {
        if (s.Gamma == 0)
            throw std::runtime_error("Not enough fields");
        for (std::size_t level = 0; level < s.Levels; ++level) {
            if (!materials::NextDataLine(in, line))
                throw std::runtime_error("Not enough lines");
            if (!materials::AppendNumbers(line, s.Gamma, values_))
                throw std::runtime_error("Not enough fields");
        }
    }
}

void DifferentialProbabilityTable::ComputeColumns(const ColumnFiller& fill)
{
    loaded_ = false;
    info_.SetupEnergyGrid();
    for (auto& g : info_.GammaValuesNumber) {
        if (g == 0)
            g = DefaultGammaCount(info_.IntegrationPrecision);
    }
    info_.SetupEnergyGrid();
    if (info_.TotalLevels() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw std::runtime_error("EnergyLevelsNumber too large");
    values_.assign(info_.TotalValues(), 0.0);

    struct Level {
        double energy;
        std::size_t first, gamma;
    };
    std::vector<Level> levels;
    for (const auto& s : info_.Segments()) {
        for (std::size_t k = 0; k < s.Levels; ++k)
            levels.push_back({s.Start + static_cast<double>(k) * s.Stride, s.FirstValue + k * s.Gamma, s.Gamma});
    }
    std::string error;
    const auto count = static_cast<std::int64_t>(levels.size());
#pragma omp parallel for schedule(dynamic)
    for (std::int64_t i = 0; i < count; ++i) {
        try {
            const Level& l = levels[static_cast<std::size_t>(i)];
            fill(l.energy, &values_[l.first], l.gamma);
        } catch (const std::exception& e) {
#pragma omp critical(tarvo_probability_table_error)
            if (error.empty())
                error = e.what();
        }
    }
    if (!error.empty())
        throw std::runtime_error(error);
    loaded_ = true;
}

void DifferentialProbabilityTable::Write(std::ostream& out, const std::string& name) const
{
    WriteTableHeader(out, info_, name);
    out << std::setprecision(std::numeric_limits<double>::max_digits10);
    for (const auto& s : info_.Segments()) {
        for (std::size_t level = 0; level < s.Levels; ++level) {
            const double* row = &values_[s.FirstValue + level * s.Gamma];
            for (std::size_t j = 0; j < s.Gamma; ++j)
                out << (j ? "\t" : "") << row[j];
            out << '\n';
        }
    }
}

DifferentialProbabilityTable::Levels DifferentialProbabilityTable::Lookup(double u, double energy) const
{
    Levels l;
    std::size_t index = 0;
    const EnergySegment& s = info_.Locate(energy, index, l.fraction);
    const std::size_t local = index - s.FirstLevel;
    const double* level = &values_[s.FirstValue + local * s.Gamma];
    l.below = InterpolateGamma(level, s.Gamma, u, &l.span);
    l.energyBelow = s.Start + static_cast<double>(local) * s.Stride;
    if (l.fraction == 0.0)
        return l;
    double spanAbove = 0.0;
    l.above = InterpolateGamma(level + s.Gamma, s.Gamma, u, &spanAbove);
    l.span = std::max(l.span, spanAbove);
    l.energyAbove = l.energyBelow + s.Stride;
    return l;
}

double DifferentialProbabilityTable::GetValue(double u, double energy) const
{
    if (!loaded_)
        return 1.0;
    const Levels l = Lookup(u, energy);
    if (l.fraction == 0.0)
        return l.below;
    return l.fraction == 1.0 ? l.above : (1.0 - l.fraction) * l.below + l.fraction * l.above;
}

double DifferentialProbabilityTable::GetValueByMomentumTransfer(double u, double energy, double& span) const
{
    span = 0.0;
    if (!loaded_)
        return 1.0;
    const Levels l = Lookup(u, energy);
    span = l.span;
    if (l.fraction == 0.0)
        return l.below;
    // x^2 = 2 C^2 E^2 (1 - mu), linear in E^2: exact where the angles do not
    // change with energy (Thomson) and where x does not (form-factor peak).
    const double e2 = energy * energy;
    const double below2 = l.energyBelow * l.energyBelow, above2 = l.energyAbove * l.energyAbove;
    const double w = (e2 - below2) / (above2 - below2);
    const double x2 = (1.0 - w) * (1.0 - l.below) * below2 + w * (1.0 - l.above) * above2;
    return std::min(1.0, std::max(-1.0, 1.0 - x2 / e2));
}

} // namespace datastructures

namespace materials {

bool TAngleTableCoefficients::LoadDataFromStream(std::istream& in)
{
    loaded_ = false;
    Table.LoadDataFromStream(in);
    loaded_ = true;
    return true;
}

std::size_t TThomsonCoefficients::GammaCount() const
{
    const std::size_t g = info_.GammaValuesNumber.empty() ? 0 : static_cast<std::size_t>(info_.GammaValuesNumber[0]);
    return g < 2 ? 1001 : g;
}

bool TThomsonCoefficients::LoadDataFromStream(std::istream& in)
{
    loaded_ = false;
    std::string line;
    if (!std::getline(in, line) || !datastructures::IsTableHeader(line))
        throw std::runtime_error("Unknown file format");
    datastructures::ReadTableHeader(line, info_);
    if (!NextDataLine(in, line))
        throw std::runtime_error("Not enough lines");
    values_.clear();
    if (!AppendNumbers(line, GammaCount(), values_))
        throw std::runtime_error("Not enough fields");
    loaded_ = true;
    return true;
}

void TThomsonCoefficients::Compute()
{
    values_ = datastructures::InvertDistribution(GammaCount(), [](double mu) { return 1.0 + mu * mu; });
    loaded_ = true;
}

double TThomsonCoefficients::GetCosTheta(double u) const
{
    if (!loaded_)
        return 1.0;
    return datastructures::InterpolateGamma(values_.data(), values_.size(), u);
}

} // namespace materials

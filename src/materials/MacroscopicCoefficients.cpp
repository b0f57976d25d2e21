#include "materials/MacroscopicCoefficients.h"

#include "materials/DataLines.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace materials {

namespace {

double Sum(const TLinearCoefficients& c, const TInteractionSelection& model)
{
    return (model.PhotoEffect ? c.PhotoEffect : 0.0) + (model.Compton ? c.Compton : 0.0) +
           (model.Rayleigh ? c.Rayleigh : 0.0) + (model.PairProduction ? c.PairProduction : 0.0);
}

void PrintEnergyRange(std::ostream& out, double low, double high)
{
    out << low;
    if (high != low)
        out << '-' << high;
    out << " keV";
}

} // namespace

bool TSimpleMacroscopicCoefficients::LoadDataFromStream(std::istream& in)
{
    double photo = 0.0, compton = 0.0, rayleigh = 0.0, pair = 0.0;
    if (!(in >> photo >> compton >> rayleigh >> pair))
        return false;
    SetFromValues(photo, compton, rayleigh, pair);
    return true;
}

void TSimpleMacroscopicCoefficients::SetFromValues(double photoEffect, double compton, double rayleigh,
                                                   double pairProduction)
{
    coefficients_.PhotoEffect = photoEffect;
    coefficients_.Compton = compton;
    coefficients_.Rayleigh = rayleigh;
    coefficients_.PairProduction = pairProduction;
    coefficients_.Total = photoEffect + compton + rayleigh + pairProduction;
    loaded_ = true;
}

void TSimpleMacroscopicCoefficients::UpdateTotal(const TInteractionSelection& model)
{
    coefficients_.Total = Sum(coefficients_, model);
}

void TSimpleMacroscopicCoefficients::Print(std::ostream& out) const
{
    out << "Compton: " << coefficients_.Compton << ", Rayleigh: " << coefficients_.Rayleigh
        << ", PhotoEffect: " << coefficients_.PhotoEffect << ", PairProduction: " << coefficients_.PairProduction;
}

bool TMacroscopicCoefficients::LoadDataFromStream(std::istream& in)
{
    loaded_ = false;
    records_.clear();
    std::string line;
    bool pending = false;  // a first line that is data, not a header
    if (std::getline(in, line)) {
        if (datastructures::IsTableHeader(line))
            datastructures::ReadTableHeader(line, info_);
        else
            pending = true;
    }
    const auto format = info_.DataFormat;
    if (format != datastructures::TCR && format != datastructures::PCR && format != datastructures::ACRP)
        throw std::runtime_error("Unknown DataFormat for Macroscopic Coefficients");
    info_.SetupEnergyGrid();

    double scale = 1.0;
    while (records_.size() < info_.TotalLevels() && (pending || std::getline(in, line))) {
        pending = false;
        if (line.compare(0, 10, "# Density:") == 0) {
            const double fileDensity = std::strtod(line.c_str() + 10, nullptr);
            if (fileDensity > 0.0) {
                if (info_.Density > 0.0)
                    scale = info_.Density / fileDensity;
                else
                    info_.Density = fileDensity;
            }
            continue;
        }
        const std::string data = StripComment(line);
        if (!data.empty())
            ReadRecord(data, scale);
    }
    if (records_.size() < info_.TotalLevels())
        throw std::runtime_error("Not enough lines");
    loaded_ = true;
    return true;
}

void TMacroscopicCoefficients::ReadRecord(const std::string& line, double scale)
{
    const bool withPair = info_.DataFormat == datastructures::ACRP;
    double v[4] = {0.0, 0.0, 0.0, 0.0};
    if (ParseNumbers(line, v, withPair ? 4 : 3) < (withPair ? 4u : 3u))
        throw std::runtime_error("Not enough fields reading Macroscopic Coefficients");
    TLinearCoefficients c;
    c.PhotoEffect = info_.DataFormat == datastructures::TCR ? v[0] - v[1] - v[2] : v[0];
    c.Compton = v[1];
    c.Rayleigh = v[2];
    c.PairProduction = v[3];
    c.PhotoEffect *= scale;
    c.Compton *= scale;
    c.Rayleigh *= scale;
    c.PairProduction *= scale;
    c.Total = c.PhotoEffect + c.Compton + c.Rayleigh + c.PairProduction;
    records_.push_back(c);
}

void TMacroscopicCoefficients::UpdateTotal(const TInteractionSelection& model)
{
    for (auto& r : records_)
        r.Total = Sum(r, model);
}

void TMacroscopicCoefficients::ThrowNotLoaded()
{
    throw std::runtime_error("Macroscopic coefficients not loaded");
}

void TMacroscopicCoefficients::Print(std::ostream& out) const
{
    PrintEnergyRange(out, info_.LowestEnergy(), info_.HighestEnergy());
}

} // namespace materials

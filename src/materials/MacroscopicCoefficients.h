#pragma once

#include "materials/LinearCoefficients.h"
#include "materials/MaterialComponent.h"
#include "materials/TableInfo.h"

#include <ostream>
#include <vector>

namespace materials {

// A material's attenuation provider: constant or tabulated over energy.
class TBasicMacroscopicCoefficients : public TBasicMaterialPropertiesComponent {
public:
    // Total = the sum of the selected interactions' coefficients.
    virtual void UpdateTotal(const TInteractionSelection& model) = 0;
    virtual TLinearCoefficients GetCoefficients(double energy) const = 0;
    double GetTotal(double energy) const { return GetCoefficients(energy).Total; }
    double GetPhotoEffect(double energy) const { return GetCoefficients(energy).PhotoEffect; }
    double GetCompton(double energy) const { return GetCoefficients(energy).Compton; }
    double GetRayleigh(double energy) const { return GetCoefficients(energy).Rayleigh; }
    double GetPairProduction(double energy) const { return GetCoefficients(energy).PairProduction; }
    virtual void Print(std::ostream& out) const = 0;
};

// Four energy-independent coefficients from the materials file.
class TSimpleMacroscopicCoefficients : public TBasicMacroscopicCoefficients {
public:
    // Photo effect, Compton, Rayleigh and pair production as four numbers.
    bool LoadDataFromStream(std::istream& in) override;
    void SetFromValues(double photoEffect, double compton, double rayleigh, double pairProduction);
    void UpdateTotal(const TInteractionSelection& model) override;
    TLinearCoefficients GetCoefficients(double) const override { return coefficients_; }
    void Print(std::ostream& out) const override;

private:
    TLinearCoefficients coefficients_;
};

// Coefficients tabulated on the energy grid of a table configuration, read
// from a coefficient file (formats TCR, PCR, ACRP) and interpolated linearly.
class TMacroscopicCoefficients : public TBasicMacroscopicCoefficients {
public:
    datastructures::TableInfo& Configuration() { return info_; }
    const datastructures::TableInfo& Configuration() const { return info_; }

    // Reads an optional "#Tarvo" header, sets up the grid (Configuration()'s
    // MaxEnergy and Density must be set), then one data line per level.
    bool LoadDataFromStream(std::istream& in) override;
    void UpdateTotal(const TInteractionSelection& model) override;
    TLinearCoefficients GetCoefficients(double energy) const override
    {
        if (!loaded_)
            ThrowNotLoaded();
        std::size_t i = 0;
        double f = 0.0;
        info_.Locate(energy, i, f);
        const TLinearCoefficients& a = records_[i];
        if (f == 0.0)
            return a;
        const TLinearCoefficients& b = records_[i + 1];
        const double g = 1.0 - f;
        return {g * a.Total + f * b.Total, g * a.PhotoEffect + f * b.PhotoEffect, g * a.Compton + f * b.Compton,
                g * a.Rayleigh + f * b.Rayleigh, g * a.PairProduction + f * b.PairProduction};
    }
    // The energy range, "low-high keV".
    void Print(std::ostream& out) const override;

private:
    datastructures::TableInfo info_;
    std::vector<TLinearCoefficients> records_;

    void ReadRecord(const std::string& line, double scale);
    [[noreturn]] static void ThrowNotLoaded();
};

} // namespace materials

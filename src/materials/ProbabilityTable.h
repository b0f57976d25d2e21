#pragma once

#include "materials/MaterialComponent.h"
#include "materials/TableInfo.h"

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace datastructures {

// Angular density in mu = cos(theta), unnormalised.
using AngularDensity = std::function<double(double mu)>;

// Inverse distribution function of `density` on [-1, 1] at u = j / count,
// j = 0 .. count - 1, found on a fine grid of 4 * count points crowded towards
// mu = +1 (where scattering peaks) with linear interpolation between them.
std::vector<double> InvertDistribution(std::size_t count, const AngularDensity& density);

// Value at u of `count` values standing for u = j / count, linear between
// them, the last value from u = (count - 1) / count on; "Invalid array index!"
// for u outside [0, 1]. With `span`, the step between the two values used.
double InterpolateGamma(const double* values, std::size_t count, double u, double* span = nullptr);

// Writes the `count` values of a table level at `energy` (entry j for u = j / count).
using ColumnFiller = std::function<void(double energy, double* values, std::size_t count)>;
using EnergyDensity = std::function<double(double energy, double mu)>;
// A filler inverting the density at each level's energy with InvertDistribution.
ColumnFiller DensityFiller(const EnergyDensity& density);

// cos(theta) as a function of a uniform number u (gamma) and of the photon
// energy: per energy level G values, entry j standing for u = j / G.
class DifferentialProbabilityTable {
public:
    TableInfo& Configuration() { return info_; }
    const TableInfo& Configuration() const { return info_; }
    bool IsLoaded() const { return loaded_; }

    // "#Tarvo" header, then one line of G values per level. Errors carry the
    // prefix "DifferentialProbabilityTable: ".
    void LoadDataFromStream(std::istream& in);
    // Fills the table level by level (levels in parallel); a segment without
    // gamma count gets floor(1 / precision) + 1.
    void ComputeColumns(const ColumnFiller& fill);
    // From the angular density at each level's energy (DensityFiller).
    void Compute(const EnergyDensity& density) { ComputeColumns(DensityFiller(density)); }
    // Header, per-segment comments and one tab-separated line per level.
    void Write(std::ostream& out, const std::string& name) const;

    // Linear in u and in energy; energy errors as for attenuation tables. A
    // table that is not loaded yields 1 (forward scattering).
    double GetValue(double u, double energy) const;
    // Like GetValue, but between levels the momentum transfer x^2 ~ E^2 (1 - mu)
    // is interpolated linearly in E^2 rather than cos(theta) in E (the Rayleigh
    // distribution narrows like 1/E^2 once the form factor dominates); `span`
    // is the wider cos(theta) step between the entries interpolated in u.
    double GetValueByMomentumTransfer(double u, double energy, double& span) const;

private:
    TableInfo info_;
    std::vector<double> values_;
    bool loaded_ = false;

    // The values at u of the levels around an energy: `below` alone when the
    // energy is on a level (fraction 0), else also `above` and their energies.
    struct Levels {
        double below = 0.0, above = 0.0, energyBelow = 0.0, energyAbove = 0.0, fraction = 0.0, span = 0.0;
    };
    Levels Lookup(double u, double energy) const;
    void Load(std::istream& in);
};

// The file a computed table is saved to: name + "_cv" (coherent) or "_iv"
// (incoherent) + ".xrc"; throws "Cannot dump data format: " otherwise.
std::string TableFileName(const std::string& name, std::uint32_t format);

} // namespace datastructures

namespace materials {

// An energy-dependent angle table of the common material or of a material.
class TAngleTableCoefficients : public TBasicMaterialPropertiesComponent {
public:
    explicit TAngleTableCoefficients(std::uint32_t format) { Table.Configuration().DataFormat = format; }
    bool LoadDataFromStream(std::istream& in) override;
    void MarkComputed() { loaded_ = Table.IsLoaded(); }

    datastructures::DifferentialProbabilityTable Table;
};

class TKleinNishinaCoefficients : public TAngleTableCoefficients {
public:
    TKleinNishinaCoefficients() : TAngleTableCoefficients(datastructures::Incoherent) {}
};

class TTotalComptonCoefficients : public TAngleTableCoefficients {
public:
    TTotalComptonCoefficients() : TAngleTableCoefficients(datastructures::Incoherent) {}
};

class TTotalRayleighCoefficients : public TAngleTableCoefficients {
public:
    TTotalRayleighCoefficients() : TAngleTableCoefficients(datastructures::Coherent) {}
};

// The energy-independent Thomson angle table of the common material.
class TThomsonCoefficients : public TBasicMaterialPropertiesComponent {
public:
    datastructures::TableInfo& Configuration() { return info_; }
    const datastructures::TableInfo& Configuration() const { return info_; }

    // "#Tarvo" header with the gamma count, then the G values.
    bool LoadDataFromStream(std::istream& in) override;
    // From the density 1 + mu^2; G is the first gamma count, 1001 below 2.
    void Compute();
    std::size_t GammaCount() const;
    // Linear in u; 1 (forward) when not loaded.
    double GetCosTheta(double u) const;
    const std::vector<double>& Values() const { return values_; }

private:
    datastructures::TableInfo info_;
    std::vector<double> values_;
};

} // namespace materials

#pragma once

#include "materials/MaterialComponent.h"
#include "materials/TableInfo.h"

#include <cstddef>
#include <vector>

namespace materials {

struct TFluorescenceLine {
    double Energy = 0.0;       // keV
    double Probability = 0.0;  // per vacancy of the shell
    int Kind = 0;              // 0 X-ray photon, 1 Auger electron
};

struct TFluorescenceShell {
    double BindingEnergy = 0.0;  // keV
    std::vector<TFluorescenceLine> Lines;
};

// Per material: for each energy of the grid the probability that a photo
// absorption (or an electron-impact ionisation) happens in each shell, and per
// shell its binding energy and emission lines.
class TFluorescenceData : public TBasicMaterialPropertiesComponent {
public:
    datastructures::TableInfo& Configuration() { return info_; }
    const datastructures::TableInfo& Configuration() const { return info_; }

    // Header, one line per energy level (S photo probabilities, S
    // electron-impact values and their sum), then one line per shell. Errors
    // carry the prefix "FluorescenceData: ".
    bool LoadDataFromStream(std::istream& in) override;

    std::size_t ShellCount() const { return shells_.size(); }
    const TFluorescenceShell& Shell(std::size_t i) const { return shells_[i]; }
    // Photo-absorption probability of `shell` at `energy`, interpolated.
    double PhotoProbability(std::size_t shell, double energy) const;
    // The shell in which an absorption at `energy` happens for the uniform
    // number `u`, or -1 when it happens in none of the listed shells.
    int SampleShell(double energy, double u) const;
    // Electron-impact value of `shell`, and (shell == ShellCount()) their sum.
    double ElectronImpactValue(std::size_t shell, double energy) const;

    bool AllFluorescence = false;

private:
    datastructures::TableInfo info_;
    std::vector<double> photo_;     // levels x S
    std::vector<double> electron_;  // levels x (S + 1)
    std::vector<TFluorescenceShell> shells_;

    void Load(std::istream& in);
    static double Interpolate(const std::vector<double>& values, std::size_t stride, std::size_t column,
                              std::size_t index, double fraction);
};

} // namespace materials

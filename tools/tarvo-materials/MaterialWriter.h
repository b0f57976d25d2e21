#pragma once

#include "ElectronPhysics.h"
#include "EnergyGrid.h"
#include "MaterialPhysics.h"

#include <string>
#include <vector>

namespace matgen {

// File names of one material's data, relative to the materials directory.
struct MaterialFiles {
    std::string attenuation, scatteringFunction, formFactor, fluorescence, electron, bremsstrahlung;
    static MaterialFiles For(const std::string& name);
};

void WriteAttenuationTable(const std::string& path, const MaterialPhysics& physics,
                           const std::vector<GridSegment>& grid);
void WriteScatterFile(const std::string& path, const MaterialPhysics& physics, bool formFactor);
void WriteFluorescenceFile(const std::string& path, const MaterialPhysics& physics,
                           const std::vector<GridSegment>& grid, double minEnergy);

// Stopping powers, CSDA ranges and elastic transport cross sections of
// electrons and positrons; and the bremsstrahlung spectra, both on `grid` (keV).
void WriteElectronFile(const std::string& path, const std::string& name, const ElectronPhysics& physics,
                       const std::vector<double>& grid);
void WriteBremsstrahlungFile(const std::string& path, const std::string& name, const ElectronPhysics& physics,
                             const std::vector<double>& grid);

// The materials file naming every material with all its data files.
void WriteMaterialsFile(const std::string& path, const std::vector<MaterialPhysics>& materials,
                        double referenceEnergy);

} // namespace matgen

#pragma once

#include "materials/Material.h"
#include "materials/MaterialProperties.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace inifiles {
class TIniFileStructure;
}

namespace materials {

// Every material the scene's parts name, in order of first use, plus the
// common material with the material-independent tables.
class TMaterialsList {
public:
    // `properties` outlives the list; Load reads MaxEnergy and the switches
    // from it and sets MinEnergy (and MinElectronEnergy) there.
    explicit TMaterialsList(MaterialProperties* properties);

    // No material for an empty name or "void" (any case); else the material
    // of that name, appended when new.
    TMaterial* GetMaterial(const std::string& name);

    // Reads the materials file (section Materials, one subsection per
    // material; top-level KleinNishina and Thomson sections for the common
    // material), loads every material's data and checks the energy range.
    // Progress and errors go to `sink`; throws "Error loading materials data",
    // "Not enough data below <MinEnergy> keV" and the file's own errors.
    void Load(const std::string& fileName, const MessageSink& sink);
    void Load(const inifiles::TIniFileStructure& file, const MessageSink& sink);

    // "Materials Summary:" with the common material and every material.
    void PrintSummary(std::ostream& out) const;

    // Recomputes every material's total attenuation from the interactions the run simulates.
    void UpdateTotals(const TInteractionSelection& selection);

    std::size_t Count() const { return materials_.size(); }
    TMaterial& Material(std::size_t index) const { return *materials_.at(index); }
    const TCommonMaterial& Common() const { return common_; }
    MaterialProperties& Properties() const { return *properties_; }

private:
    MaterialProperties* properties_;
    TCommonMaterial common_;
    std::vector<std::unique_ptr<TMaterial>> materials_;
};

} // namespace materials

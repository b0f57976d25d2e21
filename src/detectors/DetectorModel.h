#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "materials/TableInfo.h"

class IScene;

namespace inifiles {
class TIniFileSection;
class TIniFileStructure;
} // namespace inifiles

// How a real detector responds to a particle that reaches it: which particle types it
// sees, the fraction of an incident photon it detects and the energy it records.
// Models are defined by name in the "Detectors" section; detectors share them. The
// model with the empty name, and any model without "DataFile", is ideal: every
// particle of an accepted type registers unchanged.
class DetectorModel {
public:
    struct DataPair {
        double Response = 0; // detection probability, or its exponent ln(1 - r) with AngleCorrection
        double Energy = 0;   // detected energy (keV)
    };

    explicit DetectorModel(std::string name);

    // Reads the model from `section` if that is named like the model, else from its
    // subsection of that name (any case). Errors: "DetectorModel::Load: " + text, and
    // for data-file errors + " (model " + name + ", file " + file + ")".
    void Load(const inifiles::TIniFileSection& section);

    bool Accepts(std::uint32_t particleType) const {
        return particleType == 0   ? DetectPhotons
               : particleType == 1 ? DetectElectrons
               : particleType == 2 ? DetectPositrons
                                   : true;
    }
    // Whether registration needs the incidence cosine.
    bool IsAngleCorrected() const { return AngleCorrection; }
    // Whether a particle of that type registers as it arrives: accepted, its energy and
    // weight unchanged and no incidence cosine needed. One test for the common case.
    bool TakesUnchanged(std::uint32_t particleType) const {
        return ((UnchangedTypes >> (particleType < 3 ? particleType : 3)) & 1u) != 0;
    }
    // The detected energy and weight of a particle of that type, energy and weight
    // arriving at incidence cosine `cosine`; photons only, unchanged below the table.
    void Apply(std::uint32_t particleType, double& energy, double& weight, double cosine) const;
    // "name, simple[, angle corrected]" or "ideal", then the three type switches.
    std::string Description() const;
    const std::string& GetName() const { return Name; }
    bool IsIdeal() const { return Ideal; }
    bool IsLoaded() const { return Loaded; }

private:
    void ReadTypeKeys(const inifiles::TIniFileSection& section);
    void ReadDataFile(const std::string& fileName);
    void ReadTable(std::istream& in, std::uint32_t format);
    DataPair Lookup(double energy) const;
    void UpdateUnchangedTypes();

    std::string Name;
    bool Ideal = true;
    bool Simple = true;
    bool AngleCorrection = false;
    bool DetectPhotons = true;
    bool DetectElectrons = true;
    bool DetectPositrons = true;
    bool Loaded = false;
    // Bit t for the types t (photon, electron, positron; 3: any other) that TakesUnchanged.
    std::uint32_t UnchangedTypes = 0xf;
    // "simpledet": one pair per level of Grid; "simpledetspline": pairs at Energies.
    bool Spline = false;
    datastructures::TableInfo Grid;
    std::vector<double> Energies;
    std::vector<DataPair> Data;
    double LowestEnergy = 0;
};

// Loads every model the scene's detectors named from the "Detectors" section of
// `definitions` ("DetectorModel not found: " + name when it has none of that name).
void LoadDetectorModels(IScene& scene, const inifiles::TIniFileStructure& definitions);

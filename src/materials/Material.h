#pragma once

#include "materials/ElectronData.h"
#include "materials/FluorescenceData.h"
#include "materials/FormFactorIntegral.h"
#include "materials/MacroscopicCoefficients.h"
#include "materials/MaterialProperties.h"
#include "materials/ProbabilityTable.h"
#include "materials/ScatterData.h"

#include <functional>
#include <ostream>
#include <string>

namespace inifiles {
class TIniFileElement;
class TIniFileSection;
}

namespace materials {

class TMaterialsList;

// Receives what loading tells the user: progress pieces of one line (labels
// such as " Macro", closed by "\n") and error texts (isError set).
using MessageSink = std::function<void(const std::string& text, bool isError)>;

class TBasicMaterial {
public:
    TBasicMaterial(TMaterialsList* owner, std::string name) : owner_(owner), name_(std::move(name)) {}
    virtual ~TBasicMaterial() = default;
    TBasicMaterial(const TBasicMaterial&) = delete;
    TBasicMaterial& operator=(const TBasicMaterial&) = delete;

    const std::string& GetName() const { return name_; }
    TMaterialsList* GetOwner() const { return owner_; }

private:
    TMaterialsList* owner_;
    std::string name_;
};

// A loadable item with its table configuration (where it has one) and the
// decision whether it is to be loaded.
struct TBasicMaterialProperties {
    virtual ~TBasicMaterialProperties() = default;
};

struct TMaterialProperties : TBasicMaterialProperties {
    double Z = 0.0;
    double A = 0.0;
    double Density = 0.0;
    TSimpleMacroscopicCoefficients SimpleCoefficients;
    TMacroscopicCoefficients Coefficients;
    TScatteringFunctionCoefficients ScatteringFunction;
    TAtomicFormFactorCoefficients FormFactor;
    // Built with F(x): exact Rayleigh angles for the analytical sampler, the
    // computed total-Rayleigh table and that table's backward tail.
    TFormFactorIntegral FormFactorIntegral;
    TTotalComptonCoefficients TotalCompton;
    TTotalRayleighCoefficients TotalRayleigh;
    TFluorescenceData Fluorescence;
    TElectronData ElectronData;
    std::string ScatteringFunctionFile, FormFactorFile;
    bool LoadSimple = false, LoadMacro = false, LoadScatteringFunction = false, LoadFormFactor = false,
         LoadTotalCompton = false, LoadTotalRayleigh = false, LoadFluorescence = false;
    // A part with electron transport is made of this material.
    bool UsedWithElectronTransport = false;
};

struct TCommonMaterialProperties : TBasicMaterialProperties {
    TKleinNishinaCoefficients KleinNishina;
    TThomsonCoefficients Thomson;
    bool LoadKleinNishina = false, LoadThomson = false;
};

class TMaterial : public TBasicMaterial {
public:
    using TBasicMaterial::TBasicMaterial;

    // Reads the material's subsection of the materials file (what to load and
    // from where) under the run-wide switches.
    void ReadConfiguration(const inifiles::TIniFileSection& section, const MaterialProperties& switches);
    // Loads every requested component, announcing each label; false if any
    // failed (each failure reported on the sink with " for <label>").
    bool LoadData(const inifiles::TIniFileSection& section, const MaterialProperties& switches,
                  const MessageSink& sink);
    // Lowest energy all loaded energy-dependent data cover (0 if none).
    double LowestEnergy() const;
    void PrintSummary(std::ostream& out, const MaterialProperties& switches) const;

    // The attenuation provider transport uses, by UseTabulatedMacroscopicCoefficients.
    const TBasicMacroscopicCoefficients& Attenuation(const MaterialProperties& switches) const;

    TMaterialProperties Properties;

private:
    void LoadElectronData(const inifiles::TIniFileSection& section, const MaterialProperties& switches);
};

class TCommonMaterial : public TBasicMaterial {
public:
    explicit TCommonMaterial(TMaterialsList* owner) : TBasicMaterial(owner, "CommonMaterial") {}

    // Reads the top-level KleinNishina and Thomson sections of the materials file.
    void ReadConfiguration(const inifiles::TIniFileSection* kleinNishina, const inifiles::TIniFileSection* thomson,
                           const MaterialProperties& switches);
    // Computed tables that are to be saved go beside `directoryOf`'s base path.
    bool LoadData(const inifiles::TIniFileElement& directoryOf, const MessageSink& sink);
    double LowestEnergy() const;
    void PrintSummary(std::ostream& out) const;

    TCommonMaterialProperties Properties;
};

} // namespace materials

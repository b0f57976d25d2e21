#pragma once

// Everything the interactions read from a material, in one place.

#include "materials/LinearCoefficients.h"

#include <string>

namespace materials {
class TMaterial;
class TScatterData;
class TFormFactorIntegral;
class TFluorescenceData;
struct MaterialProperties;
} // namespace materials

namespace interactions {

double MaterialZ(const materials::TMaterial* material);
const std::string& MaterialName(const materials::TMaterial* material);
// The run-wide switches of the materials list the material belongs to.
const materials::MaterialProperties& MaterialSettings(const materials::TMaterial* material);
// Coefficients at `energy` from the table or the constants, as the settings choose.
materials::TLinearCoefficients MaterialCoefficients(const materials::TMaterial* material, double energy);

const materials::TScatterData& ScatteringFunction(const materials::TMaterial* material);
const materials::TScatterData& FormFactor(const materials::TMaterial* material);
// Null when the material's F(x) is not loaded.
const materials::TFormFactorIntegral* FormFactorIntegral(const materials::TMaterial* material);
// Null when the material has no fluorescence data loaded.
const materials::TFluorescenceData* FluorescenceData(const materials::TMaterial* material);

// Angle tables: the common Klein-Nishina and Thomson tables, and the
// material's own total-Compton and total-Rayleigh tables.
double KleinNishinaTableCosTheta(const materials::TMaterial* material, double u, double energy);
double ThomsonTableCosTheta(const materials::TMaterial* material, double u);
double TotalComptonTableCosTheta(const materials::TMaterial* material, double u, double energy);
double TotalRayleighTableCosTheta(const materials::TMaterial* material, double u, double energy);

} // namespace interactions

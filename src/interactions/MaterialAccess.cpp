#include "interactions/MaterialAccess.h"

#include "materials/MaterialsList.h"

namespace interactions {

namespace {

const materials::TCommonMaterial& Common(const materials::TMaterial* material) {
    return material->GetOwner()->Common();
}

} // namespace

double MaterialZ(const materials::TMaterial* material) {
    return material->Properties.Z;
}

const std::string& MaterialName(const materials::TMaterial* material) {
    return material->GetName();
}

const materials::MaterialProperties& MaterialSettings(const materials::TMaterial* material) {
    return material->GetOwner()->Properties();
}

materials::TLinearCoefficients MaterialCoefficients(const materials::TMaterial* material, double energy) {
    return material->Attenuation(MaterialSettings(material)).GetCoefficients(energy);
}

const materials::TScatterData& ScatteringFunction(const materials::TMaterial* material) {
    return material->Properties.ScatteringFunction;
}

const materials::TScatterData& FormFactor(const materials::TMaterial* material) {
    return material->Properties.FormFactor;
}

const materials::TFluorescenceData* FluorescenceData(const materials::TMaterial* material) {
    const auto& data = material->Properties.Fluorescence;
    return data.IsLoaded() ? &data : nullptr;
}

double KleinNishinaTableCosTheta(const materials::TMaterial* material, double u, double energy) {
    return Common(material).Properties.KleinNishina.Table.GetValue(u, energy);
}

double ThomsonTableCosTheta(const materials::TMaterial* material, double u) {
    return Common(material).Properties.Thomson.GetCosTheta(u);
}

double TotalComptonTableCosTheta(const materials::TMaterial* material, double u, double energy) {
    return material->Properties.TotalCompton.Table.GetValue(u, energy);
}

double TotalRayleighTableCosTheta(const materials::TMaterial* material, double u, double energy) {
    const auto& p = material->Properties;
    double span = 0.0;
    const double mu = p.TotalRayleigh.Table.GetValueByMomentumTransfer(u, energy, span);
    if (!p.FormFactorIntegral.IsBuilt())
        return mu;
    // Between two entries the table spreads its photons evenly. Where they lie
    // far apart (the backward tail of a forward peak: the first step alone
    // runs from -1 to entry 1) that would flatten the tail, so there the
    // exact inverse is used; it is needed for a few percent of u at most.
    constexpr double kWideStep = 0.01;
    return span > kWideStep ? p.FormFactorIntegral.CosTheta(u, energy) : mu;
}

const materials::TFormFactorIntegral* FormFactorIntegral(const materials::TMaterial* material) {
    const auto& integral = material->Properties.FormFactorIntegral;
    return integral.IsBuilt() ? &integral : nullptr;
}

} // namespace interactions

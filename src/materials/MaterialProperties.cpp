#include "materials/MaterialProperties.h"

#include "inifiles/IniValues.h"

namespace materials {

void ReadMaterialProperties(const inifiles::TIniFileSection& section, MaterialProperties& properties) {
    using inifiles::ReadOptional;
    ReadOptional(section, "UseTabulatedMacroscopicCoefficients",
                 properties.UseTabulatedMacroscopicCoefficients);
    ReadOptional(section, "UseTabulatedKleinNishina", properties.UseTabulatedKleinNishina);
    ReadOptional(section, "UseTabulatedThomson", properties.UseTabulatedThomson);
    ReadOptional(section, "UseTabulatedTotalCompton", properties.UseTabulatedTotalCompton);
    ReadOptional(section, "UseTabulatedTotalRayleigh", properties.UseTabulatedTotalRayleigh);
    ReadOptional(section, "EmitBremsstrahlung", properties.EmitBremsstrahlung);
    ReadOptional(section, "BremsstrahlungAngular", properties.BremsstrahlungAngular);
    ReadOptional(section, "AllBremsstrahlung", properties.AllBremsstrahlung);
    ReadOptional(section, "Fluorescence", properties.Fluorescence);
    ReadOptional(section, "AllFluorescence", properties.AllFluorescence);
    ReadOptional(section, "MinEnergy", properties.MinEnergy);
    ReadOptional(section, "FullPhysicsThreshold", properties.FullPhysicsThreshold);
    ReadOptional(section, "Emic", properties.Emic);
    ReadOptional(section, "MinElectronEnergy", properties.MinElectronEnergy);
    ReadOptional(section, "AugerProbability", properties.AugerProbability);
    ReadOptional(section, "FluorescenceElectronProbability", properties.FluorescenceElectronProbability);
}

} // namespace materials

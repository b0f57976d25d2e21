#pragma once

namespace inifiles {
class TIniFileSection;
}

namespace materials {

// The run-wide physics switches and cut-off energies of the application
// configuration's [MaterialProperties] section (energies in keV). One record per
// configuration, held by the simulation parameters and shared by pointer with the
// materials list; read-only while tracers run.
struct MaterialProperties {
    // Transport uses each material's attenuation table, not its constant coefficients.
    bool UseTabulatedMacroscopicCoefficients = true;
    // Simple Compton / Rayleigh sampling from the common Klein-Nishina / Thomson tables.
    bool UseTabulatedKleinNishina = true;
    bool UseTabulatedThomson = true;
    // Full-physics Compton / Rayleigh sampling from each material's total tables.
    bool UseTabulatedTotalCompton = true;
    bool UseTabulatedTotalRayleigh = true;
    // No key: a copy of [Physics] ElectronTransport, and set while loading when
    // any part transports electrons.
    bool ElectronTransport = false;
    bool EmitBremsstrahlung = true;
    bool BremsstrahlungAngular = false; // else isotropic
    bool AllBremsstrahlung = false;
    bool Fluorescence = false;
    bool AllFluorescence = false;
    // Photon cut-off; <= 0: the lowest energy that all data cover.
    double MinEnergy = 0;
    // No key: the largest source energy, set when the scene is loaded.
    double MaxEnergy = 0;
    // At and below it the total (scattering function / form factor) cross sections apply.
    double FullPhysicsThreshold = 0;
    double Emic = 11.0;
    double MinElectronEnergy = 11.0;
    double AugerProbability = 0;
    double FluorescenceElectronProbability = 0;
};

// Reads the keys of `section` into `properties`; a missing key keeps its value,
// a malformed one throws the typed getters' message.
void ReadMaterialProperties(const inifiles::TIniFileSection& section, MaterialProperties& properties);

} // namespace materials

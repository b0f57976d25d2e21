#pragma once

namespace materials {

// Linear attenuation coefficients of one material at one energy, per scene
// length unit. Total is the sum over the interactions the model contains.
struct TLinearCoefficients {
    double Total = 0.0;
    double PhotoEffect = 0.0;
    double Compton = 0.0;
    double Rayleigh = 0.0;
    double PairProduction = 0.0;
};

// Which interactions enter the total (see UpdateTotal of the coefficient providers).
struct TInteractionSelection {
    bool PhotoEffect = true;
    bool Compton = true;
    bool Rayleigh = true;
    bool PairProduction = true;
};

} // namespace materials

#pragma once

#include <cmath>

namespace interactions {

// Electron rest energy in keV.
constexpr double kElectronMass = 510.9991697550785;
constexpr double kFineStructure = 0.0072973525698;
// Momentum transfer in keV to x = sin(theta/2)/lambda in 1/Angstrom.
constexpr double kMomentumTransfer = 20.607439686553477 / 510.9991697550785;

inline double Pi() {
    return 4.0 * std::atan(1.0);
}

} // namespace interactions

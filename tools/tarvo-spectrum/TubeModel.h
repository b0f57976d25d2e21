#pragma once

// The photons a tungsten anode sends along the central ray of an X-ray tube:
//
// Bremsstrahlung follows Kramers' law (H. A. Kramers, Phil. Mag. 46 (1923)
// 836): an electron slowing down in a thick target emits, per keV of energy
// it loses, the same intensity k Z into every photon energy below its own
// kinetic energy, so that the whole target gives k Z (E0 - E) keV per keV at
// photon energy E. Where the photons are made follows from the
// Thomson-Whiddington law T^2 = E0^2 - C rho x (kinetic energy T at mass
// depth rho x), and on their way out they cross rho x / sin(anode angle) of
// tungsten. This is the model of R. Birch and M. Marshall, Phys. Med. Biol.
// 24 (1979) 505, with their Thomson-Whiddington constants for tungsten as
// tabulated by D. M. Tucker, G. T. Barnes and D. P. Chakraborty, Med. Phys.
// 18 (1991) 402 (50-200 keV, interpolated linearly, extrapolated below
// 50 keV), without their empirical correction of the shape.
//
// The W K lines: the number of K photons per electron is Tucker et al.'s
// relation N_K = A_K (E0/E_K - 1)^n_K, made at depths distributed as
// (3/2R)(1 - (x/R)^2) up to the depth R where the electrons fall below the K
// edge, and self-absorbed like the bremsstrahlung. N_K is shared among the
// lines by xraylib's radiative rates, at xraylib's line energies.
//
// Attenuation in tungsten comes from the XCOM tables (narrow beam).

#include "Absorber.h"

#include <string>
#include <vector>

namespace spectrum {

struct TubeSettings {
    double voltage = 0.0;     // kV; the electrons' energy in keV (constant potential)
    double anodeAngle = 12.0; // degrees between the anode face and the central ray
    double binWidth = 0.5;    // keV
};

// A bin of the continuum (energy at its centre) or a characteristic line
// (with its name); intensity in photons per steradian per electron.
struct SpectrumEntry {
    double energy = 0.0;
    double intensity = 0.0;
    std::string line;
};

// Bins of `binWidth` from the first multiple of it at or above 1 keV up to
// the tube voltage, then the K lines when the voltage exceeds the K edge.
std::vector<SpectrumEntry> AnodeSpectrum(const TubeSettings& settings, const Absorber& tungsten);

// The model, its constants and their sources, one line of text each.
std::vector<std::string> ModelDescription(const TubeSettings& settings);

// keV^2 cm^2/g at electron energy `voltage` keV.
double ThomsonWhiddingtonConstant(double voltage);

} // namespace spectrum

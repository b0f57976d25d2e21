#include "TubeModel.h"

#include "XraylibCall.h"

#include <xraylib.h>

#include <cmath>
#include <cstdio>
#include <iterator>

namespace spectrum {

namespace {

const double kPi = 4.0 * std::atan(1.0);
constexpr int kTungsten = 74;
// Kramers' constant: the thick-target efficiency k Z E0 / 2 equals the usual
// 1.1e-9 Z V (V in volts), so k = 2.2e-6 per keV.
constexpr double kKramers = 2.2e-6;
constexpr double kLowestEnergy = 1.0; // keV, where the XCOM tables begin
// Tucker et al.'s K-line yield of tungsten (photons per electron) and exponent.
constexpr double kLineYield = 1.349e-3;
constexpr double kLineExponent = 1.648;
// Lines weaker than this share of the K vacancies are left out.
constexpr double kSmallestRate = 0.01;

struct TwPoint {
    double voltage;  // keV
    double constant; // keV^2 cm^2/g
};
constexpr TwPoint kThomsonWhiddington[] = {
    {50.0, 5.4e5}, {75.0, 6.25e5}, {100.0, 7.0e5}, {150.0, 8.4e5}, {200.0, 1.0e6}};

// IUPAC names of the K lines, indexed by -(xraylib line macro) - 1.
const char* const kKLineNames[] = {"K-L1", "K-L2", "K-L3", "K-M1", "K-M2", "K-M3", "K-M4", "K-M5",
                                   "K-N1", "K-N2", "K-N3", "K-N4", "K-N5", "K-N6", "K-N7"};

// Adaptive Simpson's rule: an interval is halved until its halves agree with it
// to `tolerance` (absolute); the fixed depth bound keeps it finite on any input.
template <typename F>
double Refine(F& f, double a, double b, double fa, double fm, double fb, double whole, double tolerance,
              int depth) {
    const double m = 0.5 * (a + b);
    const double flm = f(0.5 * (a + m));
    const double frm = f(0.5 * (m + b));
    const double left = (m - a) / 6.0 * (fa + 4.0 * flm + fm);
    const double right = (b - m) / 6.0 * (fm + 4.0 * frm + fb);
    const double error = left + right - whole;
    if (depth == 0 || std::fabs(error) <= 15.0 * tolerance)
        return left + right + error / 15.0;
    return Refine(f, a, m, fa, flm, fm, left, 0.5 * tolerance, depth - 1) +
           Refine(f, m, b, fm, frm, fb, right, 0.5 * tolerance, depth - 1);
}

// The integral of f over [a, b] to about 1e-10 of itself. The integrands here
// fall steeply towards one end when the absorption is strong, so a fixed grid
// of panels first finds the scale, then each panel is refined.
template <typename F> double Integrate(F f, double a, double b) {
    constexpr int kPanels = 32;
    constexpr double kRelativeTolerance = 1e-10;
    constexpr int kDepth = 40;
    const double h = (b - a) / kPanels;
    double values[2 * kPanels + 1];
    for (int i = 0; i <= 2 * kPanels; ++i)
        values[i] = f(a + 0.5 * h * i);
    double coarse = 0.0;
    for (int p = 0; p < kPanels; ++p)
        coarse += h / 6.0 * (values[2 * p] + 4.0 * values[2 * p + 1] + values[2 * p + 2]);
    const double tolerance = kRelativeTolerance * std::fabs(coarse) / kPanels;
    double sum = 0.0;
    for (int p = 0; p < kPanels; ++p) {
        const double whole = h / 6.0 * (values[2 * p] + 4.0 * values[2 * p + 1] + values[2 * p + 2]);
        sum += Refine(f, a + p * h, a + (p + 1) * h, values[2 * p], values[2 * p + 1], values[2 * p + 2],
                      whole, tolerance, kDepth);
    }
    return sum;
}

// Photons per keV per electron, into all directions, that leave the anode at
// `energy` towards the central ray: k Z / E times the integral over the
// electron energies T from E to E0 of exp(-mu (E0^2 - T^2) / (C sin angle)).
double Continuum(double energy, double e0, double C, double mu, double sinAngle) {
    const double a = mu / (C * sinAngle);
    const double integral =
        Integrate([&](double T) { return std::exp(-a * (e0 - T) * (e0 + T)); }, energy, e0);
    return kKramers * kTungsten * integral / energy;
}

// Share of the K photons made along the electrons' path that leave the anode
// at `energy` towards the central ray.
double LineEscape(double R, double mu, double sinAngle) {
    return Integrate(
        [&](double x) { return 1.5 / R * (1.0 - (x / R) * (x / R)) * std::exp(-mu * x / sinAngle); }, 0.0, R);
}

} // namespace

double ThomsonWhiddingtonConstant(double voltage) {
    std::size_t i = 0;
    while (i + 2 < std::size(kThomsonWhiddington) && voltage > kThomsonWhiddington[i + 1].voltage)
        ++i;
    const TwPoint& a = kThomsonWhiddington[i];
    const TwPoint& b = kThomsonWhiddington[i + 1];
    return a.constant + (voltage - a.voltage) * (b.constant - a.constant) / (b.voltage - a.voltage);
}

std::vector<SpectrumEntry> AnodeSpectrum(const TubeSettings& settings, const Absorber& tungsten) {
    const double e0 = settings.voltage;
    const double C = ThomsonWhiddingtonConstant(e0);
    const double sinAngle = std::sin(settings.anodeAngle * kPi / 180.0);
    const double perSteradian = 1.0 / (4.0 * kPi);
    std::vector<SpectrumEntry> entries;
    const double w = settings.binWidth;
    // Bin i spans [(first + i) w, (first + i + 1) w]; counting bins avoids summing rounding errors.
    const long first = static_cast<long>(std::ceil(kLowestEnergy / w - 1e-9));
    for (long i = first; (i + 1) * w <= e0 * (1.0 + 1e-12); ++i) {
        const double centre = (i + 0.5) * w;
        const double mu = tungsten.MassAttenuation(centre);
        entries.push_back({centre, Continuum(centre, e0, C, mu, sinAngle) * w * perSteradian, ""});
    }
    const double edge = matgen::XrlCall(EdgeEnergy, kTungsten, static_cast<int>(K_SHELL));
    if (e0 <= edge)
        return entries;
    const double photons = kLineYield * std::pow(e0 / edge - 1.0, kLineExponent);
    const double R = (e0 * e0 - edge * edge) / C;
    for (int index = 0; index < static_cast<int>(std::size(kKLineNames)); ++index) {
        const int line = -index - 1;
        const double rate = matgen::XrlOr(0.0, RadRate, kTungsten, line);
        if (rate < kSmallestRate)
            continue;
        const double energy = matgen::XrlCall(LineEnergy, kTungsten, line);
        const double escape = LineEscape(R, tungsten.MassAttenuation(energy), sinAngle);
        entries.push_back(
            {energy, photons * rate * escape * perSteradian, std::string("W ") + kKLineNames[index]});
    }
    return entries;
}

std::vector<std::string> ModelDescription(const TubeSettings& settings) {
    char tw[96];
    std::snprintf(tw, sizeof tw, "  Thomson-Whiddington constant C = %.0f keV^2 cm^2/g at %g keV:",
                  ThomsonWhiddingtonConstant(settings.voltage), settings.voltage);
    return {
        "Model: tungsten anode, constant potential; photons per steradian per electron",
        "  along the central ray.",
        "  Bremsstrahlung: Kramers' law (H. A. Kramers, Phil. Mag. 46 (1923) 836),",
        "  k Z (E0 - E) keV per keV per electron, k = 2.2e-6/keV from the usual thick-target",
        "  efficiency 1.1e-9 Z V (V in volts); made at the depths of the Thomson-Whiddington law",
        "  T^2 = E0^2 - C rho x and self-absorbed over rho x / sin(anode angle) of tungsten",
        "  (R. Birch and M. Marshall, Phys. Med. Biol. 24 (1979) 505).",
        tw,
        "  Birch and Marshall's values for tungsten as tabulated by D. M. Tucker, G. T. Barnes and",
        "  D. P. Chakraborty, Med. Phys. 18 (1991) 402 (linear between 50, 75, 100, 150 and 200 keV,",
        "  extended linearly below 50 keV).",
        "  W K lines: N_K = 1.349e-3 (E0/E_K - 1)^1.648 photons per electron (Tucker et al. 1991),",
        "  made at depths of density (3/2R)(1 - (x/R)^2), R = (E0^2 - E_K^2)/C, self-absorbed alike;",
        "  shared by xraylib 4.0's radiative rates (lines of at least 1%), at xraylib's line",
        "  energies and K edge.",
        "  Attenuation: NIST XCOM (Berger et al., doi:10.18434/T48G6X), coherent scattering included.",
    };
}

} // namespace spectrum

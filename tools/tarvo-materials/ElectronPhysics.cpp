#include "ElectronPhysics.h"

#include "XraylibCall.h"

#include <xraylib.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace matgen {

namespace {

constexpr double kElectronMass = 510.9989695;          // keV
constexpr double kAlpha = 0.0072973525693;
constexpr double kElectronRadius = 2.8179403262e-13;   // cm
constexpr double kAvogadro = 6.02214076e23;
// 2 pi N_A r_e^2 m c^2 in MeV cm^2/mol.
const double kBetheConstant = 2.0 * 3.14159265358979323846 * kAvogadro * kElectronRadius * kElectronRadius *
                              kElectronMass * 1e-3;
constexpr double kTwoLn10 = 4.605170185988091;
// Below this density a material is a gas for the density effect.
constexpr double kGasDensity = 0.01;  // g/cm^3

double Beta2(double T)
{
    const double gamma = 1.0 + T / kElectronMass;
    return 1.0 - 1.0 / (gamma * gamma);
}

// Condensed-phase mean excitation energies of atoms bound in compounds
// (ICRU Report 37, Table 5.1): a few light elements have their own values,
// all others 1.13 times the element's value.
double BoundMeanExcitation(int Z, double elementValue)
{
    switch (Z) {
    case 1: return 19.2;
    case 6: return 81.0;
    case 7: return 82.0;
    case 8: return 106.0;
    case 9: return 112.0;
    case 17: return 180.0;
    default: return 1.13 * elementValue;
    }
}

DensityEffect SternheimerPeierls(double meanI, double zOverA, double rho)
{
    DensityEffect d;
    const double plasma = 28.816 * std::sqrt(rho * zOverA);  // eV
    d.C = 2.0 * std::log(meanI / plasma) + 1.0;
    const double c = d.C;
    if (rho < kGasDensity) {
        d.X1 = c < 12.25 ? 4.0 : 5.0;
        if (c < 10.0) d.X0 = 1.6;
        else if (c < 10.5) d.X0 = 1.7;
        else if (c < 11.0) d.X0 = 1.8;
        else if (c < 11.5) d.X0 = 1.9;
        else if (c < 12.25) d.X0 = 2.0;
        else if (c < 13.804) d.X0 = 2.0;
        else d.X0 = 0.326 * c - 2.5;
    } else if (meanI < 100.0) {
        d.X1 = 2.0;
        d.X0 = c < 3.681 ? 0.2 : 0.326 * c - 1.0;
    } else {
        d.X1 = 3.0;
        d.X0 = c < 5.215 ? 0.2 : 0.326 * c - 1.5;
    }
    d.a = (c - kTwoLn10 * d.X0) / std::pow(d.X1 - d.X0, d.m);
    return d;
}

// Bethe-Heitler bremsstrahlung without screening (Koch and Motz 3BN) as
// k dsigma/dk in units of Z^2 alpha r_e^2; energies in units of m c^2.
double BetheHeitler3BN(double E0, double k)
{
    const double E = E0 - k;
    const double p0 = std::sqrt(E0 * E0 - 1.0), p = std::sqrt(E * E - 1.0);
    const double L = 2.0 * std::log((E0 * E + p0 * p - 1.0) / k);
    const double e0 = std::log((E0 + p0) / (E0 - p0)), e = std::log((E + p) / (E - p));
    const double p02 = p0 * p0, p2 = p * p, p03 = p02 * p0, p3 = p2 * p;
    const double t = 4.0 / 3.0 - 2.0 * E0 * E * (p2 + p02) / (p2 * p02) + e0 * E / p03 + e * E0 / p3 - e * e0 / (p0 * p) +
                     L * (8.0 * E0 * E / (3.0 * p0 * p) + k * k * (E0 * E0 * E * E + p02 * p2) / (p03 * p3) +
                          k / (2.0 * p0 * p) *
                              (e0 * (E0 * E + p02) / p03 - e * (E0 * E + p2) / p3 + 2.0 * k * E0 * E / (p2 * p02)));
    return p / p0 * t;
}

// Elwert's factor: the Coulomb correction of the Born approximation near the
// tip of the spectrum, where the outgoing electron is slow.
double Elwert(double T, double k, int Z)
{
    const double b0 = std::sqrt(Beta2(T)), b = std::sqrt(Beta2(T - k));
    const double a = 2.0 * 3.14159265358979323846 * kAlpha * Z;
    return b0 * -std::expm1(-a / b0) / (b * -std::expm1(-a / b));
}

} // namespace

double DensityEffect::Delta(double X) const
{
    if (X < X0)
        return 0.0;
    const double linear = kTwoLn10 * X - C;
    return X < X1 ? linear + a * std::pow(X1 - X, m) : linear;
}

std::vector<double> ReadMeanExcitationEnergies(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("Could not open file " + path);
    std::vector<double> values(101, 0.0);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        int Z = 0;
        double I = 0.0;
        if (!(fields >> Z >> I) || Z < 1 || Z > 100 || I <= 0.0)
            throw std::runtime_error(path + ": bad line '" + line + "'");
        values[Z] = I;
    }
    return values;
}

ElectronPhysics::ElectronPhysics(const MaterialDefinition& definition, const std::vector<double>& meanExcitation)
{
    double grams = 0.0;
    for (const auto& e : definition.elements)
        grams += e.atoms * XrlCall(AtomicWeight, e.Z);
    // Bragg's rule for ln I, weighted by electrons; atoms in compounds take
    // their condensed-phase values unless the material is a gas.
    const bool bound = definition.elements.size() > 1 && definition.density >= kGasDensity;
    double electrons = 0.0, logI = 0.0;
    for (const auto& e : definition.elements) {
        const double I = meanExcitation.at(e.Z);
        if (!(I > 0.0))
            throw std::runtime_error("no mean excitation energy for Z = " + std::to_string(e.Z));
        elements_.push_back({e.Z, e.atoms / grams * kAvogadro});
        electrons += e.atoms * e.Z;
        logI += e.atoms * e.Z * std::log(bound ? BoundMeanExcitation(e.Z, I) : I);
    }
    zOverA_ = electrons / grams;
    meanI_ = definition.meanExcitation > 0.0 ? definition.meanExcitation : std::exp(logI / electrons);
    density_ = SternheimerPeierls(meanI_, zOverA_, definition.density);
}

double ElectronPhysics::CollisionStoppingPower(double T, bool positron) const
{
    const double tau = T / kElectronMass;
    const double gamma = tau + 1.0;
    const double beta2 = Beta2(T);
    const double ratio = meanI_ * 1e-3 / kElectronMass;
    double f;
    if (positron) {
        const double y = tau + 2.0;
        f = 2.0 * std::log(2.0) - beta2 / 12.0 * (23.0 + 14.0 / y + 10.0 / (y * y) + 4.0 / (y * y * y));
    } else {
        f = 1.0 - beta2 + (tau * tau / 8.0 - (2.0 * tau + 1.0) * std::log(2.0)) / (gamma * gamma);
    }
    const double X = 0.5 * std::log10(tau * (tau + 2.0));
    const double bracket = std::log(tau * tau * (tau + 2.0) / (2.0 * ratio * ratio)) + f - density_.Delta(X);
    return kBetheConstant * zOverA_ / beta2 * bracket;
}

double ElectronPhysics::ScaledBremsstrahlung(double T, double kappa) const
{
    const double E0 = 1.0 + T / kElectronMass;
    double sum = 0.0;
    for (const auto& e : elements_) {
        // The electron-electron term is taken as one more unit of Z, its high-energy value.
        const double z2 = e.Z * (e.Z + 1.0);
        sum += e.atomsPerGram * z2 * BetheHeitler3BN(E0, kappa * T / kElectronMass) * Elwert(T, kappa * T, e.Z);
    }
    return kAlpha * kElectronRadius * kElectronRadius * sum;
}

double ElectronPhysics::RadiativeStoppingPower(double T) const
{
    // Midpoints avoid the end points, where the formula is 0/0; the integrand
    // is smooth enough for the midpoint rule to 1e-4.
    const int n = 400;
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += ScaledBremsstrahlung(T, (i + 0.5) / n);
    return sum / n * T * 1e-3;
}

double ElectronPhysics::TransportCrossSection(double T, int l) const
{
    const double pi = 3.14159265358979323846;
    const double tau = T / kElectronMass;
    const double beta2 = Beta2(T);
    const double beta = std::sqrt(beta2);
    const double bg2 = tau * (tau + 2.0);
    double sum = 0.0;
    for (const auto& e : elements_) {
        const double R = e.Z * (e.Z + 1.0) * kElectronRadius * kElectronRadius / (beta2 * bg2);
        const double az = kAlpha * e.Z;
        const double A = 0.25 * std::pow(kAlpha * std::cbrt(e.Z) / 0.885, 2) / bg2 * (1.13 + 3.76 * az * az / beta2);
        const double lg = std::log1p(1.0 / A);
        // Screened Rutherford, t = 1 - cos theta: 2 pi R / (t + 2A)^2 ...
        double sigma = l == 1 ? 2.0 * pi * R * (lg - 1.0 / (1.0 + A)) : 6.0 * pi * R * ((1.0 + 2.0 * A) * lg - 2.0);
        // ... times McKinley and Feshbach's factor (Phys. Rev. 74 (1948) 1759)
        // 1 - beta^2 x^2 + pi alpha Z beta x (1 - x), x = sin(theta/2), the
        // spin and Coulomb correction of the Mott cross section that makes
        // large angles rarer; its departure from 1 is integrated here with
        // t = 2 x^2, where the integrand is smooth.
        const int n = 4000;
        double correction = 0.0;
        for (int i = 0; i < n; ++i) {
            const double x = (i + 0.5) / n, t = 2.0 * x * x;
            const double weight = l == 1 ? t : 1.5 * t * (2.0 - t);
            const double d = t + 2.0 * A;
            correction += weight * (-beta2 * x * x + pi * az * beta * x * (1.0 - x)) / (d * d) * 4.0 * x;
        }
        sigma += 2.0 * pi * R * correction / n;
        sum += e.atomsPerGram * sigma;
    }
    return sum;
}

std::vector<double> ElectronPhysics::CsdaRanges(const std::vector<double>& grid) const
{
    auto total = [&](double T) { return CollisionStoppingPower(T) + RadiativeStoppingPower(T); };
    // Below the grid's start the stopping power falls roughly like T^-0.8,
    // so the range there is T / (1.8 S).
    std::vector<double> ranges{grid.front() * 1e-3 / (1.8 * total(grid.front()))};
    for (std::size_t i = 1; i < grid.size(); ++i) {
        // Simpson's rule in ln T on each interval.
        const double a = grid[i - 1], b = grid[i], mid = std::sqrt(a * b);
        auto g = [&](double T) { return T * 1e-3 / total(T); };
        ranges.push_back(ranges.back() + std::log(b / a) / 6.0 * (g(a) + 4.0 * g(mid) + g(b)));
    }
    return ranges;
}

std::vector<double> ElectronEnergyGrid(double low, double high, int perDecade)
{
    const int count = static_cast<int>(std::ceil(std::log10(high / low) * perDecade - 1e-9));
    std::vector<double> grid;
    for (int i = 0; i <= count; ++i)
        grid.push_back(low * std::pow(10.0, static_cast<double>(i) / perDecade));
    return grid;
}

} // namespace matgen

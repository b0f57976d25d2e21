#include "interactions/KnockOn.h"

#include "interactions/BasicInteraction.h"
#include "interactions/PhysicsConstants.h"

#include <algorithm>
#include <cmath>

namespace interactions {

namespace {

// 2 pi r_e^2 m c^2 in cm^2 keV.
constexpr double kTwoPiRe2Mc2 = 2.0 * 3.14159265358979323846 * 2.8179403262e-13 * 2.8179403262e-13 * kElectronMass;

struct Kinematics {
    double gamma, beta2;
    explicit Kinematics(double T) : gamma(1.0 + T / kElectronMass), beta2(1.0 - 1.0 / (gamma * gamma)) {}
};

// Moller: dsigma/dx = C/T (1/x^2) F(x), F = 1 + (x/(1-x))^2 - g x/(1-x) + (1-g) x^2.
double MollerShape(double x, double g)
{
    const double r = x / (1.0 - x);
    return 1.0 + r * r - g * r + (1.0 - g) * x * x;
}

// Bhabha: dsigma/dx = C/T (1/(beta^2 x^2)) F(x), F = 1 - beta^2 x (b1 - x (b2 - x (b3 - x b4))).
struct BhabhaCoefficients {
    double b1, b2, b3, b4;
    explicit BhabhaCoefficients(double gamma)
    {
        const double y = 1.0 / (1.0 + gamma), y2 = y * y, y12 = 1.0 - 2.0 * y;
        b1 = 2.0 - y2;
        b2 = y12 * (3.0 + y2);
        b4 = y12 * y12 * y12;
        b3 = b4 + y12 * y12;
    }
    double Shape(double x, double beta2) const { return 1.0 - beta2 * x * (b1 - x * (b2 - x * (b3 - x * b4))); }
};

} // namespace

double TMollerBhabha::Density(double T, double x, bool positron)
{
    const Kinematics k(T);
    if (positron)
        return kTwoPiRe2Mc2 / T * BhabhaCoefficients(k.gamma).Shape(x, k.beta2) / (k.beta2 * x * x);
    const double g = (2.0 * k.gamma - 1.0) / (k.gamma * k.gamma);
    return kTwoPiRe2Mc2 / T * MollerShape(x, g) / (k.beta2 * x * x);
}

double TMollerBhabha::CrossSection(double T, double cut, bool positron)
{
    const double xmax = MaxTransfer(T, positron) / T;
    const double xmin = cut / T;
    if (!(xmin < xmax))
        return 0.0;
    const Kinematics k(T);
    double integral;
    if (positron) {
        const BhabhaCoefficients b(k.gamma);
        integral = (xmax - xmin) * (1.0 / (k.beta2 * xmin * xmax) + b.b2 - 0.5 * b.b3 * (xmin + xmax) +
                                    b.b4 * (xmin * xmin + xmin * xmax + xmax * xmax) / 3.0) -
                   b.b1 * std::log(xmax / xmin);
    } else {
        const double g = (2.0 * k.gamma - 1.0) / (k.gamma * k.gamma);
        integral = ((xmax - xmin) * (1.0 - g + 1.0 / (xmin * xmax) + 1.0 / ((1.0 - xmin) * (1.0 - xmax))) -
                    g * std::log(xmax * (1.0 - xmin) / (xmin * (1.0 - xmax)))) /
                   k.beta2;
    }
    return kTwoPiRe2Mc2 / T * integral;
}

double TMollerBhabha::SampleEnergyTransfer(double T, double cut, bool positron, TRandomNumbersGenerator& rng)
{
    // x from 1/x^2 on [xmin, xmax], kept with probability F(x)/max F: the
    // Moller F is convex (its largest value at an end), the Bhabha F at most 1.
    const double xmax = MaxTransfer(T, positron) / T;
    const double xmin = cut / T;
    const Kinematics k(T);
    const double g = (2.0 * k.gamma - 1.0) / (k.gamma * k.gamma);
    const BhabhaCoefficients b(k.gamma);
    const double bound = positron ? 1.0 : std::max(MollerShape(xmin, g), MollerShape(xmax, g));
    double u[2];
    for (;;) {
        rng.Generate(u, 2);
        const double x = xmin * xmax / (xmin * (1.0 - u[0]) + xmax * u[0]);
        const double f = positron ? b.Shape(x, k.beta2) : MollerShape(x, g);
        if (u[1] * bound <= f)
            return x * T;
    }
}

double TMollerBhabha::DeltaCosTheta(double T, double W)
{
    return std::min(1.0, std::sqrt(W * (T + 2.0 * kElectronMass) / (T * (W + 2.0 * kElectronMass))));
}

double TMollerBhabha::PrimaryCosTheta(double T, double W)
{
    const double rest = T - W;
    return std::min(1.0, std::sqrt(rest * (T + 2.0 * kElectronMass) / (T * (rest + 2.0 * kElectronMass))));
}

} // namespace interactions

#pragma once

#include "materials/ScatterData.h"

#include <cstddef>
#include <vector>

namespace materials {

// Exact inverse distribution of the total Rayleigh density F(x)^2 (1 + mu^2)
// at any energy, from one energy-independent table per material.
//
// With t = x^2 = t_max (1 - mu) / 2 and a = 1 / (2 C^2 E^2), mu = 1 - a t, the
// density in t is F^2(t) (2 - 2 a t + a^2 t^2), so its cumulative from the
// forward direction is W(t) = 2 P0(t) - 2 a P1(t) + a^2 P2(t) with the moments
// Pk(t) = integral of F^2 t'^k over [0, t]. Those are tabulated once, with F^2
// linear in t between nodes 1% apart in x, and integrated exactly; the energy
// only enters through a and the cut t_max = 4 C^2 E^2.
class TFormFactorIntegral {
public:
    void Build(const TScatterData& formFactor);
    bool IsBuilt() const { return !t_.empty(); }

    // Integral of F^2 (1 + mu^2) over mu in [-1, 1].
    double Integral(double energy) const;
    // The mu at which the distribution function (from mu = -1) reaches u;
    // -1 for u <= 0, +1 for u >= 1.
    double CosTheta(double u, double energy) const;
    // values[j] = CosTheta(j / count, energy), j = 0 .. count - 1, in one sweep.
    void FillTable(double energy, double* values, std::size_t count) const;

private:
    struct Scale {
        double a;     // 1 / (2 C^2 E^2)
        double tMax;  // 2 / a
        double total;  // W(tMax)
        std::size_t lastNode;  // node at or below tMax
    };
    std::vector<double> t_, density_;  // nodes and F^2 there
    std::vector<double> p0_, p1_, p2_;  // moments up to each node

    Scale ScaleAt(double energy) const;
    double NodeW(std::size_t i, double a) const { return 2.0 * p0_[i] - 2.0 * a * p1_[i] + a * a * p2_[i]; }
    // d(F^2)/dt above node i (0 beyond the last node).
    double Slope(std::size_t i) const
    {
        return i + 1 < t_.size() ? (density_[i + 1] - density_[i]) / (t_[i + 1] - t_[i]) : 0.0;
    }
    // W at t_i + s, within the interval above node i (beyond the last node F^2 stays constant).
    double W(std::size_t i, double s, double a) const;
    // t in the interval above node i (W(i) <= target <= W(i + 1)) with W(t) = target.
    double Solve(std::size_t i, double target, const Scale& scale) const;
    double MuOf(double t, const Scale& scale) const;
};

} // namespace materials

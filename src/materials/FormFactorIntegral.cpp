#include "materials/FormFactorIntegral.h"

#include "materials/AngularDensities.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace materials {

namespace {

constexpr double kFirstX = 1e-4;      // 1/Angstrom: below it F is flat at every energy Tarvo tracks
constexpr double kNodeRatio = 1.01;   // in x: F^2 is linear in t between nodes to about 1e-5

struct Moments {
    double m0, m1, m2;
};

// Integrals of (d + g s) (ti + s)^k over s in [0, s], k = 0, 1, 2.
Moments Increments(double ti, double d, double g, double s)
{
    const double s2 = s * s, s3 = s2 * s;
    return {d * s + g * s2 / 2.0, d * (ti * s + s2 / 2.0) + g * (ti * s2 / 2.0 + s3 / 3.0),
            d * (ti * ti * s + ti * s2 + s3 / 3.0) +
                g * (ti * ti * s2 / 2.0 + 2.0 * ti * s3 / 3.0 + s2 * s2 / 4.0)};
}

} // namespace

void TFormFactorIntegral::Build(const TScatterData& formFactor)
{
    t_.assign(1, 0.0);
    const double lastX = std::max(formFactor.LastX(), kFirstX);
    for (double x = kFirstX; x < lastX * kNodeRatio; x *= kNodeRatio)
        t_.push_back(x * x);
    density_.resize(t_.size());
    for (std::size_t i = 0; i < t_.size(); ++i) {
        const double f = formFactor.Evaluate(std::sqrt(t_[i]));
        density_[i] = f * f;
    }
    p0_.assign(t_.size(), 0.0);
    p1_.assign(t_.size(), 0.0);
    p2_.assign(t_.size(), 0.0);
    for (std::size_t i = 0; i + 1 < t_.size(); ++i) {
        const double s = t_[i + 1] - t_[i];
        const Moments m = Increments(t_[i], density_[i], (density_[i + 1] - density_[i]) / s, s);
        p0_[i + 1] = p0_[i] + m.m0;
        p1_[i + 1] = p1_[i] + m.m1;
        p2_[i + 1] = p2_[i] + m.m2;
    }
}

double TFormFactorIntegral::W(std::size_t i, double s, double a) const
{
    const Moments m = Increments(t_[i], density_[i], Slope(i), s);
    return NodeW(i, a) + 2.0 * m.m0 - 2.0 * a * m.m1 + a * a * m.m2;
}

TFormFactorIntegral::Scale TFormFactorIntegral::ScaleAt(double energy) const
{
    Scale scale;
    const double c = kMomentumTransferFactor * energy;
    scale.a = 1.0 / (2.0 * c * c);
    scale.tMax = 4.0 * c * c;
    const auto above = std::upper_bound(t_.begin(), t_.end(), scale.tMax);
    scale.lastNode = static_cast<std::size_t>(above - t_.begin()) - 1;
    scale.total = W(scale.lastNode, scale.tMax - t_[scale.lastNode], scale.a);
    return scale;
}

double TFormFactorIntegral::MuOf(double t, const Scale& scale) const
{
    return std::min(1.0, std::max(-1.0, 1.0 - scale.a * t));
}

double TFormFactorIntegral::Solve(std::size_t i, double target, const Scale& scale) const
{
    const double a = scale.a, ti = t_[i], d = density_[i], g = Slope(i);
    const double top = i < scale.lastNode ? t_[i + 1] : scale.tMax;
    const double wLow = NodeW(i, a);
    const double wHigh = i < scale.lastNode ? NodeW(i + 1, a) : scale.total;
    double lo = 0.0, hi = top - ti;
    if (!(wHigh > wLow))
        return ti;
    // Newton from the linear guess, kept inside the bracket: W is a smooth
    // quartic in s there, so two or three steps reach a billionth of the
    // interval, far below any effect on the angle.
    const double tolerance = 1e-9 * hi;
    double s = (target - wLow) / (wHigh - wLow) * hi;
    for (int iteration = 0; iteration < 50; ++iteration) {
        const double f = W(i, s, a) - target;
        if (f > 0.0)
            hi = s;
        else
            lo = s;
        const double t = ti + s;
        const double slope = (d + g * s) * (2.0 - 2.0 * a * t + a * a * t * t);
        double next = slope > 0.0 ? s - f / slope : 0.5 * (lo + hi);
        if (!(next >= lo && next <= hi))
            next = 0.5 * (lo + hi);
        if (std::fabs(next - s) <= tolerance || hi - lo <= tolerance)
            return ti + next;
        s = next;
    }
    return ti + s;
}

double TFormFactorIntegral::Integral(double energy) const
{
    const Scale scale = ScaleAt(energy);
    return scale.a * scale.total;
}

double TFormFactorIntegral::CosTheta(double u, double energy) const
{
    if (u <= 0.0)
        return -1.0;
    if (u >= 1.0)
        return 1.0;
    if (!(energy > 0.0))
        return ThomsonCosTheta(u);
    const Scale scale = ScaleAt(energy);
    const double target = (1.0 - u) * scale.total;
    // Last node whose W does not exceed the target.
    std::size_t lo = 0, hi = scale.lastNode + 1;
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (NodeW(mid, scale.a) <= target)
            lo = mid;
        else
            hi = mid;
    }
    return MuOf(Solve(lo, target, scale), scale);
}

void TFormFactorIntegral::FillTable(double energy, double* values, std::size_t count) const
{
    if (!IsBuilt())
        throw std::runtime_error("Angular distribution without weight");
    const Scale scale = ScaleAt(energy);
    std::size_t node = scale.lastNode;
    for (std::size_t j = 0; j < count; ++j) {
        if (j == 0) {
            values[j] = -1.0;
            continue;
        }
        const double target = (1.0 - static_cast<double>(j) / static_cast<double>(count)) * scale.total;
        while (node > 0 && NodeW(node, scale.a) > target)
            --node;
        values[j] = MuOf(Solve(node, target, scale), scale);
    }
}

} // namespace materials

#pragma once

// Statistical checks shared by the sampler tests. Every check is two-sided
// at roughly 1e-4 false-alarm probability, so fixed seeds stay stable when
// the code changes its draw order.

#include "random/RandomNumbersGenerator.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace stats {

inline std::unique_ptr<TRandomNumbersGenerator> MakeGenerator(std::uint32_t seed) {
    auto g = CreateGenerator(PRNG_Type::MT19937_64);
    g->SetSeed(seed);
    return g;
}

// Integral of f over [a, b] by 20-point Gauss-Legendre on `pieces` equal pieces.
inline double GaussIntegral(const std::function<double(double)>& f, double a, double b, int pieces = 4) {
    static const double x[10] = {
        0.0765265211334973, 0.2277858511416451, 0.3737060887154195, 0.5108670019508271, 0.6360536807265150,
        0.7463319064601508, 0.8391169718222188, 0.9122344282513259, 0.9639719272779138, 0.9931285991850949};
    static const double w[10] = {
        0.1527533871307258, 0.1491729864726037, 0.1420961093183820, 0.1316886384491766, 0.1181945319615184,
        0.1019301198172404, 0.0832767415767048, 0.0626720483341091, 0.0406014298003869, 0.0176140071391521};
    double sum = 0;
    const double h = (b - a) / pieces;
    for (int p = 0; p < pieces; ++p) {
        const double c = a + (p + 0.5) * h;
        const double r = 0.5 * h;
        for (int i = 0; i < 10; ++i)
            sum += w[i] * r * (f(c - r * x[i]) + f(c + r * x[i]));
    }
    return sum;
}

struct ChiSquare {
    double value = 0;
    int dof = 0;
    // Normal approximation of the chi-square distribution, 4.5 sigma.
    bool Passes() const { return dof > 0 && (value - dof) / std::sqrt(2.0 * dof) < 4.5; }
    std::string Text() const { return "chi2 " + std::to_string(value) + " dof " + std::to_string(dof); }
};

// Counts against expected counts; neighbouring bins are pooled until each
// pooled bin expects at least 5.
inline ChiSquare ChiSquareTest(const std::vector<double>& counts, const std::vector<double>& expected,
                               int fittedParameters = 1) {
    ChiSquare r;
    double c = 0, e = 0;
    int bins = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        c += counts[i];
        e += expected[i];
        if (e >= 5 || i + 1 == counts.size()) {
            if (e > 0) {
                r.value += (c - e) * (c - e) / e;
                ++bins;
            } else if (c > 0) {
                r.value += 1e300;
            }
            c = e = 0;
        }
    }
    r.dof = bins - fittedParameters;
    return r;
}

// Samples on [lo, hi] against a density (any normalisation) integrated per bin.
inline ChiSquare ChiSquareAgainstDensity(const std::vector<double>& samples, double lo, double hi,
                                         int binCount, const std::function<double(double)>& density) {
    std::vector<double> counts(binCount, 0.0), expected(binCount, 0.0);
    const double width = (hi - lo) / binCount;
    for (double s : samples) {
        auto b = static_cast<int>((s - lo) / width);
        counts[std::min(binCount - 1, std::max(0, b))] += 1;
    }
    double total = 0;
    for (int b = 0; b < binCount; ++b) {
        expected[b] = GaussIntegral(density, lo + b * width, lo + (b + 1) * width);
        total += expected[b];
    }
    for (double& e : expected)
        e *= samples.size() / total;
    return ChiSquareTest(counts, expected);
}

// Samples on [lo, hi] against a density in bins of equal expected count
// (edges at the quantiles of the density, found on a fine grid), so that
// sharply peaked densities are tested where their mass is.
inline ChiSquare ChiSquareEquiprobable(std::vector<double> samples, double lo, double hi, int binCount,
                                       const std::function<double(double)>& density, int fineSteps = 4000) {
    std::vector<double> x(fineSteps + 1), cdf(fineSteps + 1, 0.0);
    const double step = (hi - lo) / fineSteps;
    for (int i = 0; i <= fineSteps; ++i)
        x[i] = lo + i * step;
    for (int i = 1; i <= fineSteps; ++i)
        cdf[i] = cdf[i - 1] + GaussIntegral(density, x[i - 1], x[i], 1);
    const double total = cdf.back();
    std::vector<double> edges = {lo};
    int k = 0;
    for (int b = 1; b < binCount; ++b) {
        const double target = total * b / binCount;
        while (cdf[k + 1] < target)
            ++k;
        const double f = (target - cdf[k]) / (cdf[k + 1] - cdf[k]);
        edges.push_back(x[k] + f * step);
    }
    edges.push_back(hi);
    std::sort(samples.begin(), samples.end());
    std::vector<double> counts(binCount), expected(binCount);
    for (int b = 0; b < binCount; ++b) {
        const auto first = std::lower_bound(samples.begin(), samples.end(), edges[b]);
        const auto last = b + 1 == binCount ? samples.end()
                                            : std::lower_bound(samples.begin(), samples.end(), edges[b + 1]);
        counts[b] = double(last - first);
        // Integrated again between the edges rather than taken as total / bins.
        const int i0 = int((edges[b] - lo) / step), i1 = std::min(fineSteps, int((edges[b + 1] - lo) / step));
        double mass = 0;
        if (i0 == i1) {
            mass = GaussIntegral(density, edges[b], edges[b + 1], 1);
        } else {
            mass = GaussIntegral(density, edges[b], x[i0 + 1], 1) + (cdf[i1] - cdf[i0 + 1]) +
                   (i1 < fineSteps ? GaussIntegral(density, x[i1], edges[b + 1], 1) : 0.0);
        }
        expected[b] = mass / total * samples.size();
    }
    return ChiSquareTest(counts, expected);
}

// |mean - expected| within 5 standard errors.
inline bool MeanAgrees(double sum, double sumSquares, std::size_t n, double expected) {
    const double mean = sum / n;
    const double variance = std::max(sumSquares / n - mean * mean, 1e-300);
    return std::fabs(mean - expected) < 5.0 * std::sqrt(variance / n);
}

// A count out of n trials against probability p, within 5 standard deviations.
inline bool CountAgrees(double count, double n, double p) {
    return std::fabs(count - n * p) < 5.0 * std::sqrt(n * p * (1 - p)) + 1e-9;
}

} // namespace stats
